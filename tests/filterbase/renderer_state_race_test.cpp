// State changes racing the streaming and timer threads, looped: nothing may
// deadlock, strand a thread, render after Stop, deliver EC_COMPLETE after
// Stop, or run a callback on a destroyed renderer.
#include "platform/win/mm_timer.h"
#include "renderer_fixture.h"

namespace pelora_test {
namespace {

class RendererStateRaces : public LiveObjectsTest {};

// Lets the other thread run for a while: 0 to 3 yields by round.
void Jitter(int round) {
    for (int i = 0; i < round % 4; ++i) std::this_thread::yield();
}

// The pause completes (its first sample was accepted) within the watchdog.
HRESULT PauseCompletes(RendererGraph& g) {
    FILTER_STATE fs = State_Stopped;
    return g.Renderer()->GetState(static_cast<DWORD>(kWatchdog.count()), &fs);
}

// Creates the renderer's position object, which asks upstream for the stop.
CComRef<IMediaSeeking> Seeking(RendererGraph& g) {
    CComRef<IMediaSeeking> p;
    EXPECT_EQ(
        g.Renderer()->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(p.Receive())),
        S_OK);
    return p;
}

// Arms the end-of-stream timer for a stream that ends at tEnd; returns its id.
UINT ArmEndOfStream(CTestRenderer* pRenderer, REFERENCE_TIME tEnd) {
    pRenderer->ForceEndOfStream(tEnd);
    pRenderer->SendEndOfStream();
    return pRenderer->ArmedTimer();
}

TEST_F(RendererStateRaces, StopDuringTheRenderWaitReturnsPromptlyAndRendersNothing) {
    RendererGraph g(HandDelivery());
    const int loops = RaceLoops(2000);
    for (int i = 0; i < loops; ++i) {
        g.Pause();
        g.Run(g.Clock()->Now());
        const REFERENCE_TIME tStart = 10000000, tStop = tStart + 400000;  // 1 s ahead
        auto receive = g.DeliverAsync(&tStart, &tStop);
        if (i % 2 == 0) {
            // Half the rounds stop only once the thread waits for the clock.
            ASSERT_TRUE(SpinUntil([&] { return g.Clock()->PendingAdvises() == 1; }));
        } else {
            Jitter(i);
        }
        auto stop = std::async(std::launch::async, [&] { return g.Renderer()->Stop(); });
        ASSERT_TRUE(Finishes(stop)) << "round " << i;
        ASSERT_TRUE(Finishes(receive)) << "round " << i;
        // S_OK when the wait was cut short; E_FAIL when the sample came after Stop.
        const HRESULT hr = receive.get();
        ASSERT_TRUE(hr == S_OK || hr == E_FAIL) << std::hex << hr;
        ASSERT_EQ(g.Clock()->PendingAdvises(), 0) << "round " << i;
        EXPECT_TRUE(SUCCEEDED(g.Source()->Stop()));
    }
    EXPECT_EQ(g.Renderer()->Rendered(), 0);
    EXPECT_EQ(g.Sink().Count(EC_ERRORABORT), 0);
}

// The window a looped flush hits only now and then, forced: the first sample
// of a pause was accepted, and the streaming thread is between the receive
// stretch and retaking the filter lock when a whole flush runs.
TEST_F(RendererStateRaces, FlushInsideThePausedHandOverStrandsNoStreamingThread) {
    RendererGraph g(HandDelivery());
    std::atomic<bool> bInGap{false}, bLockHeld{false};
    g.Renderer()->SetPrepareRenderHook([&] {
        bInGap = true;
        SpinUntil([&] { return bLockHeld.load(); });
    });
    g.Pause();
    g.SourcePin()->AllowFrames(1);
    ASSERT_TRUE(SpinUntil([&] { return bInGap.load(); }));
    {
        CAutoLock lock(g.Renderer()->InterfaceLock());
        bLockHeld = true;
        ASSERT_EQ(g.RendererPin()->BeginFlush(), S_OK);
        ASSERT_EQ(g.RendererPin()->EndFlush(), S_OK);
    }
    // The flushed sample is gone; the thread must not wait for it.
    g.SourcePin()->AllowFrames(1);
    ASSERT_TRUE(SpinUntil([&] { return g.Renderer()->HaveCurrentSample() != FALSE; }))
        << "the streaming thread did not come back";
    EXPECT_EQ(PauseCompletes(g), S_OK);
}

// The other window, forced: a sample is refused because the pin is flushing,
// and the flush ends before the pin decides whether the refusal was a
// run-time error. Taken for one, every later sample would be refused.
TEST_F(RendererStateRaces, SampleRefusedByAFlushThatEndsBeforeTheErrorCheckIsNoError) {
    RendererGraph g(HandDelivery());
    const CComRef<IMediaSeeking> pSeeking = Seeking(g);
    std::atomic<bool> bInGap{false}, bFlushEnded{false};
    g.Pause();
    ASSERT_EQ(g.RendererPin()->BeginFlush(), S_OK);
    // The pin fetches the stop position between the refusal and its check.
    g.SourcePin()->SetStopPositionHook([&] {
        bInGap = true;
        SpinUntil([&] { return bFlushEnded.load(); });
    });
    g.SourcePin()->AllowFrames(1);
    ASSERT_TRUE(SpinUntil([&] { return bInGap.load(); }));
    ASSERT_EQ(g.RendererPin()->EndFlush(), S_OK);
    bFlushEnded = true;
    g.SourcePin()->AllowFrames(1);
    EXPECT_TRUE(SpinUntil([&] { return g.Renderer()->HaveCurrentSample() != FALSE; }))
        << "the sample after the flush was refused";
    EXPECT_EQ(g.Sink().Count(EC_ERRORABORT), 0);
    EXPECT_EQ(PauseCompletes(g), S_OK);
}

TEST_F(RendererStateRaces, StopRacingTheEndOfStreamCallbackNeverCompletesAfterStop) {
    RendererGraph g(HandDelivery());
    const int loops = RaceLoops(2000);
    for (int i = 0; i < loops; ++i) {
        g.Pause();
        g.Run(g.Clock()->Now());
        const UINT uTimer = ArmEndOfStream(g.Renderer(), 60 * kMs);
        ASSERT_NE(uTimer, 0u);
        // The thread below plays the timer's firing, at a moment of our choosing.
        ASSERT_EQ(timeKillEvent(uTimer), TIMERR_NOERROR);
        g.Clock()->Advance(60 * kMs);  // the end is due when the callback runs
        const int before = g.Sink().Count(EC_COMPLETE);
        auto callback = std::async(std::launch::async, [&] {
            Jitter(i + 1);
            g.Renderer()->TimerCallback(uTimer);
        });
        Jitter(i);
        auto stop = std::async(std::launch::async, [&] { return g.Renderer()->Stop(); });
        ASSERT_TRUE(Finishes(stop)) << "round " << i;
        const int afterStop = g.Sink().Count(EC_COMPLETE);
        ASSERT_TRUE(Finishes(callback)) << "round " << i;
        ASSERT_EQ(g.Sink().Count(EC_COMPLETE), afterStop) << "EC_COMPLETE after Stop, round " << i;
        ASSERT_LE(afterStop - before, 1);
        ASSERT_EQ(g.Renderer()->ArmedTimer(), 0u);
        EXPECT_TRUE(SUCCEEDED(g.Source()->Stop()));
    }
}

TEST_F(RendererStateRaces, ReleasingARunningRendererWithArmedTimerAndAdviseLeavesNothingBehind) {
    CTestEventSink sink;
    auto* pClock = new CManualClock(0);
    pClock->AddRef();
    const int loops = RaceLoops(24);
    for (int i = 0; i < loops; ++i) {
        CTestRenderer* pRenderer = StreamingRenderer(pClock, pClock->Now(), &sink, /*bRun=*/true);
        // An advise for a frame a second ahead, and the end-of-stream timer
        // due in 50 ms.
        CFakeSample sample(10000000, 10400000);
        ASSERT_TRUE(ScheduleUnderLocks(pRenderer, &sample));
        ASSERT_EQ(pClock->PendingAdvises(), 1);
        ASSERT_NE(ArmEndOfStream(pRenderer, 50 * kMs), 0u);
        pClock->Advance(50 * kMs);  // when it fires it notifies
        if (i % 4 == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(46 + i % 8));
        }
        // No Stop: the graph went away. A callback firing just now holds a
        // reference of its own and finishes the destruction on its thread.
        pRenderer->Release();
        ASSERT_TRUE(WaitUntil([] { return CUnknown::ObjectsActive() == 0; })) << "round " << i;
        EXPECT_EQ(pClock->PendingAdvises(), 0) << "round " << i;
    }
    // A timer or advise that outlived its renderer would fire into freed
    // memory now (AddressSanitizer reports it).
    pClock->Advance(10 * 10000000LL);
    std::this_thread::sleep_for(std::chrono::milliseconds(70));
    EXPECT_EQ(pClock->Release(), 0u);
}

