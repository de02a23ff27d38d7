#include "platform/win/time_services.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(TimeServices, SleepWaitsAtLeastTheRequestedMilliseconds) {
    const DWORD t0 = timeGetTime();
    Sleep(20);
    const DWORD elapsed = timeGetTime() - t0;  // unsigned difference survives the wrap
    EXPECT_GE(elapsed, 20u);
    EXPECT_LT(elapsed, 5000u);
}

TEST(TimeServices, PerformanceCounterCountsNanosecondsAndNeverDecreases) {
    LARGE_INTEGER freq{};
    ASSERT_TRUE(QueryPerformanceFrequency(&freq));
    EXPECT_EQ(freq.QuadPart, 1000000000LL);

    LARGE_INTEGER prev{};
    ASSERT_TRUE(QueryPerformanceCounter(&prev));
    for (int i = 0; i < 10000; ++i) {
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        ASSERT_GE(now.QuadPart, prev.QuadPart);
        prev = now;
    }
    LARGE_INTEGER before{}, after{};
    QueryPerformanceCounter(&before);
    Sleep(10);
    QueryPerformanceCounter(&after);
    EXPECT_GE(after.QuadPart - before.QuadPart, 10LL * 1000000LL);
}

}  // namespace
