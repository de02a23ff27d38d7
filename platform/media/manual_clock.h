// platform/media: CManualClock, a reference clock whose time only moves when
// a test moves it (SetTime/Advance), for deterministic scheduling tests.
//
// It answers IReferenceClock exactly as CSystemClock does: time never
// decreases, AdviseTime sets the event once when the time reaches base +
// offset (at once when already reached), Unadvise answers S_OK only when it
// removed a pending advise, cookies are never 0 and never reused, and
// AdvisePeriodic answers E_NOTIMPL. Due advises are signalled by the thread
// that moves the time, under the clock lock; the clock has no thread.
// It also records the advise requests so that tests can see what a filter
// asked for.
// May include: the C++ standard library, platform/win, platform/com,
// platform/media. No Qt.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/media/clock_advise_list.h"
#include "platform/media/media_interfaces.h"

class CManualClock final : public IReferenceClock {
public:
    explicit CManualClock(REFERENCE_TIME tStart = 0);
    ~CManualClock() override = default;
    CManualClock(const CManualClock&) = delete;
    CManualClock& operator=(const CManualClock&) = delete;

    // Moves the time to t (ignored when t is earlier than now) and signals
    // every advise that became due.
    void SetTime(REFERENCE_TIME t);
    // Moves the time forward by dt >= 0 (saturating).
    void Advance(REFERENCE_TIME dt);

    REFERENCE_TIME Now();
    // base + offset of the last accepted AdviseTime, or -1 if none yet.
    REFERENCE_TIME LastAdviseTime();
    // Number of AdviseTime calls accepted so far.
    int AdviseCount();
    // Advises registered and neither fired nor removed.
    int PendingAdvises();

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
    std::atomic<ULONG> m_cRef{0};

    std::mutex m_Lock;  // the clock lock: guards every field below
    REFERENCE_TIME m_tNow;
    REFERENCE_TIME m_tLastAdvise = -1;
    int m_nAdvises = 0;
    CClockAdviseList m_Advises;
};
