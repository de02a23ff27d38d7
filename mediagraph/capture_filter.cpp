#include "mediagraph/capture_filter.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "mediagraph/capture_formats.h"
#include "platform/ffmpeg/frame_converter.h"

namespace {

// Analog standards and their V4L2 bits, one to one.
struct SStdBit {
    LONG analog;
    v4l2_std_id v4l2;
};
constexpr SStdBit kStandards[] = {
    {AnalogVideo_NTSC_M, V4L2_STD_NTSC_M},     {AnalogVideo_NTSC_M_J, V4L2_STD_NTSC_M_JP},
    {AnalogVideo_NTSC_433, V4L2_STD_NTSC_443}, {AnalogVideo_PAL_B, V4L2_STD_PAL_B},
    {AnalogVideo_PAL_D, V4L2_STD_PAL_D},       {AnalogVideo_PAL_G, V4L2_STD_PAL_G},
    {AnalogVideo_PAL_H, V4L2_STD_PAL_H},       {AnalogVideo_PAL_I, V4L2_STD_PAL_I},
    {AnalogVideo_PAL_M, V4L2_STD_PAL_M},       {AnalogVideo_PAL_N, V4L2_STD_PAL_N},
    {AnalogVideo_PAL_60, V4L2_STD_PAL_60},     {AnalogVideo_PAL_N_COMBO, V4L2_STD_PAL_Nc},
    {AnalogVideo_SECAM_B, V4L2_STD_SECAM_B},   {AnalogVideo_SECAM_D, V4L2_STD_SECAM_D},
    {AnalogVideo_SECAM_G, V4L2_STD_SECAM_G},   {AnalogVideo_SECAM_H, V4L2_STD_SECAM_H},
    {AnalogVideo_SECAM_K, V4L2_STD_SECAM_K},   {AnalogVideo_SECAM_K1, V4L2_STD_SECAM_K1},
    {AnalogVideo_SECAM_L, V4L2_STD_SECAM_L},   {AnalogVideo_SECAM_L1, V4L2_STD_SECAM_LC},
};

bool NamesSVideo(const char* name) {
    std::string s;
    for (const char* p = name; *p; ++p)
        s += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    return s.find("s-video") != std::string::npos || s.find("svideo") != std::string::npos;
}

std::vector<v4l2_input> Inputs(V4l2DeviceNode& node) {
    std::vector<v4l2_input> inputs;
    for (uint32_t i = 0; i < 64; ++i) {
        v4l2_input in;
        std::memset(&in, 0, sizeof(in));
        in.index = i;
        if (node.ioctl(VIDIOC_ENUMINPUT, &in) != 0) break;
        inputs.push_back(in);
    }
    return inputs;
}

}  // namespace

HRESULT CCaptureFilter::ErrnoToHr(int err) {
    switch (err) {
        case 0:
            return S_OK;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return VFW_E_NOT_FOUND;
        case EACCES:
        case EPERM:
            return E_ACCESSDENIED;
        case ENOMEM:
            return E_OUTOFMEMORY;
        case EDEADLK:
            return VFW_E_WRONG_STATE;
        case EBUSY:
            return HRESULT_FROM_WIN32(170);  // ERROR_BUSY: in use elsewhere
        default:
            return E_FAIL;
    }
}

// ---------------------------------------------------------------------------
// Pin

CCapturePin::CCapturePin(CCaptureFilter* pFilter, CCritSec* pLock, HRESULT* phr)
    : CBaseOutputPin("CCapturePin", pFilter, pLock, phr, L"Capture"), m_pCapture(pFilter) {
    m_pSample = new (std::nothrow) CFrameSample();
    if (m_pSample) {
        m_pSample->NonDelegatingAddRef();
    } else if (phr) {
        *phr = E_OUTOFMEMORY;
    }
}

CCapturePin::~CCapturePin() {
    if (m_pSample) m_pSample->NonDelegatingRelease();
}

HRESULT CCapturePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IAMStreamConfig) return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CCapturePin::CurrentType(CMediaType* pmt) {
    V4l2DeviceNode& node = m_pCapture->Node();
    int rc = node.ensureUsableFormat(&CFrameConverter::IsConvertible);
    // A device with no readable code keeps its format: the type is still
    // reported (the grabber then refuses it).
    if (rc == -ENODEV) return VFW_E_NOT_FOUND;
    v4l2_pix_format f{};
    rc = node.currentFormat(&f);
    if (rc != 0) return CCaptureFilter::ErrnoToHr(-rc);
    return MakeCaptureMediaType(f.pixelformat, f.width, f.height, f.sizeimage,
                                node.frameInterval100ns(), pmt);
}

