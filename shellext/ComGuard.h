#pragma once

#include <windows.h>

#include <new>

namespace vellumtag {

// Runs the body of a COM method so that no C++ exception leaves it: running out of memory
// becomes E_OUTOFMEMORY and anything else E_UNEXPECTED.
template <class Body> HRESULT guardedCall(Body &&body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace vellumtag
