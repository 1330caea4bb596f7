#pragma once

#include <windows.h>

#include <objidl.h>

#include "syntax/ChunkedSource.h"

namespace vellumtag {

// The bytes of an IStream, read by chunks through Seek and Read, never copied whole: what
// IInitializeWithStream hands a property handler, for items that may have no file path (inside
// a .zip folder, on a cloud provider). The size is the stream's when it is opened. A read that
// fails or comes up short fails the source like a file that shrank, and error() keeps the
// first failure's HRESULT. The stream is used only during the calls of the one who holds it,
// and not kept: the caller owns its reference.
class StreamSource final : public ChunkedSource {
public:
    explicit StreamSource(IStream &stream);

    // S_OK while every Seek and Read succeeded; else the first failure, or
    // HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) for a stream that ended before its size.
    HRESULT error() const { return _error; }

protected:
    std::size_t readAt(std::uint64_t offset, std::uint8_t *buffer, std::size_t count) override;

private:
    IStream &_stream;
    HRESULT _error = S_OK;
};

} // namespace vellumtag
