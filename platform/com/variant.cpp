#include "platform/com/variant.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>

namespace {

constexpr size_t kPrefix = sizeof(uint64_t);  // keeps the units 8-byte aligned

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
    if (cch > (std::numeric_limits<uint32_t>::max() - kPrefix) / sizeof(OLECHAR) - 1) {
        return nullptr;
    }
    const size_t cbText = size_t{cch} * sizeof(OLECHAR);
    auto* pBlock = static_cast<BYTE*>(std::malloc(kPrefix + cbText + sizeof(OLECHAR)));
    if (!pBlock) return nullptr;
    const uint32_t cb = static_cast<uint32_t>(cbText);
    std::memcpy(pBlock + kPrefix - sizeof(uint32_t), &cb, sizeof(cb));
    auto* pText = reinterpret_cast<OLECHAR*>(pBlock + kPrefix);
    if (pch) {
        std::memcpy(pText, pch, cbText);
    } else {
        std::memset(pText, 0, cbText);
    }
    pText[cch] = 0;
    return pText;
}

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(std::wcslen(psz)));
}

void SysFreeString(BSTR bstr) {
    if (bstr) std::free(reinterpret_cast<BYTE*>(bstr) - kPrefix);
}

UINT SysStringLen(BSTR bstr) {
    if (!bstr) return 0;
    uint32_t cb = 0;
    std::memcpy(&cb, reinterpret_cast<BYTE*>(bstr) - sizeof(uint32_t), sizeof(cb));
    return cb / sizeof(OLECHAR);
}

void VariantInit(VARIANT* pvarg) {
    if (!pvarg) return;
    std::memset(pvarg, 0, sizeof(*pvarg));
    pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* pvarg) {
    if (!pvarg) return E_INVALIDARG;
    switch (pvarg->vt) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I4:
            break;
        case VT_BSTR:
            SysFreeString(pvarg->bstrVal);
            break;
        default:
            return DISP_E_BADVARTYPE;
    }
    VariantInit(pvarg);
    return S_OK;
}
