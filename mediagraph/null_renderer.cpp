#include "mediagraph/null_renderer.h"

#include <new>

#include "platform/media/capture_interfaces.h"

CNullRendererPin::CNullRendererPin(CNullRenderer* pFilter, CCritSec* pLock, HRESULT* phr)
    : CBaseInputPin("CNullRendererPin", pFilter, pLock, phr, L"In") {}

HRESULT CNullRendererPin::CheckMediaType(const CMediaType* pmt) {
    return pmt && pmt->majortype == MEDIATYPE_Video && pmt->subtype == MEDIASUBTYPE_RGB24 ? S_OK
                                                                                          : S_FALSE;
}

HRESULT CNullRendererPin::Receive(IMediaSample* pSample) {
    return CBaseInputPin::Receive(pSample);  // checked, then dropped
}

HRESULT CNullRenderer::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    HRESULT hr = S_OK;
    auto* pFilter = new (std::nothrow) CNullRenderer(&hr);
    if (!pFilter) return E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete pFilter;
        return hr;
    }
    pFilter->NonDelegatingAddRef();
    hr = pFilter->NonDelegatingQueryInterface(riid, ppv);
    pFilter->NonDelegatingRelease();
    return hr;
}

CNullRenderer::CNullRenderer(HRESULT* phr)
    : CBaseFilter("CNullRenderer", nullptr, &m_Lock, CLSID_NullRenderer, phr),
      m_Pin(this, &m_Lock, phr) {}
