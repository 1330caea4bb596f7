#pragma once

#include <windows.h>

#include <objidl.h>
#include <propsys.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "metadata/PropertyTable.h"

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

// One property as a test compares it: its type, and its text, items, count or FILETIME.
struct Property {
    VARTYPE type = VT_EMPTY;
    std::u16string text{};
    std::uint64_t time = 0;
    std::vector<std::u16string> items{};
    std::int32_t count = 0;

    bool operator==(const Property &) const = default;
};

inline Property textProperty(std::u16string_view text) {
    Property out;
    out.type = VT_LPWSTR;
    out.text = text;
    return out;
}
inline Property timeProperty(std::uint64_t time) {
    Property out;
    out.type = VT_FILETIME;
    out.time = time;
    return out;
}
inline Property listProperty(std::vector<std::u16string> items) {
    Property out;
    out.type = VT_VECTOR | VT_LPWSTR;
    out.items = std::move(items);
    return out;
}
inline Property countProperty(std::int32_t count) {
    Property out;
    out.type = VT_I4;
    out.count = count;
    return out;
}

inline Property ratingProperty(std::int32_t percent) {
    Property out;
    out.type = VT_UI4;
    out.count = percent;
    return out;
}

// For gtest's messages: the type and the value, non-ASCII characters as \u escapes.
inline void PrintTo(const Property &property, std::ostream *out) {
    const auto print = [out](std::u16string_view text) {
        *out << '"';
        for (const char16_t c : text) {
            if (c >= 0x20 && c < 0x7F) {
                *out << static_cast<char>(c);
            } else {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
                *out << escape;
            }
        }
        *out << '"';
    };
    *out << "vt " << property.type << ": ";
    if (property.type == VT_LPWSTR)
        print(property.text);
    if (property.type == VT_FILETIME)
        *out << property.time;
    if (property.type == VT_I4 || property.type == VT_UI4)
        *out << property.count;
    for (const auto &item : property.items) {
        print(item);
        *out << ' ';
    }
}

// A value as the test compares it; PropVariantClear is the caller's.
inline Property toProperty(const PROPVARIANT &value) {
    Property property;
    property.type = value.vt;
    if (value.vt == VT_LPWSTR)
        property.text = reinterpret_cast<const char16_t *>(value.pwszVal);
    if (value.vt == VT_FILETIME)
        property.time =
            (std::uint64_t{value.filetime.dwHighDateTime} << 32) | value.filetime.dwLowDateTime;
    if (value.vt == (VT_VECTOR | VT_LPWSTR)) {
        for (ULONG i = 0; i < value.calpwstr.cElems; ++i)
            property.items.emplace_back(
                reinterpret_cast<const char16_t *>(value.calpwstr.pElems[i]));
    }
    if (value.vt == VT_I4)
        property.count = value.lVal;
    if (value.vt == VT_UI4)
        property.count = static_cast<std::int32_t>(value.ulVal);
    return property;
}

// The FILETIME of a UTC calendar time, as Windows counts it.
inline std::uint64_t utcFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute,
                                 WORD second) {
    SYSTEMTIME time{};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    FILETIME out{};
    SystemTimeToFileTime(&time, &out);
    return (std::uint64_t{out.dwHighDateTime} << 32) | out.dwLowDateTime;
}

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
        const Property property = toProperty(value);
        PropVariantClear(&value);
        const std::string_view known = canonicalName(key);
        const std::string name(known.empty() ? std::string_view("?") : known);
        out.order.push_back(name);
        out.values[name] = property;
    }
    return out;
}

// Another program's handle on a file, open for writing and sharing reading only, as a viewer
// saving it or a download in progress holds it; closed with the object.
class WritingElsewhere {
public:
    explicit WritingElsewhere(const std::filesystem::path &path)
        : _handle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~WritingElsewhere() { close(); }
    WritingElsewhere(const WritingElsewhere &) = delete;
    WritingElsewhere &operator=(const WritingElsewhere &) = delete;

    bool isOpen() const { return _handle != INVALID_HANDLE_VALUE; }
    void close() {
        if (isOpen())
            CloseHandle(_handle);
        _handle = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE _handle;
};

// A read-only IStream over bytes of the test's own, as a shell item's stream would be: it can
// fail every read from failAt on with failure, claim a size other than its length (the stream
// then ends early), and counts the bytes read. Single-threaded; lives on the stack of a test,
// so its reference count only checks balance.
class TestStream final : public IStream {
public:
    explicit TestStream(std::string bytes) : _bytes(std::move(bytes)), _claimed(_bytes.size()) {}

    std::uint64_t failAt = UINT64_MAX;
    HRESULT failure = STG_E_READFAULT;
    bool statFails = false; // Stat fails: the size must come from Seek

    void claimSize(std::uint64_t size) { _claimed = size; }
    std::uint64_t bytesRead() const { return _read; }
    LONG references() const { return _references; }

    IFACEMETHODIMP QueryInterface(REFIID riid, void **ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISequentialStream) ||
            IsEqualIID(riid, IID_IStream)) {
            *ppv = static_cast<IStream *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++_references); }
    IFACEMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--_references); }

    IFACEMETHODIMP Read(void *buffer, ULONG count, ULONG *read) override {
        if (_position >= failAt)
            return failure;
        const std::uint64_t end = std::min<std::uint64_t>(_bytes.size(), failAt);
        const ULONG got = _position >= end
                              ? 0
                              : static_cast<ULONG>(std::min<std::uint64_t>(count, end - _position));
        std::memcpy(buffer, _bytes.data() + _position, got);
        _position += got;
        _read += got;
        if (read != nullptr)
            *read = got;
        return got == count ? S_OK : S_FALSE;
    }
    IFACEMETHODIMP Write(const void *, ULONG, ULONG *) override { return STG_E_ACCESSDENIED; }
    IFACEMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *position) override {
        const std::int64_t base = origin == STREAM_SEEK_SET   ? 0
                                  : origin == STREAM_SEEK_CUR ? static_cast<std::int64_t>(_position)
                                                              : static_cast<std::int64_t>(_claimed);
        if (base + move.QuadPart < 0)
            return STG_E_INVALIDFUNCTION;
        _position = static_cast<std::uint64_t>(base + move.QuadPart);
        if (position != nullptr)
            position->QuadPart = _position;
        return S_OK;
    }
    IFACEMETHODIMP SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    IFACEMETHODIMP CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *, ULARGE_INTEGER *) override {
        return E_NOTIMPL;
    }
    IFACEMETHODIMP Commit(DWORD) override { return S_OK; }
    IFACEMETHODIMP Revert() override { return S_OK; }
    IFACEMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    IFACEMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    IFACEMETHODIMP Stat(STATSTG *status, DWORD) override {
        if (statFails)
            return E_NOTIMPL;
        *status = STATSTG{};
        status->type = STGTY_STREAM;
        status->cbSize.QuadPart = _claimed;
        return S_OK;
    }
    IFACEMETHODIMP Clone(IStream **) override { return E_NOTIMPL; }

private:
    std::string _bytes;
    std::uint64_t _claimed;
    std::uint64_t _position = 0;
    std::uint64_t _read = 0;
    LONG _references = 1;
};

} // namespace vellumtag::test
