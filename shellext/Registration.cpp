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
    DWORD type;               // REG_SZ or REG_DWORD
    const wchar_t *text;      // REG_SZ's text
    DWORD number;             // REG_DWORD's number
};

constexpr RegistryRow kRows[] = {
    {kClassKeyFormat, nullptr, REG_SZ, L"Vellumtag.PropertyHandler Class", 0},
    {kClassKeyFormat, L"DisableProcessIsolation", REG_DWORD, nullptr, 1},
    {kServerKeyFormat, nullptr, REG_SZ, kModulePath, 0},
    {kServerKeyFormat, L"ThreadingModel", REG_SZ, L"Apartment", 0},
};

// The module's path and the class identifier's registry text; the first failure's result.
HRESULT moduleAndClass(HMODULE module, wchar_t (&path)[kKeyPathLength],
                       wchar_t (&classId)[kKeyPathLength]) {
    if (GetModuleFileNameW(module, path, kKeyPathLength) == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    StringFromGUID2(kPropertyExtensionClassId, classId, static_cast<int>(kKeyPathLength));
    return S_OK;
}

// Sets a value of any type under HKEY_CLASSES_ROOT, creating the key when needed.
HRESULT writeRegistryValue(const wchar_t *keyPath, const wchar_t *valueName, DWORD type,
                           const void *data, DWORD bytes) {
    HKEY key = nullptr;
    const LSTATUS created = RegCreateKeyExW(HKEY_CLASSES_ROOT, keyPath, 0, nullptr, 0, KEY_WRITE,
                                            nullptr, &key, nullptr);
    if (created != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(created);
    const LSTATUS set =
        RegSetValueExW(key, valueName, 0, type, static_cast<const BYTE *>(data), bytes);
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(set);
}

HRESULT writeRow(const RegistryRow &row, const wchar_t *keyPath, const wchar_t *modulePath) {
    if (row.type == REG_DWORD)
        return writeRegistryValue(keyPath, row.valueName, REG_DWORD, &row.number,
                                  sizeof row.number);
    return WriteRegistryString(keyPath, row.valueName,
                               row.text != kModulePath ? row.text : modulePath);
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
    const auto bytes = static_cast<DWORD>(lstrlenW(text)) * sizeof(wchar_t);
    return writeRegistryValue(keyPath, valueName, REG_SZ, text, static_cast<DWORD>(bytes));
}

HRESULT RegisterServer(HMODULE module) {
    wchar_t path[kKeyPathLength], classId[kKeyPathLength], keyPath[kKeyPathLength];
    HRESULT hr = moduleAndClass(module, path, classId);
    for (auto row = std::begin(kRows); SUCCEEDED(hr) && row != std::end(kRows); ++row) {
        hr = FormatKeyPath(keyPath, row->keyFormat, classId);
        if (SUCCEEDED(hr))
            hr = writeRow(*row, keyPath, path);
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
