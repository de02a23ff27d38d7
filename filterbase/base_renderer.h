// filterbase: CBaseRenderer, the generic renderer: a filter with one input
// pin that holds each received sample until its presentation time by the
// graph's reference clock, then has the derived class render it, signals the
// end of the stream to the graph and takes part in state changes and
// flushing.
//
// Contract:
// - Push model, synchronous rendering: the upstream streaming thread that
//   calls IMemInputPin::Receive is the thread that waits for the sample's
//   time and renders it, so at most one sample is pending. The renderer
//   keeps one reference on the pending sample (m_pMediaSample).
// - Threads: the upstream streaming thread (Receive, EndOfStream, and the
//   flush calls, which come on whichever thread flushes), the graph thread
//   (state changes, connection, SetSyncSource, GetState, position and
//   statistics queries), the multimedia timer thread (TimerCallback, the
//   delayed EC_COMPLETE) and the clock's own thread, which only sets
//   m_RenderEvent.
// - Locks: m_InterfaceLock (the filter lock: state changes, connection,
//   pin calls) before m_RendererLock (the pending sample, end-of-stream and
//   streaming state). The streaming thread never holds either while it waits
//   for the render time; m_bInReceive marks the stretch in which it works
//   between them, and Stop and BeginFlush wait for that stretch to end.
// - The timer callback takes m_RendererLock, so the end-of-stream timer is
//   only ever killed with m_RendererLock not held by the caller.
// - Calls out of the filter with both locks held, besides DoRenderSample:
//   the graph's event sink (NotifyEvent); the release of the pending sample
//   (ClearPendingSample from Receive and BeginFlush, and from Stop under the
//   interface lock), whose last reference reaches the allocator's
//   ReleaseBuffer and its IMemAllocatorNotifyCallbackTemp::NotifyRelease; and
//   in the video renderer the upstream pin's QueryInterface for
//   IQualityControl and the quality sink's Notify (SendQuality). Each of
//   these must use leaf locks only and never call back into this filter.
// - Upstream's seeking interface is never called under either lock: the
//   stop position needed at the end of the stream is fetched before the
//   locks are taken (PrefetchEndOfStreamPosition).
// - GetState waits without any filter lock.
// - A derived class supplies CheckMediaType (exactly S_OK accepts) and
//   DoRenderSample (streaming thread, both locks held). Its destructor must
//   call ShutdownTimerAndAdvise() first, so that neither the timer callback
//   nor the clock can reach a half-destroyed object.
// - FindPin answers the pin only for the id "In" (QueryId reports "In"),
//   whatever name the pin has.
#pragma once

#include <atomic>

#include "filterbase/base_filter.h"
#include "filterbase/media_type.h"
#include "filterbase/renderer_pos_pass_thru.h"
#include "platform/media/media_interfaces.h"
#include "platform/win/crit_sec.h"
#include "platform/win/win_sync.h"

class CRendererInputPin;

