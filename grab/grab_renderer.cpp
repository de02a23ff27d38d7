#include "grab/grab_renderer.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <utility>

#include "platform/media/media_guids.h"

namespace {

constexpr LONGLONG kMaxFrameSize = 0x7FFFFFFF;

// Where the bitmap header lies in the format block, and how long the block
// must be to hold its whole layout; false for other format types.
bool HeaderLayout(const GUID& formatType, size_t* pOffset, size_t* pMinLength) {
    if (formatType == FORMAT_VideoInfo) {
        *pOffset = offsetof(VIDEOINFOHEADER, bmiHeader);
        *pMinLength = sizeof(VIDEOINFOHEADER);
        return true;
    }
    if (formatType == FORMAT_VideoInfo2) {
        *pOffset = offsetof(VIDEOINFOHEADER2, bmiHeader);
        *pMinLength = sizeof(VIDEOINFOHEADER2);
        return true;
    }
    return false;
}

// A sample's length or size as a copy bound: negative counts as 0.
LONGLONG NonNegative(LONG value) { return value < 0 ? 0 : value; }

}  // namespace

CGrabRenderer::CGrabRenderer(HWND hwndOwner, HRESULT* phr)
    : CGrabRenderer(hwndOwner, phr, &CGrabRendererAllocator::Create) {}

CGrabRenderer::CGrabRenderer(HWND hwndOwner, HRESULT* phr,
                             PFN_CREATE_GRAB_ALLOCATOR pfnCreateAllocator)
    : CBaseVideoRenderer(CLSID_GrabRenderer, "CGrabRenderer", nullptr, phr),
      m_hwndOwner(hwndOwner),
      m_InputPin(this, phr, pfnCreateAllocator) {
    // The base never creates a pin of its own once this is set.
    m_pInputPin = &m_InputPin;
}

CGrabRenderer::~CGrabRenderer() {
    // No timer callback or clock advise may reach us from here on.
    ShutdownTimerAndAdvise();
    // The pin is a member: the base destructor must not delete it.
    m_pInputPin = nullptr;
    ReleaseLatestSample();
    HBITMAP hBitmap = nullptr;
    {
        CAutoLock lock(&m_FrameLock);
        hBitmap = m_hFrameBitmap;
        m_hFrameBitmap = nullptr;
        m_pFrameBuffer = nullptr;
        m_cbFrameBuffer = 0;
        m_cbFrame = 0;
    }
    DeleteObject(hBitmap);
}

// ---------------------------------------------------------------------------
// Media type (graph thread; streaming thread for a type change)

HRESULT CGrabRenderer::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (*pmt->FormatType() != FORMAT_VideoInfo) return S_FALSE;
    if (*pmt->Type() != MEDIATYPE_Video) return S_FALSE;
    if (*pmt->Subtype() != MEDIASUBTYPE_RGB24) return S_FALSE;
    if (!pmt->Format() || pmt->FormatLength() < sizeof(VIDEOINFOHEADER)) return S_FALSE;

    VIDEOINFOHEADER vih;
    std::memcpy(&vih, pmt->Format(), sizeof(vih));
    const BITMAPINFOHEADER& bih = vih.bmiHeader;
    if (bih.biBitCount != 24 || bih.biCompression != BI_RGB) return S_FALSE;
    // Width > 0, height neither 0 nor INT32_MIN, and the padded image
    // within 32-bit sample lengths.
    const LONGLONG cbImage = DIBImageSize(bih.biWidth, bih.biHeight, 24);
    if (cbImage <= 0 || cbImage > kMaxFrameSize) return S_FALSE;
    return S_OK;
}

HRESULT CGrabRenderer::SetMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    size_t offset = 0;
    size_t minLength = 0;
    if (!HeaderLayout(*pmt->FormatType(), &offset, &minLength)) return S_OK;
    if (!pmt->Format() || pmt->FormatLength() < minLength) return S_OK;

    BITMAPINFO bmi{};
    std::memcpy(&bmi.bmiHeader, pmt->Format() + offset, sizeof(BITMAPINFOHEADER));
    REFERENCE_TIME tAvgTimePerFrame = 0;
    std::memcpy(&tAvgTimePerFrame, pmt->Format() + offsetof(VIDEOINFOHEADER, AvgTimePerFrame),
                sizeof(tAvgTimePerFrame));

    // The new buffer first, outside the lock: a failure leaves everything
    // as it was. CreateDIBSection refuses what CheckMediaType refuses about
    // the geometry, so a type that skipped it (VIDEOINFOHEADER2) is safe.
    void* pBits = nullptr;
    HBITMAP hBitmap = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0);
    if (!hBitmap) return E_OUTOFMEMORY;
    const LONGLONG cbImage =
        DIBImageSize(bmi.bmiHeader.biWidth, bmi.bmiHeader.biHeight, bmi.bmiHeader.biBitCount);
    // A BI_RGB header may leave biSizeImage 0 (or too small); consumers size
    // their buffers from it.
    if (bmi.bmiHeader.biSizeImage < static_cast<DWORD>(cbImage)) {
        bmi.bmiHeader.biSizeImage = static_cast<DWORD>(cbImage);
    }
    const LONG nHeight = bmi.bmiHeader.biHeight;

    CAutoLock lock(&m_FrameLock);
    HBITMAP hOld = m_hFrameBitmap;
    m_hFrameBitmap = hBitmap;
    m_pFrameBuffer = static_cast<BYTE*>(pBits);
    m_cbFrameBuffer = static_cast<LONG>(cbImage);
    m_bmiFrame = bmi;
    m_nFrameWidth = bmi.bmiHeader.biWidth;
    m_nFrameHeight = nHeight < 0 ? -nHeight : nHeight;  // INT32_MIN was refused above
    // The new buffer holds no frame yet; an old copy size could exceed it.
    m_cbFrame = 0;
    m_tFrameDuration = static_cast<LONG>(static_cast<uint32_t>(tAvgTimePerFrame));
    // Under the lock: no consumer copy can be reading the old pixels.
    DeleteObject(hOld);
    return S_OK;
}

