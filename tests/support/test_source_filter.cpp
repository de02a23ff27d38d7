#include "support/test_source_filter.h"

#include <chrono>
#include <cstring>

#include "platform/media/media_guids.h"

namespace pelora_test {

namespace {

// {6A0C1D2E-8B3F-4E5A-9C71-2D4F6B8A0E13}
constexpr CLSID CLSID_TestSource = {
    0x6A0C1D2E, 0x8B3F, 0x4E5A, {0x9C, 0x71, 0x2D, 0x4F, 0x6B, 0x8A, 0x0E, 0x13}};

LONG ImageSize(const FrameSize& size) {
    const LONG stride = (3 * size.width + 3) & ~3;
    return stride * size.height;
}

}  // namespace

// ---------------------------------------------------------------------------
// Filter

CTestSourceFilter::CTestSourceFilter(const SourceOptions& options)
    : CBaseFilter("Test source", nullptr, &m_Lock, CLSID_TestSource),
      m_Options(options),
      m_Pin(this, &m_Lock, nullptr) {}

CTestSourceFilter::~CTestSourceFilter() = default;

CBasePin* CTestSourceFilter::GetPin(int n) { return n == 0 ? &m_Pin : nullptr; }

// ---------------------------------------------------------------------------
// Pin: connection

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

HRESULT CTestSourcePin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (*pmt->Type() != MEDIATYPE_Video || *pmt->Subtype() != MEDIASUBTYPE_RGB24 ||
        *pmt->FormatType() != FORMAT_VideoInfo || pmt->FormatLength() < sizeof(VIDEOINFOHEADER)) {
        return S_FALSE;
    }
    return S_OK;
}

HRESULT CTestSourcePin::GetMediaType(int iPosition, CMediaType* pmt) {
    const std::vector<FrameSize>& sizes = m_pSource->Options().sizes;
    if (iPosition < 0) return E_INVALIDARG;
    if (static_cast<size_t>(iPosition) >= sizes.size()) return S_FALSE;
    const FrameSize& size = sizes[static_cast<size_t>(iPosition)];
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = m_pSource->Options().frameDuration;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = size.width;
    vih.bmiHeader.biHeight = size.height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 24;
    vih.bmiHeader.biCompression = 0;
    vih.bmiHeader.biSizeImage = static_cast<DWORD>(ImageSize(size));
    pmt->InitMediaType();
    pmt->SetType(&MEDIATYPE_Video);
    pmt->SetSubtype(&MEDIASUBTYPE_RGB24);
    pmt->SetFormatType(&FORMAT_VideoInfo);
    pmt->SetSampleSize(vih.bmiHeader.biSizeImage);
    if (!pmt->SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof(vih))) return E_OUTOFMEMORY;
    return S_OK;
}

HRESULT CTestSourcePin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) {
    LONG cbImage = 0;
    if (m_mt.FormatLength() >= sizeof(VIDEOINFOHEADER)) {
        VIDEOINFOHEADER vih{};
        std::memcpy(&vih, m_mt.Format(), sizeof(vih));
        cbImage = static_cast<LONG>(vih.bmiHeader.biSizeImage);
    }
    ALLOCATOR_PROPERTIES request = *pProps;
    request.cBuffers = m_pSource->Options().buffers;
    request.cbBuffer = cbImage > 0 ? cbImage : 4;
    if (request.cbAlign < 1) request.cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer >= request.cbBuffer ? S_OK : E_FAIL;
}

HRESULT CTestSourcePin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
    if (!m_pSource->Options().ownAllocator) return CBaseOutputPin::DecideAllocator(pPin, ppAlloc);
    if (*ppAlloc) {
        (*ppAlloc)->Release();
        *ppAlloc = nullptr;
    }
    ALLOCATOR_PROPERTIES prop{};
    prop.cbAlign = 1;
    HRESULT hr = InitAllocator(ppAlloc);
    if (SUCCEEDED(hr)) hr = DecideBufferSize(*ppAlloc, &prop);
    if (SUCCEEDED(hr)) hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
    if (FAILED(hr) && *ppAlloc) {
        (*ppAlloc)->Release();
        *ppAlloc = nullptr;
    }
    return hr;
}

