#include "mediagraph/file_source_pin.h"

#include <chrono>
#include <cstring>
#include <new>

#include "mediagraph/file_source_filter.h"
#include "platform/media/media_guids.h"

namespace {

// A free sample is polled for in slices this long, so that the wait sees a
// stop request even when downstream holds every buffer.
constexpr auto kBufferWaitSlice = std::chrono::milliseconds(2);

}  // namespace

// ---------------------------------------------------------------------------
// Pin: connection

CFileSourcePin::CFileSourcePin(CFileSourceFilter* pFilter, CCritSec* pLock, HRESULT* phr)
    : CBaseOutputPin("CFileSourcePin", pFilter, pLock, phr, L"Video"),
      m_pSource(pFilter),
      m_Decoder(pFilter->Decoder()),
      m_TimeFormat(TIME_FORMAT_MEDIA_TIME) {
    m_rtStop = 0x7FFFFFFFFFFFFFFFLL;  // until the file is open: "to the end"
}

CFileSourcePin::~CFileSourcePin() {
    CStdMutexLock lock(&m_ThreadLock);
    StopThread();
}

HRESULT CFileSourcePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CFileSourcePin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (*pmt->Type() != MEDIATYPE_Video || *pmt->Subtype() != MEDIASUBTYPE_RGB24 ||
        *pmt->FormatType() != FORMAT_VideoInfo || !pmt->Format() ||
        pmt->FormatLength() < sizeof(VIDEOINFOHEADER)) {
        return S_FALSE;
    }
    // Only our own geometry: we do not scale for downstream.
    VIDEOINFOHEADER vih{};
    std::memcpy(&vih, pmt->Format(), sizeof vih);
    if (vih.bmiHeader.biWidth != m_Decoder.GetWidth() ||
        vih.bmiHeader.biHeight != m_Decoder.GetHeight() || vih.bmiHeader.biBitCount != 24 ||
        vih.bmiHeader.biCompression != 0) {
        return S_FALSE;
    }
    return S_OK;
}

HRESULT CFileSourcePin::GetMediaType(int iPosition, CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return S_FALSE;  // one type only
    if (!m_Decoder.IsOpen()) return E_UNEXPECTED;
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = m_Decoder.GetAvgTimePerFrame();
    m_Decoder.GetBitmapHeader(&vih.bmiHeader);
    vih.bmiHeader.biSizeImage = m_Decoder.GetImageSize();
    vih.rcSource = RECT{0, 0, m_Decoder.GetWidth(), m_Decoder.GetHeight()};
    vih.rcTarget = vih.rcSource;
    if (vih.AvgTimePerFrame > 0) {
        const long double bits = static_cast<long double>(vih.bmiHeader.biSizeImage) * 8.0L * 1e7L /
                                 static_cast<long double>(vih.AvgTimePerFrame);
        vih.dwBitRate = bits > 4294967295.0L ? 0xFFFFFFFFu : static_cast<DWORD>(bits);
    }
    pmt->InitMediaType();
    pmt->SetType(&MEDIATYPE_Video);
    pmt->SetSubtype(&MEDIASUBTYPE_RGB24);
    pmt->SetFormatType(&FORMAT_VideoInfo);
    pmt->SetSampleSize(vih.bmiHeader.biSizeImage);
    pmt->SetTemporalCompression(FALSE);
    if (!pmt->SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof vih)) return E_OUTOFMEMORY;
    return S_OK;
}

HRESULT CFileSourcePin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) {
    if (!pAlloc || !pProps) return E_POINTER;
    const LONG cbImage = static_cast<LONG>(m_Decoder.GetImageSize());
    ALLOCATOR_PROPERTIES request = *pProps;
    // One sample waiting in the renderer and one being decoded.
    if (request.cBuffers < 2) request.cBuffers = 2;
    if (request.cbBuffer < cbImage) request.cbBuffer = cbImage;
    if (request.cbAlign < 1) request.cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < cbImage || actual.cBuffers < 1) return E_FAIL;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Pin: streaming

