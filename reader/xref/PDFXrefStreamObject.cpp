#include "xref/PDFXrefStreamObject.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "syntax/Limits.h"
#include "syntax/PDFNames.h"

namespace vellumtag {

std::int32_t PDFXrefStreamObject::predictorOf(const PDFDictionary &dictionary) {
    return dictionary.dictionaryValue(names::kDecodeParms).getInt(names::kPredictor, 1);
}

std::uint64_t PDFXrefStreamObject::decodedSize(const PDFDictionary &dictionary) {
    std::vector<std::uint32_t> widths;
    dictionary.getUIntArray(names::kW, widths);
    std::uint64_t rowWidth = predictorOf(dictionary) >= 10 ? 1 : 0;
    for (std::uint32_t width : widths) {
        if (width > limits::kMaxXrefFieldWidth)
            return 0;
        rowWidth += width;
    }
    // /Index lists pairs of first object and count; without it, /Size objects from 0 on.
    std::vector<std::uint32_t> index;
    dictionary.getUIntArray(names::kIndex, index);
    std::uint64_t rows = 0;
    if (index.empty())
        rows = static_cast<std::uint64_t>(std::max(dictionary.getInt(names::kSize, 0), 0));
    for (std::size_t i = 1; i < index.size(); i += 2)
        rows += index[i];
    if (widths.size() < 2 || rowWidth == 0 || rows > UINT64_MAX / rowWidth)
        return 0;
    return rows * rowWidth;
}

PDFResult PDFXrefStreamObject::load(const PDFDictionary &dictionary, Bytes data) {
    _data = std::move(data);
    dictionary.getUIntArray(names::kW, _widths);
    if (_widths.size() < 2)
        return PDFResult::Unspecified;
    std::uint32_t sum = 0;
    for (std::uint32_t width : _widths) {
        if (width > limits::kMaxXrefFieldWidth)
            return PDFResult::Unspecified;
        sum += width;
    }

    // ISO 32000-1, 7.4.4.4: only "no prediction" and PNG Up are produced for these streams.
    _predictor = predictorOf(dictionary);
    std::uint32_t position = _predictor == 12 ? 1 : 0;
    for (std::size_t field = 0; field < _rowFieldStart.size() && field < _widths.size(); ++field) {
        _rowFieldStart[field] = position;
        _rowFieldWidth[field] = _widths[field];
        position += _widths[field];
    }
    if (_predictor == 1) {
        _rowWidth = sum;
        return PDFResult::Ok;
    }
    if (_predictor != 12)
        return PDFResult::Unspecified;
    _rowWidth = sum + 1;
    // Rows that do not fill the data do not match /W: the stream's structure is not one we know.
    if (_data.size() % _rowWidth != 0)
        return PDFResult::Unspecified;
    // Each byte adds the one above it; the first row and every tag byte stay as they are.
    std::uint8_t *const bytes = _data.data();
    for (std::size_t row = _rowWidth; row < _data.size(); row += _rowWidth) {
        const std::uint8_t *above = bytes + row - _rowWidth;
        for (std::size_t i = row + 1; i < row + _rowWidth; ++i)
            bytes[i] = static_cast<std::uint8_t>(bytes[i] + above[i - row]);
    }
    return PDFResult::Ok;
}

void PDFXrefStreamObject::getRows(std::uint64_t first, std::span<RowFields> out) const {
    const std::uint8_t *const data = _data.data();
    const std::uint64_t size = _data.size();
    // One field read byte by byte, from what load worked out about its place in a row; nothing
    // of it is read beyond the data.
    const auto read = [data, size](std::uint64_t start, std::uint32_t width) {
        std::uint64_t value = 0;
        if (width == 0 || start + width > size)
            return value;
        for (std::uint32_t i = 0; i < width; ++i)
            value = (value << 8) | data[start + i];
        return value;
    };
    // The same where eight bytes from the field's start lie within the data: one load of a
    // big-endian word, shifted down to the field's width (at most eight bytes).
    const auto readWord = [data](std::uint64_t start, std::uint32_t width) {
        std::uint64_t word = 0;
        std::memcpy(&word, data + start, sizeof word);
        if constexpr (std::endian::native == std::endian::little)
            word = __builtin_bswap64(word);
        return width == 0 ? 0 : word >> (64 - 8 * width);
    };
    const auto [start0, start1, start2] = _rowFieldStart;
    const auto [width0, width1, width2] = _rowFieldWidth;
    // Rows that start at or before wordRowsEnd have eight bytes after each field's start.
    const std::uint64_t lastStart = std::max({start0, start1, start2});
    const bool wordRows = size >= lastStart + 8;
    const std::uint64_t wordRowsEnd = wordRows ? size - lastStart - 8 : 0;
    std::uint64_t rowStart = first * _rowWidth;
    for (RowFields &fields : out) {
        if (wordRows && rowStart <= wordRowsEnd)
            fields = {readWord(rowStart + start0, width0), readWord(rowStart + start1, width1),
                      readWord(rowStart + start2, width2)};
        else
            fields = {read(rowStart + start0, width0), read(rowStart + start1, width1),
                      read(rowStart + start2, width2)};
        rowStart += _rowWidth;
    }
}

} // namespace vellumtag