// ---------------------------------------------------------------------------
// Rendering (streaming thread, interface and renderer locks held)

HRESULT CGrabRenderer::DoRenderSample(IMediaSample* pMediaSample) {
    CComRef<IMediaSample> pReleased;
    {
        CAutoLock lock(&m_FrameLock);
        if (!m_InputPin.UsingGrabAllocator()) {
            CopySampleToFrame(pMediaSample);
        } else if (pMediaSample != m_pLatestSample.Get()) {
            pReleased = std::move(m_pLatestSample);
            m_pLatestSample.Reset(pMediaSample, AddRefTag);
        }
    }
    // Back to the pool outside the frame lock.
    pReleased.Release();
    InvalidateRect(m_hwndOwner, nullptr, FALSE);
    m_bRenderedInCall = true;
    return S_OK;
}

HRESULT CGrabRenderer::Render(IMediaSample* pMediaSample) {
    {
        // With the hold armed, the sample before this one must have been
        // taken before this one replaces it. Waiting here rather than after
        // rendering lets upstream decode this sample while the consumer
        // copied the one before, and go on to the next while the consumer
        // copies this one. Sees Stop through m_bReleased, so it always ends.
        CStdMutexLock lock(&m_mxHandOff);
        m_cvHandOff.wait(lock.Native(), [&]() REQUIRES(m_mxHandOff) {
            return !m_bHold || m_bReleased || m_nTaken >= m_nRendered;
        });
    }
    m_bRenderedInCall = false;
    const HRESULT hr = CBaseVideoRenderer::Render(pMediaSample);
    if (!m_bRenderedInCall) return hr;
    // After the base registered the sample's position: a consumer woken
    // here reads the position of this frame.
    {
        CStdMutexLock lock(&m_mxHandOff);
        ++m_nRendered;
    }
    m_cvHandOff.notify_all();
    return hr;
}

HRESULT CGrabRenderer::Stop() {
    ReleaseHandOff();
    return CBaseVideoRenderer::Stop();
}

HRESULT CGrabRenderer::EndOfStream() {
    {
        CStdMutexLock lock(&m_mxHandOff);
        m_bEndOfStream = true;
    }
    m_cvHandOff.notify_all();
    return CBaseVideoRenderer::EndOfStream();
}

void CGrabRenderer::ArmHandOff(bool bHold) {
    {
        CStdMutexLock lock(&m_mxHandOff);
        m_bHold = bHold;
        m_bReleased = false;
        m_bEndOfStream = false;
        m_nTaken = m_nRendered;
    }
    m_cvHandOff.notify_all();
}

void CGrabRenderer::ReleaseHandOff() {
    {
        CStdMutexLock lock(&m_mxHandOff);
        m_bReleased = true;
    }
    m_cvHandOff.notify_all();
}

HRESULT CGrabRenderer::WaitForRendered(ULONGLONG* pnSeen, DWORD dwMs) {
    if (!pnSeen) return E_POINTER;
    CStdMutexLock lock(&m_mxHandOff);
    if (!m_cvHandOff.wait_for(lock.Native(), std::chrono::milliseconds(dwMs),
                              [&]() REQUIRES(m_mxHandOff) { return m_nRendered != *pnSeen; }))
        return E_ABORT;
    *pnSeen = m_nRendered;
    return S_OK;
}

