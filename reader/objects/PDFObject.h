#pragma once

#include <cstdint>

#include "objects/ObjectContext.h"
#include "syntax/Limits.h"
#include "syntax/MemoryParser.h"
#include "syntax/PDFDictionary.h"
#include "syntax/PDFResult.h"

namespace vellumtag {

// One indirect object (ISO 32000-1, 7.3.10): its header, then either a dictionary with its
// stream data (inflated when /Filter is FlateDecode) or a single direct value, whose text is
// kept in _data one byte per code unit. Stream data are decrypted when the context has a
// decryptor, never come from beyond the end of the data, and never grow beyond
// limits::kMaxStreamBytes or what the context's budget has left.
class PDFObject {
public:
    static constexpr std::uint64_t kAtCursor = UINT64_MAX;

    // Reads the object at a byte offset, or at the parser's cursor with kAtCursor: 103 when no
    // object header is there, 104 when nothing follows it.
    PDFResult read(const ObjectContext &context, std::uint64_t offset);
    // Reads object `number` whose value begins at `offset` of an object stream's decoded data
    // (ISO 32000-1, 7.5.7). Such an object has no header and no stream of its own, and its
    // strings were decrypted with the stream as a whole.
    PDFResult readEmbedded(const Bytes &objectStream, std::uint64_t offset, std::uint32_t number);

    // Replaces zlib-format data by their inflation; 107 leaves them unchanged, also when the
    // output would exceed limit bytes.
    static PDFResult flateDecode(Bytes &bytes, std::size_t limit = limits::kMaxStreamBytes);

    PDFDictionary _dictionary;
    Bytes _data;
    bool _embedded = false;
    std::uint32_t _objectNumber = UINT32_MAX;
    std::uint32_t _generation = UINT32_MAX;

private:
    PDFResult readDirectValue(MemoryParser &parser);
};

} // namespace vellumtag
