#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "platform/com/com_runtime.h"
#include "platform/media/manual_clock.h"
#include "platform/media/system_clock.h"
#include "platform/win/win_sync.h"
#include "support/race_loops.h"

namespace {

constexpr REFERENCE_TIME kMs = 10000;  // 100-ns units per millisecond

// Holds one reference to a clock for the length of a test.
template <class T>
struct ClockRef {
    T* p;
    ClockRef() : p(new T()) { p->AddRef(); }
    ~ClockRef() { p->Release(); }
    T* operator->() const { return p; }
};

bool Signalled(CWinEvent& ev, DWORD ms = 0) { return ev.Wait(ms); }

TEST(SystemClock, IsCreatedThroughTheComRegistryAndCountsNeverDecreasing100nsUnits) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(CSystemClock::RegisterClass(), S_OK);
    IReferenceClock* pClock = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IReferenceClock, reinterpret_cast<void**>(&pClock)),
              S_OK);
    REFERENCE_TIME prev = 0;
    ASSERT_EQ(pClock->GetTime(&prev), S_OK);
    for (int i = 0; i < 10000; ++i) {
        REFERENCE_TIME now = 0;
        pClock->GetTime(&now);
        ASSERT_GE(now, prev);
        prev = now;
    }
    REFERENCE_TIME before = 0, after = 0;
    pClock->GetTime(&before);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pClock->GetTime(&after);
    EXPECT_GE(after - before, 20 * kMs);
    EXPECT_LT(after - before, 5000 * kMs);
    EXPECT_EQ(pClock->GetTime(nullptr), E_POINTER);
    EXPECT_EQ(pClock->Release(), 0u);
    CoUninitialize();
}

