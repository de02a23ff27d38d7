// mediagraph: CCaptureFilter, the capture source filter that a video input
// moniker binds to, and CCapturePin, its one output pin "Capture".
//
// The filter works on the device node shared per path (V4l2Catalogue), so
// a second filter bound to the same device (the settings operations bind a
// fresh one) reaches the streaming device: its controls, crossbar and
// standard act on it, and releasing it does not stop the stream. Only the
// filter whose Run started the stream stops it (Stop, or its destruction).
//
// Contract:
// - Pin "Capture" (PIN_CATEGORY_CAPTURE; there is no preview pin): its one
//   media type is the device's current format (capture_formats.h). When the
//   driver was left in a format the converter cannot read, the first
//   readable code in ENUM_FMT order is set at the same size (else its
//   nearest) the first time the format is asked for, so a device opened
//   without a size request still streams something we can convert.
// - IAMStreamConfig (on the pin): SetFormat tries each pixel code the
//   subtype stands for that the device lists; S_OK only when the driver
//   took exactly that code and size (else the previous format is put back
//   and the next code is tried; none: VFW_E_INVALIDMEDIATYPE); then an
//   AvgTimePerFrame > 0 is set as the frame interval (the driver's
//   adjusted interval stands). Only while stopped and unconnected
//   (VFW_E_NOT_STOPPED). Capabilities: one per (pixel code x frame size
//   entry) in driver order, media type at the entry's largest size.
// - Run: starts the node's stream (4 mapped buffers, streaming thread) and
//   answers S_OK (S_FALSE on a virtual camera configured to report that
//   until its first frame); Pause ends delivery and keeps the buffers;
//   Stop ends it and frees them, bounded even for a frozen or unplugged
//   device. Called on the streaming thread itself: VFW_E_WRONG_STATE.
// - Streaming thread (the node's): each frame is lent downstream in a
//   CFrameSample carrying its driver layout, without copying.
// - Settings on the filter: IAMVideoProcAmp / IAMCameraControl
//   (CCaptureControls) are answered by QueryInterface only when the device
//   has a control of that family; IAMCrossbar only when ENUMINPUT lists two
//   or more inputs or a tuner; IAMAnalogVideoDecoder only when the current
//   input has standards (V4L2_IN_CAP_STD). The filter offers no property
//   pages.
// Locks: the filter lock (state, connection, format) is held while the node
// starts and stops the stream; the streaming thread never takes it.
// May include: the C++ standard library, platform/, filterbase/. No Qt.
#pragma once

#include <atomic>
#include <memory>

#include "filterbase/base_filter.h"
#include "filterbase/base_output_pin.h"
#include "mediagraph/capture_controls.h"
#include "mediagraph/frame_sample.h"
#include "platform/media/capture_interfaces.h"
#include "platform/v4l2/v4l2_device_node.h"

// {3E6A2C41-9B7D-4F08-A1C5-7D2E90B4F6A3}
inline constexpr CLSID CLSID_PeloraCaptureSource = {
    0x3E6A2C41, 0x9B7D, 0x4F08, {0xA1, 0xC5, 0x7D, 0x2E, 0x90, 0xB4, 0xF6, 0xA3}};

// What a virtual camera asks of the capture graph level (defaults for real
// devices).
struct SCaptureQuirks {
    int capsRecordSize = 128;
    bool runReportsFalseUntilFirstFrame = false;
};

class CCaptureFilter;

class CCapturePin final : public CBaseOutputPin, public IAMStreamConfig, public V4l2FrameSink {
public:
    CCapturePin(CCaptureFilter* pFilter, CCritSec* pLock, HRESULT* phr);
    ~CCapturePin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override;

    // IAMStreamConfig
    HRESULT SetFormat(AM_MEDIA_TYPE* pmt) override;
    HRESULT GetFormat(AM_MEDIA_TYPE** ppmt) override;
    HRESULT GetNumberOfCapabilities(int* piCount, int* piSize) override;
    HRESULT GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) override;

    // V4l2FrameSink (streaming thread)
    void onFrame(const V4l2Frame& frame) override;

    uint64_t FramesSent() const { return m_nSent.load(); }
    void ResetFirstFrame() { m_nSent = 0; }

