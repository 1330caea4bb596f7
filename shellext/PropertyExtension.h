#pragma once

#include <windows.h>

#include <propsys.h>
#include <shlwapi.h>

#include <atomic>

#include "ComObject.h"
#include "syntax/PDFResult.h"

namespace vellumtag {

class ByteSource;

// The class identifier under which the server registers PropertyExtension.
inline constexpr CLSID kPropertyExtensionClassId = {
    0x2DA4840E, 0xF01A, 0x44AB, {0x94, 0x86, 0x49, 0xBD, 0x7C, 0xC7, 0x51, 0x79}};

// The shell's read-only property handler for one PDF: initialized once, from a file path or a
// stream, it reads the document and keeps up to twelve properties in a memory property store
// marked read-only (StoreProperties). Every change is refused.
//
// It works in any apartment (registered "Both") and needs no COM of its own; the store is
// published only once it is filled, so that a call from another thread of the multithreaded
// apartment sees it whole or not at all. The file or stream is read during Initialize and let
// go before it returns: the file is opened sharing read, write and delete, and read with
// ReadFile, never mapped, so a file on a share that goes away can't fault inside Explorer.
// A live object holds one module count.
class PropertyExtension final
    : public ComObject<PropertyExtension, IPropertyStore, IInitializeWithFile,
                       IInitializeWithStream, IPropertyStoreCapabilities> {
public:
    PropertyExtension() noexcept = default;

    IFACEMETHODIMP GetCount(DWORD *count) override;
    IFACEMETHODIMP GetAt(DWORD index, PROPERTYKEY *key) override;
    IFACEMETHODIMP GetValue(REFPROPERTYKEY key, PROPVARIANT *value) override;
    IFACEMETHODIMP SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override;
    IFACEMETHODIMP Commit() override;

    IFACEMETHODIMP Initialize(LPCWSTR path, DWORD mode) override;
    IFACEMETHODIMP Initialize(IStream *stream, DWORD mode) override;

    IFACEMETHODIMP IsPropertyWritable(REFPROPERTYKEY key) override;

private:
    friend ComObject;
    static const QITAB kInterfaces[];
    ~PropertyExtension();

    // The checks that both Initialize calls make first; S_OK to go on.
    HRESULT beginInitialize(const void *what, DWORD mode);
    HRESULT initializeFromPath(LPCWSTR path, DWORD mode);
    HRESULT initializeFromStream(IStream *stream, DWORD mode);
    // Creates the store, loads the document from source (none: a source that couldn't be
    // opened) into it and publishes it, empty when there was no load or it failed. The store's
    // failure, else S_OK with the load's result in result.
    HRESULT readInto(ByteSource *source, PDFResult &result);

    std::atomic<IPropertyStoreCache *> _store{nullptr}; // set once, when filled
    std::atomic<bool> _initializeCalled{false};
};

} // namespace vellumtag
