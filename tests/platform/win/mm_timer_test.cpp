#include "platform/win/mm_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "support/race_loops.h"
#include "support/watchdog.h"

namespace {

using namespace std::chrono_literals;
using pelora_test::WaitUntil;

// What one timer callback saw; the callback only writes through atomics.
struct CallbackRecord {
    std::atomic<int> calls{0};
    std::atomic<int> running{0};
};

void RecordingCallback(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    auto* rec = reinterpret_cast<CallbackRecord*>(user);
    rec->running.fetch_add(1);
    rec->calls.fetch_add(1);
    rec->running.fetch_sub(1);
}

UINT Arm(UINT delayMs, CallbackRecord& rec) {
    return timeSetEvent(delayMs, 10, RecordingCallback, reinterpret_cast<DWORD_PTR>(&rec),
                        TIME_ONESHOT);
}

// A callback that kills itself and a second, still pending timer.
struct SelfKill {
    std::atomic<UINT> otherId{0};
    std::atomic<MMRESULT> ownResult{0xFFFF};
    std::atomic<MMRESULT> otherResult{0xFFFF};
    std::atomic<bool> done{false};
};

void SelfKillingCallback(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    auto* s = reinterpret_cast<SelfKill*>(user);
    s->ownResult.store(timeKillEvent(id));
    s->otherResult.store(timeKillEvent(s->otherId.load()));
    s->done.store(true);
}

TEST(MmTimer, KillFromTheCallbackNeitherWaitsNorDeadlocks) {
    CallbackRecord other, later;
    SelfKill s;
    s.otherId = Arm(200, other);
    ASSERT_NE(s.otherId.load(), 0u);
    ASSERT_NE(
        timeSetEvent(5, 10, SelfKillingCallback, reinterpret_cast<DWORD_PTR>(&s), TIME_ONESHOT),
        0u);
    ASSERT_TRUE(WaitUntil([&] { return s.done.load(); }));
    EXPECT_EQ(s.ownResult.load(), TIMERR_NOERROR);
    EXPECT_EQ(s.otherResult.load(), TIMERR_NOERROR);
    // The timer thread still serves timers, and the killed one never fires.
    ASSERT_NE(Arm(250, later), 0u);
    EXPECT_TRUE(WaitUntil([&] { return later.calls.load() == 1; }));
    EXPECT_EQ(other.calls.load(), 0);
}

TEST(MmTimer, KillRacingTheDeadlineNeverLeavesACallbackBehind) {
    // Timers due at once, killed straight away: the kill waits for a callback
    // in progress, and a killed one never starts later. Ids are never 0 or
    // reused: the renderer's callback acts only for the id it stored.
    const int loops = pelora_test::RaceLoops(3000);
    std::vector<std::unique_ptr<CallbackRecord>> records;
    std::vector<int> callsAtKill;
    std::set<UINT> ids;
    for (int i = 0; i < loops; ++i) {
        records.push_back(std::make_unique<CallbackRecord>());
        CallbackRecord* rec = records.back().get();
        const UINT id = Arm(i % 2, *rec);
        ASSERT_NE(id, 0u);
        ASSERT_TRUE(ids.insert(id).second) << "id " << id << " handed out twice";
        if (i % 3 == 0) std::this_thread::yield();
        const MMRESULT r = timeKillEvent(id);
        ASSERT_EQ(rec->running.load(), 0);
        if (r == MMSYSERR_INVALPARAM) {
            ASSERT_EQ(rec->calls.load(), 1);  // it had finished
        }
        callsAtKill.push_back(rec->calls.load());
    }
    std::this_thread::sleep_for(20ms);
    for (int i = 0; i < loops; ++i) {
        ASSERT_EQ(records[i]->calls.load(), callsAtKill[i]) << "round " << i;
    }
}

// Counts of 100 ns (the timing lines print ten places: over 16 minutes) in
// step with the monotonic clock.
TEST(PerformanceCounter, Ticks100NanosecondCountsInStepWithTheMonotonicClock) {
    LARGE_INTEGER liFreq{}, liStart{}, liEnd{};
    ASSERT_TRUE(QueryPerformanceFrequency(&liFreq));
    EXPECT_EQ(liFreq.QuadPart, 10000000);
    const auto tStart = std::chrono::steady_clock::now();
    ASSERT_TRUE(QueryPerformanceCounter(&liStart));
    std::this_thread::sleep_for(30ms);
    ASSERT_TRUE(QueryPerformanceCounter(&liEnd));
    const auto tEnd = std::chrono::steady_clock::now();
    const double dCounterMs = static_cast<double>(liEnd.QuadPart - liStart.QuadPart) * 1000.0 /
                              static_cast<double>(liFreq.QuadPart);
    const double dClockMs = std::chrono::duration<double, std::milli>(tEnd - tStart).count();
    EXPECT_LE(dCounterMs, dClockMs);
    EXPECT_GE(dCounterMs, 30.0);
}

}  // namespace
