#include "PDFXrefTable.h"

#include <algorithm>

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

} // namespace

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
        const int fields = MemoryParser::scanText(std::string_view(line.data(), length),
                                                  "%lu %lu %c", {&first, &second, &type});
        if (fields == 2) {
            current = first;
        } else if (fields == 3) {
            _offsets.try_emplace(current, XrefEntry{first});
            ++current;
        }
    }
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
    std::uint64_t row = 0;
    for (std::size_t pair = 0; pair + 1 < index.size() && row < rows; pair += 2) {
        const std::uint64_t first = index[pair];
        const std::uint64_t end = first + index[pair + 1];
        for (std::uint64_t number = first; number < end && row < rows; ++number, ++row) {
            if (number > UINT32_MAX - 1)
                break;
            const auto objectNumber = static_cast<std::uint32_t>(number);
            const std::uint64_t type = stream.getField(row, 0);
            const std::uint64_t value = stream.getField(row, 1);
            if (type == 1) {
                _offsets.try_emplace(objectNumber, XrefEntry{value});
            } else if (type == 2 && value < XrefEntry::kInFile) {
                const std::uint64_t position = stream.getField(row, 2);
                _offsets.try_emplace(objectNumber,
                                     XrefEntry{0, static_cast<std::uint32_t>(value),
                                               static_cast<std::uint32_t>(
                                                   std::min<std::uint64_t>(position, UINT32_MAX))});
            }
        }
    }
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
