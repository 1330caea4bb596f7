#include "syntax/PDFDictionary.h"

#include <algorithm>
#include <iterator>

#include "syntax/IntegerText.h"
#include "syntax/MemorySource.h"
#include "syntax/PDFNames.h"
#include "syntax/TextEncoding.h"
#include "syntax/Tokenizer.h"

namespace vellumtag {

namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t *>(text.data()), text.size()};
}

std::span<const std::uint8_t> withoutDelimiters(const Bytes &collected) {
    if (collected.size() < 2)
        return {};
    // An array cut by the end of the data lacks its closing bracket.
    const std::size_t close = collected.back() == ']' ? 1 : 0;
    return std::span<const std::uint8_t>(collected).subspan(1, collected.size() - 1 - close);
}

std::u16string decimalText(std::size_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

std::u16string asciiText(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// Keywords of the file structure that never stand inside a dictionary (ISO 32000-1, 7.3.8,
// 7.3.10, 7.5): one of them where an entry or a value should be means that the dictionary
// was never closed, and it ends there, the keyword left for what reads on.
bool endsDictionary(std::string_view keyword) {
    return keyword == "endobj" || keyword == "stream" || keyword == "endstream" ||
           keyword == "xref" || keyword == "trailer" || keyword == "startxref";
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
    Tokenizer tokens(parser);
    parseValueAt(tokens, key, 0, foldBudget);
    return PDFResult::Ok;
}

PDFResult PDFDictionary::parseAt(MemoryParser &parser, int depth, std::size_t &foldBudget) {
    Tokenizer tokens(parser);
    // The dictionary is the next object; failing that, the first "<<" on, whatever stands
    // before it.
    if (tokens.peek() == Tokenizer::Kind::DictionaryStart)
        parser.advance(2);
    else if (parser.skipPast(names::kDictionaryStart) == 0)
        return PDFResult::Unspecified;
    // Every pass steps over at least one token, so the loop ends.
    for (;;) {
        const Tokenizer::Kind kind = tokens.peek();
        if (kind == Tokenizer::Kind::End)
            break;
        if (kind == Tokenizer::Kind::DictionaryEnd) {
            parser.advance(2);
            break;
        }
        if (kind == Tokenizer::Kind::Stray && parser.peek() == '>') {
            // A single ">" ends the dictionary too, but stays for the enclosing one to see.
            break;
        }
        if (kind != Tokenizer::Kind::Name) {
            // Anything else is no key: it is stepped over whole, unless it is structure.
            const std::uint64_t at = parser.offset();
            if (kind == Tokenizer::Kind::Keyword && endsDictionary(tokens.next().text)) {
                parser.seek(at);
                break;
            }
            parser.seek(at);
            tokens.skipObject();
            continue;
        }
        std::string key = tokens.next().text;
        if (!parseValueAt(tokens, key, depth, foldBudget))
            break;
    }
    return PDFResult::Ok;
}

bool PDFDictionary::parseValueAt(Tokenizer &tokens, const std::string &key, int depth,
                                 std::size_t &foldBudget) {
    MemoryParser &parser = tokens.parser();
    PDFValue value;
    const Tokenizer::Kind kind = tokens.peek();
    switch (kind) {
    case Tokenizer::Kind::End:
    case Tokenizer::Kind::DictionaryEnd:
    case Tokenizer::Kind::ArrayEnd:
        // Nothing: the key has the empty text, and the cursor stays for the dictionary.
        break;
    case Tokenizer::Kind::DictionaryStart: {
        value.kind = PDFValue::Kind::Dictionary;
        if (depth >= limits::kMaxDictionaryDepth) {
            parser.skipDictionary();
            break;
        }
        PDFDictionary nested;
        nested.parseAt(parser, depth + 1, foldBudget);
        value.text = decimalText(nested.size());
        insert(key, std::move(value));
        fold(key, nested, foldBudget);
        return true;
    }
    case Tokenizer::Kind::ArrayStart: {
        // Arrays keep their source text: as written, and the text with escapes resolved.
        Bytes collected;
        parser.readArray(collected);
        const std::span<const std::uint8_t> content = withoutDelimiters(collected);
        unescapeLiteral(content, value.text, true);
        value.raw.assign(content.begin(), content.end());
        value.kind = PDFValue::Kind::Array;
        break;
    }
    case Tokenizer::Kind::LiteralString:
        value.raw = unescapeLiteral(bytesOf(tokens.next().text));
        bytesToText(value.raw, value.text);
        value.kind = PDFValue::Kind::String;
        break;
    case Tokenizer::Kind::HexString:
        value.raw = decodeHexString(bytesOf(tokens.next().text));
        bytesToText(value.raw, value.text);
        value.kind = PDFValue::Kind::String;
        break;
    case Tokenizer::Kind::Name: {
        // Some writers double the slash ("/Subtype//XML"): an empty name right before another
        // name stands for nothing.
        std::string name = tokens.next().text;
        while (name.empty() && parser.peek() == '/')
            name = tokens.next().text;
        // ISO 32000-1, 7.3.5: a name's bytes are UTF-8 by convention.
        value.text = decodeUtf8(bytesOf(name));
        value.kind = PDFValue::Kind::Name;
        break;
    }
    case Tokenizer::Kind::Number: {
        std::string number = tokens.next().text;
        std::string generation;
        if (Tokenizer::isInteger(number) && number[0] != '-' && number[0] != '+' &&
            tokens.referenceFollows(generation)) {
            value.isReference = true;
            number += ' ';
            number += generation;
            number += " R";
        } else {
            value.kind = PDFValue::Kind::Number;
        }
        value.text = asciiText(number);
        break;
    }
    case Tokenizer::Kind::Keyword:
    case Tokenizer::Kind::Stray: {
        const std::uint64_t at = parser.offset();
        const Tokenizer::Token token = tokens.next();
        if (kind == Tokenizer::Kind::Keyword && endsDictionary(token.text)) {
            parser.seek(at);
            insert(key, std::move(value));
            return false;
        }
        if (token.text == ">") {
            parser.seek(at);
            break;
        }
        bytesToText(bytesOf(token.text), value.text);
        break;
    }
    }
    insert(key, std::move(value));
    return true;
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

void PDFDictionary::setNested(const std::string &key, const PDFDictionary &entries) {
    set(key, PDFValue{decimalText(entries.size()), false, {}, PDFValue::Kind::Dictionary});
    for (const auto &[name, value] : entries)
        set(key + '.' + name, value);
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
    const PDFValue *value = find(key);
    const Bytes text =
        value != nullptr && value->kind == PDFValue::Kind::Array ? value->raw : getBytes(key);
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
