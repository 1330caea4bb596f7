#include "syntax/TextEncoding.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "syntax/CharacterClass.h"

namespace vellumtag {

namespace {

using Bytes = std::vector<std::uint8_t>;

bool isTrimmed(char16_t c) { return characters::kBlanks.contains(c); }

constexpr char16_t kReplacement = 0xFFFD;

// What a literal string's content may hold that changes its bytes: escapes and ends of line.
constexpr std::string_view kLiteralSpecials = "\\\r\n";

// PDFDocEncoding (ISO 32000-1, Annex D.2): the codes that mean another character than in
// ISO 8859-1, and the undefined ones, which read as U+FFFD. The others are their own code.
constexpr std::array<char16_t, 256> kPdfDocEncoding = [] {
    std::array<char16_t, 256> table{};
    for (std::size_t code = 0; code < table.size(); ++code)
        table[code] = static_cast<char16_t>(code);
    // 0x18 to 0x1F: accents.
    constexpr char16_t accents[] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
    for (std::size_t i = 0; i < std::size(accents); ++i)
        table[0x18 + i] = accents[i];
    // 0x80 to 0xA0: punctuation, ligatures and letters of Windows' code page 1252 and beyond.
    constexpr char16_t upper[] = {0x2022, 0x2020, 0x2021, 0x2026,       0x2014, 0x2013, 0x0192,
                                  0x2044, 0x2039, 0x203A, 0x2212,       0x2030, 0x201E, 0x201C,
                                  0x201D, 0x2018, 0x2019, 0x201A,       0x2122, 0xFB01, 0xFB02,
                                  0x0141, 0x0152, 0x0160, 0x0178,       0x017D, 0x0131, 0x0142,
                                  0x0153, 0x0161, 0x017E, kReplacement, 0x20AC};
    for (std::size_t i = 0; i < std::size(upper); ++i)
        table[0x80 + i] = upper[i];
    table[0x7F] = kReplacement;
    table[0xAD] = kReplacement;
    return table;
}();

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

Bytes unescapeLiteral(std::span<const std::uint8_t> bytes) {
    Bytes resolved;
    resolved.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t c = bytes[i];
        // An end of line that is not escaped, CR, LF or CR LF, is one LF.
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            resolved.push_back('\n');
            continue;
        }
        if (c != '\\') {
            resolved.push_back(c);
            continue;
        }
        // A backslash that ends the bytes has nothing to escape: it is dropped.
        if (++i == bytes.size())
            break;
        const std::uint8_t next = bytes[i];
        switch (next) {
        case 'n':
            resolved.push_back(0x0A);
            break;
        case 'r':
            resolved.push_back(0x0D);
            break;
        case 't':
            resolved.push_back(0x09);
            break;
        case 'b':
            resolved.push_back(0x08);
            break;
        case 'f':
            resolved.push_back(0x0C);
            break;
        case '\r':
            // The end of line after a backslash joins the lines: CR LF, CR or LF.
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            break;
        case '\n':
            break;
        default:
            if (next >= '0' && next <= '7') {
                // One to three octal digits; a value beyond 8 bits keeps its low 8.
                unsigned code = 0;
                const std::size_t stop = std::min(bytes.size(), i + 3);
                for (; i < stop && bytes[i] >= '0' && bytes[i] <= '7'; ++i)
                    code = code * 8 + static_cast<unsigned>(bytes[i] - '0');
                --i;
                resolved.push_back(static_cast<std::uint8_t>(code & 0xFF));
            } else {
                // "(", ")" and "\\" stand for themselves; so does the byte of an unknown
                // escape, whose backslash is dropped.
                resolved.push_back(next);
            }
        }
    }
    return resolved;
}

PDFResult unescapeLiteral(std::span<const std::uint8_t> bytes, std::u16string &out, bool trim) {
    if (std::find_first_of(bytes.begin(), bytes.end(), kLiteralSpecials.begin(),
                           kLiteralSpecials.end()) == bytes.end())
        bytesToText(bytes, out);
    else
        bytesToText(unescapeLiteral(bytes), out);
    if (trim)
        trimText(out);
    return PDFResult::Ok;
}

