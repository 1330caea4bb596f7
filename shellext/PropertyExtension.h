#pragma once

#include <windows.h>

#include <propsys.h>
#include <shlwapi.h>

#include "ComObject.h"

namespace vellumtag {

// The class identifier under which the server registers PropertyExtension.
inline constexpr CLSID kPropertyExtensionClassId = {
    0x2DA4840E, 0xF01A, 0x44AB, {0x94, 0x86, 0x49, 0xBD, 0x7C, 0xC7, 0x51, 0x79}};

// The shell's read-only property handler for one PDF file. Initialize, callable once, reads
// the file and keeps up to twelve properties in a memory property store marked read-only
// (StoreProperties); the file is closed before Initialize returns. Every change is refused.
// A live object holds one module count and one CoInitialize, both given back when it is
// destroyed.
class PropertyExtension final : public ComObject<PropertyExtension, IPropertyStore,
                                                 IInitializeWithFile, IPropertyStoreCapabilities> {
public:
    PropertyExtension() noexcept;

    IFACEMETHODIMP GetCount(DWORD *count) override;
    IFACEMETHODIMP GetAt(DWORD index, PROPERTYKEY *key) override;
    IFACEMETHODIMP GetValue(REFPROPERTYKEY key, PROPVARIANT *value) override;
    IFACEMETHODIMP SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override;
    IFACEMETHODIMP Commit() override;

    IFACEMETHODIMP Initialize(LPCWSTR path, DWORD mode) override;

    IFACEMETHODIMP IsPropertyWritable(REFPROPERTYKEY key) override;

private:
    friend ComObject;
    static const QITAB kInterfaces[];
    ~PropertyExtension();

    HRESULT initialize(LPCWSTR path, DWORD mode);

    IPropertyStoreCache *_store = nullptr;
    bool _comInitialized = false;
    bool _initializeCalled = false;
};

} // namespace vellumtag
