#pragma once

#include <cstdint>
#include <span>

namespace vellumtag {

// The Adler-32 checksum of RFC 1950, 8.2, which closes every zlib stream. zlib's own runs a
// byte at a time; this one sums sixteen bytes per step where SSE2 is available (every x86-64
// processor), and gives the same values.
class Adler32 {
public:
    static constexpr std::uint32_t kInitial = 1;

    // The checksum of data continued from that of the bytes before it (kInitial for none).
    static std::uint32_t update(std::uint32_t adler, std::span<const std::uint8_t> data);
};

} // namespace vellumtag
