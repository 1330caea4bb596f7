#include "PDFXrefTable.h"

#include "PDFObject.h"

namespace vellumtag {

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
    _securityChecked = true;
    if (_rootObject == -1)
        _rootObject = _trailer.getInt("Root", -1);
    if (_infoObject == -1)
        _infoObject = _trailer.getInt("Info", -1);
    return result;
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
            _offsets.try_emplace(current, first);
            ++current;
        }
    }
    static_cast<void>(_trailer.parse(*_file));
    return PDFResult::Ok;
}

PDFResult PDFXrefTable::readXrefStream() { return PDFResult::Unspecified; }

std::int64_t PDFXrefTable::findObjectOffset(std::uint32_t number) {
    for (;;) {
        const auto it = _offsets.find(number);
        if (it != _offsets.end())
            return static_cast<std::int64_t>(it->second);
        if (_prevOffset == -1)
            return kUnknown;
        if (readSection(static_cast<std::uint64_t>(_prevOffset)) != PDFResult::Ok)
            return kUnknown;
    }
}

PDFResult PDFXrefTable::readObject(std::uint32_t number, PDFObject &object) {
    const std::int64_t offset = findObjectOffset(number);
    if (offset == kUnknown)
        return PDFResult::ObjectNotFound;
    return object.read(*_file, static_cast<std::uint64_t>(offset));
}

} // namespace vellumtag
