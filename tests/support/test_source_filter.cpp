#include "support/test_source_filter.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/media/media_guids.h"

namespace pelora_test {

// {6A0C1D2E-8B3F-4E5A-9C71-2D4F6B8A0E13}
static constexpr CLSID CLSID_TestSource = {
    0x6A0C1D2E, 0x8B3F, 0x4E5A, {0x9C, 0x71, 0x2D, 0x4F, 0x6B, 0x8A, 0x0E, 0x13}};

CTestSourceFilter::CTestSourceFilter(const SourceOptions& options)
    : CBaseFilter("Test source", nullptr, &m_Lock, CLSID_TestSource),
      m_Options(options),
      m_Pin(this, &m_Lock, nullptr) {}

CTestSourcePin::CTestSourcePin(CTestSourceFilter* pFilter, CCritSec* pLock, HRESULT* phr)
    : CBaseOutputPin("Test source pin", pFilter, pLock, phr, L"Out"),
      m_pSource(pFilter),
      m_TimeFormat(TIME_FORMAT_MEDIA_TIME) {
    m_llStop = static_cast<LONGLONG>(pFilter->Options().frames) * pFilter->Options().frameDuration;
}

CTestSourcePin::~CTestSourcePin() {
    std::lock_guard<std::mutex> lock(m_ThreadLock);
    StopThread();
}

HRESULT CTestSourcePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

// ---------------------------------------------------------------------------
// Connection

HRESULT CTestSourcePin::CheckMediaType(const CMediaType* pmt) {
    return *pmt->Type() == MEDIATYPE_Video && *pmt->Subtype() == MEDIASUBTYPE_RGB24 &&
                   *pmt->FormatType() == FORMAT_VideoInfo &&
                   pmt->FormatLength() >= sizeof(VIDEOINFOHEADER)
               ? S_OK
               : S_FALSE;
}

HRESULT CTestSourcePin::GetMediaType(int iPosition, CMediaType* pmt) {
    const SourceOptions& options = m_pSource->Options();
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return S_FALSE;
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = options.frameDuration;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = options.width;
    vih.bmiHeader.biHeight = options.height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 24;
    vih.bmiHeader.biSizeImage = static_cast<DWORD>(((3 * options.width + 3) & ~3) * options.height);
    pmt->InitMediaType();
    pmt->SetType(&MEDIATYPE_Video);
    pmt->SetSubtype(&MEDIASUBTYPE_RGB24);
    pmt->SetFormatType(&FORMAT_VideoInfo);
    pmt->SetSampleSize(vih.bmiHeader.biSizeImage);
    return pmt->SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof(vih)) ? S_OK : E_OUTOFMEMORY;
}

HRESULT CTestSourcePin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) {
    VIDEOINFOHEADER vih{};
    std::memcpy(&vih, m_mt.Format(), sizeof(vih));  // CheckMediaType saw the length
    ALLOCATOR_PROPERTIES request = *pProps;
    request.cBuffers = m_pSource->Options().buffers;
    request.cbBuffer = static_cast<LONG>(vih.bmiHeader.biSizeImage);
    if (request.cbAlign < 1) request.cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer >= request.cbBuffer ? S_OK : E_FAIL;
}

// ---------------------------------------------------------------------------
// Streaming

HRESULT CTestSourcePin::Active() {
    const HRESULT hr = CBaseOutputPin::Active();  // commits the pool
    if (FAILED(hr)) return hr;
    std::lock_guard<std::mutex> lock(m_ThreadLock);
    StartThread();
    return S_OK;
}

HRESULT CTestSourcePin::Inactive() {
    // Decommit first: a thread blocked in GetDeliveryBuffer then fails out.
    const HRESULT hr = CBaseOutputPin::Inactive();
    std::lock_guard<std::mutex> lock(m_ThreadLock);
    StopThread();
    return hr;
}

void CTestSourcePin::StartThread() {
    if (m_Thread.joinable()) return;
    std::lock_guard<std::mutex> lock(m_SeekLock);
    m_bStopThread = false;
    m_Thread = std::thread(&CTestSourcePin::ThreadProc, this, m_llCurrent, m_llStop);
}

void CTestSourcePin::StopThread() {
    if (!m_Thread.joinable()) return;
    m_bStopThread = true;
    m_cvGate.notify_all();
    m_Thread.join();
}

void CTestSourcePin::AllowFrames(int n) {
    {
        std::lock_guard<std::mutex> lock(m_GateLock);
        m_nAllowed += n;
    }
    m_cvGate.notify_all();
}

