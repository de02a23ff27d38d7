// Scheduling of the renderer base: when samples are rendered, when the pause
// completes, and when EC_COMPLETE is sent, with no clock or the manual clock.
#include "renderer_fixture.h"

namespace pelora_test {
namespace {

class RendererScheduling : public LiveObjectsTest {};

TEST_F(RendererScheduling, PauseCompletesWithTheFirstSampleButRendersNothingUntilRun) {
    RendererGraph g(HandDelivery());
    EXPECT_EQ(g.Pause(), S_FALSE);  // waits for data
    FILTER_STATE fs = State_Stopped;
    EXPECT_EQ(g.Renderer()->GetState(10, &fs), VFW_S_STATE_INTERMEDIATE);
    EXPECT_EQ(fs, State_Paused);
    // An infinite GetState holds no lock that the arriving sample needs.
    CTestRenderer* pRenderer = g.Renderer();
    auto state = std::async(std::launch::async, [&] { return pRenderer->GetState(INFINITE, &fs); });
    EXPECT_FALSE(Finishes(state, std::chrono::milliseconds(20)));
    g.SourcePin()->AllowFrames(1);
    const bool bReturned = Finishes(state);
    if (!bReturned) pRenderer->Stop();  // releases the waiter so the test can end
    ASSERT_TRUE(bReturned);
    EXPECT_EQ(state.get(), S_OK);
    EXPECT_TRUE(g.Renderer()->HaveCurrentSample());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(g.Renderer()->Rendered(), 0);

    g.Run(0);  // the held sample starts at 0: due at once
    ASSERT_TRUE(WaitUntil([&] { return g.Renderer()->Rendered() == 1; }));
    EXPECT_FALSE(g.Renderer()->HaveCurrentSample());
}

TEST_F(RendererScheduling, EndOfStreamCloserThan50MsIsSentAtOnceOtherwiseByTimer) {
    struct Case {
        REFERENCE_TIME tStop;
        bool bAtOnce;
    } cases[] = {
        {50 * kMs - 1, true},  // 49.9999 ms: whole milliseconds count
        {50 * kMs, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tStop);
        RendererGraph g(HandDelivery());
        g.Pause();
        g.Run(0);
        const REFERENCE_TIME tStart = 0;
        auto receive = g.DeliverAsync(&tStart, &c.tStop);
        ASSERT_TRUE(Finishes(receive));
        ASSERT_EQ(g.Renderer()->Rendered(), 1);
        EXPECT_EQ(g.RendererPin()->EndOfStream(), S_OK);
        EXPECT_EQ(g.Sink().Count(EC_COMPLETE), c.bAtOnce ? 1 : 0);
        EXPECT_EQ(g.Renderer()->ArmedTimer() != 0, !c.bAtOnce);
        if (!c.bAtOnce) {
            // The timer re-checks the clock: nothing until the stop time.
            g.Clock()->SetTime(c.tStop);
            EXPECT_TRUE(g.Sink().WaitForCount(EC_COMPLETE, 1));
        }
        g.Teardown();
        EXPECT_EQ(g.Sink().Count(EC_COMPLETE), 1);
    }
}

TEST_F(RendererScheduling, StartOnlyStampsAreNotHeldBackByAStaleStopTime) {
    SourceOptions o = HandDelivery();
    o.buffers = 1;  // the second delivery reuses the first sample
    RendererGraph g(o);
    g.Pause();
    g.Run(0);
    // A sample with a far stop time goes back to the pool ...
    const REFERENCE_TIME tStart = 0, tFarStop = 600 * 10000000LL;
    auto first = g.DeliverAsync(&tStart, &tFarStop);
    ASSERT_TRUE(Finishes(first));
    // ... and comes out again stamped with a start time only (as after a
    // backward seek), still carrying the old stop value, marked invalid.
    auto second = g.DeliverAsync(&tStart, nullptr);
    ASSERT_TRUE(Finishes(second));
    ASSERT_EQ(g.Renderer()->Rendered(), 2);

    EXPECT_EQ(g.RendererPin()->EndOfStream(), S_OK);
    EXPECT_EQ(g.Sink().Count(EC_COMPLETE), 1);
    EXPECT_EQ(g.Renderer()->ArmedTimer(), 0u);
}

}  // namespace
}  // namespace pelora_test
