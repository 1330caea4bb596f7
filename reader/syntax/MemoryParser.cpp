#include "syntax/MemoryParser.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "syntax/IntegerText.h"

namespace vellumtag {

namespace {

// Bytes that one step of a search through data in memory looks at: a multiple of the 2 MiB
// that memory may be mapped in, so that whole slices can be handed back.
constexpr std::uint64_t kSearchSlice = std::uint64_t{16} << 20;

void append(Bytes &out, const std::uint8_t *from, const std::uint8_t *to) {
    out.insert(out.end(), from, to);
}

void append(std::string &out, const std::uint8_t *from, const std::uint8_t *to) {
    out.append(reinterpret_cast<const char *>(from), static_cast<std::size_t>(to - from));
}

// Steps through a literal string byte by byte (ISO 32000-1, 7.3.4.2): parentheses nest, and a
// backslash escapes the byte after it. Starts on the "(" and is done past its balancing ")".
struct LiteralString {
    std::ptrdiff_t depth = 0;
    bool escaped = false;

    // True when c ends the string.
    bool step(std::uint8_t c) {
        if (escaped) {
            escaped = false;
        } else if (c == '\\') {
            escaped = true;
            return false;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        }
        return depth == 0;
    }
};

// What an array or a dictionary holds that hides its brackets: a literal string, a hexadecimal
// string up to its ">", or a comment up to the end of its line (ISO 32000-1, 7.2.4), stepped
// over so that the brackets and angle brackets in it do not count.
struct InnerString {
    enum class Kind { None, Literal, Hexadecimal, Comment };
    Kind kind = Kind::None;
    LiteralString literal;

