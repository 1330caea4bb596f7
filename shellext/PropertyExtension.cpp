#include "PropertyExtension.h"

#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "ComGuard.h"
#include "MetadataDate.h"
#include "PDFDocument.h"
#include "PropertyTable.h"

namespace vellumtag {

namespace {

static_assert(sizeof(Guid) == sizeof(GUID) && sizeof(wchar_t) == sizeof(char16_t));
static_assert(static_cast<VARTYPE>(DeclaredType::Date) == VT_DATE &&
              static_cast<VARTYPE>(DeclaredType::Text) == VT_LPWSTR);

PROPERTYKEY toPropertyKey(const PropertyKey &key) {
    PROPERTYKEY out{};
    out.fmtid.Data1 = key.formatId.data1;
    out.fmtid.Data2 = key.formatId.data2;
    out.fmtid.Data3 = key.formatId.data3;
    std::copy(std::begin(key.formatId.data4), std::end(key.formatId.data4), out.fmtid.Data4);
    out.pid = key.propertyId;
    return out;
}

// The value of one row, VT_EMPTY when a date can't be read or memory runs out.
PROPVARIANT makeValue(const PropertyRow &row, const std::u16string &text) {
    PROPVARIANT value;
    PropVariantInit(&value);
    if (row.type == DeclaredType::Date) {
        // Built by hand: Wine's propsys lacks InitPropVariantFromFileTime.
        if (const auto date = ConvertMetadataDate(text)) {
            value.vt = VT_FILETIME;
            value.filetime.dwLowDateTime = static_cast<DWORD>(*date);
            value.filetime.dwHighDateTime = static_cast<DWORD>(*date >> 32);
        }
        return value;
    }
    const std::size_t length = std::min(text.find(u'\0'), text.size());
    auto *copy = static_cast<wchar_t *>(CoTaskMemAlloc((length + 1) * sizeof(wchar_t)));
    if (copy != nullptr) {
        std::memcpy(copy, text.data(), length * sizeof(wchar_t));
        copy[length] = L'\0';
        value.vt = VT_LPWSTR;
        value.pwszVal = copy;
    }
    return value;
}

} // namespace

const QITAB PropertyExtension::kInterfaces[] = {
    QITABENT(PropertyExtension, IPropertyStore),
    QITABENT(PropertyExtension, IInitializeWithFile),
    QITABENT(PropertyExtension, IPropertyStoreCapabilities),
    {nullptr, 0},
};

PropertyExtension::PropertyExtension() noexcept {
    _comInitialized = SUCCEEDED(CoInitialize(nullptr));
}

PropertyExtension::~PropertyExtension() {
    if (_comInitialized) {
        if (_store != nullptr)
            _store->Release();
        CoUninitialize();
    }
}

IFACEMETHODIMP PropertyExtension::GetCount(DWORD *count) {
    if (count == nullptr)
        return E_POINTER;
    *count = 0;
    return _store != nullptr ? _store->GetCount(count) : E_UNEXPECTED;
}

IFACEMETHODIMP PropertyExtension::GetAt(DWORD index, PROPERTYKEY *key) {
    if (key == nullptr)
        return E_POINTER;
    *key = PROPERTYKEY{};
    return _store != nullptr ? _store->GetAt(index, key) : E_UNEXPECTED;
}

IFACEMETHODIMP PropertyExtension::GetValue(REFPROPERTYKEY key, PROPVARIANT *value) {
    if (value == nullptr)
        return E_POINTER;
    PropVariantInit(value);
    return _store != nullptr ? _store->GetValue(key, value) : E_UNEXPECTED;
}

IFACEMETHODIMP PropertyExtension::SetValue(REFPROPERTYKEY, REFPROPVARIANT) {
    return STG_E_ACCESSDENIED;
}

IFACEMETHODIMP PropertyExtension::Commit() { return E_NOTIMPL; }

IFACEMETHODIMP PropertyExtension::Initialize(LPCWSTR path, DWORD mode) {
    return guardedCall([&] { return initialize(path, mode); });
}

IFACEMETHODIMP PropertyExtension::IsPropertyWritable(REFPROPERTYKEY) { return S_FALSE; }

HRESULT PropertyExtension::initialize(LPCWSTR path, DWORD mode) {
    if (_initializeCalled)
        return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    _initializeCalled = true;
    if (path == nullptr)
        return E_INVALIDARG;
    if (!_comInitialized)
        return E_UNEXPECTED;
    if ((mode & STGM_READWRITE) != 0)
        return STG_E_ACCESSDENIED;
    if (!HasPdfExtension(reinterpret_cast<const char16_t *>(path)))
        return E_NOTIMPL;
    if (FAILED(PSCreateMemoryPropertyStore(IID_IPropertyStoreCache,
                                           reinterpret_cast<void **>(&_store)))) {
        _store = nullptr;
        return E_NOTIMPL;
    }

    PDFDictionary values;
    {
        PDFDocument document;
        if (document.load(std::filesystem::path(path)) != PDFResult::Ok)
            return E_NOTIMPL;
        values = document.values();
    }
    storeProperties(values);
    return S_OK;
}

void PropertyExtension::storeProperties(const PDFDictionary &values) {
    for (const auto &row : kPropertyTable) {
        const std::u16string text = values.getString(std::string(row.infoKey), u"");
        if (text.empty())
            continue;
        PROPVARIANT value = makeValue(row, text);
        // A store that refuses one value still serves the others.
        static_cast<void>(_store->SetValueAndState(toPropertyKey(row.key), &value, PSC_READONLY));
        PropVariantClear(&value);
    }
}

} // namespace vellumtag
