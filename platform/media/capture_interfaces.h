// platform/media: the camera capture interfaces: device enumeration
// (ICreateDevEnum -> IEnumMoniker -> IMoniker -> IPropertyBag), stream
// configuration (IAMStreamConfig with VIDEO_STREAM_CONFIG_CAPS), sample
// grabbing (ISampleGrabber, ISampleGrabberCB), capture graph building
// (ICaptureGraphBuilder2) and device settings (IAMVideoProcAmp,
// IAMCameraControl, IAMCrossbar, IAMAnalogVideoDecoder,
// ISpecifyPropertyPages).
//
// Contract (besides the rules of media_interfaces.h):
// - Interfaces list the methods in platform slot order; methods that no
//   caller here uses are left out at the end of an interface, never in the
//   middle.
// - "long" arguments of these interfaces are LONG (32 bits).
// - A media type handed out (GetFormat, GetStreamCaps) is task memory with
//   a task-memory format block; the caller frees it with DeleteMediaType.
// - ISampleGrabberCB::SampleCB runs on the capture streaming thread; the
//   sample is lent for the call only.
// May include: the C++ standard library, platform/win, platform/com. No Qt.
#pragma once

#include "platform/com/variant.h"
#include "platform/media/graph_interfaces.h"
#include "platform/media/media_interfaces.h"
#include "platform/win/window_handle.h"

// Opaque: bind contexts and error logs are never created here; callers pass
// null.
struct IBindCtx;
struct IErrorLog;

struct IPropertyBag : IUnknown {
    // Reads a property into a variant that the caller initialised; a text
    // arrives as VT_BSTR, which the caller frees with VariantClear.
    virtual HRESULT Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) = 0;
    virtual HRESULT Write(LPCOLESTR pszPropName, VARIANT* pVar) = 0;
};

struct IMoniker : IUnknown {
    // The object the moniker names (a capture filter for IID_IBaseFilter).
    virtual HRESULT BindToObject(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riidResult,
                                 void** ppvResult) = 0;
    // Its storage (IID_IPropertyBag).
    virtual HRESULT BindToStorage(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riid,
                                  void** ppvObj) = 0;
};

struct IEnumMoniker : IUnknown {
    virtual HRESULT Next(ULONG celt, IMoniker** rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMoniker** ppenum) = 0;
};

struct ICreateDevEnum : IUnknown {
    // S_OK with an enumerator when the category has members; S_FALSE and a
    // null enumerator when it has none.
    virtual HRESULT CreateClassEnumerator(REFCLSID clsidDeviceClass, IEnumMoniker** ppEnumMoniker,
                                          DWORD dwFlags) = 0;
};

// One capability of a capture pin. 128 bytes with natural alignment; the
// 64-bit members sit at multiples of 8.
struct VIDEO_STREAM_CONFIG_CAPS {
    GUID guid;
    ULONG VideoStandard;
    SIZE InputSize;
    SIZE MinCroppingSize;
    SIZE MaxCroppingSize;
    int32_t CropGranularityX;
    int32_t CropGranularityY;
    int32_t CropAlignX;
    int32_t CropAlignY;
    SIZE MinOutputSize;
    SIZE MaxOutputSize;
    int32_t OutputGranularityX;
    int32_t OutputGranularityY;
    int32_t StretchTapsX;
    int32_t StretchTapsY;
    int32_t ShrinkTapsX;
    int32_t ShrinkTapsY;
    LONGLONG MinFrameInterval;
    LONGLONG MaxFrameInterval;
    LONG MinBitsPerSecond;
    LONG MaxBitsPerSecond;
};
static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128);
static_assert(offsetof(VIDEO_STREAM_CONFIG_CAPS, MinOutputSize) == 60);
static_assert(offsetof(VIDEO_STREAM_CONFIG_CAPS, OutputGranularityX) == 76);
static_assert(offsetof(VIDEO_STREAM_CONFIG_CAPS, MinFrameInterval) == 104);
static_assert(offsetof(VIDEO_STREAM_CONFIG_CAPS, MinFrameInterval) % 8 == 0);
static_assert(offsetof(VIDEO_STREAM_CONFIG_CAPS, MaxFrameInterval) % 8 == 0);

