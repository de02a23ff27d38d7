#include "processing/camera_frame_source.h"

#include <cstring>
#include <new>

#include "capture/video_input.h"
#include "pelora/tavro_plugin.h"

BITMAPINFO BuildRgb24Format(LONG nWidth, LONG nHeight) {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = 40;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biCompression = 0;
    if (nWidth <= 0 || nHeight <= 0) return bmi;
    const int64_t llSize = static_cast<int64_t>(TavroRowStride(nWidth)) * nHeight;
    if (llSize > 0x7FFFFFFF) return bmi;
    bmi.bmiHeader.biWidth = nWidth;
    bmi.bmiHeader.biHeight = nHeight;  // positive: bottom-up rows
    bmi.bmiHeader.biSizeImage = static_cast<DWORD>(llSize);
    return bmi;
}

void CopyPackedRows(LONG nWidth, BYTE* pDest, const BYTE* pSource, LONG nHeight) {
    if (nWidth <= 0 || nHeight <= 0) return;
    const size_t cbRow = static_cast<size_t>(nWidth) * 3;
    const size_t cbStride = TavroRowStride(nWidth);
    for (LONG y = 0; y < nHeight; ++y) {
        std::memcpy(pDest, pSource, cbRow);
        pSource += cbRow;
        pDest += cbStride;
    }
}

CCameraFrameSource::CCameraFrameSource(VideoInput& videoInput, int nDeviceIndex)
    : m_videoInput(videoInput), m_nDeviceIndex(nDeviceIndex) {}

HRESULT CCameraFrameSource::ProbeFormat(void*, BITMAPINFO* pbmi, std::string*) {
    m_nWidth = m_videoInput.getFrameWidth(m_nDeviceIndex);
    m_nHeight = m_videoInput.getFrameHeight(m_nDeviceIndex);
    *pbmi = BuildRgb24Format(m_nWidth, m_nHeight);
    if (pbmi->bmiHeader.biSizeImage == 0) m_nWidth = m_nHeight = 0;
    return S_OK;
}

HRESULT CCameraFrameSource::Open(void*, const CRunFlag&, SFrameTimeline* pTimeline) {
    *pTimeline = SFrameTimeline{};
    m_pCameraBits.reset();
    m_cbCamera = 0;
    m_llCaptureCount = -1;
    if (m_nWidth > 0 && m_videoInput.isDeviceOpen(m_nDeviceIndex)) {
        // Sized from the format this dialog painted, not from the device's
        // size now: a frame of another size is refused by GetPixels.
        m_cbCamera = static_cast<size_t>(m_nWidth) * static_cast<size_t>(m_nHeight) * 3;
        m_pCameraBits.reset(new (std::nothrow) BYTE[m_cbCamera]());
        if (!m_pCameraBits) m_cbCamera = 0;
    }
    pTimeline->bLive = m_pCameraBits != nullptr;
    return S_OK;
}

HRESULT CCameraFrameSource::AcquireAt(LONGLONG, BYTE* pDest, DWORD cbDest) {
    if (!m_pCameraBits || pDest == nullptr) return S_FALSE;  // no device: nothing to acquire
    if (cbDest < static_cast<uint64_t>(TavroRowStride(m_nWidth)) * static_cast<uint64_t>(m_nHeight))
        return E_INVALIDARG;
    HRESULT hr = S_FALSE;
    if (m_videoInput.hasNewFrame(m_nDeviceIndex) &&
        m_videoInput.GetPixels(m_nDeviceIndex, m_pCameraBits.get(), m_cbCamera, false, false)) {
        m_llCaptureCount = m_videoInput.getFrameTimestamp(m_nDeviceIndex);
        hr = S_OK;
    }
    CopyPackedRows(m_nWidth, pDest, m_pCameraBits.get(), m_nHeight);
    return hr;
}

void CCameraFrameSource::Close() {
    m_pCameraBits.reset();
    m_cbCamera = 0;
}
