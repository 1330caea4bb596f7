#pragma once

#include <string>
#include <string_view>

namespace vellumtag {

// Appends the UTF-8 form of UTF-16 text to out. Stops at the first unpaired surrogate, which
// has no UTF-8 form, and returns false; out then holds everything before it.
bool appendUtf8(std::u16string_view text, std::string &out);

} // namespace vellumtag
