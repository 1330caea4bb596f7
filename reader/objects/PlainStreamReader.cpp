#include "objects/PlainStreamReader.h"

#include <cstdint>

#include "objects/PDFObject.h"
#include "xref/PDFXrefStreamObject.h"

namespace vellumtag {

PDFResult PlainStreamReader::readStreamObject(MemoryParser &parser, PDFDictionary &dictionary,
                                              Bytes &data) {
    PDFObject object;
    bool stream = false;
    PDFResult result =
        object.readStored({parser, nullptr, nullptr, &_budget}, PDFObject::kAtCursor, stream);
    if (result == PDFResult::Ok && stream) {
        // A foreseen size beyond the address space (of a 32-bit build) is no size to expect.
        const std::uint64_t foreseen = PDFXrefStreamObject::decodedSize(object._dictionary);
        result =
            object.decode(&_budget, foreseen <= SIZE_MAX ? static_cast<std::size_t>(foreseen) : 0);
    }
    if (result != PDFResult::Ok)
        return result;
    dictionary = std::move(object._dictionary);
    data = std::move(object._data);
    return PDFResult::Ok;
}

} // namespace vellumtag
