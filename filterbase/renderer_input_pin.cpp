#include "filterbase/renderer_input_pin.h"

#include "platform/com/com_runtime.h"

CRendererInputPin::CRendererInputPin(CBaseRenderer* pRenderer, HRESULT* phr, LPCWSTR Name)
    : CBaseInputPin("Renderer pin", pRenderer, &pRenderer->m_InterfaceLock, phr, Name),
      m_pRenderer(pRenderer) {}

HRESULT CRendererInputPin::EndOfStream() {
    // A sample whose type we refused comes here from the receive checks with
    // the interface lock held and the run-time error already marked: there is
    // nothing to end, and upstream must not be called under our lock.
    const HRESULT hrStreaming = CheckStreaming();
    if (hrStreaming != S_OK) return hrStreaming;
    // Upstream is asked for its stop position before we take our locks.
    m_pRenderer->PrefetchEndOfStreamPosition();
    CAutoLock lock(&m_pRenderer->m_InterfaceLock);
    CAutoLock rlock(&m_pRenderer->m_RendererLock);
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    hr = m_pRenderer->EndOfStream();
    if (SUCCEEDED(hr)) hr = CBaseInputPin::EndOfStream();
    return hr;
}

HRESULT CRendererInputPin::BeginFlush() {
    CAutoLock lock(&m_pRenderer->m_InterfaceLock);
    m_nStreamingChanges.fetch_add(1);
    {
        CAutoLock rlock(&m_pRenderer->m_RendererLock);
        CBaseInputPin::BeginFlush();
        m_pRenderer->BeginFlush();
    }
    // Kills the end-of-stream timer, so not under the renderer lock.
    return m_pRenderer->ResetEndOfStream();
}

HRESULT CRendererInputPin::EndFlush() {
    CAutoLock lock(&m_pRenderer->m_InterfaceLock);
    CAutoLock rlock(&m_pRenderer->m_RendererLock);
    m_nStreamingChanges.fetch_add(1);
    HRESULT hr = m_pRenderer->EndFlush();
    if (SUCCEEDED(hr)) hr = CBaseInputPin::EndFlush();
    return hr;
}

HRESULT CRendererInputPin::QueryId(LPWSTR* Id) {
    if (!Id) return E_POINTER;
    static constexpr WCHAR kId[] = L"In";
    *Id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(kId)));
    if (!*Id) return E_OUTOFMEMORY;
    for (size_t i = 0; i < sizeof(kId) / sizeof(WCHAR); ++i) {
        (*Id)[i] = kId[i];
    }
    return S_OK;
}

HRESULT CRendererInputPin::Receive(IMediaSample* pSample) {
    // A sample refused by a flush or stop that has ended by the time we look
    // below (the renderer left the interface lock in between) is no error:
    // taken for one, it would refuse every sample after the flush.
    const unsigned nChanges = m_nStreamingChanges.load();
    const HRESULT hr = m_pRenderer->Receive(pSample);
    if (FAILED(hr)) {
        // Fetched before the locks, for the EC_COMPLETE that may follow.
        m_pRenderer->PrefetchEndOfStreamPosition();
        CAutoLock lock(&m_pRenderer->m_InterfaceLock);
        if (!IsStopped() && !IsFlushing() && m_nStreamingChanges.load() == nChanges &&
            !m_bRunTimeError) {
            m_pRenderer->NotifyEvent(EC_ERRORABORT, hr, 0);
            {
                CAutoLock rlock(&m_pRenderer->m_RendererLock);
                if (m_pRenderer->IsStreaming() && !m_pRenderer->IsEndOfStreamDelivered()) {
                    m_pRenderer->NotifyEndOfStream();
                }
            }
            m_bRunTimeError = true;
        }
    }
    return hr;
}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* pmt) {
    return m_pRenderer->CheckMediaType(pmt);
}

HRESULT CRendererInputPin::SetMediaType(const CMediaType* pmt) {
    const HRESULT hr = CBaseInputPin::SetMediaType(pmt);
    if (FAILED(hr)) return hr;
    return m_pRenderer->SetMediaType(pmt);
}

HRESULT CRendererInputPin::Active() {
    m_nStreamingChanges.fetch_add(1);
    return m_pRenderer->Active();
}

HRESULT CRendererInputPin::Inactive() {
    m_nStreamingChanges.fetch_add(1);
    // The base clears the run-time error and the flushing mark (a Stop that
    // came between BeginFlush and EndFlush would otherwise leave the next
    // Pause refusing every sample) and decommits the pool.
    const HRESULT hrBase = CBaseInputPin::Inactive();
    const HRESULT hr = m_pRenderer->Inactive();
    return FAILED(hrBase) ? hrBase : hr;
}

HRESULT CRendererInputPin::BreakConnect() {
    m_pRenderer->InterfaceLock()->AssertHeld();  // our m_pLock
    const HRESULT hr = m_pRenderer->BreakConnect();
    if (FAILED(hr)) return hr;
    return CBaseInputPin::BreakConnect();
}

HRESULT CRendererInputPin::CompleteConnect(IPin* pReceivePin) {
    m_pRenderer->InterfaceLock()->AssertHeld();  // our m_pLock
    const HRESULT hr = m_pRenderer->CompleteConnect(pReceivePin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CompleteConnect(pReceivePin);
}
