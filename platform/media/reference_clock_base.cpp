#include "platform/media/reference_clock_base.h"

HRESULT CReferenceClockBase::QueryInterface(REFIID riid, void** ppv) {
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

ULONG CReferenceClockBase::AddRef() { return m_cRef.fetch_add(1) + 1; }

ULONG CReferenceClockBase::Release() {
    const ULONG c = m_cRef.fetch_sub(1) - 1;
    if (c == 0) {
        delete this;
    }
    return c;
}

HRESULT CReferenceClockBase::GetTime(REFERENCE_TIME* pTime) {
    if (pTime == nullptr) {
        return E_POINTER;
    }
    *pTime = Now();
    return S_OK;
}

HRESULT CReferenceClockBase::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime,
                                        HEVENT hEvent, DWORD_PTR* pdwAdviseCookie) {
    if (pdwAdviseCookie == nullptr) {
        return E_POINTER;
    }
    *pdwAdviseCookie = 0;
    REFERENCE_TIME tDue = 0;
    if (hEvent == nullptr || __builtin_add_overflow(baseTime, streamTime, &tDue)) {
        return E_INVALIDARG;
    }
    CStdMutexLock lock(&m_Lock);
    if (!m_Advises.Add(tDue, TimeLocked(), hEvent, pdwAdviseCookie)) {
        return E_OUTOFMEMORY;
    }
    OnAdvised(tDue);
    return S_OK;
}

HRESULT CReferenceClockBase::AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE,
                                            DWORD_PTR* pdwAdviseCookie) {
    if (pdwAdviseCookie != nullptr) {
        *pdwAdviseCookie = 0;
    }
    return E_NOTIMPL;
}

HRESULT CReferenceClockBase::Unadvise(DWORD_PTR dwAdviseCookie) {
    CStdMutexLock lock(&m_Lock);
    return m_Advises.Remove(dwAdviseCookie) ? S_OK : S_FALSE;
}