HRESULT CFileSourcePin::Active() {
    const HRESULT hr = CBaseOutputPin::Active();  // commits the pool
    if (FAILED(hr)) return hr;
    CStdMutexLock lock(&m_ThreadLock);
    m_bActive = true;
    StartThread();
    return S_OK;
}

HRESULT CFileSourcePin::Inactive() {
    // Decommit first: a thread blocked for a buffer then fails out.
    const HRESULT hr = CBaseOutputPin::Inactive();
    CStdMutexLock lock(&m_ThreadLock);
    m_bActive = false;
    StopThread();
    return hr;
}

void CFileSourcePin::StartThread() {
    if (m_Thread.joinable()) return;
    REFERENCE_TIME rtStart = 0;
    {
        CStdMutexLock lock(&m_SeekLock);
        rtStart = m_rtStart;
    }
    m_bStopThread = false;
    m_Decoder.ClearStop();
    m_Thread = std::thread([this, rtStart] { ThreadProc(rtStart); });
}

void CFileSourcePin::StopThread() {
    if (!m_Thread.joinable()) return;
    {
        CStdMutexLock lock(&m_StopWaitLock);
        m_bStopThread = true;
    }
    m_Decoder.RequestStop();
    m_cvStop.notify_all();
    m_Thread.join();
    m_Decoder.ClearStop();
}

HRESULT CFileSourcePin::WaitForBuffer(IMediaSample** ppSample) {
    for (;;) {
        const HRESULT hr = GetDeliveryBuffer(ppSample, nullptr, nullptr, AM_GBF_NOWAIT);
        if (hr != VFW_E_TIMEOUT) return hr;
        CStdMutexLock lock(&m_StopWaitLock);
        if (m_cvStop.wait_for(lock.Native(), kBufferWaitSlice,
                              [this] { return m_bStopThread.load(); })) {
            return E_ABORT;
        }
    }
}

