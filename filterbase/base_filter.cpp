#include "filterbase/base_filter.h"

#include <cwchar>
#include <new>

#include "filterbase/base_pin.h"
#include "filterbase/enum_pins.h"

namespace {
// Longest filter name JoinFilterGraph accepts, terminator excluded.
constexpr size_t kMaxNameChars = 0x7FFFFFFE;
}  // namespace

CBaseFilter::CBaseFilter(const char* pName, IUnknown* pUnk, CCritSec* pLock, REFCLSID clsid)
    : CUnknown(pName, pUnk), m_clsid(clsid), m_pLock(pLock) {}

CBaseFilter::CBaseFilter(const char* pName, IUnknown* pUnk, CCritSec* pLock, REFCLSID clsid,
                         HRESULT*)
    : CBaseFilter(pName, pUnk, pLock, clsid) {}

CBaseFilter::~CBaseFilter() {
    delete[] m_pName;
    if (m_pClock) m_pClock->Release();
}

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IBaseFilter) return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    if (riid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), ppv);
    if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
    if (riid == IID_IAMovieSetup) return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::GetClassID(CLSID* pClsID) {
    if (!pClsID) return E_POINTER;
    *pClsID = m_clsid;
    return S_OK;
}

HRESULT CBaseFilter::Stop() {
    CAutoLock lock(m_pLock);
    HRESULT hr = S_OK;
    if (m_State != State_Stopped) {
        const int cPins = GetPinCount();
        for (int c = 0; c < cPins; ++c) {
            CBasePin* pPin = GetPin(c);
            if (!pPin) break;
            if (pPin->IsConnected()) {
                const HRESULT hrTmp = pPin->Inactive();
                if (FAILED(hrTmp) && SUCCEEDED(hr)) hr = hrTmp;
            }
        }
    }
    m_State = State_Stopped;
    return hr;
}

HRESULT CBaseFilter::Pause() {
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        const int cPins = GetPinCount();
        for (int c = 0; c < cPins; ++c) {
            CBasePin* pPin = GetPin(c);
            if (!pPin) break;
            if (pPin->IsConnected()) {
                const HRESULT hr = pPin->Active();
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_State = State_Paused;
    return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME tStart) {
    CAutoLock lock(m_pLock);
    m_tStart = tStart;
    if (m_State == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    if (m_State != State_Running) {
        const int cPins = GetPinCount();
        for (int c = 0; c < cPins; ++c) {
            CBasePin* pPin = GetPin(c);
            if (!pPin) break;
            if (pPin->IsConnected()) {
                const HRESULT hr = pPin->Run(tStart);
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* State) {
    if (!State) return E_POINTER;
    *State = m_State;
    return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* pClock) {
    CAutoLock lock(m_pLock);
    // Streaming and timer threads read m_pClock without the lock and without
    // a reference of their own; only a stopped filter has none of them.
    if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
    if (pClock) pClock->AddRef();
    if (m_pClock) m_pClock->Release();
    m_pClock = pClock;
    return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** pClock) {
    if (!pClock) return E_POINTER;
    CAutoLock lock(m_pLock);
    *pClock = m_pClock;
    if (m_pClock) m_pClock->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** ppEnum) {
    if (!ppEnum) return E_POINTER;
    auto* pEnum = new (std::nothrow) CEnumPins(this, nullptr);
    if (!pEnum) {
        *ppEnum = nullptr;
        return E_OUTOFMEMORY;
    }
    *ppEnum = pEnum;
    pEnum->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (!ppPin) return E_POINTER;
    *ppPin = nullptr;
    if (!Id) return E_POINTER;
    CAutoLock lock(m_pLock);
    const int cPins = GetPinCount();
    for (int i = 0; i < cPins; ++i) {
        CBasePin* pPin = GetPin(i);
        if (!pPin) break;
        if (pPin->Name() && std::wcscmp(pPin->Name(), Id) == 0) {
            *ppPin = pPin;
            pPin->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
    if (!pInfo) return E_POINTER;
    CAutoLock lock(m_pLock);
    pInfo->achName[0] = L'\0';
    if (m_pName) {
        const size_t cch = std::wcslen(m_pName);
        const size_t cchCopy = cch < MAX_FILTER_NAME - 1 ? cch : MAX_FILTER_NAME - 1;
        std::wmemcpy(pInfo->achName, m_pName, cchCopy);
        pInfo->achName[cchCopy] = L'\0';
    }
    pInfo->pGraph = m_pGraph.load();
    if (pInfo->pGraph) pInfo->pGraph->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    CAutoLock lock(m_pLock);
    m_pGraph = pGraph;
    IMediaEventSink* pSink = nullptr;
    if (pGraph) {
        if (SUCCEEDED(
                pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&pSink)))) {
            // Kept without a reference: the graph outlives our membership.
            pSink->Release();
        } else {
            pSink = nullptr;
        }
    }
    m_pSink = pSink;

    delete[] m_pName;
    m_pName = nullptr;
    if (pName) {
        const size_t cch = wcsnlen(pName, kMaxNameChars + 1);
        if (cch > kMaxNameChars) return E_INVALIDARG;
        m_pName = new (std::nothrow) WCHAR[cch + 1];
        if (!m_pName) return E_OUTOFMEMORY;
        std::wmemcpy(m_pName, pName, cch + 1);
    }
    return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

HRESULT CBaseFilter::Register() { return GetSetupData() ? E_NOTIMPL : S_FALSE; }

HRESULT CBaseFilter::Unregister() { return GetSetupData() ? E_NOTIMPL : S_FALSE; }

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME& rtStream) {
    if (!m_pClock) return VFW_E_NO_CLOCK;
    REFERENCE_TIME rtNow = 0;
    const HRESULT hr = m_pClock->GetTime(&rtNow);
    if (FAILED(hr)) return hr;
    rtStream = rtNow - m_tStart;
    return S_OK;
}

LONG CBaseFilter::GetPinVersion() { return m_PinVersion.load(); }

HRESULT CBaseFilter::NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
    IMediaEventSink* pSink = m_pSink.load();
    if (!pSink) return E_NOTIMPL;
    if (EventCode == EC_COMPLETE) {
        EventParam2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    }
    return pSink->Notify(EventCode, EventParam1, EventParam2);
}
