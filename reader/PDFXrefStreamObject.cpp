#include "PDFXrefStreamObject.h"

#include <algorithm>

#include "Limits.h"

namespace vellumtag {

PDFResult PDFXrefStreamObject::load(MemoryParser &parser) {
    const PDFResult result = PDFObject::read(parser, kAtCursor);
    if (result != PDFResult::Ok)
        return result;

    _dictionary.getUIntArray("W", _widths);
    if (_widths.size() < 2)
        return PDFResult::Unspecified;
    std::uint32_t sum = 0;
    for (std::uint32_t width : _widths) {
        if (width > limits::kMaxXrefFieldWidth)
            return PDFResult::Unspecified;
        sum += width;
    }

    // ISO 32000-1, 7.4.4.4: only "no prediction" and PNG Up are produced for these streams.
    _predictor = _dictionary.getInt("DecodeParms.Predictor", 1);
    if (_predictor == 1) {
        _rowWidth = sum;
        return PDFResult::Ok;
    }
    if (_predictor != 12)
        return PDFResult::Unspecified;
    _rowWidth = sum + 1;
    if (_data.size() % _rowWidth != 0)
        return PDFResult::EncryptionUnsupported;
    // Each byte adds the one above it; the first row and every tag byte stay as they are.
    for (std::size_t i = _rowWidth; i < _data.size(); ++i) {
        if (i % _rowWidth != 0)
            _data[i] = static_cast<std::uint8_t>(_data[i] + _data[i - _rowWidth]);
    }
    return PDFResult::Ok;
}

std::uint64_t PDFXrefStreamObject::getField(std::uint64_t row, std::size_t field) const {
    if (field >= _widths.size())
        return 0;
    std::uint64_t start = row * _rowWidth + (_predictor == 12 ? 1 : 0);
    for (std::size_t i = 0; i < field; ++i)
        start += _widths[i];
    const std::uint64_t width = _widths[field];
    if (width == 0 || start + width > _data.size())
        return 0;
    std::uint64_t value = 0;
    for (std::uint64_t i = 0; i < width; ++i)
        value = (value << 8) | _data[static_cast<std::size_t>(start + i)];
    return value;
}

} // namespace vellumtag
