#include "RC4.h"

namespace vellumtag {

RC4::RC4(std::span<const std::uint8_t> key) : _hasKey(!key.empty()) {
    for (std::size_t i = 0; i < _s.size(); ++i)
        _s[i] = static_cast<std::uint8_t>(i);
    if (!_hasKey)
        return;
    std::uint8_t j = 0;
    std::size_t k = 0;
    for (std::size_t i = 0; i < _s.size(); ++i) {
        j = static_cast<std::uint8_t>(j + _s[i] + key[k]);
        std::swap(_s[i], _s[j]);
        if (++k == key.size())
            k = 0;
    }
}

void RC4::process(std::span<std::uint8_t> data) {
    if (!_hasKey)
        return;
    for (std::uint8_t &byte : data)
        byte ^= next();
}

} // namespace vellumtag
