#pragma once

#include <cstdint>
#include <optional>

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
// wins; classic trailers accumulate first-wins, except "Prev", which always comes from the
// section read last, and a cross-reference stream replaces the trailer with its own dictionary.
// At most _maxSections sections are read per document, which also ends /Prev cycles.
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

    // The entry of an object, reading older sections on demand; nothing when none is found.
    std::optional<XrefEntry> findEntry(std::uint32_t number);
    // Byte offset of an object, or of the object stream that holds it; kUnknown when neither
    // can be found.
    std::int64_t findObjectOffset(std::uint32_t number);

    const PDFDictionary &trailer() const { return _trailer; }
    const ObjectIndex &entries() const { return _offsets; }
    // Object numbers of /Root and /Info from the newest trailer that names them; -1 until then.
    std::int32_t rootObject() const { return _rootObject; }
    std::int32_t infoObject() const { return _infoObject; }
    // The next older section, -1 when the chain has ended.
    std::int64_t prevOffset() const { return _prevOffset; }
    std::uint32_t sectionCount() const { return _sectionCount; }

private:
    MemoryParser &_file;
    StreamObjectReader &_streams;
    PDFDictionary _trailer;
    ObjectIndex _offsets;
    std::int32_t _rootObject = -1;
    std::int32_t _infoObject = -1;
    std::int64_t _prevOffset = -1;
    std::uint32_t _sectionCount = 0;
    std::uint32_t _maxSections = limits::kMaxSections;
};

} // namespace vellumtag
