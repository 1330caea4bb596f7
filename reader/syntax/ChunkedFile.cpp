#include "syntax/ChunkedFile.h"

namespace vellumtag {

bool ChunkedFile::open(const std::filesystem::path &path) {
    const bool opened = _file.open(path);
    reset(_file.size());
    return opened;
}

void ChunkedFile::close() {
    _file.close();
    reset(0);
}

std::size_t ChunkedFile::readAt(std::uint64_t offset, std::uint8_t *buffer, std::size_t count) {
    return _file.readAt(offset, buffer, count);
}

} // namespace vellumtag
