#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vellumtag {

// A set of byte values, built at compile time from the bytes of a string, tested with one load.
// Every set of characters that the reader scans for is one of the constants below.
class CharacterClass {
public:
    constexpr explicit CharacterClass(std::string_view bytes) {
        for (const char c : bytes)
            _members[static_cast<std::uint8_t>(c)] = true;
    }

    constexpr bool contains(std::uint8_t c) const { return _members[c]; }
    // For UTF-16 text: code units beyond one byte are in no set.
    constexpr bool contains(char16_t c) const {
        return c <= 0xFF && contains(static_cast<std::uint8_t>(c));
    }
    constexpr bool contains(char c) const { return contains(static_cast<std::uint8_t>(c)); }

private:
    std::array<bool, 256> _members{};
};

namespace characters {

using namespace std::string_view_literals;

// White space of ISO 32000-1, 7.2.2, table 1: NUL, tab, LF, form feed, CR and space.
inline constexpr CharacterClass kPdfWhitespace("\0\t\n\f\r "sv);

// Delimiters of ISO 32000-1, 7.2.2, table 2.
inline constexpr CharacterClass kDelimiters("()<>[]{}/%"sv);

// The white space that the reader's own skipping passes over: tab, LF, CR and space. Form
// feed and NUL are white space to ISO 32000-1 but stop it, and texts are trimmed of these.
inline constexpr CharacterClass kBlanks("\t\n\r "sv);

// White space as the C library's "C" locale classifies it (isspace), which the conversions
// that read numbers skip: tab, LF, vertical tab, form feed, CR and space.
inline constexpr CharacterClass kCSpace("\t\n\v\f\r "sv);

inline constexpr CharacterClass kLineEnds("\r\n"sv);

inline constexpr CharacterClass kDigits("0123456789"sv);

} // namespace characters

// The value of a hexadecimal digit, or -1 for any other character.
template <class Char> constexpr int hexValue(Char c) {
    if (c >= Char('0') && c <= Char('9'))
        return static_cast<int>(c - Char('0'));
    if (c >= Char('A') && c <= Char('F'))
        return static_cast<int>(c - Char('A')) + 10;
    if (c >= Char('a') && c <= Char('f'))
        return static_cast<int>(c - Char('a')) + 10;
    return -1;
}

template <class Char> constexpr bool isDigit(Char c) { return c >= Char('0') && c <= Char('9'); }

} // namespace vellumtag
