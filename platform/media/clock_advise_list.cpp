#include "platform/media/clock_advise_list.h"

bool CClockAdviseList::Add(REFERENCE_TIME tDue, REFERENCE_TIME tNow, HANDLE hEvent,
                           DWORD_PTR* pCookie) {
    if (m_NextCookie == 0) {
        return false;
    }
    const DWORD_PTR cookie = m_NextCookie;
    m_NextCookie = m_NextCookie + 1;  // wraps to 0 after the last cookie
    if (tDue <= tNow) {
        SetEvent(hEvent);
    } else {
        m_Pending.emplace(cookie, Advise{tDue, hEvent});
    }
    *pCookie = cookie;
    return true;
}

bool CClockAdviseList::Remove(DWORD_PTR cookie) { return m_Pending.erase(cookie) != 0; }

void CClockAdviseList::SignalDue(REFERENCE_TIME tNow) {
    for (auto it = m_Pending.begin(); it != m_Pending.end();) {
        if (it->second.tDue <= tNow) {
            SetEvent(it->second.hEvent);
            it = m_Pending.erase(it);
        } else {
            ++it;
        }
    }
}

REFERENCE_TIME CClockAdviseList::NextDue() const {
    REFERENCE_TIME next = kNever;
    for (const auto& [cookie, advise] : m_Pending) {
        if (advise.tDue < next) {
            next = advise.tDue;
        }
    }
    return next;
}