private:
    // The current format as a media type (after making it readable).
    HRESULT CurrentType(CMediaType* pmt);

    CCaptureFilter* const m_pCapture;
    CFrameSample* m_pSample = nullptr;  // one reference; streaming thread while running
    std::atomic<uint64_t> m_nSent{0};
};

class CCaptureFilter final : public CBaseFilter, public IAMCrossbar, public IAMAnalogVideoDecoder {
public:
    // A filter over the node, with no reference.
    static CCaptureFilter* Create(std::shared_ptr<V4l2DeviceNode> node,
                                  const SCaptureQuirks& quirks, HRESULT* phr);
    ~CCaptureFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_Pin : nullptr; }
    CCapturePin* Pin() { return &m_Pin; }
    V4l2DeviceNode& Node() { return *m_Node; }
    const SCaptureQuirks& Quirks() const { return m_Quirks; }

    // IMediaFilter
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT GetState(DWORD dwMSecs, FILTER_STATE* State) override;

    // IAMCrossbar
    HRESULT get_PinCounts(LONG* OutputPinCount, LONG* InputPinCount) override;
    HRESULT CanRoute(LONG OutputPinIndex, LONG InputPinIndex) override;
    HRESULT Route(LONG OutputPinIndex, LONG InputPinIndex) override;
    HRESULT get_IsRoutedTo(LONG OutputPinIndex, LONG* InputPinIndex) override;
    HRESULT get_CrossbarPinInfo(BOOL IsInputPin, LONG PinIndex, LONG* PinIndexRelated,
                                LONG* PhysicalType) override;

    // IAMAnalogVideoDecoder
    HRESULT get_AvailableTVFormats(LONG* lAnalogVideoStandard) override;
    HRESULT put_TVFormat(LONG lAnalogVideoStandard) override;
    HRESULT get_TVFormat(LONG* plAnalogVideoStandard) override;

    bool HasCrossbar();
    bool HasStandards();

    // errno (positive) as the HRESULT the filter answers.
    static HRESULT ErrnoToHr(int err);

private:
    // IAMVideoProcAmp and IAMCameraControl have the same methods, so each is
    // a small object of its own whose references are the filter's.
    template <class I, CCaptureControls::EFamily F>
    class TControls final : public I {
    public:
        explicit TControls(CCaptureFilter* pFilter) : m_pFilter(pFilter) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) override {
            return m_pFilter->GetOwner()->QueryInterface(riid, ppv);
        }
        ULONG AddRef() override { return m_pFilter->GetOwner()->AddRef(); }
        ULONG Release() override { return m_pFilter->GetOwner()->Release(); }
        HRESULT GetRange(LONG Property, LONG* pMin, LONG* pMax, LONG* pSteppingDelta,
                         LONG* pDefault, LONG* pCapsFlags) override {
            return m_pFilter->m_Controls.GetRange(F, Property, pMin, pMax, pSteppingDelta, pDefault,
                                                  pCapsFlags);
        }
        HRESULT Set(LONG Property, LONG lValue, LONG Flags) override {
            return m_pFilter->m_Controls.Set(F, Property, lValue, Flags);
        }
        HRESULT Get(LONG Property, LONG* lValue, LONG* Flags) override {
            return m_pFilter->m_Controls.Get(F, Property, lValue, Flags);
        }

    private:
        CCaptureFilter* const m_pFilter;
    };

    CCaptureFilter(std::shared_ptr<V4l2DeviceNode> node, const SCaptureQuirks& quirks,
                   HRESULT* phr);

    const std::shared_ptr<V4l2DeviceNode> m_Node;
    const SCaptureQuirks m_Quirks;
    CCaptureControls m_Controls;
    CCritSec m_Lock;  // the filter lock; guards m_bStreamOwner
    CCapturePin m_Pin;
    bool m_bStreamOwner = false;  // this filter's Run started the stream
    TControls<IAMVideoProcAmp, CCaptureControls::EFamily::ProcAmp> m_ProcAmp{this};
    TControls<IAMCameraControl, CCaptureControls::EFamily::Camera> m_CameraControl{this};
};
