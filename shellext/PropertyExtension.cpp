#include "PropertyExtension.h"

#include <objbase.h>

#include "ComGuard.h"
#include "PDFDocument.h"
#include "PropertyValues.h"
#include "StreamSource.h"
#include "metadata/PropertyTable.h"
#include "syntax/ChunkedFile.h"

namespace vellumtag {

namespace {

// What a load reports to the shell, so that its log says what happened. A file that couldn't
// be opened and a stream that failed have their own reasons; FileNotReadable here means that
// a read failed after the open.
HRESULT loadError(PDFResult result) {
    switch (result) {
    case PDFResult::Ok:
        return S_OK;
    case PDFResult::FileNotReadable:
        return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
    case PDFResult::NotPdf:
        return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
    case PDFResult::EncryptionUnsupported:
        return E_ACCESSDENIED;
    case PDFResult::XrefNotFound:
    case PDFResult::ObjectNotFound:
    case PDFResult::ObjectContentUnreadable:
    case PDFResult::BadValue:
    case PDFResult::DecompressionFailed:
    case PDFResult::DictionaryUnreadable:
        return HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
    case PDFResult::Unspecified:
        break;
    }
    return E_FAIL;
}

} // namespace

const QITAB PropertyExtension::kInterfaces[] = {
    QITABENT(PropertyExtension, IPropertyStore),
    QITABENT(PropertyExtension, IInitializeWithFile),
    QITABENT(PropertyExtension, IInitializeWithStream),
    QITABENT(PropertyExtension, IPropertyStoreCapabilities),
    {nullptr, 0},
};

PropertyExtension::~PropertyExtension() {
    if (IPropertyStoreCache *store = _store.load())
        store->Release();
}

IFACEMETHODIMP PropertyExtension::GetCount(DWORD *count) {
    if (count == nullptr)
        return E_POINTER;
    *count = 0;
    IPropertyStoreCache *store = _store.load(std::memory_order_acquire);
    return store != nullptr ? store->GetCount(count) : E_UNEXPECTED;
}

IFACEMETHODIMP PropertyExtension::GetAt(DWORD index, PROPERTYKEY *key) {
    if (key == nullptr)
        return E_POINTER;
    *key = PROPERTYKEY{};
    IPropertyStoreCache *store = _store.load(std::memory_order_acquire);
    return store != nullptr ? store->GetAt(index, key) : E_UNEXPECTED;
}

IFACEMETHODIMP PropertyExtension::GetValue(REFPROPERTYKEY key, PROPVARIANT *value) {
    if (value == nullptr)
        return E_POINTER;
    PropVariantInit(value);
    IPropertyStoreCache *store = _store.load(std::memory_order_acquire);
    return store != nullptr ? store->GetValue(key, value) : E_UNEXPECTED;
}

IFACEMETHODIMP PropertyExtension::SetValue(REFPROPERTYKEY, REFPROPVARIANT) {
    return STG_E_ACCESSDENIED;
}

IFACEMETHODIMP PropertyExtension::Commit() { return E_NOTIMPL; }

IFACEMETHODIMP PropertyExtension::Initialize(LPCWSTR path, DWORD mode) {
    return guardedCall([&] { return initializeFromPath(path, mode); });
}

IFACEMETHODIMP PropertyExtension::Initialize(IStream *stream, DWORD mode) {
    return guardedCall([&] { return initializeFromStream(stream, mode); });
}

IFACEMETHODIMP PropertyExtension::IsPropertyWritable(REFPROPERTYKEY) { return S_FALSE; }

HRESULT PropertyExtension::beginInitialize(const void *what, DWORD mode) {
    // One Initialize per object, through either interface, even when called from two threads.
    if (_initializeCalled.exchange(true))
        return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    if (what == nullptr)
        return E_INVALIDARG;
    if ((mode & STGM_READWRITE) != 0)
        return STG_E_ACCESSDENIED;
    return S_OK;
}

HRESULT PropertyExtension::initializeFromPath(LPCWSTR path, DWORD mode) {
    HRESULT hr = beginInitialize(path, mode);
    if (FAILED(hr))
        return hr;
    if (!HasPdfExtension(reinterpret_cast<const char16_t *>(path)))
        return E_NOTIMPL;
    // Shared for reading, writing and deleting, so that a viewer saving the file, a download
    // or a sync client holding it doesn't keep its properties away.
    ChunkedFile file;
    SetLastError(ERROR_SUCCESS);
    const bool opened = file.open(path);
    const DWORD openError = GetLastError();
    PDFResult result = PDFResult::FileNotReadable;
    hr = readInto(opened ? &file : nullptr, result);
    if (FAILED(hr) || opened)
        return FAILED(hr) ? hr : loadError(result);
    // Opened but refused (an empty file, or not a file on a disk) leaves no error.
    return openError != ERROR_SUCCESS ? HRESULT_FROM_WIN32(openError)
                                      : loadError(PDFResult::NotPdf);
}

HRESULT PropertyExtension::initializeFromStream(IStream *stream, DWORD mode) {
    HRESULT hr = beginInitialize(stream, mode);
    if (FAILED(hr))
        return hr;
    StreamSource source(*stream);
    PDFResult result = PDFResult::FileNotReadable;
    hr = readInto(SUCCEEDED(source.error()) && source.size() != 0 ? &source : nullptr, result);
    if (FAILED(hr))
        return hr;
    // A read that failed mid-way ended the load in FileNotReadable: the stream says why.
    if (FAILED(source.error()))
        return source.error();
    return source.size() != 0 ? loadError(result) : loadError(PDFResult::NotPdf);
}

HRESULT PropertyExtension::readInto(ByteSource *source, PDFResult &result) {
    IPropertyStoreCache *store = nullptr;
    const HRESULT created =
        PSCreateMemoryPropertyStore(IID_IPropertyStoreCache, reinterpret_cast<void **>(&store));
    if (FAILED(created))
        return created;
    if (source != nullptr) {
        // Language, Copyright and Rating come from the facts and the XMP packet, which the
        // values then hold under the keys the table names.
        PDFDocument document;
        document.setDetails(true);
        document.setXmp(true);
        result = document.load(*source);
        if (result == PDFResult::Ok) {
            PDFDictionary values = document.values();
            for (const auto &[key, text] : document.facts().entries(values))
                values.set(key, PDFValue{text, false});
            for (const auto &[key, text] : document.xmp())
                values.set(key, PDFValue{text, false});
            StoreProperties(*store, values);
        }
    }
    _store.store(store, std::memory_order_release);
    return S_OK;
}

} // namespace vellumtag
