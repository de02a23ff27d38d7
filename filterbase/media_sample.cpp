#include "filterbase/media_sample.h"

#include <cstring>
#include <limits>

#include "filterbase/base_allocator.h"
#include "filterbase/media_type.h"

namespace {
// Whether a property record of n bytes covers the field at offset/size.
constexpr bool Covers(DWORD n, size_t offset, size_t size) { return n >= offset + size; }
#define COVERS(n, field) \
    Covers((n), offsetof(AM_SAMPLE2_PROPERTIES, field), sizeof(AM_SAMPLE2_PROPERTIES::field))
}  // namespace

CMediaSample::CMediaSample(const char*, CBaseAllocator* pAllocator, HRESULT* phr, BYTE* pBuffer,
                           LONG length)
    : m_pBuffer(pBuffer), m_cbBuffer(length), m_pAllocator(pAllocator) {
    if (length < 0) {
        if (phr) *phr = VFW_E_BUFFER_OVERFLOW;
        m_cbBuffer = 0;
    }
}

CMediaSample::~CMediaSample() { DeleteMediaType(m_pMediaType); }

HRESULT CMediaSample::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaSample || riid == IID_IMediaSample2 || riid == IID_IUnknown) {
        *ppv = static_cast<IMediaSample2*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }

ULONG CMediaSample::Release() {
    const LONG lRef = m_cRef.fetch_sub(1) - 1;
    if (lRef == 0) {
        // Back to the pool with a clean state. ReleaseBuffer may delete this
        // sample (and its allocator): nothing of it is touched afterwards.
        DeleteMediaType(m_pMediaType);
        m_pMediaType = nullptr;
        m_dwFlags = 0;
        m_dwTypeSpecificFlags = 0;
        m_dwStreamId = AM_STREAM_MEDIA;
        m_pAllocator->ReleaseBuffer(this);
    }
    return static_cast<ULONG>(lRef);
}

HRESULT CMediaSample::GetPointer(BYTE** ppBuffer) {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = m_pBuffer;
    return S_OK;
}

LONG CMediaSample::GetSize() { return m_cbBuffer; }

HRESULT CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (!(m_dwFlags & Sample_StopValid)) {
        if (!(m_dwFlags & Sample_TimeValid)) return VFW_E_SAMPLE_TIME_NOT_SET;
        if (!pTimeStart || !pTimeEnd) return E_POINTER;
        *pTimeStart = m_Start;
        // Start + 1, without overflowing at the largest time.
        *pTimeEnd = m_Start == std::numeric_limits<REFERENCE_TIME>::max() ? m_Start : m_Start + 1;
        return VFW_S_NO_STOP_TIME;
    }
    if (!pTimeStart || !pTimeEnd) return E_POINTER;
    *pTimeStart = m_Start;
    *pTimeEnd = m_End;
    return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (!pTimeStart) {
        m_dwFlags &= ~(Sample_TimeValid | Sample_StopValid);
    } else if (!pTimeEnd) {
        m_Start = *pTimeStart;
        m_dwFlags |= Sample_TimeValid;
        m_dwFlags &= ~Sample_StopValid;
    } else {
        m_Start = *pTimeStart;
        m_End = *pTimeEnd;
        m_dwFlags |= Sample_TimeValid | Sample_StopValid;
    }
    return S_OK;
}

HRESULT CMediaSample::IsSyncPoint() { return (m_dwFlags & Sample_SyncPoint) ? S_OK : S_FALSE; }

HRESULT CMediaSample::SetSyncPoint(BOOL bIsSyncPoint) {
    if (bIsSyncPoint) {
        m_dwFlags |= Sample_SyncPoint;
    } else {
        m_dwFlags &= ~Sample_SyncPoint;
    }
    return S_OK;
}

HRESULT CMediaSample::IsPreroll() { return (m_dwFlags & Sample_Preroll) ? S_OK : S_FALSE; }

HRESULT CMediaSample::SetPreroll(BOOL bIsPreroll) {
    if (bIsPreroll) {
        m_dwFlags |= Sample_Preroll;
    } else {
        m_dwFlags &= ~Sample_Preroll;
    }
    return S_OK;
}

LONG CMediaSample::GetActualDataLength() { return m_lActual; }

