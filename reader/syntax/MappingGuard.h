#pragma once

#include <cstddef>

namespace vellumtag {

// Keeps a SIGBUS in one read-only file mapping from killing the process (POSIX). A page of a
// file mapping past the file's current end raises SIGBUS when it is touched, so a file that
// shrinks while it is mapped would otherwise end the host. While guard() holds, a SIGBUS inside
// the mapping is answered by mapping zeros over the rest of it: the read goes on, reads zeros,
// and failed() turns true. A SIGBUS anywhere else goes on to the handler found before ours.
//
// The handler is installed once for the process, on the first guard(), and stays. The mappings
// guarded at once are limited to limits::kMaxGuardedMappings; guard() refuses one more, and
// refuses every mapping once another handler has replaced ours. Release before unmapping.
class MappingGuard {
public:
    MappingGuard() = default;
    ~MappingGuard() { release(); }
    MappingGuard(const MappingGuard &) = delete;
    MappingGuard &operator=(const MappingGuard &) = delete;

    // Guards the mapping [begin, begin + length). False when no slot is free or the handler is
    // not ours: the mapping is then unguarded and must not be read.
    bool guard(const void *begin, std::size_t length);
    void release();

    bool isGuarding() const { return _slot >= 0; }
    // True once a fault in the guarded mapping was answered with zeros.
    bool failed() const;

private:
    int _slot = -1;
};

} // namespace vellumtag
