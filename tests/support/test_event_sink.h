// Test stand-in for the filter graph as a filter sees it: JoinFilterGraph
// gets this object, and QueryInterface(IMediaEventSink) answers it too.
// Notify records every event under a leaf lock, then runs the test's hook
// (SetEventHook) outside it; without a hook it never calls back.
// Owned by the test (the reference count is only tracked); it must outlive
// every filter that joined it.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/media/graph_interfaces.h"

namespace pelora_test {

struct RecordedEvent {
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
};

class CTestEventSink final : public IFilterGraph, public IMediaEventSink {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
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
    ULONG AddRef() override { return m_cRef.fetch_add(1) + 1; }
    ULONG Release() override { return m_cRef.fetch_sub(1) - 1; }

    HRESULT Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override {
        {
            std::lock_guard<std::mutex> lock(m_Lock);
            m_Events.push_back({EventCode, EventParam1, EventParam2});
        }
        m_cvEvent.notify_all();
        if (m_Hook) m_Hook(EventCode);
        return S_OK;
    }

    // IFilterGraph: nothing a filter calls.
    HRESULT AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    HRESULT EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    HRESULT FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Reconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT Disconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT SetDefaultSyncSource() override { return E_NOTIMPL; }

    IFilterGraph* Graph() { return static_cast<IFilterGraph*>(this); }
    // Runs on the notifying thread for every later event. Set before any
    // filter can notify.
    void SetEventHook(std::function<void(LONG)> hook) { m_Hook = std::move(hook); }

    // How many events with this code arrived so far.
    int Count(LONG code) {
        std::lock_guard<std::mutex> lock(m_Lock);
        return CountLocked(code);
    }
    // Waits (bounded) until at least n events with this code arrived.
    bool WaitForCount(LONG code, int n,
                      std::chrono::milliseconds bound = std::chrono::milliseconds(5000)) {
        std::unique_lock<std::mutex> lock(m_Lock);
        return m_cvEvent.wait_for(lock, bound, [&] { return CountLocked(code) >= n; });
    }
    std::vector<RecordedEvent> Events() {
        std::lock_guard<std::mutex> lock(m_Lock);
        return m_Events;
    }

private:
    int CountLocked(LONG code) const {
        return static_cast<int>(
            std::count_if(m_Events.begin(), m_Events.end(),
                          [&](const RecordedEvent& e) { return e.code == code; }));
    }

    std::atomic<ULONG> m_cRef{0};
    std::mutex m_Lock;                  // leaf lock: guards m_Events
    std::condition_variable m_cvEvent;  // an event arrived
    std::vector<RecordedEvent> m_Events;
    std::function<void(LONG)> m_Hook;  // set before use, then read only
};

}  // namespace pelora_test
