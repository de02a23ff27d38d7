// Quality decisions of the video renderer, driven by the manual clock:
// draw now, wait (and for how long) or drop; throttling; the quality sink's
// ownership; the playback statistics.
#include <climits>

#include "renderer_fixture.h"

namespace pelora_test {
namespace {

constexpr REFERENCE_TIME kFrame = 400000;  // 40 ms frames

// A renderer that is streaming but not connected, with the manual clock.
class VideoQuality : public LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        m_pClock = new CManualClock(0);
        m_pClock->AddRef();
        Recreate();
    }
    void TearDown() override {
        Destroy();
        EXPECT_EQ(m_pClock->Release(), 0u);
        LiveObjectsTest::TearDown();
    }

    void Destroy() {
        if (m_pRenderer) {
            EXPECT_EQ(m_pRenderer->Release(), 0u);
            m_pRenderer = nullptr;
        }
    }
    // A fresh renderer whose stream started at clock time tStreamStart.
    void Recreate(REFERENCE_TIME tStreamStart = 0) {
        Destroy();
        HRESULT hr = S_OK;
        m_pRenderer = new CTestRenderer(&hr);
        m_pRenderer->AddRef();
        ASSERT_EQ(hr, S_OK);
        m_pRenderer->SetSyncSource(m_pClock);
        m_pRenderer->SetStreamStart(tStreamStart);
        m_pRenderer->StartStreaming();  // resets the averages
    }
    // The decision for a frame [start, start + kFrame) at the current clock.
    HRESULT Decide(REFERENCE_TIME tStart, REFERENCE_TIME* ptAdjusted = nullptr,
                   bool bDiscontinuity = false) {
        CFakeSample sample(tStart, tStart + kFrame, bDiscontinuity);
        REFERENCE_TIME a = tStart, b = tStart + kFrame;
        const HRESULT hr = m_pRenderer->ShouldDrawSampleNow(&sample, &a, &b);
        if (ptAdjusted) *ptAdjusted = a;
        return hr;
    }
    BOOL Schedule(REFERENCE_TIME tStart) {
        CFakeSample sample(tStart, tStart + kFrame);
        CAutoLock lock(m_pRenderer->RendererLock());
        return m_pRenderer->ScheduleSample(&sample);
    }
    // A renderer three times slower than the frame rate, last drawn just now.
    void MakeSlow() {
        m_pRenderer->SetRenderAvg(kFrame);  // 3 x 40 ms > 40 ms
        m_pRenderer->SetLastDraw(m_pClock->Now() - 1000);
    }

    CManualClock* m_pClock = nullptr;
    CTestRenderer* m_pRenderer = nullptr;
};

TEST_F(VideoQuality, MonitorBiasStartsAt80000AndTheAdviseUsesTheAdjustedStart) {
    struct Case {
        REFERENCE_TIME tStart;
        REFERENCE_TIME tAdvise;  // relative to the stream start
    } cases[] = {
        {79999, 79999},  // not biased
        {80000, 0},      // 8 ms earlier
        {1080000, 1000000},
    };
    const REFERENCE_TIME tStreamStart = 20000000;  // the clock (at 0) is 2 s before it
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tStart);
        Recreate(tStreamStart);
        ASSERT_TRUE(Schedule(c.tStart));
        EXPECT_EQ(m_pClock->LastAdviseTime(), tStreamStart + c.tAdvise);
        REFERENCE_TIME tAdjusted = 0;
        Recreate(tStreamStart);
        CFakeSample sample(c.tStart, c.tStart + kFrame);
        REFERENCE_TIME a = c.tStart, b = c.tStart + kFrame;
        EXPECT_EQ(m_pRenderer->ShouldDrawSampleNow(&sample, &a, &b), S_FALSE);
        tAdjusted = a;
        EXPECT_EQ(tAdjusted, c.tAdvise);
        EXPECT_EQ(b - a, kFrame);  // the stop time moved with the start
    }
}

