#include "platform/win/mm_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "support/race_loops.h"

namespace {

using namespace std::chrono_literals;

// What one timer callback saw; the test owns it and the callback only writes
// through atomics.
struct CallbackRecord {
    std::atomic<int> calls{0};
    std::atomic<int> running{0};
    std::atomic<UINT> seenId{0};
    std::atomic<bool> otherThread{false};
    std::thread::id callerThread;
    int sleepMs = 0;
};

void RecordingCallback(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    auto* rec = reinterpret_cast<CallbackRecord*>(user);
    rec->running.fetch_add(1);
    rec->seenId.store(id);
    rec->otherThread.store(std::this_thread::get_id() != rec->callerThread);
    if (rec->sleepMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(rec->sleepMs));
    }
    rec->calls.fetch_add(1);
    rec->running.fetch_sub(1);
}

bool WaitFor(const std::atomic<int>& value, int expected, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (value.load() != expected) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(MmTimer, OneShotFiresOnceOnTheTimerThreadWithItsOwnId) {
    CallbackRecord rec;
    rec.callerThread = std::this_thread::get_id();
    const DWORD t0 = timeGetTime();
    const UINT id = timeSetEvent(30, 10, RecordingCallback, reinterpret_cast<DWORD_PTR>(&rec),
                                 TIME_ONESHOT | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(WaitFor(rec.calls, 1, 5000ms));
    EXPECT_GE(timeGetTime() - t0, 30u);
    EXPECT_EQ(rec.seenId.load(), id);
    EXPECT_TRUE(rec.otherThread.load());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(rec.calls.load(), 1);
    // A fired one-shot timer is gone.
    EXPECT_EQ(timeKillEvent(id), MMSYSERR_INVALPARAM);
}

TEST(MmTimer, RefusesWhatItCannotProvide) {
    CallbackRecord rec;
    EXPECT_EQ(timeSetEvent(10, 10, nullptr, 0, TIME_ONESHOT), 0u);
    EXPECT_EQ(
        timeSetEvent(10, 10, RecordingCallback, reinterpret_cast<DWORD_PTR>(&rec), TIME_PERIODIC),
        0u);
    EXPECT_EQ(timeSetEvent(10, 10, RecordingCallback, reinterpret_cast<DWORD_PTR>(&rec),
                           TIME_CALLBACK_EVENT_SET),
              0u);
    EXPECT_EQ(timeKillEvent(0), MMSYSERR_INVALPARAM);
}

TEST(MmTimer, IdsAreNeverZeroAndNeverReused) {
    CallbackRecord rec;
    std::set<UINT> seen;
    for (int i = 0; i < 1000; ++i) {
        const UINT id = timeSetEvent(60000, 10, RecordingCallback,
                                     reinterpret_cast<DWORD_PTR>(&rec), TIME_ONESHOT);
        ASSERT_NE(id, 0u);
        EXPECT_TRUE(seen.insert(id).second) << "id " << id << " handed out twice";
        ASSERT_EQ(timeKillEvent(id), TIMERR_NOERROR);
        EXPECT_EQ(timeKillEvent(id), MMSYSERR_INVALPARAM);  // second kill finds nothing
    }
    EXPECT_EQ(rec.calls.load(), 0);
}

TEST(MmTimer, KillOfAPendingTimerPreventsTheCallback) {
    CallbackRecord rec;
    CallbackRecord later;
    const UINT id =
        timeSetEvent(200, 10, RecordingCallback, reinterpret_cast<DWORD_PTR>(&rec), TIME_ONESHOT);
    ASSERT_NE(id, 0u);
    // Due after the first one: once it ran, the first one's time has passed.
    ASSERT_NE(
        timeSetEvent(210, 10, RecordingCallback, reinterpret_cast<DWORD_PTR>(&later), TIME_ONESHOT),
        0u);
    EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);
    ASSERT_TRUE(WaitFor(later.calls, 1, 5000ms));
    EXPECT_EQ(rec.calls.load(), 0);
}

TEST(MmTimer, KillWaitsForACallbackInProgress) {
    CallbackRecord rec;
    rec.sleepMs = 50;
    const UINT id =
        timeSetEvent(0, 10, RecordingCallback, reinterpret_cast<DWORD_PTR>(&rec), TIME_ONESHOT);
    ASSERT_NE(id, 0u);
    while (rec.running.load() == 0 && rec.calls.load() == 0) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);
    // The kill returned: the callback must have finished, not merely started.
    EXPECT_EQ(rec.running.load(), 0);
    EXPECT_EQ(rec.calls.load(), 1);
}

