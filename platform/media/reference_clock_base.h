// platform/media: CReferenceClockBase, what the system clock and the manual
// clock share: reference counting, QueryInterface, and the one-shot advise
// calls (AdviseTime, Unadvise, AdvisePeriodic) over one CClockAdviseList.
//
// Contract for both clocks: AdviseTime(base, offset, event) sets the event
// exactly once, when the clock reaches base + offset, or at once when that
// time has already passed; the cookie is never 0 and never reused. Unadvise
// answers S_OK when it removed a pending advise and S_FALSE otherwise; after
// it returns that cookie is never signalled (signalling and removal both
// happen under m_Lock). AdvisePeriodic answers E_NOTIMPL.
//
// Threads: m_Lock is the clock lock. It guards m_Advises and whatever fields
// the derived clock says it guards; TimeLocked and OnAdvised are called with
// it held. Now is called without it.
// May include: the C++ standard library, platform/win, platform/com,
// platform/media. No Qt.
#pragma once

#include <atomic>

#include "platform/media/clock_advise_list.h"
#include "platform/media/media_interfaces.h"
#include "platform/win/std_mutex.h"

class CReferenceClockBase : public IReferenceClock {
public:
    CReferenceClockBase(const CReferenceClockBase&) = delete;
    CReferenceClockBase& operator=(const CReferenceClockBase&) = delete;

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

protected:
    CReferenceClockBase() = default;
    ~CReferenceClockBase() override = default;

    // The clock's time, never decreasing; called without m_Lock.
    virtual REFERENCE_TIME Now() = 0;
    // The clock's time, called with m_Lock held.
    virtual REFERENCE_TIME TimeLocked() REQUIRES(m_Lock) = 0;
    // Called with m_Lock held after AdviseTime registered an advise due at
    // tDue (it may already have been signalled).
    virtual void OnAdvised(REFERENCE_TIME tDue) REQUIRES(m_Lock) = 0;

    CStdMutex m_Lock;  // the clock lock: guards m_Advises and the derived clock's named fields
    CClockAdviseList m_Advises GUARDED_BY(m_Lock);

private:
    std::atomic<ULONG> m_cRef{0};
};
