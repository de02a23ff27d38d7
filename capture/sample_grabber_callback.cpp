#include "capture/sample_grabber_callback.h"

#include <cstring>
#include <limits>
#include <new>

#include "capture/print_sink.h"
#include "platform/media/sample_capture_time.h"
#include "platform/win/time_services.h"

SampleGrabberCallback::SampleGrabberCallback()
    : m_hFrameEvent(CreateEvent(nullptr, TRUE, FALSE, nullptr)) {}

SampleGrabberCallback::~SampleGrabberCallback() {
    if (m_hFrameEvent) CloseHandle(m_hFrameEvent);
}

bool SampleGrabberCallback::allocateBuffer(uint32_t size) {
    CStdMutexLock lock(&m_lock);
    if (m_bBufferReady.load() || size == 0) return false;
    m_pFrameStore.reset(new (std::nothrow) uint8_t[size]);
    if (!m_pFrameStore) return false;
    m_bFrameWaiting = false;
    m_nLatestLength.store(0);
    // The store exists before the size is published: SampleCB stores only
    // once it sees a non-zero size.
    m_nBufferSize.store(size);
    m_bBufferReady.store(true);
    return true;
}

HRESULT SampleGrabberCallback::QueryInterface(REFIID, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = static_cast<ISampleGrabberCB*>(this);
    return S_OK;
}

HRESULT SampleGrabberCallback::SampleCB(double, IMediaSample* pSample) {
    // A stored frame still waits: drop this one unread.
    if (WaitForSingleObject(m_hFrameEvent, 0) == WAIT_OBJECT_0) return S_OK;
    BYTE* samplePtr = nullptr;
    if (!pSample || pSample->GetPointer(&samplePtr) != S_OK || !samplePtr) return S_OK;
    const LONG actual = pSample->GetActualDataLength();
    const uint32_t latest = actual < 0 ? 0 : static_cast<uint32_t>(actual);
    m_nLatestLength.store(latest);
    const uint32_t expected = m_nBufferSize.load();
    if (expected != 0 && latest == expected) {
        LONGLONG llCapture = 0;
        ISampleCaptureTime* pTime = nullptr;
        if (SUCCEEDED(pSample->QueryInterface(IID_ISampleCaptureTime,
                                              reinterpret_cast<void**>(&pTime)))) {
            if (pTime->GetCaptureTime(&llCapture) != S_OK) llCapture = 0;
            pTime->Release();
        }
        if (llCapture == 0) {
            LARGE_INTEGER liNow{};
            QueryPerformanceCounter(&liNow);
            llCapture = liNow.QuadPart;
        }
        {
            CStdMutexLock lock(&m_lock);
            std::memcpy(m_pFrameStore.get(), samplePtr, latest);
            m_llFrameCapture = llCapture;
            m_bFrameWaiting = true;
            m_nPollsSinceFrame = 1;
        }
        SetEvent(m_hFrameEvent);
    } else {
        // Printed whatever `verbose` says: frames are being lost.
        capturePrint("ERROR: SampleCB() - buffer sizes do not match\n");
    }
    return S_OK;
}

HRESULT SampleGrabberCallback::BufferCB(double, BYTE*, LONG) { return E_NOTIMPL; }

bool SampleGrabberCallback::poll(uint32_t* pSilentPolls) {
    CStdMutexLock lock(&m_lock);
    const bool waiting = m_bFrameWaiting;
    *pSilentPolls = waiting ? 0 : m_nPollsSinceFrame;
    if (m_nPollsSinceFrame != std::numeric_limits<uint32_t>::max()) ++m_nPollsSinceFrame;
    return waiting;
}

bool SampleGrabberCallback::waitForFrame(uint32_t ms) {
    return WaitForSingleObject(m_hFrameEvent, ms) == WAIT_OBJECT_0;
}

void SampleGrabberCallback::wake() { SetEvent(m_hFrameEvent); }