    void startLiteral() {
        kind = Kind::Literal;
        literal = LiteralString{};
        literal.step('(');
    }
    void startHexadecimal() { kind = Kind::Hexadecimal; }
    void startComment() { kind = Kind::Comment; }
    // Takes c when inside a string or a comment, and says so.
    bool step(std::uint8_t c) {
        switch (kind) {
        case Kind::Literal:
            if (literal.step(c))
                kind = Kind::None;
            return true;
        case Kind::Hexadecimal:
            if (c == '>')
                kind = Kind::None;
            return true;
        case Kind::Comment:
            if (c == '\r' || c == '\n')
                kind = Kind::None;
            return true;
        case Kind::None:
            break;
        }
        return false;
    }
};

} // namespace

template <class Consume> std::size_t MemoryParser::consumeWindows(Consume consume, Bytes *out) {
    for (;;) {
        const std::uint8_t *p = _cursor;
        bool done = false;
        while (p < _end && !done)
            done = consume(p, _end);
        if (out != nullptr)
            append(*out, _cursor, p);
        _cursor = p;
        if (done || !fill(1))
            return out != nullptr ? out->size() : 0;
    }
}

void MemoryParser::attach(ByteSource &source) {
    detach();
    if (source.size() == 0)
        return;
    _source = &source;
    _size = source.size();
    _isOpen = 1;
    _whole = source.inMemory();
    load(0, _whole ? static_cast<std::size_t>(_size) : source.chunkSize());
}

void MemoryParser::detach() {
    _source = nullptr;
    _cursor = _begin = _end = _loaded = nullptr;
    _size = _base = 0;
    _isOpen = 0;
    _whole = false;
}

void MemoryParser::load(std::uint64_t offset, std::size_t length) {
    // Never beyond an end that setEnd put before the source's.
    length =
        static_cast<std::size_t>(std::min<std::uint64_t>(length, _size - std::min(offset, _size)));
    const std::span<const std::uint8_t> bytes = _source->read(offset, length);
    _base = offset;
    _begin = _cursor = bytes.data();
    _end = _loaded = _begin + bytes.size();
}

bool MemoryParser::fill(std::size_t count) {
    const auto available = static_cast<std::size_t>(_end - _cursor);
    if (available >= count)
        return true;
    if (_whole || !_isOpen || windowEnd() >= _size)
        return false;
    load(offset(), std::max(count, _source->chunkSize()));
    return static_cast<std::size_t>(_end - _cursor) >= count;
}

void MemoryParser::seek(std::uint64_t offset) {
    if (!_isOpen)
        return;
    offset = std::min(offset, _size);
    if (offset >= _base && offset <= windowEnd())
        _cursor = _begin + static_cast<std::size_t>(offset - _base);
    else
        load(offset, _source->chunkSize());
}

bool MemoryParser::startsWithAcrossWindows(std::string_view prefix) {
    // One byte more than the prefix must remain: a prefix may not end at the last byte.
    const std::size_t needed = std::max<std::size_t>(prefix.size() + 1, 2);
    return fill(needed) && std::memcmp(_cursor, prefix.data(), prefix.size()) == 0;
}

std::uint64_t MemoryParser::find(std::string_view needle, std::uint64_t from, std::uint64_t to) {
    const std::size_t n = needle.size();
    if (!_isOpen || from >= to || to > _size || to - from < n)
        return _size;
    if (_whole)
        return findInMemory(needle, from, to);
    const std::uint64_t kept = offset();
    std::uint64_t result = to;
    for (std::uint64_t at = from;;) {
        seek(at);
        fill(std::max<std::size_t>(n, 1));
        const auto visible =
            static_cast<std::size_t>(std::min<std::uint64_t>(_end - _cursor, to - at));
        const std::string_view haystack(reinterpret_cast<const char *>(_cursor), visible);
        if (const auto found = haystack.find(needle); found != std::string_view::npos) {
            result = at + found;
            break;
        }
        // The window ends before the range does: go on with the last n - 1 bytes again.
        if (at + visible >= to || visible < n)
            break;
        at += visible - n + 1;
    }
    seek(kept);
    return result;
}

std::uint64_t MemoryParser::findInMemory(std::string_view needle, std::uint64_t from,
                                         std::uint64_t to) {
    // The range is searched a slice at a time, slices ending at multiples of kSearchSlice, and
    // each slice wholly passed is handed back to the source: a search through a large mapped
    // file keeps little of it resident. The last n - 1 bytes of a slice are searched again
    // with the next, before the slice is handed back.
    const std::size_t n = needle.size();
    const char *const data = reinterpret_cast<const char *>(_begin);
    std::uint64_t released = from;
    for (std::uint64_t at = from;;) {
        std::uint64_t end = std::min(to, (at / kSearchSlice + 1) * kSearchSlice);
        if (end - at < n)
            end = std::min(to, end + kSearchSlice);
        const std::string_view haystack(data + at, static_cast<std::size_t>(end - at));
        if (const auto found = haystack.find(needle); found != std::string_view::npos)
            return at + found;
        if (end >= to)
            return to;
        const std::uint64_t passed = (end - 1) / kSearchSlice * kSearchSlice;
        if (passed > released) {
            _source->release(released, passed - released);
            released = passed;
        }
        at = end - (n - 1);
    }
}

std::uint64_t MemoryParser::findLast(std::string_view needle, std::uint64_t from,
                                     std::uint64_t to) {
    const std::size_t n = needle.size();
    if (!_isOpen || from >= to || to > _size || to - from < n)
        return _size;
    const std::uint64_t kept = offset();
    seek(from);
    fill(static_cast<std::size_t>(to - from));
    std::uint64_t result = _size;
    if (static_cast<std::uint64_t>(_end - _cursor) >= to - from) {
        // Candidates run downwards; the range's first byte is never one.
        const std::uint8_t *const first = _cursor;
        for (const std::uint8_t *p = first + (to - from - n); p > first; --p) {
            if (std::memcmp(p, needle.data(), n) == 0) {
                result = from + static_cast<std::uint64_t>(p - first);
                break;
            }
        }
    }
    seek(kept);
    return result;
}

template <class Out>
std::size_t MemoryParser::pass(const CharacterClass &set, bool member, Out *out) {
    std::size_t passed = 0;
    for (;;) {
        const std::uint8_t *p = _cursor;
        while (p < _end && set.contains(*p) == member)
            ++p;
        if (out != nullptr)
            append(*out, _cursor, p);
        passed += static_cast<std::size_t>(p - _cursor);
        _cursor = p;
        if (p < _end || !fill(1))
            return passed;
    }
}

std::size_t MemoryParser::skipUntil(const CharacterClass &set) {
    return pass<Bytes>(set, false, nullptr);
}

std::size_t MemoryParser::skipWhile(const CharacterClass &set) {
    return pass<Bytes>(set, true, nullptr);
}

std::size_t MemoryParser::skipWhile(const CharacterClass &set, std::uint64_t most) {
    const std::uint64_t here = offset();
    const std::uint64_t end = setEnd(here + std::min(most, _size - here));
    const std::size_t passed = skipWhile(set);
    setEnd(end);
    return passed;
}

std::size_t MemoryParser::readUntil(const CharacterClass &set, Bytes &out) {
    return pass(set, false, &out);
}

std::size_t MemoryParser::readUntil(const CharacterClass &set, std::string &out) {
    return pass(set, false, &out);
}

std::size_t MemoryParser::readUntilDelimiter(Bytes &out) {
    static constexpr CharacterClass kDelimiters(">/");
    out.clear();
    return readUntil(kDelimiters, out);
}

std::size_t MemoryParser::readLine(LineBuffer &buffer) {
    if (!fill(1)) {
        buffer[0] = '\0';
        return 0;
    }
    const std::uint8_t *p = _cursor;
    while (p < _end && !characters::kLineEnds.contains(*p))
        ++p;
    std::size_t n = 0;
    if (p < _end || windowEnd() >= _size) {
        n = static_cast<std::size_t>(p - _cursor);
        if (n < buffer.size()) {
            std::memcpy(buffer.data(), _cursor, n);
            buffer[n] = '\0';
        }
        _cursor = p;
    } else {
        // The line runs past the window: it is gathered in a scratch buffer, so that a line
        // too long to be copied leaves the caller's buffer as it was.
        LineBuffer scratch;
        for (;;) {
            const auto piece = static_cast<std::size_t>(p - _cursor);
            if (n + piece < scratch.size())
                std::memcpy(scratch.data() + n, _cursor, piece);
            n += piece;
            _cursor = p;
            if (p < _end || !fill(1))
                break;
            p = _cursor;
            while (p < _end && !characters::kLineEnds.contains(*p))
                ++p;
        }
        if (n < buffer.size()) {
            std::memcpy(buffer.data(), scratch.data(), n);
            buffer[n] = '\0';
        }
    }
    // The cursor is on the line's first CR or LF, or at the end of the data. That byte and every
    // CR and LF after it are stepped over, here while they lie in the window.
    if (_cursor < _end) {
        p = _cursor + 1;
        while (p < _end && characters::kLineEnds.contains(*p))
            ++p;
        _cursor = p;
        if (p == _end)
            skipWhile(characters::kLineEnds);
    }
    return n;
}

std::size_t MemoryParser::skipPast(std::string_view needle, std::size_t window) {
    if (!fill(1))
        return 0;
    const std::uint64_t from = offset();
    const std::uint64_t available = _size - from;
    const std::uint64_t limit = (window != 0 && window < available) ? from + window : _size;
    const std::uint64_t found = find(needle, from, limit);
    if (found >= limit)
        return 0;
    const std::uint64_t after = std::min<std::uint64_t>(found + needle.size(), _size);
    seek(after);
    return static_cast<std::size_t>(after - from);
}

std::size_t MemoryParser::readBalanced(Bytes &out, std::uint8_t open, std::uint8_t close) {
    out.clear();
    // Only the single byte before a delimiter is looked at for an escaping backslash.
    int depth = 0;
    int previous = -1;
    return consumeWindows(
        [&](const std::uint8_t *&p, const std::uint8_t *) {
            const std::uint8_t c = *p++;
            const bool escaped = previous == '\\';
            if (c == open && !escaped)
                ++depth;
            else if (c == close && !escaped)
                --depth;
            previous = c;
            return depth == 0;
        },
        &out);
}

std::size_t MemoryParser::readLiteralString(Bytes &out) {
    out.clear();
    LiteralString literal;
    return consumeWindows(
        [&](const std::uint8_t *&p, const std::uint8_t *) { return literal.step(*p++); }, &out);
}

std::size_t MemoryParser::readArray(Bytes &out) {
    out.clear();
    // A "<" starts a hexadecimal string unless another "<" follows it, which makes the two a
    // dictionary's start; when it is the last byte of the window, the next window's first byte
    // decides.
    InnerString inner;
    bool afterLess = false;
    std::size_t depth = 0;
    return consumeWindows(
        [&](const std::uint8_t *&p, const std::uint8_t *end) {
            const std::uint8_t c = *p;
            if (afterLess) {
                afterLess = false;
                if (c == '<')
                    ++p;
                else
                    inner.startHexadecimal(); // this byte is read again, inside the string
                return false;
            }
            ++p;
            if (inner.step(c))
                return false;
            if (c == '(') {
                inner.startLiteral();
            } else if (c == '%') {
                inner.startComment();
            } else if (c == '<') {
                if (p == end)
                    afterLess = true;
                else if (*p == '<')
                    ++p;
                else
                    inner.startHexadecimal();
            } else {
                if (c == '[')
                    ++depth;
                else if (c == ']')
                    --depth;
                return depth == 0;
            }
            return false;
        },
        &out);
}

void MemoryParser::skipDictionary() {
    // "<<" and ">>" count only when doubled; a pair split by the window's end is decided by the
    // first byte of the next window.
    InnerString inner;
    int after = 0; // the "<" or ">" just before, when it may start a pair
    std::size_t open = 0;
    consumeWindows(
        [&](const std::uint8_t *&p, const std::uint8_t *) {
            const std::uint8_t c = *p;
            if (after != 0) {
                const bool pair = c == after;
                const bool opening = after == '<';
                after = 0;
                if (pair) {
                    ++p;
                    if (opening)
                        ++open;
                    else
                        return --open == 0;
                } else if (opening) {
                    inner.startHexadecimal();
                }
                return false;
            }
            ++p;
            if (inner.step(c))
                return false;
            if (c == '(')
                inner.startLiteral();
            else if (c == '%')
                inner.startComment();
            else if (c == '<' || c == '>')
                after = c;
            return false;
        },
        nullptr);
}

std::size_t MemoryParser::readBytes(std::size_t count, Bytes &out) {
    out.clear();
    if (_whole) {
        const std::size_t n = std::min(count, static_cast<std::size_t>(_end - _cursor));
        out.assign(_cursor, _cursor + n);
        _cursor += n;
        return n;
    }
    out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, _size - offset())));
    while (out.size() < count && fill(1)) {
        const std::size_t n =
            std::min(count - out.size(), static_cast<std::size_t>(_end - _cursor));
        append(out, _cursor, _cursor + n);
        _cursor += n;
    }
    return out.size();
}

