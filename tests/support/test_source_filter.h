// Test upstream filter standing in for a decoder: one output pin offering
// one RGB24 VIDEOINFOHEADER type, taking the input pin's allocator.
// - Pause from stopped starts a streaming thread that delivers as many
//   time-stamped samples (frame n at n x frameDuration) as AllowFrames
//   granted. A refused sample is skipped; the thread ends on Stop and when
//   it gets no buffer (VFW_E_NOT_COMMITTED after a decommit).
// - IMediaSeeking only for the stop position a renderer asks for at the end
//   of a stream, with a hook that runs inside that call.
// - Locks: the filter lock for state and connection; leaf locks for the
//   gate and the hook, never held while calling downstream. Stop the
//   renderer first: it releases a thread blocked in its Receive.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "filterbase/base_filter.h"
#include "filterbase/base_output_pin.h"

namespace pelora_test {

struct SourceOptions {
    LONG width = 64;  // the one type offered: RGB24 of this size
    LONG height = 48;
    REFERENCE_TIME frameDuration = 400000;  // 40 ms
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
    HRESULT Active() override;
    HRESULT Inactive() override;

    // IQualityControl
    HRESULT Notify(IBaseFilter*, Quality) override { return S_OK; }

    // IMediaSeeking
    HRESULT GetCapabilities(DWORD*) override { return E_NOTIMPL; }
    HRESULT CheckCapabilities(DWORD*) override { return E_NOTIMPL; }
    HRESULT IsFormatSupported(const GUID*) override { return E_NOTIMPL; }
    HRESULT QueryPreferredFormat(GUID*) override { return E_NOTIMPL; }
    HRESULT GetTimeFormat(GUID*) override { return E_NOTIMPL; }
    HRESULT IsUsingTimeFormat(const GUID*) override { return E_NOTIMPL; }
    HRESULT SetTimeFormat(const GUID*) override { return E_NOTIMPL; }
    HRESULT GetDuration(LONGLONG*) override { return E_NOTIMPL; }
    HRESULT GetStopPosition(LONGLONG* pStop) override;
    HRESULT GetCurrentPosition(LONGLONG*) override { return E_NOTIMPL; }
    HRESULT ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override {
        return E_NOTIMPL;
    }
    HRESULT SetPositions(LONGLONG*, DWORD, LONGLONG*, DWORD) override { return E_NOTIMPL; }
    HRESULT GetPositions(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    HRESULT GetAvailable(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    HRESULT SetRate(double) override { return E_NOTIMPL; }
    HRESULT GetRate(double*) override { return E_NOTIMPL; }
    HRESULT GetPreroll(LONGLONG*) override { return E_NOTIMPL; }

    void AllowFrames(int n);
    // Runs once, on the calling thread and with no lock held, at the next
    // GetStopPosition (a renderer asks before it decides what a refused
    // sample means).
    void SetStopPositionHook(std::function<void()> hook);

private:
    void StartThread();  // m_ThreadLock held
    void StopThread();   // m_ThreadLock held
    void ThreadProc();

    CTestSourceFilter* const m_pSource;

    std::mutex m_ThreadLock;  // serialises StartThread/StopThread
    std::thread m_Thread;     // under m_ThreadLock
    std::atomic<bool> m_bStopThread{false};

    std::mutex m_GateLock;  // leaf: guards m_nAllowed
    std::condition_variable m_cvGate;
    int m_nAllowed = 0;

    std::mutex m_HookLock;  // leaf: guards m_StopPositionHook
    std::function<void()> m_StopPositionHook;
};

class CTestSourceFilter : public CBaseFilter {
public:
    explicit CTestSourceFilter(const SourceOptions& options);

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_Pin : nullptr; }
    CTestSourcePin* Pin() { return &m_Pin; }
    const SourceOptions& Options() const { return m_Options; }

private:
    CCritSec m_Lock;
    SourceOptions m_Options;  // fixed after construction
    CTestSourcePin m_Pin;
};

}  // namespace pelora_test
