#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "objects/PDFObject.h"

namespace vellumtag {

// A cross-reference stream (ISO 32000-1, 7.5.8): the object read with its stream inflated,
// then its rows of /W big-endian fields, with the PNG Up predictor undone. Rows are addressed
// by number; a field outside the data reads as 0.
class PDFXrefStreamObject : public PDFObject {
public:
    explicit PDFXrefStreamObject(PDFXrefTable *xref) : PDFObject(xref) { _raw = true; }

    // Reads the object at the parser's cursor and prepares its rows.
    virtual PDFResult load(MemoryParser &parser);

    std::uint64_t getField(std::uint64_t row, std::size_t field) const;
    // The first three fields (type and two values) of the rows from `first` on, one row per
    // element of out, as getField reads them, with the place of each field in a row worked out
    // once by load.
    using RowFields = std::array<std::uint64_t, 3>;
    void getRows(std::uint64_t first, std::span<RowFields> out) const;
    std::uint64_t rowCount() const { return _rowWidth == 0 ? 0 : _data.size() / _rowWidth; }

    std::vector<std::uint32_t> _widths;
    std::uint32_t _rowWidth = 0;
    std::int32_t _predictor = 1;

private:
    std::array<std::uint32_t, 3> _rowFieldStart{};
    std::array<std::uint32_t, 3> _rowFieldWidth{};
};

} // namespace vellumtag
