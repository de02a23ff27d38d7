#include "filterbase/base_video_renderer.h"

#include "filterbase/renderer_input_pin.h"
#include "platform/win/int_math.h"
#include "platform/win/time_services.h"

namespace {

// Differences of reference times are clamped to +-50 s when held in 32 bits.
constexpr LONG kMaxTimeDiff = 500000000;
// The monitor bias: frames are scheduled this much early (8 ms).
constexpr REFERENCE_TIME kMonitorBias = 80000;
// A frame is always drawn after this long without a draw (1 s).
constexpr REFERENCE_TIME kMaxNoDraw = 10000000;

LONG Narrow(LONGLONG v) { return ClampToLong(v, kMaxTimeDiff); }

}  // namespace

CBaseVideoRenderer::CBaseVideoRenderer(REFCLSID RenderClass, const char* pName, IUnknown* pUnk,
                                       HRESULT* phr)
    : CBaseRenderer(RenderClass, pName, pUnk, phr) {
    ResetStreamingTimes();
}

CBaseVideoRenderer::~CBaseVideoRenderer() {
    // First, while our overrides are still intact.
    ShutdownTimerAndAdvise();
}

HRESULT CBaseVideoRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IQualityControl) {
        return GetInterface(static_cast<IQualityControl*>(this), ppv);
    }
    if (riid == IID_IQualProp) {
        return GetInterface(static_cast<IQualProp*>(this), ppv);
    }
    return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
}

// ---------------------------------------------------------------------------
// Quality control

HRESULT CBaseVideoRenderer::Notify(IBaseFilter*, Quality q) {
    if (q.Proportion >= 1000) {
        m_trThrottle = 0;
        return S_OK;
    }
    // Below 0 the formula would divide by zero (at -167) or ask for sleeps
    // of up to 39 s per frame; 0 already means "as slow as we go" (199 ms).
    const LONG lProportion = q.Proportion < 0 ? 0 : q.Proportion;
    m_trThrottle = 388880000 / (lProportion + 167) - 330000;
    return S_OK;
}

HRESULT CBaseVideoRenderer::SetSink(IQualityControl* piqc) {
    if (piqc) piqc->AddRef();
    IQualityControl* pOld = nullptr;
    {
        CAutoLock lock(&m_RendererLock);
        pOld = m_pQSink;
        m_pQSink = piqc;
    }
    if (pOld) pOld->Release();
    return S_OK;
}

HRESULT CBaseVideoRenderer::SendQuality(REFERENCE_TIME trLate, REFERENCE_TIME trRealStream) {
    Quality q{};
    const LONGLONG llFrameAvg = m_trFrameAvg;
    const LONGLONG llRenderAvg = m_trRenderAvg;
    const LONGLONG llWaitAvg = m_trWaitAvg;
    q.Type = (llFrameAvg >= 0 && llFrameAvg <= 2 * llRenderAvg) ? Flood : Famine;
    q.TimeStamp = trRealStream;

    LONGLONG llProportion = 1000;
    if (llFrameAvg >= 0) {
        if (trLate > 0) {
            llProportion = 1000 - trLate / 10000;
            if (llProportion < 500) llProportion = 500;
        } else if (llWaitAvg > 20000 && trLate < -20000) {
            if (llWaitAvg >= llFrameAvg) {
                llProportion = 2000;
            } else {
                // Integer division first: the hint is 1000 or 2000.
                llProportion = 1000 * (llFrameAvg / (llFrameAvg + 20000 - llWaitAvg));
                if (llProportion > 2000) llProportion = 2000;
            }
        }
    }
    q.Proportion = static_cast<LONG>(llProportion);
    q.Late = SatAdd64(trLate, llRenderAvg / 2);

    CAutoLock lock(&m_RendererLock);
    if (!m_pQSink) {
        CRendererInputPin* pPin = InputPin();
        IPin* pPeer = pPin ? pPin->GetConnected() : nullptr;
        if (pPeer) {
            // The reference the query returns is the one the sink owns.
            if (FAILED(pPeer->QueryInterface(IID_IQualityControl,
                                             reinterpret_cast<void**>(&m_pQSink)))) {
                m_pQSink = nullptr;
            }
        }
    }
    if (m_pQSink) {
        return m_pQSink->Notify(static_cast<IBaseFilter*>(this), q);
    }
    return S_FALSE;
}

