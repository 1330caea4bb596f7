#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "syntax/MemoryParser.h"
#include "syntax/PDFDictionary.h"
#include "security/PDFEncryptionDictionary.h"
#include "syntax/PDFResult.h"
#include "xref/PDFXrefStreamObject.h"

namespace vellumtag {

// Where one object lies: at a byte offset of the file, or as the index-th object of an object
// stream (ISO 32000-1, 7.5.7).
struct XrefEntry {
    static constexpr std::uint32_t kInFile = UINT32_MAX;

    std::uint64_t offset = 0;
    std::uint32_t stream = kInFile;
    std::uint32_t index = 0;

    bool compressed() const { return stream != kInFile; }
};

// The entries of every section read so far, newest section first. A classic section is kept as
// one flat array by ascending object number, searched in binary; a cross-reference stream keeps
// its decoded rows, and a lookup reads the one row that describes the object, so that the many
// thousand rows that no lookup asks for cost nothing beyond their inflation. Within a section
// the first entry listed for a number counts; across sections the newest one that lists it.
class XrefEntries {
public:
    using Item = std::pair<std::uint32_t, XrefEntry>;

    std::optional<XrefEntry> find(std::uint32_t number) const;
    bool empty() const { return _sections.empty(); }

    // Enters the entries of a classic section, given in the order they were read.
    void addSection(std::vector<Item> &section);
    // Enters a cross-reference stream whose rows follow the /Index pairs in order (ISO 32000-1,
    // 7.5.8.2); rows of type 1 and 2 are entries, and rows missing from the data add nothing.
    void addStreamSection(std::unique_ptr<PDFXrefStreamObject> rows,
                          std::vector<std::uint32_t> index);
    // Every entry that find gives, by ascending object number.
    std::vector<Item> list() const;

private:
    struct Section {
        std::vector<Item> items;
        std::unique_ptr<PDFXrefStreamObject> rows;
        std::vector<std::uint32_t> index;
    };
    static std::optional<XrefEntry> findInRows(const Section &section, std::uint32_t number);
    static std::vector<Item> rowItems(const PDFXrefStreamObject &rows,
                                      const std::vector<std::uint32_t> &index);

    std::vector<Section> _sections;
};

// The document's cross-reference state, read lazily and newest first along the /Prev chain
// (ISO 32000-1, 7.5.4 to 7.5.8). Entries are only ever added, so the newest section that lists
// an object wins; classic trailers accumulate first-wins, except "Prev", which always comes
// from the section read last, and a cross-reference stream replaces the trailer with its own
// dictionary. At most _maxSections sections are read per document, which also ends /Prev
// cycles. Owns the security handler set up from the newest trailer's /Encrypt.
class PDFXrefTable {
public:
    static constexpr std::int64_t kUnknown = -1;

    PDFResult readSection(std::uint64_t offset);
    // The entry of an object, reading older sections on demand; nothing when none is found.
    std::optional<XrefEntry> findEntry(std::uint32_t number);
    // Byte offset of an object, or of the object stream that holds it; kUnknown when neither
    // can be found.
    std::int64_t findObjectOffset(std::uint32_t number);
    // Reads an object wherever it is stored: 103 when it cannot be located.
    PDFResult readObject(std::uint32_t number, PDFObject &object);

    PDFResult readXrefTable();
    PDFResult readXrefStream();

    PDFDictionary _trailer;
    std::unique_ptr<PDFEncryptionDictionary> _security;
    bool _securityChecked = false;
    MemoryParser *_file = nullptr;
    XrefEntries _offsets;
    std::int32_t _rootObject = -1;
    std::int32_t _infoObject = -1;
    std::int64_t _prevOffset = -1;
    std::uint32_t _sectionCount = 0;
    std::uint32_t _maxSections = limits::kMaxSections;
    // What remains of limits::kMaxDocumentStreamBytes for the streams still to be read.
    std::size_t _streamBudget = limits::kMaxDocumentStreamBytes;

private:
    // The object stream last read: its decoded data with the (object number, offset) header
    // pairs, or the failure of reading it, which is not tried again.
    struct ObjectStream {
        std::uint32_t number = XrefEntry::kInFile;
        PDFResult result = PDFResult::Ok;
        Bytes data;
        std::uint64_t first = 0;
        std::vector<std::pair<std::uint32_t, std::uint64_t>> objects;
    };
    PDFResult loadObjectStream(std::uint32_t number);
    PDFResult setUpSecurity();

    ObjectStream _objectStream;
};

} // namespace vellumtag
