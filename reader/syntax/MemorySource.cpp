#include "syntax/MemorySource.h"

#include <algorithm>

namespace vellumtag {

std::span<const std::uint8_t> MemorySource::read(std::uint64_t offset, std::size_t length) {
    if (offset >= _bytes.size())
        return {};
    const auto start = static_cast<std::size_t>(offset);
    return _bytes.subspan(start, std::min(length, _bytes.size() - start));
}

} // namespace vellumtag