HRESULT CCapturePin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    CMediaType cur;
    if (FAILED(CurrentType(&cur))) return S_FALSE;
    uint32_t w = 0, h = 0, cw = 0, ch = 0;
    int64_t avg = 0;
    if (!ReadVideoInfo(*pmt, &w, &h, &avg) || !ReadVideoInfo(cur, &cw, &ch, &avg)) return S_FALSE;
    return pmt->subtype == cur.subtype && w == cw && h == ch ? S_OK : S_FALSE;
}

HRESULT CCapturePin::GetMediaType(int iPosition, CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return S_FALSE;  // the current format only
    return CurrentType(pmt);
}

HRESULT CCapturePin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) {
    // Frames are lent from the driver's buffers; the pool only completes
    // the connection.
    pProps->cBuffers = 1;
    pProps->cbBuffer = 1;
    ALLOCATOR_PROPERTIES actual{};
    return pAlloc->SetProperties(pProps, &actual);
}

HRESULT CCapturePin::SetFormat(AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (!m_pCapture->IsStopped() || IsConnected()) return VFW_E_NOT_STOPPED;
    uint32_t w = 0, h = 0;
    int64_t avg = 0;
    if (!ReadVideoInfo(*pmt, &w, &h, &avg)) return VFW_E_INVALIDMEDIATYPE;
    V4l2DeviceNode& node = m_pCapture->Node();
    const std::vector<uint32_t> listed = node.pixelFormats();
    for (uint32_t code : FourccsForSubtype(pmt->subtype)) {
        if (std::find(listed.begin(), listed.end(), code) == listed.end()) continue;
        const int rc = node.setFormatExact(code, w, h);
        if (rc == -EBUSY) return VFW_E_NOT_STOPPED;
        if (rc == -ENODEV) return VFW_E_NOT_FOUND;
        if (rc != 0) continue;  // adjusted: the previous format is back
        if (avg > 0) node.setFrameInterval100ns(avg);
        return S_OK;
    }
    return VFW_E_INVALIDMEDIATYPE;
}

HRESULT CCapturePin::GetFormat(AM_MEDIA_TYPE** ppmt) {
    if (!ppmt) return E_POINTER;
    *ppmt = nullptr;
    CMediaType mt;
    const HRESULT hr = CurrentType(&mt);
    if (FAILED(hr)) return hr;
    *ppmt = CreateMediaType(&mt);
    return *ppmt ? S_OK : E_OUTOFMEMORY;
}

HRESULT CCapturePin::GetNumberOfCapabilities(int* piCount, int* piSize) {
    if (!piCount || !piSize) return E_POINTER;
    *piCount = static_cast<int>(m_pCapture->Node().sizeEntries().size());
    *piSize = m_pCapture->Quirks().capsRecordSize;
    return S_OK;
}

HRESULT CCapturePin::GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) {
    if (!ppmt || !pSCC) return E_POINTER;
    *ppmt = nullptr;
    V4l2DeviceNode& node = m_pCapture->Node();
    const std::vector<V4l2SizeEntry> entries = node.sizeEntries();
    if (iIndex < 0 || static_cast<size_t>(iIndex) >= entries.size()) return S_FALSE;
    const V4l2SizeEntry& e = entries[static_cast<size_t>(iIndex)];
    const int64_t interval = node.frameInterval100ns();
    uint32_t nSize =
        RawSizeImage(e.fourcc, e.maxWidth, e.maxHeight, MinBytesPerLine(e.fourcc, e.maxWidth));
    if (!nSize) nSize = e.maxWidth * e.maxHeight * 2;
    CMediaType mt;
    HRESULT hr = MakeCaptureMediaType(e.fourcc, e.maxWidth, e.maxHeight, nSize, interval, &mt);
    if (FAILED(hr)) return hr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    std::memset(&caps, 0, sizeof(caps));
    caps.guid = FORMAT_VideoInfo;
    caps.InputSize = {static_cast<LONG>(e.maxWidth), static_cast<LONG>(e.maxHeight)};
    caps.MinCroppingSize = {static_cast<LONG>(e.minWidth), static_cast<LONG>(e.minHeight)};
    caps.MaxCroppingSize = caps.InputSize;
    caps.CropGranularityX = static_cast<int32_t>(e.stepWidth);
    caps.CropGranularityY = static_cast<int32_t>(e.stepHeight);
    caps.CropAlignX = caps.CropAlignY = 1;
    caps.MinOutputSize = caps.MinCroppingSize;
    caps.MaxOutputSize = caps.InputSize;
    caps.OutputGranularityX = static_cast<int32_t>(e.stepWidth);
    caps.OutputGranularityY = static_cast<int32_t>(e.stepHeight);
    // The range this code and size has; the current interval when the
    // driver lists none.
    caps.MinFrameInterval = caps.MaxFrameInterval = interval;
    node.frameIntervalRange(e, &caps.MinFrameInterval, &caps.MaxFrameInterval);
    std::memcpy(pSCC, &caps, sizeof(caps));
    *ppmt = CreateMediaType(&mt);
    return *ppmt ? S_OK : E_OUTOFMEMORY;
}

