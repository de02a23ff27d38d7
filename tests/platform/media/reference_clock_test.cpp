#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "platform/com/com_ref.h"
#include "platform/media/system_clock.h"
#include "platform/win/win_sync.h"
#include "support/race_loops.h"

namespace {

constexpr REFERENCE_TIME kMs = 10000;  // 100-ns units per millisecond

TEST(SystemClock, CountsNeverDecreasing100nsUnits) {
    CComRef<CSystemClock> pClock(new CSystemClock(), AddRefTag);
    REFERENCE_TIME before = 0, after = 0;
    ASSERT_EQ(pClock->GetTime(&before), S_OK);
    for (int i = 0; i < 10000; ++i) {
        pClock->GetTime(&after);
        ASSERT_GE(after, before);
        before = after;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pClock->GetTime(&after);
    EXPECT_GE(after - before, 20 * kMs);
    EXPECT_LT(after - before, 5000 * kMs);
}

TEST(SystemClock, AdviseSignalsOnceAtBasePlusOffsetOrAtOnceWhenAlreadyPast) {
    CComRef<CSystemClock> clock(new CSystemClock(), AddRefTag);
    CWinEvent ev(FALSE, FALSE);
    DWORD_PTR cookie = 0;
    ASSERT_EQ(clock->AdviseTime(0, 1, ev, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_TRUE(ev.Wait(0));
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    ASSERT_EQ(clock->AdviseTime(now, 30 * kMs, ev, &cookie), S_OK);
    ASSERT_TRUE(ev.Wait(5000));
    REFERENCE_TIME fired = 0;
    clock->GetTime(&fired);
    EXPECT_GE(fired, now + 30 * kMs);
    EXPECT_FALSE(ev.Wait(50));  // once only
    EXPECT_EQ(clock->Unadvise(cookie), S_FALSE);
    // Base + offset beyond the range is refused, not wrapped into the past.
    EXPECT_EQ(clock->AdviseTime(0x7FFFFFFFFFFFFFFFLL, 1, ev, &cookie), E_INVALIDARG);
}

TEST(SystemClock, UnadviseRacingTheDeadlineNeverSignalsAfterItReturns) {
    // The renderer resets its event right after Unadvise; a signal arriving
    // later would wake a later wait for the wrong sample.
    CComRef<CSystemClock> clock(new CSystemClock(), AddRefTag);
    CWinEvent ev(TRUE, FALSE);
    std::set<DWORD_PTR> cookies;
    // A pending advise that Unadvise reports removed must never fire; cookies
    // are never 0 and never handed out twice.
    const int loops = pelora_test::RaceLoops(2000);
    for (int i = 0; i < loops; ++i) {
        REFERENCE_TIME now = 0;
        clock->GetTime(&now);
        DWORD_PTR cookie = 0;
        ASSERT_EQ(clock->AdviseTime(now, (i % 3) * 1000, ev, &cookie), S_OK);
        ASSERT_NE(cookie, 0u);
        ASSERT_TRUE(cookies.insert(cookie).second) << "cookie handed out twice";
        if (i % 2 == 0) std::this_thread::yield();
        const HRESULT hr = clock->Unadvise(cookie);
        ev.Reset();
        if (hr == S_OK) {
            // It was still pending when removed: nothing may set the event now.
            ASSERT_FALSE(ev.Wait(0)) << "round " << i;
        } else {
            ASSERT_EQ(hr, S_FALSE);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(ev.Wait(0));
    // Released with an advise pending: the clock thread is joined, nothing fires.
    DWORD_PTR cookie = 0;
    ASSERT_EQ(clock->AdviseTime(0x7000000000000000LL, 0, ev, &cookie), S_OK);
    clock.Release();
    EXPECT_FALSE(ev.Wait(0));
}

}  // namespace
