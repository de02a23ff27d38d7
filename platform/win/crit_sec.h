// platform/win: CCritSec, the re-entrant lock of the framework, and CAutoLock,
// its scoped guard.
//
// CCritSec behaves like a Win32 critical section: the owning thread may take
// it again (the filter and renderer paths re-enter their locks), and it must
// be left as often as it was entered. CAutoLock leaves it on every return.
// Both carry lock annotations (thread_annotations.h). clang's analysis does
// not model re-entry: a function that takes a lock its caller already holds
// is fine, a function that takes the same lock twice itself is reported.
// May include: the C++ standard library and platform/win only. No Qt.
#pragma once

#include <atomic>
#include <cassert>
#include <mutex>
#include <thread>

#include "platform/win/thread_annotations.h"

class CAPABILITY("mutex") CCritSec {
public:
    CCritSec() = default;
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;
    virtual ~CCritSec() = default;

    void Lock() ACQUIRE() {
        m_Mutex.lock();
        m_Owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
        ++m_nDepth;
    }

    void Unlock() RELEASE() {
        if (--m_nDepth == 0) {
            m_Owner.store(std::thread::id(), std::memory_order_relaxed);
        }
        m_Mutex.unlock();
    }

    // For assertions: whether the calling thread holds the lock. Exact for the
    // calling thread (only the owner can store its own id).
    bool IsOwnedByCurrentThread() const {
        return m_Owner.load(std::memory_order_relaxed) == std::this_thread::get_id();
    }

    // Where the lock was taken through another pointer to it (a base class's
    // m_pLock set to a derived class's member), tells the lock analysis that
    // the calling thread holds it; checked in debug builds.
    void AssertHeld() const ASSERT_CAPABILITY(this) { assert(IsOwnedByCurrentThread()); }

private:
    std::recursive_mutex m_Mutex;
    std::atomic<std::thread::id> m_Owner{};
    int m_nDepth = 0;  // guarded by m_Mutex
};

class SCOPED_CAPABILITY CAutoLock {
public:
    explicit CAutoLock(CCritSec* pLock) ACQUIRE(pLock) : m_pLock(pLock) { m_pLock->Lock(); }
    ~CAutoLock() RELEASE() { m_pLock->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCritSec* m_pLock;
};
