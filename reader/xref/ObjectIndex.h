#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

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

// The object index: the entries of every cross-reference section read so far, newest section
// first, as pure data. A classic section is kept as one flat array by ascending object number,
// searched in binary; a cross-reference stream keeps its decoded rows, and a lookup reads the
// one row that describes the object, so that the many thousand rows that no lookup asks for
// cost nothing beyond their inflation. Within a section the first entry listed for a number
// counts; across sections the newest one that lists it.
class ObjectIndex {
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

} // namespace vellumtag
