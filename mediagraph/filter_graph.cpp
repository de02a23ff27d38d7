#include "mediagraph/filter_graph.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <new>

#include "filterbase/create_unaggregated.h"
#include "platform/com/com_ref.h"
#include "platform/com/com_runtime.h"
#include "mediagraph/enum_filters.h"
#include "platform/media/media_guids.h"
#include "platform/media/system_clock.h"

namespace {

// How long one slice of a wait lasts before it looks at the state again.
constexpr auto kWaitSlice = std::chrono::milliseconds(50);

// Every pin of a filter, each with one reference.
std::vector<CComRef<IPin>> PinsOf(IBaseFilter* pFilter) {
    std::vector<CComRef<IPin>> pins;
    CComRef<IEnumPins> pEnum;
    if (FAILED(pFilter->EnumPins(pEnum.Receive())) || !pEnum) return pins;
    for (;;) {
        IPin* pPin = nullptr;
        ULONG cFetched = 0;
        if (pEnum->Next(1, &pPin, &cFetched) != S_OK || cFetched != 1 || !pPin) break;
        pins.emplace_back(pPin, AdoptTag);
    }
    return pins;
}

PIN_DIRECTION DirectionOf(IPin* pPin) {
    PIN_DIRECTION dir = PINDIR_INPUT;
    pPin->QueryDirection(&dir);
    return dir;
}

CComRef<IPin> PeerOf(IPin* pPin) {
    CComRef<IPin> pPeer;
    if (FAILED(pPin->ConnectedTo(pPeer.Receive()))) pPeer.Release();
    return pPeer;
}

// The filter a pin belongs to, with one reference (or null).
CComRef<IBaseFilter> FilterOf(IPin* pPin) {
    PIN_INFO info{};
    if (FAILED(pPin->QueryPinInfo(&info))) return {};
    return CComRef<IBaseFilter>(info.pFilter, AdoptTag);
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation

HRESULT CFilterGraph::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    return CreateUnaggregated(pUnkOuter, riid, ppv,
                              [](HRESULT* phr) { return new (std::nothrow) CFilterGraph(phr); });
}

CFilterGraph::CFilterGraph(HRESULT* phr) : CUnknown("CFilterGraph", nullptr) {
    // The system clock by default.
    m_pClock.Reset(new (std::nothrow) CSystemClock(), AddRefTag);
    if (!m_pClock && phr && SUCCEEDED(*phr)) *phr = E_OUTOFMEMORY;
}

CFilterGraph::~CFilterGraph() {
    CAutoLock lock(&m_Lock);
    StopInternal();
    DisconnectAll();
    // Every filter leaves before any is released: a filter keeps no
    // reference on the graph, and we are its event sink until it leaves.
    for (SFilter& f : m_Filters) f.pFilter->JoinFilterGraph(nullptr, nullptr);
    m_Filters.clear();
    m_pClock.Release();
}

HRESULT CFilterGraph::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IFilterGraph) return GetInterface(static_cast<IFilterGraph*>(this), ppv);
    if (riid == IID_IGraphBuilder) return GetInterface(static_cast<IGraphBuilder*>(this), ppv);
    if (riid == IID_IMediaControl) return GetInterface(static_cast<IMediaControl*>(this), ppv);
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    if (riid == IID_IMediaEvent) {
        return GetInterface(static_cast<IMediaEvent*>(static_cast<IMediaEventEx*>(this)), ppv);
    }
    if (riid == IID_IMediaEventEx) return GetInterface(static_cast<IMediaEventEx*>(this), ppv);
    if (riid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), ppv);
    if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
    if (riid == IID_IMediaEventSink) return GetInterface(static_cast<IMediaEventSink*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

// ---------------------------------------------------------------------------
// Filters and connections

bool CFilterGraph::Contains(IBaseFilter* pFilter) const {
    return std::any_of(m_Filters.begin(), m_Filters.end(),
                       [pFilter](const SFilter& f) { return f.pFilter.Get() == pFilter; });
}

std::wstring CFilterGraph::UniqueName(LPCWSTR pName) const {
    std::wstring strBase = pName && *pName ? pName : L"Filter";
    if (strBase.size() > MAX_FILTER_NAME - 8) strBase.resize(MAX_FILTER_NAME - 8);
    auto taken = [this](const std::wstring& s) REQUIRES(m_Lock) {
        return std::any_of(m_Filters.begin(), m_Filters.end(),
                           [&s](const SFilter& f) { return f.strName == s; });
    };
    if (!taken(strBase)) return strBase;
    for (int n = 1; n < 10000; ++n) {
        wchar_t suffix[16];
        std::swprintf(suffix, 16, L" %04d", n);
        const std::wstring s = strBase + suffix;
        if (!taken(s)) return s;
    }
    return {};
}

HRESULT CFilterGraph::AddFilter(IBaseFilter* pFilter, LPCWSTR pName) {
    if (!pFilter) return E_POINTER;
    CAutoLock lock(&m_Lock);
    if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
    if (Contains(pFilter)) return VFW_E_DUPLICATE_NAME;
    const std::wstring strName = UniqueName(pName);
    if (strName.empty()) return VFW_E_DUPLICATE_NAME;
    HRESULT hr = pFilter->JoinFilterGraph(static_cast<IFilterGraph*>(this), strName.c_str());
    if (FAILED(hr)) return hr;
    hr = pFilter->SetSyncSource(m_pClock.Get());
    if (FAILED(hr)) {
        pFilter->JoinFilterGraph(nullptr, nullptr);
        return hr;
    }
    m_Filters.push_back(SFilter{CComRef<IBaseFilter>(pFilter, AddRefTag), strName});
    return (pName && strName != pName) ? VFW_S_DUPLICATE_NAME : S_OK;
}

HRESULT CFilterGraph::RemoveFilter(IBaseFilter* pFilter) {
    if (!pFilter) return E_POINTER;
    CAutoLock lock(&m_Lock);
    auto it = std::find_if(m_Filters.begin(), m_Filters.end(),
                           [pFilter](const SFilter& f) { return f.pFilter.Get() == pFilter; });
    if (it == m_Filters.end()) return VFW_E_NOT_FOUND;
    std::vector<IBaseFilter*> stopped;
    if (m_State != State_Stopped) {
        const HRESULT hr = StopAround(pFilter, &stopped);
        if (FAILED(hr)) {
            ResumeFilters(stopped);
            return hr;
        }
    }
    for (CComRef<IPin>& pPin : PinsOf(pFilter)) {
        if (CComRef<IPin> pPeer = PeerOf(pPin.Get())) {
            pPeer->Disconnect();
            pPin->Disconnect();
        }
    }
    pFilter->JoinFilterGraph(nullptr, nullptr);
    m_Filters.erase(it);  // the graph's reference goes
    ForgetRenderer(pFilter);
    stopped.erase(std::remove(stopped.begin(), stopped.end(), pFilter), stopped.end());
    ResumeFilters(stopped);
    return S_OK;
}

std::vector<IBaseFilter*> CFilterGraph::UpstreamOf(IBaseFilter* pFilter) const {
    std::vector<IBaseFilter*> found{pFilter};
    for (size_t i = 0; i < found.size(); ++i) {
        for (CComRef<IPin>& pPin : PinsOf(found[i])) {
            if (DirectionOf(pPin.Get()) != PINDIR_INPUT) continue;
            CComRef<IPin> pPeer = PeerOf(pPin.Get());
            CComRef<IBaseFilter> pUp = pPeer ? FilterOf(pPeer.Get()) : CComRef<IBaseFilter>();
            if (pUp && Contains(pUp.Get()) &&
                std::find(found.begin(), found.end(), pUp.Get()) == found.end()) {
                found.push_back(pUp.Get());
            }
        }
    }
    return found;
}

HRESULT CFilterGraph::StopAround(IBaseFilter* pFilter, std::vector<IBaseFilter*>* pStopped) {
    // A streaming thread inside one of the filter's connections started in
    // the filter or upstream of it, possibly several filters up (a sample
    // passes on through each filter's Receive): stopping all of those ends
    // every such thread (each filter's Stop returns once its own thread has
    // ended, bounded as its contract says). The filters right downstream
    // stop too, because a pin only disconnects while its filter is stopped.
    std::vector<IBaseFilter*> affected = UpstreamOf(pFilter);
    for (CComRef<IPin>& pPin : PinsOf(pFilter)) {
        if (DirectionOf(pPin.Get()) != PINDIR_OUTPUT) continue;
        CComRef<IPin> pPeer = PeerOf(pPin.Get());
        CComRef<IBaseFilter> pDown = pPeer ? FilterOf(pPeer.Get()) : CComRef<IBaseFilter>();
        if (pDown && Contains(pDown.Get()) &&
            std::find(affected.begin(), affected.end(), pDown.Get()) == affected.end()) {
            affected.push_back(pDown.Get());
        }
    }
    // Renderers first, as StopInternal: that releases a thread blocked in one.
    for (IBaseFilter* f : DownstreamFirst()) {
        if (std::find(affected.begin(), affected.end(), f) == affected.end()) continue;
        const HRESULT hr = f->Stop();
        FILTER_STATE fs = State_Running;
        if (FAILED(hr) && (FAILED(f->GetState(0, &fs)) || fs != State_Stopped)) {
            // Still streaming (asked on its own streaming thread): nothing
            // can be disconnected safely.
            return hr;
        }
        pStopped->push_back(f);
    }
    return S_OK;
}

void CFilterGraph::ResumeFilters(const std::vector<IBaseFilter*>& filters) {
    // Back to the graph's state, renderers first, as Pause and Run do; a
    // filter that cannot follow stays where it is.
    if (filters.empty() || m_State == State_Stopped) return;
    const std::vector<IBaseFilter*> order = DownstreamFirst();
    auto listed = [&filters](IBaseFilter* f) {
        return std::find(filters.begin(), filters.end(), f) != filters.end();
    };
    for (IBaseFilter* f : order) {
        if (listed(f)) f->Pause();
    }
    if (m_State != State_Running) return;
    for (IBaseFilter* f : order) {
        if (listed(f)) f->Run(m_tStart);
    }
}

void CFilterGraph::ForgetRenderer(const IBaseFilter* pFilter) {
    const void* pId = pFilter;
    CStdMutexLock lock(&m_EventLock);
    const auto before = m_Renderers.size();
    m_Renderers.erase(std::remove(m_Renderers.begin(), m_Renderers.end(), pId), m_Renderers.end());
    m_Completed.erase(std::remove(m_Completed.begin(), m_Completed.end(), pId), m_Completed.end());
    if (m_Renderers.size() == before) return;
    // The run may now be complete: the removed renderer was the one missing.
    if (!m_bComplete && m_Completed.size() == m_Renderers.size()) {
        m_bComplete = true;
        if (!m_Renderers.empty()) QueueEvent(EC_COMPLETE, S_OK, 0);
        m_cvEvent.notify_all();
    }
}

HRESULT CFilterGraph::EnumFilters(IEnumFilters** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    std::vector<IBaseFilter*> raw;
    {
        CAutoLock lock(&m_Lock);
        for (const SFilter& f : m_Filters) raw.push_back(f.pFilter.Get());
    }
    auto* p = new (std::nothrow) CEnumFilters(raw, 0);
    if (!p) return E_OUTOFMEMORY;
    return p->NonDelegatingQueryInterface(IID_IEnumFilters, reinterpret_cast<void**>(ppEnum));
}

HRESULT CFilterGraph::FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) {
    if (!pName || !ppFilter) return E_POINTER;
    *ppFilter = nullptr;
    CAutoLock lock(&m_Lock);
    for (const SFilter& f : m_Filters) {
        if (f.strName == pName) {
            *ppFilter = f.pFilter.Get();
            f.pFilter->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT CFilterGraph::ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) {
    if (!ppinOut || !ppinIn) return E_POINTER;
    CAutoLock lock(&m_Lock);
    if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
    CComRef<IBaseFilter> pOutFilter = FilterOf(ppinOut);
    CComRef<IBaseFilter> pInFilter = FilterOf(ppinIn);
    if (!pOutFilter || !pInFilter || !Contains(pOutFilter.Get()) || !Contains(pInFilter.Get())) {
        return VFW_E_NOT_IN_GRAPH;
    }
    if (DirectionOf(ppinOut) != PINDIR_OUTPUT || DirectionOf(ppinIn) != PINDIR_INPUT) {
        return VFW_E_INVALID_DIRECTION;
    }
    return ppinOut->Connect(ppinIn, pmt);
}

HRESULT CFilterGraph::Connect(IPin* ppinOut, IPin* ppinIn) {
    // No intermediate filters exist here: a direct connection or none.
    return ConnectDirect(ppinOut, ppinIn, nullptr);
}

HRESULT CFilterGraph::Reconnect(IPin*) { return E_NOTIMPL; }

HRESULT CFilterGraph::Disconnect(IPin* ppin) {
    if (!ppin) return E_POINTER;
    CAutoLock lock(&m_Lock);
    if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
    return ppin->Disconnect();
}

HRESULT CFilterGraph::SetDefaultSyncSource() {
    CAutoLock lock(&m_Lock);
    if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
    auto* pClock = new (std::nothrow) CSystemClock();
    if (!pClock) return E_OUTOFMEMORY;
    pClock->AddRef();
    const HRESULT hr = SetSyncSource(pClock);
    pClock->Release();
    return hr;
}

HRESULT CFilterGraph::Render(IPin*) { return E_NOTIMPL; }

HRESULT CFilterGraph::RenderFile(LPCWSTR lpcwstrFile, LPCWSTR) {
    if (!lpcwstrFile) return E_POINTER;
    if (!*lpcwstrFile) return E_INVALIDARG;
    CAutoLock lock(&m_Lock);
    if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;

    // The filters already here are the candidates for the video.
    std::vector<IBaseFilter*> candidates;
    for (const SFilter& f : m_Filters) candidates.push_back(f.pFilter.Get());

    // Opening the file may take a while; nothing else calls the graph from
    // a filter, so holding the graph lock is harmless.
    CComRef<IBaseFilter> pSource;
    HRESULT hr = CoCreateInstance(CLSID_PeloraFileSource, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                                  reinterpret_cast<void**>(pSource.Receive()));
    if (FAILED(hr)) return hr;
    CComRef<IFileSourceFilter> pLoad;
    hr = pSource.QueryInto(IID_IFileSourceFilter, &pLoad);
    if (SUCCEEDED(hr)) hr = pLoad->Load(lpcwstrFile, nullptr);
    if (FAILED(hr)) return hr;
    // The source's output pin: the first output pin it has.
    CComRef<IPin> pOutRef;
    for (CComRef<IPin>& pPin : PinsOf(pSource.Get())) {
        if (DirectionOf(pPin.Get()) == PINDIR_OUTPUT) {
            pOutRef = pPin;
            break;
        }
    }
    if (!pOutRef) return VFW_E_CANNOT_RENDER;
    hr = AddFilter(pSource.Get(), lpcwstrFile);
    if (FAILED(hr)) return hr;

    IPin* pOut = pOutRef.Get();
    HRESULT hrConnect = VFW_E_CANNOT_RENDER;
    for (IBaseFilter* pFilter : candidates) {
        for (CComRef<IPin>& pPin : PinsOf(pFilter)) {
            if (DirectionOf(pPin.Get()) != PINDIR_INPUT || PeerOf(pPin.Get())) continue;
            hrConnect = pOut->Connect(pPin.Get(), nullptr);
            if (SUCCEEDED(hrConnect)) return S_OK;
        }
    }
    RemoveFilter(pSource.Get());
    return hrConnect == VFW_E_NO_ACCEPTABLE_TYPES || hrConnect == VFW_E_CANNOT_RENDER
               ? hrConnect
               : VFW_E_CANNOT_RENDER;
}

HRESULT CFilterGraph::AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter**) { return E_NOTIMPL; }
HRESULT CFilterGraph::SetLogFile(DWORD_PTR) { return S_OK; }
HRESULT CFilterGraph::Abort() { return S_OK; }
HRESULT CFilterGraph::ShouldOperationContinue() { return S_OK; }

void CFilterGraph::DisconnectAll() {
    for (SFilter& f : m_Filters) {
        for (CComRef<IPin>& pPin : PinsOf(f.pFilter.Get())) {
            if (CComRef<IPin> pPeer = PeerOf(pPin.Get())) {
                pPeer->Disconnect();
                pPin->Disconnect();
            }
        }
    }
}

bool CFilterGraph::IsConnectedRenderer(IBaseFilter* pFilter) {
    bool bConnectedInput = false;
    for (CComRef<IPin>& pPin : PinsOf(pFilter)) {
        if (DirectionOf(pPin.Get()) == PINDIR_OUTPUT) return false;
        if (PeerOf(pPin.Get())) bConnectedInput = true;
    }
    return bConnectedInput;
}

std::vector<IBaseFilter*> CFilterGraph::DownstreamFirst() const {
    // A filter comes once every filter its outputs feed has come.
    std::vector<IBaseFilter*> order;
    std::vector<IBaseFilter*> pending;
    for (const SFilter& f : m_Filters) pending.push_back(f.pFilter.Get());
    while (!pending.empty()) {
        bool bProgress = false;
        for (auto it = pending.begin(); it != pending.end();) {
            bool bReady = true;
            for (CComRef<IPin>& pPin : PinsOf(*it)) {
                if (DirectionOf(pPin.Get()) != PINDIR_OUTPUT) continue;
                CComRef<IPin> pPeer = PeerOf(pPin.Get());
                if (!pPeer) continue;
                CComRef<IBaseFilter> pDown = FilterOf(pPeer.Get());
                if (pDown &&
                    std::find(pending.begin(), pending.end(), pDown.Get()) != pending.end()) {
                    bReady = false;
                    break;
                }
            }
            if (bReady) {
                order.push_back(*it);
                it = pending.erase(it);
                bProgress = true;
            } else {
                ++it;
            }
        }
        if (!bProgress) {  // a cycle: keep the rest in graph order
            order.insert(order.end(), pending.begin(), pending.end());
            break;
        }
    }
    return order;
}

// ---------------------------------------------------------------------------
// State

void CFilterGraph::ResetCompletion() {
    std::vector<const void*> renderers;
    for (const SFilter& f : m_Filters) {
        if (IsConnectedRenderer(f.pFilter.Get())) renderers.push_back(f.pFilter.Get());
    }
    CStdMutexLock lock(&m_EventLock);
    m_Renderers = std::move(renderers);
    m_Completed.clear();
    m_bComplete = m_Renderers.empty();
    m_bAborted = false;
    m_cvEvent.notify_all();
}

HRESULT CFilterGraph::PauseInternal() {
    HRESULT hrResult = S_OK;
    if (m_State == State_Running && m_pClock) {
        m_pClock->GetTime(&m_tPausedAt);
        m_bResumable = true;
    }
    for (IBaseFilter* pFilter : DownstreamFirst()) {
        const HRESULT hr = pFilter->Pause();
        if (FAILED(hr) && SUCCEEDED(hrResult)) hrResult = hr;
    }
    m_State = State_Paused;
    {
        CStdMutexLock lock(&m_EventLock);
        m_cvEvent.notify_all();
    }
    return hrResult;
}

bool CFilterGraph::WaitForPaused() {
    // Bounded: a filter still intermediate after the bound is run anyway.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kPauseWaitMs);
    for (IBaseFilter* pFilter : DownstreamFirst()) {
        for (;;) {
            FILTER_STATE fs = State_Stopped;
            if (pFilter->GetState(50, &fs) != VFW_S_STATE_INTERMEDIATE) break;
            if (std::chrono::steady_clock::now() >= deadline) return false;
        }
    }
    return true;
}

HRESULT CFilterGraph::RunInternal(bool bFreshStart) {
    if (m_State == State_Running) return S_OK;
    HRESULT hrResult = S_OK;
    if (m_State == State_Stopped) {
        hrResult = PauseInternal();
        m_bResumable = false;
    }
    const bool bPaused = WaitForPaused();
    REFERENCE_TIME tNow = 0;
    if (m_pClock) m_pClock->GetTime(&tNow);
    if (m_bResumable && !bFreshStart) {
        // Continue the stream time where the pause left it.
        m_tStart += tNow - m_tPausedAt;
    } else {
        m_tStart = tNow + (bPaused ? 0 : kRunLatency);
        ResetCompletion();
    }
    m_bResumable = false;
    if (!m_pClock) m_tStart = 0;
    for (IBaseFilter* pFilter : DownstreamFirst()) {
        const HRESULT hr = pFilter->Run(m_tStart);
        if (FAILED(hr) && SUCCEEDED(hrResult)) hrResult = hr;
        // A filter still on its way to running (a live source before its
        // first frame) makes the graph's answer S_FALSE.
        if (hr == S_FALSE && hrResult == S_OK) hrResult = S_FALSE;
    }
    m_State = State_Running;
    return hrResult;
}

HRESULT CFilterGraph::StopInternal() {
    HRESULT hrResult = S_OK;
    for (IBaseFilter* pFilter : DownstreamFirst()) {
        const HRESULT hr = pFilter->Stop();
        if (FAILED(hr) && SUCCEEDED(hrResult)) hrResult = hr;
    }
    m_State = State_Stopped;
    m_bResumable = false;
    {
        CStdMutexLock lock(&m_EventLock);
        m_cvEvent.notify_all();
    }
    return hrResult;
}

HRESULT CFilterGraph::Run() {
    CAutoLock lock(&m_Lock);
    return RunInternal(false);
}

HRESULT CFilterGraph::Run(REFERENCE_TIME) { return Run(); }

HRESULT CFilterGraph::Pause() {
    CAutoLock lock(&m_Lock);
    if (m_State == State_Paused) return S_OK;
    return PauseInternal();
}

HRESULT CFilterGraph::Stop() {
    CAutoLock lock(&m_Lock);
    return StopInternal();
}

HRESULT CFilterGraph::GetState(LONG msTimeout, OAFilterState* pfs) {
    if (!pfs) return E_POINTER;
    FILTER_STATE fs = State_Stopped;
    const HRESULT hr = GetState(static_cast<DWORD>(msTimeout), &fs);
    *pfs = fs;
    return hr;
}

HRESULT CFilterGraph::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) {
    if (!State) return E_POINTER;
    std::vector<CComRef<IBaseFilter>> filters;
    {
        CAutoLock lock(&m_Lock);
        *State = m_State.load();
        for (const SFilter& f : m_Filters) filters.emplace_back(f.pFilter.Get(), AddRefTag);
    }
    // Without the graph lock: a filter's GetState may wait.
    HRESULT hrResult = S_OK;
    for (auto& pFilter : filters) {
        FILTER_STATE fs = State_Stopped;
        const HRESULT hr = pFilter->GetState(dwMilliSecsTimeout, &fs);
        if (hr == VFW_S_STATE_INTERMEDIATE) hrResult = hr;
    }
    return hrResult;
}

