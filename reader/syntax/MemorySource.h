#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "syntax/ByteSource.h"

namespace vellumtag {

// Bytes that the caller owns and keeps unchanged while they are read: read in place.
class MemorySource final : public ByteSource {
public:
    MemorySource() = default;
    explicit MemorySource(std::span<const std::uint8_t> bytes) : _bytes(bytes) {}

    std::uint64_t size() const override { return _bytes.size(); }
    std::span<const std::uint8_t> read(std::uint64_t offset, std::size_t length) override {
        if (offset >= _bytes.size())
            return {};
        const auto at = static_cast<std::size_t>(offset);
        return _bytes.subspan(at, std::min(length, _bytes.size() - at));
    }
    bool inMemory() const override { return true; }
    bool failed() const override { return false; }

private:
    std::span<const std::uint8_t> _bytes;
};

} // namespace vellumtag
