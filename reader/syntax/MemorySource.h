#pragma once

#include <cstdint>
#include <span>

#include "syntax/ByteSource.h"

namespace vellumtag {

// Bytes that the caller owns and keeps, unchanged, for as long as the source is read. read()
// returns views into them; nothing is copied and nothing can fail.
class MemorySource : public ByteSource {
public:
    MemorySource() = default;
    explicit MemorySource(std::span<const std::uint8_t> bytes) : _bytes(bytes) {}

    std::uint64_t size() const override { return _bytes.size(); }
    std::span<const std::uint8_t> read(std::uint64_t offset, std::size_t length) override;
    bool inMemory() const override { return true; }
    bool failed() const override { return false; }

private:
    std::span<const std::uint8_t> _bytes;
};

} // namespace vellumtag
