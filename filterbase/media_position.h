// filterbase: CMediaPosition, the IMediaPosition base that supplies
// IDispatch for scripting clients.
//
// There is no type library on this platform. GetTypeInfoCount answers 1 (the
// interface is described in principle), but GetTypeInfo, GetIDsOfNames and
// Invoke always fail with E_NOTIMPL after their argument checks, and never
// answer S_OK with a null result.
// Derived classes supply the IMediaPosition methods; any thread may call them.
#pragma once

#include "filterbase/unknown.h"
#include "platform/media/media_interfaces.h"

class CMediaPosition : public CUnknown, public IMediaPosition {
public:
    CMediaPosition(const char* pName, IUnknown* pUnk);
    CMediaPosition(const char* pName, IUnknown* pUnk, HRESULT* phr);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IDispatch
    HRESULT GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT GetTypeInfo(UINT itinfo, LCID lcid, ITypeInfo** pptinfo) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                          DISPID* rgdispid) override;
    HRESULT Invoke(DISPID dispidMember, REFIID riid, LCID lcid, WORD wFlags,
                   DISPPARAMS* pdispparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                   UINT* puArgErr) override;
};
