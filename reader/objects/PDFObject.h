#pragma once

#include <cstdint>
#include <optional>
#include <span>
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
    // The same, but a stream's data are left as stored (decrypted only), for decode() or the
    // caller to undo the filters of; `stream` tells whether the object has stream data.
    PDFResult readStored(const ObjectContext &context, std::uint64_t offset, bool &stream);
    // Applies the filters of the dictionary to the stored data, drawing on the budget (none:
    // only the limit of one stream applies). `expected`: the decoded size that the caller
    // foresees, 0 when it does not.
    PDFResult decode(StreamBudget *budget, std::size_t expected = 0);
    // Reads object `number` whose value begins at `offset` of an object stream's decoded data
    // (ISO 32000-1, 7.5.7), which end where the object does. Such an object has no header and
    // no stream of its own, and its strings were decrypted with the stream as a whole.
    PDFResult readEmbedded(std::span<const std::uint8_t> objectStream, std::uint64_t offset,
                           std::uint32_t number);

    // Replaces zlib-format data by their inflation, in one call when the expected size (0:
    // unknown) is right; 107 leaves them unchanged, also when the output would exceed limit
    // bytes.
    static PDFResult flateDecode(Bytes &bytes, std::size_t limit = limits::kMaxStreamBytes,
                                 std::size_t expected = 0);

    PDFDictionary _dictionary;
    Bytes _data;
    // A direct value as the dictionary parse reads one: its text, and a string's bytes.
    PDFValue _value;
    bool _embedded = false;
    std::uint32_t _objectNumber = UINT32_MAX;
    std::uint32_t _generation = UINT32_MAX;

    // The names of a /Filter value: one name, or an array of them (ISO 32000-1, 7.3.8.2).
    static std::vector<std::u16string> filterNames(std::u16string_view text);
    // The filters that decode() applies: those of /Filter less a /Crypt filter first.
    std::vector<std::u16string> filters() const;

private:
    // Bytes that one stream may decode to: limits::kMaxStreamBytes, or what the budget has left.
    static std::size_t streamLimit(const StreamBudget *budget);
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