class CBaseRenderer : public CBaseFilter {
    friend class CRendererInputPin;

public:
    // An event that cannot be created writes E_OUTOFMEMORY to *phr (unless
    // it already holds a failure). A new renderer is stopped and ready.
    CBaseRenderer(REFCLSID RenderClass, const char* pName, IUnknown* pUnk, HRESULT* phr);
    ~CBaseRenderer() override;

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMediaFilter / IBaseFilter (graph thread).
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME StartTime) override;
    // Waits up to dwMSecs for the current transition to complete, without
    // any filter lock; VFW_S_STATE_INTERMEDIATE when it has not.
    HRESULT GetState(DWORD dwMSecs, FILTER_STATE* State) override;
    HRESULT FindPin(LPCWSTR Id, IPin** ppPin) override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;

    // The position object (IMediaPosition/IMediaSeeking), created on first use.
    virtual HRESULT GetMediaPositionInterface(REFIID riid, void** ppv);

    // TRUE lets a streaming thread wait for its render time, FALSE releases
    // a waiting one (Stop, BeginFlush).
    virtual HRESULT SourceThreadCanWait(BOOL bCanWait);
    // Streaming thread, no locks held: waits until the sample is due (S_OK)
    // or a state change or flush releases the thread (VFW_E_STATE_CHANGED).
    virtual HRESULT WaitForRenderTime();
    virtual HRESULT CompleteStateChange(FILTER_STATE OldState);

    // Hooks for derived classes; the base versions do nothing.
    virtual void OnReceiveFirstSample(IMediaSample* pMediaSample);
    virtual void OnRenderStart(IMediaSample* pMediaSample) REQUIRES(m_InterfaceLock);
    virtual void OnRenderEnd(IMediaSample* pMediaSample) REQUIRES(m_InterfaceLock);
    virtual HRESULT OnStartStreaming() REQUIRES(m_InterfaceLock);
    virtual HRESULT OnStopStreaming() REQUIRES(m_InterfaceLock);
    virtual void OnWaitStart();
    virtual void OnWaitEnd();
    virtual void PrepareRender();

    // Under m_RendererLock. Arranges for m_RenderEvent to be set when the
    // sample is due: at once, or by a clock advise. FALSE when the sample
    // cannot be scheduled (it is then dropped).
    virtual BOOL ScheduleSample(IMediaSample* pMediaSample) REQUIRES(m_InterfaceLock);
    // The sample's times, possibly changed by ShouldDrawSampleNow. S_OK:
    // render now; S_FALSE: wait until *pStartTime; a failure drops it.
    virtual HRESULT GetSampleTimes(IMediaSample* pMediaSample, REFERENCE_TIME* pStartTime,
                                   REFERENCE_TIME* pEndTime) REQUIRES(m_InterfaceLock);
    // Called only with a clock. The base always waits (S_FALSE).
    virtual HRESULT ShouldDrawSampleNow(IMediaSample* pMediaSample, REFERENCE_TIME* ptrStartTime,
                                        REFERENCE_TIME* ptrEndTime) REQUIRES(m_InterfaceLock);

    // Under m_RendererLock: sends EC_COMPLETE now or arms the timer for the
    // stop time of the last sample.
    virtual HRESULT SendEndOfStream();
    // Kills the timer and clears the end-of-stream state. m_RendererLock must
    // not be held by the caller.
    virtual HRESULT ResetEndOfStream();
    // Under both locks (from the pin).
    virtual HRESULT EndOfStream();
    // Cancels an outstanding clock advise and resets m_RenderEvent; S_OK if
    // there was an advise, else S_FALSE.
    virtual HRESULT CancelNotification();
    virtual HRESULT ClearPendingSample();

    // Pin activation (graph thread, interface lock held).
    virtual HRESULT Active();
    virtual HRESULT Inactive();

    // Under m_RendererLock (taken here).
    virtual HRESULT StartStreaming() REQUIRES(m_InterfaceLock);
    virtual HRESULT StopStreaming() REQUIRES(m_InterfaceLock);

    // Flushing, from the pin with both locks held.
    virtual HRESULT BeginFlush() REQUIRES(m_InterfaceLock, m_RendererLock);
    virtual HRESULT EndFlush() REQUIRES(m_InterfaceLock, m_RendererLock);

    // Connection, from the pin with the interface lock held.
    virtual HRESULT BreakConnect() REQUIRES(m_InterfaceLock);
    virtual HRESULT SetMediaType(const CMediaType* pmt);
    virtual HRESULT CompleteConnect(IPin* pReceivePin) REQUIRES(m_InterfaceLock);

    // Streaming thread.
    virtual HRESULT PrepareReceive(IMediaSample* pMediaSample);
    virtual HRESULT Receive(IMediaSample* pMediaSample);

    virtual BOOL HaveCurrentSample();
    // The pending sample with a reference for the caller, or null.
    virtual IMediaSample* GetCurrentSample();
    // Both locks held: OnRenderStart, DoRenderSample, OnRenderEnd.
    virtual HRESULT Render(IMediaSample* pMediaSample) REQUIRES(m_InterfaceLock, m_RendererLock);

    virtual HRESULT DoRenderSample(IMediaSample* pMediaSample) = 0;
    virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;

    // State transition completion, read by GetState.
    void Ready() { m_evComplete.Set(); }
    void NotReady() { m_evComplete.Reset(); }
    BOOL CheckReady() { return WaitForSingleObject(m_evComplete, 0) == WAIT_OBJECT_0; }

    void SetRepaintStatus(BOOL bRepaint);
    BOOL GetRepaintStatus();

    // Under m_RendererLock: EC_COMPLETE to the graph (once per run), and the
    // position object moved to the stop position.
    HRESULT NotifyEndOfStream();
    // Timer thread: the end-of-stream timer uID fired.
    void TimerCallback(UINT uID);
    // Kills the end-of-stream timer (m_RendererLock not held by the caller).
    void ResetEndOfStreamTimer();
    // Graph and streaming threads: waits until the streaming thread has left
    // the stretch marked by m_bInReceive.
    void WaitForReceiveToComplete();
    // Kills the end-of-stream timer synchronously and cancels the clock
    // advise; waits for a timer callback in progress. Idempotent; called
    // first by the most-derived destructor, and again by ours.
    void ShutdownTimerAndAdvise();

    BOOL IsEndOfStream();
    BOOL IsEndOfStreamDelivered();
    BOOL IsStreaming() { return m_bStreaming.load(); }
    CCritSec* InterfaceLock() RETURN_CAPABILITY(m_InterfaceLock) { return &m_InterfaceLock; }
    CCritSec* RendererLock() RETURN_CAPABILITY(m_RendererLock) { return &m_RendererLock; }
    CRendererInputPin* InputPin() { return m_pInputPin.load(); }

