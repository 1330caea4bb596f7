#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <utility>

namespace vellumtag {

// The RC4 stream cipher: the key schedule runs in the constructor, then every call of next or
// process continues the one keystream. Encryption and decryption are the same operation. A
// cipher built from an empty key has no keystream and leaves the data unchanged.
class RC4 {
public:
    explicit RC4(std::span<const std::uint8_t> key);

    bool hasKey() const { return _hasKey; }

    // The next keystream byte; only meaningful when hasKey().
    std::uint8_t next() {
        _i = static_cast<std::uint8_t>(_i + 1);
        _j = static_cast<std::uint8_t>(_j + _s[_i]);
        std::swap(_s[_i], _s[_j]);
        return _s[static_cast<std::uint8_t>(_s[_i] + _s[_j])];
    }

    // XORs every byte with the keystream, in place.
    void process(std::span<std::uint8_t> data);

private:
    std::array<std::uint8_t, 256> _s{};
    std::uint8_t _i = 0;
    std::uint8_t _j = 0;
    bool _hasKey = false;
};

} // namespace vellumtag