HRESULT CFilterGraph::RenderFile(BSTR strFilename) { return RenderFile(strFilename, nullptr); }
HRESULT CFilterGraph::AddSourceFilter(BSTR, IDispatch**) { return E_NOTIMPL; }
HRESULT CFilterGraph::get_FilterCollection(IDispatch**) { return E_NOTIMPL; }
HRESULT CFilterGraph::get_RegFilterCollection(IDispatch**) { return E_NOTIMPL; }
HRESULT CFilterGraph::StopWhenReady() { return E_NOTIMPL; }

HRESULT CFilterGraph::GetClassID(CLSID* pClassID) {
    if (!pClassID) return E_POINTER;
    *pClassID = CLSID_FilterGraph;
    return S_OK;
}

HRESULT CFilterGraph::SetSyncSource(IReferenceClock* pClock) {
    CAutoLock lock(&m_Lock);
    // Streaming and timer threads read a filter's clock without its lock.
    if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
    HRESULT hrResult = S_OK;
    for (const SFilter& f : m_Filters) {
        const HRESULT hr = f.pFilter->SetSyncSource(pClock);
        if (FAILED(hr) && SUCCEEDED(hrResult)) hrResult = hr;
    }
    m_pClock.Reset(pClock, AddRefTag);
    return hrResult;
}

