#include "platform/win/mm_timer.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <thread>

#include "platform/win/std_mutex.h"

namespace {

using Clock = std::chrono::steady_clock;

// The process-wide timer queue and its thread. Constructed on first use and
// destroyed at static destruction, which stops and joins the thread.
class CTimerQueue {
public:
    static CTimerQueue& Instance() {
        static CTimerQueue queue;
        return queue;
    }

    ~CTimerQueue() {
        {
            CStdMutexLock lock(&m_Lock);
            m_bStop = true;
        }
        m_cvWork.notify_all();
        if (m_Thread.joinable()) {
            if (m_Thread.get_id() == std::this_thread::get_id()) {
                m_Thread.detach();  // exit() from a callback: cannot join self
            } else {
                m_Thread.join();
            }
        }
    }

    CTimerQueue(const CTimerQueue&) = delete;
    CTimerQueue& operator=(const CTimerQueue&) = delete;

    UINT Add(UINT uDelay, LPTIMECALLBACK pfn, DWORD_PTR dwUser) {
        CStdMutexLock lock(&m_Lock);
        if (m_bStop || m_uNextId == 0) {
            return 0;  // shutting down, or all 2^32 - 1 ids used
        }
        if (!m_Thread.joinable()) {
            m_Thread = std::thread([this] { ThreadProc(); });
        }
        const UINT id = m_uNextId;
        m_uNextId = m_uNextId + 1;  // wraps to 0, which ends id handout for good
        m_Pending.emplace(id, Entry{Clock::now() + std::chrono::milliseconds(uDelay), pfn, dwUser});
        m_cvWork.notify_all();
        return id;
    }

    MMRESULT Kill(UINT id) {
        CStdMutexLock lock(&m_Lock);
        if (id == 0) {
            return MMSYSERR_INVALPARAM;
        }
        if (m_Pending.erase(id) != 0) {
            return TIMERR_NOERROR;
        }
        if (m_uRunningId != id) {
            return MMSYSERR_INVALPARAM;
        }
        if (std::this_thread::get_id() == m_Thread.get_id()) {
            return TIMERR_NOERROR;  // the running callback kills itself
        }
        // The wait ends when the callback returns; it holds no lock of ours.
        m_cvDone.wait(lock.Native(), [&]() REQUIRES(m_Lock) { return m_uRunningId != id; });
        return TIMERR_NOERROR;
    }

private:
    struct Entry {
        Clock::time_point due;
        LPTIMECALLBACK pfn;
        DWORD_PTR dwUser;
    };

    CTimerQueue() = default;

    void ThreadProc() {
        CStdMutexLock lock(&m_Lock);
        while (!m_bStop) {
            if (m_Pending.empty()) {
                m_cvWork.wait(lock.Native());
                continue;
            }
            auto next = m_Pending.begin();
            for (auto it = m_Pending.begin(); it != m_Pending.end(); ++it) {
                if (it->second.due < next->second.due) {
                    next = it;
                }
            }
            // A copy: the entry may be killed (erased) while this thread waits.
            const Clock::time_point due = next->second.due;
            if (Clock::now() < due) {
                m_cvWork.wait_until(lock.Native(), due);
                continue;
            }
            const UINT id = next->first;
            const Entry entry = next->second;
            m_Pending.erase(next);
            m_uRunningId = id;
            lock.Unlock();
            entry.pfn(id, 0, entry.dwUser, 0, 0);
            lock.Lock();
            m_uRunningId = 0;
            m_cvDone.notify_all();
        }
    }

    CStdMutex m_Lock;                                    // guards every field below
    std::condition_variable m_cvWork;                    // a timer was added, or stop
    std::condition_variable m_cvDone;                    // a callback finished
    std::map<UINT, Entry> m_Pending GUARDED_BY(m_Lock);  // armed timers by id
    UINT m_uNextId GUARDED_BY(m_Lock) = 1;               // next id to hand out; 0 = exhausted
    UINT m_uRunningId GUARDED_BY(m_Lock) = 0;            // id whose callback runs now, or 0
    bool m_bStop GUARDED_BY(m_Lock) = false;
    std::thread m_Thread GUARDED_BY(m_Lock);  // started by the first Add
};

}  // namespace

MMRESULT timeSetEvent(UINT uDelay, UINT /*uResolution*/, LPTIMECALLBACK lpTimeProc,
                      DWORD_PTR dwUser, UINT fuEvent) {
    if (lpTimeProc == nullptr || (fuEvent & ~TIME_KILL_SYNCHRONOUS) != 0) {
        return 0;
    }
    return CTimerQueue::Instance().Add(uDelay, lpTimeProc, dwUser);
}

MMRESULT timeKillEvent(UINT uTimerID) { return CTimerQueue::Instance().Kill(uTimerID); }
