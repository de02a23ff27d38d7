#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/win/crit_sec.h"
#include "platform/win/win_sync.h"
#include "support/watchdog.h"

using pelora_test::WaitUntil;

namespace {

TEST(CritSec, ReentersOnItsThreadAndBlocksOthersUntilTheOutermostLeave) {
    CCritSec cs;
    std::atomic<bool> bEntered{false};
    cs.Lock();
    {
        CAutoLock again(&cs);
        EXPECT_TRUE(cs.IsOwnedByCurrentThread());
    }
    std::thread t([&] {
        CAutoLock lock(&cs);
        bEntered = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(bEntered.load());  // still held once
    cs.Unlock();
    EXPECT_FALSE(cs.IsOwnedByCurrentThread());
    EXPECT_TRUE(WaitUntil([&] { return bEntered.load(); }));
    t.join();
}

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

    HANDLE hNull = nullptr;
    EXPECT_EQ(WaitForSingleObject(hNull, INFINITE), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(0, &hNull, FALSE, INFINITE), WAIT_FAILED);
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
    EXPECT_FALSE(ReleaseSemaphore(hSem, 0, nullptr));
    EXPECT_EQ(WaitForSingleObject(hSem, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(hSem, 10), WAIT_TIMEOUT);
    CloseHandle(hSem);
}

}  // namespace
