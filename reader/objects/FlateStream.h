#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <zlib.h>

#include "syntax/MemoryParser.h"
#include "syntax/PDFResult.h"

namespace vellumtag {

// zlib-format data (RFC 1950) inflated straight into one output buffer, all of them in one call
// or only as far as asked: a later call goes on from where the last one stopped. The output is
// never copied piece by piece; it moves only when the buffer has to grow. The Adler-32 that
// ends the data is compared once all of them are inflated. The input is not copied: it must
// stay in place, unchanged, for the object's life, and the object itself never moves.
class FlateStream {
public:
    // `expected`: the size that the caller expects the output to have, 0 when unknown. The
    // first buffer is sized for it, when the input can inflate to so much; the data decide.
    explicit FlateStream(std::span<const std::uint8_t> input, std::size_t expected = 0)
        : _input(input), _expected(expected) {}
    ~FlateStream();
    FlateStream(const FlateStream &) = delete;
    FlateStream &operator=(const FlateStream &) = delete;

    // Inflates until at least `size` bytes are out, or to the end of the data when they hold
    // fewer: 107 when they are damaged (a wrong Adler-32 included) or run out before either,
    // or when reaching either would take more than `limit` bytes of output. Bytes already out
    // stay out after a failure; every later call that needs more fails the same way.
    PDFResult inflateTo(std::size_t size, std::size_t limit);
    // Inflates to the end of the data, into a first buffer of the expected size or else sized
    // from the input, which doubles while it fills: in one call when the guess holds.
    PDFResult inflateAll(std::size_t limit) { return inflateTo(SIZE_MAX, limit); }

    // The bytes inflated so far; the caller may take them once it needs no more.
    Bytes &output() { return _output; }
    const Bytes &output() const { return _output; }
    // True once all the data are inflated and their Adler-32 matched.
    bool ended() const { return _state == State::Ended; }

private:
    enum class State { Fresh, Running, Ended, Failed };

    PDFResult fail();
    // The room for the whole output before anything is known of it.
    std::size_t firstRoom() const;
    // Compares the Adler-32 that ends the input, just before next_in, with that of the output.
    bool checksumMatches() const;

    std::span<const std::uint8_t> _input;
    std::size_t _expected;
    z_stream _stream{};
    State _state = State::Fresh;
    Bytes _output;
};

} // namespace vellumtag
