#include "objects/ObjectReader.h"

#include <algorithm>

#include "syntax/MemorySource.h"
#include "syntax/PDFNames.h"

namespace vellumtag {

PDFResult ObjectReader::readObject(std::uint32_t number, PDFObject &object) {
    const std::optional<XrefEntry> entry = _context.xref->findEntry(number);
    if (!entry)
        return PDFResult::ObjectNotFound;
    if (!entry->compressed())
        return readInFile(number, entry->offset, object);

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

PDFResult ObjectReader::readInFile(std::uint32_t number, std::uint64_t offset, PDFObject &object) {
    const PDFResult result = object.read(_context, offset);
    // An entry that leads to another object's header is wrong, whatever that object holds.
    if (result == PDFResult::Ok && object._objectNumber != number)
        return PDFResult::ObjectNotFound;
    return result;
}

const std::vector<std::pair<std::uint32_t, std::uint64_t>> *
ObjectReader::objectStreamMembers(std::uint32_t number) {
    return loadObjectStream(number) == PDFResult::Ok ? &_objectStream.objects : nullptr;
}

PDFResult ObjectReader::loadObjectStream(std::uint32_t number) {
    if (_objectStream.number == number)
        return _objectStream.result;
    _objectStream = ObjectStream{};
    _objectStream.number = number;
    // An object stream lies in the file itself, never inside another object stream.
    const std::optional<XrefEntry> entry = _context.xref->findEntry(number);
    if (!entry || entry->compressed())
        return _objectStream.result = PDFResult::ObjectNotFound;
    PDFObject stream;
    const PDFResult result = readInFile(number, entry->offset, stream);
    if (result != PDFResult::Ok)
        return _objectStream.result = result;

    const std::uint64_t count = stream._dictionary.getUInt(names::kN);
    const std::uint64_t first = stream._dictionary.getUInt(names::kFirst);
    if (count == UINT64_MAX || first == UINT64_MAX)
        return _objectStream.result = PDFResult::BadValue;
    // The header holds /N pairs of object number and offset; a /N beyond them finds no more.
    MemorySource header(stream._data);
    MemoryParser parser(header);
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint64_t objectNumber = 0, offset = 0;
        if (!parser.readUnsigned(objectNumber) || !parser.readUnsigned(offset))
            break;
        if (objectNumber < XrefEntry::kInFile)
            _objectStream.objects.emplace_back(static_cast<std::uint32_t>(objectNumber), offset);
    }
    _objectStream.first = first;
    _objectStream.data = std::move(stream._data);
    return PDFResult::Ok;
}

} // namespace vellumtag