// ---------------------------------------------------------------------------
// Scheduling

BOOL CBaseVideoRenderer::ScheduleSample(IMediaSample* pMediaSample) {
    const BOOL bScheduled = CBaseRenderer::ScheduleSample(pMediaSample);
    if (!bScheduled) {
        ++m_cFramesDropped;
    }
    return bScheduled;
}

HRESULT CBaseVideoRenderer::ShouldDrawSampleNow(IMediaSample* pMediaSample,
                                                REFERENCE_TIME* ptrStartTime,
                                                REFERENCE_TIME* ptrEndTime) {
    // 1. Frames go to the screen a little early to meet the monitor refresh.
    if (*ptrStartTime >= kMonitorBias) {
        *ptrStartTime -= kMonitorBias;
        *ptrEndTime -= kMonitorBias;  // end >= start, so no underflow
    }
    m_trRememberStampForPerf = *ptrStartTime;

    // 2. Where the stream is now, and how late this frame is.
    REFERENCE_TIME tNow = 0;
    m_pClock->GetTime(&tNow);
    const REFERENCE_TIME trRealStream = SatSub64(tNow, m_tStart);
    const LONG trLate = Narrow(SatSub64(trRealStream, *ptrStartTime));

    // 3. Tell upstream; it handles quality when it accepts the message.
    m_bSupplierHandlingQuality = SendQuality(trLate, trRealStream) == S_OK;

    // 4. A changed frame duration restarts the frame average.
    const LONG trDuration = Narrow(SatSub64(*ptrEndTime, *ptrStartTime));
    const LONGLONG llTolerance = m_trDuration / 32;
    if (trDuration > m_trDuration + llTolerance || trDuration < m_trDuration - llTolerance) {
        m_trFrameAvg = trDuration;
        m_trDuration = trDuration;
    }

    // 5.
    const bool bJustDroppedFrame =
        (m_bSupplierHandlingQuality && pMediaSample->IsDiscontinuity() == S_OK) || m_nNormal == -1;

    // 6. How early frames are being played: follows lateness down at once,
    // and relaxes towards 0 by 1/8 per frame.
    if (trLate > 0) {
        m_trEarliness = 0;
    } else if (trLate >= m_trEarliness || bJustDroppedFrame) {
        m_trEarliness = trLate;
    } else {
        m_trEarliness = m_trEarliness - m_trEarliness / 8;
    }

    // 7.
    const LONGLONG llEarly = trLate < 0 ? -static_cast<LONGLONG>(trLate) : 0;
    const LONG trWaitAvg = Narrow((llEarly + 3LL * m_trWaitAvg) / 4);
    LONGLONG llFrame = SatSub64(trRealStream, m_trLastDraw);
    if (llFrame > kMaxNoDraw) llFrame = kMaxNoDraw;
    const LONG trFrame = Narrow(llFrame);

    // 8. Draw, or drop a late frame on a machine that cannot keep up.
    const bool bDraw =
        3LL * m_trRenderAvg <= m_trFrameAvg ||
        (m_bSupplierHandlingQuality ? static_cast<LONGLONG>(trLate) <= 4LL * trDuration
                                    : 2LL * trLate < trDuration) ||
        m_trWaitAvg > 80000 || SatSub64(trRealStream, m_trLastDraw) > kMaxNoDraw;
    if (!bDraw) {
        m_trWaitAvg = trWaitAvg;
        m_nNormal = -1;
        return E_FAIL;
    }

    // 9. Slow-machine mode: draw at once after a drop, or when frames come
    // slower than their duration and this one is not very early.
    bool bPlayASAP = bJustDroppedFrame || (m_trFrameAvg > trDuration + trDuration / 16 &&
                                           static_cast<LONGLONG>(trLate) > -10LL * trDuration);
    if (trLate < -9000000) bPlayASAP = false;
    if (bPlayASAP) {
        m_nNormal = 0;
        m_trWaitAvg = Narrow(3LL * m_trWaitAvg / 4);
        m_trFrameAvg = Narrow((static_cast<LONGLONG>(trFrame) + 3LL * m_trFrameAvg) / 4);
        m_trLate = trLate;
        m_trFrame = trFrame;
        m_trLastDraw = trRealStream;
        if (m_trEarliness > trLate) m_trEarliness = trLate;
        return S_OK;
    }

    // 10. Normal timing: wait for the (earliness-adjusted) start time.
    ++m_nNormal;
    m_trFrameAvg = trDuration;
    *ptrStartTime += m_trEarliness > -m_trFrameAvg ? m_trEarliness : -m_trFrameAvg;
    m_trWaitAvg = trWaitAvg;
    HRESULT hr = S_OK;
    LONG trHeldLate = trLate;
    LONG trHeldFrame = trFrame;
    if (trLate < 0) {
        hr = S_FALSE;
        trHeldFrame = Narrow(SatSub64(*ptrStartTime, m_trLastDraw));
        m_trLastDraw = *ptrStartTime;
        trHeldLate = Narrow(SatSub64(*ptrStartTime, m_trRememberStampForPerf));
    } else {
        m_trLastDraw = trRealStream;
    }
    m_trLate = trHeldLate;
    m_trFrame = trHeldFrame;
    return hr;
}