bool MemoryParser::readUnsigned(std::uint64_t &value) {
    skipWhile(characters::kCSpace);
    IntegerText number;
    while (fill(1)) {
        const std::size_t digits = number.appendDigits(
            std::span<const std::uint8_t>(_cursor, static_cast<std::size_t>(_end - _cursor)));
        _cursor += digits;
        if (_cursor < _end)
            break;
    }
    if (!number.hasDigits())
        return false;
    value = number.magnitude();
    return true;
}

int MemoryParser::scan(std::size_t maxLength, const char *format,
                       std::initializer_list<ScanTarget> targets) {
    if (!_isOpen)
        return -1;
    fill(maxLength);
    const std::size_t window = std::min(maxLength, static_cast<std::size_t>(_end - _cursor));
    return scanText(std::string_view(reinterpret_cast<const char *>(_cursor), window), format,
                    targets);
}

int MemoryParser::scanAt(std::uint64_t position, std::size_t maxLength, const char *format,
                         std::initializer_list<ScanTarget> targets) {
    const std::uint64_t kept = offset();
    seek(position);
    const int result = scan(maxLength, format, targets);
    seek(kept);
    return result;
}

int MemoryParser::scanText(std::string_view text, const char *format,
                           std::initializer_list<ScanTarget> targets) {
    std::size_t pos = 0;
    int assigned = 0;
    int completed = 0;
    auto target = targets.begin();
    const auto inputFailure = [&] { return completed == 0 ? -1 : assigned; };
    const auto skipSpace = [&] {
        while (pos < text.size() && characters::kCSpace.contains(text[pos]))
            ++pos;
    };

    for (const char *f = format; *f != '\0'; ++f) {
        if (characters::kCSpace.contains(*f)) {
            skipSpace();
            continue;
        }
        if (*f != '%') {
            if (pos >= text.size())
                return inputFailure();
            if (text[pos] != *f)
                return assigned;
            ++pos;
            continue;
        }
        ++f;
        const bool suppress = *f == '*';
        if (suppress)
            ++f;
        const bool wide = *f == 'I';
        if (*f == 'l' || *f == 'I')
            ++f;
        if (*f == 'u') {
            skipSpace();
            if (pos >= text.size())
                return inputFailure();
            const IntegerText number = IntegerText::read(text, pos);
            if (!number.hasDigits())
                return number.digitsAt() >= text.size() ? inputFailure() : assigned;
            const std::uint64_t value = number.toUnsigned(wide ? UINT64_MAX : UINT32_MAX);
            if (!suppress) {
                if (target == targets.end())
                    return assigned;
                if (wide && std::holds_alternative<std::uint64_t *>(*target))
                    *std::get<std::uint64_t *>(*target) = value;
                else if (!wide && std::holds_alternative<std::uint32_t *>(*target))
                    *std::get<std::uint32_t *>(*target) = static_cast<std::uint32_t>(value);
                else {
                    assert(false && "scan target does not match its conversion");
                    return assigned;
                }
                ++target;
                ++assigned;
            }
            ++completed;
        } else if (*f == 'c') {
            if (pos >= text.size())
                return inputFailure();
            if (!suppress) {
                if (target == targets.end() || !std::holds_alternative<char *>(*target)) {
                    assert(false && "scan target does not match its conversion");
                    return assigned;
                }
                *std::get<char *>(*target) = text[pos];
                ++target;
                ++assigned;
            }
            ++pos;
            ++completed;
        } else {
            assert(false && "unsupported scan conversion");
            return assigned;
        }
    }
    return assigned;
}

