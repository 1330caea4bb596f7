#include "syntax/PDFDictionary.h"

#include <algorithm>
#include <iterator>

#include "syntax/IntegerText.h"
#include "syntax/MemorySource.h"
#include "syntax/PDFNames.h"
#include "syntax/TextEncoding.h"

namespace vellumtag {

namespace {

// Bytes that end a key. ")", "]", "{", "}", "%", form feed and NUL do not: they become part of
// the name as written.
constexpr CharacterClass kKeyDelimiters("/<> ([\r\n\t");

// Stepping from one entry to the next ignores everything but these.
constexpr CharacterClass kEntryStart("/>");

// Under these keys a name is the value (ISO 32000-1, 7.3.5); under any other key a name is
// taken as the next key, so that values such as "/Trapped /False" read as two keys. The crypt
// filter keys (7.6.5) name the filters that decryption needs.
bool isNameValued(std::string_view key) {
    return key == names::kFilter || key == names::kType || key == names::kSubtype ||
           key == names::kCFM || key == names::kStmF || key == names::kStrF || key == names::kEFF;
}

std::span<const std::uint8_t> withoutDelimiters(const Bytes &collected) {
    if (collected.size() < 2)
        return {};
    return std::span<const std::uint8_t>(collected).subspan(1, collected.size() - 2);
}

std::u16string decimalText(std::size_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

} // namespace

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
    if (parser.skipPast(names::kDictionaryStart) == 0)
        return PDFResult::Unspecified;
    // Every pass steps over at least the "/" of a key, so the loop ends.
    std::string key;
    while (!parser.atEnd()) {
        parser.skipUntil(kEntryStart);
        const int c = parser.peek();
        if (c < 0)
            break;
        if (c == '>') {
            // A single ">" ends the dictionary too, but stays for the enclosing one to see.
            if (parser.peek(1) == '>')
                parser.advance(2);
            break;
        }
        parser.advance();
        key.clear();
        parser.readUntil(kKeyDelimiters, key);
        parser.skipWhitespace();
        parseValueAt(parser, key, depth, foldBudget);
    }
    return PDFResult::Ok;
}

PDFResult PDFDictionary::parseValueAt(MemoryParser &parser, const std::string &key, int depth,
                                      std::size_t &foldBudget) {
    if (isNameValued(key)) {
        while (parser.peek() == '/')
            parser.advance();
    }

    const int first = parser.peek();
    Bytes collected;
    PDFValue value;

    if (first == '/' || first == '>') {
        // The cursor stays: a name here is read as the next key.
        insert(key, std::move(value));
        return PDFResult::Ok;
    }
    if (first == '<' && parser.peek(1) == '<') {
        if (depth >= limits::kMaxDictionaryDepth) {
            parser.skipDictionary();
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
    case '(':
        parser.readLiteralString(collected);
        value.raw = unescapeLiteral(withoutDelimiters(collected));
        bytesToText(value.raw, value.text);
        break;
    case '<':
        parser.readBalanced(collected, '<', '>');
        value.raw = decodeHexString(withoutDelimiters(collected));
        bytesToText(value.raw, value.text);
        break;
    case '[':
        parser.readArray(collected);
        unescapeLiteral(withoutDelimiters(collected), value.text, true);
        break;
    default: {
        parser.readUntilDelimiter(collected);
        if (first >= 0 && isDigit(first)) {
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

std::u16string PDFDictionary::getString(std::string_view key, std::u16string_view fallback) const {
    const PDFValue *value = find(key);
    return value ? value->text : std::u16string(fallback);
}

std::int32_t PDFDictionary::getInt(std::string_view key, std::int32_t fallback) const {
    const PDFValue *value = find(key);
    if (!value)
        return fallback;
    std::size_t pos = 0;
    return IntegerText::read(value->text, pos).toInt32();
}

std::uint64_t PDFDictionary::getUInt(std::string_view key) const {
    if (!contains(key))
        return UINT64_MAX;
    return static_cast<std::uint32_t>(getInt(key, 0));
}

std::optional<std::uint64_t> PDFDictionary::getUInt64(std::string_view key) const {
    const PDFValue *value = find(key);
    if (!value)
        return std::nullopt;
    std::size_t pos = 0;
    const IntegerText number = IntegerText::read(value->text, pos);
    if (!number.hasDigits() || number.negative() || number.exceeds(UINT64_MAX))
        return std::nullopt;
    return number.magnitude();
}

std::optional<std::uint32_t> PDFDictionary::getReference(std::string_view key) const {
    const PDFValue *value = find(key);
    if (!value || !value->isReference)
        return std::nullopt;
    std::size_t pos = 0;
    return static_cast<std::uint32_t>(IntegerText::read(value->text, pos).toUnsigned(UINT32_MAX));
}

bool PDFDictionary::hasNested(std::string_view key) const {
    std::string prefix(key);
    prefix += '.';
    const auto it = _entries.lower_bound(prefix);
    return it != _entries.end() && it->first.starts_with(prefix);
}

PDFDictionary PDFDictionary::nested(std::string_view key) const {
    std::string prefix(key);
    prefix += '.';
    PDFDictionary entries;
    for (auto it = _entries.lower_bound(prefix);
         it != _entries.end() && it->first.starts_with(prefix); ++it)
        entries._entries.emplace_hint(entries._entries.end(), it->first.substr(prefix.size()),
                                      it->second);
    return entries;
}

PDFDictionary PDFDictionary::dictionaryValue(std::string_view key) const {
    if (hasNested(key))
        return nested(key);
    PDFDictionary entries;
    // An array keeps its source text: its first "<<" starts the dictionary.
    const Bytes text = getBytes(key);
    if (std::search(text.begin(), text.end(), names::kDictionaryStart.begin(),
                    names::kDictionaryStart.end()) != text.end()) {
        MemorySource source(text);
        MemoryParser parser(source);
        static_cast<void>(entries.parse(parser));
    }
    return entries;
}

void PDFDictionary::getUIntArray(std::string_view key, std::vector<std::uint32_t> &out) const {
    const PDFValue *value = find(key);
    if (!value)
        return;
    // Extraction as std::istream >> std::uint32_t does it: a magnitude beyond 32 bits fails, a
    // minus sign negates modulo 2^32, and the first failure ends the list.
    std::size_t pos = 0;
    for (;;) {
        const IntegerText number = IntegerText::read(value->text, pos);
        if (!number.hasDigits() || number.exceeds(UINT32_MAX))
            return;
        out.push_back(static_cast<std::uint32_t>(number.toUnsigned(UINT32_MAX)));
    }
}

Bytes PDFDictionary::getBytes(std::string_view key) const {
    Bytes bytes;
    if (const PDFValue *value = find(key)) {
        if (value->isString())
            return value->raw;
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

} // namespace vellumtag
