#include <gtest/gtest.h>

#include "processing/frame_time.h"

namespace {

TEST(SplitFrameTime, SplitsFramesIntoHoursMinutesSecondsFrames) {
    const SFrameTime ft = SplitFrameTime(95, 30.0);
    EXPECT_EQ(ft.nHours, 0);
    EXPECT_EQ(ft.nMinutes, 0);
    EXPECT_EQ(ft.nSeconds, 3);
    EXPECT_EQ(ft.nFrames, 5);

    // 1 h 2 min 3 s and 4 frames at 25 fps.
    const SFrameTime ftLong = SplitFrameTime(((3600 + 120 + 3) * 25) + 4, 25.0);
    EXPECT_EQ(ftLong.nHours, 1);
    EXPECT_EQ(ftLong.nMinutes, 2);
    EXPECT_EQ(ftLong.nSeconds, 3);
    EXPECT_EQ(ftLong.nFrames, 4);
}

TEST(SplitFrameTime, FractionalRateTruncatesLikeTheCounterDoes) {
    // 29.97 fps: 300 frames are 10.01 s; the whole seconds take trunc(10 * 29.97) = 299 frames.
    const SFrameTime ft = SplitFrameTime(300, 30000.0 / 1001.0);
    EXPECT_EQ(ft.nSeconds, 10);
    EXPECT_EQ(ft.nFrames, 1);
}

TEST(SplitFrameTime, NoRateDoesNotDivideByZero) {
    const SFrameTime ft = SplitFrameTime(42, 0.0);
    EXPECT_EQ(ft.nHours, 0);
    EXPECT_EQ(ft.nSeconds, 0);
    EXPECT_EQ(ft.nFrames, 42);
}

TEST(FramesPerSecond, RoundedFrameDurationsGiveTheExactCommonRate) {
    EXPECT_EQ(FramesPerSecondOf(333333), 30.0);
    EXPECT_EQ(FramesPerSecondOf(333334), 30.0);
    EXPECT_EQ(FramesPerSecondOf(166667), 60.0);
    EXPECT_EQ(FramesPerSecondOf(400000), 25.0);
    EXPECT_DOUBLE_EQ(FramesPerSecondOf(333667), 30000.0 / 1001.0);
    EXPECT_DOUBLE_EQ(FramesPerSecondOf(417083), 24000.0 / 1001.0);
    // A rate that is no common one stays as it is.
    EXPECT_DOUBLE_EQ(FramesPerSecondOf(1234567), 1e7 / 1234567);
    EXPECT_EQ(FramesPerSecondOf(0), 0.0);
    // A 10-second clip at 30 fps ends at 0:00:10:00, not 0:00:09:30.
    const SFrameTime ft = SplitFrameTime(300, FramesPerSecondOf(333333));
    EXPECT_EQ(ft.nSeconds, 10);
    EXPECT_EQ(ft.nFrames, 0);
}

TEST(CounterText, WorkerPadsWithZerosSliderWithBlanks) {
    const SFrameTime ftTotal = SplitFrameTime(300, 30.0);
    EXPECT_EQ(FormatInitialCounterText(300, ftTotal), "0/    300 (0:00:00:00 / 0:00:10:00)");
    EXPECT_EQ(FormatCounterText(95, 300, SplitFrameTime(95, 30.0), ftTotal),
              "     95/    300 (0:00:03:05 / 0:00:10:00)");
    EXPECT_EQ(FormatSliderCounterText(95, 300, SplitFrameTime(95, 30.0), ftTotal),
              "     95/    300 (0: 0: 3: 5 / 0: 0:10: 0)");
    // Frame -1 (after "-1Frame" at the start) is shown as it is.
    EXPECT_EQ(FormatCounterText(-1, 300, SplitFrameTime(-1, 30.0), ftTotal).substr(0, 8), "     -1/");
}

}  // namespace
