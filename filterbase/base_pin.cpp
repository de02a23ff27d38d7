#include "filterbase/base_pin.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "filterbase/enum_media_types.h"
#include "platform/com/com_runtime.h"

namespace {
// Refusals that say only "not this type"; any other failure is specific and
// worth reporting.
bool IsPlainRefusal(HRESULT hr) {
    return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED;
}
}  // namespace

void CopyNameField(WCHAR* pField, size_t cchField, LPCWSTR pSource) {
    if (cchField == 0) return;
    size_t cch = 0;
    if (pSource) {
        cch = wcsnlen(pSource, cchField - 1);
        std::wmemcpy(pField, pSource, cch);
    }
    pField[cch] = L'\0';
}

CBasePin::CBasePin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                   LPCWSTR pName, PIN_DIRECTION dir)
    : CUnknown(pObjectName, nullptr), m_dir(dir), m_pLock(pLock), m_pFilter(pFilter) {
    if (pName) {
        const size_t cch = std::wcslen(pName);
        m_pName = new (std::nothrow) WCHAR[cch + 1];
        if (m_pName) {
            std::wmemcpy(m_pName, pName, cch + 1);
        } else if (phr) {
            *phr = E_OUTOFMEMORY;
        }
    }
}

CBasePin::~CBasePin() {
    // A pin is destroyed with its filter, after the graph disconnected it;
    // drop a peer left over so that nothing leaks.
    if (m_Connected) {
        m_Connected->Release();
        m_Connected = nullptr;
    }
    delete[] m_pName;
}

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), ppv);
    if (riid == IID_IQualityControl) {
        return GetInterface(static_cast<IQualityControl*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG CBasePin::NonDelegatingAddRef() { return m_pFilter->AddRef(); }

ULONG CBasePin::NonDelegatingRelease() { return m_pFilter->Release(); }

HRESULT CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    if (!pReceivePin) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
    HRESULT hr;
    if (pmt) {
        HRESULT hrCopy = S_OK;
        const CMediaType cmt(*pmt, &hrCopy);
        hr = FAILED(hrCopy) ? hrCopy : AgreeMediaType(pReceivePin, &cmt);
    } else {
        hr = AgreeMediaType(pReceivePin, nullptr);
    }
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    return S_OK;
}

HRESULT CBasePin::AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt) {
    if (pmt && !pmt->IsPartiallySpecified()) {
        return AttemptConnection(pReceivePin, pmt);
    }
    HRESULT hrFailure = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int i = 0; i < 2; ++i) {
        IEnumMediaTypes* pEnum = nullptr;
        const HRESULT hrEnum = (i == static_cast<int>(m_bTryMyTypesFirst))
                                   ? pReceivePin->EnumMediaTypes(&pEnum)
                                   : EnumMediaTypes(&pEnum);
        if (FAILED(hrEnum) || !pEnum) continue;
        const HRESULT hr = TryMediaTypes(pReceivePin, pmt, pEnum);
        pEnum->Release();
        if (SUCCEEDED(hr)) return S_OK;
        if (!IsPlainRefusal(hr)) hrFailure = hr;
    }
    return hrFailure;
}

HRESULT CBasePin::TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum) {
    HRESULT hr = pEnum->Reset();
    if (FAILED(hr)) return hr;
    HRESULT hrFailure = S_OK;
    for (;;) {
        AM_MEDIA_TYPE* pMediaType = nullptr;
        ULONG ulFetched = 0;
        hr = pEnum->Next(1, &pMediaType, &ulFetched);
        if (hr != S_OK || ulFetched != 1) {
            DeleteMediaType(pMediaType);  // in case an enumerator misbehaved
            return hrFailure == S_OK ? VFW_E_NO_ACCEPTABLE_TYPES : hrFailure;
        }
        if (!pMediaType) {
            hr = VFW_E_NO_ACCEPTABLE_TYPES;
        } else {
            // Take over the record without copying its format block.
            CMediaType cmt;
            static_cast<AM_MEDIA_TYPE&>(cmt) = *pMediaType;
            CoTaskMemFree(pMediaType);
            if (pmt && !cmt.MatchesPartial(pmt)) {
                hr = VFW_E_NO_ACCEPTABLE_TYPES;
            } else {
                hr = AttemptConnection(pReceivePin, &cmt);
            }
        }
        if (hr == S_OK) return S_OK;
        if (FAILED(hr) && !IsPlainRefusal(hr) && hrFailure == S_OK) hrFailure = hr;
    }
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const CMediaType* pmt) {
    HRESULT hr = CheckConnect(pReceivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(pmt);
    if (hr != S_OK) {
        if (SUCCEEDED(hr) || IsPlainRefusal(hr)) hr = VFW_E_TYPE_NOT_ACCEPTED;
        BreakConnect();
        return hr;
    }
    m_Connected = pReceivePin;
    m_Connected->AddRef();
    hr = SetMediaType(pmt);
    if (SUCCEEDED(hr)) {
        hr = pReceivePin->ReceiveConnection(static_cast<IPin*>(this), pmt);
        if (SUCCEEDED(hr)) {
            hr = CompleteConnect(pReceivePin);
            if (SUCCEEDED(hr)) return S_OK;
            pReceivePin->Disconnect();
        }
    }
    BreakConnect();
    m_Connected->Release();
    m_Connected = nullptr;
    return FAILED(hr) ? hr : E_FAIL;
}

HRESULT CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    if (!pConnector || !pmt) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(pConnector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    HRESULT hrCopy = S_OK;
    const CMediaType cmt(*pmt, &hrCopy);
    hr = FAILED(hrCopy) ? hrCopy : CheckMediaType(&cmt);
    if (hr != S_OK) {
        BreakConnect();
        if (SUCCEEDED(hr) || IsPlainRefusal(hr)) hr = VFW_E_TYPE_NOT_ACCEPTED;
        return hr;
    }
    m_Connected = pConnector;
    m_Connected->AddRef();
    hr = SetMediaType(&cmt);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(pConnector);
        if (SUCCEEDED(hr)) return S_OK;
    }
    m_Connected->Release();
    m_Connected = nullptr;
    BreakConnect();
    return hr;
}

