#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellumtag {

// One dictionary value: its text (decoded for strings and names, the source text for
// everything else), what kind of object it was written as, and whether it was an indirect
// reference such as "12 0 R". A string keeps its bytes as stored too, for what must decrypt
// them or compare them as bytes, and an array its source bytes between the brackets, for what
// must read its elements; values are equal when their texts and reference flags are.
struct PDFValue {
    // Other: a number, a boolean, null, a keyword, or nothing at all. Dictionary: a dictionary
    // written in place, whose entries are folded in under dotted keys.
    enum class Kind : std::uint8_t { Other, Number, String, Name, Array, Dictionary };

    std::u16string text;
    bool isReference = false;
    std::vector<std::uint8_t> raw = {};
    Kind kind = Kind::Other;

    bool isString() const { return kind == Kind::String; }
    bool operator==(const PDFValue &other) const {
        return text == other.text && isReference == other.isReference;
    }
};

} // namespace vellumtag
