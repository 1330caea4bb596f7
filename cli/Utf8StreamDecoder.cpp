#include "Utf8StreamDecoder.h"

#include <cstdint>
#include <span>

#include "syntax/TextEncoding.h"

namespace vellumtag {

namespace {

// Where a sequence begins that the bytes after the end could still complete, or the size when
// none does: a lead byte among the last three, followed only by continuation bytes that
// decodeUtf8 would take (the second byte's range as in Unicode, 3.9, table 3-7), and fewer of
// them than the lead byte asks for. A lead byte is never taken as a continuation byte, so the
// decoder starts a sequence there whatever comes before it.
std::size_t incompleteTail(std::string_view bytes) {
    for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
        const std::size_t start = bytes.size() - back;
        const auto lead = static_cast<std::uint8_t>(bytes[start]);
        if (lead >= 0x80 && lead <= 0xBF)
            continue;
        const std::size_t needed = lead >= 0xC2 && lead <= 0xDF   ? 1
                                   : lead >= 0xE0 && lead <= 0xEF ? 2
                                   : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                                  : 0;
        if (needed < back)
            return bytes.size();
        if (back > 1) {
            const auto second = static_cast<std::uint8_t>(bytes[start + 1]);
            const std::uint8_t low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
            const std::uint8_t high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
            if (second < low || second > high)
                return bytes.size();
        }
        return start;
    }
    return bytes.size();
}

void appendDecoded(std::string_view bytes, std::u16string &out) {
    out.append(
        decodeUtf8(std::span(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size())));
}

} // namespace

void Utf8StreamDecoder::decode(std::string_view piece, std::u16string &out) {
    _pending.append(piece);
    const std::size_t complete = incompleteTail(_pending);
    appendDecoded(std::string_view(_pending).substr(0, complete), out);
    _pending.erase(0, complete);
}

void Utf8StreamDecoder::finish(std::u16string &out) {
    appendDecoded(_pending, out);
    _pending.clear();
}

} // namespace vellumtag
