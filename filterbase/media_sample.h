// filterbase: CMediaSample, one buffer of a pool (IMediaSample2).
//
// Contract:
// - The sample's lifetime belongs to its allocator: it is created at commit
//   and deleted when the allocator frees its memory. Its reference count is
//   0 while it is in the pool; GetBuffer hands it out with count 1.
// - The release to 0 clears the per-use state (flags, attached type, stream
//   id) and gives the sample back with the allocator's ReleaseBuffer. That
//   call may drop the allocator's last reference and delete the sample, so
//   Release touches nothing of the sample afterwards.
// - Whoever holds a reference may use the sample; a sample is filled by one
//   thread (upstream) and then passed on, so its fields are not locked. The
//   reference count is atomic and may move on any thread.
// - Times: GetTime with only a start time answers start + 1 as the stop and
//   VFW_S_NO_STOP_TIME. Media times are stored as start and a 64-bit
//   difference.
#pragma once

#include <atomic>

#include "platform/media/media_interfaces.h"

class CBaseAllocator;

// Sample flags held in m_dwFlags. All but the media-time flag are the
// dwSampleFlags bits of AM_SAMPLE2_PROPERTIES.
constexpr DWORD Sample_SyncPoint = AM_SAMPLE_SPLICEPOINT;
constexpr DWORD Sample_Preroll = AM_SAMPLE_PREROLL;
constexpr DWORD Sample_Discontinuity = AM_SAMPLE_DATADISCONTINUITY;
constexpr DWORD Sample_TypeChanged = AM_SAMPLE_TYPECHANGED;
constexpr DWORD Sample_TimeValid = AM_SAMPLE_TIMEVALID;
constexpr DWORD Sample_MediaTimeValid = 0x20;
constexpr DWORD Sample_TimeDiscontinuity = AM_SAMPLE_TIMEDISCONTINUITY;
constexpr DWORD Sample_StopValid = AM_SAMPLE_STOPVALID;
// Flags that SetProperties may set: every flag but media time valid.
constexpr DWORD Sample_ValidFlags = 0x1DF;

class CMediaSample : public IMediaSample2 {
public:
    // A negative length writes VFW_E_BUFFER_OVERFLOW to phr and gives the
    // sample size 0.
    CMediaSample(const char* pName, CBaseAllocator* pAllocator, HRESULT* phr,
                 BYTE* pBuffer = nullptr, LONG length = 0);
    ~CMediaSample() override;
    CMediaSample(const CMediaSample&) = delete;
    CMediaSample& operator=(const CMediaSample&) = delete;

    // IUnknown: the sample is its own object (never aggregated).
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IMediaSample
    HRESULT GetPointer(BYTE** ppBuffer) override;
    LONG GetSize() override;
    HRESULT GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    HRESULT SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    HRESULT IsSyncPoint() override;
    HRESULT SetSyncPoint(BOOL bIsSyncPoint) override;
    HRESULT IsPreroll() override;
    HRESULT SetPreroll(BOOL bIsPreroll) override;
    LONG GetActualDataLength() override;
    HRESULT SetActualDataLength(LONG lLen) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
    HRESULT IsDiscontinuity() override;
    HRESULT SetDiscontinuity(BOOL bDiscontinuity) override;
    HRESULT GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    HRESULT SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;

    // IMediaSample2. Records of any length up to sizeof(AM_SAMPLE2_PROPERTIES)
    // are read and written field by field: a record of n bytes covers a field
    // when n >= offsetof(field) + sizeof(field).
    HRESULT GetProperties(DWORD cbProperties, BYTE* pbProperties) override;
    HRESULT SetProperties(DWORD cbProperties, const BYTE* pbProperties) override;

    // Points the sample at another data area (allocators that move buffers).
    HRESULT SetPointer(BYTE* pBuffer, LONG cBytes);

protected:
    friend class CBaseAllocator;
    friend class CMemAllocator;

    DWORD m_dwFlags = 0;
    DWORD m_dwTypeSpecificFlags = 0;
    BYTE* m_pBuffer;
    LONG m_lActual = 0;
    LONG m_cbBuffer;
    CBaseAllocator* m_pAllocator;
    CMediaSample* m_pNext = nullptr;  // free list link; under the allocator lock
    REFERENCE_TIME m_Start = 0;
    REFERENCE_TIME m_End = 0;
    LONGLONG m_MediaStart = 0;
    LONGLONG m_MediaEnd = 0;                // difference from m_MediaStart, 64 bits
    AM_MEDIA_TYPE* m_pMediaType = nullptr;  // owned, task memory
    DWORD m_dwStreamId = AM_STREAM_MEDIA;
    std::atomic<LONG> m_cRef{0};
};