TEST_F(VideoQuality, EarlinessMovesTheAdviseUpToOneFrameEarlier) {
    // Just after a drop, a frame more than 0.9 s early waits, and the
    // earliness (its whole lateness) moves it one frame earlier at most.
    m_pRenderer->SetNormal(-1);
    const REFERENCE_TIME tStart = 10000000 + 80000;  // 1 s early after the bias
    ASSERT_TRUE(Schedule(tStart));
    EXPECT_EQ(m_pClock->LastAdviseTime(), 10000000 - kFrame);
}

TEST_F(VideoQuality, EarlyFramesAreNeverDroppedWhileUpstreamIgnoresQuality) {
    const REFERENCE_TIME earlyBy[] = {1, 1000, kFrame, 5000000, 20000000};
    for (REFERENCE_TIME early : earlyBy) {
        SCOPED_TRACE(early);
        Recreate();
        MakeSlow();
        EXPECT_EQ(Decide(80000 + early), S_FALSE);
        EXPECT_FALSE(m_pRenderer->SupplierHandlesQuality());
    }
}

TEST_F(VideoQuality, SlowRendererDropsLateFramesAndCountsThem) {
    struct Case {
        REFERENCE_TIME late;
        HRESULT expected;
    } cases[] = {
        {kFrame / 2 - 1, S_OK},  // 2 x lateness < duration: still drawn
        {kFrame / 2, E_FAIL},
        {5 * kFrame, E_FAIL},
    };
    m_pClock->Advance(20000000);  // 2 s into the stream
    for (const Case& c : cases) {
        SCOPED_TRACE(c.late);
        Recreate();
        MakeSlow();
        // The bias (8 ms) is added back so that the frame is exactly this late.
        EXPECT_EQ(Decide(m_pClock->Now() - c.late + 80000), c.expected);
        if (c.expected == E_FAIL) {
            EXPECT_EQ(m_pRenderer->Normal(), -1);
        }
    }
    // Through the scheduler a dropped frame is counted.
    Recreate();
    MakeSlow();
    EXPECT_FALSE(Schedule(m_pClock->Now() - 1000000 + 80000));  // 100 ms late
    int dropped = 0;
    EXPECT_EQ(m_pRenderer->get_FramesDroppedInRenderer(&dropped), S_OK);
    EXPECT_EQ(dropped, 1);
    EXPECT_EQ(m_pClock->AdviseCount(), 0);
}

TEST_F(VideoQuality, AfterADropTheNextFrameIsDrawnAtOnceUnlessOver900MsEarly) {
    struct Case {
        REFERENCE_TIME early;
        HRESULT expected;
    } cases[] = {
        {50000, S_OK},
        {9000000, S_OK},
        {9000001, S_FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.early);
        Recreate();
        m_pClock->Advance(20000000);
        MakeSlow();
        // A frame 100 ms late on a slow renderer is dropped ...
        ASSERT_EQ(Decide(m_pClock->Now() - 1000000 + 80000), E_FAIL);
        // ... and the next one that passes plays at once, early or not.
        REFERENCE_TIME tAdjusted = 0;
        const REFERENCE_TIME tNext = m_pClock->Now() + c.early;
        EXPECT_EQ(Decide(tNext + 80000, &tAdjusted), c.expected);
        if (c.expected == S_OK) {
            EXPECT_EQ(m_pRenderer->Normal(), 0);
        }
    }
}

TEST_F(VideoQuality, AFrameIsDrawnAfterOneSecondWithoutDrawing) {
    struct Case {
        REFERENCE_TIME sinceLastDraw;
        HRESULT expected;
    } cases[] = {
        {10000000, E_FAIL},
        {10000001, S_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sinceLastDraw);
        Recreate();
        m_pClock->Advance(30000000);
        MakeSlow();
        m_pRenderer->SetLastDraw(m_pClock->Now() - c.sinceLastDraw);
        // 300 ms late on a slow renderer: dropped, unless nothing was drawn for 1 s.
        EXPECT_EQ(Decide(m_pClock->Now() - 3000000 + 80000), c.expected);
    }
}

