// capture: SampleGrabberCallback, the frame receiver of one device record.
//
// The grabber calls SampleCB on the capture streaming thread for every
// sample. The callback keeps at most one frame: a sample of exactly the
// frame size is copied into the frame store only while no stored frame is
// waiting, and frameEvent is signalled from the moment a frame is stored
// until the consumer has taken it. So a consumer always receives the first
// frame that arrived after its previous take, not the newest one.
//
// Threads: SampleCB on the streaming thread; everything else on the
// consumer's or the set-up thread. m_lock guards the frame store,
// m_bFrameWaiting and m_nPollsSinceFrame; it is never held while waiting
// (the consumer waits on the event before taking it, SampleCB tests the
// event before taking it and signals it after leaving it).
//
// Lifetime: owned by its device record. AddRef/Release count nothing; the
// record destroys the callback only after the grabber has let go of it
// (SetCallback(null) waits for a running SampleCB) or never had it.
// May include: the C++ standard library, platform/. No Qt.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/media/capture_interfaces.h"
#include "platform/win/std_mutex.h"
#include "platform/win/win_sync.h"

class SampleGrabberCallback final : public ISampleGrabberCB {
public:
    SampleGrabberCallback();
    ~SampleGrabberCallback();
    SampleGrabberCallback(const SampleGrabberCallback&) = delete;
    SampleGrabberCallback& operator=(const SampleGrabberCallback&) = delete;

    // Set-up thread, once, when the frame size is fixed. False (and nothing
    // changed) when the store already exists or cannot be allocated.
    bool allocateBuffer(uint32_t size);

    // Every interface id answers this object, without a reference.
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 2; }
    // Streaming thread. Always S_OK.
    HRESULT SampleCB(double sampleTime, IMediaSample* pSample) override;
    HRESULT BufferCB(double sampleTime, BYTE* pBuffer, LONG bufferLen) override;

    // Consumer thread: one poll. Answers whether a frame waits, and in
    // *pSilentPolls the polls since the last stored frame before this one
    // (0 while a frame waits: a waiting frame is never "silence"). The
    // count saturates instead of wrapping.
    bool poll(uint32_t* pSilentPolls);

    // Consumer thread: waits up to ms for a stored frame; true when one
    // waits. Returns early (true) when wake() was called; the caller then
    // checks whether its record was closed.
    bool waitForFrame(uint32_t ms);

    // Consumer thread, after waitForFrame: hands the stored frame to
    // consume (under m_lock), marks it taken and resets the event. False
    // when no frame was waiting. *pllCapture (when not null) receives the
    // frame's capture time (performance-counter count).
    template <class F>
    bool takeFrame(F&& consume, LONGLONG* pllCapture = nullptr) {
        {
            CStdMutexLock lock(&m_lock);
            if (!m_bFrameWaiting || !m_pFrameStore) return false;
            consume(static_cast<const uint8_t*>(m_pFrameStore.get()));
            if (pllCapture) *pllCapture = m_llFrameCapture;
            m_bFrameWaiting = false;
        }
        ResetEvent(m_hFrameEvent);
        return true;
    }

    // Close: wakes a consumer waiting in waitForFrame.
    void wake();

private:
    std::atomic<uint32_t> m_nLatestLength{0};  // length of the last sample seen
    std::atomic<uint32_t> m_nBufferSize{0};    // 0 until allocateBuffer
    std::atomic<bool> m_bBufferReady{false};

    CStdMutex m_lock;  // guards the four fields below
    bool m_bFrameWaiting GUARDED_BY(m_lock) = false;
    // The stored frame's capture time: what its sample says
    // (ISampleCaptureTime), else when SampleCB stored it.
    LONGLONG m_llFrameCapture GUARDED_BY(m_lock) = 0;
    uint32_t m_nPollsSinceFrame GUARDED_BY(m_lock) = 0;
    std::unique_ptr<uint8_t[]> m_pFrameStore GUARDED_BY(m_lock);

    HANDLE m_hFrameEvent;  // manual reset; signalled while a stored frame waits
};
