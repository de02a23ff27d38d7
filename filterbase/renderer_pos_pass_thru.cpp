#include "filterbase/renderer_pos_pass_thru.h"

#include "platform/media/media_guids.h"

CRendererPosPassThru::CRendererPosPassThru(const char* pName, IUnknown* pUnk, HRESULT* phr,
                                           IPin* pPin)
    : CPosPassThru(pName, pUnk, phr, pPin) {}

HRESULT CRendererPosPassThru::RegisterMediaTime(IMediaSample* pMediaSample) {
    if (!pMediaSample) return E_POINTER;
    // A sample that carries its position in the stream (a media time, set by
    // sources that know it) registers that; otherwise its stream times.
    LONGLONG llStart = 0;
    LONGLONG llStop = 0;
    if (pMediaSample->GetMediaTime(&llStart, &llStop) == S_OK) {
        return RegisterMediaTime(llStart, llStop);
    }
    REFERENCE_TIME tStart = 0;
    REFERENCE_TIME tStop = 0;
    const HRESULT hr = pMediaSample->GetTime(&tStart, &tStop);
    if (FAILED(hr)) return hr;
    return RegisterMediaTime(tStart, tStop);
}

HRESULT CRendererPosPassThru::RegisterMediaTime(LONGLONG StartTime, LONGLONG EndTime) {
    CAutoLock lock(&m_PositionLock);
    m_StartMedia = StartTime;
    m_EndMedia = EndTime;
    m_bReset = FALSE;
    return S_OK;
}

HRESULT CRendererPosPassThru::GetMediaTime(LONGLONG* pStartTime, LONGLONG* pEndTime) {
    if (!pStartTime) return E_POINTER;
    LONGLONG llStart = 0;
    LONGLONG llEnd = 0;
    {
        CAutoLock lock(&m_PositionLock);
        if (m_bReset) return E_FAIL;
        llStart = m_StartMedia;
        llEnd = m_EndMedia;
    }
    // Into the current time format, outside the lock. Without an upstream
    // format (or in media time already) the stored values are the answer.
    GUID format = TIME_FORMAT_MEDIA_TIME;
    if (FAILED(GetTimeFormat(&format)) || format == TIME_FORMAT_MEDIA_TIME) {
        *pStartTime = llStart;
        if (pEndTime) *pEndTime = llEnd;
        return S_OK;
    }
    HRESULT hr = ConvertTimeFormat(pStartTime, nullptr, llStart, &TIME_FORMAT_MEDIA_TIME);
    if (FAILED(hr)) return hr;
    if (pEndTime) hr = ConvertTimeFormat(pEndTime, nullptr, llEnd, &TIME_FORMAT_MEDIA_TIME);
    return hr;
}

HRESULT CRendererPosPassThru::ResetMediaTime() {
    CAutoLock lock(&m_PositionLock);
    m_StartMedia = 0;
    m_EndMedia = 0;
    m_bReset = TRUE;
    return S_OK;
}

HRESULT CRendererPosPassThru::GetStopPositionInMediaTime(LONGLONG* pStop) {
    if (!pStop) return E_POINTER;
    LONGLONG llStop = 0;
    HRESULT hr = GetStopPosition(&llStop);
    if (FAILED(hr)) return hr;
    // The stop position is in the current format; the stored times are media
    // time, which GetMediaTime converts back.
    GUID format = TIME_FORMAT_MEDIA_TIME;
    if (SUCCEEDED(GetTimeFormat(&format)) && format != TIME_FORMAT_MEDIA_TIME) {
        hr = ConvertTimeFormat(&llStop, &TIME_FORMAT_MEDIA_TIME, llStop, nullptr);
        if (FAILED(hr)) return hr;
    }
    *pStop = llStop;
    return S_OK;
}
