#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <variant>
#include <vector>

#include "syntax/Limits.h"

namespace vellumtag {

// Destination of one conversion of a bounded formatted read: "%u" and "%lu" fill a 32-bit
// unsigned integer, "%Iu" a 64-bit one, "%c" one byte.
using ScanTarget = std::variant<std::uint32_t *, std::uint64_t *, char *>;

using Bytes = std::vector<std::uint8_t>;

using LineBuffer = std::array<char, limits::kLineBuffer>;

// A cursor over read-only bytes that somebody else owns (a mapping, or a caller's buffer),
// with the scanning primitives the PDF reader is written on. No primitive reads outside
// [_begin, _end) and none moves the cursor past _end; while closed every primitive fails its
// range test. Nothing is copied out except by readLine, readBalanced and readUntilDelimiter.
class MemoryParser {
public:
    MemoryParser() = default;
    MemoryParser(const MemoryParser &) = delete;
    MemoryParser &operator=(const MemoryParser &) = delete;

    // Scans size bytes at data, which must stay valid until detach. An empty range stays closed.
    void attach(const std::uint8_t *data, std::size_t size);
    void detach();

    bool isOpen() const { return _isOpen != 0; }
    std::size_t size() const { return _size; }
    const std::uint8_t *getBegin() const;
    const std::uint8_t *getEnd() const;

    // Puts the cursor at a byte offset from the start, clamped to the end of the data.
    void seek(std::uint64_t offset);
    std::uint64_t offset() const { return static_cast<std::uint64_t>(_cursor - _begin); }
    bool atEnd() const { return _cursor >= _end; }

    bool isValidRange(const std::uint8_t *a, const std::uint8_t *b) const;
    const std::uint8_t *find(std::string_view needle) const;
    const std::uint8_t *find(std::string_view needle, const std::uint8_t *from,
                             const std::uint8_t *to) const;
    const std::uint8_t *findLast(std::string_view needle) const;
    const std::uint8_t *findLast(std::string_view needle, const std::uint8_t *from,
                                 const std::uint8_t *to) const;
    bool startsWith(std::string_view prefix) const;

    std::size_t readLine(LineBuffer &buffer);
    std::size_t skipPast(std::string_view needle, std::size_t window = 0);
    std::size_t skipUntil(std::string_view set);
    void skipWhitespace();
    std::size_t readBalanced(std::vector<std::uint8_t> &out, std::uint8_t open, std::uint8_t close);
    std::size_t readUntilDelimiter(std::vector<std::uint8_t> &out);

    int scan(std::size_t maxLength, const char *format,
             std::initializer_list<ScanTarget> targets) const;
    int scanAt(const std::uint8_t *position, std::size_t maxLength, const char *format,
               std::initializer_list<ScanTarget> targets) const;

    // The formatted-input conversion behind scan, over text that need not be NUL-terminated.
    // Supports white space, literal bytes, "%u", "%lu" and "%Iu" (with the C library's
    // strtoul rules at 32 and 64 bits: saturation, and "-1" as the largest value), "%c" and
    // suppression with "*". Returns the number of assignments, or -1 when the text ends
    // before the first conversion.
    static int scanText(std::string_view text, const char *format,
                        std::initializer_list<ScanTarget> targets);

    // Byte offset named by the last "startxref" in the final 49 bytes; all bits set when
    // there is none or no number follows it.
    std::uint64_t findXrefOffset() const;

    // Current read position. Assign it only within [getBegin(), getEnd()]; seek clamps.
    const std::uint8_t *_cursor = nullptr;

protected:
    const std::uint8_t *_begin = nullptr;
    const std::uint8_t *_end = nullptr;
    std::int32_t _isOpen = 0;
    std::size_t _size = 0;
};

} // namespace vellumtag
