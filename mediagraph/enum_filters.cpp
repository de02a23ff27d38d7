#include "mediagraph/enum_filters.h"

#include <new>

#include "platform/media/media_guids.h"

CEnumFilters::CEnumFilters(const std::vector<IBaseFilter*>& filters, size_t nPos)
    : CUnknown("CEnumFilters", nullptr), m_nPos(nPos) {
    for (IBaseFilter* p : filters) m_Filters.emplace_back(p, AddRefTag);
}

HRESULT CEnumFilters::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IEnumFilters) return GetInterface(static_cast<IEnumFilters*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CEnumFilters::Next(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) {
    if (!ppFilter) return E_POINTER;
    if (cFilters > 1 && !pcFetched) return E_POINTER;
    ULONG n = 0;
    while (n < cFilters && m_nPos < m_Filters.size()) {
        ppFilter[n] = m_Filters[m_nPos++].Get();
        ppFilter[n]->AddRef();
        ++n;
    }
    if (pcFetched) *pcFetched = n;
    return n == cFilters ? S_OK : S_FALSE;
}

HRESULT CEnumFilters::Skip(ULONG cFilters) {
    const size_t nLeft = m_Filters.size() - m_nPos;
    if (cFilters > nLeft) {
        m_nPos = m_Filters.size();
        return S_FALSE;
    }
    m_nPos += cFilters;
    return S_OK;
}

HRESULT CEnumFilters::Reset() {
    m_nPos = 0;
    return S_OK;
}

HRESULT CEnumFilters::Clone(IEnumFilters** ppEnum) {
    if (!ppEnum) return E_POINTER;
    std::vector<IBaseFilter*> raw;
    for (const auto& r : m_Filters) raw.push_back(r.Get());
    auto* p = new (std::nothrow) CEnumFilters(raw, m_nPos);
    if (!p) return E_OUTOFMEMORY;
    return p->NonDelegatingQueryInterface(IID_IEnumFilters, reinterpret_cast<void**>(ppEnum));
}
