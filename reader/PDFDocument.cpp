#include "PDFDocument.h"

namespace vellumtag {

PDFResult PDFDocument::load(const std::filesystem::path &path) {
    _values.clear();
    if (!_file.open(path) || !_file.isOpen())
        return PDFResult::FileNotReadable;
    // ISO 32000-1, 7.5.2: the header begins at the first byte of the file.
    if (!_file.startsWith("%PDF-"))
        return PDFResult::NotPdf;
    const std::uint64_t xrefOffset = _file.findXrefOffset();
    if (xrefOffset == UINT64_MAX)
        return PDFResult::XrefNotFound;
    return collectMetadata(xrefOffset);
}

PDFResult PDFDocument::collectMetadata(std::uint64_t xrefOffset) {
    static_cast<void>(xrefOffset);
    _file.close();
    return PDFResult::Ok;
}

} // namespace vellumtag
