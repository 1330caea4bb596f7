#include "objects/ObjectStream.h"

#include <algorithm>

#include "syntax/MemorySource.h"
#include "syntax/PDFNames.h"
#include "syntax/Tokenizer.h"

namespace vellumtag {

PDFResult ObjectStream::open(PDFObject &stream, StreamBudget *budget) {
    _budget = budget;
    const std::uint64_t count = stream._dictionary.getUInt(names::kN);
    const std::uint64_t first = stream._dictionary.getUInt(names::kFirst);
    if (count == UINT64_MAX || first == UINT64_MAX)
        return PDFResult::BadValue;
    _first = first;

    // FlateDecode alone, as writers store object streams, is inflated on demand; data without
    // a filter are taken as they are, and other chains of filters are decoded whole.
    const std::vector<std::u16string> filters = stream.filters();
    if (filters.size() == 1 && filters.front() == names::kFlateDecode) {
        _stored = std::move(stream._data);
        _flate = std::make_unique<FlateStream>(_stored);
    } else {
        const PDFResult decodedWhole = stream.decode(budget);
        if (decodedWhole != PDFResult::Ok)
            return decodedWhole;
        _decoded = std::move(stream._data);
    }

    const PDFResult headerRead = decodeTo(first);
    if (headerRead != PDFResult::Ok)
        return headerRead;
    // The header holds /N pairs of object number and offset; a /N beyond them finds no more.
    const std::span<const std::uint8_t> data = decoded();
    MemorySource header(
        data.first(static_cast<std::size_t>(std::min<std::uint64_t>(first, data.size()))));
    MemoryParser parser(header);
    Tokenizer tokens(parser);
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint64_t objectNumber = 0, offset = 0;
        if (!tokens.readUnsigned(objectNumber) || !tokens.readUnsigned(offset))
            break;
        if (objectNumber < XrefEntry::kInFile)
            _members.emplace_back(static_cast<std::uint32_t>(objectNumber), offset);
    }
    _offsets.reserve(_members.size());
    for (const auto &[number, offset] : _members)
        _offsets.push_back(offset);
    if (!std::is_sorted(_offsets.begin(), _offsets.end()))
        std::sort(_offsets.begin(), _offsets.end());
    _offsets.erase(std::unique(_offsets.begin(), _offsets.end()), _offsets.end());
    return PDFResult::Ok;
}

PDFResult ObjectStream::readObject(std::uint32_t number, std::uint32_t index, PDFObject &object) {
    auto found = _members.end();
    if (index < _members.size() && _members[index].first == number)
        found = _members.begin() + index;
    else
        found = std::find_if(_members.begin(), _members.end(),
                             [&](const auto &pair) { return pair.first == number; });
    if (found == _members.end())
        return PDFResult::ObjectNotFound;
    const std::uint64_t position = _first + found->second;
    if (position < _first)
        return PDFResult::BadValue;
    // ISO 32000-1, 7.5.7 lists the objects by ascending offset; where a header does not, the
    // next greater offset still ends the object.
    std::uint64_t end = UINT64_MAX;
    const auto next = std::upper_bound(_offsets.begin(), _offsets.end(), found->second);
    if (next != _offsets.end() && _first + *next >= _first)
        end = _first + *next;
    const PDFResult decodedTo = decodeTo(end);
    if (decodedTo != PDFResult::Ok)
        return decodedTo;
    const std::span<const std::uint8_t> data = decoded();
    if (position >= data.size())
        return PDFResult::BadValue;
    return object.readEmbedded(
        data.first(static_cast<std::size_t>(std::min<std::uint64_t>(end, data.size()))), position,
        number);
}

PDFResult ObjectStream::decodeTo(std::uint64_t size) {
    if (!_flate)
        return PDFResult::Ok;
    Bytes &output = _flate->output();
    const std::size_t before = output.size();
    const std::size_t left = _budget != nullptr ? _budget->left() : SIZE_MAX;
    const std::size_t limit =
        std::min(limits::kMaxStreamBytes, before + std::min(left, limits::kMaxStreamBytes));
    const PDFResult result =
        _flate->inflateTo(size >= SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(size), limit);
    if (_budget != nullptr)
        _budget->spend(output.size() - before);
    // Once all is out, what was stored and zlib's state are no longer needed.
    if (_flate->ended()) {
        _decoded = std::move(output);
        _flate.reset();
        Bytes().swap(_stored);
    }
    return result;
}

std::span<const std::uint8_t> ObjectStream::decoded() const {
    return _flate ? std::span<const std::uint8_t>(_flate->output()) : _decoded;
}

std::size_t ObjectStream::heldBytes() const {
    return _stored.capacity() + _decoded.capacity() + (_flate ? _flate->output().capacity() : 0);
}

} // namespace vellumtag
