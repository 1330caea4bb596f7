#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vellumtag {

// Random access to the bytes of one file, whatever holds them: a mapping, memory the caller
// owns, or reads by chunks. The size is fixed when the source is opened. Bytes that cannot be
// had when they are read (the file shrank, or a read failed) read as zeros, and failed() stays
// true from then on: the load that read them ends in an error, never in a crash.
class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Number of bytes, as found when the source was opened; 0 for nothing open.
    virtual std::uint64_t size() const = 0;

    // The bytes [offset, offset + length), cut at size(), contiguous in memory; empty at or past
    // the end. They stay valid until the next read, or, when inMemory(), as long as the source.
    virtual std::span<const std::uint8_t> read(std::uint64_t offset, std::size_t length) = 0;

    // True when all the bytes lie in memory for the source's lifetime, so that one
    // read(0, size()) serves every position without a copy.
    virtual bool inMemory() const = 0;

    // True once a read met bytes that could not be had.
    virtual bool failed() const = 0;

    // How many bytes suit one read when the data are not in memory: a scanner asks for at
    // least that many whenever it moves its window.
    virtual std::size_t chunkSize() const { return std::size_t{64} << 10; }

    // A hint that the bytes [offset, offset + length) will not be read again soon, so that a
    // mapping may let go of their pages; they stay readable. Nothing by default.
    virtual void release(std::uint64_t offset, std::uint64_t length) {
        static_cast<void>(offset);
        static_cast<void>(length);
    }

protected:
    ByteSource() = default;
    ByteSource(const ByteSource &) = default;
    ByteSource &operator=(const ByteSource &) = default;
};

} // namespace vellumtag
