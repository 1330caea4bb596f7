#include "objects/PlainStreamReader.h"

#include "objects/PDFObject.h"
#include "xref/PDFXrefStreamObject.h"

namespace vellumtag {

PDFResult PlainStreamReader::readStreamObject(MemoryParser &parser, PDFDictionary &dictionary,
                                              Bytes &data) {
    PDFObject object;
    bool stream = false;
    PDFResult result =
        object.readStored({parser, nullptr, nullptr, &_budget}, PDFObject::kAtCursor, stream);
    if (result == PDFResult::Ok && stream)
        result = object.decode(&_budget, PDFXrefStreamObject::decodedSize(object._dictionary));
    if (result != PDFResult::Ok)
        return result;
    dictionary = std::move(object._dictionary);
    data = std::move(object._data);
    return PDFResult::Ok;
}

} // namespace vellumtag
