#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "metadata/DocumentFacts.h"
#include "syntax/ByteSource.h"
#include "syntax/PDFDictionary.h"
#include "syntax/PDFResult.h"

namespace vellumtag {

class MemoryParser;
class ObjectReader;
class PDFEncryptionDictionary;
class PDFXrefTable;
class PlainStreamReader;
class StreamBudget;

// Reads the metadata of one PDF file: construct, load, take values(), destroy. Everything a
// load reads with lives only for that load, so the file is closed again when load returns;
// every value is a copy of file bytes and outlives the document.
//
// A load tolerates what viewers tolerate: a preamble before the header, a trailing block after
// "%%EOF", cross-reference data that are missing or lead nowhere, which a scan of the file
// then rebuilds (recovered() tells), and a header that is missing where the cross-reference
// data are intact (headerMissing() tells). Strict mode turns those off and reads the file only as
// ISO 32000-1 lays it out.
class PDFDocument {
public:
    PDFDocument() = default;
    PDFDocument(const PDFDocument &) = delete;
    PDFDocument &operator=(const PDFDocument &) = delete;

    // Reads the file by chunks (pread; ReadFile at an offset on Windows), never mapped.
    PDFResult load(const std::filesystem::path &path);
    // Reads a document from memory that the caller owns and keeps unchanged during the call.
    PDFResult load(std::span<const std::uint8_t> bytes);
    // Reads a document from a source the caller opened. Bytes that cannot be had while it is
    // read (the file shrank under it, a read failed) end the load in 100.
    PDFResult load(ByteSource &source);
    PDFDictionary values() const { return _values; }

    // Strict mode: the header at the first byte, "startxref" within the last 49 bytes, and the
    // cross-reference data as they stand, never rebuilt. Off by default.
    void setStrict(bool strict) { _strict = strict; }
    // Details: a load also reads the document facts (facts()). Xmp: it also reads every
    // property of the XMP packet (xmp()). Both off by default, which costs nothing.
    void setDetails(bool details) { _details = details; }
    void setXmp(bool xmp) { _xmp = xmp; }
    // After a successful load with details.
    const DocumentFacts &facts() const { return _facts; }
    // After a successful load with xmp: the packet's properties as XmpPacket::readAll keys them.
    const DocumentFacts::Entries &xmp() const { return _xmpProperties; }

    // True after a load whose cross-reference data a scan of the file rebuilt.
    bool recovered() const { return _recovered; }
    // True after a load of a file without "%PDF-" in its first bytes, read because its
    // cross-reference data lead to a catalog (never in strict mode).
    bool headerMissing() const { return _headerMissing; }

private:
    // mayScan: a scan of the file may stand in for cross-reference data that lead nowhere.
    PDFResult collectMetadata(MemoryParser &parser, std::uint64_t header, bool mayScan);
    // Rebuilds the index by a scan of the file and reads the metadata through it: 0, or 102
    // when the scan finds neither a catalog nor an information dictionary, or what setting up
    // decryption gave.
    PDFResult recover(MemoryParser &parser, std::uint64_t header, StreamBudget &budget,
                      PlainStreamReader &plainStreams);
    // Reads the metadata into _values through the index: the catalog's XMP, the information
    // dictionary and the page count. False when something the index names (the catalog, the
    // information dictionary, the page tree root) cannot be read, or no catalog is named.
    // security: the handler the load decrypts with, if any, for the facts.
    bool gather(ObjectReader &objects, const PDFXrefTable &xref,
                const PDFEncryptionDictionary *security);
    // Reads the catalog into _values (its XMP metadata), with details its facts, and gives its
    // page tree root: the object number, or the entries of one written in place. False when it
    // cannot be read.
    bool readCatalog(ObjectReader &objects, std::uint32_t number, PDFDictionary &pages,
                     std::int32_t &pagesObject);

    PDFDictionary _values;
    bool _strict = false;
    bool _recovered = false;
    bool _headerMissing = false;
    // The last gather read a catalog.
    bool _catalogRead = false;
    bool _details = false;
    bool _xmp = false;
    DocumentFacts _facts;
    DocumentFacts::Entries _xmpProperties;
    // Of the load under way: the header's version, and the XMP packet as read.
    std::optional<std::string> _headerVersion;
    Bytes _packet;
};

} // namespace vellumtag
