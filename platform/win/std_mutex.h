// platform/win: CStdMutex, a std::mutex that clang's lock analysis knows
// (thread_annotations.h), and CStdMutexLock, its scoped guard. For the leaf
// locks that are not re-entrant and pair with a std::condition_variable: a
// wait hands the guard's Native() lock to the condition variable. The
// analysis does not see the lock released during the wait; a predicate
// that reads guarded fields says REQUIRES(the lock).
// May include: the C++ standard library and platform/win only. No Qt.
#pragma once

#include <mutex>

#include "platform/win/thread_annotations.h"

class CAPABILITY("mutex") CStdMutex {
public:
    CStdMutex() = default;
    CStdMutex(const CStdMutex&) = delete;
    CStdMutex& operator=(const CStdMutex&) = delete;

    void Lock() ACQUIRE() { m_Mutex.lock(); }
    void Unlock() RELEASE() { m_Mutex.unlock(); }
    std::mutex& Native() { return m_Mutex; }

private:
    std::mutex m_Mutex;
};

class SCOPED_CAPABILITY CStdMutexLock {
public:
    explicit CStdMutexLock(CStdMutex* pMutex) ACQUIRE(pMutex) : m_Lock(pMutex->Native()) {}
    ~CStdMutexLock() RELEASE() {}
    CStdMutexLock(const CStdMutexLock&) = delete;
    CStdMutexLock& operator=(const CStdMutexLock&) = delete;

    // Leaves and retakes the lock within the guard's scope (a callback that
    // must run without it).
    void Unlock() RELEASE() { m_Lock.unlock(); }
    void Lock() ACQUIRE() { m_Lock.lock(); }

    // For std::condition_variable waits only.
    std::unique_lock<std::mutex>& Native() { return m_Lock; }

private:
    std::unique_lock<std::mutex> m_Lock;
};
