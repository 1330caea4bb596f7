#pragma once

#include <windows.h>

#include <propsys.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "PropertyTable.h"

namespace vellumtag::test {

// A path of the machine the build ran on, as a Windows path: under Wine a Unix path is
// reached through drive Z:.
inline std::filesystem::path hostPath(const std::filesystem::path &path) {
    std::wstring text = std::filesystem::path(path).make_preferred().wstring();
    if (!text.empty() && text.front() == L'\\')
        text.insert(0, L"Z:");
    return text;
}

// A file of the source tree.
inline std::filesystem::path sourcePath(const std::string &relative) {
    return hostPath(std::filesystem::path(VELLUMTAG_SOURCE_DIR) / relative);
}

// Holds one COM reference.
template <class Interface> class ComRef {
public:
    ComRef() = default;
    explicit ComRef(Interface *object) : _object(object) {}
    ~ComRef() { reset(); }
    ComRef(ComRef &&other) noexcept : _object(other._object) { other._object = nullptr; }
    ComRef(const ComRef &) = delete;
    ComRef &operator=(const ComRef &) = delete;

    void reset() {
        if (_object != nullptr)
            _object->Release();
        _object = nullptr;
    }
    // For an out parameter of type void**.
    void **put() {
        reset();
        return reinterpret_cast<void **>(&_object);
    }
    Interface *get() const { return _object; }
    Interface *operator->() const { return _object; }

private:
    Interface *_object = nullptr;
};

// One property as a test compares it: its type, and its text or FILETIME.
struct Property {
    VARTYPE type = VT_EMPTY;
    std::u16string text;
    std::uint64_t time = 0;

    bool operator==(const Property &) const = default;
};

inline Property textProperty(std::u16string_view text) {
    return {VT_LPWSTR, std::u16string(text), 0};
}
inline Property timeProperty(std::uint64_t time) { return {VT_FILETIME, {}, time}; }

inline PROPERTYKEY toPlatformKey(const PropertyKey &key) {
    PROPERTYKEY out{};
    static_assert(sizeof out.fmtid == sizeof key.formatId);
    std::memcpy(&out.fmtid, &key.formatId, sizeof out.fmtid);
    out.pid = key.propertyId;
    return out;
}

// The canonical name of a key of the property table; empty for any other key.
inline std::string_view canonicalName(const PROPERTYKEY &key) {
    for (const auto &row : kPropertyTable) {
        const PROPERTYKEY rowKey = toPlatformKey(row.key);
        if (IsEqualGUID(rowKey.fmtid, key.fmtid) && rowKey.pid == key.pid)
            return row.canonicalName;
    }
    return {};
}

// What a store serves: canonical names in GetAt order ("?" for keys outside the table) and
// the values by name.
struct StoreContents {
    std::vector<std::string> order;
    std::map<std::string, Property> values;
};

inline StoreContents readAll(IPropertyStore &store) {
    StoreContents out;
    DWORD count = 0;
    if (FAILED(store.GetCount(&count)))
        return out;
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key{};
        if (FAILED(store.GetAt(i, &key)))
            continue;
        PROPVARIANT value;
        PropVariantInit(&value);
        store.GetValue(key, &value);
        Property property{value.vt, {}, 0};
        if (value.vt == VT_LPWSTR)
            property.text = reinterpret_cast<const char16_t *>(value.pwszVal);
        if (value.vt == VT_FILETIME)
            property.time =
                (std::uint64_t{value.filetime.dwHighDateTime} << 32) | value.filetime.dwLowDateTime;
        PropVariantClear(&value);
        const std::string_view known = canonicalName(key);
        const std::string name(known.empty() ? std::string_view("?") : known);
        out.order.push_back(name);
        out.values[name] = property;
    }
    return out;
}

} // namespace vellumtag::test
