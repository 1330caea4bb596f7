#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "objects/ObjectContext.h"
#include "objects/ObjectStream.h"
#include "objects/PDFObject.h"
#include "syntax/PDFResult.h"

namespace vellumtag {

// Reads objects by number wherever the object index places them: in the file, or inside an
// object stream (ISO 32000-1, 7.5.7). It keeps the object streams it opened, the last used
// first, for the next objects read from them (limits::kMaxCachedObjectStreams, and
// limits::kMaxCachedObjectStreamBytes of data beside the one in use); everything it keeps goes
// with it. The context must have an object index.
class ObjectReader {
public:
    explicit ObjectReader(const ObjectContext &context) : _context(context) {}
    ObjectReader(const ObjectReader &) = delete;
    ObjectReader &operator=(const ObjectReader &) = delete;

    // 103 when the object cannot be located, or when its entry leads to another object.
    PDFResult readObject(std::uint32_t number, PDFObject &object);
    // The (object number, offset) pairs of an object stream's header, valid until the next
    // read; nothing when it cannot be read.
    const ObjectStream::Members *objectStreamMembers(std::uint32_t number);
    const ObjectContext &context() const { return _context; }

    // An entry's value, read through the object it refers to where it is an indirect reference
    // (ISO 32000-1, 7.3.10); nothing when missing or unreadable. Strings stay as stored.
    std::optional<PDFValue> value(const PDFDictionary &dictionary, std::string_view key);
    // The entries of a dictionary that an entry holds in place or refers to; nothing when
    // missing, unreadable or no dictionary.
    std::optional<PDFDictionary> dictionary(const PDFDictionary &dictionary, std::string_view key);

private:
    // An object stream opened, or the failure of opening it, which is not tried again.
    struct Cached {
        std::uint32_t number;
        PDFResult result;
        std::unique_ptr<ObjectStream> stream;
    };
    // The object stream, opened or found among those kept, and put first; null on failure.
    ObjectStream *objectStream(std::uint32_t number, PDFResult &result);
    PDFResult readInFile(std::uint32_t number, std::uint64_t offset, PDFObject &object);
    // Lets go of the streams used longest ago beyond the limits, never of the first.
    void trim();

    ObjectContext _context;
    std::vector<Cached> _objectStreams;
};

} // namespace vellumtag