struct IAMStreamConfig : IUnknown {
    // Only while the filter is stopped (VFW_E_NOT_STOPPED otherwise).
    virtual HRESULT SetFormat(AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT GetFormat(AM_MEDIA_TYPE** ppmt) = 0;
    // *piSize is the size of the capability record (128).
    virtual HRESULT GetNumberOfCapabilities(int* piCount, int* piSize) = 0;
    virtual HRESULT GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) = 0;
};

struct ISampleGrabberCB : IUnknown {
    virtual HRESULT SampleCB(double SampleTime, IMediaSample* pSample) = 0;
    virtual HRESULT BufferCB(double SampleTime, BYTE* pBuffer, LONG BufferLen) = 0;
};

struct ISampleGrabber : IUnknown {
    virtual HRESULT SetOneShot(BOOL OneShot) = 0;
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* pType) = 0;
    virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* pType) = 0;
    virtual HRESULT SetBufferSamples(BOOL BufferThem) = 0;
    // *pBufferSize in: the target's size (or anything with a null target);
    // out: the bytes of the kept sample.
    virtual HRESULT GetCurrentBuffer(LONG* pBufferSize, LONG* pBuffer) = 0;
    virtual HRESULT GetCurrentSample(IMediaSample** ppSample) = 0;
    // WhichMethodToCallback: 0 SampleCB, 1 BufferCB. The grabber keeps one
    // reference on the callback until it is replaced.
    virtual HRESULT SetCallback(ISampleGrabberCB* pCallback, LONG WhichMethodToCallback) = 0;
};

struct ICaptureGraphBuilder2 : IUnknown {
    virtual HRESULT SetFiltergraph(IGraphBuilder* pfg) = 0;
    virtual HRESULT GetFiltergraph(IGraphBuilder** ppfg) = 0;
    // Finds riid on pf (pCategory null or a pin category: on that pin;
    // LOOK_UPSTREAM_ONLY: on pf and what feeds it).
    virtual HRESULT FindInterface(const GUID* pCategory, const GUID* pType, IBaseFilter* pf,
                                  REFIID riid, void** ppint) = 0;
    virtual HRESULT RenderStream(const GUID* pCategory, const GUID* pType, IUnknown* pSource,
                                 IBaseFilter* pfCompressor, IBaseFilter* pfRenderer) = 0;
};

enum VideoProcAmpProperty : int32_t {
    VideoProcAmp_Brightness = 0,
    VideoProcAmp_Contrast = 1,
    VideoProcAmp_Hue = 2,
    VideoProcAmp_Saturation = 3,
    VideoProcAmp_Sharpness = 4,
    VideoProcAmp_Gamma = 5,
    VideoProcAmp_ColorEnable = 6,
    VideoProcAmp_WhiteBalance = 7,
    VideoProcAmp_BacklightCompensation = 8,
    VideoProcAmp_Gain = 9
};
constexpr LONG VideoProcAmp_Flags_Auto = 0x1;
constexpr LONG VideoProcAmp_Flags_Manual = 0x2;

enum CameraControlProperty : int32_t {
    CameraControl_Pan = 0,
    CameraControl_Tilt = 1,
    CameraControl_Roll = 2,
    CameraControl_Zoom = 3,
    CameraControl_Exposure = 4,
    CameraControl_Iris = 5,
    CameraControl_Focus = 6
};
constexpr LONG CameraControl_Flags_Auto = 0x1;
constexpr LONG CameraControl_Flags_Manual = 0x2;

// A property the device does not have (or has disabled).
constexpr HRESULT E_PROP_ID_UNSUPPORTED = MakeHr(0x80070490u);

struct IAMVideoProcAmp : IUnknown {
    virtual HRESULT GetRange(LONG Property, LONG* pMin, LONG* pMax, LONG* pSteppingDelta,
                             LONG* pDefault, LONG* pCapsFlags) = 0;
    virtual HRESULT Set(LONG Property, LONG lValue, LONG Flags) = 0;
    virtual HRESULT Get(LONG Property, LONG* lValue, LONG* Flags) = 0;
};

