#include "filterbase/pos_pass_thru.h"

#include "platform/com/com_ref.h"

CPosPassThru::CPosPassThru(const char* pName, IUnknown* pUnk, HRESULT* phr, IPin* pPin)
    : CMediaPosition(pName, pUnk), m_pPin(pPin) {
    if (!pPin && phr) *phr = E_POINTER;
}

HRESULT CPosPassThru::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    return CMediaPosition::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CPosPassThru::GetPeer(IMediaPosition** ppMP) {
    *ppMP = nullptr;
    if (!m_pPin) return E_NOTIMPL;
    IPin* pConnected = nullptr;
    if (FAILED(m_pPin->ConnectedTo(&pConnected))) return E_NOTIMPL;
    CComRef<IPin> peer(pConnected, AdoptTag);
    if (FAILED(peer->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(ppMP)))) {
        *ppMP = nullptr;
        return E_NOTIMPL;
    }
    return S_OK;
}

HRESULT CPosPassThru::GetPeerSeeking(IMediaSeeking** ppMS) {
    *ppMS = nullptr;
    if (!m_pPin) return E_NOTIMPL;
    IPin* pConnected = nullptr;
    if (FAILED(m_pPin->ConnectedTo(&pConnected))) return E_NOTIMPL;
    CComRef<IPin> peer(pConnected, AdoptTag);
    if (FAILED(peer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(ppMS)))) {
        *ppMS = nullptr;
        return E_NOTIMPL;
    }
    return S_OK;
}

// Passes one call to the peer's IMediaSeeking or IMediaPosition.
#define PASS_SEEKING(call)             \
    IMediaSeeking* pMS = nullptr;      \
    HRESULT hr = GetPeerSeeking(&pMS); \
    if (FAILED(hr)) return hr;         \
    hr = pMS->call;                    \
    pMS->Release();                    \
    return hr
#define PASS_POSITION(call)        \
    IMediaPosition* pMP = nullptr; \
    HRESULT hr = GetPeer(&pMP);    \
    if (FAILED(hr)) return hr;     \
    hr = pMP->call;                \
    pMP->Release();                \
    return hr

HRESULT CPosPassThru::GetCapabilities(DWORD* pCapabilities) {
    PASS_SEEKING(GetCapabilities(pCapabilities));
}
HRESULT CPosPassThru::CheckCapabilities(DWORD* pCapabilities) {
    PASS_SEEKING(CheckCapabilities(pCapabilities));
}
HRESULT CPosPassThru::IsFormatSupported(const GUID* pFormat) {
    PASS_SEEKING(IsFormatSupported(pFormat));
}
HRESULT CPosPassThru::QueryPreferredFormat(GUID* pFormat) {
    PASS_SEEKING(QueryPreferredFormat(pFormat));
}
HRESULT CPosPassThru::GetTimeFormat(GUID* pFormat) { PASS_SEEKING(GetTimeFormat(pFormat)); }
HRESULT CPosPassThru::IsUsingTimeFormat(const GUID* pFormat) {
    PASS_SEEKING(IsUsingTimeFormat(pFormat));
}
HRESULT CPosPassThru::SetTimeFormat(const GUID* pFormat) { PASS_SEEKING(SetTimeFormat(pFormat)); }
HRESULT CPosPassThru::GetDuration(LONGLONG* pDuration) { PASS_SEEKING(GetDuration(pDuration)); }
HRESULT CPosPassThru::GetStopPosition(LONGLONG* pStop) { PASS_SEEKING(GetStopPosition(pStop)); }
HRESULT CPosPassThru::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                        LONGLONG Source, const GUID* pSourceFormat) {
    PASS_SEEKING(ConvertTimeFormat(pTarget, pTargetFormat, Source, pSourceFormat));
}
HRESULT CPosPassThru::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                   DWORD dwStopFlags) {
    PASS_SEEKING(SetPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags));
}
HRESULT CPosPassThru::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    PASS_SEEKING(GetPositions(pCurrent, pStop));
}
HRESULT CPosPassThru::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    PASS_SEEKING(GetAvailable(pEarliest, pLatest));
}
HRESULT CPosPassThru::SetRate(double dRate) {
    if (dRate == 0.0) return E_INVALIDARG;
    PASS_SEEKING(SetRate(dRate));
}
HRESULT CPosPassThru::GetRate(double* pdRate) { PASS_SEEKING(GetRate(pdRate)); }
HRESULT CPosPassThru::GetPreroll(LONGLONG* pllPreroll) { PASS_SEEKING(GetPreroll(pllPreroll)); }

HRESULT CPosPassThru::GetCurrentPosition(LONGLONG* pCurrent) {
    if (!pCurrent) return E_POINTER;
    LONGLONG llStop = 0;
    if (SUCCEEDED(GetMediaTime(pCurrent, &llStop))) return S_OK;
    PASS_SEEKING(GetCurrentPosition(pCurrent));
}

HRESULT CPosPassThru::GetMediaTime(LONGLONG*, LONGLONG*) { return E_FAIL; }

HRESULT CPosPassThru::get_Duration(REFTIME* plength) { PASS_POSITION(get_Duration(plength)); }
HRESULT CPosPassThru::put_CurrentPosition(REFTIME llTime) {
    PASS_POSITION(put_CurrentPosition(llTime));
}
HRESULT CPosPassThru::get_CurrentPosition(REFTIME* pllTime) {
    PASS_POSITION(get_CurrentPosition(pllTime));
}
HRESULT CPosPassThru::get_StopTime(REFTIME* pllTime) { PASS_POSITION(get_StopTime(pllTime)); }
HRESULT CPosPassThru::put_StopTime(REFTIME llTime) { PASS_POSITION(put_StopTime(llTime)); }
HRESULT CPosPassThru::get_PrerollTime(REFTIME* pllTime) { PASS_POSITION(get_PrerollTime(pllTime)); }
HRESULT CPosPassThru::put_PrerollTime(REFTIME llTime) { PASS_POSITION(put_PrerollTime(llTime)); }
HRESULT CPosPassThru::put_Rate(double dRate) {
    if (dRate == 0.0) return E_INVALIDARG;
    PASS_POSITION(put_Rate(dRate));
}
HRESULT CPosPassThru::get_Rate(double* pdRate) { PASS_POSITION(get_Rate(pdRate)); }
HRESULT CPosPassThru::CanSeekForward(LONG* pCanSeekForward) {
    PASS_POSITION(CanSeekForward(pCanSeekForward));
}
HRESULT CPosPassThru::CanSeekBackward(LONG* pCanSeekBackward) {
    PASS_POSITION(CanSeekBackward(pCanSeekBackward));
}
