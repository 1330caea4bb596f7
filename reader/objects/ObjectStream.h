#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "objects/FlateStream.h"
#include "objects/PDFObject.h"
#include "objects/StreamBudget.h"
#include "syntax/PDFResult.h"

namespace vellumtag {

// One object stream (ISO 32000-1, 7.5.7) as a load reads it: the (object number, offset) pairs
// of its header, and its objects, out of data inflated only as far as the objects asked for so
// far reach. An object further in goes on inflating from there, so damage after the objects
// read never fails them; the Adler-32 is compared once all the data are out. Never moves once
// opened: its inflation points into its own stored data.
class ObjectStream {
public:
    using Members = std::vector<std::pair<std::uint32_t, std::uint64_t>>;

    ObjectStream() = default;
    ObjectStream(const ObjectStream &) = delete;
    ObjectStream &operator=(const ObjectStream &) = delete;

    // Takes the stream object, read with its data as stored, and reads its header: up to /N
    // pairs within the first /First bytes of the decoded data. Inflating draws on the budget
    // (none: only the limit of one stream applies), which must outlive the object.
    PDFResult open(PDFObject &stream, StreamBudget *budget);
    const Members &members() const { return _members; }
    // Reads object `number`, which the index-th pair of the header should name (any pair is
    // searched when it does not). Its bytes end at the next greater offset of the header, or
    // with the data.
    PDFResult readObject(std::uint32_t number, std::uint32_t index, PDFObject &object);
    // The memory that the stream's data take: as stored and decoded.
    std::size_t heldBytes() const;

private:
    // Decodes at least the first `size` bytes of the data, or all of them when they hold fewer.
    PDFResult decodeTo(std::uint64_t size);
    std::span<const std::uint8_t> decoded() const;

    // The data as stored, while FlateDecode has more of them to inflate.
    Bytes _stored;
    std::unique_ptr<FlateStream> _flate;
    // The data once decoded whole, or as stored when no filter applies.
    Bytes _decoded;
    StreamBudget *_budget = nullptr;
    std::uint64_t _first = 0;
    Members _members;
    // The offsets of the header, ascending, each once: where each object ends.
    std::vector<std::uint64_t> _offsets;
};

} // namespace vellumtag
