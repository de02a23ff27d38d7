// filterbase: CBaseVideoRenderer, the renderer base specialised for video:
// per-frame draw / wait / drop decisions, quality messages upstream,
// throttling on request, and playback statistics (IQualProp).
//
// Contract:
// - ShouldDrawSampleNow, SendQuality, OnRenderStart/OnRenderEnd and every
//   statistics update run on the upstream streaming thread (or, for a held
//   sample, on the graph thread in StartStreaming) with m_InterfaceLock and
//   m_RendererLock held; the IQualProp readers take m_InterfaceLock, so the
//   averages and counters below are guarded by m_InterfaceLock.
// - Times named m_tr... are reference-clock times (100 ns); m_t followed by
//   a capital letter are timeGetTime milliseconds. The averages are 32-bit;
//   every intermediate product is computed in 64 bits and clamped when it
//   is narrowed.
// - IQualityControl::Notify takes no lock and only writes m_trThrottle (an
//   atomic), which OnRenderEnd reads once per frame: after each frame the
//   streaming thread sleeps that long (at most 199 ms, with both locks held).
// - SetSink: the stored sink (m_pQSink, guarded by m_RendererLock) always
//   owns exactly one reference; SetSink takes one for the new sink and
//   releases the old one after leaving the lock. BreakConnect and the
//   destructor release it. Without a sink, SendQuality asks the connected
//   upstream pin for IQualityControl and keeps that reference.
// - SendQuality runs with both locks held: the QueryInterface on the
//   upstream pin and the sink's Notify must use leaf locks only and never
//   call back into this filter.
#pragma once

#include <atomic>

#include "filterbase/base_renderer.h"

class CBaseVideoRenderer : public CBaseRenderer, public IQualityControl, public IQualProp {
public:
    CBaseVideoRenderer(REFCLSID RenderClass, const char* pName, IUnknown* pUnk, HRESULT* phr);
    ~CBaseVideoRenderer() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IQualityControl (any thread).
    HRESULT Notify(IBaseFilter* pSelf, Quality q) override;
    HRESULT SetSink(IQualityControl* piqc) override;

    // IQualProp (any thread; under m_InterfaceLock).
    HRESULT get_FramesDroppedInRenderer(int* pcFrames) override;
    HRESULT get_FramesDrawn(int* pcFramesDrawn) override;
    HRESULT get_AvgFrameRate(int* piAvgFrameRate) override;
    HRESULT get_Jitter(int* iJitter) override;
    HRESULT get_AvgSyncOffset(int* piAvg) override;
    HRESULT get_DevSyncOffset(int* piDev) override;

    // IBaseFilter: leaving the graph first reports EC_WINDOW_DESTROYED.
    HRESULT JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;

    // Scheduling (under both locks).
    BOOL ScheduleSample(IMediaSample* pMediaSample) REQUIRES(m_InterfaceLock) override;
    // S_OK draw now, S_FALSE wait until the (possibly moved) *ptrStartTime,
    // E_FAIL drop.
    HRESULT ShouldDrawSampleNow(IMediaSample* pMediaSample, REFERENCE_TIME* ptrStartTime,
                                REFERENCE_TIME* ptrEndTime) REQUIRES(m_InterfaceLock) override;

    void OnRenderStart(IMediaSample* pMediaSample) REQUIRES(m_InterfaceLock) override;
    void OnRenderEnd(IMediaSample* pMediaSample) REQUIRES(m_InterfaceLock) override;
    HRESULT OnStartStreaming() REQUIRES(m_InterfaceLock) override;
    HRESULT OnStopStreaming() REQUIRES(m_InterfaceLock) override;

    virtual void RecordFrameLateness(LONG trLate, LONG trFrame) REQUIRES(m_InterfaceLock);
    // For a derived class that draws outside Render: the render time is
    // unknown, so assume a slow one.
    virtual void OnDirectRender(IMediaSample* pMediaSample) REQUIRES(m_InterfaceLock);
    virtual void ResetStreamingTimes() REQUIRES(m_InterfaceLock);
    // Builds the quality message for this frame and sends it upstream; the
    // sink's answer, or S_FALSE without a sink.
    virtual HRESULT SendQuality(REFERENCE_TIME trLate, REFERENCE_TIME trRealStream)
        REQUIRES(m_InterfaceLock);

    // The throttle (100 ns) that Notify set; for tests and diagnostics.
    LONG Throttle() const { return m_trThrottle.load(); }

protected:
    // Sleeps m_trThrottle after a frame, or yields.
    void ThrottleWait();
    // The standard deviation of the statistics from n samples.
    int GetStdDev(int nSamples, LONGLONG llSumSq, LONGLONG iTot);

    // Under m_InterfaceLock (see the contract), except m_trThrottle.
    int m_nNormal GUARDED_BY(m_InterfaceLock) =
        0;  // frames drawn on time in a row; -1 after a drop
    BOOL m_bSupplierHandlingQuality GUARDED_BY(m_InterfaceLock) = FALSE;
    std::atomic<LONG> m_trThrottle{0};
    LONG m_trRenderAvg GUARDED_BY(m_InterfaceLock) = 0;
    LONG m_trRenderLast GUARDED_BY(m_InterfaceLock) = 0;
    DWORD m_tRenderStart GUARDED_BY(m_InterfaceLock) = 0;
    LONG m_trEarliness GUARDED_BY(m_InterfaceLock) = 0;
    LONG m_trWaitAvg GUARDED_BY(m_InterfaceLock) = 0;
    LONG m_trFrameAvg GUARDED_BY(m_InterfaceLock) = -1;
    LONG m_trDuration GUARDED_BY(m_InterfaceLock) = 0;
    REFERENCE_TIME m_trRememberStampForPerf GUARDED_BY(m_InterfaceLock) = 0;
    int m_cFramesDropped GUARDED_BY(m_InterfaceLock) = 0;
    int m_cFramesDrawn GUARDED_BY(m_InterfaceLock) = 0;
    LONGLONG m_iTotAcc GUARDED_BY(m_InterfaceLock) = 0;
    LONGLONG m_iSumSqAcc GUARDED_BY(m_InterfaceLock) = 0;
    REFERENCE_TIME m_trLastDraw GUARDED_BY(m_InterfaceLock) = 0;
    LONGLONG m_iSumSqFrameTime GUARDED_BY(m_InterfaceLock) = 0;
    LONGLONG m_iSumFrameTime GUARDED_BY(m_InterfaceLock) = 0;
    LONG m_trLate GUARDED_BY(m_InterfaceLock) = 0;
    LONG m_trFrame GUARDED_BY(m_InterfaceLock) = 0;
    DWORD m_tStreamingStart GUARDED_BY(m_InterfaceLock) = 0;
};
