#include "PDFDocument.h"

namespace vellumtag {

PDFResult PDFDocument::load(const std::filesystem::path &path) {
    _values.clear();
    if (!_file.open(path) || !_file.isOpen())
        return PDFResult::FileNotReadable;
    return loadOpened();
}

PDFResult PDFDocument::load(std::span<const std::uint8_t> bytes) {
    _values.clear();
    _file.close();
    _file.attach(bytes.data(), bytes.size());
    if (!_file.isOpen())
        return PDFResult::FileNotReadable;
    return loadOpened();
}

PDFResult
PDFDocument::loadOpened() { // ISO 32000-1, 7.5.2: the header begins at the first byte of the file.
    if (!_file.startsWith("%PDF-"))
        return PDFResult::NotPdf;
    const std::uint64_t xrefOffset = _file.findXrefOffset();
    if (xrefOffset == UINT64_MAX)
        return PDFResult::XrefNotFound;
    return collectMetadata(xrefOffset);
}

PDFResult PDFDocument::collectMetadata(std::uint64_t xrefOffset) {
    // Follow /Prev only until a trailer names the catalog or the information dictionary;
    // older sections are read later, on demand, by findObjectOffset.
    std::int64_t offset = static_cast<std::int64_t>(xrefOffset);
    do {
        _xref._file = &_file;
        const PDFResult result = _xref.readSection(static_cast<std::uint64_t>(offset));
        if (result != PDFResult::Ok)
            return result;
        offset = _xref._prevOffset;
    } while (offset != -1 && _xref._rootObject == -1 && _xref._infoObject == -1);

    // Metadata that cannot be read is missing, never a failure of the load. The XMP values
    // go in first, so that the information dictionary's entries replace them.
    if (_xref._rootObject != -1)
        static_cast<void>(readCatalog(static_cast<std::uint32_t>(_xref._rootObject)));
    PDFInfoObject info(&_xref);
    if (readInfoObject(_xref._infoObject, info))
        _values.merge(info._values);
    PDFInfoObject pages(&_xref);
    if (readInfoObject(_pagesObject, pages)) {
        std::u16string count = pages._values.getString("Count", u"");
        if (!count.empty())
            _values.insert("PageCount", PDFValue{std::move(count), false});
    }

    _file.close();
    for (auto &[key, value] : _values) {
        if (!value.isReference)
            trimText(value.text);
    }
    return PDFResult::Ok;
}

PDFResult PDFDocument::readCatalog(std::uint32_t number) {
    PDFObject catalog(&_xref);
    const PDFResult result = _xref.readObject(number, catalog);
    if (result != PDFResult::Ok)
        return result;

    if (catalog._dictionary.contains("Metadata")) {
        PDFInfoObject metadata(&_xref);
        if (readInfoObject(catalog._dictionary.getInt("Metadata", 0), metadata))
            _values.merge(metadata._values);
    }
    _pagesObject = catalog._dictionary.getInt("Pages", -1);
    return PDFResult::Ok;
}

bool PDFDocument::readInfoObject(std::int64_t number, PDFInfoObject &object) {
    if (number < 0 || number > UINT32_MAX)
        return false;
    return _xref.readObject(static_cast<std::uint32_t>(number), object) == PDFResult::Ok;
}

} // namespace vellumtag
