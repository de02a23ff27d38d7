#include "filterbase/media_position.h"

CMediaPosition::CMediaPosition(const char* pName, IUnknown* pUnk) : CUnknown(pName, pUnk) {}

CMediaPosition::CMediaPosition(const char* pName, IUnknown* pUnk, HRESULT*)
    : CUnknown(pName, pUnk) {}

HRESULT CMediaPosition::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaPosition) {
        return GetInterface(static_cast<IMediaPosition*>(this), ppv);
    }
    if (riid == IID_IDispatch) return GetInterface(static_cast<IDispatch*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CMediaPosition::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

HRESULT CMediaPosition::GetTypeInfo(UINT itinfo, LCID, ITypeInfo** pptinfo) {
    if (!pptinfo) return E_POINTER;
    *pptinfo = nullptr;
    if (itinfo != 0) return TYPE_E_ELEMENTNOTFOUND;
    return E_NOTIMPL;  // no type library here
}

HRESULT CMediaPosition::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT CMediaPosition::Invoke(DISPID, REFIID riid, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                               UINT*) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return E_NOTIMPL;
}
