#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "syntax/ByteSource.h"
#include "syntax/CharacterClass.h"
#include "syntax/Limits.h"

namespace vellumtag {

// Destination of one conversion of a bounded formatted read: "%u" and "%lu" fill a 32-bit
// unsigned integer, "%Iu" a 64-bit one, "%c" one byte.
using ScanTarget = std::variant<std::uint32_t *, std::uint64_t *, char *>;

using Bytes = std::vector<std::uint8_t>;

using LineBuffer = std::array<char, limits::kLineBuffer>;

// The reader's one scanner: a cursor over the bytes of a ByteSource and the primitives that
// every other class reads a file through. Positions are byte offsets from the start of the
// data. It sees the data through a window: all of it when the source holds it in memory,
// otherwise the source's chunk size or more from about the cursor on, which move with it.
// No primitive reads outside the data and none moves the cursor past its end; with nothing
// attached every primitive finds nothing.
class MemoryParser {
public:
    MemoryParser() = default;
    explicit MemoryParser(ByteSource &source) { attach(source); }
    MemoryParser(const MemoryParser &) = delete;
    MemoryParser &operator=(const MemoryParser &) = delete;

    // Scans the source, which must outlive the attachment, from offset 0. An empty source
    // leaves the parser closed.
    void attach(ByteSource &source);
    void detach();

    bool isOpen() const { return _isOpen != 0; }
    std::uint64_t size() const { return _size; }

    std::uint64_t offset() const { return _base + static_cast<std::uint64_t>(_cursor - _begin); }
    // Puts the cursor at a byte offset, clamped to the end of the data.
    void seek(std::uint64_t offset);
    bool atEnd() const { return _cursor >= _end && windowEnd() >= _size; }
    // The byte `ahead` bytes after the cursor, or -1 beyond the data.
    int peek(std::size_t ahead = 0) {
        if (static_cast<std::size_t>(_end - _cursor) > ahead)
            return _cursor[ahead];
        return fill(ahead + 1) ? _cursor[ahead] : -1;
    }
    // Moves the cursor forward, never past the end of the data.
    void advance(std::size_t count = 1) {
        if (static_cast<std::size_t>(_end - _cursor) >= count)
            _cursor += count;
        else
            seek(offset() + count);
    }

    // True when the bytes at the cursor are the prefix and at least one more byte follows.
    bool startsWith(std::string_view prefix) {
        if (static_cast<std::size_t>(_end - _cursor) > prefix.size() && prefix.size() != 0)
            return std::memcmp(_cursor, prefix.data(), prefix.size()) == 0;
        return startsWithAcrossWindows(prefix);
    }
    // Steps over the keyword when startsWith finds it.
    bool skipKeyword(std::string_view keyword) {
        if (!startsWith(keyword))
            return false;
        advance(keyword.size());
        return true;
    }

    // Offset of the first occurrence that starts in [from, to) and lies wholly before to; to
    // when there is none; size() when the range is empty, reversed, beyond the data or shorter
    // than the needle. The cursor stays.
    std::uint64_t find(std::string_view needle, std::uint64_t from, std::uint64_t to);
    // Offset of the last occurrence in [from, to) that does not start at from; size() when
    // there is none. The cursor stays.
    std::uint64_t findLast(std::string_view needle, std::uint64_t from, std::uint64_t to);

