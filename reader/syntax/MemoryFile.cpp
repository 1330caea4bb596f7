#include "syntax/MemoryFile.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vellumtag {

MemoryFile::~MemoryFile() { close(); }

std::span<const std::uint8_t> MemoryFile::read(std::uint64_t offset, std::size_t length) {
    if (offset >= _size)
        return {};
    const auto at = static_cast<std::size_t>(offset);
    return {_begin + at, std::min(length, _size - at)};
}

#ifdef _WIN32

bool MemoryFile::open(const std::filesystem::path &path) {
    close();
    _fileHandle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (_fileHandle == INVALID_HANDLE_VALUE) {
        _fileHandle = kInvalidHandle;
        return false;
    }
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(_fileHandle, &length) || length.QuadPart <= 0 ||
        static_cast<std::uint64_t>(length.QuadPart) > SIZE_MAX) {
        close();
        return false;
    }
    HANDLE mapping = CreateFileMappingW(_fileHandle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) {
        close();
        return false;
    }
    _mappingHandle = mapping;
    const void *view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) {
        close();
        return false;
    }
    _begin = static_cast<const std::uint8_t *>(view);
    _size = static_cast<std::size_t>(length.QuadPart);
    return true;
}

void MemoryFile::close() {
    if (_begin != nullptr)
        UnmapViewOfFile(_begin);
    _begin = nullptr;
    _size = 0;
    if (_mappingHandle != kInvalidHandle) {
        CloseHandle(_mappingHandle);
        _mappingHandle = kInvalidHandle;
    }
    if (_fileHandle != kInvalidHandle) {
        CloseHandle(_fileHandle);
        _fileHandle = kInvalidHandle;
    }
}

#else

bool MemoryFile::open(const std::filesystem::path &path) {
    close();
    // O_NONBLOCK keeps a FIFO from blocking the open; such files are rejected below anyway.
    _fileHandle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (_fileHandle < 0) {
        _fileHandle = kInvalidHandle;
        return false;
    }
    struct stat status {};
    if (::fstat(_fileHandle, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0 ||
        static_cast<std::uint64_t>(status.st_size) > SIZE_MAX) {
        close();
        return false;
    }
    const auto length = static_cast<std::size_t>(status.st_size);
    void *view = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, _fileHandle, 0);
    if (view == MAP_FAILED) {
        close();
        return false;
    }
    _begin = static_cast<const std::uint8_t *>(view);
    _size = length;
    return true;
}

void MemoryFile::close() {
    if (_begin != nullptr)
        ::munmap(const_cast<std::uint8_t *>(_begin), _size);
    _begin = nullptr;
    _size = 0;
    if (_fileHandle != kInvalidHandle) {
        ::close(_fileHandle);
        _fileHandle = kInvalidHandle;
    }
}

#endif

} // namespace vellumtag