HRESULT CMediaSample::SetActualDataLength(LONG lLen) {
    if (lLen < 0 || lLen > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
    m_lActual = lLen;
    return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
    if (!ppMediaType) return E_POINTER;
    *ppMediaType = nullptr;
    if (!(m_dwFlags & Sample_TypeChanged) || !m_pMediaType) return S_FALSE;
    *ppMediaType = CreateMediaType(m_pMediaType);
    return *ppMediaType ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType) {
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
    if (!pMediaType) {
        m_dwFlags &= ~Sample_TypeChanged;
        return S_OK;
    }
    m_pMediaType = CreateMediaType(pMediaType);
    if (!m_pMediaType) {
        m_dwFlags &= ~Sample_TypeChanged;
        return E_OUTOFMEMORY;
    }
    m_dwFlags |= Sample_TypeChanged;
    return S_OK;
}

HRESULT CMediaSample::IsDiscontinuity() {
    return (m_dwFlags & Sample_Discontinuity) ? S_OK : S_FALSE;
}

HRESULT CMediaSample::SetDiscontinuity(BOOL bDiscontinuity) {
    if (bDiscontinuity) {
        m_dwFlags |= Sample_Discontinuity;
    } else {
        m_dwFlags &= ~Sample_Discontinuity;
    }
    return S_OK;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (!(m_dwFlags & Sample_MediaTimeValid)) return VFW_E_MEDIA_TIME_NOT_SET;
    if (!pTimeStart || !pTimeEnd) return E_POINTER;
    *pTimeStart = m_MediaStart;
    // Modular arithmetic gives back exactly the stop that was stored.
    *pTimeEnd = static_cast<LONGLONG>(static_cast<uint64_t>(m_MediaStart) +
                                      static_cast<uint64_t>(m_MediaEnd));
    return S_OK;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (!pTimeStart) {
        m_dwFlags &= ~Sample_MediaTimeValid;
        return S_OK;
    }
    if (!pTimeEnd) return E_POINTER;
    m_MediaStart = *pTimeStart;
    m_MediaEnd = static_cast<LONGLONG>(static_cast<uint64_t>(*pTimeEnd) -
                                       static_cast<uint64_t>(*pTimeStart));
    m_dwFlags |= Sample_MediaTimeValid;
    return S_OK;
}

HRESULT CMediaSample::GetProperties(DWORD cbProperties, BYTE* pbProperties) {
    if (cbProperties == 0) return S_OK;
    if (!pbProperties) return E_POINTER;
    // Zeroed first: the byte copy must not carry the padding from the stack.
    AM_SAMPLE2_PROPERTIES props;
    std::memset(&props, 0, sizeof(props));
    props.cbData = cbProperties < sizeof(props) ? cbProperties : DWORD{sizeof(props)};
    props.dwTypeSpecificFlags = m_dwTypeSpecificFlags;
    props.dwSampleFlags = m_dwFlags & ~Sample_MediaTimeValid;
    props.lActual = m_lActual;
    props.tStart = m_Start;
    props.tStop = m_End;
    props.dwStreamId = m_dwStreamId;
    props.pMediaType = (m_dwFlags & Sample_TypeChanged) ? m_pMediaType : nullptr;
    props.pbBuffer = m_pBuffer;
    props.cbBuffer = m_cbBuffer;
    std::memcpy(pbProperties, &props, props.cbData);
    return S_OK;
}

HRESULT CMediaSample::SetProperties(DWORD cbProperties, const BYTE* pbProperties) {
    if (cbProperties < sizeof(DWORD)) return S_OK;
    if (!pbProperties) return E_POINTER;
    AM_SAMPLE2_PROPERTIES props;
    std::memset(&props, 0, sizeof(props));
    DWORD cbData = 0;
    std::memcpy(&cbData, pbProperties, sizeof(cbData));
    const DWORD n = cbProperties < cbData ? cbProperties : cbData;
    if (n > sizeof(props) || cbData > sizeof(props)) return E_INVALIDARG;
    std::memcpy(&props, pbProperties, n);

    if (COVERS(n, dwSampleFlags)) {
        if (props.dwSampleFlags & ~Sample_ValidFlags) return E_INVALIDARG;
        // A time marked valid must either be in the record or already set.
        const bool bCarriesTimes = COVERS(n, tStop);
        if ((props.dwSampleFlags & Sample_TimeValid) && !(m_dwFlags & Sample_TimeValid) &&
            !bCarriesTimes) {
            return E_INVALIDARG;
        }
        if ((props.dwSampleFlags & Sample_StopValid) && !(m_dwFlags & Sample_StopValid) &&
            !bCarriesTimes) {
            return E_INVALIDARG;
        }
    }
    // The data length may never point past the buffer.
    if (COVERS(n, lActual) && (props.lActual < 0 || props.lActual > m_cbBuffer)) {
        return E_INVALIDARG;
    }
    if (COVERS(n, pbBuffer) && props.pbBuffer && props.pbBuffer != m_pBuffer) {
        return E_INVALIDARG;
    }
    if (COVERS(n, cbBuffer)) {
        if (props.cbBuffer != 0 && props.cbBuffer != m_cbBuffer) return E_INVALIDARG;
        if (props.cbBuffer < props.lActual) return E_INVALIDARG;
    }
    AM_MEDIA_TYPE* pNewType = nullptr;
    const bool bNewType = COVERS(n, pMediaType) && (props.dwSampleFlags & Sample_TypeChanged) != 0;
    if (bNewType) {
        if (!props.pMediaType) return E_POINTER;
        pNewType = CreateMediaType(props.pMediaType);
        if (!pNewType) return E_OUTOFMEMORY;
    }

    // Everything checked: store what the record covers.
    if (COVERS(n, dwStreamId)) m_dwStreamId = props.dwStreamId;
    if (COVERS(n, dwSampleFlags)) {
        m_dwFlags = props.dwSampleFlags | (m_dwFlags & Sample_MediaTimeValid);
        m_dwTypeSpecificFlags = props.dwTypeSpecificFlags;
    } else if (COVERS(n, dwTypeSpecificFlags)) {
        m_dwTypeSpecificFlags = props.dwTypeSpecificFlags;
    }
    if (COVERS(n, lActual)) m_lActual = props.lActual;
    if (COVERS(n, tStop)) m_End = props.tStop;
    if (COVERS(n, tStart)) m_Start = props.tStart;
    if (bNewType) {
        DeleteMediaType(m_pMediaType);
        m_pMediaType = pNewType;
    }
    if (m_pMediaType) {
        m_dwFlags |= Sample_TypeChanged;
    } else {
        m_dwFlags &= ~Sample_TypeChanged;
    }
    return S_OK;
}

HRESULT CMediaSample::SetPointer(BYTE* pBuffer, LONG cBytes) {
    if (cBytes < 0) return VFW_E_BUFFER_OVERFLOW;
    m_pBuffer = pBuffer;
    m_cbBuffer = cBytes;
    m_lActual = cBytes;
    return S_OK;
}
