// platform/com: IDispatch and the automation types its signatures name.
//
// There is no type library on this platform: the automation records are only
// declared, and objects answer type information requests with a failure.
// May include: the C++ standard library, platform/win, platform/com. No Qt.
#pragma once

#include "platform/com/iunknown.h"

using DISPID = LONG;
using OLECHAR = wchar_t;
using BSTR = OLECHAR*;
using LPOLESTR = OLECHAR*;
using REFTIME = double;  // seconds

struct DISPPARAMS;
struct VARIANT;
struct EXCEPINFO;

inline constexpr IID IID_ITypeInfo = {
    0x00020401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Opaque: nothing here produces one.
struct ITypeInfo : IUnknown {};

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT itinfo, LCID lcid, ITypeInfo** pptinfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                  DISPID* rgdispid) = 0;
    virtual HRESULT Invoke(DISPID dispidMember, REFIID riid, LCID lcid, WORD wFlags,
                           DISPPARAMS* pdispparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                           UINT* puArgErr) = 0;
};
