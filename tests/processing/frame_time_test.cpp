#include <gtest/gtest.h>

#include "processing/frame_time.h"

namespace {

TEST(SplitFrameTime, SplitsFramesIntoHoursMinutesSecondsFramesWithoutDividingByZero) {
    const struct {
        INT nFrames;
        double dFps;
        int h, m, s, f;
    } cases[] = {
        {95, 30.0, 0, 0, 3, 5},
        {((3600 + 120 + 3) * 25) + 4, 25.0, 1, 2, 3, 4},
        // 29.97 fps: the whole seconds take trunc(10 * 29.97) = 299 frames.
        {300, 30000.0 / 1001.0, 0, 0, 10, 1},
        {42, 0.0, 0, 0, 0, 42},
        // A 10-second clip at 30 fps ends at 0:00:10:00, not 0:00:09:30.
        {300, FramesPerSecondOf(333333), 0, 0, 10, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nFrames << " at " << c.dFps);
        const SFrameTime ft = SplitFrameTime(c.nFrames, c.dFps);
        EXPECT_EQ(ft.nHours, c.h);
        EXPECT_EQ(ft.nMinutes, c.m);
        EXPECT_EQ(ft.nSeconds, c.s);
        EXPECT_EQ(ft.nFrames, c.f);
    }
}

TEST(FramesPerSecond, RoundedFrameDurationsGiveTheExactCommonRate) {
    EXPECT_EQ(FramesPerSecondOf(333333), 30.0);
    EXPECT_DOUBLE_EQ(FramesPerSecondOf(333667), 30000.0 / 1001.0);
    EXPECT_DOUBLE_EQ(FramesPerSecondOf(1234567), 1e7 / 1234567);  // no common rate: as it is
    EXPECT_EQ(FramesPerSecondOf(0), 0.0);
}

TEST(CounterText, WorkerPadsWithZerosSliderWithBlanks) {
    const SFrameTime ftTotal = SplitFrameTime(300, 30.0);
    EXPECT_EQ(FormatCounterText(95, 300, SplitFrameTime(95, 30.0), ftTotal),
              "     95/    300 (0:00:03:05 / 0:00:10:00)");
    EXPECT_EQ(FormatSliderCounterText(95, 300, SplitFrameTime(95, 30.0), ftTotal),
              "     95/    300 (0: 0: 3: 5 / 0: 0:10: 0)");
}

}  // namespace