TEST_F(VideoQuality, NotifySetsTheThrottleAndNeverDividesByZeroOrSleepsLong) {
    struct Case {
        LONG proportion;
        LONG throttle;
    } cases[] = {
        {500, 253028},  // 25 ms after each frame
        {0, 1998622},   // 199 ms
        {999, 3516},      {1000, 0},
        {5000, 0},        {-100, 1998622},  // negative proportions count as 0
        {-166, 1998622},  {-167, 1998622},  // would divide by zero
        {-1000, 1998622}, {INT_MIN, 1998622},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.proportion);
        Quality q{Famine, c.proportion, 0, 0};
        EXPECT_EQ(m_pRenderer->Notify(m_pRenderer, q), S_OK);
        EXPECT_EQ(m_pRenderer->Throttle(), c.throttle);
        EXPECT_LE(m_pRenderer->Throttle(), 2000000);  // at most 200 ms per frame
    }
}

// A quality sink that counts its references and messages.
class CCountingSink : public IQualityControl {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IQualityControl) {
            *ppv = static_cast<IQualityControl*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++m_cRef); }
    ULONG Release() override { return static_cast<ULONG>(--m_cRef); }
    HRESULT Notify(IBaseFilter*, Quality q) override {
        m_nMessages.fetch_add(1);
        m_lProportion = q.Proportion;
        return S_OK;
    }
    HRESULT SetSink(IQualityControl*) override { return E_NOTIMPL; }

    int Refs() const { return m_cRef.load(); }
    std::atomic<int> m_nMessages{0};
    std::atomic<LONG> m_lProportion{0};

private:
    std::atomic<int> m_cRef{1};  // the test's own reference
};

TEST_F(VideoQuality, SetSinkKeepsExactlyOneReferenceAndGivesItBack) {
    CCountingSink a, b;
    EXPECT_EQ(m_pRenderer->SetSink(&a), S_OK);
    EXPECT_EQ(a.Refs(), 2);
    EXPECT_EQ(m_pRenderer->SetSink(&b), S_OK);
    EXPECT_EQ(a.Refs(), 1);
    EXPECT_EQ(b.Refs(), 2);
    EXPECT_EQ(m_pRenderer->SetSink(&b), S_OK);  // the same sink again
    EXPECT_EQ(b.Refs(), 2);

    // The stored sink gets the quality messages, and accepting them makes
    // the renderer treat upstream as handling quality.
    EXPECT_EQ(Decide(80000 + kFrame), S_FALSE);
    EXPECT_EQ(b.m_nMessages.load(), 1);
    EXPECT_TRUE(m_pRenderer->SupplierHandlesQuality());

    EXPECT_EQ(m_pRenderer->SetSink(nullptr), S_OK);
    EXPECT_EQ(b.Refs(), 1);
    EXPECT_EQ(m_pRenderer->SetSink(&a), S_OK);
    Destroy();  // the destructor gives the reference back
    EXPECT_EQ(a.Refs(), 1);
}

TEST_F(VideoQuality, BreakConnectGivesTheSinkBackToItsBaseline) {
    CCountingSink sink;
    {
        SourceOptions o;
        o.gated = true;
        o.frames = 10;
        RendererGraph g(o);
        EXPECT_EQ(g.Renderer()->SetSink(&sink), S_OK);
        EXPECT_EQ(sink.Refs(), 2);
        g.Teardown();  // disconnects
        EXPECT_EQ(sink.Refs(), 1);
    }
    EXPECT_EQ(sink.Refs(), 1);
}

TEST_F(VideoQuality, WithoutASinkQualityMessagesGoToTheUpstreamPin) {
    SourceOptions o;
    o.frames = 3;
    RendererGraph g(o);
    g.SourcePin()->SetNotifyResult(S_OK);
    g.Pause();
    g.Run(0);
    ASSERT_TRUE(WaitUntil([&] { return g.Renderer()->Rendered() >= 1; }));
    EXPECT_GE(g.SourcePin()->QualityMessages(), 1);
    const Quality q = g.SourcePin()->LastQuality();
    EXPECT_EQ(q.Proportion, 1000);  // on time
    EXPECT_TRUE(g.Renderer()->SupplierHandlesQuality());
    g.Clock()->Advance(10 * kFrame);
    ASSERT_TRUE(g.Sink().WaitForCount(EC_COMPLETE, 1));
}