// ---------------------------------------------------------------------------
// Render timing and statistics

void CBaseVideoRenderer::OnRenderStart(IMediaSample*) {
    RecordFrameLateness(m_trLate, m_trFrame);
    m_tRenderStart = timeGetTime();
}

void CBaseVideoRenderer::OnRenderEnd(IMediaSample*) {
    const LONG tr = ClampToLong(static_cast<LONGLONG>(timeGetTime() - m_tRenderStart) * 10000);
    if (tr < 2LL * m_trRenderAvg || tr < 2LL * m_trRenderLast) {
        m_trRenderAvg = Narrow((static_cast<LONGLONG>(tr) + 3LL * m_trRenderAvg) / 4);
    }
    m_trRenderLast = tr;
    ThrottleWait();
}

void CBaseVideoRenderer::ThrottleWait() {
    const LONG trThrottle = m_trThrottle.load();
    if (trThrottle > 0) {
        Sleep(static_cast<DWORD>(trThrottle / 10000));
    } else {
        Sleep(0);
    }
}

void CBaseVideoRenderer::OnDirectRender(IMediaSample*) {
    m_trRenderAvg = 0;
    m_trRenderLast = 5000000;
    RecordFrameLateness(m_trLate, m_trFrame);
    ThrottleWait();
}

void CBaseVideoRenderer::RecordFrameLateness(LONG trLate, LONG trFrame) {
    LONG tLate = trLate / 10000;
    if (tLate > 1000 || tLate < -1000) {
        if (m_cFramesDrawn <= 1) {
            tLate = 0;
        } else {
            tLate = tLate > 0 ? 1000 : -1000;
        }
    }
    if (m_cFramesDrawn > 1) {
        m_iTotAcc += tLate;
        m_iSumSqAcc += static_cast<LONGLONG>(tLate) * tLate;
    }
    if (m_cFramesDrawn > 2) {
        LONG tFrame = trFrame / 10000;
        if (tFrame > 1000 || tFrame < 0) tFrame = 1000;
        m_iSumSqFrameTime += static_cast<LONGLONG>(tFrame) * tFrame;
        m_iSumFrameTime += tFrame;
    }
    ++m_cFramesDrawn;
}

HRESULT CBaseVideoRenderer::OnStartStreaming() {
    ResetStreamingTimes();
    return S_OK;
}

HRESULT CBaseVideoRenderer::OnStopStreaming() {
    // From now on it holds the length of the streaming period.
    m_tStreamingStart = timeGetTime() - m_tStreamingStart;
    return S_OK;
}

