#include "filterbase/enum_media_types.h"

#include <climits>
#include <new>

#include "filterbase/base_pin.h"
#include "platform/com/com_runtime.h"

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pPin, const CEnumMediaTypes* pEnumMediaTypes)
    : CUnknown("CEnumMediaTypes", nullptr), m_pPin(pPin, AddRefTag) {
    if (pEnumMediaTypes) {
        m_Position = pEnumMediaTypes->m_Position;
        m_Version = pEnumMediaTypes->m_Version;
    } else {
        m_Version = m_pPin->GetMediaTypeVersion();
    }
}

CEnumMediaTypes::~CEnumMediaTypes() = default;

HRESULT CEnumMediaTypes::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IEnumMediaTypes) {
        return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

bool CEnumMediaTypes::AreWeOutOfSync() const { return m_pPin->GetMediaTypeVersion() != m_Version; }

HRESULT CEnumMediaTypes::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) {
    if (!ppMediaTypes) return E_POINTER;
    if (pcFetched) *pcFetched = 0;
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    if (!pcFetched && cMediaTypes != 1) return E_INVALIDARG;

    ULONG cFetched = 0;
    HRESULT hrFailed = S_OK;
    while (cFetched < cMediaTypes && m_Position < INT_MAX) {
        CMediaType cmt;
        const HRESULT hr = m_pPin->GetMediaType(m_Position, &cmt);
        if (hr == E_OUTOFMEMORY) {
            hrFailed = hr;  // the pin could not copy its type: not the end of the list
            break;
        }
        if (hr != S_OK) break;
        auto* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (!pmt) {
            hrFailed = E_OUTOFMEMORY;
            break;
        }
        // Move the record: the format block and interface pointer change owner.
        *pmt = cmt;
        cmt.pbFormat = nullptr;
        cmt.cbFormat = 0;
        cmt.pUnk = nullptr;
        ppMediaTypes[cFetched++] = pmt;
        ++m_Position;
    }
    if (FAILED(hrFailed)) {
        // A failed call changes nothing: the types fetched so far are freed
        // and the position goes back, so a retry returns them (and the one
        // that failed) again instead of skipping it.
        for (ULONG i = 0; i < cFetched; ++i) {
            DeleteMediaType(ppMediaTypes[i]);
            ppMediaTypes[i] = nullptr;
        }
        m_Position -= static_cast<int>(cFetched);
        return hrFailed;
    }
    if (pcFetched) *pcFetched = cFetched;
    return cFetched == cMediaTypes ? S_OK : S_FALSE;
}

HRESULT CEnumMediaTypes::Skip(ULONG cMediaTypes) {
    if (cMediaTypes == 0) return S_OK;
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    if (cMediaTypes > static_cast<ULONG>(INT_MAX - m_Position)) {
        m_Position = INT_MAX;
        return S_FALSE;
    }
    m_Position += static_cast<int>(cMediaTypes);
    CMediaType cmt;
    return m_pPin->GetMediaType(m_Position - 1, &cmt) == S_OK ? S_OK : S_FALSE;
}

HRESULT CEnumMediaTypes::Reset() {
    m_Position = 0;
    m_Version = m_pPin->GetMediaTypeVersion();
    return S_OK;
}

HRESULT CEnumMediaTypes::Clone(IEnumMediaTypes** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    auto* pClone = new (std::nothrow) CEnumMediaTypes(m_pPin.Get(), this);
    if (!pClone) return E_OUTOFMEMORY;
    *ppEnum = pClone;
    pClone->AddRef();
    return S_OK;
}
