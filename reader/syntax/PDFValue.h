#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellumtag {

// One dictionary value: its text (decoded for strings, the source text for everything else)
// and whether it was written as an indirect reference such as "12 0 R". A string keeps its
// bytes as stored too, for what must decrypt them or compare them as bytes; values are equal
// when their texts and reference flags are.
struct PDFValue {
    std::u16string text;
    bool isReference = false;
    std::vector<std::uint8_t> raw = {};

    bool isString() const { return !raw.empty(); }
    bool operator==(const PDFValue &other) const {
        return text == other.text && isReference == other.isReference;
    }
};

} // namespace vellumtag