HRESULT CFilterGraph::GetSyncSource(IReferenceClock** pClock) {
    if (!pClock) return E_POINTER;
    CAutoLock lock(&m_Lock);
    *pClock = m_pClock.Get();
    if (m_pClock) m_pClock->AddRef();
    return m_pClock ? S_OK : S_FALSE;
}

// IDispatch
HRESULT CFilterGraph::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}
HRESULT CFilterGraph::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT CFilterGraph::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT CFilterGraph::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

// ---------------------------------------------------------------------------
// Seeking

std::vector<IMediaSeeking*> CFilterGraph::SeekingTargets() const {
    std::vector<IMediaSeeking*> targets;
    for (const SFilter& f : m_Filters) {
        if (!IsConnectedRenderer(f.pFilter.Get())) continue;
        IMediaSeeking* pSeeking = nullptr;
        if (SUCCEEDED(f.pFilter->QueryInterface(IID_IMediaSeeking,
                                                reinterpret_cast<void**>(&pSeeking))) &&
            pSeeking) {
            targets.push_back(pSeeking);
        }
    }
    return targets;
}

template <class F>
HRESULT CFilterGraph::OnFirstTarget(F f) {
    CComRef<IMediaSeeking> pTarget;
    {
        CAutoLock lock(&m_Lock);
        std::vector<IMediaSeeking*> targets = SeekingTargets();
        for (size_t i = 0; i < targets.size(); ++i) {
            if (i == 0) {
                pTarget.Reset(targets[i], AdoptTag);
            } else {
                targets[i]->Release();
            }
        }
    }
    if (!pTarget) return E_NOTIMPL;
    return f(pTarget.Get());
}