HRESULT CGrabRenderer::TakeFrame(BYTE* pDest, LONG cbDest, DWORD dwMs, LONG* pcbCopied) {
    if (pcbCopied) *pcbCopied = 0;
    ULONGLONG nSerial = 0;
    {
        CStdMutexLock lock(&m_mxHandOff);
        if (!m_cvHandOff.wait_for(
                lock.Native(), std::chrono::milliseconds(dwMs),
                [&]() REQUIRES(m_mxHandOff) { return m_nRendered > m_nTaken || m_bEndOfStream; }))
            return E_ABORT;
        if (m_nRendered <= m_nTaken) return S_FALSE;
        nSerial = m_nRendered;
    }
    // With the hold armed the streaming thread waits for us, so the held
    // sample is still the one with serial nSerial.
    const LONG cb = CopyLatestTo(pDest, cbDest);
    if (pcbCopied) *pcbCopied = cb;
    {
        CStdMutexLock lock(&m_mxHandOff);
        if (m_nTaken < nSerial) m_nTaken = nSerial;
    }
    m_cvHandOff.notify_all();
    return S_OK;
}

void CGrabRenderer::CopySampleToFrame(IMediaSample* pSample) {
    if (!pSample || !m_pFrameBuffer) return;
    BYTE* pData = nullptr;
    if (FAILED(pSample->GetPointer(&pData)) || !pData) {
        m_cbFrame = 0;
        return;
    }
    const LONGLONG cb =
        std::min({static_cast<LONGLONG>(m_cbFrameBuffer),
                  NonNegative(pSample->GetActualDataLength()), NonNegative(pSample->GetSize())});
    if (cb > 0) std::memcpy(m_pFrameBuffer, pData, static_cast<size_t>(cb));
    m_cbFrame = static_cast<LONG>(cb);
}

void CGrabRenderer::ReleaseLatestSample() {
    CComRef<IMediaSample> pSample;
    {
        CAutoLock lock(&m_FrameLock);
        pSample = std::move(m_pLatestSample);
    }
    pSample.Release();  // outside the frame lock
}

// ---------------------------------------------------------------------------
// Consumer side

void CGrabRenderer::UpdateFrameBuffer() {
    CAutoLock lock(&m_FrameLock);
    CopySampleToFrame(m_pLatestSample.Get());
}

LONG CGrabRenderer::CopyFrameTo(BYTE* pDest, LONG cbDest) {
    CAutoLock lock(&m_FrameLock);
    if (!pDest || cbDest <= 0 || !m_pLatestSample || !m_pFrameBuffer || m_cbFrame <= 0) {
        return 0;
    }
    const LONG cb = std::min(m_cbFrame, cbDest);
    std::memcpy(pDest, m_pFrameBuffer, static_cast<size_t>(cb));
    return cb;
}

LONG CGrabRenderer::CopyLatestTo(BYTE* pDest, LONG cbDest) {
    if (!pDest || cbDest <= 0) return 0;
    CAutoLock lock(&m_FrameLock);
    if (!m_InputPin.UsingGrabAllocator() || !m_pLatestSample) {
        // A foreign pool: DoRenderSample copied the frame into the buffer.
        if (!m_pFrameBuffer || m_cbFrame <= 0) return 0;
        const LONG cb = std::min(m_cbFrame, cbDest);
        std::memcpy(pDest, m_pFrameBuffer, static_cast<size_t>(cb));
        return cb;
    }
    BYTE* pData = nullptr;
    if (FAILED(m_pLatestSample->GetPointer(&pData)) || !pData) return 0;
    const LONGLONG cb =
        std::min({static_cast<LONGLONG>(cbDest), static_cast<LONGLONG>(m_cbFrameBuffer),
                  NonNegative(m_pLatestSample->GetActualDataLength()),
                  NonNegative(m_pLatestSample->GetSize())});
    if (cb <= 0) return 0;
    std::memcpy(pDest, pData, static_cast<size_t>(cb));
    return static_cast<LONG>(cb);
}

void CGrabRenderer::GetFrameFormat(BITMAPINFO* pbmi) {
    if (!pbmi) return;
    CAutoLock lock(&m_FrameLock);
    *pbmi = m_bmiFrame;
}

LONG CGrabRenderer::GetFrameDuration() {
    CAutoLock lock(&m_FrameLock);
    return m_tFrameDuration;
}

LONG CGrabRenderer::GetFrameWidth() {
    CAutoLock lock(&m_FrameLock);
    return m_nFrameWidth;
}

LONG CGrabRenderer::GetFrameHeight() {
    CAutoLock lock(&m_FrameLock);
    return m_nFrameHeight;
}

LONG CGrabRenderer::GetFrameCopySize() {
    CAutoLock lock(&m_FrameLock);
    return m_cbFrame;
}

BOOL CGrabRenderer::HasLatestSample() {
    CAutoLock lock(&m_FrameLock);
    return m_pLatestSample ? TRUE : FALSE;
}

HRESULT CGrabRenderer::GetLatestMediaTime(LONGLONG* pllStart) {
    if (!pllStart) return E_POINTER;
    CAutoLock lock(&m_FrameLock);
    if (!m_pLatestSample) return E_FAIL;
    LONGLONG llEnd = 0;
    return m_pLatestSample->GetMediaTime(pllStart, &llEnd);
}
