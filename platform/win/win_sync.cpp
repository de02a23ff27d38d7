// Events, semaphores and waits over one process-wide mutex and condition
// variable. Every state change notifies all waiters, who re-test their
// objects; the objects are few, so this stays cheap.
#include "platform/win/win_sync.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

namespace {

enum class Kind { Event, Semaphore };

struct WaitObject {
    Kind kind;
    bool bManualReset;  // events only
    LONG lCount;        // events: 0 or 1; semaphores: current count
    LONG lMaximum;      // semaphores only
};

// Guards every WaitObject's state.
std::mutex& SyncMutex() {
    static std::mutex s_Mutex;
    return s_Mutex;
}
std::condition_variable& SyncCondition() {
    static std::condition_variable s_Condition;
    return s_Condition;
}

WaitObject* ToObject(HANDLE h) { return static_cast<WaitObject*>(h); }

// Called with SyncMutex() held.
bool IsSignalled(const WaitObject* p) { return p->lCount > 0; }

// Called with SyncMutex() held, only for an object that is signalled.
void Consume(WaitObject* p) {
    if (p->kind == Kind::Semaphore || !p->bManualReset) {
        --p->lCount;
    }
}

// Called with SyncMutex() held. Returns the satisfied result or WAIT_TIMEOUT
// when the wait is not (yet) satisfied.
DWORD TryWait(DWORD nCount, const HANDLE* pHandles, BOOL bWaitAll) {
    if (bWaitAll) {
        for (DWORD i = 0; i < nCount; ++i) {
            if (!IsSignalled(ToObject(pHandles[i]))) return WAIT_TIMEOUT;
        }
        for (DWORD i = 0; i < nCount; ++i) Consume(ToObject(pHandles[i]));
        return WAIT_OBJECT_0;
    }
    for (DWORD i = 0; i < nCount; ++i) {
        WaitObject* p = ToObject(pHandles[i]);
        if (IsSignalled(p)) {
            Consume(p);
            return WAIT_OBJECT_0 + i;
        }
    }
    return WAIT_TIMEOUT;
}

}  // namespace

HANDLE CreateEvent(LPVOID, BOOL bManualReset, BOOL bInitialState, LPCWSTR) {
    return new (std::nothrow)
        WaitObject{Kind::Event, bManualReset != FALSE, bInitialState ? 1 : 0, 1};
}

BOOL SetEvent(HANDLE hEvent) {
    WaitObject* p = ToObject(hEvent);
    if (!p || p->kind != Kind::Event) return FALSE;
    {
        std::lock_guard<std::mutex> lock(SyncMutex());
        p->lCount = 1;
    }
    SyncCondition().notify_all();
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
    WaitObject* p = ToObject(hEvent);
    if (!p || p->kind != Kind::Event) return FALSE;
    std::lock_guard<std::mutex> lock(SyncMutex());
    p->lCount = 0;
    return TRUE;
}

HANDLE CreateSemaphore(LPVOID, LONG lInitialCount, LONG lMaximumCount, LPCWSTR) {
    if (lMaximumCount <= 0 || lInitialCount < 0 || lInitialCount > lMaximumCount) {
        return nullptr;
    }
    return new (std::nothrow) WaitObject{Kind::Semaphore, false, lInitialCount, lMaximumCount};
}

BOOL ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LONG* plPreviousCount) {
    WaitObject* p = ToObject(hSemaphore);
    if (!p || p->kind != Kind::Semaphore || lReleaseCount <= 0) return FALSE;
    {
        std::lock_guard<std::mutex> lock(SyncMutex());
        // Compare without forming the sum, which could overflow.
        if (lReleaseCount > p->lMaximum - p->lCount) return FALSE;
        if (plPreviousCount) *plPreviousCount = p->lCount;
        p->lCount += lReleaseCount;
    }
    SyncCondition().notify_all();
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
    if (!hObject) return FALSE;
    delete ToObject(hObject);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hObject, DWORD dwMilliseconds) {
    return WaitForMultipleObjects(1, &hObject, FALSE, dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !pHandles) return WAIT_FAILED;
    for (DWORD i = 0; i < nCount; ++i) {
        if (!pHandles[i]) return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(SyncMutex());
    DWORD dwResult = TryWait(nCount, pHandles, bWaitAll);
    if (dwResult != WAIT_TIMEOUT || dwMilliseconds == 0) return dwResult;
    if (dwMilliseconds == INFINITE) {
        for (;;) {
            SyncCondition().wait(lock);
            dwResult = TryWait(nCount, pHandles, bWaitAll);
            if (dwResult != WAIT_TIMEOUT) return dwResult;
        }
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
    for (;;) {
        const bool bTimedOut =
            SyncCondition().wait_until(lock, deadline) == std::cv_status::timeout;
        dwResult = TryWait(nCount, pHandles, bWaitAll);
        if (dwResult != WAIT_TIMEOUT || bTimedOut) return dwResult;
    }
}
