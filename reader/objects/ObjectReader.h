#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "objects/ObjectContext.h"
#include "objects/PDFObject.h"
#include "syntax/PDFResult.h"

namespace vellumtag {

// Reads objects by number wherever the object index places them: in the file, or inside an
// object stream (ISO 32000-1, 7.5.7), whose decoded data it keeps for the next object read
// from the same stream. The context must have an object index.
class ObjectReader {
public:
    explicit ObjectReader(const ObjectContext &context) : _context(context) {}
    ObjectReader(const ObjectReader &) = delete;
    ObjectReader &operator=(const ObjectReader &) = delete;

    // 103 when the object cannot be located, or when its entry leads to another object.
    PDFResult readObject(std::uint32_t number, PDFObject &object);
    // The (object number, offset) pairs of an object stream's header, valid until the next
    // read; nothing when it cannot be read.
    const std::vector<std::pair<std::uint32_t, std::uint64_t>> *
    objectStreamMembers(std::uint32_t number);
    const ObjectContext &context() const { return _context; }

private:
    // The object stream last read: its decoded data with the (object number, offset) header
    // pairs, or the failure of reading it, which is not tried again.
    struct ObjectStream {
        std::uint32_t number = XrefEntry::kInFile;
        PDFResult result = PDFResult::Ok;
        Bytes data;
        std::uint64_t first = 0;
        std::vector<std::pair<std::uint32_t, std::uint64_t>> objects;
    };
    PDFResult loadObjectStream(std::uint32_t number);
    PDFResult readInFile(std::uint32_t number, std::uint64_t offset, PDFObject &object);

    ObjectContext _context;
    ObjectStream _objectStream;
};

} // namespace vellumtag
