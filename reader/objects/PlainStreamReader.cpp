#include "objects/PlainStreamReader.h"

#include "objects/PDFObject.h"

namespace vellumtag {

PDFResult PlainStreamReader::readStreamObject(MemoryParser &parser, PDFDictionary &dictionary,
                                              Bytes &data) {
    PDFObject object;
    const PDFResult result =
        object.read({parser, nullptr, nullptr, &_budget}, PDFObject::kAtCursor);
    if (result != PDFResult::Ok)
        return result;
    dictionary = std::move(object._dictionary);
    data = std::move(object._data);
    return PDFResult::Ok;
}

} // namespace vellumtag