    // Copies the line at the cursor into the buffer, NUL-terminated, when it is shorter than
    // the buffer (a longer one leaves the buffer as it was), then steps over its line end and
    // every CR and LF after it. Returns the line's length.
    std::size_t readLine(LineBuffer &buffer);
    // Moves just past the next occurrence of needle, which must lie wholly within window bytes
    // of the cursor (0: up to the end). Returns the distance moved, 0 when not found.
    std::size_t skipPast(std::string_view needle, std::size_t window = 0);
    // Steps to the first byte that is in set, or to the end; returns the bytes passed.
    std::size_t skipUntil(const CharacterClass &set);
    // Steps over the bytes that are in set; returns the bytes passed.
    std::size_t skipWhile(const CharacterClass &set);
    // The same, over at most `most` bytes.
    std::size_t skipWhile(const CharacterClass &set, std::uint64_t most);
    // Tab, LF, CR and space; form feed and NUL stop it.
    void skipWhitespace() { skipWhile(characters::kBlanks); }
    // Copies the bytes up to the first one in set, or to the end, and steps over them.
    std::size_t readUntil(const CharacterClass &set, Bytes &out);
    std::size_t readUntil(const CharacterClass &set, std::string &out);
    // readUntil the next ">" or "/".
    std::size_t readUntilDelimiter(Bytes &out);
    // From the opening byte at the cursor up to and including the closing byte that balances
    // it, or to the end; a delimiter right after a backslash does not count. One byte when the
    // cursor is on neither.
    std::size_t readBalanced(Bytes &out, std::uint8_t open, std::uint8_t close);
    // The literal string whose "(" is at the cursor, delimiters included, up to the ")" that
    // balances it or to the end (ISO 32000-1, 7.3.4.2): a backslash escapes the byte after it.
    std::size_t readLiteralString(Bytes &out);
    // The array whose "[" is at the cursor, brackets included, up to the "]" that balances it
    // or to the end. Brackets inside literal and hexadecimal strings and inside comments do not
    // count (7.3.6, 7.2.4).
    std::size_t readArray(Bytes &out);
    // Steps over the dictionary whose "<<" is at the cursor without building anything, past the
    // ">>" that balances it or to the end; ">>" inside strings and comments does not count.
    void skipDictionary();
    // Copies count bytes from the cursor on, fewer at the end of the data, and steps over them.
    std::size_t readBytes(std::size_t count, Bytes &out);
    // After C-locale white space, an unsigned decimal number, saturated at 64 bits; false, with
    // the cursor after the white space, when no digit follows.
    bool readUnsigned(std::uint64_t &value);

    // A formatted read of at most maxLength bytes at the cursor (see scanText); the cursor
    // stays.
    int scan(std::size_t maxLength, const char *format, std::initializer_list<ScanTarget> targets);
    int scanAt(std::uint64_t position, std::size_t maxLength, const char *format,
               std::initializer_list<ScanTarget> targets);
    // The formatted-input conversion behind scan, over text that need not be NUL-terminated.
    // Supports white space, literal bytes, "%u", "%lu" and "%Iu" (with the C library's
    // strtoul rules at 32 and 64 bits: saturation, and "-1" as the largest value), "%c" and
    // suppression with "*". Returns the number of assignments, or -1 when the text ends
    // before the first conversion.
    static int scanText(std::string_view text, const char *format,
                        std::initializer_list<ScanTarget> targets);

    // Byte offset named by the last "startxref" that begins within the final `within` bytes
    // (ISO 32000-1, 7.5.5); all bits set when there is none or no number follows it.
    std::uint64_t findXrefOffset(std::size_t within);
    // Offset of the first "%PDF-" that lies within the first `within` bytes and has at least
    // one byte after it (ISO 32000-1, 7.5.2); size() when there is none.
    std::uint64_t findHeader(std::size_t within);

    // Confines every primitive to the data before `end` (at most the source's size), as if
    // the data ended there, and keeps the cursor within it. Returns the end that was in force,
    // which given back lifts the confinement.
    std::uint64_t setEnd(std::uint64_t end);

private:
    std::uint64_t windowEnd() const { return _base + static_cast<std::uint64_t>(_end - _begin); }
    // Makes at least count bytes from the cursor on visible, or all that remain; false when
    // fewer remain. Moving the window invalidates every position but the cursor.
    bool fill(std::size_t count);
    // The window becomes [offset, offset + length) of the data, cut at its end.
    void load(std::uint64_t offset, std::size_t length);
    template <class Out> std::size_t pass(const CharacterClass &set, bool member, Out *out);
    bool startsWithAcrossWindows(std::string_view prefix);
    std::uint64_t findInMemory(std::string_view needle, std::uint64_t from, std::uint64_t to);
    // Hands the bytes from the cursor on to consume(position, window end) window by window until
    // it returns true; it moves the position over what it takes. Copies what it took into out
    // when given, and returns out's size.
    template <class Consume> std::size_t consumeWindows(Consume consume, Bytes *out);

    ByteSource *_source = nullptr;
    const std::uint8_t *_cursor = nullptr;
    const std::uint8_t *_begin = nullptr;
    const std::uint8_t *_end = nullptr;
    // The end of the bytes the window holds; _end stops earlier where setEnd bounds the data.
    const std::uint8_t *_loaded = nullptr;
    std::int32_t _isOpen = 0;
    std::uint64_t _size = 0;
    // Offset of _begin in the data.
    std::uint64_t _base = 0;
    // The window holds the whole data and never moves.
    bool _whole = false;
};

} // namespace vellumtag
