#include "PDFDocument.h"

#include <algorithm>
#include <memory>

#include "metadata/PDFFactsReader.h"
#include "metadata/PDFInfoObject.h"
#include "metadata/PDFPageTree.h"
#include "metadata/XmpPacket.h"
#include "objects/ObjectReader.h"
#include "objects/PlainStreamReader.h"
#include "objects/StreamBudget.h"
#include "security/PDFEncryptionDictionary.h"
#include "syntax/ChunkedFile.h"
#include "syntax/Limits.h"
#include "syntax/MemoryParser.h"
#include "syntax/MemorySource.h"
#include "syntax/PDFNames.h"
#include "syntax/TextEncoding.h"
#include "xref/PDFXrefTable.h"
#include "xref/XrefRecovery.h"

namespace vellumtag {

namespace {

// Folds the dictionary that entry `key` refers to in under "key.", in place of the reference:
// any value may be an indirect object (ISO 32000-1, 7.3.10), a crypt filter dictionary too.
void foldReferenced(ObjectReader &objects, PDFDictionary &entries, const std::string &key) {
    const std::optional<std::uint32_t> number = entries.getReference(key);
    PDFObject object;
    if (number && objects.readObject(*number, object) == PDFResult::Ok &&
        !object._dictionary.empty())
        entries.setNested(key, object._dictionary);
}

// The security handler of the newest trailer's /Encrypt (ISO 32000-1, 7.6.1), set up once: none
// when there is no /Encrypt or its object is not listed. An /Encrypt written in place in the
// trailer is read as it stands; one listed but unreadable is 108.
PDFResult setUpSecurity(MemoryParser &parser, PDFXrefTable &xref, StreamBudget &budget,
                        std::unique_ptr<PDFEncryptionDictionary> &security) {
    const PDFDictionary &trailer = xref.trailer();
    PDFDictionary entries;
    // The encryption dictionary's strings are never encrypted (7.6.1).
    ObjectReader plain({parser, &xref, nullptr, &budget});
    if (trailer.hasNested(names::kEncrypt)) {
        entries = trailer.nested(names::kEncrypt);
    } else {
        const std::optional<std::uint32_t> number = trailer.getReference(names::kEncrypt);
        if (!number)
            return PDFResult::Ok;
        // Locating the object may read older sections, and with them change the trailer: /ID
        // is taken after.
        if (!xref.findEntry(*number))
            return PDFResult::Ok;
        PDFObject object;
        if (plain.readObject(*number, object) != PDFResult::Ok || object._dictionary.empty())
            return PDFResult::DictionaryUnreadable;
        entries = std::move(object._dictionary);
    }
    foldReferenced(plain, entries, std::string(names::kCF));
    for (const auto &[key, value] : entries.nested(names::kCF)) {
        if (value.isReference && key.find('.') == std::string::npos)
            foldReferenced(plain, entries, std::string(names::kCF) + '.' + key);
    }
    const PDFValue *id = xref.trailer().find(names::kId);
    auto handler = id != nullptr ? std::make_unique<PDFEncryptionDictionary>(*id)
                                 : std::make_unique<PDFEncryptionDictionary>();
    const PDFResult result = handler->load(entries);
    if (result != PDFResult::Ok || !handler->_ready)
        return PDFResult::EncryptionUnsupported;
    security = std::move(handler);
    return PDFResult::Ok;
}

// Reads the section at the offset and, when its trailer names an /Encrypt, sets up decryption;
// then follows /Prev only until a trailer names the catalog or the information dictionary.
// Older sections are read later, on demand, when an object is looked up.
PDFResult readCrossReference(MemoryParser &parser, PDFXrefTable &xref, std::uint64_t offset,
                             StreamBudget &budget,
                             std::unique_ptr<PDFEncryptionDictionary> &security) {
    PDFResult result = xref.readSection(offset);
    if (result != PDFResult::Ok)
        return result;
    result = setUpSecurity(parser, xref, budget, security);
    if (result != PDFResult::Ok)
        return result;
    for (std::int64_t prev = xref.prevOffset();
         prev != -1 && xref.rootObject() == -1 && xref.infoObject() == -1;
         prev = xref.prevOffset()) {
        result = xref.readSection(static_cast<std::uint64_t>(prev));
        if (result != PDFResult::Ok)
            return result;
    }
    return PDFResult::Ok;
}

// The failures of reading cross-reference data that a scan of the file may get past: no
// section where startxref or /Prev points (or too many of them), an offset beyond the data,
// something else there, a cross-reference stream that cannot be inflated or parsed. Never 106.
bool recoverable(PDFResult result) {
    switch (result) {
    case PDFResult::XrefNotFound:
    case PDFResult::BadValue:
    case PDFResult::Unspecified:
    case PDFResult::DecompressionFailed:
    case PDFResult::DictionaryUnreadable:
        return true;
    default:
        return false;
    }
}

// Reads the object as metadata; false when it is unknown or unreadable.
bool readInfoObject(ObjectReader &objects, std::int64_t number, PDFInfoObject &object) {
    if (number < 0 || number > UINT32_MAX)
        return false;
    return object.read(objects, static_cast<std::uint32_t>(number)) == PDFResult::Ok;
}

// The object that a rebuilt trailer's entry refers to; -1 for anything but a reference.
std::int32_t referencedObject(const PDFDictionary &trailer, std::string_view key) {
    const std::optional<std::uint32_t> number = trailer.getReference(key);
    return number && *number <= INT32_MAX ? static_cast<std::int32_t>(*number) : -1;
}

} // namespace

PDFResult PDFDocument::load(const std::filesystem::path &path) {
    // Read by chunks, not mapped: a load touches a few chunks at both ends of the file, and
    // pread costs less than setting up and tearing down a mapping, all the more with loads
    // on several threads, where every unmapping interrupts the others (TLB shootdown).
    ChunkedFile chunked;
    if (chunked.open(path))
        return load(chunked);
    _values.clear();
    _recovered = false;
    return PDFResult::FileNotReadable;
}

PDFResult PDFDocument::load(std::span<const std::uint8_t> bytes) {
    MemorySource source(bytes);
    return load(source);
}

PDFResult PDFDocument::load(ByteSource &source) {
    _values.clear();
    _recovered = false;
    _headerMissing = false;
    _facts = {};
    _xmpProperties.clear();
    _headerVersion.reset();
    MemoryParser parser(source);
    if (!parser.isOpen())
        return PDFResult::FileNotReadable;
    // ISO 32000-1, 7.5.2: the header begins at the first byte of the file. Viewers also take
    // one that a preamble pushed back.
    std::uint64_t header = parser.startsWith(names::kHeader) ? 0 : parser.size();
    if (header != 0 && !_strict)
        header = parser.findHeader(limits::kHeaderWindow);
    PDFResult result = PDFResult::NotPdf;
    if (header < parser.size()) {
        // Read while the file's first bytes are at hand, before the reading moves to its end.
        std::optional<bool> linearized;
        if (_details) {
            _headerVersion = PDFFactsReader::headerVersion(parser, header);
            linearized = PDFFactsReader::linearized(parser, header);
        }
        result = collectMetadata(parser, header, true);
        _facts.linearized = linearized;
    } else if (!_strict) {
        // No "%PDF-" (a header without its version, a byte of it replaced, or none at all):
        // viewers still read a file whose cross-reference data lead to its catalog. Only then
        // is it taken for a PDF, so that no other file is ever scanned as one.
        _catalogRead = false;
        result = collectMetadata(parser, 0, false);
        _headerMissing = result == PDFResult::Ok && _catalogRead;
        if (!_headerMissing)
            result = PDFResult::NotPdf;
    }
    // Zeros that stood in for bytes the file no longer had may have been read as anything.
    if (source.failed()) {
        _values.clear();
        _recovered = false;
        _headerMissing = false;
        return PDFResult::FileNotReadable;
    }
    _packet = {};
    if (result != PDFResult::Ok) {
        _values.clear();
        _facts = {};
        _xmpProperties.clear();
    }
    for (auto &[key, value] : _values) {
        if (!value.isReference)
            trimText(value.text);
    }
    return result;
}

PDFResult PDFDocument::collectMetadata(MemoryParser &parser, std::uint64_t header, bool mayScan) {
    const std::uint64_t xrefOffset = parser.findXrefOffset(
        _strict ? limits::kStrictStartxrefWindow - 1 : limits::kStartxrefWindow);
    StreamBudget budget;
    PlainStreamReader plainStreams(budget);
    PDFResult result = PDFResult::XrefNotFound;
    bool complete = false;
    if (xrefOffset != UINT64_MAX) {
        PDFXrefTable xref(parser, plainStreams);
        // Offsets count from the header when that is where they fit (a preamble before it).
        if (header != 0 && xrefOffset < parser.size() - header && !xref.sectionAt(xrefOffset) &&
            xref.sectionAt(xrefOffset + header))
            xref.setShift(header);
        std::unique_ptr<PDFEncryptionDictionary> security;
        result = readCrossReference(parser, xref, xrefOffset, budget, security);
        if (result == PDFResult::Ok) {
            ObjectReader objects({parser, &xref, security.get(), &budget});
            complete = gather(objects, xref, security.get()) && !xref.chainTooLong();
        }
    }
    if (_strict || !mayScan || (result == PDFResult::Ok ? complete : !recoverable(result)))
        return result;

    // The cross-reference data lead nowhere, or not to everything they name: the file is read
    // by a scan instead. What the scan cannot better stands.
    PDFDictionary read = std::move(_values);
    _values.clear();
    const PDFResult recovered = recover(parser, header, budget, plainStreams);
    if (recovered == PDFResult::XrefNotFound) {
        _values = std::move(read);
        return result;
    }
    _recovered = recovered == PDFResult::Ok;
    return recovered;
}

PDFResult PDFDocument::recover(MemoryParser &parser, std::uint64_t header, StreamBudget &budget,
                               PlainStreamReader &plainStreams) {
    XrefRecovery::Result scan = XrefRecovery::scan(parser, header);
    PDFXrefTable xref(parser, plainStreams);
    const std::int32_t root = referencedObject(scan.trailer, names::kRoot);
    const std::int32_t info = referencedObject(scan.trailer, names::kInfo);
    xref.adopt(std::move(scan.objects), std::move(scan.trailer), root, info);
    std::unique_ptr<PDFEncryptionDictionary> security;
    // An encrypted file whose trailers are lost cannot be decrypted (the key needs /ID): its
    // strings would read as garbage, so nothing is read from it.
    if (scan.encryptionFound && !xref.trailer().contains(names::kEncrypt))
        return PDFResult::XrefNotFound;
    // Encryption that cannot be read stays a failure; an /Encrypt the scan cannot use is as if
    // nothing was found.
    const PDFResult secured = setUpSecurity(parser, xref, budget, security);
    if (secured == PDFResult::EncryptionUnsupported)
        return secured;
    if (secured != PDFResult::Ok)
        return PDFResult::XrefNotFound;

    // The objects inside the object streams found, read with decryption set up.
    ObjectReader objects({parser, &xref, security.get(), &budget});
    std::vector<PDFXrefTable::ObjectStreamMembers> members;
    for (const std::uint32_t stream : scan.objectStreams) {
        if (const auto *pairs = objects.objectStreamMembers(stream)) {
            PDFXrefTable::ObjectStreamMembers &numbers = members.emplace_back();
            numbers.stream = stream;
            for (const auto &[number, offset] : *pairs)
                numbers.numbers.push_back(number);
        }
    }
    xref.addObjectStreamMembers(std::move(members));

    // When no trailer names a catalog that can be found, the last object whose /Type is
    // /Catalog is taken: among those written in the file and those inside object streams.
    if (root == -1 || !xref.findEntry(static_cast<std::uint32_t>(root))) {
        std::int32_t catalog = -1;
        std::uint64_t catalogPlace = 0;
        for (const std::uint32_t number : scan.catalogs) {
            if (const auto entry = xref.findEntry(number); entry && !entry->compressed())
                catalogPlace = entry->offset;
            catalog = static_cast<std::int32_t>(std::min<std::uint32_t>(number, INT32_MAX));
        }
        std::vector<ObjectIndex::Item> later;
        for (const ObjectIndex::Item &item : xref.entries().list()) {
            const auto stream =
                item.second.compressed() ? xref.findEntry(item.second.stream) : std::nullopt;
            if (stream && !stream->compressed() && (catalog == -1 || stream->offset > catalogPlace))
                later.emplace_back(item.first, XrefEntry{stream->offset, 0, item.second.index});
        }
        std::sort(later.begin(), later.end(), [](const auto &a, const auto &b) {
            return a.second.offset != b.second.offset ? a.second.offset > b.second.offset
                                                      : a.second.index > b.second.index;
        });
        for (const auto &[number, place] : later) {
            PDFObject object;
            if (objects.readObject(number, object) == PDFResult::Ok &&
                object._dictionary.getString(names::kType, u"") == names::kCatalogType) {
                catalog = static_cast<std::int32_t>(std::min<std::uint32_t>(number, INT32_MAX));
                break;
            }
        }
        xref.setRootObject(catalog);
    }
    if (xref.rootObject() == -1 && xref.infoObject() == -1 &&
        !xref.trailer().hasNested(names::kInfo))
        return PDFResult::XrefNotFound;
    static_cast<void>(gather(objects, xref, security.get()));
    return PDFResult::Ok;
}

bool PDFDocument::gather(ObjectReader &objects, const PDFXrefTable &xref,
                         const PDFEncryptionDictionary *security) {
    // A gather after a scan starts again from nothing.
    _facts = {};
    _facts.version = _headerVersion;
    _facts.encrypted = security != nullptr;
    if (security != nullptr)
        _facts.encryption = DocumentFacts::describe(*security);
    _xmpProperties.clear();
    _packet = {};

    // Metadata that cannot be read is missing, never a failure of the load. The XMP values
    // go in first, so that the information dictionary's entries replace them; the page tree
    // is read last, as object streams hold the catalog and the information dictionary
    // together more often than the page tree root with either.
    bool complete = xref.rootObject() != -1;
    PDFDictionary pages;
    std::int32_t pagesObject = -1;
    if (complete)
        complete =
            readCatalog(objects, static_cast<std::uint32_t>(xref.rootObject()), pages, pagesObject);

    const PDFDictionary &trailer = xref.trailer();
    PDFInfoObject info;
    if (xref.infoObject() != -1) {
        if (readInfoObject(objects, xref.infoObject(), info))
            _values.merge(info._values);
        else
            complete = false;
    } else if (trailer.hasNested(names::kInfo) && !trailer.contains(names::kEncrypt)) {
        // An information dictionary written in place in the trailer. In an encrypted file no
        // object number keys its strings, so it is left out there.
        info._values = trailer.nested(names::kInfo);
        info.resolveReferences(objects);
        _values.merge(info._values);
    }

    std::optional<std::u16string> pageCount;
    if (pagesObject >= 0) {
        bool readable = true;
        pageCount = PDFPageTree::count(objects, static_cast<std::uint32_t>(pagesObject), readable,
                                       _details ? &pages : nullptr);
        complete = complete && readable;
    } else if (!pages.empty()) {
        pageCount = PDFPageTree::count(objects, pages);
    }
    // The first page's size, down from the root just read.
    if (_details && !pages.empty())
        _facts.pageSize = PDFPageTree::firstPageSize(objects, std::move(pages));
    if (pageCount)
        _values.insert(std::string(names::kPageCount), PDFValue{std::move(*pageCount), false});

    // The whole packet, read again as XML when the options ask for its properties, or for the
    // conformance claims among them where it names a namespace of them: the identification
    // schemas of PDF/A, PDF/UA and PDF/X all end in "/ns/id/".
    constexpr std::string_view kIdentification = "/ns/id/";
    const bool claims =
        _details && std::search(_packet.begin(), _packet.end(), kIdentification.begin(),
                                kIdentification.end()) != _packet.end();
    if ((claims || _xmp) && !_packet.empty()) {
        if (auto properties = XmpPacket::readAll(_packet)) {
            if (_details)
                _facts.conformance = DocumentFacts::conformanceOf(*properties);
            if (_xmp)
                _xmpProperties = std::move(*properties);
        } else if (_xmp) {
            // Not read as XML: what the text search finds, as for the eight keys.
            _xmpProperties = PDFInfoObject::searchedXmp(_packet);
        }
    }
    return complete;
}

bool PDFDocument::readCatalog(ObjectReader &objects, std::uint32_t number, PDFDictionary &pages,
                              std::int32_t &pagesObject) {
    PDFObject catalog;
    if (objects.readObject(number, catalog) != PDFResult::Ok)
        return false;
    _catalogRead = true;
    const PDFDictionary &dictionary = catalog._dictionary;
    if (dictionary.contains(names::kMetadata)) {
        PDFInfoObject metadata;
        if (readInfoObject(objects, dictionary.getInt(names::kMetadata, 0), metadata)) {
            _values.merge(metadata._values);
            if ((_details || _xmp) && metadata._data.size() <= limits::kMaxXmpPacketBytes &&
                metadata._dictionary.getString(names::kSubtype, u"") == names::kXmlSubtype)
                _packet = std::move(metadata._data);
        }
    }
    // The page tree root, as a reference or, against ISO 32000-1, 7.7.2, written in place.
    if (dictionary.hasNested(names::kPages))
        pages = dictionary.nested(names::kPages);
    else
        pagesObject = dictionary.getInt(names::kPages, -1);
    if (_details)
        PDFFactsReader::readCatalog(objects, catalog, _facts);
    return true;
}

} // namespace vellumtag