TEST_F(RendererStateRaces, StopBetweenBeginFlushAndEndFlushLeavesTheNextPauseAcceptingSamples) {
    RendererGraph g(HandDelivery());
    g.Pause();
    ASSERT_EQ(g.RendererPin()->BeginFlush(), S_OK);
    g.Stop();  // the flush never ends: the source was stopped instead
    g.Pause();
    g.SourcePin()->AllowFrames(1);
    EXPECT_EQ(PauseCompletes(g), S_OK) << "the paused renderer refused its first sample";
}

TEST_F(RendererStateRaces, ClockChangesOnlyWhileStoppedSoNoThreadUsesAReleasedClock) {
    RendererGraph g(HandDelivery());
    auto* pOther = new CManualClock(0);
    pOther->AddRef();
    g.Pause();
    EXPECT_EQ(g.Renderer()->SetSyncSource(pOther), VFW_E_NOT_STOPPED);
    IReferenceClock* pClock = nullptr;
    ASSERT_EQ(g.Renderer()->GetSyncSource(&pClock), S_OK);
    EXPECT_EQ(pClock, static_cast<IReferenceClock*>(g.Clock()));
    if (pClock) pClock->Release();
    g.Stop();
    EXPECT_EQ(g.Renderer()->SetSyncSource(nullptr), S_OK);
    EXPECT_EQ(pOther->Release(), 0u);
}