void CFileSourcePin::ThreadProc(REFERENCE_TIME rtStart) {
    // The decoder is ours until StopThread joins us.
    m_Decoder.KeepRecentFrames(!m_bStraightThrough.load());
    HRESULT hr = m_Decoder.SeekToTime(SeekTarget(rtStart));
    if (hr == S_FALSE && m_Decoder.GetFrameCount() > 0) {
        // At or past the end: the segment shows the last frame, so that a
        // grab there completes with a picture (and the renderer then reports
        // the stop position) instead of an empty stream.
        hr = m_Decoder.SeekToFrame(m_Decoder.GetFrameCount() - 1);
    }
    if (hr == E_ABORT || m_bStopThread) return;
    REFERENCE_TIME rtStop = 0;
    {
        CStdMutexLock lock(&m_SeekLock);
        rtStop = m_rtStop;
    }
    DeliverNewSegment(rtStart, rtStop, 1.0);

    bool bFirst = true;
    for (;;) {
        if (!bFirst) {
            // A frame at or past the stop ends the segment before a buffer is
            // taken or a picture converted: it stays decoded in the decoder,
            // where the next segment (a step of one frame) starts with it.
            REFERENCE_TIME rtNext = 0;
            hr = m_Decoder.PeekNextTime(&rtNext);
            if (hr == E_ABORT) return;
            {
                CStdMutexLock lock(&m_SeekLock);
                rtStop = m_rtStop;
            }
            if (hr != S_OK || rtNext >= rtStop) {
                m_llEndOfStreams.fetch_add(1);  // counted first: downstream may complete at once
                DeliverEndOfStream();
                return;
            }
        }
        IMediaSample* pSample = nullptr;
        hr = WaitForBuffer(&pSample);
        if (FAILED(hr)) return;  // decommitted (stopping) or asked to stop
        if (m_bStopThread) {
            pSample->Release();
            return;
        }
        BYTE* pData = nullptr;
        pSample->GetPointer(&pData);
        const LONG cbBuffer = pSample->GetSize();
        SDecodedFrameInfo info;
        hr = cbBuffer > 0 ? m_Decoder.ReadFrame(pData, static_cast<size_t>(cbBuffer), &info)
                          : E_INVALIDARG;
        if (hr == E_ABORT) {
            pSample->Release();
            return;
        }
        {
            CStdMutexLock lock(&m_SeekLock);
            rtStop = m_rtStop;  // a new stop alone applies to the running segment
        }
        // End of file, a read or decode error mid-file (the stream ends
        // cleanly there), or past the stop position.
        if (hr != S_OK || (!bFirst && info.rtTime >= rtStop)) {
            pSample->Release();
            m_llEndOfStreams.fetch_add(1);  // counted first: downstream may complete at once
            DeliverEndOfStream();
            return;
        }
        // Times relative to the segment start; the frame the seek fell into
        // starts at 0. The last frame before the stop ends at the stop, so the
        // end of the stream is signalled when the segment ends.
        const REFERENCE_TIME rtFrameEnd = m_Decoder.FrameToTime(info.llIndex + 1);
        REFERENCE_TIME tStart = info.rtTime - rtStart;
        if (tStart < 0) tStart = 0;
        REFERENCE_TIME rtEnd = rtFrameEnd < rtStop ? rtFrameEnd : rtStop;
        REFERENCE_TIME tStop = rtEnd - rtStart;
        if (tStop <= tStart) tStop = tStart + 1;
        LONGLONG llMediaStart = info.rtTime;
        LONGLONG llMediaEnd = rtFrameEnd > info.rtTime ? rtFrameEnd : info.rtTime + 1;
        pSample->SetTime(&tStart, &tStop);
        pSample->SetMediaTime(&llMediaStart, &llMediaEnd);
        pSample->SetSyncPoint(TRUE);
        pSample->SetDiscontinuity(bFirst ? TRUE : FALSE);
        pSample->SetActualDataLength(static_cast<LONG>(m_Decoder.GetImageSize()));
        hr = Deliver(pSample);
        pSample->Release();
        if (hr != S_OK) return;  // flushing, stopping, or downstream wants no more
        m_llDelivered.fetch_add(1);
        bFirst = false;
    }
}

REFERENCE_TIME CFileSourcePin::SeekTarget(REFERENCE_TIME rtStart) const {
    // Clients address frame k in media time as k x AvgTimePerFrame, or as a
    // frame's rounded start plus steps of it. When the frame duration is not
    // a whole number of 100-ns units (30 fps: 333333.3) and was rounded down,
    // that lies just before frame k's start (less than k units before it, or
    // exactly k for the first frame), and an exact seek would show frame
    // k - 1. Such a position means frame k.
    if (rtStart <= 0) return rtStart;
    const LONGLONG llNext = m_Decoder.TimeToFrame(rtStart) + 1;
    if (llNext >= m_Decoder.GetFrameCount()) return rtStart;
    const REFERENCE_TIME rtNext = m_Decoder.FrameToTime(llNext);
    return rtNext - rtStart <= llNext ? rtNext : rtStart;
}

// ---------------------------------------------------------------------------
// Pin: seeking

bool CFileSourcePin::IsSupported(const GUID& format) const {
    return format == TIME_FORMAT_MEDIA_TIME || (format == TIME_FORMAT_FRAME && m_Decoder.IsAvi());
}

bool CFileSourcePin::ToMedia(const GUID& format, LONGLONG llValue, LONGLONG* pMedia) const {
    if (format == TIME_FORMAT_MEDIA_TIME) {
        *pMedia = llValue;
        return true;
    }
    if (format == TIME_FORMAT_FRAME && m_Decoder.IsAvi()) {
        // Frame numbers past the end mean the end; the frame count converts
        // to the duration so that the default stop reads back unchanged.
        if (llValue >= m_Decoder.GetFrameCount()) {
            *pMedia = m_Decoder.GetDuration() +
                      (llValue - m_Decoder.GetFrameCount()) * m_Decoder.GetAvgTimePerFrame();
        } else {
            *pMedia = m_Decoder.FrameToTime(llValue < 0 ? 0 : llValue);
        }
        return true;
    }
    return false;
}

