#include "xref/PDFXrefTable.h"

#include <algorithm>
#include <memory>

#include "syntax/IntegerText.h"
#include "syntax/PDFNames.h"

namespace vellumtag {

namespace {

// An entry line in its usual form (ISO 32000-1, 7.5.4): ten digits, a space, five digits, a space
// and the keyword. Takes the offset as scanning "%lu %lu %c" would (three fields, the offset
// saturated at 32 bits) for a fraction of the work; false for any other line, which is scanned.
bool readUsualEntry(std::string_view line, std::uint32_t &offset) {
    if (line.size() < 18 || line[10] != ' ' || line[16] != ' ' ||
        characters::kCSpace.contains(line[17]))
        return false;
    IntegerText number;
    if (number.appendDigits(line.substr(0, 10)) != 10 ||
        IntegerText().appendDigits(line.substr(11, 5)) != 5)
        return false;
    offset = static_cast<std::uint32_t>(number.toUnsigned(UINT32_MAX));
    return true;
}

} // namespace

PDFResult PDFXrefTable::readSection(std::uint64_t offset) {
    if (offset >= _file.size())
        return PDFResult::BadValue;
    _file.seek(offset);
    _prevOffset = -1;
    _trailer.erase(names::kPrev);
    if (_sectionCount >= _maxSections)
        return PDFResult::XrefNotFound;
    ++_sectionCount;

    _file.skipWhitespace();
    PDFResult result;
    if (_file.startsWith(names::kXref))
        result = readXrefTable();
    else if (const int c = _file.peek(); c < 0 || !isDigit(c))
        return PDFResult::Unspecified;
    else
        result = readXrefStream();

    // A missing "Prev" reads as all bits set, which is -1 here.
    _prevOffset = static_cast<std::int64_t>(_trailer.getUInt(names::kPrev));
    if (_rootObject == -1)
        _rootObject = _trailer.getInt(names::kRoot, -1);
    if (_infoObject == -1)
        _infoObject = _trailer.getInt(names::kInfo, -1);
    return result;
}

PDFResult PDFXrefTable::readXrefTable() {
    LineBuffer line{};
    _file.readLine(line);
    std::vector<ObjectIndex::Item> section;
    std::uint32_t current = 0;
    while (!_file.atEnd()) {
        if (_file.skipKeyword(names::kTrailer))
            break;
        const std::size_t length = _file.readLine(line);
        if (length == 0 || length >= line.size())
            continue;
        std::uint32_t first = 0, second = 0;
        char type = 0;
        const std::string_view text(line.data(), length);
        const int fields =
            readUsualEntry(text, first)
                ? 3
                : MemoryParser::scanText(text, "%lu %lu %c", {&first, &second, &type});
        if (fields == 2) {
            current = first;
        } else if (fields == 3) {
            section.emplace_back(current, XrefEntry{first});
            ++current;
        }
    }
    _offsets.addSection(section);
    static_cast<void>(_trailer.parse(_file));
    return PDFResult::Ok;
}

PDFResult PDFXrefTable::readXrefStream() {
    PDFDictionary dictionary;
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
    _trailer = std::move(dictionary);

    std::vector<std::uint32_t> index;
    _trailer.getUIntArray(names::kIndex, index);
    if (index.empty()) {
        index.push_back(0);
        index.push_back(static_cast<std::uint32_t>(_trailer.getInt(names::kSize, 0)));
    }
    if (index.size() % 2 != 0)
        index.push_back(1);
    _offsets.addStreamSection(std::move(rows), std::move(index));
    return PDFResult::Ok;
}

std::optional<XrefEntry> PDFXrefTable::findEntry(std::uint32_t number) {
    for (;;) {
        if (const auto entry = _offsets.find(number))
            return entry;
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

} // namespace vellumtag
