#include "syntax/TextEncoding.h"

#include <algorithm>
#include <vector>

#include "syntax/CharacterClass.h"

namespace vellumtag {

namespace {

using Bytes = std::vector<std::uint8_t>;

bool isTrimmed(char16_t c) { return characters::kBlanks.contains(c); }

void appendCodePoint(char32_t c, std::string &out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

} // namespace

PDFResult unescapeLiteral(std::span<const std::uint8_t> bytes, std::u16string &out, bool trim) {
    if (std::find(bytes.begin(), bytes.end(), '\\') == bytes.end()) {
        bytesToText(bytes, out);
    } else {
        // Escapes as ISO 32000-1, 7.3.4.2 lists them, with two deliberate departures: an
        // unknown escape yields the backslash and drops the byte after it, and only CR (not LF)
        // after a backslash continues the line. A backslash that ends the bytes stays.
        Bytes resolved;
        resolved.reserve(bytes.size());
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] != '\\') {
                resolved.push_back(bytes[i]);
                continue;
            }
            if (i + 1 == bytes.size()) {
                resolved.push_back('\\');
                break;
            }
            const std::uint8_t next = bytes[++i];
            switch (next) {
            case '\r':
                break;
            case '(':
            case ')':
            case '\\':
                resolved.push_back(next);
                break;
            case 'b':
                resolved.push_back(0x08);
                break;
            case 'f':
                resolved.push_back(0x0C);
                break;
            case 'n':
                resolved.push_back(0x0A);
                break;
            case 'r':
                resolved.push_back(0x0D);
                break;
            case 't':
                resolved.push_back(0x09);
                break;
            default:
                if (isDigit(next)) {
                    // "8" and "9" count with their face value.
                    unsigned code = 0;
                    const std::size_t stop = std::min(bytes.size(), i + 3);
                    for (; i < stop && isDigit(bytes[i]); ++i)
                        code = code * 8 + static_cast<unsigned>(bytes[i] - '0');
                    --i;
                    resolved.push_back(static_cast<std::uint8_t>(code & 0xFF));
                } else {
                    resolved.push_back('\\');
                }
            }
        }
        bytesToText(resolved, out);
    }
    if (trim)
        trimText(out);
    return PDFResult::Ok;
}

PDFResult decodeHexString(std::span<const std::uint8_t> bytes, std::u16string &out) {
    // Unlike ISO 32000-1, 7.3.4.3, a final unpaired digit is dropped rather than read as if
    // followed by 0, and a non-digit that ends up inside a pair counts as 0.
    Bytes decoded;
    decoded.reserve(bytes.size() / 2);
    std::size_t i = 0;
    while (bytes.size() - i >= 2) {
        while (i < bytes.size() && hexValue(bytes[i]) < 0)
            ++i;
        if (bytes.size() - i < 2)
            break;
        const int high = std::max(hexValue(bytes[i]), 0);
        const int low = std::max(hexValue(bytes[i + 1]), 0);
        decoded.push_back(static_cast<std::uint8_t>(high << 4 | low));
        i += 2;
    }
    bytesToText(decoded, out);
    return PDFResult::Ok;
}

void bytesToText(std::span<const std::uint8_t> bytes, std::u16string &out) {
    out.clear();
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        out.reserve((bytes.size() - 2) / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            out.push_back(static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1]));
    } else {
        out.assign(bytes.begin(), bytes.end());
    }
}

void trimText(std::u16string &text) {
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isTrimmed);
    text.erase(last.base(), text.end());
    const auto first = std::find_if_not(text.begin(), text.end(), isTrimmed);
    text.erase(text.begin(), first);
}

std::u16string decodeUtf8(std::span<const std::uint8_t> bytes) {
    // No byte gives more than one code unit: the units are written in place, then the text is
    // cut to their number.
    std::u16string out(bytes.size(), u'\0');
    char16_t *unit = out.data();
    for (std::size_t i = 0; i < bytes.size();) {
        const std::uint8_t lead = bytes[i++];
        if (lead < 0x80) {
            *unit++ = lead;
            continue;
        }
        char32_t value;
        int continuation;
        if (lead >= 0xC0 && lead <= 0xDF) {
            value = lead & 0x1Fu;
            continuation = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            value = lead & 0x0Fu;
            continuation = 2;
        } else if (lead >= 0xF0 && lead <= 0xF7) {
            value = lead & 0x07u;
            continuation = 3;
        } else {
            return {};
        }
        for (; continuation > 0; --continuation, ++i) {
            if (i >= bytes.size() || bytes[i] < 0x80 || bytes[i] > 0xBF)
                return {};
            value = (value << 6) | (bytes[i] & 0x3Fu);
        }
        // Overlong forms pass; surrogates and values beyond Unicode do not.
        if ((value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
            return {};
        if (value > 0xFFFF) {
            *unit++ = static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10));
            *unit++ = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
        } else {
            *unit++ = static_cast<char16_t>(value);
        }
    }
    out.resize(static_cast<std::size_t>(unit - out.data()));
    return out;
}

bool appendUtf8(std::u16string_view text, std::string &out) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit < 0xD800 || unit > 0xDFFF) {
            appendCodePoint(unit, out);
            continue;
        }
        const bool high = unit < 0xDC00;
        if (!high || i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
            return false;
        const char32_t low = text[++i];
        appendCodePoint(0x10000 + ((char32_t{unit} - 0xD800) << 10) + (low - 0xDC00), out);
    }
    return true;
}

} // namespace vellumtag
