#pragma once

#include <string>
#include <string_view>

namespace vellumtag {

// Turns UTF-8 text that arrives in pieces into UTF-16, piece by piece, exactly as decodeUtf8
// would turn the whole: a sequence cut off at the end of a piece is held back (at most three
// bytes) and finished by the next piece; everything else is decoded at once, malformed bytes
// as U+FFFD.
class Utf8StreamDecoder {
public:
    // Appends to out the text of the bytes held back and of piece, up to a sequence at its end
    // that more bytes could still complete.
    void decode(std::string_view piece, std::u16string &out);
    // The text has ended: appends a sequence held back as U+FFFD.
    void finish(std::u16string &out);

private:
    std::string _pending;
};

} // namespace vellumtag
