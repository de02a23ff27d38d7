// filterbase: CEnumMediaTypes, the enumerator of a pin's preferred types.
//
// Contract:
// - Holds one reference on its pin (that is, on the pin's filter).
// - Each type is handed out in a new task-allocated AM_MEDIA_TYPE that owns
//   its format block; the caller frees it with DeleteMediaType.
// - Next answers E_OUTOFMEMORY, having changed nothing, when a type cannot
//   be copied (by the pin, which then answers E_OUTOFMEMORY, or here).
// - When the pin's type version changes, Next, Skip and Clone answer
//   VFW_E_ENUM_OUT_OF_SYNC until Reset.
// - One enumerator is used by one thread at a time; the reference count is
//   atomic.
#pragma once

#include "filterbase/unknown.h"
#include "platform/com/com_ref.h"
#include "platform/media/media_interfaces.h"

class CBasePin;

class CEnumMediaTypes : public CUnknown, public IEnumMediaTypes {
public:
    CEnumMediaTypes(CBasePin* pPin, const CEnumMediaTypes* pEnumMediaTypes);
    ~CEnumMediaTypes() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
    HRESULT Skip(ULONG cMediaTypes) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumMediaTypes** ppEnum) override;

private:
    bool AreWeOutOfSync() const;

    CComRef<CBasePin> m_pPin;
    int m_Position = 0;
    LONG m_Version = 0;
};