struct IAMCameraControl : IUnknown {
    virtual HRESULT GetRange(LONG Property, LONG* pMin, LONG* pMax, LONG* pSteppingDelta,
                             LONG* pDefault, LONG* pCapsFlags) = 0;
    virtual HRESULT Set(LONG Property, LONG lValue, LONG Flags) = 0;
    virtual HRESULT Get(LONG Property, LONG* lValue, LONG* Flags) = 0;
};

enum PhysicalConnectorType : int32_t {
    PhysConn_Video_Tuner = 1,
    PhysConn_Video_Composite = 2,
    PhysConn_Video_SVideo = 3,
    PhysConn_Video_RGB = 4,
    PhysConn_Video_YRYBY = 5,
    PhysConn_Video_SerialDigital = 6,
    PhysConn_Video_ParallelDigital = 7,
    PhysConn_Video_SCSI = 8,
    PhysConn_Video_AUX = 9,
    PhysConn_Video_1394 = 10,
    PhysConn_Video_USB = 11,
    PhysConn_Video_VideoDecoder = 12
};

struct IAMCrossbar : IUnknown {
    virtual HRESULT get_PinCounts(LONG* OutputPinCount, LONG* InputPinCount) = 0;
    virtual HRESULT CanRoute(LONG OutputPinIndex, LONG InputPinIndex) = 0;
    // Only while the filter is stopped.
    virtual HRESULT Route(LONG OutputPinIndex, LONG InputPinIndex) = 0;
    virtual HRESULT get_IsRoutedTo(LONG OutputPinIndex, LONG* InputPinIndex) = 0;
    virtual HRESULT get_CrossbarPinInfo(BOOL IsInputPin, LONG PinIndex, LONG* PinIndexRelated,
                                        LONG* PhysicalType) = 0;
};

enum AnalogVideoStandard : int32_t {
    AnalogVideo_None = 0,
    AnalogVideo_NTSC_M = 0x1,
    AnalogVideo_NTSC_M_J = 0x2,
    AnalogVideo_NTSC_433 = 0x4,
    AnalogVideo_PAL_B = 0x10,
    AnalogVideo_PAL_D = 0x20,
    AnalogVideo_PAL_G = 0x40,
    AnalogVideo_PAL_H = 0x80,
    AnalogVideo_PAL_I = 0x100,
    AnalogVideo_PAL_M = 0x200,
    AnalogVideo_PAL_N = 0x400,
    AnalogVideo_PAL_60 = 0x800,
    AnalogVideo_SECAM_B = 0x1000,
    AnalogVideo_SECAM_D = 0x2000,
    AnalogVideo_SECAM_G = 0x4000,
    AnalogVideo_SECAM_H = 0x8000,
    AnalogVideo_SECAM_K = 0x10000,
    AnalogVideo_SECAM_K1 = 0x20000,
    AnalogVideo_SECAM_L = 0x40000,
    AnalogVideo_SECAM_L1 = 0x80000,
    AnalogVideo_PAL_N_COMBO = 0x100000
};

struct IAMAnalogVideoDecoder : IUnknown {
    // A mask of AnalogVideoStandard bits.
    virtual HRESULT get_AvailableTVFormats(LONG* lAnalogVideoStandard) = 0;
    virtual HRESULT put_TVFormat(LONG lAnalogVideoStandard) = 0;
    virtual HRESULT get_TVFormat(LONG* plAnalogVideoStandard) = 0;
};

// Counted array of GUIDs; pElems is task memory, freed by the caller.
struct CAUUID {
    ULONG cElems;
    GUID* pElems;
};

struct ISpecifyPropertyPages : IUnknown {
    virtual HRESULT GetPages(CAUUID* pPages) = 0;
};

// There is no property sheet on this platform: answers E_NOTIMPL. (No
// filter here offers ISpecifyPropertyPages, so callers never reach it.)
HRESULT OleCreatePropertyFrame(HWND hwndOwner, UINT x, UINT y, LPCOLESTR lpszCaption,
                               ULONG cObjects, IUnknown** ppUnk, ULONG cPages,
                               const CLSID* pPageClsID, LCID lcid, DWORD dwReserved,
                               LPVOID pvReserved);