bool CFileSourcePin::FromMedia(const GUID& format, LONGLONG llMedia, LONGLONG* pValue) const {
    if (format == TIME_FORMAT_MEDIA_TIME) {
        *pValue = llMedia;
        return true;
    }
    if (format == TIME_FORMAT_FRAME && m_Decoder.IsAvi()) {
        *pValue = llMedia >= m_Decoder.GetDuration()
                      ? m_Decoder.GetFrameCount()
                      : m_Decoder.TimeToFrame(llMedia < 0 ? 0 : llMedia);
        return true;
    }
    return false;
}

HRESULT CFileSourcePin::GetCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities) return E_POINTER;
    *pCapabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                     AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
                     AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
    return S_OK;
}

HRESULT CFileSourcePin::CheckCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities) return E_POINTER;
    DWORD caps = 0;
    GetCapabilities(&caps);
    const DWORD requested = *pCapabilities;
    *pCapabilities &= caps;
    if (*pCapabilities == requested) return S_OK;
    return *pCapabilities ? S_FALSE : E_FAIL;
}

HRESULT CFileSourcePin::IsFormatSupported(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    return IsSupported(*pFormat) ? S_OK : S_FALSE;
}

HRESULT CFileSourcePin::QueryPreferredFormat(GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT CFileSourcePin::GetTimeFormat(GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    CStdMutexLock lock(&m_SeekLock);
    *pFormat = m_TimeFormat;
    return S_OK;
}

HRESULT CFileSourcePin::IsUsingTimeFormat(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    CStdMutexLock lock(&m_SeekLock);
    return *pFormat == m_TimeFormat ? S_OK : S_FALSE;
}

HRESULT CFileSourcePin::SetTimeFormat(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    if (!IsSupported(*pFormat)) return E_INVALIDARG;
    CStdMutexLock lock(&m_SeekLock);
    m_TimeFormat = *pFormat;
    return S_OK;
}

HRESULT CFileSourcePin::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                          LONGLONG Source, const GUID* pSourceFormat) {
    if (!pTarget) return E_POINTER;
    GUID current;
    GetTimeFormat(&current);
    const GUID target = pTargetFormat ? *pTargetFormat : current;
    const GUID source = pSourceFormat ? *pSourceFormat : current;
    LONGLONG llMedia = 0;
    if (source == TIME_FORMAT_SAMPLE) {
        // Picture numbers in presentation order (see the contract).
        if (!IsSupported(target)) return E_INVALIDARG;
        const HRESULT hr = m_Decoder.PictureTime(Source, &llMedia);
        if (hr != S_OK) return FAILED(hr) ? hr : E_INVALIDARG;
        FromMedia(target, llMedia, pTarget);
        return S_OK;
    }
    if (!IsSupported(target) || !ToMedia(source, Source, &llMedia)) return E_INVALIDARG;
    FromMedia(target, llMedia, pTarget);
    return S_OK;
}

HRESULT CFileSourcePin::GetDuration(LONGLONG* pDuration) {
    if (!pDuration) return E_POINTER;
    GUID format;
    GetTimeFormat(&format);
    FromMedia(format, m_Decoder.GetDuration(), pDuration);
    return S_OK;
}

HRESULT CFileSourcePin::GetStopPosition(LONGLONG* pStop) {
    if (!pStop) return E_POINTER;
    CStdMutexLock lock(&m_SeekLock);
    const LONGLONG llStop = m_rtStop < m_Decoder.GetDuration() ? m_rtStop : m_Decoder.GetDuration();
    FromMedia(m_TimeFormat, llStop, pStop);
    return S_OK;
}

