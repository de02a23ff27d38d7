// Test upstream filter: a source with one output pin that stands in for a
// decoder in renderer tests.
//
// - Connection: offers RGB24 VIDEOINFOHEADER types in the order of
//   Options::sizes; takes the input pin's allocator (or, with
//   ownAllocator, a CMemAllocator of its own) with Options::buffers buffers
//   of biSizeImage bytes.
// - Streaming: Pause from stopped starts a streaming thread that delivers
//   Options::frames samples (GetDeliveryBuffer, fill, SetTime,
//   SetActualDataLength, Receive) and then EndOfStream. Each sample's first
//   four bytes hold its frame index. The thread stops on any failure
//   (VFW_E_NOT_COMMITTED after a decommit included) and on Stop; with
//   keepGoingOnFailure a refused sample is skipped instead.
//   With Options::gated the thread delivers only as many samples as
//   AllowFrames granted, so a test decides when each sample arrives.
// - IMediaSeeking on the output pin, as far as a renderer's position object
//   passes it on (formats, stop and current position, SetPositions); the
//   rest answers E_NOTIMPL. SetPositions flushes downstream (BeginFlush,
//   EndFlush, NewSegment) and restarts delivery at the new position when
//   the filter is active.
// - IQualityControl::Notify ignores the message.
// - Locks: the filter lock (m_Lock) for state and connection; leaf locks for
//   seeking (m_SeekLock), never held while calling downstream, so the
//   renderer may call them under its own locks.
//   m_ThreadLock serialises starting and stopping the streaming thread.
// - Stop the renderer before this filter: a thread blocked in the
//   renderer's Receive is released by the renderer, not by us.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "filterbase/base_filter.h"
#include "filterbase/base_output_pin.h"

namespace pelora_test {

struct FrameSize {
    LONG width;
    LONG height;
};

struct SourceOptions {
    std::vector<FrameSize> sizes{{64, 48}};  // offered in this order
    REFERENCE_TIME frameDuration = 400000;   // 40 ms
    int frames = 10;
    bool timeStamps = true;     // false: no time stamps at all
    bool ownAllocator = false;  // do not take the input pin's allocator
    bool offerFrameFormat = false;
    bool gated = false;
    bool keepGoingOnFailure = false;  // a refused sample does not end delivery
    LONG buffers = 2;
};

class CTestSourceFilter;

class CTestSourcePin : public CBaseOutputPin, public IMediaSeeking {
public:
    CTestSourcePin(CTestSourceFilter* pFilter, CCritSec* pLock, HRESULT* phr);
    ~CTestSourcePin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    // IQualityControl
    HRESULT Notify(IBaseFilter*, Quality) override { return S_OK; }

    // IMediaSeeking
    HRESULT GetCapabilities(DWORD*) override { return E_NOTIMPL; }
    HRESULT CheckCapabilities(DWORD*) override { return E_NOTIMPL; }
    HRESULT IsFormatSupported(const GUID* pFormat) override;
    HRESULT QueryPreferredFormat(GUID*) override { return E_NOTIMPL; }
    HRESULT GetTimeFormat(GUID* pFormat) override;
    HRESULT IsUsingTimeFormat(const GUID*) override { return E_NOTIMPL; }
    HRESULT SetTimeFormat(const GUID* pFormat) override;
    HRESULT GetDuration(LONGLONG*) override { return E_NOTIMPL; }
    HRESULT GetStopPosition(LONGLONG* pStop) override;
    HRESULT GetCurrentPosition(LONGLONG* pCurrent) override;
    HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                              const GUID* pSourceFormat) override;
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                         DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    HRESULT GetAvailable(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    HRESULT SetRate(double) override { return E_NOTIMPL; }
    HRESULT GetRate(double*) override { return E_NOTIMPL; }
    HRESULT GetPreroll(LONGLONG*) override { return E_NOTIMPL; }

    // Test controls.
    void AllowFrames(int n);
    int Delivered() const { return m_nDelivered.load(); }
    HRESULT LastReceiveResult() const { return m_hrLastReceive.load(); }
    // Runs once, on the calling thread and with no lock held, the next time
    // GetStopPosition is called (a renderer asks for it before it decides
    // what a refused sample means).
    void SetStopPositionHook(std::function<void()> hook);

private:
    void StartThread();  // m_ThreadLock held
    void StopThread();   // m_ThreadLock held
    void ThreadProc(LONGLONG llStart, LONGLONG llStop);

    CTestSourceFilter* const m_pSource;

    std::mutex m_ThreadLock;  // serialises StartThread/StopThread
    std::thread m_Thread;     // under m_ThreadLock
    std::atomic<bool> m_bStopThread{false};

    std::mutex m_GateLock;  // leaf: guards m_nAllowed
    std::condition_variable m_cvGate;
    int m_nAllowed = 0;

    std::mutex m_SeekLock;     // leaf: guards the seeking fields below
    LONGLONG m_llCurrent = 0;  // media time
    LONGLONG m_llStop = 0;     // media time; set from the options
    GUID m_TimeFormat;

    std::mutex m_HookLock;  // leaf: guards m_StopPositionHook
    std::function<void()> m_StopPositionHook;

    std::atomic<int> m_nDelivered{0};
    std::atomic<HRESULT> m_hrLastReceive{S_OK};
};

class CTestSourceFilter : public CBaseFilter {
public:
    explicit CTestSourceFilter(const SourceOptions& options);
    ~CTestSourceFilter() override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    CTestSourcePin* Pin() { return &m_Pin; }
    const SourceOptions& Options() const { return m_Options; }

private:
    CCritSec m_Lock;
    SourceOptions m_Options;  // fixed after construction
    CTestSourcePin m_Pin;
};

}  // namespace pelora_test
