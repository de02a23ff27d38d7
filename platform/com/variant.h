// platform/com: VARIANT with the members property bags use, and the BSTR
// string calls.
//
// A BSTR is a length-prefixed, zero-terminated wide string in its own
// allocation: the 32-bit byte length sits just before the first unit. Wide
// text is wchar_t here (32-bit units). SysFreeString and VariantClear take
// null / an empty variant. A VARIANT owns its BSTR (VT_BSTR): VariantClear
// frees it and leaves VT_EMPTY.
// May include: the C++ standard library, platform/win, platform/com. No Qt.
#pragma once

#include "platform/com/dispatch.h"

using VARTYPE = uint16_t;
using LPCOLESTR = const OLECHAR*;

constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_NULL = 1;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_BSTR = 8;

constexpr HRESULT DISP_E_BADVARTYPE = MakeHr(0x80020008u);

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        BSTR bstrVal;
        LONGLONG llVal;
    };
};
static_assert(sizeof(VARIANT) == 16);

// A BSTR copy of psz (null gives null); null when out of memory.
BSTR SysAllocString(const OLECHAR* psz);
// A BSTR of cch units copied from pch (zero-filled when pch is null).
BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch);
void SysFreeString(BSTR bstr);
// Units in the string (0 for null).
UINT SysStringLen(BSTR bstr);

void VariantInit(VARIANT* pvarg);
// Frees what the variant owns; VT_EMPTY afterwards.
HRESULT VariantClear(VARIANT* pvarg);