TEST_F(VideoQuality, StatisticsFollowTheirDefinitions) {
    // Lateness 10, 20, 30 ms is summed from the third frame on; frame times
    // from the fourth. Divisors: drawn - 1 and drawn - 2.
    const LONG lateMs[] = {500, 500, 10, 20, 30};
    const LONG frameMs[] = {40, 40, 40, 40, 40};
    for (int i = 0; i < 5; ++i) {
        m_pRenderer->RecordFrameLateness(lateMs[i] * 10000, frameMs[i] * 10000);
    }
    int v = -1;
    EXPECT_EQ(m_pRenderer->get_FramesDrawn(&v), S_OK);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(m_pRenderer->get_AvgSyncOffset(&v), S_OK);
    EXPECT_EQ(v, 15);  // 60 / 4
    EXPECT_EQ(m_pRenderer->get_DevSyncOffset(&v), S_OK);
    EXPECT_EQ(v, 12);  // isqrt((1400 - 3600 / 4) / 3) = isqrt(166)
    EXPECT_EQ(m_pRenderer->get_Jitter(&v), S_OK);
    EXPECT_EQ(v, 23);  // isqrt((3200 - 6400 / 3) / 2) = isqrt(533)

    EXPECT_EQ(m_pRenderer->get_FramesDrawn(nullptr), E_POINTER);
    EXPECT_EQ(m_pRenderer->get_AvgFrameRate(nullptr), E_POINTER);
    EXPECT_EQ(m_pRenderer->get_Jitter(nullptr), E_POINTER);

    // Without a clock the deviations are 0.
    m_pRenderer->SetSyncSource(nullptr);
    EXPECT_EQ(m_pRenderer->get_DevSyncOffset(&v), S_OK);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(m_pRenderer->get_AvgSyncOffset(&v), S_OK);
    EXPECT_EQ(v, 0);
}

TEST_F(VideoQuality, LatenessOutsideOneSecondIsClampedInTheStatistics) {
    const LONG lateMs[] = {0, 0, 5000, -5000, 3000};
    for (LONG late : lateMs) m_pRenderer->RecordFrameLateness(late * 10000, 400000);
    int v = -1;
    m_pRenderer->get_AvgSyncOffset(&v);
    EXPECT_EQ(v, (1000 - 1000 + 1000) / 4);
}

TEST_F(VideoQuality, FrameRateIsKeptAfterStreamingStops) {
    SourceOptions o;
    o.frames = 4;
    RendererGraph g(o, /*bClock=*/false);
    g.Pause();
    g.Run(0);
    ASSERT_TRUE(g.Sink().WaitForCount(EC_COMPLETE, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    g.Stop();
    int drawn = 0, rate = -1;
    EXPECT_EQ(g.Renderer()->get_FramesDrawn(&drawn), S_OK);
    EXPECT_EQ(drawn, 4);
    EXPECT_EQ(g.Renderer()->get_AvgFrameRate(&rate), S_OK);
    EXPECT_GT(rate, 0);
}

TEST_F(VideoQuality, LeavingTheGraphReportsTheWindowDestroyed) {
    CTestEventSink sink;
    ASSERT_EQ(m_pRenderer->JoinFilterGraph(sink.Graph(), L"Renderer"), S_OK);
    EXPECT_EQ(sink.Count(EC_WINDOW_DESTROYED), 0);
    ASSERT_EQ(m_pRenderer->JoinFilterGraph(nullptr, nullptr), S_OK);
    const auto events = sink.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].code, EC_WINDOW_DESTROYED);
    EXPECT_EQ(events[0].param1, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(m_pRenderer)));
}

}  // namespace
}  // namespace pelora_test