HRESULT CFileSourcePin::GetCurrentPosition(LONGLONG* pCurrent) {
    if (!pCurrent) return E_POINTER;
    CStdMutexLock lock(&m_SeekLock);
    FromMedia(m_TimeFormat, m_rtStart, pCurrent);
    return S_OK;
}

HRESULT CFileSourcePin::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    HRESULT hr = S_OK;
    if (pCurrent) hr = GetCurrentPosition(pCurrent);
    if (SUCCEEDED(hr) && pStop) hr = GetStopPosition(pStop);
    return hr;
}

HRESULT CFileSourcePin::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                     DWORD dwStopFlags) {
    const DWORD currentMode = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stopMode = dwStopFlags & AM_SEEKING_PositioningBitsMask;
    if ((currentMode != AM_SEEKING_NoPositioning && !pCurrent) ||
        (stopMode != AM_SEEKING_NoPositioning && !pStop)) {
        return E_POINTER;
    }
    if (currentMode == AM_SEEKING_IncrementalPositioning) return E_INVALIDARG;
    {
        CStdMutexLock lock(&m_SeekLock);
        LONGLONG llStartValue = 0;
        LONGLONG llStopValue = 0;
        FromMedia(m_TimeFormat, m_rtStart, &llStartValue);
        FromMedia(m_TimeFormat, m_rtStop, &llStopValue);
        if (currentMode == AM_SEEKING_AbsolutePositioning) llStartValue = *pCurrent;
        if (currentMode == AM_SEEKING_RelativePositioning) llStartValue += *pCurrent;
        if (stopMode == AM_SEEKING_AbsolutePositioning) llStopValue = *pStop;
        if (stopMode == AM_SEEKING_RelativePositioning) llStopValue += *pStop;
        if (stopMode == AM_SEEKING_IncrementalPositioning) llStopValue = llStartValue + *pStop;
        LONGLONG llNewStart = m_rtStart;
        LONGLONG llNewStop = m_rtStop;
        if (currentMode != AM_SEEKING_NoPositioning)
            ToMedia(m_TimeFormat, llStartValue, &llNewStart);
        if (stopMode != AM_SEEKING_NoPositioning) ToMedia(m_TimeFormat, llStopValue, &llNewStop);
        if (llNewStart < 0) llNewStart = 0;
        if (llNewStop < llNewStart) return E_INVALIDARG;  // nothing to play
        m_rtStart = llNewStart;
        m_rtStop = llNewStop;
        if (dwCurrentFlags & AM_SEEKING_ReturnTime) FromMedia(m_TimeFormat, m_rtStart, pCurrent);
        if (dwStopFlags & AM_SEEKING_ReturnTime) FromMedia(m_TimeFormat, m_rtStop, pStop);
    }
    if (currentMode == AM_SEEKING_NoPositioning) return S_OK;

    // A new start: flush downstream and restart at the new position. No
    // filter lock or leaf lock is held while calling downstream.
    CStdMutexLock lock(&m_ThreadLock);
    if (!m_bActive) return S_OK;  // stopped: the next Pause starts there
    DeliverBeginFlush();
    StopThread();
    DeliverEndFlush();
    StartThread();  // sends NewSegment first
    return S_OK;
}

HRESULT CFileSourcePin::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    if (pEarliest) *pEarliest = 0;
    if (pLatest) return GetDuration(pLatest);
    return S_OK;
}

HRESULT CFileSourcePin::SetRate(double dRate) { return dRate == 1.0 ? S_OK : E_INVALIDARG; }

HRESULT CFileSourcePin::GetRate(double* pdRate) {
    if (!pdRate) return E_POINTER;
    *pdRate = 1.0;
    return S_OK;
}

HRESULT CFileSourcePin::GetPreroll(LONGLONG* pllPreroll) {
    if (!pllPreroll) return E_POINTER;
    *pllPreroll = 0;
    return S_OK;
}
