#include "xref/PDFXrefTable.h"

#include <algorithm>
#include <map>
#include <memory>

#include "syntax/IntegerText.h"
#include "syntax/PDFNames.h"
#include "syntax/Tokenizer.h"

namespace vellumtag {

namespace {

// An entry line in its usual form (ISO 32000-1, 7.5.4): ten digits, a space, five digits, a space
// and the keyword. Takes the offset as scanning "%Iu %lu %c" would (three fields) for a fraction
// of the work; false for any other line, which is scanned.
bool readUsualEntry(std::string_view line, std::uint64_t &offset, char &type) {
    if (line.size() < 18 || line[10] != ' ' || line[16] != ' ' ||
        characters::kCSpace.contains(line[17]))
        return false;
    IntegerText number;
    if (number.appendDigits(line.substr(0, 10)) != 10 ||
        IntegerText().appendDigits(line.substr(11, 5)) != 5)
        return false;
    // Ten digits reach beyond 4 GiB: offsets are read in 64 bits.
    offset = number.magnitude();
    type = line[17];
    return true;
}

} // namespace

bool PDFXrefTable::sectionAt(std::uint64_t offset) {
    if (offset >= _file.size())
        return false;
    _file.seek(offset);
    Tokenizer tokens(_file);
    tokens.skipBlanks();
    if (_file.startsWith(names::kXref))
        return true;
    // A cross-reference stream: an object header, and a dictionary of /Type /XRef. Offsets
    // counted from another place may well fall on some other object.
    std::uint32_t number = 0, generation = 0;
    if (!tokens.readObjectHeader(number, generation))
        return false;
    PDFDictionary dictionary;
    return tokens.peek() == Tokenizer::Kind::DictionaryStart &&
           dictionary.parse(_file) == PDFResult::Ok &&
           dictionary.getString(names::kType, u"") == names::kXRefType;
}

PDFResult PDFXrefTable::readSection(std::uint64_t offset) {
    const std::uint64_t at = offset + _shift;
    if (at < offset || at >= _file.size())
        return PDFResult::BadValue;
    _file.seek(at);
    _prevOffset = -1;
    _trailer.erase(names::kPrev);
    _trailer.erase(names::kXRefStm);
    if (_sectionCount >= _maxSections) {
        _chainTooLong = true;
        return PDFResult::XrefNotFound;
    }
    ++_sectionCount;

    Tokenizer(_file).skipBlanks();
    PDFResult result;
    if (_file.startsWith(names::kXref))
        result = readXrefTable();
    else if (const int c = _file.peek(); c < 0 || !isDigit(c))
        return PDFResult::Unspecified;
    else
        result = readXrefStream();

    _prevOffset = static_cast<std::int64_t>(
        std::min<std::uint64_t>(_trailer.getUInt64(names::kPrev).value_or(UINT64_MAX), INT64_MAX));
    if (_prevOffset == INT64_MAX)
        _prevOffset = -1;
    if (_rootObject == -1)
        _rootObject = _trailer.getInt(names::kRoot, -1);
    // An /Info written in place is no object number; the document reads its entries.
    if (_infoObject == -1 && !_trailer.hasNested(names::kInfo))
        _infoObject = _trailer.getInt(names::kInfo, -1);
    return result;
}

PDFResult PDFXrefTable::readXrefTable() {
    LineBuffer line{};
    _file.readLine(line);
    std::vector<ObjectIndex::Item> section;
    // Where the free entries lie in section: few, as a rule.
    std::vector<std::size_t> free;
    std::uint32_t current = 0;
    while (!_file.atEnd()) {
        if (_file.skipKeyword(names::kTrailer))
            break;
        const std::size_t length = _file.readLine(line);
        if (length == 0 || length >= line.size())
            continue;
        std::uint64_t first = 0;
        std::uint32_t second = 0;
        char type = 0;
        const std::string_view text(line.data(), length);
        const int fields =
            readUsualEntry(text, first, type)
                ? 3
                : MemoryParser::scanText(text, "%Iu %lu %c", {&first, &second, &type});
        if (fields == 2) {
            current = static_cast<std::uint32_t>(std::min<std::uint64_t>(first, UINT32_MAX));
        } else if (fields == 3) {
            if (type == 'f')
                free.push_back(section.size());
            section.emplace_back(current, XrefEntry{first});
            ++current;
        }
    }
    static_cast<void>(_trailer.parse(_file));

    // ISO 32000-1, 7.5.8.4: a hybrid file lists its compressed objects in the stream that
    // /XRefStm names, and as free entries (or not at all) in the table.
    const std::optional<std::uint64_t> hidden = _trailer.getUInt64(names::kXRefStm);
    if (!hidden) {
        _offsets.addSection(section);
        return PDFResult::Ok;
    }
    std::vector<ObjectIndex::Item> inUse, freed;
    for (std::size_t i = 0, next = 0; i < section.size(); ++i) {
        const bool isFree = next < free.size() && free[next] == i;
        next += isFree ? 1 : 0;
        (isFree ? freed : inUse).push_back(section[i]);
    }
    _offsets.addSection(inUse);
    // A stream that cannot be read leaves its objects unknown, as if it were not named.
    const std::uint64_t at = *hidden + _shift;
    if (at >= *hidden && at < _file.size()) {
        _file.seek(at);
        PDFDictionary dictionary;
        static_cast<void>(readStreamSection(dictionary));
    }
    if (!freed.empty())
        _offsets.addSection(freed);
    return PDFResult::Ok;
}

PDFResult PDFXrefTable::readStreamSection(PDFDictionary &dictionary) {
    Bytes data;
    PDFResult result = _streams.readStreamObject(_file, dictionary, data);
    // No object there, or one without content: no cross-reference stream at the offset.
    if (result == PDFResult::ObjectNotFound || result == PDFResult::ObjectContentUnreadable)
        return PDFResult::XrefNotFound;
    if (result != PDFResult::Ok)
        return result;
    auto rows = std::make_unique<PDFXrefStreamObject>();
    result = rows->load(dictionary, std::move(data));
    if (result != PDFResult::Ok)
        return result;

    std::vector<std::uint32_t> index;
    dictionary.getUIntArray(names::kIndex, index);
    if (index.empty()) {
        index.push_back(0);
        index.push_back(static_cast<std::uint32_t>(dictionary.getInt(names::kSize, 0)));
    }
    if (index.size() % 2 != 0)
        index.push_back(1);
    _offsets.addStreamSection(std::move(rows), std::move(index));
    return PDFResult::Ok;
}

PDFResult PDFXrefTable::readXrefStream() {
    PDFDictionary dictionary;
    const PDFResult result = readStreamSection(dictionary);
    if (result == PDFResult::Ok)
        _trailer = std::move(dictionary);
    return result;
}

std::optional<XrefEntry> PDFXrefTable::findEntry(std::uint32_t number) {
    for (;;) {
        if (auto entry = _offsets.find(number)) {
            if (!entry->compressed())
                entry->offset += _shift;
            return entry;
        }
        if (_prevOffset == -1)
            return std::nullopt;
        if (readSection(static_cast<std::uint64_t>(_prevOffset)) != PDFResult::Ok)
            return std::nullopt;
    }
}

std::int64_t PDFXrefTable::findObjectOffset(std::uint32_t number) {
    std::optional<XrefEntry> entry = findEntry(number);
    if (entry && entry->compressed())
        entry = findEntry(entry->stream);
    if (!entry || entry->compressed() || entry->offset > INT64_MAX)
        return kUnknown;
    return static_cast<std::int64_t>(entry->offset);
}

void PDFXrefTable::adopt(std::vector<ObjectIndex::Item> objects, PDFDictionary trailer,
                         std::int32_t rootObject, std::int32_t infoObject) {
    _offsets = ObjectIndex();
    _offsets.addSection(objects);
    _trailer = std::move(trailer);
    _rootObject = rootObject;
    _infoObject = infoObject;
    _prevOffset = -1;
    _shift = 0;
}

std::optional<std::uint64_t> PDFXrefTable::placeOf(const XrefEntry &entry) const {
    if (!entry.compressed())
        return entry.offset;
    const auto stream = _offsets.find(entry.stream);
    if (!stream || stream->compressed())
        return std::nullopt;
    return stream->offset;
}

void PDFXrefTable::addObjectStreamMembers(std::vector<ObjectStreamMembers> streams) {
    // Of an object found in the file and in an object stream, or in two of them, the one written
    // later wins, as an incremental update would have it (ISO 32000-1, 7.5.6). Streams are
    // taken in the order they lie in the file, so each may replace what those before it gave.
    std::vector<std::pair<std::uint64_t, const ObjectStreamMembers *>> ordered;
    for (const ObjectStreamMembers &members : streams) {
        const auto entry = _offsets.find(members.stream);
        if (entry && !entry->compressed())
            ordered.emplace_back(entry->offset, &members);
    }
    std::sort(ordered.begin(), ordered.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    std::map<std::uint32_t, XrefEntry> changes;
    for (const auto &[streamPlace, members] : ordered) {
        const std::uint32_t stream = members->stream;
        for (std::size_t i = 0; i < members->numbers.size(); ++i) {
            const std::uint32_t number = members->numbers[i];
            const auto changed = changes.find(number);
            // A stream never holds itself, and the first of a number it lists twice counts.
            if (number == stream || (changed != changes.end() && changed->second.stream == stream))
                continue;
            const auto existing =
                changed != changes.end() ? std::optional(changed->second) : _offsets.find(number);
            const auto place = existing ? placeOf(*existing) : std::nullopt;
            if (!place || *place < streamPlace)
                changes.insert_or_assign(
                    number,
                    XrefEntry{0, stream,
                              static_cast<std::uint32_t>(std::min<std::size_t>(i, UINT32_MAX))});
        }
    }
    if (changes.empty())
        return;
    std::vector<ObjectIndex::Item> items = _offsets.list();
    for (auto &[number, entry] : items) {
        if (const auto it = changes.find(number); it != changes.end()) {
            entry = it->second;
            changes.erase(it);
        }
    }
    items.insert(items.end(), changes.begin(), changes.end());
    _offsets = ObjectIndex();
    _offsets.addSection(items);
}

} // namespace vellumtag
