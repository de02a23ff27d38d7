// mediagraph: CFilterGraph, the filter graph manager (CLSID_FilterGraph).
//
// One object answers IGraphBuilder (with IFilterGraph), IMediaControl,
// IMediaSeeking, IMediaEventEx (with IMediaEvent), IMediaFilter and
// IMediaEventSink. It holds one reference on every filter in it and on its
// reference clock.
//
// Contract:
// - Filters: AddFilter calls JoinFilterGraph(this, name) and gives the filter
//   the graph's clock; the graph's QueryInterface answers IMediaEventSink, so
//   filters report their events here. RenderFile(path) creates the file
//   source (CoCreateInstance, then IFileSourceFilter::Load) for the path and connects its video
//   output (through the output pin's Connect) to the first unconnected input pin of a filter
//   already in the graph that accepts one of its types; audio is not rendered. A file the source
//   cannot open, or whose video no filter accepts, is a failure code and leaves the graph as it
//   was.
// - RemoveFilter works in every state. On a graph that is not stopped it
//   first stops the filter, every filter upstream of it and the filters
//   right downstream of it, renderers first (so no streaming thread is left
//   inside its connections; each Stop is bounded), then disconnects both
//   ends of each of its pins, lets it leave, drops the graph's reference and
//   brings the other filters it stopped back to the graph's state. It fails,
//   leaving the filter in, only when one of them could not stop (asked on
//   that filter's own streaming thread).
// - State: Pause activates the filters, renderers first (the filters that have
//   no output pin), then their upstream filters; Run pauses first, waits
//   (bounded) for the filters to finish pausing, and runs them all with
//   tStart = clock time + a small latency (S_FALSE when a filter answered
//   S_FALSE: a live source still waiting for its first frame); Stop stops
//   renderers first, which releases a source thread blocked in a renderer.
//   A clock is set on every
//   filter (the system clock unless SetSyncSource chose another or NULL, no
//   clock), and only while stopped.
// - Seeking: IMediaSeeking is passed to the renderers' position objects (and
//   from them to the source). SetPositions with a new current position on a
//   running graph pauses it, seeks (the source flushes), waits for the new
//   first frame and runs again with a fresh start time, so that the new
//   segment plays in real time. The current position is the renderer's: the
//   media time of the last sample it rendered, in the time format in use,
//   and the stop position once it has reached the end of the stream; before
//   its first frame after a seek it is the seek position. So a current
//   position equal to the stop position means the frame there has been
//   rendered. GetPositions answers the same current position.
// - Events: Notify (any thread, filter locks may be held) queues the event
//   under m_EventLock, a leaf lock, and returns at once; it never calls a
//   filter and never dereferences a pointer parameter (an EC_COMPLETE's
//   filter pointer is only compared). The renderers' EC_COMPLETEs are
//   gathered: when every renderer with a connected input pin has sent one
//   for the current run (Run or seek), one EC_COMPLETE is queued for the
//   application. WaitForCompletion returns then, or on EC_ERRORABORT, or
//   with VFW_E_WRONG_STATE once the graph is not running; its waits are
//   bounded slices, INFINITE included. The queue keeps at most
//   kMaxQueuedEvents events (the oldest go first).
// - Teardown (last Release): Stop; disconnect both ends of every connection
//   (connected pins reference each other's filters); JoinFilterGraph(NULL,
//   NULL) on every filter; then release them. The event sink stays valid
//   until every filter has left.
// - Locks: m_Lock (the graph lock) serialises everything the application
//   calls and is held while calling into filters; m_EventLock is a leaf
//   taken after it. Filters never call back into the graph under their
//   locks except Notify.
//
// May include: the C++ standard library, platform/, filterbase/ (the source
// is created by class id, CLSID_PeloraFileSource). No Qt.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "filterbase/unknown.h"
#include "platform/com/com_ref.h"
#include "platform/com/dispatch.h"
#include "platform/media/graph_interfaces.h"
#include "platform/media/media_interfaces.h"
#include "platform/win/crit_sec.h"
#include "platform/win/std_mutex.h"

