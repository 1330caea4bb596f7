#include "PDFXrefTable.h"

#include <algorithm>
#include <array>

#include "PDFObject.h"
#include "PDFXrefStreamObject.h"

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

XrefEntries::const_iterator XrefEntries::find(std::uint32_t number) const {
    const auto it =
        std::lower_bound(_items.begin(), _items.end(), number,
                         [](const Item &item, std::uint32_t n) { return item.first < n; });
    return it != _items.end() && it->first == number ? it : _items.end();
}

void XrefEntries::addSection(std::vector<Item> &section) {
    const auto byNumber = [](const Item &a, const Item &b) { return a.first < b.first; };
    // Sections list their objects in ascending order as a rule; a stable sort keeps the first
    // of equal numbers first, and unique keeps only it.
    if (!std::is_sorted(section.begin(), section.end(), byNumber))
        std::stable_sort(section.begin(), section.end(), byNumber);
    section.erase(std::unique(section.begin(), section.end(),
                              [](const Item &a, const Item &b) { return a.first == b.first; }),
                  section.end());
    if (_items.empty()) {
        _items.swap(section);
        return;
    }
    std::vector<Item> merged;
    merged.reserve(_items.size() + section.size());
    auto older = section.begin();
    for (const Item &item : _items) {
        for (; older != section.end() && older->first < item.first; ++older)
            merged.push_back(*older);
        if (older != section.end() && older->first == item.first)
            ++older;
        merged.push_back(item);
    }
    merged.insert(merged.end(), older, section.end());
    _items.swap(merged);
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
    PDFXrefStreamObject stream(this);
    const PDFResult result = stream.load(*_file);
    if (result != PDFResult::Ok)
        return result;
    _trailer = stream._dictionary;

    std::vector<std::uint32_t> index;
    _trailer.getUIntArray("Index", index);
    if (index.empty()) {
        index.push_back(0);
        index.push_back(static_cast<std::uint32_t>(_trailer.getInt("Size", 0)));
    }
    if (index.size() % 2 != 0)
        index.push_back(1);

    // Rows follow the /Index pairs in order. Rows missing from the data would add nothing,
    // so the walk ends with the data, however large the counts.
    const std::uint64_t rows = stream.rowCount();
    std::vector<XrefEntries::Item> section;
    section.reserve(static_cast<std::size_t>(rows));
    // Rows are decoded a batch at a time.
    std::array<PDFXrefStreamObject::RowFields, 256> batch;
    std::uint64_t row = 0;
    for (std::size_t pair = 0; pair + 1 < index.size() && row < rows; pair += 2) {
        const std::uint64_t end = std::uint64_t{index[pair]} + index[pair + 1];
        // Object numbers end at UINT32_MAX - 1: the rest of the pair is dropped.
        for (std::uint64_t number = index[pair]; number < end && row < rows;) {
            if (number > UINT32_MAX - 1)
                break;
            const auto count = static_cast<std::size_t>(std::min(
                {end - number, rows - row, std::uint64_t{batch.size()}, UINT32_MAX - number}));
            stream.getRows(row, std::span(batch).first(count));
            for (std::size_t i = 0; i < count; ++i) {
                const auto objectNumber = static_cast<std::uint32_t>(number + i);
                const auto [type, value, position] = batch[i];
                if (type == 1) {
                    section.emplace_back(objectNumber, XrefEntry{value});
                } else if (type == 2 && value < XrefEntry::kInFile) {
                    section.emplace_back(
                        objectNumber, XrefEntry{0, static_cast<std::uint32_t>(value),
                                                static_cast<std::uint32_t>(std::min<std::uint64_t>(
                                                    position, UINT32_MAX))});
                }
            }
            number += count;
            row += count;
        }
    }
    _offsets.addSection(section);
    return PDFResult::Ok;
}

const XrefEntry *PDFXrefTable::findEntry(std::uint32_t number) {
    for (;;) {
        const auto it = _offsets.find(number);
        if (it != _offsets.end())
            return &it->second;
        if (_prevOffset == -1)
            return nullptr;
        if (readSection(static_cast<std::uint64_t>(_prevOffset)) != PDFResult::Ok)
            return nullptr;
    }
}

std::int64_t PDFXrefTable::findObjectOffset(std::uint32_t number) {
    const XrefEntry *entry = findEntry(number);
    if (entry != nullptr && entry->compressed())
        entry = findEntry(entry->stream);
    if (entry == nullptr || entry->compressed() || entry->offset > INT64_MAX)
        return kUnknown;
    return static_cast<std::int64_t>(entry->offset);
}

PDFResult PDFXrefTable::readObject(std::uint32_t number, PDFObject &object) {
    const XrefEntry *entry = findEntry(number);
    if (entry == nullptr)
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
    const XrefEntry *entry = findEntry(number);
    if (entry == nullptr || entry->compressed())
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
