#include "filterbase/media_type.h"

#include <cstring>

#include "platform/com/com_runtime.h"

void FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.pbFormat) {
        CoTaskMemFree(mt.pbFormat);
        mt.pbFormat = nullptr;
    }
    mt.cbFormat = 0;
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt) return;
    FreeMediaType(*pmt);
    CoTaskMemFree(pmt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* pDest, const AM_MEDIA_TYPE* pSrc) {
    if (!pDest || !pSrc) return E_POINTER;
    *pDest = *pSrc;
    pDest->pbFormat = nullptr;
    pDest->cbFormat = 0;
    HRESULT hr = S_OK;
    if (pSrc->cbFormat != 0 && pSrc->pbFormat) {
        pDest->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(pSrc->cbFormat));
        if (pDest->pbFormat) {
            std::memcpy(pDest->pbFormat, pSrc->pbFormat, pSrc->cbFormat);
            pDest->cbFormat = pSrc->cbFormat;
        } else {
            hr = E_OUTOFMEMORY;
        }
    }
    if (pDest->pUnk) pDest->pUnk->AddRef();
    return hr;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc) {
    if (!pSrc) return nullptr;
    auto* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!pmt) return nullptr;
    if (FAILED(CopyMediaType(pmt, pSrc))) {
        DeleteMediaType(pmt);
        return nullptr;
    }
    return pmt;
}

CMediaType::CMediaType() : AM_MEDIA_TYPE{} { InitMediaType(); }

CMediaType::CMediaType(const GUID* pMajorType) : CMediaType() {
    if (pMajorType) majortype = *pMajorType;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& rt, HRESULT* phr) : AM_MEDIA_TYPE{} {
    const HRESULT hr = CopyMediaType(this, &rt);
    if (FAILED(hr) && phr) *phr = hr;
}

CMediaType::CMediaType(const CMediaType& rt) : AM_MEDIA_TYPE{} { CopyMediaType(this, &rt); }

CMediaType::~CMediaType() { FreeMediaType(*this); }

CMediaType& CMediaType::operator=(const CMediaType& rt) {
    Set(rt);
    return *this;
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& rt) {
    Set(rt);
    return *this;
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& rt) {
    if (&rt == static_cast<const AM_MEDIA_TYPE*>(this)) return S_OK;
    FreeMediaType(*this);
    return CopyMediaType(this, &rt);
}

bool CMediaType::operator==(const CMediaType& rt) const {
    if (majortype != rt.majortype || subtype != rt.subtype || formattype != rt.formattype ||
        cbFormat != rt.cbFormat) {
        return false;
    }
    return cbFormat == 0 || std::memcmp(pbFormat, rt.pbFormat, cbFormat) == 0;
}

void CMediaType::SetSampleSize(ULONG sz) {
    if (sz == 0) {
        SetVariableSize();
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = sz;
    }
}

BOOL CMediaType::SetFormat(const BYTE* pFormat, ULONG cb) {
    if (cb == 0 || !pFormat) {
        ResetFormatBuffer();
        return TRUE;
    }
    auto* pNew = static_cast<BYTE*>(CoTaskMemAlloc(cb));
    if (!pNew) return FALSE;
    std::memcpy(pNew, pFormat, cb);
    if (pbFormat) CoTaskMemFree(pbFormat);
    pbFormat = pNew;
    cbFormat = cb;
    return TRUE;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG cb) {
    if (cb == 0) return nullptr;
    auto* pNew = static_cast<BYTE*>(CoTaskMemAlloc(cb));
    if (!pNew) return nullptr;
    std::memset(pNew, 0, cb);
    if (pbFormat) CoTaskMemFree(pbFormat);
    pbFormat = pNew;
    cbFormat = cb;
    return pbFormat;
}

void CMediaType::ResetFormatBuffer() {
    if (pbFormat) CoTaskMemFree(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
}

void CMediaType::InitMediaType() {
    FreeMediaType(*this);
    majortype = GUID_NULL;
    subtype = GUID_NULL;
    formattype = GUID_NULL;
    bFixedSizeSamples = TRUE;
    bTemporalCompression = FALSE;
    lSampleSize = 1;
}

BOOL CMediaType::IsPartiallySpecified() const {
    return majortype == GUID_NULL || formattype == GUID_NULL;
}

BOOL CMediaType::MatchesPartial(const CMediaType* pPartial) const {
    if (pPartial->majortype != GUID_NULL && majortype != pPartial->majortype) return FALSE;
    if (pPartial->subtype != GUID_NULL && subtype != pPartial->subtype) return FALSE;
    if (pPartial->formattype != GUID_NULL) {
        if (formattype != pPartial->formattype || cbFormat != pPartial->cbFormat) return FALSE;
        if (cbFormat != 0 && std::memcmp(pbFormat, pPartial->pbFormat, cbFormat) != 0) {
            return FALSE;
        }
    }
    return TRUE;
}