void CCapturePin::onFrame(const V4l2Frame& frame) {
    m_pSample->SetFrame(const_cast<BYTE*>(frame.data), static_cast<LONG>(frame.bytesUsed),
                        frame.layout, frame.seconds, frame.captureCount);
    Deliver(m_pSample);
    m_nSent.fetch_add(1);
}

// ---------------------------------------------------------------------------
// Filter

CCaptureFilter* CCaptureFilter::Create(std::shared_ptr<V4l2DeviceNode> node,
                                       const SCaptureQuirks& quirks, HRESULT* phr) {
    HRESULT hr = S_OK;
    auto* p = new (std::nothrow) CCaptureFilter(std::move(node), quirks, &hr);
    if (!p) hr = E_OUTOFMEMORY;
    if (p && FAILED(hr)) {
        delete p;
        p = nullptr;
    }
    if (phr) *phr = hr;
    return p;
}

CCaptureFilter::CCaptureFilter(std::shared_ptr<V4l2DeviceNode> node, const SCaptureQuirks& quirks,
                               HRESULT* phr)
    : CBaseFilter("CCaptureFilter", nullptr, &m_Lock, CLSID_PeloraCaptureSource, phr),
      m_Node(std::move(node)),
      m_Quirks(quirks),
      m_Controls(m_Node),
      m_Pin(this, &m_Lock, phr) {}

CCaptureFilter::~CCaptureFilter() {
    if (m_bStreamOwner) m_Node->stop();
}

