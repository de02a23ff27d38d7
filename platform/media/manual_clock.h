// platform/media: CManualClock, a reference clock whose time only moves when
// a test moves it (SetTime/Advance), for deterministic scheduling tests.
//
// It answers IReferenceClock exactly as CSystemClock does (both are
// CReferenceClockBase): time never decreases and the advise calls behave
// alike. Due advises are signalled by the thread that moves the time, under
// the clock lock; the clock has no thread.
// It also records the advise requests so that tests can see what a filter
// asked for.
// May include: the C++ standard library, platform/win, platform/com,
// platform/media. No Qt.
#pragma once

#include "platform/media/reference_clock_base.h"

class CManualClock final : public CReferenceClockBase {
public:
    explicit CManualClock(REFERENCE_TIME tStart = 0);
    ~CManualClock() override = default;

    // Moves the time to t (ignored when t is earlier than now) and signals
    // every advise that became due.
    void SetTime(REFERENCE_TIME t);
    // Moves the time forward by dt >= 0 (saturating).
    void Advance(REFERENCE_TIME dt);

    REFERENCE_TIME Now() override;
    // base + offset of the last accepted AdviseTime, or -1 if none yet.
    REFERENCE_TIME LastAdviseTime();
    // Number of AdviseTime calls accepted so far.
    int AdviseCount();
    // Advises registered and neither fired nor removed.
    int PendingAdvises();

private:
    REFERENCE_TIME TimeLocked() REQUIRES(m_Lock) override { return m_tNow; }
    void OnAdvised(REFERENCE_TIME tDue) REQUIRES(m_Lock) override;

    // Guarded by the clock lock (CReferenceClockBase::m_Lock):
    REFERENCE_TIME m_tNow GUARDED_BY(m_Lock);
    REFERENCE_TIME m_tLastAdvise GUARDED_BY(m_Lock) = -1;
    int m_nAdvises GUARDED_BY(m_Lock) = 0;
};
