#include "objects/FlateStream.h"

#include <algorithm>
#include <climits>

#include "objects/Adler32.h"
#include "syntax/Limits.h"

namespace vellumtag {

FlateStream::~FlateStream() {
    if (_state == State::Running)
        inflateEnd(&_stream);
}

PDFResult FlateStream::fail() {
    if (_state == State::Running)
        inflateEnd(&_stream);
    _state = State::Failed;
    return PDFResult::DecompressionFailed;
}

PDFResult FlateStream::inflateTo(std::size_t size, std::size_t limit) {
    if (_output.size() >= size || _state == State::Ended)
        return PDFResult::Ok;
    if (_state == State::Failed || limit == 0)
        return PDFResult::DecompressionFailed;
    if (_state == State::Fresh) {
        if (_input.size() > UINT_MAX)
            return fail();
        // zlib only reads through next_in.
        _stream.next_in = const_cast<Bytef *>(_input.data());
        _stream.avail_in = static_cast<uInt>(_input.size());
        if (inflateInit(&_stream) != Z_OK) {
            _state = State::Failed;
            return PDFResult::DecompressionFailed;
        }
        _state = State::Running;
        // The Adler-32 is compared by a faster sum than zlib's, once everything is out.
        if (inflateValidate(&_stream, 0) != Z_OK)
            return fail();
    }

    const bool whole = size == SIZE_MAX;
    for (;;) {
        // A prefix gets exactly the room it needs, so that inflate stops where it is complete;
        // the whole data get the first room, or double what is out, until they fit.
        const std::size_t produced = _output.size();
        const std::size_t capacity = std::min(
            {whole ? std::max(firstRoom(), produced * 2) : size, limit, std::size_t{UINT_MAX}});
        if (capacity <= produced)
            return fail();
        _output.resize(capacity);
        _stream.next_out = _output.data() + produced;
        _stream.avail_out = static_cast<uInt>(capacity - produced);
        // Z_FINISH: all the input is there. Where the room suffices, inflate keeps no window
        // and copies nothing; where it does not, it keeps one and can go on from there.
        const int rc = inflate(&_stream, Z_FINISH);
        const bool full = _stream.avail_out == 0;
        _output.resize(capacity - _stream.avail_out);
        if (rc == Z_STREAM_END) {
            if (!checksumMatches())
                return fail();
            inflateEnd(&_stream);
            _state = State::Ended;
            return PDFResult::Ok;
        }
        // Z_BUF_ERROR with room left: the input ended before the compressed data did. Any other
        // code is damage, which still leaves the bytes before it out.
        if (rc != Z_BUF_ERROR || !full) {
            const bool reached = _output.size() >= size;
            fail();
            return reached ? PDFResult::Ok : PDFResult::DecompressionFailed;
        }
        if (_output.size() >= size)
            return PDFResult::Ok;
    }
}

std::size_t FlateStream::firstRoom() const {
    // inflate takes its fast path only while the room left holds a longest match (258 bytes):
    // the room exceeds the output foreseen by that much. An expected size is believed up to
    // the most that deflate can encode in the input, 1032 bytes for each of its bytes (RFC 1951:
    // a match of 258 bytes in two bits); else four times the input, for a first buffer that a
    // large input does not make huge.
    constexpr std::size_t kLongestMatch = 258;
    constexpr std::size_t kMostRatio = 1032;
    if (_expected > 0 && _expected / kMostRatio <= _input.size())
        return _expected + kLongestMatch;
    return std::clamp<std::size_t>(_input.size() * 4, 64, limits::kMaxInitialInflateBytes) +
           kLongestMatch;
}

bool FlateStream::checksumMatches() const {
    // RFC 1950, 2.2: the data end with the Adler-32 of the output, most significant byte first.
    const std::uint8_t *check = _stream.next_in - 4;
    const std::uint32_t expected = std::uint32_t{check[0]} << 24 | std::uint32_t{check[1]} << 16 |
                                   std::uint32_t{check[2]} << 8 | check[3];
    return Adler32::update(Adler32::kInitial, _output) == expected;
}

} // namespace vellumtag
