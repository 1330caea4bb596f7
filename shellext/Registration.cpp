#include "Registration.h"

#include <objbase.h>

#include <iterator>

#include "PropertyExtension.h"

// Last: its macros would rename functions that shlwapi.h, included above, declares.
#include <strsafe.h>

namespace vellumtag {

namespace {

constexpr const wchar_t *kClassKeyFormat = L"CLSID\\%ls";
constexpr const wchar_t *kServerKeyFormat = L"CLSID\\%ls\\InprocServer32";
// The text of a row that holds the DLL's full path.
constexpr const wchar_t *kModulePath = nullptr;

// One value of the registration, in a key under HKEY_CLASSES_ROOT formatted with the class
// identifier's text. A row of a key's default value stands for the key: writing it creates
// the key, deleting it deletes the key with all below it. So that each row is deleted before
// its key, a key's default row comes before its named values and after its parent's rows.
struct RegistryRow {
    const wchar_t *keyFormat;
    const wchar_t *valueName; // null: the key's default value
    const wchar_t *text;
};

// "Both": the handler works in whichever apartment its caller has, so that a caller on a
// multithreaded-apartment thread gets it directly, without a marshalled host apartment.
constexpr RegistryRow kRows[] = {
    {kClassKeyFormat, nullptr, L"Vellumtag.PropertyHandler Class"},
    {kServerKeyFormat, nullptr, kModulePath},
    {kServerKeyFormat, L"ThreadingModel", L"Both"},
};

// Values that earlier versions wrote and this one must not leave behind: the handler reads
// files through IInitializeWithStream as well, and runs in the indexer's isolated process
// like any other.
constexpr RegistryRow kStaleRows[] = {
    {kClassKeyFormat, L"DisableProcessIsolation", nullptr},
};

// The module's path and the class identifier's registry text; the first failure's result.
HRESULT moduleAndClass(HMODULE module, wchar_t (&path)[kKeyPathLength],
                       wchar_t (&classId)[kKeyPathLength]) {
    if (GetModuleFileNameW(module, path, kKeyPathLength) == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    StringFromGUID2(kPropertyExtensionClassId, classId, static_cast<int>(kKeyPathLength));
    return S_OK;
}

HRESULT deleteRow(const RegistryRow &row, const wchar_t *keyPath) {
    // Apart: HRESULT_FROM_WIN32 is a macro that evaluates its argument more than once.
    const LSTATUS deleted = row.valueName == nullptr
                                ? RegDeleteTreeW(HKEY_CLASSES_ROOT, keyPath)
                                : RegDeleteKeyValueW(HKEY_CLASSES_ROOT, keyPath, row.valueName);
    return HRESULT_FROM_WIN32(deleted);
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
    for (auto row = std::begin(kRows); SUCCEEDED(hr) && row != std::end(kRows); ++row) {
        hr = FormatKeyPath(keyPath, row->keyFormat, classId);
        if (SUCCEEDED(hr))
            hr = WriteRegistryString(keyPath, row->valueName,
                                     row->text != kModulePath ? row->text : path);
    }
    for (auto row = std::begin(kStaleRows); SUCCEEDED(hr) && row != std::end(kStaleRows); ++row) {
        hr = FormatKeyPath(keyPath, row->keyFormat, classId);
        if (SUCCEEDED(hr))
            hr = deleteRow(*row, keyPath);
        if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
            hr = S_OK;
    }
    return hr;
}

HRESULT UnregisterServer(HMODULE module) {
    wchar_t path[kKeyPathLength], classId[kKeyPathLength], keyPath[kKeyPathLength];
    HRESULT result = moduleAndClass(module, path, classId);
    if (FAILED(result))
        return result;
    for (auto row = std::rbegin(kRows); row != std::rend(kRows); ++row) {
        HRESULT hr = FormatKeyPath(keyPath, row->keyFormat, classId);
        if (SUCCEEDED(hr))
            hr = deleteRow(*row, keyPath);
        if (SUCCEEDED(result))
            result = hr;
    }
    return result;
}

} // namespace vellumtag
