#include "syntax/MemoryParser.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace vellumtag {

namespace {

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isPdfBlank(std::uint8_t c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

std::uintptr_t address(const std::uint8_t *p) { return reinterpret_cast<std::uintptr_t>(p); }

// strtoul at the given width: digits accumulate until they overflow, which saturates at the
// largest value whatever the sign; a minus sign otherwise negates modulo 2^bits.
std::uint64_t convertUnsigned(std::string_view digits, bool negative, std::uint64_t maximum) {
    std::uint64_t value = 0;
    bool overflow = false;
    for (char d : digits) {
        const auto digit = static_cast<std::uint64_t>(d - '0');
        if (value > (maximum - digit) / 10)
            overflow = true;
        else
            value = value * 10 + digit;
    }
    if (overflow)
        return maximum;
    return negative ? (0 - value) & maximum : value;
}

} // namespace

void MemoryParser::attach(const std::uint8_t *data, std::size_t size) {
    detach();
    if (data == nullptr || size == 0)
        return;
    _begin = _cursor = data;
    _end = data + size;
    _size = size;
    _isOpen = 1;
}

void MemoryParser::detach() {
    _begin = _end = nullptr;
    _size = 0;
    _isOpen = 0;
}

const std::uint8_t *MemoryParser::getBegin() const {
    assert(_isOpen);
    return _begin;
}

const std::uint8_t *MemoryParser::getEnd() const {
    assert(_isOpen);
    return _begin + _size;
}

void MemoryParser::seek(std::uint64_t offset) {
    _cursor = _begin + static_cast<std::size_t>(std::min<std::uint64_t>(offset, _size));
}

bool MemoryParser::isValidRange(const std::uint8_t *a, const std::uint8_t *b) const {
    if (!_isOpen)
        return false;
    const auto lo = address(_begin), hi = address(_end);
    return address(a) >= lo && address(a) <= hi && address(b) >= lo && address(b) <= hi &&
           address(a) < address(b);
}

const std::uint8_t *MemoryParser::find(std::string_view needle) const {
    return find(needle, _cursor, _end);
}

const std::uint8_t *MemoryParser::find(std::string_view needle, const std::uint8_t *from,
                                       const std::uint8_t *to) const {
    if (!isValidRange(from, to) || static_cast<std::size_t>(to - from) < needle.size())
        return _end;
    const std::string_view haystack(reinterpret_cast<const char *>(from),
                                    static_cast<std::size_t>(to - from));
    const auto at = haystack.find(needle);
    return at == std::string_view::npos ? to : from + at;
}

const std::uint8_t *MemoryParser::findLast(std::string_view needle) const {
    return findLast(needle, _begin, _end);
}

const std::uint8_t *MemoryParser::findLast(std::string_view needle, const std::uint8_t *from,
                                           const std::uint8_t *to) const {
    const std::size_t n = needle.size();
    if (!isValidRange(from, to) || static_cast<std::size_t>(to - from) < n)
        return _end;
    // The range's first byte is never a candidate.
    for (const std::uint8_t *p = to - n; p > from; --p) {
        if (std::memcmp(p, needle.data(), n) == 0)
            return p;
    }
    return _end;
}

bool MemoryParser::startsWith(std::string_view prefix) const {
    // One byte more than the prefix must remain: a prefix may not end at the last byte.
    if (!_isOpen || !isValidRange(_cursor, _end - 1))
        return false;
    if (static_cast<std::size_t>(_end - _cursor) < prefix.size() + 1)
        return false;
    return std::memcmp(_cursor, prefix.data(), prefix.size()) == 0;
}

std::size_t MemoryParser::readLine(LineBuffer &buffer) {
    if (!isValidRange(_cursor, _end)) {
        buffer[0] = '\0';
        return 0;
    }
    // skipUntil("\r\n") written out over a local pointer, which the byte reads cannot alias:
    // cross-reference tables are read line by line.
    const std::uint8_t *const start = _cursor;
    const std::uint8_t *p = start;
    while (p < _end && *p != '\r' && *p != '\n')
        ++p;
    const auto n = static_cast<std::size_t>(p - start);
    if (n < buffer.size()) {
        if (n > 0)
            std::memcpy(buffer.data(), start, n);
        buffer[n] = '\0';
    }
    if (p < _end) {
        ++p;
        while (p < _end && (*p == '\n' || *p == '\r'))
            ++p;
    }
    _cursor = p;
    return n;
}

std::size_t MemoryParser::skipPast(std::string_view needle, std::size_t window) {
    if (!isValidRange(_cursor, _end))
        return 0;
    const std::size_t available = static_cast<std::size_t>(_end - _cursor);
    const std::uint8_t *limit = (window != 0 && window < available) ? _cursor + window : _end;
    const std::uint8_t *found = find(needle, _cursor, limit);
    if (address(found) >= address(limit))
        return 0;
    const std::uint8_t *after = std::min(found + needle.size(), _end);
    const auto advanced = static_cast<std::size_t>(after - _cursor);
    _cursor = after;
    return advanced;
}

std::size_t MemoryParser::skipUntil(std::string_view set) {
    if (!isValidRange(_cursor, _end))
        return 0;
    const std::uint8_t *start = _cursor;
    // The sets are a few bytes long: comparing with each is cheaper than a search call per byte.
    const auto inSet = [set](std::uint8_t c) {
        for (const char s : set) {
            if (c == static_cast<std::uint8_t>(s))
                return true;
        }
        return false;
    };
    while (_cursor < _end && !inSet(*_cursor))
        ++_cursor;
    return static_cast<std::size_t>(_cursor - start);
}

void MemoryParser::skipWhitespace() {
    if (!isValidRange(_cursor, _end))
        return;
    while (_cursor < _end && isPdfBlank(*_cursor))
        ++_cursor;
}

std::size_t MemoryParser::readBalanced(std::vector<std::uint8_t> &out, std::uint8_t open,
                                       std::uint8_t close) {
    out.clear();
    if (!isValidRange(_cursor, _end))
        return 0;
    const std::uint8_t *start = _cursor;
    int depth = 0;
    do {
        if (_cursor >= _end)
            break;
        const std::uint8_t c = *_cursor;
        // Only the single byte before a delimiter is looked at for an escaping backslash.
        const bool escaped = _cursor != start && _cursor[-1] == '\\';
        if (c == open && !escaped)
            ++depth;
        else if (c == close && !escaped)
            --depth;
        ++_cursor;
    } while (depth != 0);
    out.assign(start, _cursor);
    return out.size();
}

std::size_t MemoryParser::readUntilDelimiter(std::vector<std::uint8_t> &out) {
    out.clear();
    const std::uint8_t *start = _cursor;
    const std::size_t n = skipUntil(">/");
    out.assign(start, start + n);
    return n;
}

int MemoryParser::scan(std::size_t maxLength, const char *format,
                       std::initializer_list<ScanTarget> targets) const {
    return scanAt(_cursor, maxLength, format, targets);
}

int MemoryParser::scanAt(const std::uint8_t *position, std::size_t maxLength, const char *format,
                         std::initializer_list<ScanTarget> targets) const {
    if (!_isOpen)
        return -1;
    const std::uint8_t *start = position;
    if (address(start) < address(_begin))
        start = _begin;
    if (address(start) > address(_end))
        start = _end;
    const auto available = static_cast<std::size_t>(_end - start);
    const std::size_t window = (maxLength != 0 && maxLength <= available) ? maxLength : available;
    return scanText(std::string_view(reinterpret_cast<const char *>(start), window), format,
                    targets);
}

int MemoryParser::scanText(std::string_view text, const char *format,
                           std::initializer_list<ScanTarget> targets) {
    std::size_t pos = 0;
    int assigned = 0;
    int completed = 0;
    auto target = targets.begin();
    const auto inputFailure = [&] { return completed == 0 ? -1 : assigned; };
    const auto skipSpace = [&] {
        while (pos < text.size() && isCSpace(text[pos]))
            ++pos;
    };

    for (const char *f = format; *f != '\0'; ++f) {
        if (isCSpace(*f)) {
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
            const bool negative = text[pos] == '-';
            std::size_t digitsStart = pos + ((text[pos] == '-' || text[pos] == '+') ? 1 : 0);
            std::size_t digitsEnd = digitsStart;
            while (digitsEnd < text.size() && text[digitsEnd] >= '0' && text[digitsEnd] <= '9')
                ++digitsEnd;
            if (digitsEnd == digitsStart)
                return digitsStart >= text.size() ? inputFailure() : assigned;
            const std::uint64_t value =
                convertUnsigned(text.substr(digitsStart, digitsEnd - digitsStart), negative,
                                wide ? UINT64_MAX : UINT32_MAX);
            pos = digitsEnd;
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

std::uint64_t MemoryParser::findXrefOffset() const {
    constexpr std::uint64_t notFound = UINT64_MAX;
    if (!_isOpen)
        return notFound;
    const std::uint8_t *windowStart =
        _size > limits::kStartxrefWindow ? _end - limits::kStartxrefWindow : _begin;
    constexpr std::string_view keyword = "startxref";
    const std::uint8_t *found = findLast(keyword, windowStart, _end);
    if (found == _end || found + keyword.size() >= _end)
        return notFound;
    std::uint64_t offset = notFound;
    scanAt(found + keyword.size(), limits::kScanWindow, "%Iu", {&offset});
    return offset;
}

} // namespace vellumtag