protected:
    // The upstream stop position in media time, for the position object at
    // the end of the stream. Called without locks just before anything that
    // may deliver EC_COMPLETE, so that NotifyEndOfStream need not call
    // upstream with the renderer lock held.
    void PrefetchEndOfStreamPosition();

    // Created on first request under m_ObjectCreationLock, deleted by the
    // destructor; read without a lock by the streaming thread.
    std::atomic<CRendererPosPassThru*> m_pPosition{nullptr};
    CWinEvent m_RenderEvent{FALSE, FALSE};  // auto-reset: the sample is due
    CWinEvent m_ThreadSignal{TRUE, FALSE};  // manual: release a waiting streaming thread
    CWinEvent m_evComplete{TRUE, TRUE};     // manual: the state transition is complete
    std::atomic<BOOL> m_bStreaming{FALSE};  // written under m_RendererLock
    std::atomic<DWORD_PTR> m_dwAdvise{0};   // outstanding clock advise, 0 if none
    IMediaSample* m_pMediaSample GUARDED_BY(m_RendererLock) =
        nullptr;                                              // one reference; under m_RendererLock
    BOOL m_bEOS GUARDED_BY(m_RendererLock) = FALSE;           // under m_RendererLock
    BOOL m_bEOSDelivered GUARDED_BY(m_RendererLock) = FALSE;  // under m_RendererLock
    // Our pin (created by GetPin, or installed by a derived class before
    // the first GetPin); deleted by our destructor when still set.
    std::atomic<CRendererInputPin*> m_pInputPin{nullptr};
    CCritSec m_InterfaceLock;
    CCritSec m_RendererLock;
    IQualityControl* m_pQSink GUARDED_BY(m_RendererLock) =
        nullptr;                                              // one reference; under m_RendererLock
    BOOL m_bRepaintStatus GUARDED_BY(m_RendererLock) = TRUE;  // under m_RendererLock
    std::atomic<BOOL> m_bInReceive{FALSE};                    // set only under m_InterfaceLock
    REFERENCE_TIME m_SignalTime GUARDED_BY(m_RendererLock) = 0;  // under m_RendererLock
    std::atomic<UINT> m_EndOfStreamTimer{0};                     // changed under m_RendererLock
    CCritSec m_ObjectCreationLock;  // guards creating m_pPosition and m_pInputPin

private:
    static void EndOfStreamTimerProc(UINT uID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dw1,
                                     DWORD_PTR dw2);

    // Upstream stop position fetched by PrefetchEndOfStreamPosition, and
    // whether the position object holds sample times (it refuses the end of
    // the stream while reset). Under m_RendererLock.
    LONGLONG m_llEOSStop GUARDED_BY(m_RendererLock) = 0;
    BOOL m_bEOSStopValid GUARDED_BY(m_RendererLock) = FALSE;
    BOOL m_bPositionHasTime GUARDED_BY(m_RendererLock) = FALSE;
    // Timer callbacks running in this object; the destructor waits for 0.
    std::atomic<int> m_cTimerCallbacks{0};
};