// A callback that kills itself and a second, still pending timer.
struct SelfKill {
    std::atomic<UINT> ownId{0};
    std::atomic<UINT> otherId{0};
    std::atomic<MMRESULT> ownResult{0xFFFF};
    std::atomic<MMRESULT> otherResult{0xFFFF};
    std::atomic<int> done{0};
};

void SelfKillingCallback(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    auto* s = reinterpret_cast<SelfKill*>(user);
    s->ownId.store(id);
    s->ownResult.store(timeKillEvent(id));
    s->otherResult.store(timeKillEvent(s->otherId.load()));
    s->done.store(1);
}

TEST(MmTimer, KillFromTheCallbackNeitherWaitsNorDeadlocks) {
    CallbackRecord other;
    SelfKill s;
    s.otherId =
        timeSetEvent(200, 10, RecordingCallback, reinterpret_cast<DWORD_PTR>(&other), TIME_ONESHOT);
    ASSERT_NE(s.otherId.load(), 0u);
    const UINT id =
        timeSetEvent(5, 10, SelfKillingCallback, reinterpret_cast<DWORD_PTR>(&s), TIME_ONESHOT);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(WaitFor(s.done, 1, 5000ms));
    EXPECT_EQ(s.ownId.load(), id);
    EXPECT_EQ(s.ownResult.load(), TIMERR_NOERROR);
    EXPECT_EQ(s.otherResult.load(), TIMERR_NOERROR);
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(other.calls.load(), 0);
    // The timer thread still works after a callback killed itself.
    CallbackRecord later;
    ASSERT_NE(
        timeSetEvent(1, 10, RecordingCallback, reinterpret_cast<DWORD_PTR>(&later), TIME_ONESHOT),
        0u);
    EXPECT_TRUE(WaitFor(later.calls, 1, 5000ms));
}

TEST(MmTimer, KillRacingTheDeadlineNeverLeavesACallbackBehind) {
    // Each round arms a timer that is due at once and kills it straight away.
    // Whether the callback ran or not, after the kill it must not be running
    // and must never start later.
    const int loops = pelora_test::RaceLoops(3000);
    std::vector<std::unique_ptr<CallbackRecord>> records;
    std::vector<int> callsAtKill;
    for (int i = 0; i < loops; ++i) {
        records.push_back(std::make_unique<CallbackRecord>());
        CallbackRecord* rec = records.back().get();
        const UINT id = timeSetEvent(i % 2, 10, RecordingCallback, reinterpret_cast<DWORD_PTR>(rec),
                                     TIME_ONESHOT);
        ASSERT_NE(id, 0u);
        if (i % 3 == 0) {
            std::this_thread::yield();
        }
        const MMRESULT r = timeKillEvent(id);
        ASSERT_EQ(rec->running.load(), 0);
        // INVALPARAM only when the callback had already finished.
        if (r == MMSYSERR_INVALPARAM) {
            ASSERT_EQ(rec->calls.load(), 1);
        }
        callsAtKill.push_back(rec->calls.load());
    }
    // Give any stray callback the chance to run late.
    std::this_thread::sleep_for(20ms);
    for (int i = 0; i < loops; ++i) {
        ASSERT_EQ(records[i]->calls.load(), callsAtKill[i]) << "round " << i;
    }
}

TEST(MmTimer, CallbacksRunInDeadlineOrder) {
    struct Order {
        std::mutex lock;
        std::vector<int> seen;  // guarded by lock
        std::atomic<int> count{0};
    } order;
    struct Tag {
        Order* order;
        int value;
    };
    auto cb = [](UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
        auto* tag = reinterpret_cast<Tag*>(user);
        std::lock_guard<std::mutex> l(tag->order->lock);
        tag->order->seen.push_back(tag->value);
        tag->order->count.fetch_add(1);
    };
    Tag late{&order, 2}, early{&order, 1};
    ASSERT_NE(timeSetEvent(60, 10, cb, reinterpret_cast<DWORD_PTR>(&late), TIME_ONESHOT), 0u);
    ASSERT_NE(timeSetEvent(10, 10, cb, reinterpret_cast<DWORD_PTR>(&early), TIME_ONESHOT), 0u);
    ASSERT_TRUE(WaitFor(order.count, 2, 5000ms));
    std::lock_guard<std::mutex> l(order.lock);
    EXPECT_EQ(order.seen, (std::vector<int>{1, 2}));
}

}  // namespace
