#include "security/RC4.h"

#include <algorithm>

namespace vellumtag {

RC4::RC4(std::span<const std::uint8_t> key) : _hasKey(!key.empty()) {
    for (std::size_t i = 0; i < _s.size(); ++i)
        _s[i] = static_cast<std::uint8_t>(i);
    if (!_hasKey)
        return;
    // The key repeated to the state's length, so that the schedule does not wrap an index.
    std::array<std::uint8_t, 256> repeated;
    for (std::size_t i = 0; i < repeated.size(); i += key.size())
        std::copy_n(key.begin(), std::min(key.size(), repeated.size() - i), repeated.begin() + i);
    std::uint8_t j = 0;
    for (std::size_t i = 0; i < _s.size(); ++i) {
        j = static_cast<std::uint8_t>(j + _s[i] + repeated[i]);
        std::swap(_s[i], _s[j]);
    }
}

void RC4::process(std::span<std::uint8_t> data) {
    if (!_hasKey)
        return;
    for (std::uint8_t &byte : data)
        byte ^= next();
}

} // namespace vellumtag
