#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "syntax/PDFResult.h"

// How the bytes of a PDF file become the reader's UTF-16 text, and how that text is written out.
namespace vellumtag {

// Resolves the escapes of a literal string's content (ISO 32000-1, 7.3.4.2) and decodes the
// bytes with bytesToText; trims when asked. Always 0.
PDFResult unescapeLiteral(std::span<const std::uint8_t> bytes, std::u16string &out, bool trim);
// Decodes the content between "<" and ">" of a hexadecimal string. Always 0.
PDFResult decodeHexString(std::span<const std::uint8_t> bytes, std::u16string &out);
// UTF-16BE after an FE FF mark, otherwise one code unit per byte.
void bytesToText(std::span<const std::uint8_t> bytes, std::u16string &out);
// Removes space, CR, LF and tab from both ends.
void trimText(std::u16string &text);

// UTF-8 to UTF-16; any malformed sequence makes the whole result empty.
std::u16string decodeUtf8(std::span<const std::uint8_t> bytes);
// Appends the UTF-8 form of UTF-16 text to out. Stops at the first unpaired surrogate, which
// has no UTF-8 form, and returns false; out then holds everything before it.
bool appendUtf8(std::u16string_view text, std::string &out);

} // namespace vellumtag
