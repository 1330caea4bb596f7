#pragma once

#include <cstdint>
#include <filesystem>

#include "syntax/MemoryParser.h"

namespace vellumtag {

// A read-only mapping of one whole file, scanned through its MemoryParser base. The file is
// never written and never locked; open fails for anything that is not a readable, non-empty
// regular file. The mapping and its handles are released by close and by the destructor.
// Memory given to the inherited attach instead is scanned in place and never released here.
class MemoryFile : public MemoryParser {
public:
    MemoryFile() = default;
    ~MemoryFile();

    virtual bool open(const std::filesystem::path &path);
    virtual void close();

private:
#ifdef _WIN32
    using Handle = void *;
    static inline Handle const kInvalidHandle = reinterpret_cast<Handle>(~std::uintptr_t{0});
#else
    using Handle = int;
    static constexpr Handle kInvalidHandle = -1;
#endif
    Handle _fileHandle = kInvalidHandle;
#ifdef _WIN32
    Handle _mappingHandle = kInvalidHandle;
#endif
};

} // namespace vellumtag
