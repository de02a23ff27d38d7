#include "platform/win/time_services.h"

#include <gtest/gtest.h>

namespace {

TEST(TimeServices, SleepAndTheCountersAdvanceAtLeastTheRequestedTimeAndNeverBackwards) {
    LARGE_INTEGER freq{}, before{}, after{};
    ASSERT_TRUE(QueryPerformanceFrequency(&freq));
    EXPECT_EQ(freq.QuadPart, 1000000000LL);
    QueryPerformanceCounter(&before);
    const DWORD t0 = timeGetTime();
    Sleep(20);
    EXPECT_GE(timeGetTime() - t0, 20u);  // unsigned difference survives the wrap
    QueryPerformanceCounter(&after);
    EXPECT_GE(after.QuadPart - before.QuadPart, 20LL * 1000000LL);
    for (int i = 0; i < 10000; ++i) {
        before = after;
        QueryPerformanceCounter(&after);
        ASSERT_GE(after.QuadPart, before.QuadPart);
    }
}

}  // namespace
