#include "processing/still_frame_source.h"

#include <algorithm>
#include <cstring>

CStillFrameSource::CStillFrameSource(const BITMAPINFO& bmi, const BYTE* pBits, size_t cbBits)
    : m_bmi(bmi), m_cbBits(pBits ? cbBits : 0) {
    if (pBits == nullptr) return;
    m_pBits.reset(new BYTE[std::max<size_t>(cbBits, 1)]);
    std::memcpy(m_pBits.get(), pBits, cbBits);
}

HRESULT CStillFrameSource::ProbeFormat(void*, BITMAPINFO* pbmi, std::string* pstrMessage) {
    if (!m_pBits) {
        *pstrMessage = "ビットマップヘッダーか画像メモリ領域の確保が出来ません";
        return E_POINTER;
    }
    *pbmi = m_bmi;
    return S_OK;
}

HRESULT CStillFrameSource::Open(void*, const CRunFlag&, SFrameTimeline* pTimeline) {
    *pTimeline = SFrameTimeline{};
    return m_pBits ? S_OK : E_POINTER;
}

HRESULT CStillFrameSource::AcquireAt(LONGLONG, BYTE* pDest, DWORD cbDest) {
    if (m_bCopied) return S_FALSE;
    if (!m_pBits || pDest == nullptr) return E_POINTER;
    std::memcpy(pDest, m_pBits.get(), std::min<size_t>(m_cbBits, cbDest));
    m_bCopied = true;
    return S_OK;
}
