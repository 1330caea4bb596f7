#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/PDFResult.h"

// How the bytes of a PDF file become the reader's UTF-16 text, and how that text is written out.
namespace vellumtag {

// The bytes of a literal string's content (ISO 32000-1, 7.3.4.2): its escapes resolved, an
// end of line in it read as one LF, a backslash before an end of line joining the lines.
std::vector<std::uint8_t> unescapeLiteral(std::span<const std::uint8_t> bytes);
// The same, decoded with bytesToText; trimmed when asked. Always 0.
PDFResult unescapeLiteral(std::span<const std::uint8_t> bytes, std::u16string &out, bool trim);
// The bytes between "<" and ">" of a hexadecimal string (7.3.4.3).
std::vector<std::uint8_t> decodeHexString(std::span<const std::uint8_t> bytes);
// The same, decoded with bytesToText. Always 0.
PDFResult decodeHexString(std::span<const std::uint8_t> bytes, std::u16string &out);
// A text string's bytes as text (ISO 32000-1, 7.9.2.2; ISO 32000-2, 7.9.2.2): UTF-16BE after an
// FE FF mark, UTF-8 after EF BB BF, UTF-16LE after FF FE (seen in the wild), otherwise
// PDFDocEncoding (Annex D), whose undefined codes become U+FFFD.
void bytesToText(std::span<const std::uint8_t> bytes, std::u16string &out);
// The character of a PDFDocEncoding code (Annex D.2): U+FFFD for the undefined ones.
char16_t pdfDocEncoding(std::uint8_t code);
// Removes space, CR, LF and tab from both ends.
void trimText(std::u16string &text);

// UTF-8 to UTF-16; every malformed sequence (an overlong form, an encoded surrogate, a value
// beyond U+10FFFF, a missing continuation byte) becomes one U+FFFD, and decoding goes on.
std::u16string decodeUtf8(std::span<const std::uint8_t> bytes);
// Appends the UTF-8 form of UTF-16 text to out. Stops at the first unpaired surrogate, which
// has no UTF-8 form, and returns false; out then holds everything before it.
bool appendUtf8(std::u16string_view text, std::string &out);
// The UTF-8 form of UTF-16 text where that must be valid (JSON, CSV, the library's results): an
// unpaired surrogate becomes U+FFFD.
std::string validUtf8(std::u16string_view text);

} // namespace vellumtag
