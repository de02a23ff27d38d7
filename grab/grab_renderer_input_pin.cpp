#include "grab/grab_renderer_input_pin.h"

#include "grab/grab_renderer.h"

namespace {

// Builds the pool and takes the pin's reference on it.
CGrabRendererAllocator* CreateHeldAllocator(PFN_CREATE_GRAB_ALLOCATOR pfnCreate, HRESULT* phr) {
    CGrabRendererAllocator* pAllocator = pfnCreate ? pfnCreate() : nullptr;
    if (pAllocator) {
        pAllocator->NonDelegatingAddRef();
    } else if (phr && SUCCEEDED(*phr)) {
        *phr = E_OUTOFMEMORY;
    }
    return pAllocator;
}

}  // namespace

CGrabRendererInputPin::CGrabRendererInputPin(CGrabRenderer* pRenderer, HRESULT* phr,
                                             PFN_CREATE_GRAB_ALLOCATOR pfnCreateAllocator)
    : CRendererInputPin(pRenderer, phr, L"Input"),
      m_pGrabRenderer(pRenderer),
      m_pFilterLock(pRenderer->InterfaceLock()),
      m_pGrabAllocator(CreateHeldAllocator(pfnCreateAllocator, phr), AdoptTag) {}

CGrabRendererInputPin::~CGrabRendererInputPin() = default;

HRESULT CGrabRendererInputPin::GetAllocator(IMemAllocator** ppAllocator) {
    CAutoLock lock(m_pFilterLock);
    if (!ppAllocator) return E_POINTER;
    if (!m_pGrabAllocator) return CRendererInputPin::GetAllocator(ppAllocator);
    if (!m_pAllocator) {
        m_pAllocator = static_cast<IMemAllocator*>(m_pGrabAllocator.Get());
        m_pAllocator->AddRef();  // the pin's reference, dropped by BreakConnect
    }
    *ppAllocator = m_pAllocator;
    m_pAllocator->AddRef();
    return S_OK;
}

HRESULT CGrabRendererInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
    CAutoLock lock(m_pFilterLock);
    const HRESULT hr = CRendererInputPin::NotifyAllocator(pAllocator, bReadOnly);
    if (FAILED(hr)) return hr;
    // Compare with the same interface pointer GetAllocator hands out.
    const BOOL bOurs =
        m_pGrabAllocator && pAllocator == static_cast<IMemAllocator*>(m_pGrabAllocator.Get());
    m_bUsingGrabAllocator = bOurs;
    if (!bOurs) {
        // A sample held from an earlier use of our pool would otherwise be
        // copied by the consumer while upstream fills that pool no more, and
        // would keep our pool from decommitting.
        m_pGrabRenderer->ReleaseLatestSample();
    }
    return S_OK;
}

HRESULT CGrabRendererInputPin::BreakConnect() {
    const HRESULT hr = CRendererInputPin::BreakConnect();
    if (FAILED(hr)) return hr;
    m_bUsingGrabAllocator = FALSE;
    // The pool was decommitted above; returning the held sample lets the
    // decommit complete.
    m_pGrabRenderer->ReleaseLatestSample();
    return hr;
}
