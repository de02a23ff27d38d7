#include "filterbase/enum_pins.h"

#include <algorithm>
#include <new>

#include "filterbase/base_filter.h"
#include "filterbase/base_pin.h"

CEnumPins::CEnumPins(CBaseFilter* pFilter, const CEnumPins* pEnumPins)
    : CUnknown("CEnumPins", nullptr), m_pFilter(pFilter, AddRefTag) {
    if (pEnumPins) {
        m_Position = pEnumPins->m_Position;
        m_PinCount = pEnumPins->m_PinCount;
        m_Version = pEnumPins->m_Version;
        try {
            m_PinCache = pEnumPins->m_PinCache;
        } catch (const std::bad_alloc&) {
            // A clone without the cache could return pins twice; start over.
            m_PinCache.clear();
            Refresh();
        }
    } else {
        Refresh();
    }
}

CEnumPins::~CEnumPins() = default;

HRESULT CEnumPins::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IEnumPins) return GetInterface(static_cast<IEnumPins*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

bool CEnumPins::AreWeOutOfSync() const { return m_pFilter->GetPinVersion() != m_Version; }

void CEnumPins::Refresh() {
    m_Version = m_pFilter->GetPinVersion();
    m_PinCount = m_pFilter->GetPinCount();
    m_Position = 0;
}

bool CEnumPins::IsInCache(IPin* pPin) const {
    return std::find(m_PinCache.begin(), m_PinCache.end(), pPin) != m_PinCache.end();
}

HRESULT CEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) {
    if (!ppPins) return E_POINTER;
    if (!pcFetched && cPins != 1) return E_INVALIDARG;
    if (pcFetched) *pcFetched = 0;
    if (AreWeOutOfSync()) Refresh();  // keeps the cache

    ULONG cFetched = 0;
    while (cFetched < cPins && m_Position < m_PinCount) {
        CBasePin* pBasePin = m_pFilter->GetPin(m_Position++);
        if (!pBasePin) {
            // Give back what this call handed out, and forget it was returned.
            for (ULONG i = 0; i < cFetched; ++i) {
                m_PinCache.erase(std::find(m_PinCache.begin(), m_PinCache.end(), ppPins[i]));
                ppPins[i]->Release();
                ppPins[i] = nullptr;
            }
            return VFW_E_ENUM_OUT_OF_SYNC;
        }
        IPin* pPin = static_cast<IPin*>(pBasePin);
        if (IsInCache(pPin)) continue;
        try {
            m_PinCache.push_back(pPin);
        } catch (const std::bad_alloc&) {
            --m_Position;  // not returned; try it again next time
            break;
        }
        pPin->AddRef();
        ppPins[cFetched++] = pPin;
    }
    if (pcFetched) *pcFetched = cFetched;
    return cFetched == cPins ? S_OK : S_FALSE;
}

HRESULT CEnumPins::Skip(ULONG cPins) {
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    const ULONG cLeft = static_cast<ULONG>(m_PinCount - m_Position);
    if (cPins > cLeft) return S_FALSE;
    m_Position += static_cast<int>(cPins);
    return S_OK;
}

HRESULT CEnumPins::Reset() {
    Refresh();
    m_PinCache.clear();
    return S_OK;
}

HRESULT CEnumPins::Clone(IEnumPins** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    auto* pClone = new (std::nothrow) CEnumPins(m_pFilter.Get(), this);
    if (!pClone) return E_OUTOFMEMORY;
    *ppEnum = pClone;
    pClone->AddRef();
    return S_OK;
}
