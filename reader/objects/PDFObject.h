#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
    // A direct value as the dictionary parse reads one: its text, and a string's bytes.
    PDFValue _value;
    bool _embedded = false;
    std::uint32_t _objectNumber = UINT32_MAX;
    std::uint32_t _generation = UINT32_MAX;

    // The names of a /Filter value: one name, or an array of them (ISO 32000-1, 7.3.8.2).
    static std::vector<std::u16string> filterNames(std::u16string_view text);

private:
    PDFResult readDirectValue(MemoryParser &parser);
    // How many bytes of stream data begin at start: /Length, direct or resolved, when
    // "endstream" follows them; otherwise the bytes up to that keyword; nothing when neither
    // is known.
    std::optional<std::uint64_t> streamLength(const ObjectContext &context,
                                              std::uint64_t start) const;
    // The integer that object `number` holds, when it is one.
    static std::optional<std::uint64_t> lengthObject(const ObjectContext &context,
                                                     std::uint32_t number);
};

} // namespace vellumtag