HRESULT CFilterGraph::GetCapabilities(DWORD* p) {
    return OnFirstTarget([p](IMediaSeeking* s) { return s->GetCapabilities(p); });
}
HRESULT CFilterGraph::CheckCapabilities(DWORD* p) {
    return OnFirstTarget([p](IMediaSeeking* s) { return s->CheckCapabilities(p); });
}
HRESULT CFilterGraph::IsFormatSupported(const GUID* p) {
    if (!p) return E_POINTER;
    return OnFirstTarget([p](IMediaSeeking* s) { return s->IsFormatSupported(p); });
}
HRESULT CFilterGraph::QueryPreferredFormat(GUID* p) {
    return OnFirstTarget([p](IMediaSeeking* s) { return s->QueryPreferredFormat(p); });
}
HRESULT CFilterGraph::GetTimeFormat(GUID* p) {
    return OnFirstTarget([p](IMediaSeeking* s) { return s->GetTimeFormat(p); });
}
HRESULT CFilterGraph::IsUsingTimeFormat(const GUID* p) {
    return OnFirstTarget([p](IMediaSeeking* s) { return s->IsUsingTimeFormat(p); });
}
HRESULT CFilterGraph::SetTimeFormat(const GUID* p) {
    if (!p) return E_POINTER;
    CAutoLock lock(&m_Lock);
    if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
    std::vector<IMediaSeeking*> targets = SeekingTargets();
    HRESULT hr = targets.empty() ? E_NOTIMPL : S_OK;
    for (IMediaSeeking* s : targets) {
        const HRESULT hrOne = s->SetTimeFormat(p);
        if (FAILED(hrOne) && SUCCEEDED(hr)) hr = hrOne;
        s->Release();
    }
    return hr;
}
HRESULT CFilterGraph::GetDuration(LONGLONG* p) {
    return OnFirstTarget([p](IMediaSeeking* s) { return s->GetDuration(p); });
}
HRESULT CFilterGraph::GetStopPosition(LONGLONG* p) {
    return OnFirstTarget([p](IMediaSeeking* s) { return s->GetStopPosition(p); });
}
HRESULT CFilterGraph::GetCurrentPosition(LONGLONG* p) {
    // The renderer's position object answers from its last rendered sample
    // (or the stop position after the end), else upstream's segment start.
    return OnFirstTarget([p](IMediaSeeking* s) { return s->GetCurrentPosition(p); });
}
HRESULT CFilterGraph::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                        LONGLONG Source, const GUID* pSourceFormat) {
    return OnFirstTarget([&](IMediaSeeking* s) {
        return s->ConvertTimeFormat(pTarget, pTargetFormat, Source, pSourceFormat);
    });
}
HRESULT CFilterGraph::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    // Not passed on as one call: the renderer's position object would send
    // it upstream, where the current position is only the segment start.
    return OnFirstTarget([&](IMediaSeeking* s) {
        HRESULT hr = S_OK;
        if (pCurrent) hr = s->GetCurrentPosition(pCurrent);
        if (SUCCEEDED(hr) && pStop) hr = s->GetStopPosition(pStop);
        return hr;
    });
}
HRESULT CFilterGraph::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    return OnFirstTarget([&](IMediaSeeking* s) { return s->GetAvailable(pEarliest, pLatest); });
}
HRESULT CFilterGraph::SetRate(double dRate) {
    return OnFirstTarget([dRate](IMediaSeeking* s) { return s->SetRate(dRate); });
}
HRESULT CFilterGraph::GetRate(double* p) {
    return OnFirstTarget([p](IMediaSeeking* s) { return s->GetRate(p); });
}
HRESULT CFilterGraph::GetPreroll(LONGLONG* p) {
    return OnFirstTarget([p](IMediaSeeking* s) { return s->GetPreroll(p); });
}

