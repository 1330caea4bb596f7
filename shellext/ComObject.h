#pragma once

#include <windows.h>

#include <shlwapi.h>
#include <unknwn.h>

#include "ModuleCount.h"

namespace vellumtag {

// IUnknown, once for every COM class of the server. Derived implements Interfaces; its
// QueryInterface, AddRef and Release, one of each for all interface bases, are these.
//
// Derived declares `static const QITAB kInterfaces[]`, written with QITABENT(Derived, I) for
// each interface and ended by {nullptr, 0}; IID_IUnknown answers with the first row's face.
// Both the table and Derived's destructor are private, to `friend ComObject;`: only Release
// destroys an object.
//
// An object starts with one reference, its creator's, and is destroyed when the last goes.
// Each live object holds one module count, taken before Derived's constructor runs and given
// back after Derived's destructor has run.
template <class Derived, class... Interfaces> class ComObject : public Interfaces... {
public:
    ComObject(const ComObject &) = delete;
    ComObject &operator=(const ComObject &) = delete;

    // A new object queried for riid: the query's reference is the caller's, and a failed
    // query destroys the object here. Memory running out throws std::bad_alloc.
    static HRESULT Create(REFIID riid, void **ppv) {
        auto *object = new Derived();
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }

    IFACEMETHODIMP QueryInterface(REFIID riid, void **ppv) override {
        // The table's offsets are from the start of Derived, not of this base.
        return QISearch(static_cast<Derived *>(this), Derived::kInterfaces, riid, ppv);
    }

    IFACEMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&_refCount));
    }

    IFACEMETHODIMP_(ULONG) Release() override {
        const LONG count = InterlockedDecrement(&_refCount);
        if (count == 0)
            delete static_cast<Derived *>(this);
        return static_cast<ULONG>(count);
    }

protected:
    ComObject() noexcept { ModuleCount::increment(); }
    ~ComObject() { ModuleCount::decrement(); }

private:
    LONG _refCount = 1;
};

} // namespace vellumtag
