#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vellumtag::setup {

// A value as the registry stores it: its type and raw bytes (REG_SZ data as written, with or
// without a terminator).
struct RegistryData {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

// An open key of one registry view, KEY_WOW64_64KEY or KEY_WOW64_32KEY whatever the caller's
// bitness, closed with the object. Every call reports the registry's own status code; a key
// that failed to open stays closed and fails every call.
class RegistryKey {
public:
    // Opens an existing key for reading and writing.
    static RegistryKey open(HKEY root, const std::wstring &path, REGSAM view, LSTATUS &status);
    // Opens the key, creating it (and the keys above it) when missing; created tells which.
    static RegistryKey create(HKEY root, const std::wstring &path, REGSAM view, bool &created,
                              LSTATUS &status);

    RegistryKey() = default;
    ~RegistryKey();
    RegistryKey(RegistryKey &&other) noexcept;
    RegistryKey &operator=(RegistryKey &&other) noexcept;
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;

    bool isOpen() const { return _key != nullptr; }

    // A value (name empty: the default value); ERROR_FILE_NOT_FOUND when it is not there.
    LSTATUS read(const std::wstring &name, RegistryData &data) const;
    LSTATUS write(const std::wstring &name, const RegistryData &data) const;
    // Deletes every value and subkey, leaving the key itself.
    LSTATUS deleteContents() const;
    // The names of the key's values, the default value as an empty name.
    LSTATUS valueNames(std::vector<std::wstring> &names) const;

private:
    explicit RegistryKey(HKEY key) : _key(key) {}

    HKEY _key = nullptr;
};

// Deletes the key of the view with everything below it; ERROR_SUCCESS when it was not there.
LSTATUS DeleteRegistryTree(HKEY root, const std::wstring &path, REGSAM view);

} // namespace vellumtag::setup