HRESULT CBasePin::Disconnect() {
    CAutoLock lock(m_pLock);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
    if (!m_Connected) return S_FALSE;
    const HRESULT hr = BreakConnect();
    if (FAILED(hr)) return hr;
    m_Connected->Release();
    m_Connected = nullptr;
    return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** pPin) {
    if (!pPin) return E_POINTER;
    // Under the lock: a Disconnect on another thread may otherwise release
    // the peer between the read and our AddRef.
    CAutoLock lock(m_pLock);
    IPin* pPeer = m_Connected;
    *pPin = pPeer;
    if (!pPeer) return VFW_E_NOT_CONNECTED;
    pPeer->AddRef();
    return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected) return CopyMediaType(pmt, &m_mt);
    // The caller's record may be uninitialised: empty it without freeing.
    std::memset(static_cast<void*>(pmt), 0, sizeof(*pmt));
    pmt->bFixedSizeSamples = TRUE;
    pmt->lSampleSize = 1;
    return VFW_E_NOT_CONNECTED;
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* pInfo) {
    if (!pInfo) return E_POINTER;
    pInfo->pFilter = static_cast<IBaseFilter*>(m_pFilter);
    pInfo->pFilter->AddRef();
    CopyNameField(pInfo->achName, MAX_PIN_NAME, m_pName);
    pInfo->dir = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* pPinDir) {
    if (!pPinDir) return E_POINTER;
    *pPinDir = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryId(LPWSTR* Id) {
    if (!Id) return E_POINTER;
    const size_t cch = m_pName ? std::wcslen(m_pName) : 0;
    *Id = static_cast<LPWSTR>(CoTaskMemAlloc((cch + 1) * sizeof(WCHAR)));
    if (!*Id) return E_OUTOFMEMORY;
    if (cch) std::wmemcpy(*Id, m_pName, cch);
    (*Id)[cch] = L'\0';
    return S_OK;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    HRESULT hrCopy = S_OK;
    const CMediaType cmt(*pmt, &hrCopy);
    if (FAILED(hrCopy)) return S_FALSE;
    const HRESULT hr = CheckMediaType(&cmt);
    return FAILED(hr) ? S_FALSE : hr;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    if (!ppEnum) return E_POINTER;
    auto* pEnum = new (std::nothrow) CEnumMediaTypes(this, nullptr);
    if (!pEnum) {
        *ppEnum = nullptr;
        return E_OUTOFMEMORY;
    }
    *ppEnum = pEnum;
    pEnum->AddRef();
    return S_OK;
}

HRESULT CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT CBasePin::EndOfStream() { return S_OK; }

HRESULT CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    m_tStart = tStart;
    m_tStop = tStop;
    m_dRate = dRate;
    return S_OK;
}

HRESULT CBasePin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

HRESULT CBasePin::SetSink(IQualityControl* piqc) {
    CAutoLock lock(m_pLock);
    m_pQSink = piqc;
    return S_OK;
}

LONG CBasePin::GetMediaTypeVersion() { return m_TypeVersion.load(); }

HRESULT CBasePin::Active() { return S_OK; }

HRESULT CBasePin::Inactive() { return S_OK; }

HRESULT CBasePin::Run(REFERENCE_TIME) { return S_OK; }

HRESULT CBasePin::SetMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    return m_mt.Set(*pmt);
}

HRESULT CBasePin::CheckConnect(IPin* pPin) {
    PIN_DIRECTION pd;
    const HRESULT hr = pPin->QueryDirection(&pd);
    if (FAILED(hr)) return hr;
    if (pd == m_dir) return VFW_E_INVALID_DIRECTION;
    return S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }

HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }

HRESULT CBasePin::GetMediaType(int, CMediaType*) { return E_UNEXPECTED; }
