#pragma once

#include <windows.h>

#include <shlwapi.h>
#include <unknwn.h>

#include "ComObject.h"

namespace vellumtag {

// The factory of PropertyExtension objects. Each live factory holds one module count; it is
// freed, and its count returned, when its last reference goes. Aggregation is refused.
class ClassFactory final : public ComObject<ClassFactory, IClassFactory> {
public:
    ClassFactory() noexcept = default;

    IFACEMETHODIMP CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override;
    IFACEMETHODIMP LockServer(BOOL lock) override;

private:
    friend ComObject;
    static const QITAB kInterfaces[];
    ~ClassFactory() = default;
};

} // namespace vellumtag
