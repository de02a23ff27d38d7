// filterbase: CreateUnaggregated, the body of a class creator
// (CreateInstance) of a framework object made by class id that cannot be
// aggregated.
//
// make(&hr) constructs the object (with new (std::nothrow); its constructor
// reports failures through hr). An object whose construction failed is
// deleted again (nobody holds a reference to it yet); otherwise the caller
// gets riid, with the only reference. Any thread.
// May include: the C++ standard library, platform/, filterbase/. No Qt.
#pragma once

#include <new>

#include "filterbase/unknown.h"

template <class Make>
HRESULT CreateUnaggregated(IUnknown* pUnkOuter, REFIID riid, void** ppv, Make make) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    HRESULT hr = S_OK;
    auto* p = make(&hr);
    if (!p) return E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete p;
        return hr;
    }
    p->NonDelegatingAddRef();
    hr = p->NonDelegatingQueryInterface(riid, ppv);
    p->NonDelegatingRelease();
    return hr;
}