HRESULT CFilterGraph::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                   DWORD dwStopFlags) {
    CAutoLock lock(&m_Lock);
    std::vector<IMediaSeeking*> targets = SeekingTargets();
    if (targets.empty()) return E_NOTIMPL;
    const bool bNewCurrent =
        (dwCurrentFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_NoPositioning;
    const bool bWasRunning = m_State == State_Running;
    // A seek while running: pause, seek, and run the new segment from a
    // fresh start time once its first frame is there.
    if (bNewCurrent && bWasRunning) PauseInternal();
    HRESULT hr = S_OK;
    for (IMediaSeeking* s : targets) {
        const HRESULT hrOne = s->SetPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags);
        if (FAILED(hrOne) && SUCCEEDED(hr)) hr = hrOne;
        s->Release();
    }
    if (bNewCurrent) {
        m_bResumable = false;
        ResetCompletion();
        if (bWasRunning) RunInternal(true);
    }
    return hr;
}

// ---------------------------------------------------------------------------
// Events

void CFilterGraph::QueueEvent(LONG lCode, LONG_PTR lParam1, LONG_PTR lParam2) {
    if (m_Events.size() >= kMaxQueuedEvents) m_Events.pop_front();
    m_Events.push_back(SEvent{lCode, lParam1, lParam2});
}

