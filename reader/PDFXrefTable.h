#pragma once

#include <cstdint>
#include <map>

#include "MemoryParser.h"
#include "PDFDictionary.h"
#include "PDFResult.h"

namespace vellumtag {

class PDFObject;

// The document's cross-reference state, read lazily and newest first along the /Prev chain
// (ISO 32000-1, 7.5.4 and 7.5.6). Offsets are only ever added, so the newest section that
// lists an object wins; classic trailers accumulate first-wins, except "Prev", which always
// comes from the section read last. At most _maxSections sections are read per document,
// which also ends /Prev cycles.
class PDFXrefTable {
public:
    static constexpr std::int64_t kUnknown = -1;

    PDFResult readSection(std::uint64_t offset);
    // Byte offset of an object, reading older sections on demand; kUnknown when none is found.
    std::int64_t findObjectOffset(std::uint32_t number);
    PDFResult readObject(std::uint32_t number, PDFObject &object);

    PDFResult readXrefTable();
    PDFResult readXrefStream();

    PDFDictionary _trailer;
    bool _securityChecked = false;
    MemoryParser *_file = nullptr;
    std::map<std::uint32_t, std::uint64_t> _offsets;
    std::int32_t _rootObject = -1;
    std::int32_t _infoObject = -1;
    std::int64_t _prevOffset = -1;
    std::uint32_t _sectionCount = 0;
    std::uint32_t _maxSections = limits::kMaxSections;
};

} // namespace vellumtag
