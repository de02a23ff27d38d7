// platform/win: kernel wait objects (events and semaphores) behind an opaque
// HANDLE, and the waits on them, with the Win32 names and results.
//
// - Events are manual-reset (stay signalled until ResetEvent) or auto-reset
//   (one satisfied wait consumes the signal).
// - Semaphores count from 0 up to their maximum; ReleaseSemaphore that would
//   pass the maximum fails and releases nothing.
// - WaitForMultipleObjects (wait-any) reports the lowest-index signalled
//   object and consumes only that one (an auto-reset event or one semaphore
//   unit); wait-all consumes all of them at once.
// - Timeouts are in milliseconds; INFINITE waits without a limit.
// All objects share one process-wide mutex and condition variable, which is
// plenty for the handful of objects a graph uses. A handle must not be closed
// while another thread waits on it or signals it.
// May include: the C++ standard library and platform/win only. No Qt.
#pragma once

#include "platform/win/win_types.h"

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// Security attributes and names are accepted for the sake of the signatures
// and ignored: every object here is private to the process.
HANDLE CreateEvent(LPVOID pSecurity, BOOL bManualReset, BOOL bInitialState, LPCWSTR pName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);

HANDLE CreateSemaphore(LPVOID pSecurity, LONG lInitialCount, LONG lMaximumCount, LPCWSTR pName);
BOOL ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LONG* plPreviousCount);

BOOL CloseHandle(HANDLE hObject);

DWORD WaitForSingleObject(HANDLE hObject, DWORD dwMilliseconds);
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds);

// Owning wrapper of an event handle for members such as a renderer's render
// and state events. Creation failure leaves a null handle (check IsValid()).
class CWinEvent {
public:
    explicit CWinEvent(BOOL bManualReset = FALSE, BOOL bInitialState = FALSE)
        : m_hEvent(CreateEvent(nullptr, bManualReset, bInitialState, nullptr)) {}
    ~CWinEvent() {
        if (m_hEvent) CloseHandle(m_hEvent);
    }
    CWinEvent(const CWinEvent&) = delete;
    CWinEvent& operator=(const CWinEvent&) = delete;

    bool IsValid() const { return m_hEvent != nullptr; }
    operator HANDLE() const { return m_hEvent; }
    void Set() { SetEvent(m_hEvent); }
    void Reset() { ResetEvent(m_hEvent); }
    // True when the event was (or became) signalled within dwTimeout ms.
    bool Wait(DWORD dwTimeout = INFINITE) {
        return WaitForSingleObject(m_hEvent, dwTimeout) == WAIT_OBJECT_0;
    }
    // Polls without waiting (consumes an auto-reset signal, as a wait does).
    bool Check() { return Wait(0); }

private:
    HANDLE m_hEvent;
};