void CTestSourcePin::ThreadProc(LONGLONG llStart, LONGLONG llStop) {
    const SourceOptions& options = m_pSource->Options();
    const REFERENCE_TIME tFrame = options.frameDuration;
    const LONGLONG lastFrame = std::min<LONGLONG>((llStop + tFrame - 1) / tFrame, options.frames);
    for (LONGLONG frame = llStart / tFrame; frame < lastFrame; ++frame) {
        if (options.gated) {
            std::unique_lock<std::mutex> lock(m_GateLock);
            // Bounded slices: the wait also sees the stop request.
            while (m_nAllowed == 0 && !m_bStopThread) {
                m_cvGate.wait_for(lock, std::chrono::milliseconds(100));
            }
            if (m_bStopThread) return;
            --m_nAllowed;
        }
        if (m_bStopThread) return;
        IMediaSample* pSample = nullptr;
        if (FAILED(GetDeliveryBuffer(&pSample, nullptr, nullptr, 0))) return;
        BYTE* pData = nullptr;
        pSample->GetPointer(&pData);
        const LONG cb = pSample->GetSize();
        std::memset(pData, 0, static_cast<size_t>(cb));
        const uint32_t index = static_cast<uint32_t>(frame);
        std::memcpy(pData, &index, 4);
        // Stream times are relative to the segment start (the seek position).
        REFERENCE_TIME tStart = frame * tFrame - llStart;
        REFERENCE_TIME tStop = tStart + tFrame;
        pSample->SetTime(&tStart, &tStop);
        pSample->SetActualDataLength(cb);
        Deliver(pSample);  // a refused sample is skipped
        pSample->Release();
    }
    if (!m_bStopThread) DeliverEndOfStream();
}

// ---------------------------------------------------------------------------
// Seeking (leaf locks only)

HRESULT CTestSourcePin::IsFormatSupported(const GUID* pFormat) {
    return *pFormat == TIME_FORMAT_MEDIA_TIME ||
                   (*pFormat == TIME_FORMAT_FRAME && m_pSource->Options().offerFrameFormat)
               ? S_OK
               : S_FALSE;
}

HRESULT CTestSourcePin::GetTimeFormat(GUID* pFormat) {
    std::lock_guard<std::mutex> lock(m_SeekLock);
    *pFormat = m_TimeFormat;
    return S_OK;
}

HRESULT CTestSourcePin::SetTimeFormat(const GUID* pFormat) {
    if (IsFormatSupported(pFormat) != S_OK) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_SeekLock);
    m_TimeFormat = *pFormat;
    return S_OK;
}

HRESULT CTestSourcePin::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                          LONGLONG Source, const GUID* pSourceFormat) {
    GUID current;
    GetTimeFormat(&current);
    const GUID target = pTargetFormat ? *pTargetFormat : current;
    const GUID source = pSourceFormat ? *pSourceFormat : current;
    if (IsFormatSupported(&target) != S_OK || IsFormatSupported(&source) != S_OK) {
        return E_INVALIDARG;
    }
    const LONGLONG tFrame = m_pSource->Options().frameDuration;
    const LONGLONG media = source == TIME_FORMAT_FRAME ? Source * tFrame : Source;
    *pTarget = target == TIME_FORMAT_FRAME ? media / tFrame : media;
    return S_OK;
}

void CTestSourcePin::SetStopPositionHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(m_SeekLock);
    m_StopPositionHook = std::move(hook);
}

HRESULT CTestSourcePin::GetStopPosition(LONGLONG* pStop) {
    std::function<void()> hook;
    std::unique_lock<std::mutex> lock(m_SeekLock);
    hook.swap(m_StopPositionHook);
    const LONGLONG media = m_llStop;
    lock.unlock();
    if (hook) hook();
    return ConvertTimeFormat(pStop, nullptr, media, &TIME_FORMAT_MEDIA_TIME);
}

HRESULT CTestSourcePin::GetCurrentPosition(LONGLONG* pCurrent) {
    std::unique_lock<std::mutex> lock(m_SeekLock);
    const LONGLONG media = m_llCurrent;
    lock.unlock();
    return ConvertTimeFormat(pCurrent, nullptr, media, &TIME_FORMAT_MEDIA_TIME);
}

// Absolute positions only: that is all the renderer tests ask for.
HRESULT CTestSourcePin::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                     DWORD dwStopFlags) {
    const DWORD currentMode = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stopMode = dwStopFlags & AM_SEEKING_PositioningBitsMask;
    for (DWORD mode : {currentMode, stopMode}) {
        if (mode != AM_SEEKING_NoPositioning && mode != AM_SEEKING_AbsolutePositioning) {
            return E_NOTIMPL;
        }
    }
    LONGLONG llStart = 0;
    LONGLONG llStop = 0;
    {
        std::lock_guard<std::mutex> lock(m_SeekLock);
        const LONGLONG tScale =
            m_TimeFormat == TIME_FORMAT_FRAME ? m_pSource->Options().frameDuration : 1;
        if (currentMode != AM_SEEKING_NoPositioning) m_llCurrent = *pCurrent * tScale;
        if (stopMode != AM_SEEKING_NoPositioning) m_llStop = *pStop * tScale;
        llStart = m_llCurrent;
        llStop = m_llStop;
    }
    if (currentMode == AM_SEEKING_NoPositioning) return S_OK;

    // Flush downstream and restart delivery at the new position, without
    // the filter lock and the leaf locks.
    std::lock_guard<std::mutex> lock(m_ThreadLock);
    if (!m_Thread.joinable()) return S_OK;  // stopped: the next Pause starts there
    DeliverBeginFlush();
    StopThread();
    DeliverEndFlush();
    DeliverNewSegment(llStart, llStop, 1.0);
    StartThread();
    return S_OK;
}

}  // namespace pelora_test
