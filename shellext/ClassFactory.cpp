#include "ClassFactory.h"

#include "ComGuard.h"
#include "ModuleCount.h"
#include "PropertyExtension.h"

namespace vellumtag {

const QITAB ClassFactory::kInterfaces[] = {QITABENT(ClassFactory, IClassFactory), {nullptr, 0}};

IFACEMETHODIMP ClassFactory::CreateInstance(IUnknown *outer, REFIID riid, void **ppv) {
    return guardedCall([&]() -> HRESULT {
        if (ppv != nullptr)
            *ppv = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        return PropertyExtension::Create(riid, ppv);
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
