#pragma once

#include <windows.h>

#include <span>

namespace vellumtag {

// Self-registration of PropertyExtension under HKEY_CLASSES_ROOT\CLSID\{class id}: the
// friendly name, and InprocServer32 with the DLL's path and the "Both" threading model. Nothing
// ties the class to ".pdf"; the installer does that.

// The length of every path and key buffer, terminator included.
inline constexpr std::size_t kKeyPathLength = MAX_PATH;

// Formats the key path for the class identifier text into buffer; S_OK when all of it fits
// with its terminator, STRSAFE_E_INSUFFICIENT_BUFFER when it was cut short.
HRESULT FormatKeyPath(std::span<wchar_t> buffer, const wchar_t *format, const wchar_t *classId);

// Sets a REG_SZ value (valueName null: the key's default value) under HKEY_CLASSES_ROOT,
// creating the key when needed. The data are the text's code units without the terminator.
HRESULT WriteRegistryString(const wchar_t *keyPath, const wchar_t *valueName, const wchar_t *text);

// The registration of the DLL loaded as module, one row of values after the other, then the
// removal of values that earlier versions wrote; the first failing step's result ends it.
HRESULT RegisterServer(HMODULE module);
// Deletes the rows that RegisterServer writes, last first, and with the class key's own row
// the class key and all below it. Every row is tried; the result is the first failure's,
// 0x80070002 when the class is not registered.
HRESULT UnregisterServer(HMODULE module);

} // namespace vellumtag
