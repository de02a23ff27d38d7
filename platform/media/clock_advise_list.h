// platform/media: CClockAdviseList, the pending one-shot advises of a
// reference clock (the system clock and the manual clock share it).
//
// Not thread-safe by itself: the owning clock holds its clock lock around
// every call, so signalling an advise and removing it (by Unadvise or by
// firing) happen under that one lock. Once Remove returns, the removed cookie
// is never signalled. Signalling only sets the event; nothing here calls into
// a filter.
// May include: the C++ standard library, platform/win, platform/com. No Qt.
#pragma once

#include <limits>
#include <map>

#include "platform/win/win_sync.h"
#include "platform/win/win_types.h"

class CClockAdviseList {
public:
    static constexpr REFERENCE_TIME kNever = std::numeric_limits<REFERENCE_TIME>::max();

    // Registers hEvent to be set at clock time tDue, or sets it at once when
    // tDue <= tNow. Either way *pCookie receives a fresh cookie (never 0,
    // never reused); a cookie whose event was set at once is not pending.
    // False only when the cookies are exhausted.
    bool Add(REFERENCE_TIME tDue, REFERENCE_TIME tNow, HANDLE hEvent, DWORD_PTR* pCookie);

    // True when the cookie was pending and is now removed; false for a cookie
    // that already fired, was removed before, or was never handed out.
    bool Remove(DWORD_PTR cookie);

    // Sets and removes every advise due at or before tNow.
    void SignalDue(REFERENCE_TIME tNow);

    // The earliest due time still pending, or kNever.
    REFERENCE_TIME NextDue() const;

    size_t PendingCount() const { return m_Pending.size(); }

private:
    struct Advise {
        REFERENCE_TIME tDue;
        HANDLE hEvent;
    };
    std::map<DWORD_PTR, Advise> m_Pending;
    DWORD_PTR m_NextCookie = 1;  // 0 once exhausted
};