HRESULT CFilterGraph::Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
    CStdMutexLock lock(&m_EventLock);
    if (EventCode == EC_COMPLETE) {
        // The renderer's filter pointer is an identity only.
        const void* pId = reinterpret_cast<const void*>(EventParam2);
        const bool bCounted =
            std::find(m_Renderers.begin(), m_Renderers.end(), pId) != m_Renderers.end();
        if (!bCounted) return S_OK;  // an unconnected renderer, or not ours
        if (std::find(m_Completed.begin(), m_Completed.end(), pId) == m_Completed.end()) {
            m_Completed.push_back(pId);
        }
        if (!m_bComplete && m_Completed.size() == m_Renderers.size()) {
            m_bComplete = true;
            QueueEvent(EC_COMPLETE, S_OK, 0);
        }
    } else {
        if (EventCode == EC_ERRORABORT) m_bAborted = true;
        QueueEvent(EventCode, EventParam1, EventParam2);
    }
    m_cvEvent.notify_all();
    return S_OK;
}

HRESULT CFilterGraph::GetEventHandle(OAEVENT*) { return E_NOTIMPL; }

HRESULT CFilterGraph::GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                               LONG msTimeout) {
    if (!lEventCode || !lParam1 || !lParam2) return E_POINTER;
    const bool bInfinite = static_cast<DWORD>(msTimeout) == INFINITE;
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(bInfinite ? 0 : (msTimeout < 0 ? 0 : msTimeout));
    CStdMutexLock lock(&m_EventLock);
    while (m_Events.empty()) {
        if (!bInfinite && std::chrono::steady_clock::now() >= deadline) return E_ABORT;
        m_cvEvent.wait_for(lock.Native(), kWaitSlice);
    }
    const SEvent e = m_Events.front();
    m_Events.pop_front();
    *lEventCode = e.lCode;
    *lParam1 = e.lParam1;
    *lParam2 = e.lParam2;
    return S_OK;
}

