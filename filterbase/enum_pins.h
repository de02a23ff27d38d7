// filterbase: CEnumPins, the enumerator of a filter's pins.
//
// Contract:
// - Holds one reference on its filter; hands out each pin with a reference.
// - When the filter's pin version changes, Next refreshes itself (new count,
//   position 0) but never returns a pin it already returned; Skip and Clone
//   answer VFW_E_ENUM_OUT_OF_SYNC; Reset starts over and forgets what it
//   returned.
// - A pin that cannot be obtained part-way answers VFW_E_ENUM_OUT_OF_SYNC; the
//   pins already placed in the array are released and 0 is reported fetched.
// - One enumerator is used by one thread at a time (its position is not
//   locked); the reference count is atomic.
#pragma once

#include <vector>

#include "filterbase/unknown.h"
#include "platform/com/com_ref.h"
#include "platform/media/media_interfaces.h"

class CBaseFilter;

class CEnumPins : public CUnknown, public IEnumPins {
public:
    // Copies the state of pEnumPins when given (for Clone).
    CEnumPins(CBaseFilter* pFilter, const CEnumPins* pEnumPins);
    ~CEnumPins() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
    HRESULT Skip(ULONG cPins) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumPins** ppEnum) override;

private:
    bool AreWeOutOfSync() const;
    void Refresh();
    bool IsInCache(IPin* pPin) const;

    CComRef<CBaseFilter> m_pFilter;
    int m_Position = 0;
    int m_PinCount = 0;
    LONG m_Version = 0;
    // Pins returned since the last Reset, for identity only (no references).
    std::vector<IPin*> m_PinCache;
};
