#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "syntax/ByteSource.h"
#include "syntax/ReadOnlyFile.h"
#ifndef _WIN32
#include "syntax/MappingGuard.h"
#endif

namespace vellumtag {

// A read-only mapping of one whole file: read() returns views into the mapping and copies
// nothing. open refuses what ReadOnlyFile refuses, a file too large to map, and on POSIX a
// mapping that MappingGuard has no slot for, so that no mapping is ever read unguarded. The
// file is never written and never locked; close and the destructor release everything.
//
// Only on POSIX can a mapped file shrink (Windows refuses to truncate a file while a view of it
// exists, and the share mode keeps writers out). Bytes past its new end then read as zeros and
// failed() turns true.
class MemoryFile : public ByteSource {
public:
    MemoryFile() = default;
    ~MemoryFile() override { close(); }
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    bool open(const std::filesystem::path &path);
    void close();
    bool isOpen() const { return _view != nullptr; }

    std::uint64_t size() const override { return _size; }
    std::span<const std::uint8_t> read(std::uint64_t offset, std::size_t length) override;
    bool inMemory() const override { return true; }
    // Bytes past a new end that lie within its last page read as zeros without a fault, so
    // this also asks the file system whether the file shrank: one system call, until it is true.
    bool failed() const override;
    // Takes the whole pages of the range out of the process's resident memory; they are read
    // from the file again when touched.
    void release(std::uint64_t offset, std::uint64_t length) override;

private:
    ReadOnlyFile _file;
    const std::uint8_t *_view = nullptr;
    std::size_t _size = 0;
#ifdef _WIN32
    void *_mapping = nullptr;
#else
    MappingGuard _guard;
    mutable bool _failed = false;
#endif
};

} // namespace vellumtag
