#include "security/MD5.h"

#include <algorithm>
#include <bit>

namespace vellumtag {

namespace {

// Per-round shift amounts and the sine-derived constants T[1..64] of RFC 1321, 3.4.
constexpr std::array<int, 64> kShift = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                        5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                        4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                        6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr std::array<std::uint32_t, 64> kSine = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// The message word of each step: i, (5i + 1) mod 16, (3i + 5) mod 16 and 7i mod 16 by round.
constexpr std::array<std::uint8_t, 64> kWord = [] {
    std::array<std::uint8_t, 64> word{};
    for (std::size_t i = 0; i < 64; ++i) {
        const std::size_t g = i < 16 ? i : i < 32 ? 5 * i + 1 : i < 48 ? 3 * i + 5 : 7 * i;
        word[i] = static_cast<std::uint8_t>(g % 16);
    }
    return word;
}();

std::uint32_t loadLittleEndian(const std::uint8_t *p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

} // namespace

void MD5::init() {
    _state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    _length = 0;
}

void MD5::update(std::span<const std::uint8_t> data) {
    std::size_t buffered = static_cast<std::size_t>(_length % 64);
    _length += data.size();
    if (buffered != 0) {
        const std::size_t take = std::min(data.size(), 64 - buffered);
        std::copy_n(data.begin(), take, _buffer.begin() + static_cast<std::ptrdiff_t>(buffered));
        data = data.subspan(take);
        buffered += take;
        if (buffered < 64)
            return;
        transform(_buffer.data());
    }
    for (; data.size() >= 64; data = data.subspan(64))
        transform(data.data());
    std::copy(data.begin(), data.end(), _buffer.begin());
}

MD5::Digest MD5::final() {
    // Padding of RFC 1321, 3.1 and 3.2: a 1 bit, zeros up to 56 bytes modulo 64, then the
    // message length in bits, least significant byte first.
    const std::uint64_t bits = _length * 8;
    std::array<std::uint8_t, 72> tail{};
    tail[0] = 0x80;
    const std::size_t used = static_cast<std::size_t>(_length % 64);
    const std::size_t padding = used < 56 ? 56 - used : 120 - used;
    for (int i = 0; i < 8; ++i)
        tail[padding + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
    update(std::span(tail).first(padding + 8));

    Digest digest;
    for (std::size_t i = 0; i < 16; ++i)
        digest[i] = static_cast<std::uint8_t>(_state[i / 4] >> (8 * (i % 4)));
    init();
    return digest;
}

MD5::Digest MD5::digest(std::span<const std::uint8_t> data) {
    MD5 md5;
    md5.update(data);
    return md5.final();
}

void MD5::transform(const std::uint8_t *block) {
    std::array<std::uint32_t, 16> x;
    for (std::size_t i = 0; i < 16; ++i)
        x[i] = loadLittleEndian(block + 4 * i);

    std::uint32_t a = _state[0], b = _state[1], c = _state[2], d = _state[3];
    // One loop per round, so that no step chooses its function or works out its word.
    const auto step = [&](std::size_t i, std::uint32_t f) {
        const std::uint32_t rotated = std::rotl(a + f + kSine[i] + x[kWord[i]], kShift[i]);
        a = d;
        d = c;
        c = b;
        b += rotated;
    };
    for (std::size_t i = 0; i < 16; ++i)
        step(i, (b & c) | (~b & d));
    for (std::size_t i = 16; i < 32; ++i)
        step(i, (b & d) | (c & ~d));
    for (std::size_t i = 32; i < 48; ++i)
        step(i, b ^ c ^ d);
    for (std::size_t i = 48; i < 64; ++i)
        step(i, c ^ (b | ~d));
    _state[0] += a;
    _state[1] += b;
    _state[2] += c;
    _state[3] += d;
}

} // namespace vellumtag
