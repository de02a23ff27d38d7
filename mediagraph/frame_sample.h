// mediagraph: CFrameSample, a media sample that lends a frame it does not
// own: the capture pin's sample over a driver buffer, the grabber's over
// its packed frame.
//
// Contract: the owner points the sample at a frame, lends it to a Receive
// call, and points it elsewhere afterwards; a receiver must not keep the
// sample or its data beyond the call (the grabber's contract with SampleCB
// says the same). The sample also answers IRawFrameSample, which carries the
// frame's driver layout (pixel code, bytesperline), so the grabber can read
// any row padding the media type cannot describe, and ISampleCaptureTime,
// the frame's capture time.
// Threads: set and lent on one streaming thread; the reference count is
// atomic (CUnknown).
// May include: the C++ standard library, platform/, filterbase/. No Qt.
#pragma once

#include "filterbase/unknown.h"
#include "platform/media/media_interfaces.h"
#include "platform/media/raw_frame_layout.h"
#include "platform/media/sample_capture_time.h"

// {5C1B7E52-3A9D-4B0E-8F27-6D41A9C3E815}
inline constexpr IID IID_IRawFrameSample = {
    0x5C1B7E52, 0x3A9D, 0x4B0E, {0x8F, 0x27, 0x6D, 0x41, 0xA9, 0xC3, 0xE8, 0x15}};

struct IRawFrameSample : IUnknown {
    virtual HRESULT GetLayout(SRawFrameLayout* pLayout) = 0;
    // Seconds since the first frame of the run.
    virtual double GetSampleSeconds() = 0;
};

class CFrameSample final : public CUnknown,
                           public IMediaSample,
                           public IRawFrameSample,
                           public ISampleCaptureTime {
public:
    CFrameSample();

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // Points the sample at a frame (owner's thread). llCaptureCount: the
    // frame's capture time (performance-counter count), 0 for none.
    void SetFrame(BYTE* pData, LONG lLength, const SRawFrameLayout& layout, double dSeconds,
                  LONGLONG llCaptureCount);

    // IRawFrameSample
    HRESULT GetLayout(SRawFrameLayout* pLayout) override;
    double GetSampleSeconds() override { return m_dSeconds; }

    // ISampleCaptureTime
    HRESULT GetCaptureTime(LONGLONG* pllCount) override;

    // IMediaSample
    HRESULT GetPointer(BYTE** ppBuffer) override;
    LONG GetSize() override { return m_lLength; }
    HRESULT GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    HRESULT SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    HRESULT IsSyncPoint() override { return S_OK; }
    HRESULT SetSyncPoint(BOOL) override { return S_OK; }
    HRESULT IsPreroll() override { return S_FALSE; }
    HRESULT SetPreroll(BOOL) override { return S_OK; }
    LONG GetActualDataLength() override { return m_lLength; }
    HRESULT SetActualDataLength(LONG lLen) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT IsDiscontinuity() override { return S_FALSE; }
    HRESULT SetDiscontinuity(BOOL) override { return S_OK; }
    HRESULT GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
    HRESULT SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

private:
    BYTE* m_pData = nullptr;
    LONG m_lLength = 0;
    SRawFrameLayout m_Layout;
    double m_dSeconds = 0;
    LONGLONG m_llCaptureCount = 0;
};
