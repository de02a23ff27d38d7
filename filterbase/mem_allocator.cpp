#include "filterbase/mem_allocator.h"

#include <new>

#include "platform/win/virtual_memory.h"

CMemAllocator::CMemAllocator(const char* pName, IUnknown* pUnk, HRESULT* phr)
    : CBaseAllocator(pName, pUnk, phr, TRUE, TRUE) {}

CMemAllocator::~CMemAllocator() {
    Decommit();
    ReallyFree();
}

HRESULT CMemAllocator::Create(IMemAllocator** ppAllocator) {
    if (!ppAllocator) return E_POINTER;
    *ppAllocator = nullptr;
    HRESULT hr = S_OK;
    auto* pAllocator = new (std::nothrow) CMemAllocator("CMemAllocator", nullptr, &hr);
    if (!pAllocator) return E_OUTOFMEMORY;
    pAllocator->NonDelegatingAddRef();
    if (FAILED(hr)) {
        pAllocator->NonDelegatingRelease();
        return E_OUTOFMEMORY;
    }
    *ppAllocator = static_cast<IMemAllocator*>(pAllocator);
    return S_OK;
}

HRESULT CMemAllocator::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    HRESULT hr = S_OK;
    auto* pAllocator = new (std::nothrow) CMemAllocator("CMemAllocator", pUnkOuter, &hr);
    if (!pAllocator) return E_OUTOFMEMORY;
    // Hold the object while asking, so that a refused interface deletes it.
    pAllocator->NonDelegatingAddRef();
    if (SUCCEEDED(hr)) hr = pAllocator->NonDelegatingQueryInterface(riid, ppv);
    pAllocator->NonDelegatingRelease();
    return hr;
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                     ALLOCATOR_PROPERTIES* pActual) {
    return StoreProperties(pRequest, pActual, true);
}

HRESULT CMemAllocator::Alloc() {
    CAutoLock lock(this);
    HRESULT hr = CBaseAllocator::Alloc();
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE && m_pBuffer) return S_OK;  // unchanged: keep the samples

    ReallyFree();
    if (m_lSize < 0 || m_lPrefix < 0 || m_lCount < 0) return E_OUTOFMEMORY;
    int64_t llSlot = int64_t{m_lSize} + int64_t{m_lPrefix};
    if (llSlot > 0x7FFFFFFF) return E_OUTOFMEMORY;
    if (m_lAlignment > 1) {
        const int64_t llRemainder = llSlot % m_lAlignment;
        if (llRemainder != 0) llSlot += m_lAlignment - llRemainder;
        if (llSlot > 0x7FFFFFFF) return E_OUTOFMEMORY;
    }
    const int64_t llTotal = int64_t{m_lCount} * llSlot;
    if (llTotal > 0x7FFFFFFF) return E_OUTOFMEMORY;

    m_pBuffer = static_cast<BYTE*>(VirtualAlloc(nullptr, static_cast<size_t>(llTotal),
                                                MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!m_pBuffer) return E_OUTOFMEMORY;

    BYTE* pNext = m_pBuffer;
    for (LONG i = 0; i < m_lCount; ++i, pNext += llSlot) {
        HRESULT hrSample = S_OK;
        auto* pSample = new (std::nothrow) CMediaSample("Default memory media sample", this,
                                                        &hrSample, pNext + m_lPrefix, m_lSize);
        if (!pSample) return E_OUTOFMEMORY;
        // Counted and listed even if the constructor reported a failure, so
        // that ReallyFree deletes it.
        m_lFree.Add(pSample);
        ++m_lAllocated;
        if (FAILED(hrSample)) return E_OUTOFMEMORY;
    }
    m_bChanged = FALSE;
    return S_OK;
}

void CMemAllocator::Free() {
    // The memory stays until the properties change or the pool is destroyed.
}

void CMemAllocator::ReallyFree() {
    CAutoLock lock(this);
    while (CMediaSample* pSample = m_lFree.RemoveHead()) delete pSample;
    m_lAllocated = 0;
    if (m_pBuffer) {
        VirtualFree(m_pBuffer, 0, MEM_RELEASE);
        m_pBuffer = nullptr;
    }
}