// ---------------------------------------------------------------------------
// Pin: streaming

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
    LONGLONG llStart = 0;
    LONGLONG llStop = 0;
    {
        std::lock_guard<std::mutex> lock(m_SeekLock);
        llStart = m_llCurrent;
        llStop = m_llStop;
    }
    m_bStopThread = false;
    m_Thread = std::thread([this, llStart, llStop] { ThreadProc(llStart, llStop); });
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
    const LONGLONG firstFrame = tFrame > 0 ? llStart / tFrame : 0;
    const LONGLONG lastFrame = tFrame > 0 ? (llStop + tFrame - 1) / tFrame : options.frames;
    bool bFailed = false;
    for (LONGLONG frame = firstFrame; frame < lastFrame && frame < options.frames; ++frame) {
        if (options.gated) {
            std::unique_lock<std::mutex> lock(m_GateLock);
            // Bounded slices: the wait also sees the stop request.
            while (m_nAllowed == 0 && !m_bStopThread) {
                m_cvGate.wait_for(lock, std::chrono::milliseconds(100));
            }
            if (m_bStopThread) break;
            --m_nAllowed;
        }
        if (m_bStopThread) break;
        IMediaSample* pSample = nullptr;
        HRESULT hr = GetDeliveryBuffer(&pSample, nullptr, nullptr, 0);
        if (FAILED(hr)) {
            bFailed = true;
            break;
        }
        BYTE* pData = nullptr;
        pSample->GetPointer(&pData);
        const LONG cb = pSample->GetSize();
        std::memset(pData, 0, static_cast<size_t>(cb));
        const uint32_t index = static_cast<uint32_t>(frame);
        if (cb >= 4) std::memcpy(pData, &index, 4);
        // Stream times are relative to the segment start (the seek position).
        REFERENCE_TIME tStart = frame * tFrame - llStart;
        REFERENCE_TIME tStop = tStart + tFrame;
        if (options.timeStamps) {
            pSample->SetTime(&tStart, &tStop);
        } else {
            pSample->SetTime(nullptr, nullptr);
        }
        pSample->SetActualDataLength(cb);
        hr = Deliver(pSample);
        pSample->Release();
        m_hrLastReceive = hr;
        if (FAILED(hr)) {
            if (options.keepGoingOnFailure) continue;
            bFailed = true;
            break;
        }
        m_nDelivered.fetch_add(1);
    }
    if (!bFailed && !m_bStopThread) DeliverEndOfStream();
}

// ---------------------------------------------------------------------------
// Pin: seeking (leaf lock only)

HRESULT CTestSourcePin::IsFormatSupported(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    if (*pFormat == TIME_FORMAT_MEDIA_TIME) return S_OK;
    if (*pFormat == TIME_FORMAT_FRAME && m_pSource->Options().offerFrameFormat) return S_OK;
    return S_FALSE;
}

HRESULT CTestSourcePin::GetTimeFormat(GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_SeekLock);
    *pFormat = m_TimeFormat;
    return S_OK;
}

HRESULT CTestSourcePin::SetTimeFormat(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    if (IsFormatSupported(pFormat) != S_OK) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_SeekLock);
    m_TimeFormat = *pFormat;
    return S_OK;
}

HRESULT CTestSourcePin::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                          LONGLONG Source, const GUID* pSourceFormat) {
    if (!pTarget) return E_POINTER;
    GUID current;
    GetTimeFormat(&current);
    const GUID target = pTargetFormat ? *pTargetFormat : current;
    const GUID source = pSourceFormat ? *pSourceFormat : current;
    if (IsFormatSupported(&target) != S_OK || IsFormatSupported(&source) != S_OK) {
        return E_INVALIDARG;
    }
    const LONGLONG tFrame = m_pSource->Options().frameDuration;
    LONGLONG media = source == TIME_FORMAT_FRAME ? Source * tFrame : Source;
    *pTarget = target == TIME_FORMAT_FRAME ? (tFrame > 0 ? media / tFrame : 0) : media;
    return S_OK;
}

void CTestSourcePin::SetStopPositionHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(m_HookLock);
    m_StopPositionHook = std::move(hook);
}

HRESULT CTestSourcePin::GetStopPosition(LONGLONG* pStop) {
    if (!pStop) return E_POINTER;
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(m_HookLock);
        hook.swap(m_StopPositionHook);
    }
    if (hook) hook();
    LONGLONG media = 0;
    {
        std::lock_guard<std::mutex> lock(m_SeekLock);
        media = m_llStop;
    }
    return ConvertTimeFormat(pStop, nullptr, media, &TIME_FORMAT_MEDIA_TIME);
}

HRESULT CTestSourcePin::GetCurrentPosition(LONGLONG* pCurrent) {
    if (!pCurrent) return E_POINTER;
    LONGLONG media = 0;
    {
        std::lock_guard<std::mutex> lock(m_SeekLock);
        media = m_llCurrent;
    }
    return ConvertTimeFormat(pCurrent, nullptr, media, &TIME_FORMAT_MEDIA_TIME);
}

HRESULT CTestSourcePin::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                     DWORD dwStopFlags) {
    const DWORD currentMode = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stopMode = dwStopFlags & AM_SEEKING_PositioningBitsMask;
    if ((currentMode != AM_SEEKING_NoPositioning && !pCurrent) ||
        (stopMode != AM_SEEKING_NoPositioning && !pStop)) {
        return E_POINTER;
    }
    LONGLONG llStart = 0;
    LONGLONG llStop = 0;
    {
        std::lock_guard<std::mutex> lock(m_SeekLock);
        const LONGLONG tFrame = m_pSource->Options().frameDuration;
        auto toMedia = [&](LONGLONG v) {
            return m_TimeFormat == TIME_FORMAT_FRAME ? v * tFrame : v;
        };
        if (currentMode == AM_SEEKING_AbsolutePositioning) {
            m_llCurrent = toMedia(*pCurrent);
        } else if (currentMode == AM_SEEKING_RelativePositioning) {
            m_llCurrent += toMedia(*pCurrent);
        }
        if (stopMode == AM_SEEKING_AbsolutePositioning) {
            m_llStop = toMedia(*pStop);
        } else if (stopMode == AM_SEEKING_RelativePositioning) {
            m_llStop += toMedia(*pStop);
        }
        llStart = m_llCurrent;
        llStop = m_llStop;
    }
    if (currentMode == AM_SEEKING_NoPositioning) return S_OK;

    // Flush downstream and restart delivery at the new position. Called
    // without the filter lock and without the leaf locks.
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
