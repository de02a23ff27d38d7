// filterbase: CBaseFilter, the base of every filter (IBaseFilter with
// IMediaFilter and IPersist, and IAMovieSetup).
//
// Contract:
// - The derived class supplies the filter-wide lock (m_pLock) and its pins
//   (GetPinCount/GetPin, which hand out pins without a reference). Pins live
//   exactly as long as their filter: their references go to the filter.
// - State changes (Stop, Pause, Run), SetSyncSource, JoinFilterGraph and
//   connection changes arrive on the graph thread and run under m_pLock.
//   Pause activates the connected pins, Stop deactivates them.
// - The filter holds one reference on its clock, none on its graph or its
//   event sink: the graph outlives its filters' membership.
// - Streaming threads read m_State (atomic), m_tStart (atomic) and call
//   StreamTime and NotifyEvent without taking m_pLock: a streaming thread must
//   never wait for m_pLock while the graph thread waits for it. SetSyncSource
//   refuses a change unless the filter is stopped (VFW_E_NOT_STOPPED), so
//   streaming and timer threads read m_pClock without the lock and without
//   a reference of their own.
// - Lock order: a filter's m_pLock before the lock of a filter downstream of
//   it (connection runs from output to input under both).
#pragma once

#include <atomic>

#include "filterbase/unknown.h"
#include "platform/media/graph_interfaces.h"
#include "platform/media/media_interfaces.h"
#include "platform/win/crit_sec.h"

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
public:
    CBaseFilter(const char* pName, IUnknown* pUnk, CCritSec* pLock, REFCLSID clsid);
    CBaseFilter(const char* pName, IUnknown* pUnk, CCritSec* pLock, REFCLSID clsid, HRESULT* phr);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPersist
    HRESULT GetClassID(CLSID* pClsID) override;

    // IMediaFilter
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT GetState(DWORD dwMSecs, FILTER_STATE* State) override;
    HRESULT SetSyncSource(IReferenceClock* pClock) override;
    HRESULT GetSyncSource(IReferenceClock** pClock) override;

    // IBaseFilter
    HRESULT EnumPins(IEnumPins** ppEnum) override;
    // Finds a pin whose name equals Id.
    HRESULT FindPin(LPCWSTR Id, IPin** ppPin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* pInfo) override;
    HRESULT JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    HRESULT QueryVendorInfo(LPWSTR* pVendorInfo) override;

    // IAMovieSetup. There is no filter mapper here: a filter without setup
    // data answers S_FALSE, any other E_NOTIMPL.
    HRESULT Register() override;
    HRESULT Unregister() override;

    // Current stream time: clock time minus the run start. VFW_E_NO_CLOCK
    // without a clock. Any thread.
    virtual HRESULT StreamTime(REFERENCE_TIME& rtStream);
    virtual LONG GetPinVersion();
    virtual int GetPinCount() = 0;
    // The pin at index n without a reference, or null.
    virtual CBasePin* GetPin(int n) = 0;
    virtual const AMOVIESETUP_FILTER* GetSetupData() { return nullptr; }

    BOOL IsActive() const { return m_State != State_Stopped; }
    BOOL IsStopped() const { return m_State == State_Stopped; }
    IFilterGraph* GetFilterGraph() const { return m_pGraph.load(); }
    CCritSec* GetLock() const { return m_pLock; }

    // Sends an event to the graph's event sink (E_NOTIMPL without one).
    // EC_COMPLETE gets this filter's IBaseFilter as its second parameter.
    // Any thread.
    HRESULT NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2);

protected:
    // Pin set changed: outstanding pin enumerators refresh or go out of sync.
    void IncrementPinVersion() { m_PinVersion.fetch_add(1); }

    std::atomic<FILTER_STATE> m_State{State_Stopped};  // written under m_pLock
    IReferenceClock* m_pClock = nullptr;               // one reference; set under m_pLock, stopped
    std::atomic<REFERENCE_TIME> m_tStart{0};           // written under m_pLock by Run
    CLSID m_clsid;
    CCritSec* m_pLock;
    WCHAR* m_pName GUARDED_BY(m_pLock) = nullptr;    // owned; under m_pLock
    std::atomic<IFilterGraph*> m_pGraph{nullptr};    // no reference
    std::atomic<IMediaEventSink*> m_pSink{nullptr};  // no reference
    std::atomic<LONG> m_PinVersion{1};
};
