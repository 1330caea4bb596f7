#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "syntax/ByteSource.h"

namespace vellumtag {

// Serves reads from one buffer that its subclass fills through readAt: a miss reads a chunk
// ahead, so that many small successive reads cost one read of the subclass, and keeps the
// buffered bytes that the request begins with instead of reading them again. The buffer grows
// only to the largest single request. Bytes that readAt does not deliver read as zeros and set
// failed(). Knows nothing of files: a subclass may read a file, a stream or anything else.
class ChunkedSource : public ByteSource {
public:
    // Bytes read ahead at a miss.
    static constexpr std::size_t kChunkBytes = std::size_t{64} << 10;

    std::uint64_t size() const override { return _size; }
    std::span<const std::uint8_t> read(std::uint64_t offset, std::size_t length) override;
    bool inMemory() const override { return false; }
    bool failed() const override { return _failed; }
    std::size_t chunkSize() const override { return kChunkBytes; }

protected:
    ChunkedSource() = default;

    // Starts over with a source of size bytes: nothing buffered, not failed. The buffer's
    // memory is kept for the next source.
    void reset(std::uint64_t size);

    // Copies up to count bytes at offset into buffer and returns how many it copied: fewer only
    // at the end of the bytes or on an error. offset + count never exceeds size().
    virtual std::size_t readAt(std::uint64_t offset, std::uint8_t *buffer, std::size_t count) = 0;

private:
    std::vector<std::uint8_t> _buffer;
    // The buffered bytes: [_bufferOffset, _bufferOffset + _buffered) of the source.
    std::uint64_t _bufferOffset = 0;
    std::size_t _buffered = 0;
    std::uint64_t _size = 0;
    bool _failed = false;
};

} // namespace vellumtag
