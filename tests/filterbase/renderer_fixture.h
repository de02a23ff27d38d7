// Shared set-up of the renderer tests: a video renderer that records what it
// renders, and a small graph (test source -> renderer, an event sink, a
// manual or no clock).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "filterbase/base_video_renderer.h"
#include "filterbase/mem_allocator.h"
#include "filterbase/renderer_input_pin.h"
#include "platform/media/manual_clock.h"
#include "platform/media/media_guids.h"
#include "support/fake_sample.h"
#include "support/live_objects.h"
#include "support/race_loops.h"
#include "support/source_renderer_graph.h"
#include "support/watchdog.h"

namespace pelora_test {

inline constexpr CLSID kClsidTestRenderer = {
    0x3C5E7A90, 0x1B2D, 0x4F6E, {0x80, 0x91, 0xA2, 0xB3, 0xC4, 0xD5, 0xE6, 0xF7}};

constexpr REFERENCE_TIME kMs = 10000;  // 100-ns units per millisecond

// A video renderer that takes the test source's type and counts the samples it renders.
class CTestRenderer : public CBaseVideoRenderer {
public:
    explicit CTestRenderer(HRESULT* phr)
        : CBaseVideoRenderer(kClsidTestRenderer, "Test renderer", nullptr, phr) {}
    ~CTestRenderer() override { ShutdownTimerAndAdvise(); }

    // The source's one type; after RefuseTypes every type is refused.
    HRESULT CheckMediaType(const CMediaType*) override { return m_bRefuseTypes ? S_FALSE : S_OK; }
    void RefuseTypes() { m_bRefuseTypes = true; }

    HRESULT DoRenderSample(IMediaSample*) override {
        m_nRendered.fetch_add(1);
        return S_OK;
    }

    // Runs once on the streaming thread at the next PrepareRender, as it
    // leaves the receive stretch with no lock held.
    void SetPrepareRenderHook(std::function<void()> hook) {
        std::lock_guard<std::mutex> lock(m_HookLock);
        m_PrepareRenderHook = std::move(hook);
    }
    void PrepareRender() override {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(m_HookLock);
            hook.swap(m_PrepareRenderHook);
        }
        if (hook) hook();
    }

    int Rendered() const { return m_nRendered.load(); }

    UINT ArmedTimer() const { return m_EndOfStreamTimer.load(); }
    void SetStreamStart(REFERENCE_TIME t) { m_tStart = t; }
    void ForceEndOfStream(REFERENCE_TIME tSignal) {
        CAutoLock lock(&m_RendererLock);
        m_bEOS = TRUE;
        m_SignalTime = tSignal;
    }
    void SetRenderAvg(LONG tr) {
        CAutoLock lock(&m_InterfaceLock);
        m_trRenderAvg = tr;
    }
    void SetLastDraw(REFERENCE_TIME tr) {
        CAutoLock lock(&m_InterfaceLock);
        m_trLastDraw = tr;
    }

private:
    std::mutex m_HookLock;  // guards m_PrepareRenderHook
    std::function<void()> m_PrepareRenderHook;
    std::atomic<int> m_nRendered{0};
    std::atomic<bool> m_bRefuseTypes{false};
};

// A renderer outside any source graph, streaming on pClock from tStreamStart
// (Run first if bRun), joined to pSink if given. The caller owns one reference.
inline CTestRenderer* StreamingRenderer(IReferenceClock* pClock, REFERENCE_TIME tStreamStart,
                                        CTestEventSink* pSink = nullptr, bool bRun = false) {
    HRESULT hr = S_OK;
    auto* pRenderer = new CTestRenderer(&hr);
    pRenderer->AddRef();
    EXPECT_EQ(hr, S_OK);
    if (pSink) pRenderer->JoinFilterGraph(pSink->Graph(), L"Renderer");
    pRenderer->SetSyncSource(pClock);
    if (bRun) {
        EXPECT_EQ(pRenderer->Run(0), S_OK);
    }
    pRenderer->SetStreamStart(tStreamStart);
    CAutoLock lock(pRenderer->InterfaceLock());
    EXPECT_EQ(pRenderer->StartStreaming(), S_OK);  // resets the averages
    return pRenderer;
}

// Lets the scheduler decide on a sample, under the locks its caller holds.
inline BOOL ScheduleUnderLocks(CTestRenderer* pRenderer, IMediaSample* pSample) {
    CAutoLock ilock(pRenderer->InterfaceLock());
    CAutoLock lock(pRenderer->RendererLock());
    return pRenderer->ScheduleSample(pSample);
}

// Test source -> test renderer, with a manual clock or none.
class RendererGraph : public SourceRendererGraph<CTestRenderer> {
public:
    explicit RendererGraph(const SourceOptions& options) {
        HRESULT hr = S_OK;
        auto* pRenderer = new CTestRenderer(&hr);
        EXPECT_EQ(hr, S_OK);
        m_pClock = new CManualClock(0);
        m_pClock->AddRef();
        Init(pRenderer, options, m_pClock, /*bConnect=*/true);
    }
    ~RendererGraph() { Teardown(); }

    CManualClock* Clock() { return m_pClock; }
    CRendererInputPin* RendererPin() { return Renderer()->InputPin(); }  // made by the connection
    void Teardown() {
        SourceRendererGraph::Teardown();
        if (m_pClock) {
            // Only our reference is left, once an end-of-stream timer callback
            // that has just sent EC_COMPLETE lets go of the renderer.
            EXPECT_TRUE(WaitUntil([this] {
                m_pClock->AddRef();
                return m_pClock->Release() == 1u;
            }));
            EXPECT_EQ(m_pClock->Release(), 0u);
            m_pClock = nullptr;
        }
    }

    // Plays a streaming thread: a pool sample with the given times (null:
    // none) delivered to the renderer's pin on a thread of its own.
    std::future<HRESULT> DeliverAsync(const REFERENCE_TIME* ptStart, const REFERENCE_TIME* ptStop) {
        IMemAllocator* pAlloc = nullptr;
        IMediaSample* pSample = nullptr;
        if (SUCCEEDED(RendererPin()->GetAllocator(&pAlloc))) {
            EXPECT_EQ(pAlloc->GetBuffer(&pSample, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
            pAlloc->Release();
        }
        if (pSample) {
            pSample->SetTime(const_cast<REFERENCE_TIME*>(ptStart),
                             const_cast<REFERENCE_TIME*>(ptStop));
        }
        CRendererInputPin* pPin = RendererPin();
        return std::async(std::launch::async, [pPin, pSample] {
            if (!pSample) return E_FAIL;
            const HRESULT hr = pPin->Receive(pSample);
            pSample->Release();
            return hr;
        });
    }

private:
    CManualClock* m_pClock = nullptr;
};

// A source that delivers only what AllowFrames grants: the test delivers by hand.
inline SourceOptions HandDelivery() { return SourceOptions{.buffers = 4}; }

// As WaitUntil, but yields before it starts sleeping (for the looped races).
inline bool SpinUntil(const std::function<bool()>& pred,
                      std::chrono::milliseconds bound = kWatchdog) {
    for (int i = 0; i < 2000; ++i) {
        if (pred()) return true;
        std::this_thread::yield();
    }
    return WaitUntil(pred, bound);
}

// Waits (bounded) for a future.
template <class T>
bool Finishes(std::future<T>& f, std::chrono::milliseconds bound = kWatchdog) {
    return f.wait_for(bound) == std::future_status::ready;
}

}  // namespace pelora_test
