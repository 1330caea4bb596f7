#include "StreamSource.h"

#include <algorithm>

namespace vellumtag {

StreamSource::StreamSource(IStream &stream) : _stream(stream) {
    // Stat may leave cbSize unset (a stream that doesn't know), then the end is sought.
    STATSTG status{};
    ULARGE_INTEGER size{};
    if (SUCCEEDED(_stream.Stat(&status, STATFLAG_NONAME)) && status.cbSize.QuadPart != 0) {
        size = status.cbSize;
    } else {
        const LARGE_INTEGER zero{};
        const HRESULT sought = _stream.Seek(zero, STREAM_SEEK_END, &size);
        if (FAILED(sought)) {
            _error = sought;
            size.QuadPart = 0;
        }
    }
    reset(size.QuadPart);
}

std::size_t StreamSource::readAt(std::uint64_t offset, std::uint8_t *buffer, std::size_t count) {
    if (FAILED(_error))
        return 0;
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    HRESULT hr = _stream.Seek(at, STREAM_SEEK_SET, nullptr);
    std::size_t done = 0;
    // ISequentialStream::Read may return fewer bytes than asked before the end; S_FALSE or no
    // bytes at all is the end.
    while (SUCCEEDED(hr) && done < count) {
        const auto want = static_cast<ULONG>(std::min<std::size_t>(count - done, 1u << 30));
        ULONG got = 0;
        hr = _stream.Read(buffer + done, want, &got);
        if (FAILED(hr))
            break;
        done += std::min<std::size_t>(got, want);
        if (got == 0)
            hr = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    }
    if (FAILED(hr))
        _error = hr;
    return done;
}

} // namespace vellumtag
