#include "RegistryKey.h"

namespace vellumtag::setup {

namespace {

constexpr REGSAM kAccess = KEY_READ | KEY_WRITE | DELETE;

} // namespace

RegistryKey RegistryKey::open(HKEY root, const std::wstring &path, REGSAM view, LSTATUS &status) {
    HKEY key = nullptr;
    status = RegOpenKeyExW(root, path.c_str(), 0, kAccess | view, &key);
    return RegistryKey(status == ERROR_SUCCESS ? key : nullptr);
}

RegistryKey RegistryKey::create(HKEY root, const std::wstring &path, REGSAM view, bool &created,
                                LSTATUS &status) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             kAccess | view, nullptr, &key, &disposition);
    created = status == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
    return RegistryKey(status == ERROR_SUCCESS ? key : nullptr);
}

RegistryKey::~RegistryKey() {
    if (_key != nullptr)
        RegCloseKey(_key);
}

RegistryKey::RegistryKey(RegistryKey &&other) noexcept : _key(other._key) { other._key = nullptr; }

RegistryKey &RegistryKey::operator=(RegistryKey &&other) noexcept {
    if (this != &other) {
        if (_key != nullptr)
            RegCloseKey(_key);
        _key = other._key;
        other._key = nullptr;
    }
    return *this;
}

LSTATUS RegistryKey::read(const std::wstring &name, RegistryData &data) const {
    if (_key == nullptr)
        return ERROR_INVALID_HANDLE;
    const wchar_t *valueName = name.empty() ? nullptr : name.c_str();
    // The value may grow between asking its size and reading it.
    for (;;) {
        DWORD size = 0;
        LSTATUS status = RegQueryValueExW(_key, valueName, nullptr, &data.type, nullptr, &size);
        if (status != ERROR_SUCCESS)
            return status;
        data.bytes.resize(size);
        status = RegQueryValueExW(_key, valueName, nullptr, &data.type, data.bytes.data(), &size);
        if (status != ERROR_MORE_DATA) {
            data.bytes.resize(size);
            return status;
        }
    }
}

LSTATUS RegistryKey::write(const std::wstring &name, const RegistryData &data) const {
    if (_key == nullptr)
        return ERROR_INVALID_HANDLE;
    return RegSetValueExW(_key, name.empty() ? nullptr : name.c_str(), 0, data.type,
                          data.bytes.data(), static_cast<DWORD>(data.bytes.size()));
}

LSTATUS RegistryKey::deleteContents() const {
    return _key == nullptr ? ERROR_INVALID_HANDLE : RegDeleteTreeW(_key, nullptr);
}

LSTATUS RegistryKey::valueNames(std::vector<std::wstring> &names) const {
    if (_key == nullptr)
        return ERROR_INVALID_HANDLE;
    DWORD count = 0, longest = 0;
    LSTATUS status = RegQueryInfoKeyW(_key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      &count, &longest, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    names.clear();
    std::vector<wchar_t> buffer(longest + 1);
    for (DWORD index = 0; index < count; ++index) {
        auto length = static_cast<DWORD>(buffer.size());
        status =
            RegEnumValueW(_key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            return status;
        names.emplace_back(buffer.data(), length);
    }
    return ERROR_SUCCESS;
}

LSTATUS DeleteRegistryTree(HKEY root, const std::wstring &path, REGSAM view) {
    LSTATUS status = ERROR_SUCCESS;
    const RegistryKey key = RegistryKey::open(root, path, view, status);
    if (status == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (status == ERROR_SUCCESS)
        status = key.deleteContents();
    if (status == ERROR_SUCCESS)
        status = RegDeleteKeyExW(root, path.c_str(), view, 0);
    return status;
}

} // namespace vellumtag::setup
