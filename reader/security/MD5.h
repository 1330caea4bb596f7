#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vellumtag {

// The MD5 message digest of RFC 1321. Feed the message in pieces of any size through update,
// then take the 16-byte digest with final, which also makes the object ready for a new
// message. Not for security: the PDF Standard security handler derives its keys with it.
class MD5 {
public:
    using Digest = std::array<std::uint8_t, 16>;

    MD5() { init(); }

    void init();
    void update(std::span<const std::uint8_t> data);
    Digest final();

    static Digest digest(std::span<const std::uint8_t> data);

private:
    void transform(const std::uint8_t *block);

    std::array<std::uint32_t, 4> _state{};
    std::array<std::uint8_t, 64> _buffer{};
    std::uint64_t _length = 0; // bytes of the message so far
};

} // namespace vellumtag
