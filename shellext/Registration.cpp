#include "Registration.h"

#include <objbase.h>

#include "PropertyExtension.h"

// Last: its macros would rename functions that shlwapi.h, included above, declares.
#include <strsafe.h>

namespace vellumtag {

namespace {

constexpr const wchar_t *kFriendlyName = L"Vellumtag.PropertyHandler Class";
constexpr const wchar_t *kClassKeyFormat = L"CLSID\\%ls";
constexpr const wchar_t *kServerKeyFormat = L"CLSID\\%ls\\InprocServer32";

// The module's path and the class identifier's registry text; the first failure's result.
HRESULT moduleAndClass(HMODULE module, wchar_t (&path)[kKeyPathLength],
                       wchar_t (&classId)[kKeyPathLength]) {
    if (GetModuleFileNameW(module, path, kKeyPathLength) == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    StringFromGUID2(kPropertyExtensionClassId, classId, static_cast<int>(kKeyPathLength));
    return S_OK;
}

} // namespace

HRESULT FormatKeyPath(std::span<wchar_t> buffer, const wchar_t *format, const wchar_t *classId) {
    return StringCchPrintfW(buffer.data(), buffer.size(), format, classId);
}

HRESULT WriteRegistryString(const wchar_t *keyPath, const wchar_t *valueName, const wchar_t *text) {
    HKEY key = nullptr;
    const LSTATUS created = RegCreateKeyExW(HKEY_CLASSES_ROOT, keyPath, 0, nullptr, 0, KEY_WRITE,
                                            nullptr, &key, nullptr);
    if (created != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(created);
    const auto bytes = static_cast<DWORD>(lstrlenW(text)) * sizeof(wchar_t);
    const LSTATUS set = RegSetValueExW(
        key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(text), static_cast<DWORD>(bytes));
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(set);
}

HRESULT RegisterServer(HMODULE module) {
    wchar_t path[kKeyPathLength], classId[kKeyPathLength], keyPath[kKeyPathLength];
    HRESULT hr = moduleAndClass(module, path, classId);
    if (SUCCEEDED(hr))
        hr = FormatKeyPath(keyPath, kClassKeyFormat, classId);
    if (SUCCEEDED(hr))
        hr = WriteRegistryString(keyPath, nullptr, kFriendlyName);
    if (SUCCEEDED(hr))
        hr = FormatKeyPath(keyPath, kServerKeyFormat, classId);
    if (SUCCEEDED(hr))
        hr = WriteRegistryString(keyPath, nullptr, path);
    if (SUCCEEDED(hr))
        hr = WriteRegistryString(keyPath, L"ThreadingModel", L"Apartment");
    if (SUCCEEDED(hr))
        hr = FormatKeyPath(keyPath, kClassKeyFormat, classId);
    if (FAILED(hr))
        return hr;

    HKEY key = nullptr;
    const LSTATUS opened = RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath, 0, KEY_WRITE, &key);
    if (opened != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(opened);
    const DWORD disable = 1;
    const LSTATUS set = RegSetValueExW(key, L"DisableProcessIsolation", 0, REG_DWORD,
                                       reinterpret_cast<const BYTE *>(&disable), sizeof disable);
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(set);
}

HRESULT UnregisterServer(HMODULE module) {
    wchar_t path[kKeyPathLength], classId[kKeyPathLength], keyPath[kKeyPathLength];
    HRESULT hr = moduleAndClass(module, path, classId);
    if (SUCCEEDED(hr))
        hr = FormatKeyPath(keyPath, kClassKeyFormat, classId);
    if (FAILED(hr))
        return hr;
    return HRESULT_FROM_WIN32(RegDeleteTreeW(HKEY_CLASSES_ROOT, keyPath));
}

} // namespace vellumtag
