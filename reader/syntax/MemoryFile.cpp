#include "syntax/MemoryFile.h"

#include <algorithm>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace vellumtag {

std::span<const std::uint8_t> MemoryFile::read(std::uint64_t offset, std::size_t length) {
    if (offset >= _size)
        return {};
    const auto start = static_cast<std::size_t>(offset);
    return {_view + start, std::min(length, _size - start)};
}

void MemoryFile::release(std::uint64_t offset, std::uint64_t length) {
    if (_view == nullptr || offset >= _size)
        return;
    length = std::min<std::uint64_t>(length, _size - offset);
    // Whole pages only: the pages at either end may hold bytes still in use.
    constexpr std::uintptr_t kPage = 4096;
    const auto begin =
        reinterpret_cast<std::uintptr_t>(_view) + static_cast<std::uintptr_t>(offset);
    const std::uintptr_t first = (begin + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t last = (begin + static_cast<std::uintptr_t>(length)) & ~(kPage - 1);
    if (last <= first)
        return;
#ifdef _WIN32
    // On pages that are not locked, VirtualUnlock removes them from the working set (Microsoft's
    // documentation of VirtualUnlock); it then reports ERROR_NOT_LOCKED, which is expected.
    VirtualUnlock(reinterpret_cast<void *>(first), last - first);
#else
    // A private read-only mapping that was never written: dropped pages are read anew from the
    // file, or from the zeros that a guard put in place of a lost part.
    ::madvise(reinterpret_cast<void *>(first), last - first, MADV_DONTNEED);
#endif
}

#ifdef _WIN32

bool MemoryFile::open(const std::filesystem::path &path) {
    close();
    if (!_file.open(path) || _file.size() > SIZE_MAX) {
        close();
        return false;
    }
    _mapping = CreateFileMappingW(_file.handle(), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (_mapping == nullptr) {
        close();
        return false;
    }
    const void *view = MapViewOfFile(_mapping, FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) {
        close();
        return false;
    }
    _view = static_cast<const std::uint8_t *>(view);
    _size = static_cast<std::size_t>(_file.size());
    return true;
}

void MemoryFile::close() {
    if (_view != nullptr)
        UnmapViewOfFile(_view);
    _view = nullptr;
    _size = 0;
    if (_mapping != nullptr)
        CloseHandle(_mapping);
    _mapping = nullptr;
    _file.close();
}

bool MemoryFile::failed() const { return false; }

#else

bool MemoryFile::open(const std::filesystem::path &path) {
    close();
    if (!_file.open(path) || _file.size() > SIZE_MAX) {
        close();
        return false;
    }
    const auto length = static_cast<std::size_t>(_file.size());
    void *view = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, _file.handle(), 0);
    if (view == MAP_FAILED) {
        close();
        return false;
    }
    if (!_guard.guard(view, length)) {
        ::munmap(view, length);
        close();
        return false;
    }
    _view = static_cast<const std::uint8_t *>(view);
    _size = length;
    return true;
}

void MemoryFile::close() {
    // The guard lets go of the range before it may be mapped again by anybody.
    _guard.release();
    if (_view != nullptr)
        ::munmap(const_cast<std::uint8_t *>(_view), _size);
    _view = nullptr;
    _size = 0;
    _failed = false;
    _file.close();
}

bool MemoryFile::failed() const {
    if (_view == nullptr)
        return false;
    if (!_failed)
        _failed = _guard.failed() || _file.shrank();
    return _failed;
}

#endif

} // namespace vellumtag
