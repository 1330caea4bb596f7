#pragma once

#include <windows.h>

#include <unknwn.h>

namespace vellumtag {

// The factory of PropertyExtension objects. Each live factory holds one module count; it is
// freed, and its count returned, when its last reference goes. Aggregation is refused.
class ClassFactory final : public IClassFactory {
public:
    ClassFactory() noexcept;
    ClassFactory(const ClassFactory &) = delete;
    ClassFactory &operator=(const ClassFactory &) = delete;

    IFACEMETHODIMP QueryInterface(REFIID riid, void **ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    IFACEMETHODIMP CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override;
    IFACEMETHODIMP LockServer(BOOL lock) override;

private:
    ~ClassFactory();

    LONG _refCount = 1;
};

} // namespace vellumtag