HRESULT CCaptureFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IAMVideoProcAmp) {
        if (!m_Controls.HasFamily(CCaptureControls::EFamily::ProcAmp)) return E_NOINTERFACE;
        return GetInterface(static_cast<IAMVideoProcAmp*>(&m_ProcAmp), ppv);
    }
    if (riid == IID_IAMCameraControl) {
        if (!m_Controls.HasFamily(CCaptureControls::EFamily::Camera)) return E_NOINTERFACE;
        return GetInterface(static_cast<IAMCameraControl*>(&m_CameraControl), ppv);
    }
    if (riid == IID_IAMCrossbar) {
        if (!HasCrossbar()) return E_NOINTERFACE;
        return GetInterface(static_cast<IAMCrossbar*>(this), ppv);
    }
    if (riid == IID_IAMAnalogVideoDecoder) {
        if (!HasStandards()) return E_NOINTERFACE;
        return GetInterface(static_cast<IAMAnalogVideoDecoder*>(this), ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CCaptureFilter::Stop() {
    CAutoLock lock(&m_Lock);
    if (m_bStreamOwner) {
        const int rc = m_Node->stop();
        if (rc == -EDEADLK) return VFW_E_WRONG_STATE;
        m_bStreamOwner = false;
    }
    return CBaseFilter::Stop();
}

HRESULT CCaptureFilter::Pause() {
    CAutoLock lock(&m_Lock);
    if (m_State == State_Running && m_bStreamOwner) {
        if (m_Node->pause() == -EDEADLK) return VFW_E_WRONG_STATE;
    }
    return CBaseFilter::Pause();
}

HRESULT CCaptureFilter::Run(REFERENCE_TIME tStart) {
    CAutoLock lock(&m_Lock);
    if (m_State == State_Running) return S_OK;
    HRESULT hr = CBaseFilter::Run(tStart);
    if (FAILED(hr)) return hr;
    if (!m_Pin.IsConnected()) return S_OK;  // nothing to deliver to
    m_Pin.ResetFirstFrame();
    const int rc = m_Node->start(&m_Pin);
    if (rc != 0) {
        CBaseFilter::Pause();
        m_State = State_Paused;
        return ErrnoToHr(-rc);
    }
    m_bStreamOwner = true;
    return m_Quirks.runReportsFalseUntilFirstFrame && m_Pin.FramesSent() == 0 ? S_FALSE : S_OK;
}

HRESULT CCaptureFilter::GetState(DWORD dwMSecs, FILTER_STATE* State) {
    const HRESULT hr = CBaseFilter::GetState(dwMSecs, State);
    // A live source has nothing to show while paused.
    if (SUCCEEDED(hr) && *State == State_Paused) return VFW_S_CANT_CUE;
    return hr;
}

// ---------------------------------------------------------------------------
// Crossbar: one output (the video decoder), the device's inputs.

bool CCaptureFilter::HasCrossbar() {
    const std::vector<v4l2_input> inputs = Inputs(*m_Node);
    if (inputs.size() >= 2) return true;
    return std::any_of(inputs.begin(), inputs.end(),
                       [](const v4l2_input& in) { return in.type == V4L2_INPUT_TYPE_TUNER; });
}

HRESULT CCaptureFilter::get_PinCounts(LONG* OutputPinCount, LONG* InputPinCount) {
    if (!OutputPinCount || !InputPinCount) return E_POINTER;
    *OutputPinCount = 1;
    *InputPinCount = static_cast<LONG>(Inputs(*m_Node).size());
    return S_OK;
}

HRESULT CCaptureFilter::CanRoute(LONG OutputPinIndex, LONG InputPinIndex) {
    const LONG nInputs = static_cast<LONG>(Inputs(*m_Node).size());
    return OutputPinIndex == 0 && InputPinIndex >= 0 && InputPinIndex < nInputs ? S_OK : S_FALSE;
}

HRESULT CCaptureFilter::Route(LONG OutputPinIndex, LONG InputPinIndex) {
    if (CanRoute(OutputPinIndex, InputPinIndex) != S_OK) return E_INVALIDARG;
    CAutoLock lock(&m_Lock);
    const int rc = m_Node->setInput(static_cast<uint32_t>(InputPinIndex));
    if (rc == -EBUSY) return VFW_E_NOT_STOPPED;
    return ErrnoToHr(-rc);
}

HRESULT CCaptureFilter::get_IsRoutedTo(LONG OutputPinIndex, LONG* InputPinIndex) {
    if (!InputPinIndex) return E_POINTER;
    if (OutputPinIndex != 0) return E_INVALIDARG;
    int index = 0;
    const int rc = m_Node->ioctl(VIDIOC_G_INPUT, &index);
    if (rc != 0) return ErrnoToHr(-rc);
    *InputPinIndex = index;
    return S_OK;
}

HRESULT CCaptureFilter::get_CrossbarPinInfo(BOOL IsInputPin, LONG PinIndex, LONG* PinIndexRelated,
                                            LONG* PhysicalType) {
    if (!PinIndexRelated || !PhysicalType) return E_POINTER;
    const std::vector<v4l2_input> inputs = Inputs(*m_Node);
    if (!IsInputPin) {
        if (PinIndex != 0) return E_INVALIDARG;
        *PhysicalType = PhysConn_Video_VideoDecoder;
        return get_IsRoutedTo(0, PinIndexRelated);
    }
    if (PinIndex < 0 || static_cast<size_t>(PinIndex) >= inputs.size()) return E_INVALIDARG;
    const v4l2_input& in = inputs[static_cast<size_t>(PinIndex)];
    if (in.type == V4L2_INPUT_TYPE_TUNER) {
        *PhysicalType = PhysConn_Video_Tuner;
    } else {
        *PhysicalType = NamesSVideo(reinterpret_cast<const char*>(in.name))
                            ? PhysConn_Video_SVideo
                            : PhysConn_Video_Composite;
    }
    *PinIndexRelated = 0;
    return S_OK;
}

// ---------------------------------------------------------------------------
// Analog standard of the current input.

bool CCaptureFilter::HasStandards() {
    v4l2_input in;
    return m_Node->currentInput(&in) == 0 && (in.capabilities & V4L2_IN_CAP_STD);
}

HRESULT CCaptureFilter::get_AvailableTVFormats(LONG* lAnalogVideoStandard) {
    if (!lAnalogVideoStandard) return E_POINTER;
    v4l2_input in;
    const int rc = m_Node->currentInput(&in);
    if (rc != 0) return ErrnoToHr(-rc);
    LONG mask = 0;
    for (const SStdBit& s : kStandards) {
        if (in.std & s.v4l2) mask |= s.analog;
    }
    *lAnalogVideoStandard = mask;
    return S_OK;
}

HRESULT CCaptureFilter::put_TVFormat(LONG lAnalogVideoStandard) {
    const SStdBit* pBit = nullptr;
    for (const SStdBit& s : kStandards) {
        if (s.analog == lAnalogVideoStandard) pBit = &s;
    }
    if (!pBit) return E_INVALIDARG;
    // May stop and restart the stream (V4L2 refuses standards while
    // streaming); refused when the frame size would change.
    const int rc = m_Node->setStandard(pBit->v4l2);
    return rc == 0 ? S_OK : (rc == -EDEADLK ? VFW_E_WRONG_STATE : E_FAIL);
}

HRESULT CCaptureFilter::get_TVFormat(LONG* plAnalogVideoStandard) {
    if (!plAnalogVideoStandard) return E_POINTER;
    v4l2_std_id std = 0;
    const int rc = m_Node->ioctl(VIDIOC_G_STD, &std);
    if (rc != 0) return ErrnoToHr(-rc);
    *plAnalogVideoStandard = AnalogVideo_None;
    for (const SStdBit& s : kStandards) {
        if (std & s.v4l2) {
            *plAnalogVideoStandard = s.analog;
            break;
        }
    }
    return S_OK;
}
