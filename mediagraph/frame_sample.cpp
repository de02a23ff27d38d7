#include "mediagraph/frame_sample.h"

CFrameSample::CFrameSample() : CUnknown("CFrameSample", nullptr) {}

HRESULT CFrameSample::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMediaSample) return GetInterface(static_cast<IMediaSample*>(this), ppv);
    if (riid == IID_IRawFrameSample) return GetInterface(static_cast<IRawFrameSample*>(this), ppv);
    if (riid == IID_ISampleCaptureTime)
        return GetInterface(static_cast<ISampleCaptureTime*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

void CFrameSample::SetFrame(BYTE* pData, LONG lLength, const SRawFrameLayout& layout,
                            double dSeconds, LONGLONG llCaptureCount) {
    m_pData = pData;
    m_llCaptureCount = llCaptureCount;
    m_lLength = lLength;
    m_Layout = layout;
    m_dSeconds = dSeconds;
}

HRESULT CFrameSample::GetLayout(SRawFrameLayout* pLayout) {
    if (!pLayout) return E_POINTER;
    *pLayout = m_Layout;
    return S_OK;
}

HRESULT CFrameSample::GetCaptureTime(LONGLONG* pllCount) {
    if (!pllCount) return E_POINTER;
    *pllCount = m_llCaptureCount;
    return m_llCaptureCount != 0 ? S_OK : S_FALSE;
}

HRESULT CFrameSample::GetPointer(BYTE** ppBuffer) {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = m_pData;
    return m_pData ? S_OK : E_UNEXPECTED;
}

HRESULT CFrameSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (!pTimeStart || !pTimeEnd) return E_POINTER;
    // Live frames carry no stream time here: they pass as they arrive.
    return VFW_E_SAMPLE_TIME_NOT_SET;
}

HRESULT CFrameSample::SetTime(REFERENCE_TIME*, REFERENCE_TIME*) { return S_OK; }

HRESULT CFrameSample::SetActualDataLength(LONG lLen) {
    if (lLen < 0 || lLen > m_lLength) return VFW_E_BUFFER_OVERFLOW;
    m_lLength = lLen;
    return S_OK;
}

HRESULT CFrameSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
    if (!ppMediaType) return E_POINTER;
    *ppMediaType = nullptr;
    return S_FALSE;
}
