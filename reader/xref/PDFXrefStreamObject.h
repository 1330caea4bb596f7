#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "syntax/MemoryParser.h"
#include "syntax/PDFDictionary.h"
#include "syntax/PDFResult.h"

namespace vellumtag {

// The rows of a cross-reference stream (ISO 32000-1, 7.5.8): its decoded data taken as rows of
// /W big-endian fields, with the PNG Up predictor undone. Rows are addressed by number; a field
// outside the data reads as 0.
class PDFXrefStreamObject {
public:
    // Takes the stream's dictionary and inflated data, and prepares its rows: 199 for /W
    // missing, with fewer than two widths or one above limits::kMaxXrefFieldWidth, a predictor
    // other than none and PNG Up, or PNG Up rows that do not fill the data.
    PDFResult load(const PDFDictionary &dictionary, Bytes data);

    // The first three fields (type and two values) of the rows from `first` on, one row per
    // element of out, with the place of each field in a row worked out once by load.
    using RowFields = std::array<std::uint64_t, 3>;
    void getRows(std::uint64_t first, std::span<RowFields> out) const;
    std::uint64_t rowCount() const { return _rowWidth == 0 ? 0 : _data.size() / _rowWidth; }

    // The bytes that the stream's rows take once inflated, as /W, /Index (or /Size) and the
    // predictor give them; 0 when they do not tell, or tell more than 64 bits hold.
    static std::uint64_t decodedSize(const PDFDictionary &dictionary);
    // /DecodeParms /Predictor, written as a dictionary or as an array holding one; 1 without.
    static std::int32_t predictorOf(const PDFDictionary &dictionary);

private:
    Bytes _data;
    std::vector<std::uint32_t> _widths;
    std::uint32_t _rowWidth = 0;
    std::int32_t _predictor = 1;
    std::array<std::uint32_t, 3> _rowFieldStart{};
    std::array<std::uint32_t, 3> _rowFieldWidth{};
};

} // namespace vellumtag
