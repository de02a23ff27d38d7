#include "mediagraph/null_renderer.h"

#include <new>

#include "filterbase/create_unaggregated.h"
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
    return CreateUnaggregated(pUnkOuter, riid, ppv,
                              [](HRESULT* phr) { return new (std::nothrow) CNullRenderer(phr); });
}

CNullRenderer::CNullRenderer(HRESULT* phr)
    : CBaseFilter("CNullRenderer", nullptr, &m_Lock, CLSID_NullRenderer, phr),
      m_Pin(this, &m_Lock, phr) {}
