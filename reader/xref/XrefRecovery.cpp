#include "xref/XrefRecovery.h"

#include <algorithm>
#include <array>

#include "syntax/IntegerText.h"
#include "syntax/Limits.h"
#include "syntax/PDFNames.h"
#include "syntax/Tokenizer.h"

namespace vellumtag {

namespace {

constexpr std::uint64_t kTrailerLength = 7;

bool isSpace(int c) {
    return c >= 0 && characters::kPdfWhitespace.contains(static_cast<std::uint8_t>(c));
}

bool isDelimiter(int c) {
    return c >= 0 && characters::kDelimiters.contains(static_cast<std::uint8_t>(c));
}

// The trailer entries that the rebuilt index needs (ISO 32000-1, 7.5.5, table 15).
constexpr std::string_view kTrailerKeys[] = {names::kRoot, names::kInfo, names::kEncrypt,
                                             names::kId};

// Steps over the end of line after "stream" (7.3.8.1): CR LF, LF, or a lone CR.
void skipLineEnd(MemoryParser &parser) {
    if (parser.peek() == '\r')
        parser.advance();
    if (parser.peek() == '\n')
        parser.advance();
}

} // namespace

XrefRecovery::Result XrefRecovery::scan(MemoryParser &parser, std::uint64_t from) {
    XrefRecovery recovery(parser);
    std::vector<ObjectIndex::Item> headers;
    // Trailers and headers are taken in the order they lie in the file, so that the last
    // trailer's entries and the last header of a number win.
    Header next = recovery.nextHeader(from);
    std::uint64_t trailer = parser.find(names::kTrailer, from, recovery._size);
    for (;;) {
        if (trailer < next.start) {
            const std::uint64_t following =
                parser.find(names::kTrailer, trailer + kTrailerLength, recovery._size);
            parser.seek(trailer + kTrailerLength);
            if (Tokenizer(parser).skipBlanksWithin(limits::kMaxBlankRun) &&
                parser.startsWith(names::kDictionaryStart)) {
                PDFDictionary dictionary;
                recovery.parseBefore(std::min(next.start, following), dictionary);
                recovery.takeTrailer(dictionary);
            }
            trailer = following;
            continue;
        }
        if (next.start >= recovery._size)
            break;
        if (headers.size() >= limits::kMaxRecoveredObjects) {
            recovery._result.complete = false;
            break;
        }
        const Header header = next;
        headers.emplace_back(header.number, XrefEntry{header.start});
        next = recovery.nextHeader(header.end);
        const std::uint64_t resume = recovery.examine(header, std::max(next.start, header.end));
        // What lay in stepped-over stream data was not structure.
        if (next.start < resume)
            next = recovery.nextHeader(resume);
        if (trailer < resume)
            trailer = parser.find(names::kTrailer, resume, recovery._size);
    }
    return recovery.finish(std::move(headers));
}

XrefRecovery::Header XrefRecovery::nextHeader(std::uint64_t from) {
    Header header{_size, _size, 0};
    while (from < _size) {
        const std::uint64_t obj = _parser.find(names::kObj, from, _size);
        if (obj >= _size)
            break;
        if (headerAt(obj, header))
            return header;
        from = obj + names::kObj.size();
    }
    return Header{_size, _size, 0};
}

bool XrefRecovery::headerAt(std::uint64_t obj, Header &header) {
    // "obj" is a keyword of its own: the data end, or white space or a delimiter follows.
    _parser.seek(obj + names::kObj.size());
    const int after = _parser.peek();
    if (after >= 0 && !isSpace(after) && !isDelimiter(after))
        return false;

    // Before it, read backwards: white space, the generation's digits, white space, the
    // object number's digits, and white space, a delimiter or the start of the data.
    std::array<std::uint8_t, 48> before;
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(obj, before.size()));
    _parser.seek(obj - n);
    for (std::size_t i = 0; i < n; ++i)
        before[i] = static_cast<std::uint8_t>(_parser.peek(i));
    std::size_t at = n;
    const auto skip = [&](auto test, std::size_t most) {
        const std::size_t end = at;
        while (at > 0 && end - at < most && test(before[at - 1]))
            --at;
        return end - at;
    };
    const auto digit = [](std::uint8_t c) { return isDigit(c); };
    const auto space = [](std::uint8_t c) { return isSpace(c); };
    if (skip(space, n) == 0 || skip(digit, 10) == 0 || skip(space, n) == 0)
        return false;
    const std::size_t numberEnd = at;
    if (skip(digit, 10) == 0)
        return false;
    // Digits or white space may go on beyond what was read: the number's start is not known.
    if (at == 0 ? obj > n : !isSpace(before[at - 1]) && !isDelimiter(before[at - 1]))
        return false;
    // A header on a comment line, such as the "% 7 0 obj" lines that some writers put into
    // uncompressed object streams, is no header (ISO 32000-1, 7.2.4). A "%" elsewhere on the
    // line may lie in a string: only a line that begins with one counts.
    std::size_t lineStart = at;
    while (lineStart > 0 && !characters::kLineEnds.contains(before[lineStart - 1]))
        --lineStart;
    if (lineStart > 0 || obj == n) {
        while (lineStart < at && isSpace(before[lineStart]))
            ++lineStart;
        if (lineStart < at && before[lineStart] == '%')
            return false;
    }
    IntegerText number;
    number.appendDigits(std::span<const std::uint8_t>(before.data() + at, numberEnd - at));
    if (number.exceeds(UINT32_MAX - 1))
        return false;
    header = Header{obj - n + at, obj + names::kObj.size(),
                    static_cast<std::uint32_t>(number.magnitude())};
    return true;
}

