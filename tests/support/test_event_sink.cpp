#include "support/test_event_sink.h"

namespace pelora_test {

HRESULT CTestEventSink::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IFilterGraph) {
        *ppv = static_cast<IFilterGraph*>(this);
    } else if (riid == IID_IMediaEventSink) {
        *ppv = static_cast<IMediaEventSink*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT CTestEventSink::Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Events.push_back({EventCode, EventParam1, EventParam2});
    }
    m_cvEvent.notify_all();
    return S_OK;
}

int CTestEventSink::Count(LONG code) {
    std::lock_guard<std::mutex> lock(m_Lock);
    int n = 0;
    for (const RecordedEvent& e : m_Events) {
        n += e.code == code ? 1 : 0;
    }
    return n;
}

bool CTestEventSink::WaitForCount(LONG code, int n, std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(m_Lock);
    return m_cvEvent.wait_for(lock, bound, [&] {
        int c = 0;
        for (const RecordedEvent& e : m_Events) {
            c += e.code == code ? 1 : 0;
        }
        return c >= n;
    });
}

std::vector<RecordedEvent> CTestEventSink::Events() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Events;
}

void CTestEventSink::Clear() {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Events.clear();
}

}  // namespace pelora_test
