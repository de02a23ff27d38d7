#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/win/win_sync.h"

namespace {

// The renderer passes its state-change event first: it must win while set,
// and a wait must consume only the auto-reset event it reports.
TEST(Waits, WaitAnyReportsTheLowestSignalledIndexAndConsumesOnlyThatOne) {
    CWinEvent autoA(FALSE, TRUE), autoB(FALSE, TRUE), manual(TRUE, TRUE);
    const HANDLE bothAuto[2] = {autoA, autoB};
    EXPECT_EQ(WaitForMultipleObjects(2, bothAuto, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, bothAuto, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, bothAuto, FALSE, 10), WAIT_TIMEOUT);

    autoB.Set();
    const HANDLE manualFirst[2] = {manual, autoB};
    EXPECT_EQ(WaitForMultipleObjects(2, manualFirst, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, manualFirst, FALSE, 0), WAIT_OBJECT_0);
    manual.Reset();
    EXPECT_EQ(WaitForMultipleObjects(2, manualFirst, FALSE, 0), WAIT_OBJECT_0 + 1);
}

TEST(Semaphore, ReleaseByNWakesNWaitersAndAReleasePastTheMaximumReleasesNothing) {
    const HANDLE hSem = CreateSemaphore(nullptr, 0, 0x7FFFFFFF, nullptr);
    ASSERT_NE(hSem, nullptr);
    std::atomic<int> nWoken{0};
    auto waiter = [&] {
        if (WaitForSingleObject(hSem, 5000) == WAIT_OBJECT_0) ++nWoken;
    };
    std::thread a(waiter), b(waiter);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    LONG lPrev = -1;
    EXPECT_TRUE(ReleaseSemaphore(hSem, 2, &lPrev));
    a.join();
    b.join();
    EXPECT_EQ(nWoken.load(), 2);
    EXPECT_EQ(lPrev, 0);

    EXPECT_TRUE(ReleaseSemaphore(hSem, 1, nullptr));
    EXPECT_FALSE(ReleaseSemaphore(hSem, 0x7FFFFFFF, nullptr));
    EXPECT_EQ(WaitForSingleObject(hSem, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(hSem, 10), WAIT_TIMEOUT);
    CloseHandle(hSem);
}

}  // namespace
