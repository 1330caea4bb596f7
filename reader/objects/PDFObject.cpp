#include "objects/PDFObject.h"

#include <algorithm>

#include "objects/FlateStream.h"
#include "syntax/MemorySource.h"
#include "syntax/PDFNames.h"
#include "syntax/Tokenizer.h"

namespace vellumtag {

using namespace std::string_view_literals;

namespace {

// ISO 32000-1, 7.3.8.1: "stream" is followed by CR LF or LF, and the data begin after it.
// Blanks before the line end, and a lone CR, are tolerated; the data's own first bytes, which
// may be anything once encrypted or compressed, are never taken for more of the line end.
void skipStreamLineEnd(MemoryParser &parser) {
    static constexpr CharacterClass kSpace(" ");
    const std::uint64_t start = parser.offset();
    parser.skipWhile(kSpace);
    bool lineEnd = false;
    if (parser.peek() == '\r') {
        parser.advance();
        lineEnd = true;
    }
    if (parser.peek() == '\n') {
        parser.advance();
        lineEnd = true;
    }
    if (!lineEnd)
        parser.seek(start);
}

} // namespace

PDFResult PDFObject::read(const ObjectContext &context, std::uint64_t offset) {
    bool stream = false;
    const PDFResult result = readStored(context, offset, stream);
    if (result != PDFResult::Ok || !stream)
        return result;
    return decode(context.budget);
}

PDFResult PDFObject::readStored(const ObjectContext &context, std::uint64_t offset, bool &stream) {
    MemoryParser &parser = context.parser;
    stream = false;
    _data.clear();
    _dictionary.clear();
    _value = PDFValue{};
    if (offset != kAtCursor)
        parser.seek(offset);

    Tokenizer tokens(parser);
    if (!tokens.readObjectHeader(_objectNumber, _generation))
        return PDFResult::ObjectNotFound;
    const Tokenizer::Kind kind = tokens.peek();
    if (kind == Tokenizer::Kind::End)
        return PDFResult::ObjectContentUnreadable;
    if (kind != Tokenizer::Kind::DictionaryStart)
        return readDirectValue(parser);

    if (_dictionary.parse(parser) != PDFResult::Ok)
        return PDFResult::DictionaryUnreadable;
    // ISO 32000-1, 7.3.8.1: "stream" follows the dictionary after white space (comments
    // included, 7.2.3), of which some writers (LuaTeX among them) put more than a few bytes.
    // Failing that, it is looked for in the next few bytes, whatever they hold.
    const std::uint64_t afterDictionary = parser.offset();
    if (!tokens.skipBlanksWithin(limits::kMaxBlankRun) || !parser.skipKeyword(names::kStream)) {
        parser.seek(afterDictionary);
        if (parser.skipPast(names::kStream, 10) == 0) {
            parser.seek(afterDictionary);
            return PDFResult::Ok;
        }
    }
    skipStreamLineEnd(parser);
    stream = true;

    const std::uint64_t start = parser.offset();
    const std::optional<std::uint64_t> length = streamLength(context, start);
    if (!length)
        return PDFResult::BadValue;
    if (*length > streamLimit(context.budget))
        return PDFResult::BadValue;
    parser.seek(start);
    parser.readBytes(static_cast<std::size_t>(*length), _data);
    // Data that cannot be decrypted are never taken for what they hold.
    if (context.decryptor != nullptr) {
        const PDFResult decrypted =
            context.decryptor->decryptStream(_data, _objectNumber, _generation, _dictionary);
        if (decrypted != PDFResult::Ok) {
            _data.clear();
            return decrypted;
        }
    }
    return PDFResult::Ok;
}

PDFResult PDFObject::decode(StreamBudget *budget, std::size_t expected) {
    // Only FlateDecode is known; any other filter ends the decoding of this stream. The size
    // expected is that of the last filter's output.
    PDFResult result = PDFResult::Ok;
    const std::size_t limit = streamLimit(budget);
    const std::vector<std::u16string> list = filters();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i] != names::kFlateDecode) {
            result = PDFResult::BadValue;
            break;
        }
        result = flateDecode(_data, limit, i + 1 == list.size() ? expected : 0);
        if (result != PDFResult::Ok)
            break;
    }
    if (budget != nullptr)
        budget->spend(_data.size());
    return result;
}

std::vector<std::u16string> PDFObject::filters() const {
    // ISO 32000-1, 7.3.8.2: /Filter is a name or an array of names, applied in order. A /Crypt
    // filter first (7.4.10) is the decryptor's, applied when the data were read.
    std::vector<std::u16string> list = filterNames(_dictionary.getString(names::kFilter, u""));
    if (!list.empty() && list.front() == names::kCrypt)
        list.erase(list.begin());
    return list;
}

std::size_t PDFObject::streamLimit(const StreamBudget *budget) {
    return std::min(limits::kMaxStreamBytes, budget != nullptr ? budget->left() : SIZE_MAX);
}