Bytes decodeHexString(std::span<const std::uint8_t> bytes) {
    // ISO 32000-1, 7.3.4.3: white space between the digits is ignored (so is any other byte
    // that is no digit, as qpdf and pdfinfo read them), and a final unpaired digit reads as if
    // followed by 0.
    Bytes decoded;
    decoded.reserve(bytes.size() / 2);
    int high = -1;
    for (const std::uint8_t byte : bytes) {
        const int digit = hexValue(byte);
        if (digit < 0)
            continue;
        if (high < 0) {
            high = digit;
        } else {
            decoded.push_back(static_cast<std::uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0)
        decoded.push_back(static_cast<std::uint8_t>(high << 4));
    return decoded;
}

PDFResult decodeHexString(std::span<const std::uint8_t> bytes, std::u16string &out) {
    bytesToText(decodeHexString(bytes), out);
    return PDFResult::Ok;
}

char16_t pdfDocEncoding(std::uint8_t code) { return kPdfDocEncoding[code]; }

void bytesToText(std::span<const std::uint8_t> bytes, std::u16string &out) {
    out.clear();
    if (bytes.size() >= 2 &&
        ((bytes[0] == 0xFE && bytes[1] == 0xFF) || (bytes[0] == 0xFF && bytes[1] == 0xFE))) {
        // UTF-16, big-endian after FE FF, little-endian after FF FE; an odd last byte is
        // dropped.
        const bool big = bytes[0] == 0xFE;
        out.reserve((bytes.size() - 2) / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            out.push_back(static_cast<char16_t>(big ? bytes[i] << 8 | bytes[i + 1]
                                                    : bytes[i + 1] << 8 | bytes[i]));
    } else if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        out = decodeUtf8(bytes.subspan(3));
    } else {
        out.resize(bytes.size());
        std::transform(bytes.begin(), bytes.end(), out.begin(), pdfDocEncoding);
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
        // The sequence a lead byte starts: how many continuation bytes, and the smallest value
        // it may stand for, below which it is an overlong form.
        char32_t value;
        int continuation;
        char32_t least;
        if (lead >= 0xC2 && lead <= 0xDF) {
            value = lead & 0x1Fu;
            continuation = 1;
            least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            value = lead & 0x0Fu;
            continuation = 2;
            least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            value = lead & 0x07u;
            continuation = 3;
            least = 0x10000;
        } else {
            *unit++ = kReplacement;
            continue;
        }
        // The second byte's range excludes overlong forms, surrogates and values beyond
        // U+10FFFF (Unicode, 3.9, table 3-7), so that a broken sequence is replaced as a
        // maximal subpart: one U+FFFD, and the byte that broke it starts the next.
        const std::uint8_t low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
        const std::uint8_t high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
        bool whole = true;
        for (bool second = true; continuation > 0; --continuation, ++i, second = false) {
            if (i >= bytes.size() || bytes[i] < (second ? low : 0x80) ||
                bytes[i] > (second ? high : 0xBF)) {
                whole = false;
                break;
            }
            value = (value << 6) | (bytes[i] & 0x3Fu);
        }
        if (!whole || value < least || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
            *unit++ = kReplacement;
        } else if (value > 0xFFFF) {
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

std::string validUtf8(std::u16string_view text) {
    // Text without unpaired surrogates, nearly all of it, is converted once and not copied.
    std::string out;
    if (appendUtf8(text, out))
        return out;
    std::u16string repaired(text);
    for (std::size_t i = 0; i < repaired.size(); ++i) {
        const char16_t unit = repaired[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < repaired.size() &&
            repaired[i + 1] >= 0xDC00 && repaired[i + 1] <= 0xDFFF)
            ++i;
        else if (unit >= 0xD800 && unit <= 0xDFFF)
            repaired[i] = u'\uFFFD';
    }
    out.clear();
    appendUtf8(repaired, out);
    return out;
}

} // namespace vellumtag
