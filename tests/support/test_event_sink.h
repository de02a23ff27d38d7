// Test stand-in for the filter graph as a filter sees it: JoinFilterGraph
// gets this object, and QueryInterface(IMediaEventSink) answers it too.
// Notify records every event under a leaf lock and never calls back.
//
// The object is owned by the test (stack or member); the reference count is
// only tracked, never used to delete. It must outlive every filter that
// joined it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
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
    CTestEventSink() = default;
    ~CTestEventSink() override = default;

    // IUnknown (both bases share it).
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return m_cRef.fetch_add(1) + 1; }
    ULONG Release() override { return m_cRef.fetch_sub(1) - 1; }

    // IMediaEventSink
    HRESULT Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

    // IFilterGraph: nothing a filter calls; all E_NOTIMPL.
    HRESULT AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    HRESULT EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    HRESULT FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Reconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT Disconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT SetDefaultSyncSource() override { return E_NOTIMPL; }

    IFilterGraph* Graph() { return static_cast<IFilterGraph*>(this); }

    // How many events with this code arrived so far.
    int Count(LONG code);
    // Waits (bounded) until at least n events with this code arrived.
    bool WaitForCount(LONG code, int n,
                      std::chrono::milliseconds bound = std::chrono::milliseconds(5000));
    std::vector<RecordedEvent> Events();
    void Clear();

private:
    std::atomic<ULONG> m_cRef{0};
    std::mutex m_Lock;                  // leaf lock: guards m_Events
    std::condition_variable m_cvEvent;  // an event arrived
    std::vector<RecordedEvent> m_Events;
};

}  // namespace pelora_test
