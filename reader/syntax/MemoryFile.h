#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "syntax/ByteSource.h"

namespace vellumtag {

// A read-only mapping of one whole file, read in place. The file is never written and never
// locked; open fails for anything that is not a readable, non-empty regular file. The mapping
// and its handles are released by close and by the destructor.
class MemoryFile final : public ByteSource {
public:
    MemoryFile() = default;
    ~MemoryFile() override;
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    bool open(const std::filesystem::path &path);
    void close();
    bool isOpen() const { return _begin != nullptr; }

    std::uint64_t size() const override { return _size; }
    std::span<const std::uint8_t> read(std::uint64_t offset, std::size_t length) override;
    bool inMemory() const override { return true; }
    bool failed() const override { return false; }

private:
#ifdef _WIN32
    using Handle = void *;
    static inline Handle const kInvalidHandle = reinterpret_cast<Handle>(~std::uintptr_t{0});
#else
    using Handle = int;
    static constexpr Handle kInvalidHandle = -1;
#endif
    const std::uint8_t *_begin = nullptr;
    std::size_t _size = 0;
    Handle _fileHandle = kInvalidHandle;
#ifdef _WIN32
    Handle _mappingHandle = kInvalidHandle;
#endif
};

} // namespace vellumtag