HRESULT CFilterGraph::WaitForCompletion(LONG msTimeout, LONG* pEvCode) {
    if (!pEvCode) return E_POINTER;
    *pEvCode = 0;
    const bool bInfinite = static_cast<DWORD>(msTimeout) == INFINITE;
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(bInfinite ? 0 : (msTimeout < 0 ? 0 : msTimeout));
    CStdMutexLock lock(&m_EventLock);
    for (;;) {
        if (m_bAborted) {
            *pEvCode = EC_ERRORABORT;
            return S_OK;
        }
        // Not running: nothing will complete (Stop from another thread ends
        // the wait too). A pause in the middle of a seek does not count.
        if (m_State == State_Stopped) return VFW_E_WRONG_STATE;
        if (m_bComplete && m_State == State_Running) {
            *pEvCode = EC_COMPLETE;
            return S_OK;
        }
        if (!bInfinite && std::chrono::steady_clock::now() >= deadline) return E_ABORT;
        m_cvEvent.wait_for(lock.Native(), kWaitSlice);
    }
}

HRESULT CFilterGraph::CancelDefaultHandling(LONG) { return E_NOTIMPL; }
HRESULT CFilterGraph::RestoreDefaultHandling(LONG) { return E_NOTIMPL; }
HRESULT CFilterGraph::FreeEventParams(LONG, LONG_PTR, LONG_PTR) {
    return S_OK;  // no event here carries memory of its own
}
HRESULT CFilterGraph::SetNotifyWindow(OAHWND, LONG, LONG_PTR) { return E_NOTIMPL; }
HRESULT CFilterGraph::SetNotifyFlags(LONG) { return E_NOTIMPL; }
HRESULT CFilterGraph::GetNotifyFlags(LONG* p) {
    if (!p) return E_POINTER;
    *p = 0;
    return S_OK;
}
