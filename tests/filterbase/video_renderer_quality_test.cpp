// Quality decisions of the video renderer, driven by the manual clock: draw
// now, wait (and for how long) or drop.
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
        }
        m_pRenderer = nullptr;
    }
    // A fresh renderer whose stream started at clock time tStreamStart.
    void Recreate(REFERENCE_TIME tStreamStart = 0) {
        Destroy();
        m_pRenderer = StreamingRenderer(m_pClock, tStreamStart);
    }
    // The decision for a frame [start, start + kFrame) at the current clock.
    HRESULT Decide(REFERENCE_TIME tStart) {
        CFakeSample sample(tStart, tStart + kFrame);
        REFERENCE_TIME a = tStart, b = tStart + kFrame;
        CAutoLock lock(m_pRenderer->InterfaceLock());
        return m_pRenderer->ShouldDrawSampleNow(&sample, &a, &b);
    }
    BOOL Schedule(REFERENCE_TIME tStart) {
        CFakeSample sample(tStart, tStart + kFrame);
        return ScheduleUnderLocks(m_pRenderer, &sample);
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
    }
}

TEST_F(VideoQuality, DrawWaitOrDropDecisions) {
    constexpr REFERENCE_TIME kJustNow = 1000;
    struct Case {
        const char* what;
        REFERENCE_TIME late;  // negative: early
        REFERENCE_TIME sinceLastDraw;
        bool bAfterDrop;
        HRESULT expected;
    } cases[] = {
        // Early frames wait; they are never dropped while upstream ignores quality.
        {"0.1 ms early", -1000, kJustNow, false, S_FALSE},
        // A slow renderer drops frames late by half their duration or more.
        {"just under half a frame late", kFrame / 2 - 1, kJustNow, false, S_OK},
        {"half a frame late", kFrame / 2, kJustNow, false, E_FAIL},
        // After a drop the next frame plays at once unless over 900 ms early.
        {"900 ms early after a drop", -9000000, kJustNow, true, S_OK},
        {"over 900 ms early after a drop", -9000001, kJustNow, true, S_FALSE},
        // A frame is drawn after more than 1 s without drawing.
        {"300 ms late, 1 s since the last draw", 3000000, 10000000, false, E_FAIL},
        {"300 ms late, over 1 s since the last draw", 3000000, 10000001, false, S_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Recreate();
        m_pClock->Advance(30000000);
        MakeSlow();
        m_pRenderer->SetLastDraw(m_pClock->Now() - c.sinceLastDraw);
        if (c.bAfterDrop) {
            ASSERT_EQ(Decide(m_pClock->Now() - 1000000 + 80000), E_FAIL);  // 100 ms late
        }
        // The bias (8 ms) is added back so that the frame is exactly this late.
        EXPECT_EQ(Decide(m_pClock->Now() - c.late + 80000), c.expected);
    }
    // Through the scheduler a dropped frame is counted, and no advise is made.
    Recreate();
    MakeSlow();
    EXPECT_FALSE(Schedule(m_pClock->Now() - 1000000 + 80000));
    int dropped = 0;
    EXPECT_EQ(m_pRenderer->get_FramesDroppedInRenderer(&dropped), S_OK);
    EXPECT_EQ(dropped, 1);
    EXPECT_EQ(m_pClock->AdviseCount(), 0);
}

}  // namespace
}  // namespace pelora_test
