#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/win/crit_sec.h"
#include "platform/win/win_sync.h"
#include "support/watchdog.h"

using pelora_test::WaitUntil;

namespace {

struct Handles {
    HANDLE h[2] = {nullptr, nullptr};
    ~Handles() {
        for (HANDLE x : h)
            if (x) CloseHandle(x);
    }
};

TEST(CritSec, SameThreadReentersWithoutDeadlock) {
    CCritSec cs;
    {
        CAutoLock a(&cs);
        CAutoLock b(&cs);
        EXPECT_TRUE(cs.IsOwnedByCurrentThread());
    }
    EXPECT_FALSE(cs.IsOwnedByCurrentThread());
}

TEST(CritSec, OtherThreadWaitsUntilOutermostLeave) {
    CCritSec cs;
    std::atomic<bool> bEntered{false};
    cs.Lock();
    cs.Lock();
    std::thread t([&] {
        CAutoLock lock(&cs);
        bEntered = true;
    });
    cs.Unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(bEntered.load());
    cs.Unlock();
    EXPECT_TRUE(WaitUntil([&] { return bEntered.load(); }));
    t.join();
}

TEST(Events, AutoResetSignalIsConsumedByOneWait) {
    CWinEvent ev(FALSE, TRUE);
    ASSERT_TRUE(ev.IsValid());
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(ev, 10), WAIT_TIMEOUT);
}

TEST(Events, ManualResetStaysSignalledUntilReset) {
    CWinEvent ev(TRUE, FALSE);
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
    ev.Set();
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
    ev.Reset();
    EXPECT_EQ(WaitForSingleObject(ev, 10), WAIT_TIMEOUT);
}

TEST(Events, WaitWakesWhenAnotherThreadSets) {
    CWinEvent ev(FALSE, FALSE);
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ev.Set();
    });
    EXPECT_EQ(WaitForSingleObject(ev, 5000), WAIT_OBJECT_0);
    t.join();
}

TEST(Waits, WaitAnyReportsLowestIndexAndConsumesOnlyThatOne) {
    Handles hs;
    hs.h[0] = CreateEvent(nullptr, FALSE, TRUE, nullptr);  // auto-reset, set
    hs.h[1] = CreateEvent(nullptr, FALSE, TRUE, nullptr);  // auto-reset, set
    EXPECT_EQ(WaitForMultipleObjects(2, hs.h, FALSE, 0), WAIT_OBJECT_0);
    // The second event was not reported, so it must still be signalled.
    EXPECT_EQ(WaitForMultipleObjects(2, hs.h, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, hs.h, FALSE, 10), WAIT_TIMEOUT);
}

TEST(Waits, ManualResetFirstKeepsWinningWhileSet) {
    Handles hs;
    hs.h[0] = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    hs.h[1] = CreateEvent(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(2, hs.h, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, hs.h, FALSE, 0), WAIT_OBJECT_0);
    ResetEvent(hs.h[0]);
    EXPECT_EQ(WaitForMultipleObjects(2, hs.h, FALSE, 0), WAIT_OBJECT_0 + 1);
}

TEST(Waits, WaitAllNeedsEveryObjectAndConsumesAll) {
    Handles hs;
    hs.h[0] = CreateEvent(nullptr, FALSE, TRUE, nullptr);
    hs.h[1] = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(2, hs.h, TRUE, 10), WAIT_TIMEOUT);
    // The failed wait-all must not have consumed the first event.
    SetEvent(hs.h[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, hs.h, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(hs.h[0], 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(hs.h[1], 0), WAIT_TIMEOUT);
}

TEST(Waits, BadArgumentsFailInsteadOfWaiting) {
    HANDLE hNull = nullptr;
    EXPECT_EQ(WaitForSingleObject(hNull, INFINITE), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(0, &hNull, FALSE, INFINITE), WAIT_FAILED);
}

TEST(Semaphore, ReleasePastMaximumFailsAndReleasesNothing) {
    Handles hs;
    hs.h[0] = CreateSemaphore(nullptr, 0, 0x7FFFFFFF, nullptr);
    ASSERT_NE(hs.h[0], nullptr);
    LONG lPrev = -1;
    EXPECT_TRUE(ReleaseSemaphore(hs.h[0], 2, &lPrev));
    EXPECT_EQ(lPrev, 0);
    EXPECT_FALSE(ReleaseSemaphore(hs.h[0], 0x7FFFFFFF, nullptr));
    EXPECT_FALSE(ReleaseSemaphore(hs.h[0], 0, nullptr));
    EXPECT_EQ(WaitForSingleObject(hs.h[0], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(hs.h[0], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(hs.h[0], 10), WAIT_TIMEOUT);
}

TEST(Semaphore, ReleaseByNWakesNWaiters) {
    Handles hs;
    hs.h[0] = CreateSemaphore(nullptr, 0, 0x7FFFFFFF, nullptr);
    std::atomic<int> nWoken{0};
    std::thread a([&] {
        if (WaitForSingleObject(hs.h[0], 5000) == WAIT_OBJECT_0) ++nWoken;
    });
    std::thread b([&] {
        if (WaitForSingleObject(hs.h[0], 5000) == WAIT_OBJECT_0) ++nWoken;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(ReleaseSemaphore(hs.h[0], 2, nullptr));
    a.join();
    b.join();
    EXPECT_EQ(nWoken.load(), 2);
}

}  // namespace