class CFilterGraph final : public CUnknown,
                           public IGraphBuilder,
                           public IMediaControl,
                           public IMediaSeeking,
                           public IMediaEventEx,
                           public IMediaFilter,
                           public IMediaEventSink {
public:
    static constexpr size_t kMaxQueuedEvents = 256;
    // Run's start time is this far ahead of the clock (100 ns) when a
    // filter had not finished pausing (its first sample is still on its
    // way); when every filter has, the run starts now, so that a seek's
    // frame, already waiting in the renderer, is shown at once.
    static constexpr REFERENCE_TIME kRunLatency = 100000;  // 10 ms
    // How long Run waits for the filters to finish pausing (ms).
    static constexpr DWORD kPauseWaitMs = 10000;

    // Class creator for the COM registry (no aggregation); registered by
    // RegisterMediaClasses().
    static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv);

    explicit CFilterGraph(HRESULT* phr);
    ~CFilterGraph() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IFilterGraph / IGraphBuilder
    HRESULT AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override;
    HRESULT RemoveFilter(IBaseFilter* pFilter) override;
    HRESULT EnumFilters(IEnumFilters** ppEnum) override;
    HRESULT FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override;
    HRESULT ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override;
    HRESULT Reconnect(IPin* ppin) override;
    HRESULT Disconnect(IPin* ppin) override;
    HRESULT SetDefaultSyncSource() override;
    HRESULT Connect(IPin* ppinOut, IPin* ppinIn) override;
    HRESULT Render(IPin* ppinOut) override;
    HRESULT RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) override;
    HRESULT AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName,
                            IBaseFilter** ppFilter) override;
    HRESULT SetLogFile(DWORD_PTR hFile) override;
    HRESULT Abort() override;
    HRESULT ShouldOperationContinue() override;

    // IDispatch (of IMediaControl and IMediaEvent): not provided.
    HRESULT GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT GetTypeInfo(UINT itinfo, LCID lcid, ITypeInfo** pptinfo) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                          DISPID* rgdispid) override;
    HRESULT Invoke(DISPID dispidMember, REFIID riid, LCID lcid, WORD wFlags,
                   DISPPARAMS* pdispparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                   UINT* puArgErr) override;

    // IMediaControl (Stop and Pause also serve IMediaFilter)
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(LONG msTimeout, OAFilterState* pfs) override;
    HRESULT RenderFile(BSTR strFilename) override;
    HRESULT AddSourceFilter(BSTR strFilename, IDispatch** ppUnk) override;
    HRESULT get_FilterCollection(IDispatch** ppUnk) override;
    HRESULT get_RegFilterCollection(IDispatch** ppUnk) override;
    HRESULT StopWhenReady() override;

    // IMediaFilter
    HRESULT GetClassID(CLSID* pClassID) override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
    HRESULT SetSyncSource(IReferenceClock* pClock) override;
    HRESULT GetSyncSource(IReferenceClock** pClock) override;

    // IMediaSeeking
    HRESULT GetCapabilities(DWORD* pCapabilities) override;
    HRESULT CheckCapabilities(DWORD* pCapabilities) override;
    HRESULT IsFormatSupported(const GUID* pFormat) override;
    HRESULT QueryPreferredFormat(GUID* pFormat) override;
    HRESULT GetTimeFormat(GUID* pFormat) override;
    HRESULT IsUsingTimeFormat(const GUID* pFormat) override;
    HRESULT SetTimeFormat(const GUID* pFormat) override;
    HRESULT GetDuration(LONGLONG* pDuration) override;
    HRESULT GetStopPosition(LONGLONG* pStop) override;
    HRESULT GetCurrentPosition(LONGLONG* pCurrent) override;
    HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                              const GUID* pSourceFormat) override;
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                         DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    HRESULT GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    HRESULT SetRate(double dRate) override;
    HRESULT GetRate(double* pdRate) override;
    HRESULT GetPreroll(LONGLONG* pllPreroll) override;

    // IMediaEvent / IMediaEventEx
    HRESULT GetEventHandle(OAEVENT* hEvent) override;
    HRESULT GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                     LONG msTimeout) override;
    HRESULT WaitForCompletion(LONG msTimeout, LONG* pEvCode) override;
    HRESULT CancelDefaultHandling(LONG lEvCode) override;
    HRESULT RestoreDefaultHandling(LONG lEvCode) override;
    HRESULT FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) override;
    HRESULT SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) override;
    HRESULT SetNotifyFlags(LONG lNoNotifyFlags) override;
    HRESULT GetNotifyFlags(LONG* lplNoNotifyFlags) override;

    // IMediaEventSink (any thread; see the contract)
    HRESULT Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

