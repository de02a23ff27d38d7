// platform/media: CSystemClock, the graph's reference clock (CLSID_SystemClock).
//
// Time is CLOCK_MONOTONIC in 100-ns units, never decreasing.
// AdviseTime(base, offset, event) sets the event exactly once, when the clock
// reaches base + offset, or at once when that time has already passed; the
// cookie is never 0 and never reused. Unadvise answers S_OK when it removed a
// pending advise and S_FALSE otherwise; after it returns that cookie is never
// signalled (signalling and removal both happen under m_Lock).
// AdvisePeriodic is not provided (E_NOTIMPL).
//
// Threads: any thread may call any method. The clock's own thread, started
// with the first pending advise, only sets events: it never calls into a
// filter and takes no lock but m_Lock.
// May include: the C++ standard library, platform/win, platform/com,
// platform/media. No Qt.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/media/clock_advise_list.h"
#include "platform/media/media_interfaces.h"

class CSystemClock final : public IReferenceClock {
public:
    CSystemClock();
    ~CSystemClock() override;
    CSystemClock(const CSystemClock&) = delete;
    CSystemClock& operator=(const CSystemClock&) = delete;

    // Class creator for the COM registry (no aggregation).
    static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv);
    // Registers CLSID_SystemClock with CoCreateInstance; idempotent.
    static HRESULT RegisterClass();

    // IUnknown; the count starts at 0 and the last Release deletes.
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IReferenceClock
    HRESULT GetTime(REFERENCE_TIME* pTime) override;
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                       DWORD_PTR* pdwAdviseCookie) override;
    HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                           HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) override;
    HRESULT Unadvise(DWORD_PTR dwAdviseCookie) override;

private:
    REFERENCE_TIME Now();  // monotonic, never below an earlier answer
    void ThreadProc();

    std::atomic<ULONG> m_cRef{0};
    std::atomic<REFERENCE_TIME> m_tLast{0};  // highest time answered so far

    std::mutex m_Lock;  // the clock lock: guards m_Advises, m_bStop, m_Thread start
    std::condition_variable m_cvChanged;  // an advise was added, or stop
    CClockAdviseList m_Advises;
    bool m_bStop = false;
    std::thread m_Thread;  // started with the first pending advise
};