std::uint64_t XrefRecovery::examine(const Header &header, std::uint64_t bound) {
    _parser.seek(header.end);
    Tokenizer tokens(_parser);
    if (!tokens.skipBlanksWithin(limits::kMaxBlankRun) || _parser.offset() >= bound ||
        !_parser.startsWith(names::kDictionaryStart))
        return header.end;
    PDFDictionary dictionary;
    parseBefore(bound, dictionary);
    const std::u16string type = dictionary.getString(names::kType, u"");
    if (type == names::kObjStmType)
        _objectStreams.emplace_back(header.number, XrefEntry{header.start});
    else if (type == names::kCatalogType)
        _catalogs.emplace_back(header.number, XrefEntry{header.start});
    else if (type == names::kXRefType)
        takeTrailer(dictionary);
    else if (dictionary.getString(names::kFilter, u"") == names::kStandard &&
             dictionary.contains(names::kO) && dictionary.contains(names::kU))
        _result.encryptionFound = true;

    // Stream data (7.3.8.1) are stepped over when "endstream" follows where a direct /Length
    // says they end; otherwise they are scanned like any other bytes.
    tokens.skipBlanksWithin(limits::kMaxBlankRun);
    const PDFValue *lengthValue = dictionary.find(names::kLength);
    if (!_parser.skipKeyword(names::kStream) || lengthValue == nullptr || lengthValue->isReference)
        return header.end;
    skipLineEnd(_parser);
    const std::optional<std::uint64_t> length = dictionary.getUInt64(names::kLength);
    const std::uint64_t start = _parser.offset();
    if (!length || *length > _size - start)
        return header.end;
    _parser.seek(start + *length);
    _parser.skipWhile(characters::kPdfWhitespace, limits::kMaxBlankRun);
    return _parser.skipKeyword(names::kEndstream) ? _parser.offset() : header.end;
}

void XrefRecovery::parseBefore(std::uint64_t bound, PDFDictionary &dictionary) {
    const std::uint64_t end = _parser.setEnd(bound);
    static_cast<void>(dictionary.parse(_parser));
    _parser.setEnd(end);
}

void XrefRecovery::takeTrailer(const PDFDictionary &dictionary) {
    PDFDictionary &trailer = _result.trailer;
    for (const std::string_view key : kTrailerKeys) {
        const PDFValue *value = dictionary.find(key);
        if (value == nullptr)
            continue;
        // The value replaces the one before, and so do the entries of a dictionary written in
        // its place (folded under "key.").
        PDFDictionary kept;
        for (const auto &[name, entry] : trailer) {
            if (name != key &&
                !(name.starts_with(key) && name.size() > key.size() && name[key.size()] == '.'))
                kept.set(name, entry);
        }
        kept.set(std::string(key), *value);
        for (const auto &[name, entry] : dictionary.nested(key))
            kept.set(std::string(key) + '.' + name, entry);
        trailer = std::move(kept);
    }
}

XrefRecovery::Result XrefRecovery::finish(std::vector<ObjectIndex::Item> headers) {
    // By number, and of equal numbers the last in the file, which has the highest offset.
    std::sort(headers.begin(), headers.end(), [](const auto &a, const auto &b) {
        return a.first != b.first ? a.first < b.first : a.second.offset < b.second.offset;
    });
    std::vector<ObjectIndex::Item> &objects = _result.objects;
    for (std::size_t i = 0; i < headers.size(); ++i) {
        if (i + 1 == headers.size() || headers[i + 1].first != headers[i].first)
            objects.push_back(headers[i]);
    }
    // Only headers that won their number count as object streams and catalogs.
    const auto won = [&objects](const ObjectIndex::Item &header) {
        const auto it =
            std::lower_bound(objects.begin(), objects.end(), header,
                             [](const auto &a, const auto &b) { return a.first < b.first; });
        return it != objects.end() && it->first == header.first &&
               it->second.offset == header.second.offset;
    };
    for (const ObjectIndex::Item &header : _objectStreams) {
        if (won(header))
            _result.objectStreams.push_back(header.first);
    }
    for (const ObjectIndex::Item &header : _catalogs) {
        if (won(header))
            _result.catalogs.push_back(header.first);
    }
    return std::move(_result);
}

} // namespace vellumtag
