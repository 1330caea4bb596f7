#include "objects/ObjectReader.h"

#include <algorithm>

#include "syntax/Limits.h"

namespace vellumtag {

PDFResult ObjectReader::readObject(std::uint32_t number, PDFObject &object) {
    const std::optional<XrefEntry> entry = _context.xref->findEntry(number);
    if (!entry)
        return PDFResult::ObjectNotFound;
    if (!entry->compressed())
        return readInFile(number, entry->offset, object);

    PDFResult result = PDFResult::Ok;
    ObjectStream *const stream = objectStream(entry->stream, result);
    if (stream == nullptr)
        return result;
    result = stream->readObject(number, entry->index, object);
    // Reading the object may have inflated more of its stream.
    trim();
    return result;
}

PDFResult ObjectReader::readInFile(std::uint32_t number, std::uint64_t offset, PDFObject &object) {
    const PDFResult result = object.read(_context, offset);
    // An entry that leads to another object's header is wrong, whatever that object holds.
    if (result == PDFResult::Ok && object._objectNumber != number)
        return PDFResult::ObjectNotFound;
    return result;
}

const ObjectStream::Members *ObjectReader::objectStreamMembers(std::uint32_t number) {
    PDFResult result = PDFResult::Ok;
    const ObjectStream *const stream = objectStream(number, result);
    return stream != nullptr ? &stream->members() : nullptr;
}

ObjectStream *ObjectReader::objectStream(std::uint32_t number, PDFResult &result) {
    const auto kept =
        std::find_if(_objectStreams.begin(), _objectStreams.end(),
                     [number](const Cached &cached) { return cached.number == number; });
    if (kept != _objectStreams.end()) {
        std::rotate(_objectStreams.begin(), kept, kept + 1);
    } else {
        _objectStreams.insert(_objectStreams.begin(), Cached{number, PDFResult::Ok, nullptr});
        Cached &opened = _objectStreams.front();
        // An object stream lies in the file itself, never inside another object stream.
        const std::optional<XrefEntry> entry = _context.xref->findEntry(number);
        PDFObject object;
        bool isStream = false;
        if (!entry || entry->compressed())
            opened.result = PDFResult::ObjectNotFound;
        else
            opened.result = object.readStored(_context, entry->offset, isStream);
        if (opened.result == PDFResult::Ok && object._objectNumber != number)
            opened.result = PDFResult::ObjectNotFound;
        if (opened.result == PDFResult::Ok) {
            auto stream = std::make_unique<ObjectStream>();
            opened.result = stream->open(object, _context.budget);
            if (opened.result == PDFResult::Ok)
                opened.stream = std::move(stream);
        }
        trim();
    }
    result = _objectStreams.front().result;
    return _objectStreams.front().stream.get();
}

void ObjectReader::trim() {
    std::size_t bytes = 0;
    std::size_t keep = 1;
    for (; keep < _objectStreams.size() && keep < limits::kMaxCachedObjectStreams; ++keep) {
        const ObjectStream *const stream = _objectStreams[keep].stream.get();
        bytes += stream != nullptr ? stream->heldBytes() : 0;
        if (bytes > limits::kMaxCachedObjectStreamBytes)
            break;
    }
    _objectStreams.erase(_objectStreams.begin() + static_cast<std::ptrdiff_t>(keep),
                         _objectStreams.end());
}

std::optional<PDFValue> ObjectReader::value(const PDFDictionary &dictionary, std::string_view key) {
    const PDFValue *entry = dictionary.find(key);
    if (entry == nullptr)
        return std::nullopt;
    if (!entry->isReference)
        return *entry;
    PDFObject object;
    const std::optional<std::uint32_t> number = dictionary.getReference(key);
    if (!number || readObject(*number, object) != PDFResult::Ok || !object._dictionary.empty())
        return std::nullopt;
    return object._value;
}

std::optional<PDFDictionary> ObjectReader::dictionary(const PDFDictionary &dictionary,
                                                      std::string_view key) {
    if (dictionary.hasNested(key))
        return dictionary.nested(key);
    PDFObject object;
    const std::optional<std::uint32_t> number = dictionary.getReference(key);
    if (!number || readObject(*number, object) != PDFResult::Ok || object._dictionary.empty())
        return std::nullopt;
    return std::move(object._dictionary);
}

} // namespace vellumtag