// Upstream takes its own filter lock, which comes before ours: asked under
// our lock, it can deadlock against a seek that flushes us.
TEST_F(RendererStateRaces, RefusedTypeInASampleAsksUpstreamNothingUnderTheFilterLock) {
    RendererGraph g(HandDelivery());
    const CComRef<IMediaSeeking> pSeeking = Seeking(g);
    g.Pause();
    g.Renderer()->RefuseTypes();
    std::atomic<int> nUnderLock{0};
    g.SourcePin()->SetStopPositionHook([&] {
        if (g.Renderer()->InterfaceLock()->IsOwnedByCurrentThread()) nUnderLock.fetch_add(1);
    });
    IMemAllocator* pAlloc = nullptr;
    ASSERT_EQ(g.RendererPin()->GetAllocator(&pAlloc), S_OK);
    IMediaSample* pSample = nullptr;
    ASSERT_EQ(pAlloc->GetBuffer(&pSample, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    pAlloc->Release();
    CMediaType mt;
    ASSERT_EQ(g.RendererPin()->ConnectionMediaType(&mt), S_OK);
    pSample->SetMediaType(&mt);
    EXPECT_TRUE(FAILED(g.RendererPin()->Receive(pSample)));
    pSample->Release();
    EXPECT_EQ(nUnderLock.load(), 0);
    EXPECT_EQ(g.Sink().Count(EC_ERRORABORT), 1);
}

TEST_F(RendererStateRaces, SinkDroppingTheLastReferenceInTheEndOfStreamTimerDestroysTheRenderer) {
    CTestEventSink sink;
    auto* pClock = new CManualClock(0);
    pClock->AddRef();
    CTestRenderer* pRenderer = StreamingRenderer(pClock, 0, &sink);
    // The graph lets go of the filter when the stream has ended.
    sink.SetEventHook([&](LONG code) {
        if (code == EC_COMPLETE) pRenderer->Release();
    });
    ASSERT_NE(ArmEndOfStream(pRenderer, 60 * kMs), 0u);
    pClock->Advance(60 * kMs);  // due when the timer fires
    EXPECT_TRUE(WaitUntil([] { return CUnknown::ObjectsActive() == 0; }))
        << "the timer thread is stuck in the renderer's destructor";
    EXPECT_EQ(sink.Count(EC_COMPLETE), 1);
    EXPECT_EQ(pClock->Release(), 0u);
}

}  // namespace
}  // namespace pelora_test
