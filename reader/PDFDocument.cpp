#include "PDFDocument.h"

#include <memory>

#include "metadata/PDFInfoObject.h"
#include "objects/ObjectReader.h"
#include "objects/PlainStreamReader.h"
#include "objects/StreamBudget.h"
#include "security/PDFEncryptionDictionary.h"
#include "syntax/ChunkedFile.h"
#include "syntax/MemoryFile.h"
#include "syntax/MemoryParser.h"
#include "syntax/MemorySource.h"
#include "syntax/PDFNames.h"
#include "syntax/TextEncoding.h"
#include "xref/PDFXrefTable.h"

namespace vellumtag {

namespace {

// The security handler of the newest trailer's /Encrypt (ISO 32000-1, 7.6.1), set up once: none
// when there is no /Encrypt, when its object cannot be located, or when /EncryptMetadata false
// leaves nothing the reader reads encrypted.
PDFResult setUpSecurity(MemoryParser &parser, PDFXrefTable &xref,
                        std::unique_ptr<PDFEncryptionDictionary> &security) {
    const std::int32_t number = xref.trailer().getInt(names::kEncrypt, -1);
    if (number == -1)
        return PDFResult::Ok;
    // Locating the object may read older sections, and with them change the trailer: /ID is
    // taken after.
    const std::int64_t offset = xref.findObjectOffset(static_cast<std::uint32_t>(number));
    if (offset == PDFXrefTable::kUnknown)
        return PDFResult::Ok;
    auto handler =
        std::make_unique<PDFEncryptionDictionary>(xref.trailer().getString(names::kId, u""));
    const PDFResult result = handler->load(parser, static_cast<std::uint64_t>(offset));
    if (result != PDFResult::Ok)
        return result;
    if (!handler->_ready)
        return PDFResult::EncryptionUnsupported;
    if (handler->_encryptMetadata)
        security = std::move(handler);
    return PDFResult::Ok;
}

// Reads the object as metadata; false when it is unknown or unreadable.
bool readInfoObject(ObjectReader &objects, std::int64_t number, PDFInfoObject &object) {
    if (number < 0 || number > UINT32_MAX)
        return false;
    return object.read(objects, static_cast<std::uint32_t>(number)) == PDFResult::Ok;
}

} // namespace

PDFResult PDFDocument::load(const std::filesystem::path &path) {
    {
        MemoryFile mapped;
        if (mapped.open(path))
            return load(mapped);
    }
    // Every guarded mapping may be taken, or the file may lie where it cannot be mapped.
    ChunkedFile chunked;
    if (chunked.open(path))
        return load(chunked);
    _values.clear();
    return PDFResult::FileNotReadable;
}

PDFResult PDFDocument::load(std::span<const std::uint8_t> bytes) {
    MemorySource source(bytes);
    return load(source);
}

PDFResult PDFDocument::load(ByteSource &source) {
    _values.clear();
    MemoryParser parser(source);
    if (!parser.isOpen())
        return PDFResult::FileNotReadable;
    PDFResult result = PDFResult::NotPdf;
    // ISO 32000-1, 7.5.2: the header begins at the first byte of the file.
    if (parser.startsWith(names::kHeader)) {
        const std::uint64_t xrefOffset = parser.findXrefOffset();
        result = xrefOffset == UINT64_MAX ? PDFResult::XrefNotFound
                                          : collectMetadata(parser, xrefOffset);
    }
    // Zeros that stood in for bytes the file no longer had may have been read as anything.
    if (source.failed()) {
        _values.clear();
        return PDFResult::FileNotReadable;
    }
    return result;
}

PDFResult PDFDocument::collectMetadata(MemoryParser &parser, std::uint64_t xrefOffset) {
    StreamBudget budget;
    PlainStreamReader plainStreams(budget);
    PDFXrefTable xref(parser, plainStreams);

    PDFResult result = xref.readSection(xrefOffset);
    if (result != PDFResult::Ok)
        return result;
    std::unique_ptr<PDFEncryptionDictionary> security;
    result = setUpSecurity(parser, xref, security);
    if (result != PDFResult::Ok)
        return result;
    // Follow /Prev only until a trailer names the catalog or the information dictionary;
    // older sections are read later, on demand, when an object is looked up.
    for (std::int64_t offset = xref.prevOffset();
         offset != -1 && xref.rootObject() == -1 && xref.infoObject() == -1;
         offset = xref.prevOffset()) {
        result = xref.readSection(static_cast<std::uint64_t>(offset));
        if (result != PDFResult::Ok)
            return result;
    }

    // Metadata that cannot be read is missing, never a failure of the load. The XMP values
    // go in first, so that the information dictionary's entries replace them.
    ObjectReader objects({parser, &xref, security.get(), &budget});
    std::int32_t pagesObject = -1;
    if (xref.rootObject() != -1)
        pagesObject = readCatalog(objects, static_cast<std::uint32_t>(xref.rootObject()));
    PDFInfoObject info;
    if (readInfoObject(objects, xref.infoObject(), info))
        _values.merge(info._values);
    PDFInfoObject pages;
    if (readInfoObject(objects, pagesObject, pages)) {
        std::u16string count = pages._values.getString(names::kCount, u"");
        if (!count.empty())
            _values.insert(std::string(names::kPageCount), PDFValue{std::move(count), false});
    }

    for (auto &[key, value] : _values) {
        if (!value.isReference)
            trimText(value.text);
    }
    return PDFResult::Ok;
}

std::int32_t PDFDocument::readCatalog(ObjectReader &objects, std::uint32_t number) {
    PDFObject catalog;
    if (objects.readObject(number, catalog) != PDFResult::Ok)
        return -1;
    if (catalog._dictionary.contains(names::kMetadata)) {
        PDFInfoObject metadata;
        if (readInfoObject(objects, catalog._dictionary.getInt(names::kMetadata, 0), metadata))
            _values.merge(metadata._values);
    }
    return catalog._dictionary.getInt(names::kPages, -1);
}

} // namespace vellumtag
