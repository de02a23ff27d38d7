// platform/media: CSystemClock, the graph's reference clock (CLSID_SystemClock).
//
// Time is CLOCK_MONOTONIC in 100-ns units, never decreasing. The advise
// calls are CReferenceClockBase's.
//
// Threads: any thread may call any method. The clock's own thread, started
// with the first pending advise, only sets events: it never calls into a
// filter and takes no lock but m_Lock.
// May include: the C++ standard library, platform/win, platform/com,
// platform/media. No Qt.
#pragma once

#include <atomic>
#include <condition_variable>
#include <thread>

#include "platform/media/reference_clock_base.h"

class CSystemClock final : public CReferenceClockBase {
public:
    CSystemClock();
    ~CSystemClock() override;

    // Class creator for the COM registry (no aggregation).
    static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv);

private:
    REFERENCE_TIME Now() override;  // monotonic, never below an earlier answer
    REFERENCE_TIME TimeLocked() REQUIRES(m_Lock) override { return Now(); }
    void OnAdvised(REFERENCE_TIME tDue) REQUIRES(m_Lock) override;  // starts the thread, wakes it
    void ThreadProc();

    std::atomic<REFERENCE_TIME> m_tLast{0};  // highest time answered so far

    // The clock lock (CReferenceClockBase::m_Lock) guards m_bStop and the
    // start of m_Thread, besides the advise list.
    std::condition_variable m_cvChanged;  // an advise was added, or stop
    bool m_bStop GUARDED_BY(m_Lock) = false;
    std::thread m_Thread GUARDED_BY(m_Lock);  // started with the first pending advise
};
