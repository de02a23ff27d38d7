#include "platform/media/manual_clock.h"

#include "platform/win/int_math.h"

CManualClock::CManualClock(REFERENCE_TIME tStart) : m_tNow(tStart) {}

void CManualClock::SetTime(REFERENCE_TIME t) {
    std::lock_guard<std::mutex> lock(m_Lock);
    if (t > m_tNow) {
        m_tNow = t;
    }
    m_Advises.SignalDue(m_tNow);
}

void CManualClock::Advance(REFERENCE_TIME dt) {
    std::lock_guard<std::mutex> lock(m_Lock);
    if (dt > 0) {
        m_tNow = SatAdd64(m_tNow, dt);
    }
    m_Advises.SignalDue(m_tNow);
}

REFERENCE_TIME CManualClock::Now() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_tNow;
}

REFERENCE_TIME CManualClock::LastAdviseTime() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_tLastAdvise;
}

int CManualClock::AdviseCount() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_nAdvises;
}

int CManualClock::PendingAdvises() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return static_cast<int>(m_Advises.PendingCount());
}

HRESULT CManualClock::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IReferenceClock) {
        *ppv = static_cast<IReferenceClock*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CManualClock::AddRef() { return m_cRef.fetch_add(1) + 1; }

ULONG CManualClock::Release() {
    const ULONG c = m_cRef.fetch_sub(1) - 1;
    if (c == 0) {
        delete this;
    }
    return c;
}

HRESULT CManualClock::GetTime(REFERENCE_TIME* pTime) {
    if (pTime == nullptr) {
        return E_POINTER;
    }
    *pTime = Now();
    return S_OK;
}

HRESULT CManualClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                                 DWORD_PTR* pdwAdviseCookie) {
    if (pdwAdviseCookie == nullptr) {
        return E_POINTER;
    }
    *pdwAdviseCookie = 0;
    REFERENCE_TIME tDue = 0;
    if (hEvent == nullptr || __builtin_add_overflow(baseTime, streamTime, &tDue)) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(m_Lock);
    if (!m_Advises.Add(tDue, m_tNow, hEvent, pdwAdviseCookie)) {
        return E_OUTOFMEMORY;
    }
    m_tLastAdvise = tDue;
    ++m_nAdvises;
    return S_OK;
}

HRESULT CManualClock::AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE,
                                     DWORD_PTR* pdwAdviseCookie) {
    if (pdwAdviseCookie != nullptr) {
        *pdwAdviseCookie = 0;
    }
    return E_NOTIMPL;
}

HRESULT CManualClock::Unadvise(DWORD_PTR dwAdviseCookie) {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Advises.Remove(dwAdviseCookie) ? S_OK : S_FALSE;
}
