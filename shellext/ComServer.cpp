// The DLL's entry point and its four exports (named in Vellumtag.def).
#include <windows.h>

#include <objbase.h>

#include "ClassFactory.h"
#include "ComGuard.h"
#include "ModuleCount.h"
#include "PropertyExtension.h"
#include "Registration.h"

using namespace vellumtag;

namespace {

HMODULE moduleHandle = nullptr;

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        moduleHandle = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
    return guardedCall([&]() -> HRESULT {
        if (ppv != nullptr)
            *ppv = nullptr;
        if (!IsEqualCLSID(rclsid, kPropertyExtensionClassId))
            return CLASS_E_CLASSNOTAVAILABLE;
        return ClassFactory::Create(riid, ppv);
    });
}

STDAPI DllCanUnloadNow() { return ModuleCount::value() <= 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    return guardedCall([] { return RegisterServer(moduleHandle); });
}

STDAPI DllUnregisterServer() {
    return guardedCall([] { return UnregisterServer(moduleHandle); });
}
