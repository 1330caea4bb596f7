#pragma once

#include <windows.h>

namespace vellumtag {

// The server's module count: live class factories, outstanding LockServer locks and live
// handler objects. The DLL may be unloaded only while it is zero or less.
class ModuleCount {
public:
    static void increment() noexcept { InterlockedIncrement(&_count); }
    static void decrement() noexcept { InterlockedDecrement(&_count); }
    static LONG value() noexcept { return _count; }

private:
    static inline LONG volatile _count = 0;
};

} // namespace vellumtag
