#include "filterbase/unknown.h"

CUnknown::CUnknown(const char* pName, IUnknown* pUnk)
    : m_pObjectName(pName), m_pUnknown(pUnk ? pUnk : &m_NonDelegating) {
    s_cActiveObjects.fetch_add(1);
}

CUnknown::CUnknown(const char* pName, IUnknown* pUnk, HRESULT*) : CUnknown(pName, pUnk) {}

CUnknown::~CUnknown() { s_cActiveObjects.fetch_sub(1); }

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown) {
        // The non-delegating identity, with a non-delegating reference.
        *ppv = static_cast<IUnknown*>(&m_NonDelegating);
        NonDelegatingAddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }

ULONG CUnknown::NonDelegatingRelease() {
    const LONG lRef = m_cRef.fetch_sub(1) - 1;
    if (lRef == 0) {
        // Guard against the destructor's own AddRef/Release pairs.
        m_cRef.store(1);
        delete this;
        return 0;
    }
    return static_cast<ULONG>(lRef);
}

bool CUnknown::TryAddRefOwner() {
    if (m_pUnknown != &m_NonDelegating) {
        m_pUnknown->AddRef();  // aggregated: the outer object's lifetime
        return true;
    }
    LONG lRef = m_cRef.load();
    while (lRef > 0) {
        if (m_cRef.compare_exchange_weak(lRef, lRef + 1)) return true;
    }
    return false;
}

HRESULT GetInterface(IUnknown* pUnk, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = pUnk;
    pUnk->AddRef();
    return S_OK;
}