std::uint64_t MemoryParser::findXrefOffset(std::size_t within) {
    constexpr std::uint64_t notFound = UINT64_MAX;
    if (!_isOpen)
        return notFound;
    // findLast never takes the first byte of its range.
    const std::uint64_t windowStart = _size > within ? _size - within - 1 : 0;
    constexpr std::string_view keyword = "startxref";
    const std::uint64_t found = findLast(keyword, windowStart, _size);
    if (found == _size || found + keyword.size() >= _size)
        return notFound;
    std::uint64_t offset = notFound;
    scanAt(found + keyword.size(), limits::kScanWindow, "%Iu", {&offset});
    return offset;
}

std::uint64_t MemoryParser::findHeader(std::size_t within) {
    constexpr std::string_view header = "%PDF-";
    if (!_isOpen)
        return _size;
    const std::uint64_t limit = std::min<std::uint64_t>(within, _size);
    const std::uint64_t found = find(header, 0, limit);
    return found < limit && found + header.size() < _size ? found : _size;
}

std::uint64_t MemoryParser::setEnd(std::uint64_t end) {
    const std::uint64_t previous = _size;
    if (!_isOpen)
        return previous;
    const std::uint64_t at = offset();
    _size = std::min(end, _source->size());
    // The window shows what it holds up to the end: a bound set and lifted again leaves the
    // window as it was, so that a bounded step does not cost the next read a reload.
    if (_whole)
        _end = _begin + _size;
    else
        _end = std::min(_loaded, _begin + (_size > _base ? _size - _base : 0));
    // The cursor may have lain beyond the new end, or the window wholly beyond it.
    _cursor = std::min(_cursor, _end);
    seek(std::min(at, _size));
    return previous;
}

} // namespace vellumtag
