#include "PropertyExtension.h"

#include <objbase.h>

#include <filesystem>

#include "ComGuard.h"
#include "PDFDocument.h"
#include "PropertyTable.h"
#include "PropertyValues.h"

namespace vellumtag {

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
    StoreProperties(*_store, values);
    return S_OK;
}

} // namespace vellumtag
