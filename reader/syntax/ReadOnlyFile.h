#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace vellumtag {

// One file opened for reading only, or nothing: open refuses what is missing, unreadable, not
// a regular file (a directory, a FIFO, a device, a pipe) or empty. Nothing is locked: on
// Windows the file is shared for reading, writing and deleting, so that other programs may open,
// save, rename or delete it meanwhile. The handle is closed by close and by the destructor.
class ReadOnlyFile {
public:
#ifdef _WIN32
    using Handle = void *;
#else
    using Handle = int;
#endif

    ReadOnlyFile() = default;
    ~ReadOnlyFile() { close(); }
    ReadOnlyFile(const ReadOnlyFile &) = delete;
    ReadOnlyFile &operator=(const ReadOnlyFile &) = delete;

    bool open(const std::filesystem::path &path);
    void close();

    bool isOpen() const { return _size != 0; }
    Handle handle() const { return _handle; }
    // Bytes of the file when it was opened; 0 while closed.
    std::uint64_t size() const { return _size; }

    // Copies up to count bytes at offset into buffer and returns how many it copied: fewer
    // only at the file's end or on an error.
    std::size_t readAt(std::uint64_t offset, std::uint8_t *buffer, std::size_t count) const;

    // True when the file is now shorter than it was when opened, or its size cannot be had.
    bool shrank() const;

private:
    // One read at offset of at most count bytes: how many came, 0 at the end or on an error.
    std::size_t readSome(std::uint64_t offset, std::uint8_t *buffer, std::size_t count) const;
    static void closeHandle(Handle handle);

#ifdef _WIN32
    static inline Handle const kInvalidHandle = reinterpret_cast<Handle>(~std::uintptr_t{0});
#else
    static constexpr Handle kInvalidHandle = -1;
#endif
    Handle _handle = kInvalidHandle;
    std::uint64_t _size = 0;
};

} // namespace vellumtag
