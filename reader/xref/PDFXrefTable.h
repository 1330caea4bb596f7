#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "syntax/Limits.h"
#include "syntax/MemoryParser.h"
#include "syntax/PDFDictionary.h"
#include "syntax/PDFResult.h"
#include "xref/ObjectIndex.h"
#include "xref/StreamObjectReader.h"

namespace vellumtag {

// The cross-reference reader (ISO 32000-1, 7.5.4 to 7.5.8): reads the document's sections
// lazily and newest first along the /Prev chain into an object index and a trailer, and reads
// no other objects. Entries are only ever added, so the newest section that lists an object
// wins; classic trailers accumulate first-wins, except "Prev" and "XRefStm", which always come
// from the section read last, and a cross-reference stream replaces the trailer with its own
// dictionary. A classic section's /XRefStm stream (7.5.8.4) is read with it: its entries rank
// after the table's in-use entries and before the table's free ones. At most _maxSections
// sections are read per document, which also ends /Prev cycles. Offsets that the file gives
// are taken relative to a shift, the length of a preamble before the header, when one is set;
// a recovered index replaces everything read.
class PDFXrefTable {
public:
    static constexpr std::int64_t kUnknown = -1;

    // Reads through file; cross-reference streams are read through streams.
    PDFXrefTable(MemoryParser &file, StreamObjectReader &streams)
        : _file(file), _streams(streams) {}
    PDFXrefTable(const PDFXrefTable &) = delete;
    PDFXrefTable &operator=(const PDFXrefTable &) = delete;

    // Reads the section at the offset and its trailer: a classic table or a cross-reference
    // stream. 105 for an offset beyond the data, 102 beyond the section limit, 199 for neither
    // kind of section there, or what reading the stream gave.
    PDFResult readSection(std::uint64_t offset);
    PDFResult readXrefTable();
    PDFResult readXrefStream();
    // True when a section seems to begin at the offset: "xref", or a cross-reference stream.
    bool sectionAt(std::uint64_t offset);

    // The entry of an object, reading older sections on demand; nothing when none is found.
    // Offsets in the file come with the shift added.
    std::optional<XrefEntry> findEntry(std::uint32_t number);
    // Byte offset of an object, or of the object stream that holds it; kUnknown when neither
    // can be found.
    std::int64_t findObjectOffset(std::uint32_t number);

    // Every offset that the file gives is read as that many bytes after `shift`, the offset of
    // a header that a preamble pushed back.
    void setShift(std::uint64_t shift) { _shift = shift; }
    std::uint64_t shift() const { return _shift; }
    // Replaces everything read by an index, a trailer and the catalog's and information
    // dictionary's numbers that a scan of the file rebuilt; no section is read afterwards.
    void adopt(std::vector<ObjectIndex::Item> objects, PDFDictionary trailer,
               std::int32_t rootObject, std::int32_t infoObject);
    // The rebuilt index learns the members of object streams: each is entered unless the index
    // has it at a later place in the file.
    struct ObjectStreamMembers {
        std::uint32_t stream;
        std::vector<std::uint32_t> numbers; // by their index in the stream
    };
    void addObjectStreamMembers(std::vector<ObjectStreamMembers> streams);
    void setRootObject(std::int32_t number) { _rootObject = number; }

    const PDFDictionary &trailer() const { return _trailer; }
    const ObjectIndex &entries() const { return _offsets; }
    // Object numbers of /Root and /Info from the newest trailer that names them; -1 until then.
    std::int32_t rootObject() const { return _rootObject; }
    std::int32_t infoObject() const { return _infoObject; }
    // The next older section, -1 when the chain has ended.
    std::int64_t prevOffset() const { return _prevOffset; }
    std::uint32_t sectionCount() const { return _sectionCount; }
    // True once a section beyond the limit was asked for.
    bool chainTooLong() const { return _chainTooLong; }

private:
    // Reads the cross-reference stream at the cursor into the index and gives its dictionary.
    PDFResult readStreamSection(PDFDictionary &dictionary);
    // Where an entry's place in the file lies, for the comparisons of addObjectStreamMembers.
    std::optional<std::uint64_t> placeOf(const XrefEntry &entry) const;

    MemoryParser &_file;
    StreamObjectReader &_streams;
    PDFDictionary _trailer;
    ObjectIndex _offsets;
    std::int32_t _rootObject = -1;
    std::int32_t _infoObject = -1;
    std::int64_t _prevOffset = -1;
    std::uint64_t _shift = 0;
    std::uint32_t _sectionCount = 0;
    std::uint32_t _maxSections = limits::kMaxSections;
    bool _chainTooLong = false;
};

} // namespace vellumtag
