#include "syntax/ReadOnlyFile.h"

#include <algorithm>
#include <limits>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vellumtag {

#ifdef _WIN32

bool ReadOnlyFile::open(const std::filesystem::path &path) {
    close();
    _handle = CreateFileW(path.c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (_handle == INVALID_HANDLE_VALUE) {
        _handle = kInvalidHandle;
        return false;
    }
    // A pipe or a console would block a read; only files on a disk are read.
    LARGE_INTEGER length{};
    if (GetFileType(_handle) != FILE_TYPE_DISK || !GetFileSizeEx(_handle, &length) ||
        length.QuadPart <= 0) {
        close();
        return false;
    }
    _size = static_cast<std::uint64_t>(length.QuadPart);
    return true;
}

void ReadOnlyFile::closeHandle(Handle handle) { CloseHandle(handle); }

std::size_t ReadOnlyFile::readSome(std::uint64_t offset, std::uint8_t *buffer,
                                   std::size_t count) const {
    // A synchronous handle reads at the OVERLAPPED offset and returns when it is done.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const auto want = static_cast<DWORD>(std::min<std::size_t>(count, DWORD{1} << 30));
    DWORD got = 0;
    return ReadFile(_handle, buffer, want, &got, &at) ? got : 0;
}

bool ReadOnlyFile::shrank() const {
    LARGE_INTEGER length{};
    return _handle != kInvalidHandle && (!GetFileSizeEx(_handle, &length) || length.QuadPart < 0 ||
                                         static_cast<std::uint64_t>(length.QuadPart) < _size);
}

#else

bool ReadOnlyFile::open(const std::filesystem::path &path) {
    close();
    // O_NONBLOCK keeps a FIFO from blocking the open; such files are refused below anyway, and
    // it changes nothing for a regular file.
    _handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (_handle < 0) {
        _handle = kInvalidHandle;
        return false;
    }
    struct stat status {};
    if (::fstat(_handle, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) {
        close();
        return false;
    }
    _size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

void ReadOnlyFile::closeHandle(Handle handle) { ::close(handle); }

std::size_t ReadOnlyFile::readSome(std::uint64_t offset, std::uint8_t *buffer,
                                   std::size_t count) const {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return 0;
    const std::size_t want = std::min<std::size_t>(count, SSIZE_MAX);
    for (;;) {
        const ssize_t got = ::pread(_handle, buffer, want, static_cast<off_t>(offset));
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            return 0;
    }
}

bool ReadOnlyFile::shrank() const {
    struct stat status {};
    return _handle != kInvalidHandle && (::fstat(_handle, &status) != 0 || status.st_size < 0 ||
                                         static_cast<std::uint64_t>(status.st_size) < _size);
}

#endif

void ReadOnlyFile::close() {
    if (_handle != kInvalidHandle)
        closeHandle(_handle);
    _handle = kInvalidHandle;
    _size = 0;
}

std::size_t ReadOnlyFile::readAt(std::uint64_t offset, std::uint8_t *buffer,
                                 std::size_t count) const {
    std::size_t done = 0;
    while (done < count && _handle != kInvalidHandle) {
        const std::size_t got = readSome(offset + done, buffer + done, count - done);
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

} // namespace vellumtag
