#pragma once

#include <string>

namespace vellumtag {

// One dictionary value: its text (decoded for strings, the source text for everything else)
// and whether it was written as an indirect reference such as "12 0 R".
struct PDFValue {
    std::u16string text;
    bool isReference = false;

    bool operator==(const PDFValue &) const = default;
};

} // namespace vellumtag
