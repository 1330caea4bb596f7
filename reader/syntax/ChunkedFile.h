#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "syntax/ChunkedSource.h"
#include "syntax/ReadOnlyFile.h"

namespace vellumtag {

// One file read by chunks (pread on POSIX, ReadFile at an offset on Windows), for when it
// cannot be mapped. open refuses what ReadOnlyFile refuses; a file that shrinks while it is
// open reads as zeros past its new end and fails. close and the destructor close the file.
class ChunkedFile : public ChunkedSource {
public:
    ChunkedFile() = default;

    bool open(const std::filesystem::path &path);
    void close();
    bool isOpen() const { return _file.isOpen(); }

protected:
    std::size_t readAt(std::uint64_t offset, std::uint8_t *buffer, std::size_t count) override;

private:
    ReadOnlyFile _file;
};

} // namespace vellumtag