private:
    struct SFilter {
        CComRef<IBaseFilter> pFilter;
        std::wstring strName;
    };
    struct SEvent {
        LONG lCode;
        LONG_PTR lParam1;
        LONG_PTR lParam2;
    };

    // All under m_Lock.
    bool Contains(IBaseFilter* pFilter) const REQUIRES(m_Lock);
    std::wstring UniqueName(LPCWSTR pName) const REQUIRES(m_Lock);
    // Filters ordered downstream first (renderers, then what feeds them).
    std::vector<IBaseFilter*> DownstreamFirst() const REQUIRES(m_Lock);
    // A filter with no output pin and at least one connected input pin.
    static bool IsConnectedRenderer(IBaseFilter* pFilter);
    // The renderers' IMediaSeeking, each with one reference.
    std::vector<IMediaSeeking*> SeekingTargets() const REQUIRES(m_Lock);
    HRESULT PauseInternal() REQUIRES(m_Lock);
    HRESULT RunInternal(bool bFreshStart) REQUIRES(m_Lock);
    HRESULT StopInternal() REQUIRES(m_Lock);
    // True when every filter finished pausing within the bound.
    bool WaitForPaused() REQUIRES(m_Lock);
    // Starts a new run for completion tracking: the renderers to wait for.
    void ResetCompletion() REQUIRES(m_Lock);
    void DisconnectAll() REQUIRES(m_Lock);
    // The filter and every filter of the graph upstream of it.
    std::vector<IBaseFilter*> UpstreamOf(IBaseFilter* pFilter) const REQUIRES(m_Lock);
    // Stops what may stream through the filter's connections (RemoveFilter
    // on a graph that is not stopped); *pStopped lists the filters stopped.
    // A failure when one of them is still not stopped.
    HRESULT StopAround(IBaseFilter* pFilter, std::vector<IBaseFilter*>* pStopped) REQUIRES(m_Lock);
    // Brings filters that StopAround stopped back to the graph's state.
    void ResumeFilters(const std::vector<IBaseFilter*>& filters) REQUIRES(m_Lock);
    // A removed filter is no longer waited for by the completion tracking.
    void ForgetRenderer(const IBaseFilter* pFilter) REQUIRES(m_Lock);
    void QueueEvent(LONG lCode, LONG_PTR lParam1, LONG_PTR lParam2) REQUIRES(m_EventLock);

    // Runs f on the first seeking target (outside m_Lock); E_NOTIMPL without one.
    template <class F>
    HRESULT OnFirstTarget(F f);

    CCritSec m_Lock;  // the graph lock: guards the fields below up to m_EventLock
    std::vector<SFilter> m_Filters GUARDED_BY(m_Lock);
    CComRef<IReferenceClock> m_pClock GUARDED_BY(m_Lock);  // or null (no clock)
    std::atomic<FILTER_STATE> m_State{State_Stopped};      // written under m_Lock
    REFERENCE_TIME m_tStart GUARDED_BY(m_Lock) = 0;     // clock time at which stream time 0 is due
    REFERENCE_TIME m_tPausedAt GUARDED_BY(m_Lock) = 0;  // clock time of a Pause from running
    bool m_bResumable GUARDED_BY(m_Lock) =
        false;  // a Run after this pause continues the stream time

    CStdMutex m_EventLock;              // leaf lock: guards the fields below
    std::condition_variable m_cvEvent;  // an event arrived, or the state changed
    std::deque<SEvent> m_Events GUARDED_BY(m_EventLock);
    std::vector<const void*> m_Renderers
        GUARDED_BY(m_EventLock);  // identities to hear EC_COMPLETE from (never used as pointers)
    std::vector<const void*> m_Completed GUARDED_BY(m_EventLock);  // those that did, this run
    bool m_bComplete GUARDED_BY(m_EventLock) = false;  // every renderer completed this run
    bool m_bAborted GUARDED_BY(m_EventLock) = false;   // EC_ERRORABORT this run
};