std::vector<std::u16string> PDFObject::filterNames(std::u16string_view text) {
    static constexpr CharacterClass kSeparators("/[] \t\r\n\f"sv);
    // The abbreviations of inline images (ISO 32000-1, 8.9.7, table 94), which some writers use
    // for streams too, as viewers read them.
    static constexpr std::pair<std::u16string_view, std::u16string_view> kAbbreviations[] = {
        {u"AHx", u"ASCIIHexDecode"},  {u"A85", u"ASCII85Decode"},  {u"LZW", u"LZWDecode"},
        {u"Fl", names::kFlateDecode}, {u"RL", u"RunLengthDecode"}, {u"CCF", u"CCITTFaxDecode"},
        {u"DCT", u"DCTDecode"}};
    std::vector<std::u16string> filters;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && kSeparators.contains(text[at]))
            ++at;
        std::size_t end = at;
        while (end < text.size() && !kSeparators.contains(text[end]))
            ++end;
        if (end > at) {
            std::u16string_view name = text.substr(at, end - at);
            for (const auto &[abbreviation, full] : kAbbreviations) {
                if (name == abbreviation)
                    name = full;
            }
            filters.emplace_back(name);
        }
        at = end;
    }
    return filters;
}

std::optional<std::uint64_t> PDFObject::streamLength(const ObjectContext &context,
                                                     std::uint64_t start) const {
    MemoryParser &parser = context.parser;
    std::optional<std::uint64_t> declared;
    if (const PDFValue *value = _dictionary.find(names::kLength)) {
        if (!value->isReference)
            declared = _dictionary.getUInt64(names::kLength);
        else if (const auto number = _dictionary.getReference(names::kLength))
            declared = lengthObject(context, *number);
    }
    // 7.3.8.1: the data are followed by an end of line and "endstream". Where that is not so
    // after /Length bytes, or /Length is missing, the data end at the keyword.
    const std::uint64_t available = parser.size() - start;
    if (declared && *declared <= available) {
        parser.seek(start + *declared);
        parser.skipWhile(characters::kPdfWhitespace, limits::kMaxBlankRun);
        const std::uint64_t at = parser.offset();
        if (parser.find(names::kEndstream, at,
                        std::min(at + names::kEndstream.size(), parser.size())) == at)
            return declared;
    }
    const std::uint64_t keyword = parser.find(names::kEndstream, start, parser.size());
    if (keyword >= parser.size()) {
        // No keyword at all: /Length bytes, or what there is of them.
        if (declared)
            return std::min(*declared, available);
        return std::nullopt;
    }
    // The end of line before the keyword belongs to it: CR LF, LF or CR.
    std::uint64_t end = keyword;
    const auto lastIs = [&parser, &end, start](char c) {
        if (end == start)
            return false;
        parser.seek(end - 1);
        return parser.peek() == c;
    };
    if (lastIs('\n')) {
        --end;
        if (lastIs('\r'))
            --end;
    } else if (lastIs('\r')) {
        --end;
    }
    return end - start;
}

std::optional<std::uint64_t> PDFObject::lengthObject(const ObjectContext &context,
                                                     std::uint32_t number) {
    // Only an object in the file itself, and read without following any reference of its own,
    // so that a /Length naming its own stream, or a cycle of them, ends here.
    if (context.xref == nullptr)
        return std::nullopt;
    MemoryParser &parser = context.parser;
    const std::uint64_t kept = parser.offset();
    const std::optional<XrefEntry> entry = context.xref->findEntry(number);
    std::optional<std::uint64_t> length;
    if (entry && !entry->compressed()) {
        parser.seek(entry->offset);
        Tokenizer tokens(parser);
        std::uint32_t found = 0, generation = 0;
        std::uint64_t value = 0;
        std::string referenced;
        // An integer, not the start of a reference.
        if (tokens.readObjectHeader(found, generation) && found == number &&
            tokens.readUnsigned(value) && !tokens.referenceFollows(referenced))
            length = value;
    }
    parser.seek(kept);
    return length;
}

PDFResult PDFObject::readEmbedded(std::span<const std::uint8_t> objectStream, std::uint64_t offset,
                                  std::uint32_t number) {
    _data.clear();
    _dictionary.clear();
    _value = PDFValue{};
    _objectNumber = number;
    _generation = 0;
    _embedded = true;
    MemorySource source(objectStream);
    MemoryParser parser(source);
    parser.seek(offset);
    // Objects may be separated by comments, such as the "% 7 0 obj" lines some writers put
    // before each.
    Tokenizer tokens(parser);
    const Tokenizer::Kind kind = tokens.peek();
    if (kind == Tokenizer::Kind::End)
        return PDFResult::ObjectContentUnreadable;
    if (kind != Tokenizer::Kind::DictionaryStart)
        return readDirectValue(parser);
    return _dictionary.parse(parser) == PDFResult::Ok ? PDFResult::Ok
                                                      : PDFResult::DictionaryUnreadable;
}

PDFResult PDFObject::readDirectValue(MemoryParser &parser) {
    PDFDictionary scratch;
    const PDFResult result = scratch.parseValue(parser, "");
    if (result != PDFResult::Ok)
        return result;
    if (const PDFValue *value = scratch.find("")) {
        _data.reserve(value->text.size());
        for (char16_t unit : value->text)
            _data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        _value = *value;
    }
    return PDFResult::Ok;
}

PDFResult PDFObject::flateDecode(Bytes &bytes, std::size_t limit, std::size_t expected) {
    if (bytes.size() > limits::kMaxStreamBytes)
        return PDFResult::DecompressionFailed;
    FlateStream stream(bytes, expected);
    const PDFResult result = stream.inflateAll(limit);
    if (result == PDFResult::Ok)
        bytes = std::move(stream.output());
    return result;
}

} // namespace vellumtag