void CBaseVideoRenderer::ResetStreamingTimes() {
    m_trLastDraw = -1000;
    m_tStreamingStart = timeGetTime();
    m_trFrameAvg = -1;
    m_trRenderAvg = 0;
    m_trDuration = 0;
    m_trRenderLast = 0;
    m_trWaitAvg = 0;
    m_tRenderStart = 0;
    m_cFramesDrawn = 0;
    m_cFramesDropped = 0;
    m_iTotAcc = 0;
    m_iSumSqAcc = 0;
    m_iSumSqFrameTime = 0;
    m_trFrame = 0;
    m_trLate = 0;
    m_iSumFrameTime = 0;
    m_nNormal = 0;
    m_trEarliness = 0;
    m_trThrottle = 0;
    m_trRememberStampForPerf = 0;
}

// ---------------------------------------------------------------------------
// IQualProp

HRESULT CBaseVideoRenderer::get_FramesDroppedInRenderer(int* pcFrames) {
    if (!pcFrames) return E_POINTER;
    CAutoLock lock(&m_InterfaceLock);
    *pcFrames = m_cFramesDropped;
    return S_OK;
}

HRESULT CBaseVideoRenderer::get_FramesDrawn(int* pcFramesDrawn) {
    if (!pcFramesDrawn) return E_POINTER;
    CAutoLock lock(&m_InterfaceLock);
    *pcFramesDrawn = m_cFramesDrawn;
    return S_OK;
}

HRESULT CBaseVideoRenderer::get_AvgFrameRate(int* piAvgFrameRate) {
    if (!piAvgFrameRate) return E_POINTER;
    CAutoLock lock(&m_InterfaceLock);
    const DWORD dwElapsed = IsStreaming() ? timeGetTime() - m_tStreamingStart : m_tStreamingStart;
    const int iElapsed = ClampToLong(static_cast<LONGLONG>(dwElapsed));
    // Frames per second times 100, rounded.
    *piAvgFrameRate = iElapsed > 0 ? MulDiv(100000, m_cFramesDrawn, iElapsed) : 0;
    return S_OK;
}

HRESULT CBaseVideoRenderer::get_AvgSyncOffset(int* piAvg) {
    if (!piAvg) return E_POINTER;
    CAutoLock lock(&m_InterfaceLock);
    if (!m_pClock || m_cFramesDrawn <= 1) {
        *piAvg = 0;
    } else {
        *piAvg = ClampToLong(m_iTotAcc / (m_cFramesDrawn - 1));
    }
    return S_OK;
}

int CBaseVideoRenderer::GetStdDev(int nSamples, LONGLONG llSumSq, LONGLONG iTot) {
    if (!m_pClock || nSamples <= 1) return 0;
    // sum of squares - total^2 / n, with the square in 128 bits.
    const LONGLONG x = SatSub64(llSumSq, MulDiv64(iTot, iTot, nSamples)) / (nSamples - 1);
    return isqrt(x);
}

HRESULT CBaseVideoRenderer::get_DevSyncOffset(int* piDev) {
    if (!piDev) return E_POINTER;
    CAutoLock lock(&m_InterfaceLock);
    *piDev = GetStdDev(m_cFramesDrawn - 1, m_iSumSqAcc, m_iTotAcc);
    return S_OK;
}

HRESULT CBaseVideoRenderer::get_Jitter(int* iJitter) {
    if (!iJitter) return E_POINTER;
    CAutoLock lock(&m_InterfaceLock);
    *iJitter = GetStdDev(m_cFramesDrawn - 2, m_iSumSqFrameTime, m_iSumFrameTime);
    return S_OK;
}

// ---------------------------------------------------------------------------

HRESULT CBaseVideoRenderer::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    CAutoLock lock(&m_InterfaceLock);
    if (!pGraph && GetFilterGraph()) {
        NotifyEvent(EC_WINDOW_DESTROYED,
                    reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)), 0);
    }
    return CBaseRenderer::JoinFilterGraph(pGraph, pName);
}
