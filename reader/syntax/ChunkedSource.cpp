#include "syntax/ChunkedSource.h"

#include <algorithm>
#include <cstring>

namespace vellumtag {

void ChunkedSource::reset(std::uint64_t size) {
    _size = size;
    _bufferOffset = 0;
    _buffered = 0;
    _failed = false;
}

std::span<const std::uint8_t> ChunkedSource::read(std::uint64_t offset, std::size_t length) {
    if (offset >= _size || length == 0)
        return {};
    const std::uint64_t remaining = _size - offset;
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(length, remaining));
    const bool startsInside = offset >= _bufferOffset && offset - _bufferOffset < _buffered;
    const auto skip = startsInside ? static_cast<std::size_t>(offset - _bufferOffset) : 0;
    if (startsInside && wanted <= _buffered - skip)
        return {_buffer.data() + skip, wanted};

    const auto fill =
        static_cast<std::size_t>(std::min<std::uint64_t>(std::max(wanted, kChunkBytes), remaining));
    std::size_t kept = 0;
    if (startsInside) {
        kept = _buffered - skip;
        std::memmove(_buffer.data(), _buffer.data() + skip, kept);
    }
    if (_buffer.size() < fill)
        _buffer.resize(fill);
    const std::size_t got =
        std::min(readAt(offset + kept, _buffer.data() + kept, fill - kept), fill - kept);
    _bufferOffset = offset;
    _buffered = kept + got;
    // Only the request's own bytes fail it: a short read ahead is tried again when it is asked
    // for.
    if (_buffered < wanted) {
        std::fill(_buffer.begin() + static_cast<std::ptrdiff_t>(_buffered),
                  _buffer.begin() + static_cast<std::ptrdiff_t>(wanted), std::uint8_t{0});
        _buffered = wanted;
        _failed = true;
    }
    return {_buffer.data(), wanted};
}

} // namespace vellumtag
