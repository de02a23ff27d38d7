#include "platform/media/system_clock.h"

#include <chrono>
#include <new>

#include "platform/com/com_runtime.h"
#include "platform/win/time_services.h"

CSystemClock::CSystemClock() = default;

CSystemClock::~CSystemClock() {
    {
        CStdMutexLock lock(&m_Lock);
        m_bStop = true;
    }
    m_cvChanged.notify_all();
    if (m_Thread.joinable()) {
        m_Thread.join();
    }
}

HRESULT CSystemClock::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (pUnkOuter != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    auto* pClock = new (std::nothrow) CSystemClock();
    if (pClock == nullptr) {
        return E_OUTOFMEMORY;
    }
    pClock->AddRef();
    const HRESULT hr = pClock->QueryInterface(riid, ppv);
    pClock->Release();
    return hr;
}

REFERENCE_TIME CSystemClock::Now() {
    LARGE_INTEGER count{}, frequency{};
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    // Performance-counter counts in 100 ns reference-time units, whatever the
    // counter's rate (128-bit product: no overflow for any uptime).
    const REFERENCE_TIME t = static_cast<REFERENCE_TIME>(static_cast<__int128>(count.QuadPart) *
                                                         10000000 / frequency.QuadPart);
    REFERENCE_TIME last = m_tLast.load();
    while (t > last && !m_tLast.compare_exchange_weak(last, t)) {
    }
    return t > last ? t : last;
}

void CSystemClock::OnAdvised(REFERENCE_TIME) {
    if (m_Advises.PendingCount() != 0 && !m_Thread.joinable()) {
        m_Thread = std::thread([this] { ThreadProc(); });
    }
    m_cvChanged.notify_all();
}

void CSystemClock::ThreadProc() {
    CStdMutexLock lock(&m_Lock);
    while (!m_bStop) {
        const REFERENCE_TIME tNow = Now();
        m_Advises.SignalDue(tNow);
        const REFERENCE_TIME tNext = m_Advises.NextDue();
        if (tNext == CClockAdviseList::kNever) {
            m_cvChanged.wait(lock.Native());
            continue;
        }
        // Sleep at most a second at a time: an advise far in the future is
        // re-examined, never converted into an overflowing duration.
        const REFERENCE_TIME tWait = tNext - tNow < 10000000 ? tNext - tNow : 10000000;
        m_cvChanged.wait_for(lock.Native(), std::chrono::nanoseconds(tWait * 100));
    }
}
