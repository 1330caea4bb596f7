#include "ClassFactory.h"

#include <shlwapi.h>

#include "ComGuard.h"
#include "ModuleCount.h"
#include "PropertyExtension.h"

namespace vellumtag {

ClassFactory::ClassFactory() noexcept { ModuleCount::increment(); }

ClassFactory::~ClassFactory() { ModuleCount::decrement(); }

IFACEMETHODIMP ClassFactory::QueryInterface(REFIID riid, void **ppv) {
    static const QITAB kInterfaces[] = {{&IID_IClassFactory, 0}, {nullptr, 0}};
    return QISearch(this, kInterfaces, riid, ppv);
}

IFACEMETHODIMP_(ULONG) ClassFactory::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&_refCount));
}

IFACEMETHODIMP_(ULONG) ClassFactory::Release() {
    const LONG count = InterlockedDecrement(&_refCount);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

IFACEMETHODIMP ClassFactory::CreateInstance(IUnknown *outer, REFIID riid, void **ppv) {
    return guardedCall([&]() -> HRESULT {
        if (ppv != nullptr)
            *ppv = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        // The query's reference is the caller's; a failed query destroys the object here.
        auto *extension = new PropertyExtension();
        const HRESULT hr = extension->QueryInterface(riid, ppv);
        extension->Release();
        return hr;
    });
}

IFACEMETHODIMP ClassFactory::LockServer(BOOL lock) {
    if (lock)
        ModuleCount::increment();
    else
        ModuleCount::decrement();
    return S_OK;
}

} // namespace vellumtag