TEST(SystemClock, AdviseSignalsOnceAtBasePlusOffsetOrAtOnceWhenAlreadyPast) {
    ClockRef<CSystemClock> clock;
    CWinEvent ev(FALSE, FALSE);
    DWORD_PTR cookie = 0;
    ASSERT_EQ(clock->AdviseTime(0, 1, ev, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_TRUE(Signalled(ev, 0));
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    ASSERT_EQ(clock->AdviseTime(now, 30 * kMs, ev, &cookie), S_OK);
    ASSERT_TRUE(Signalled(ev, 5000));
    REFERENCE_TIME fired = 0;
    clock->GetTime(&fired);
    EXPECT_GE(fired, now + 30 * kMs);
    EXPECT_FALSE(Signalled(ev, 50));  // once only
    EXPECT_EQ(clock->Unadvise(cookie), S_FALSE);
}

TEST(SystemClock, UnadvisedCookieIsNeverSignalled) {
    ClockRef<CSystemClock> clock;
    // A is removed before it is due; B, due just after A, proves that the
    // clock went past A's time. A slow machine may let A fire before the
    // Unadvise: then the round is repeated with more room.
    for (REFERENCE_TIME room = 50 * kMs; room <= 3200 * kMs; room *= 4) {
        CWinEvent evA(TRUE, FALSE), evB(TRUE, FALSE);
        REFERENCE_TIME now = 0;
        clock->GetTime(&now);
        DWORD_PTR a = 0, b = 0;
        ASSERT_EQ(clock->AdviseTime(now, room, evA, &a), S_OK);
        ASSERT_EQ(clock->AdviseTime(now, room + 10 * kMs, evB, &b), S_OK);
        if (clock->Unadvise(a) != S_OK) {
            continue;
        }
        EXPECT_EQ(clock->Unadvise(a), S_FALSE);
        ASSERT_TRUE(Signalled(evB, 10000));
        EXPECT_FALSE(Signalled(evA, 0));
        return;
    }
    FAIL() << "the clock fired every advise before it could be removed";
}

TEST(SystemClock, UnadviseRacingTheDeadlineNeverSignalsAfterItReturns) {
    // The renderer resets its event right after Unadvise; a signal arriving
    // later would wake a later wait for the wrong sample.
    ClockRef<CSystemClock> clock;
    CWinEvent ev(TRUE, FALSE);
    int removed = 0;
    const int loops = pelora_test::RaceLoops(2000);
    for (int i = 0; i < loops; ++i) {
        REFERENCE_TIME now = 0;
        clock->GetTime(&now);
        DWORD_PTR cookie = 0;
        ASSERT_EQ(clock->AdviseTime(now, (i % 3) * 1000, ev, &cookie), S_OK);
        if (i % 2 == 0) {
            std::this_thread::yield();
        }
        const HRESULT hr = clock->Unadvise(cookie);
        ev.Reset();
        if (hr == S_OK) {
            ++removed;
            // It was still pending when removed: nothing may set the event now.
            ASSERT_FALSE(Signalled(ev, 0)) << "round " << i;
        } else {
            ASSERT_EQ(hr, S_FALSE);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(Signalled(ev, 0));
    RecordProperty("removed", removed);
}

TEST(SystemClock, CookiesAreNeverZeroOrReusedAndArgumentsAreChecked) {
    ClockRef<CSystemClock> clock;
    CWinEvent ev(TRUE, FALSE);
    std::set<DWORD_PTR> seen;
    for (int i = 0; i < 500; ++i) {
        DWORD_PTR cookie = 0;
        ASSERT_EQ(clock->AdviseTime(i % 2 == 0 ? 0 : 0x7000000000000000LL, 0, ev, &cookie), S_OK);
        ASSERT_NE(cookie, 0u);
        EXPECT_TRUE(seen.insert(cookie).second);
        clock->Unadvise(cookie);
    }
    DWORD_PTR cookie = 0;
    EXPECT_EQ(clock->AdviseTime(0, 0, ev, nullptr), E_POINTER);
    EXPECT_EQ(clock->AdviseTime(0x7FFFFFFFFFFFFFFFLL, 1, ev, &cookie), E_INVALIDARG);
    EXPECT_EQ(clock->AdviseTime(0, 0, nullptr, &cookie), E_INVALIDARG);
    EXPECT_EQ(clock->AdvisePeriodic(0, 1, ev, &cookie), E_NOTIMPL);
}

TEST(SystemClock, ReleasingWithPendingAdvisesStopsItsThread) {
    CWinEvent ev(TRUE, FALSE);
    auto* clock = new CSystemClock();
    clock->AddRef();
    DWORD_PTR cookie = 0;
    ASSERT_EQ(clock->AdviseTime(0x7000000000000000LL, 0, ev, &cookie), S_OK);
    EXPECT_EQ(clock->Release(), 0u);  // joins the clock thread
    EXPECT_FALSE(Signalled(ev, 0));
}

TEST(ManualClock, MovesOnlyForwardWhenToldAndSignalsAdvisesExactlyWhenDue) {
    ClockRef<CManualClock> clock;
    CWinEvent ev(FALSE, FALSE);
    REFERENCE_TIME t = -1;
    clock->GetTime(&t);
    EXPECT_EQ(t, 0);
    DWORD_PTR cookie = 0, other = 0;
    ASSERT_EQ(clock->AdviseTime(10 * kMs, 5 * kMs, ev, &cookie), S_OK);
    ASSERT_EQ(clock->AdviseTime(0, 10 * kMs, ev, &other), S_OK);
    EXPECT_NE(cookie, other);
    EXPECT_EQ(clock->LastAdviseTime(), 10 * kMs);
    EXPECT_EQ(clock->Unadvise(other), S_OK);
    EXPECT_EQ(clock->Unadvise(other), S_FALSE);
    clock->SetTime(15 * kMs - 1);
    EXPECT_FALSE(Signalled(ev));  // the removed advise was due
    clock->SetTime(2 * kMs);
    clock->Advance(-kMs);
    clock->GetTime(&t);
    EXPECT_EQ(t, 15 * kMs - 1);  // never backwards
    clock->Advance(1);
    EXPECT_TRUE(Signalled(ev));
    clock->Advance(kMs);
    EXPECT_FALSE(Signalled(ev));  // once only
    EXPECT_EQ(clock->PendingAdvises(), 0);
    EXPECT_EQ(clock->Unadvise(cookie), S_FALSE);

    ASSERT_EQ(clock->AdviseTime(0, 0, ev, &cookie), S_OK);  // already due: at once
    EXPECT_TRUE(Signalled(ev));
    EXPECT_EQ(clock->PendingAdvises(), 0);
    EXPECT_EQ(clock->AdviseCount(), 3);
    EXPECT_EQ(clock->AdvisePeriodic(0, 1, ev, &cookie), E_NOTIMPL);
    EXPECT_EQ(clock->AdviseTime(0x7FFFFFFFFFFFFFFFLL, 1, ev, &cookie), E_INVALIDARG);
}

}  // namespace
