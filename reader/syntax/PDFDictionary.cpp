#include "syntax/PDFDictionary.h"

#include <algorithm>
#include <iterator>

namespace vellumtag {

namespace {

// Bytes that end a key. ")", "]", "{", "}", "%", form feed and NUL do not: they become part of
// the name as written.
constexpr std::string_view kKeyDelimiters = "/<> ([\r\n\t";

// Stepping from one entry to the next ignores everything but these.
constexpr std::string_view kEntryStart = "/>";

// Under these keys a name is the value (ISO 32000-1, 7.3.5); under any other key a name is
// taken as the next key, so that values such as "/Trapped /False" read as two keys.
bool isNameValued(const std::string &key) {
    return key == "Filter" || key == "Type" || key == "Subtype";
}

bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

bool isTrimmed(char16_t c) { return c == u' ' || c == u'\r' || c == u'\n' || c == u'\t'; }

// White space as the C library's "C" locale classifies it.
bool isCSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

std::span<const std::uint8_t> withoutDelimiters(const Bytes &collected) {
    if (collected.size() < 2)
        return {};
    return std::span<const std::uint8_t>(collected).subspan(1, collected.size() - 2);
}

std::u16string decimalText(std::size_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

// Steps over a literal string at p (ISO 32000-1, 7.3.4.2): parentheses nest, and a backslash
// escapes the byte after it, so that "(C:\\)" ends at its last ")". Ends past the balancing
// ")", or at the end of the data.
const std::uint8_t *skipLiteral(const std::uint8_t *p, const std::uint8_t *end) {
    std::ptrdiff_t depth = 0;
    do {
        if (*p == '\\') {
            p += (end - p >= 2) ? 2 : 1;
            continue;
        }
        if (*p == '(')
            ++depth;
        else if (*p == ')')
            --depth;
        ++p;
    } while (depth != 0 && p < end);
    return p;
}

// Steps over the dictionary whose "<<" is at the cursor without building anything, by counting
// "<<" against ">>" in one pass. Literal and hexadecimal strings are stepped over whole so that
// a ">>" inside them does not count. Ends past the balancing ">>", or at the end of the data.
void skipDictionary(MemoryParser &parser) {
    const std::uint8_t *p = parser._cursor;
    const std::uint8_t *const end = parser.getEnd();
    std::size_t open = 0;
    while (p < end) {
        const bool doubled = p + 1 < end && p[1] == *p;
        if (*p == '<' && doubled) {
            ++open;
            p += 2;
        } else if (*p == '>' && doubled) {
            p += 2;
            if (--open == 0)
                break;
        } else if (*p == '(') {
            p = skipLiteral(p, end);
        } else if (*p == '<') {
            p = std::find(p, end, '>');
            p += p < end ? 1 : 0;
        } else {
            ++p;
        }
    }
    parser._cursor = p;
}

// Collects the array whose "[" is at the cursor up to its balancing "]", or to the end of the
// data. Brackets inside literal and hexadecimal strings do not count (ISO 32000-1, 7.3.6):
// an /ID such as [(\335[\207) (...)] must not swallow the rest of a trailer.
void readArray(MemoryParser &parser, Bytes &out) {
    const std::uint8_t *const start = parser._cursor;
    const std::uint8_t *const end = parser.getEnd();
    const std::uint8_t *p = start;
    std::size_t depth = 0;
    while (p < end) {
        if (*p == '(') {
            p = skipLiteral(p, end);
        } else if (*p == '<' && !(p + 1 < end && p[1] == '<')) {
            p = std::find(p, end, '>');
            p += p < end ? 1 : 0;
        } else {
            if (*p == '[')
                ++depth;
            else if (*p == ']')
                --depth;
            ++p;
            if (depth == 0)
                break;
        }
    }
    out.assign(start, p);
    parser._cursor = p;
}

} // namespace

int hexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

PDFResult PDFDictionary::parse(MemoryParser &parser, std::uint64_t offset) {
    if (offset != kAtCursor)
        parser.seek(offset);
    std::size_t foldBudget = limits::kMaxFoldedKeyBytes;
    return parseAt(parser, 1, foldBudget);
}

PDFResult PDFDictionary::parseValue(MemoryParser &parser, const std::string &key) {
    std::size_t foldBudget = limits::kMaxFoldedKeyBytes;
    return parseValueAt(parser, key, 0, foldBudget);
}

PDFResult PDFDictionary::parseAt(MemoryParser &parser, int depth, std::size_t &foldBudget) {
    if (parser.skipPast("<<") == 0)
        return PDFResult::Unspecified;
    // Every pass steps over at least the "/" of a key, so the loop ends.
    while (!parser.atEnd()) {
        parser.skipUntil(kEntryStart);
        if (parser.atEnd())
            break;
        if (*parser._cursor == '>') {
            // A single ">" ends the dictionary too, but stays for the enclosing one to see.
            if (parser._cursor + 1 < parser.getEnd() && parser._cursor[1] == '>')
                parser._cursor += 2;
            break;
        }
        ++parser._cursor;
        const auto *keyStart = reinterpret_cast<const char *>(parser._cursor);
        const std::size_t keyLength = parser.skipUntil(kKeyDelimiters);
        parser.skipWhitespace();
        parseValueAt(parser, std::string(keyStart, keyLength), depth, foldBudget);
    }
    return PDFResult::Ok;
}

PDFResult PDFDictionary::parseValueAt(MemoryParser &parser, const std::string &key, int depth,
                                      std::size_t &foldBudget) {
    if (isNameValued(key)) {
        while (!parser.atEnd() && *parser._cursor == '/')
            ++parser._cursor;
    }

    const int first = parser.atEnd() ? -1 : *parser._cursor;
    Bytes collected;
    PDFValue value;

    if (first == '/' || first == '>') {
        // The cursor stays: a name here is read as the next key.
        insert(key, std::move(value));
        return PDFResult::Ok;
    }
    if (first == '<' && parser._cursor + 1 < parser.getEnd() && parser._cursor[1] == '<') {
        if (depth >= limits::kMaxDictionaryDepth) {
            skipDictionary(parser);
            insert(key, std::move(value));
            return PDFResult::Ok;
        }
        PDFDictionary nested;
        nested.parseAt(parser, depth + 1, foldBudget);
        value.text = decimalText(nested.size());
        insert(key, std::move(value));
        fold(key, nested, foldBudget);
        return PDFResult::Ok;
    }

    switch (first) {
    case '(': {
        const std::uint8_t *const start = parser._cursor;
        parser._cursor = skipLiteral(start, parser.getEnd());
        collected.assign(start, parser._cursor);
        unescapeLiteral(withoutDelimiters(collected), value.text, false);
        break;
    }
    case '<':
        parser.readBalanced(collected, '<', '>');
        decodeHexString(withoutDelimiters(collected), value.text);
        break;
    case '[':
        readArray(parser, collected);
        unescapeLiteral(withoutDelimiters(collected), value.text, true);
        break;
    default: {
        parser.readUntilDelimiter(collected);
        if (first >= 0 && isDigit(static_cast<std::uint8_t>(first))) {
            std::uint32_t object = 0, generation = 0;
            char keyword = 0;
            const std::string_view token(reinterpret_cast<const char *>(collected.data()),
                                         collected.size());
            value.isReference = MemoryParser::scanText(token, "%lu %lu %c",
                                                       {&object, &generation, &keyword}) == 3 &&
                                keyword == 'R';
        }
        unescapeLiteral(collected, value.text, true);
        break;
    }
    }
    insert(key, std::move(value));
    return PDFResult::Ok;
}

void PDFDictionary::fold(const std::string &key, PDFDictionary &nested, std::size_t &foldBudget) {
    const std::string prefix = key + '.';
    // The nested keys arrive in order and share the prefix, so each lands right after the last.
    auto hint = _entries.lower_bound(prefix);
    while (!nested._entries.empty()) {
        auto node = nested._entries.extract(nested._entries.begin());
        const std::size_t length = prefix.size() + node.key().size();
        if (length > foldBudget) {
            foldBudget = 0;
            return;
        }
        foldBudget -= length;
        node.key().insert(0, prefix);
        hint = std::next(_entries.insert(hint, std::move(node)));
    }
}

std::u16string PDFDictionary::getString(const std::string &key,
                                        std::u16string_view fallback) const {
    const PDFValue *value = find(key);
    return value ? value->text : std::u16string(fallback);
}

std::int32_t PDFDictionary::getInt(const std::string &key, std::int32_t fallback) const {
    const PDFValue *value = find(key);
    if (!value)
        return fallback;
    // wcstol in base 10 with a 32-bit long: saturates instead of failing.
    const std::u16string &text = value->text;
    std::size_t i = 0;
    while (i < text.size() && isCSpace(text[i]))
        ++i;
    const bool negative = i < text.size() && text[i] == u'-';
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        ++i;
    const std::int64_t limit = negative ? -std::int64_t{INT32_MIN} : INT32_MAX;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        magnitude = std::min(limit, magnitude * 10 + (text[i] - u'0'));
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::uint64_t PDFDictionary::getUInt(const std::string &key) const {
    if (!contains(key))
        return UINT64_MAX;
    return static_cast<std::uint32_t>(getInt(key, 0));
}

void PDFDictionary::getUIntArray(const std::string &key, std::vector<std::uint32_t> &out) const {
    const PDFValue *value = find(key);
    if (!value)
        return;
    // Extraction as std::istream >> std::uint32_t does it: a magnitude beyond 32 bits fails, a
    // minus sign negates modulo 2^32, and the first failure ends the list.
    const std::u16string &text = value->text;
    std::size_t i = 0;
    while (true) {
        while (i < text.size() && isCSpace(text[i]))
            ++i;
        const bool negative = i < text.size() && text[i] == u'-';
        if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
            ++i;
        const std::size_t digitsStart = i;
        std::uint64_t magnitude = 0;
        for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
            magnitude = std::min<std::uint64_t>(magnitude * 10 + (text[i] - u'0'),
                                                std::uint64_t{UINT32_MAX} + 1);
        if (i == digitsStart || magnitude > UINT32_MAX)
            return;
        const auto number = static_cast<std::uint32_t>(magnitude);
        out.push_back(negative ? 0U - number : number);
    }
}

Bytes PDFDictionary::getBytes(const std::string &key) const {
    Bytes bytes;
    if (const PDFValue *value = find(key)) {
        bytes.reserve(value->text.size());
        for (const char16_t unit : value->text)
            bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    }
    return bytes;
}

void PDFDictionary::merge(const PDFDictionary &other) {
    for (const auto &[key, value] : other._entries)
        _entries.insert_or_assign(key, value);
}

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

} // namespace vellumtag
