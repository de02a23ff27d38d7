#include "support/test_source_filter.h"

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
    : CBaseOutputPin("Test source pin", pFilter, pLock, phr, L"Out"), m_pSource(pFilter) {}

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
    m_bStopThread = false;
    m_Thread = std::thread(&CTestSourcePin::ThreadProc, this);
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

void CTestSourcePin::ThreadProc() {
    const REFERENCE_TIME tFrame = m_pSource->Options().frameDuration;
    for (LONGLONG frame = 0;; ++frame) {
        {
            std::unique_lock<std::mutex> lock(m_GateLock);
            // Bounded slices: the wait also sees the stop request.
            while (m_nAllowed == 0 && !m_bStopThread) {
                m_cvGate.wait_for(lock, std::chrono::milliseconds(100));
            }
            if (m_bStopThread) return;
            --m_nAllowed;
        }
        IMediaSample* pSample = nullptr;
        if (FAILED(GetDeliveryBuffer(&pSample, nullptr, nullptr, 0))) return;
        REFERENCE_TIME tStart = frame * tFrame;
        REFERENCE_TIME tStop = tStart + tFrame;
        pSample->SetTime(&tStart, &tStop);
        pSample->SetActualDataLength(pSample->GetSize());
        Deliver(pSample);  // a refused sample is skipped
        pSample->Release();
    }
}

// ---------------------------------------------------------------------------
// Seeking: the stop position hook (a leaf lock only)

void CTestSourcePin::SetStopPositionHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(m_HookLock);
    m_StopPositionHook = std::move(hook);
}

HRESULT CTestSourcePin::GetStopPosition(LONGLONG*) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(m_HookLock);
        hook.swap(m_StopPositionHook);
    }
    if (hook) hook();
    return E_NOTIMPL;  // no stop position: the source delivers what it is allowed
}

}  // namespace pelora_test
