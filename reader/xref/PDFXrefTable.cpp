#include "xref/PDFXrefTable.h"

#include <algorithm>
#include <array>

#include "objects/PDFObject.h"
#include "xref/PDFXrefStreamObject.h"

namespace vellumtag {

namespace {

// Reads an unsigned decimal number after white space; false at anything else.
bool readNumber(const Bytes &data, std::size_t &pos, std::uint64_t &value) {
    while (pos < data.size() && (data[pos] == ' ' || (data[pos] >= '\t' && data[pos] <= '\r')))
        ++pos;
    const std::size_t start = pos;
    value = 0;
    while (pos < data.size() && data[pos] >= '0' && data[pos] <= '9' && pos - start < 19)
        value = value * 10 + (data[pos++] - '0');
    return pos > start;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// An entry line in its usual form (ISO 32000-1, 7.5.4): ten digits, a space, five digits, a space
// and the keyword. Takes the offset as scanning "%lu %lu %c" would (three fields, the offset
// saturated at 32 bits) for a fraction of the work; false for any other line, which is scanned.
bool readUsualEntry(std::string_view line, std::uint32_t &offset) {
    if (line.size() < 18 || line[10] != ' ' || line[16] != ' ' || isCSpace(line[17]))
        return false;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 10; ++i) {
        if (!isDigit(line[i]))
            return false;
        value = value * 10 + static_cast<std::uint64_t>(line[i] - '0');
    }
    for (std::size_t i = 11; i < 16; ++i) {
        if (!isDigit(line[i]))
            return false;
    }
    offset = static_cast<std::uint32_t>(std::min<std::uint64_t>(value, UINT32_MAX));
    return true;
}

} // namespace

namespace {

const auto byNumber = [](const XrefEntries::Item &a, const XrefEntries::Item &b) {
    return a.first < b.first;
};

// Sorts a section's entries by number, keeping only the first listed of equal numbers.
void sortFirstWins(std::vector<XrefEntries::Item> &items) {
    // Sections list their objects in ascending order as a rule; a stable sort keeps the first
    // of equal numbers first, and unique keeps only it.
    if (!std::is_sorted(items.begin(), items.end(), byNumber))
        std::stable_sort(items.begin(), items.end(), byNumber);
    items.erase(std::unique(items.begin(), items.end(),
                            [](const auto &a, const auto &b) { return a.first == b.first; }),
                items.end());
}

// The entry a cross-reference stream row gives: type 1 in the file, type 2 in an object stream,
// anything else none.
std::optional<XrefEntry> rowEntry(const PDFXrefStreamObject::RowFields &fields) {
    const auto [type, value, position] = fields;
    if (type == 1)
        return XrefEntry{value};
    if (type == 2 && value < XrefEntry::kInFile)
        return XrefEntry{0, static_cast<std::uint32_t>(value),
                         static_cast<std::uint32_t>(std::min<std::uint64_t>(position, UINT32_MAX))};
    return std::nullopt;
}

// How many object numbers a pair of /Index describes: those from its first up to its count,
// where object numbers end at UINT32_MAX - 1.
std::uint64_t pairNumbers(std::uint32_t first, std::uint32_t count) {
    return std::min<std::uint64_t>(count, std::uint64_t{UINT32_MAX} - first);
}

} // namespace

std::optional<XrefEntry> XrefEntries::find(std::uint32_t number) const {
    for (const Section &section : _sections) {
        if (section.rows != nullptr) {
            if (const auto entry = findInRows(section, number))
                return entry;
            continue;
        }
        const auto it = std::lower_bound(section.items.begin(), section.items.end(),
                                         Item{number, {}}, byNumber);
        if (it != section.items.end() && it->first == number)
            return it->second;
    }
    return std::nullopt;
}

std::optional<XrefEntry> XrefEntries::findInRows(const Section &section, std::uint32_t number) {
    const PDFXrefStreamObject &rows = *section.rows;
    const std::uint64_t rowCount = rows.rowCount();
    std::uint64_t row = 0;
    // A number listed by several pairs takes the first of its rows that is an entry.
    for (std::size_t pair = 0; pair + 1 < section.index.size() && row < rowCount; pair += 2) {
        const std::uint32_t first = section.index[pair];
        const std::uint64_t numbers = pairNumbers(first, section.index[pair + 1]);
        if (number >= first && number - first < numbers && row + (number - first) < rowCount) {
            PDFXrefStreamObject::RowFields fields;
            rows.getRows(row + (number - first), std::span(&fields, 1));
            if (const auto entry = rowEntry(fields))
                return entry;
        }
        row += numbers;
    }
    return std::nullopt;
}

std::vector<XrefEntries::Item> XrefEntries::rowItems(const PDFXrefStreamObject &rows,
                                                     const std::vector<std::uint32_t> &index) {
    const std::uint64_t rowCount = rows.rowCount();
    std::vector<Item> items;
    // Rows are decoded a batch at a time; the walk ends with the data, however large the counts.
    std::array<PDFXrefStreamObject::RowFields, 256> batch;
    std::uint64_t row = 0;
    for (std::size_t pair = 0; pair + 1 < index.size() && row < rowCount; pair += 2) {
        const std::uint64_t numbers = pairNumbers(index[pair], index[pair + 1]);
        for (std::uint64_t i = 0; i < numbers && row < rowCount;) {
            const auto count = static_cast<std::size_t>(
                std::min({numbers - i, rowCount - row, std::uint64_t{batch.size()}}));
            rows.getRows(row, std::span(batch).first(count));
            for (std::size_t k = 0; k < count; ++k) {
                if (const auto entry = rowEntry(batch[k]))
                    items.emplace_back(static_cast<std::uint32_t>(index[pair] + i + k), *entry);
            }
            i += count;
            row += count;
        }
    }
    sortFirstWins(items);
    return items;
}

void XrefEntries::addSection(std::vector<Item> &section) {
    sortFirstWins(section);
    _sections.push_back(Section{std::move(section), nullptr, {}});
}

void XrefEntries::addStreamSection(std::unique_ptr<PDFXrefStreamObject> rows,
                                   std::vector<std::uint32_t> index) {
    // A lookup walks the pairs; beyond a few of them the rows are turned into entries once.
    if (index.size() / 2 > limits::kMaxIndexPairsPerLookup) {
        _sections.push_back(Section{rowItems(*rows, index), nullptr, {}});
        return;
    }
    _sections.push_back(Section{{}, std::move(rows), std::move(index)});
}

std::vector<XrefEntries::Item> XrefEntries::list() const {
    std::vector<Item> all;
    for (const Section &section : _sections) {
        const std::vector<Item> items =
            section.rows != nullptr ? rowItems(*section.rows, section.index) : section.items;
        all.insert(all.end(), items.begin(), items.end());
    }
    sortFirstWins(all);
    return all;
}

PDFResult PDFXrefTable::readSection(std::uint64_t offset) {
    if (_file == nullptr || offset >= _file->size())
        return PDFResult::BadValue;
    _file->seek(offset);
    _prevOffset = -1;
    _trailer.erase("Prev");
    if (_sectionCount >= _maxSections)
        return PDFResult::XrefNotFound;
    ++_sectionCount;

    _file->skipWhitespace();
    PDFResult result;
    if (_file->startsWith("xref"))
        result = readXrefTable();
    else if (_file->atEnd() || *_file->_cursor < '0' || *_file->_cursor > '9')
        return PDFResult::Unspecified;
    else
        result = readXrefStream();

    // A missing "Prev" reads as all bits set, which is -1 here.
    _prevOffset = static_cast<std::int64_t>(_trailer.getUInt("Prev"));
    if (!_securityChecked) {
        // Set first: sections read on the way to the /Encrypt object must not look again.
        _securityChecked = true;
        const PDFResult security = setUpSecurity();
        if (security != PDFResult::Ok)
            return security;
    }
    if (_rootObject == -1)
        _rootObject = _trailer.getInt("Root", -1);
    if (_infoObject == -1)
        _infoObject = _trailer.getInt("Info", -1);
    return result;
}

PDFResult PDFXrefTable::setUpSecurity() {
    const std::int32_t number = _trailer.getInt("Encrypt", -1);
    if (number == -1)
        return PDFResult::Ok;
    const std::int64_t offset = findObjectOffset(static_cast<std::uint32_t>(number));
    if (offset == kUnknown)
        return PDFResult::Ok;
    _security = std::make_unique<PDFEncryptionDictionary>(this);
    const PDFResult result = _security->load(*_file, static_cast<std::uint64_t>(offset));
    if (result != PDFResult::Ok)
        return result;
    if (!_security->_ready)
        return PDFResult::EncryptionUnsupported;
    // ISO 32000-1, 7.6.1: with /EncryptMetadata false nothing that is read here is encrypted.
    if (!_security->_encryptMetadata)
        _security.reset();
    return PDFResult::Ok;
}

PDFResult PDFXrefTable::readXrefTable() {
    LineBuffer line{};
    _file->readLine(line);
    std::vector<XrefEntries::Item> section;
    std::uint32_t current = 0;
    while (!_file->atEnd()) {
        if (_file->startsWith("trailer")) {
            _file->_cursor += 7;
            break;
        }
        const std::size_t length = _file->readLine(line);
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
    static_cast<void>(_trailer.parse(*_file));
    return PDFResult::Ok;
}

PDFResult PDFXrefTable::readXrefStream() {
    auto stream = std::make_unique<PDFXrefStreamObject>(this);
    const PDFResult result = stream->load(*_file);
    if (result != PDFResult::Ok)
        return result;
    _trailer = std::move(stream->_dictionary);

    std::vector<std::uint32_t> index;
    _trailer.getUIntArray("Index", index);
    if (index.empty()) {
        index.push_back(0);
        index.push_back(static_cast<std::uint32_t>(_trailer.getInt("Size", 0)));
    }
    if (index.size() % 2 != 0)
        index.push_back(1);
    _offsets.addStreamSection(std::move(stream), std::move(index));
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

PDFResult PDFXrefTable::readObject(std::uint32_t number, PDFObject &object) {
    const std::optional<XrefEntry> entry = findEntry(number);
    if (!entry)
        return PDFResult::ObjectNotFound;
    if (!entry->compressed())
        return object.read(*_file, entry->offset);

    const std::uint32_t index = entry->index;
    const PDFResult loaded = loadObjectStream(entry->stream);
    if (loaded != PDFResult::Ok)
        return loaded;
    const auto &objects = _objectStream.objects;
    auto found = objects.end();
    if (index < objects.size() && objects[index].first == number)
        found = objects.begin() + index;
    else
        found = std::find_if(objects.begin(), objects.end(),
                             [&](const auto &pair) { return pair.first == number; });
    if (found == objects.end())
        return PDFResult::ObjectNotFound;
    const std::uint64_t position = _objectStream.first + found->second;
    if (position < _objectStream.first || position >= _objectStream.data.size())
        return PDFResult::BadValue;
    return object.readEmbedded(_objectStream.data, position, number);
}

PDFResult PDFXrefTable::loadObjectStream(std::uint32_t number) {
    if (_objectStream.number == number)
        return _objectStream.result;
    _objectStream = ObjectStream{};
    _objectStream.number = number;
    // An object stream lies in the file itself, never inside another object stream.
    const std::optional<XrefEntry> entry = findEntry(number);
    if (!entry || entry->compressed())
        return _objectStream.result = PDFResult::ObjectNotFound;
    PDFObject stream(this);
    const PDFResult result = stream.read(*_file, entry->offset);
    if (result != PDFResult::Ok)
        return _objectStream.result = result;

    const std::uint64_t count = stream._dictionary.getUInt("N");
    const std::uint64_t first = stream._dictionary.getUInt("First");
    if (count == UINT64_MAX || first == UINT64_MAX)
        return _objectStream.result = PDFResult::BadValue;
    // The header holds /N pairs of object number and offset; a /N beyond them finds no more.
    std::size_t pos = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint64_t objectNumber = 0, offset = 0;
        if (!readNumber(stream._data, pos, objectNumber) || !readNumber(stream._data, pos, offset))
            break;
        if (objectNumber < XrefEntry::kInFile)
            _objectStream.objects.emplace_back(static_cast<std::uint32_t>(objectNumber), offset);
    }
    _objectStream.first = first;
    _objectStream.data = std::move(stream._data);
    return PDFResult::Ok;
}

} // namespace vellumtag
