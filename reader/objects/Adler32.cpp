#include "objects/Adler32.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellumtag {

namespace {

constexpr std::uint32_t kBase = 65521;
// Most bytes that can be summed before the second sum may overflow 32 bits (RFC 1950; zlib's
// NMAX), rounded down to whole sixteen-byte steps.
constexpr std::size_t kMaxRun = 5552;

#if defined(__SSE2__)
// Adds a run of whole sixteen-byte blocks to a and b, which the caller reduces afterwards.
// Per block, b gains sixteen times the a before it plus the bytes weighted 16 down to 1.
void sumBlocks(const std::uint8_t *p, std::size_t blocks, std::uint32_t &a, std::uint32_t &b) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i highWeights = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i lowWeights = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    __m128i byteSums = zero;    // sums of the bytes, in two 64-bit lanes
    __m128i earlierSums = zero; // byteSums before each block, added up
    __m128i weighted = zero;    // weighted bytes, in four 32-bit lanes
    for (std::size_t i = 0; i < blocks; ++i, p += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        earlierSums = _mm_add_epi32(earlierSums, byteSums);
        byteSums = _mm_add_epi32(byteSums, _mm_sad_epu8(bytes, zero));
        weighted =
            _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), highWeights));
        weighted =
            _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), lowWeights));
    }
    const auto lanes32 = [](__m128i v) {
        v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
        v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
        return static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
    };
    // The byte sums occupy the low 32 bits of each 64-bit lane; the high halves are zero.
    const std::uint32_t sum = lanes32(byteSums);
    b +=
        static_cast<std::uint32_t>(blocks * 16) * a + 16 * lanes32(earlierSums) + lanes32(weighted);
    a += sum;
}
#endif

} // namespace

std::uint32_t Adler32::update(std::uint32_t adler, std::span<const std::uint8_t> data) {
    std::uint32_t a = adler & 0xFFFF;
    std::uint32_t b = adler >> 16;
    const std::uint8_t *p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        std::size_t run = std::min(left, kMaxRun);
        left -= run;
#if defined(__SSE2__)
        const std::size_t blocks = run / 16;
        sumBlocks(p, blocks, a, b);
        p += blocks * 16;
        run -= blocks * 16;
#endif
        for (; run > 0; --run) {
            a += *p++;
            b += a;
        }
        a %= kBase;
        b %= kBase;
    }
    return (b << 16) | a;
}

} // namespace vellumtag
