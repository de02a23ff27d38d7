// mediagraph: CEnumFilters, the graph's snapshot enumerator over its filters.
//
// The enumerator holds a reference on every filter it lists, taken when it
// is made, so it stays valid when the graph changes afterwards. One thread
// at a time, as for every enumerator.
#pragma once

#include <vector>

#include "filterbase/unknown.h"
#include "platform/com/com_ref.h"
#include "platform/media/graph_interfaces.h"

class CEnumFilters final : public CUnknown, public IEnumFilters {
public:
    // Lists filters (each AddRef'd here), starting at index nPos.
    CEnumFilters(const std::vector<IBaseFilter*>& filters, size_t nPos);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT Next(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) override;
    HRESULT Skip(ULONG cFilters) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumFilters** ppEnum) override;

private:
    std::vector<CComRef<IBaseFilter>> m_Filters;
    size_t m_nPos;
};
