#include "platform/media/manual_clock.h"

#include "platform/win/int_math.h"

CManualClock::CManualClock(REFERENCE_TIME tStart) : m_tNow(tStart) {}

void CManualClock::SetTime(REFERENCE_TIME t) {
    CStdMutexLock lock(&m_Lock);
    if (t > m_tNow) {
        m_tNow = t;
    }
    m_Advises.SignalDue(m_tNow);
}

void CManualClock::Advance(REFERENCE_TIME dt) {
    CStdMutexLock lock(&m_Lock);
    if (dt > 0) {
        m_tNow = SatAdd64(m_tNow, dt);
    }
    m_Advises.SignalDue(m_tNow);
}

REFERENCE_TIME CManualClock::Now() {
    CStdMutexLock lock(&m_Lock);
    return m_tNow;
}

REFERENCE_TIME CManualClock::LastAdviseTime() {
    CStdMutexLock lock(&m_Lock);
    return m_tLastAdvise;
}

int CManualClock::AdviseCount() {
    CStdMutexLock lock(&m_Lock);
    return m_nAdvises;
}

int CManualClock::PendingAdvises() {
    CStdMutexLock lock(&m_Lock);
    return static_cast<int>(m_Advises.PendingCount());
}

void CManualClock::OnAdvised(REFERENCE_TIME tDue) {
    m_tLastAdvise = tDue;
    ++m_nAdvises;
}
