// The library object: COM users, device enumeration, the device slots,
// set-up and tear-down, and frame delivery. Format negotiation is in
// capture_format.cpp, the settings in capture_settings.cpp.
#include "capture/video_input.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cwchar>
#include <limits>
#include <utility>

#include "capture/capture_format.h"
#include "capture/print_sink.h"
#include "platform/com/com_runtime.h"
#include "platform/com/variant.h"
#include "platform/win/time_services.h"

namespace {

constexpr HRESULT RPC_E_CHANGED_MODE = MakeHr(0x80010106u);
constexpr double kVersion = 0.1995;
// The bounded wait for the first buffered frame when Run reports that the
// graph is still changing state.
constexpr ULONGLONG kFirstBufferWaitMs = 5000;
constexpr DWORD kFrameWaitMs = 1000;

std::atomic<int32_t> s_comUsers{0};

// friendlyNames, as the last enumerateDevices found them. Guarded by
// s_nameLock while written; getFriendlyName hands out the entry itself.
std::mutex s_nameLock;
char s_friendlyNames[VideoInput::kMaxDevices][255];

// Low byte of each wide unit, at most maxChars characters, zero-terminated.
void lowBytes(const wchar_t* wide, char* out, size_t maxChars) {
    size_t i = 0;
    for (; wide && wide[i] && i < maxChars; ++i) out[i] = static_cast<char>(wide[i] & 0xFF);
    out[i] = 0;
}

// The device's name as the listing shows it: the friendly name, else the
// description; false when neither can be read.
bool readDeviceName(IPropertyBag* bag, std::wstring* pName) {
    VARIANT description, friendly;
    VariantInit(&description);
    VariantInit(&friendly);
    const bool haveDescription = bag->Read(L"Description", &description, nullptr) == S_OK &&
                                 description.vt == VT_BSTR && description.bstrVal;
    const bool haveFriendly = bag->Read(L"FriendlyName", &friendly, nullptr) == S_OK &&
                              friendly.vt == VT_BSTR && friendly.bstrVal;
    if (haveFriendly) {
        *pName = friendly.bstrVal;
    } else if (haveDescription) {
        *pName = description.bstrVal;
    }
    VariantClear(&description);
    VariantClear(&friendly);
    return haveFriendly || haveDescription;
}

enum class Listing { NoEnumerator, Empty, Listed };

// Walks the video-input category: calls visit(moniker, bag, position) for
// every moniker whose property bag binds (position counts only those, so
// counting, naming and binding agree on indices), until visit answers
// false. onListed runs once when the category has members.
template <class Visit, class OnListed>
Listing walkDevices(Visit&& visit, OnListed&& onListed) {
    CComRef<ICreateDevEnum> devEnum;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, reinterpret_cast<void**>(devEnum.Receive()))) ||
        !devEnum) {
        return Listing::NoEnumerator;
    }
    CComRef<IEnumMoniker> monikers;
    if (devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0) !=
            S_OK ||
        !monikers) {
        return Listing::Empty;
    }
    onListed();
    int position = 0;
    for (;;) {
        CComRef<IMoniker> moniker;
        if (monikers->Next(1, moniker.Receive(), nullptr) != S_OK || !moniker) break;
        CComRef<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                          reinterpret_cast<void**>(bag.Receive()))) ||
            !bag) {
            continue;  // not counted: indices stay those of the listing
        }
        if (!visit(moniker.Get(), bag.Get(), position)) break;
        ++position;
    }
    return Listing::Listed;
}

template <class Visit>
Listing walkDevices(Visit&& visit) {
    return walkDevices(std::forward<Visit>(visit), [] {});
}

}  // namespace

// --- Library object ---------------------------------------------------------

VideoInput::VideoInput() {
    acquireCom();
    for (auto& slot : m_devices) slot = std::make_shared<VideoDevice>();
    captureLog("\n***** CAMERA CAPTURE LIBRARY - %2.04f - KAVU5 *****\n\n", kVersion);

    m_subtypeY800 = MEDIASUBTYPE_Y800;
    m_subtypeY8 = MEDIASUBTYPE_Y8;
    m_subtypeGREY = MEDIASUBTYPE_GREY;
    m_trialSubtypes = {MEDIASUBTYPE_RGB24,  MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB555,
                       MEDIASUBTYPE_RGB565, MEDIASUBTYPE_YUY2,  MEDIASUBTYPE_YVYU,
                       MEDIASUBTYPE_YUYV,   MEDIASUBTYPE_IYUV,  MEDIASUBTYPE_UYVY,
                       MEDIASUBTYPE_YV12,   MEDIASUBTYPE_YVU9,  MEDIASUBTYPE_Y411,
                       MEDIASUBTYPE_Y41P,   MEDIASUBTYPE_Y211,  MEDIASUBTYPE_AYUV,
                       m_subtypeY800,       m_subtypeY8,        m_subtypeGREY};
    m_analogStandards = {AnalogVideo_NTSC_M,  AnalogVideo_PAL_B,    AnalogVideo_PAL_D,
                         AnalogVideo_PAL_G,   AnalogVideo_PAL_H,    AnalogVideo_PAL_I,
                         AnalogVideo_PAL_M,   AnalogVideo_PAL_N,    AnalogVideo_PAL_N_COMBO,
                         AnalogVideo_SECAM_B, AnalogVideo_SECAM_D,  AnalogVideo_SECAM_G,
                         AnalogVideo_SECAM_H, AnalogVideo_SECAM_K,  AnalogVideo_SECAM_K1,
                         AnalogVideo_SECAM_L, AnalogVideo_NTSC_M_J, AnalogVideo_NTSC_433};

    idBrightness = VideoProcAmp_Brightness;
    idContrast = VideoProcAmp_Contrast;
    idHue = VideoProcAmp_Hue;
    idSaturation = VideoProcAmp_Saturation;
    idSharpness = VideoProcAmp_Sharpness;
    idGamma = VideoProcAmp_Gamma;
    idColorEnable = VideoProcAmp_ColorEnable;
    idWhiteBalance = VideoProcAmp_WhiteBalance;
    idBacklightCompensation = VideoProcAmp_BacklightCompensation;
    idGain = VideoProcAmp_Gain;
    idPan = CameraControl_Pan;
    idTilt = CameraControl_Tilt;
    idRoll = CameraControl_Roll;
    idZoom = CameraControl_Zoom;
    idExposure = CameraControl_Exposure;
    idIris = CameraControl_Iris;
    idFocus = CameraControl_Focus;
}

VideoInput::~VideoInput() {
    for (int i = 0; i < kMaxDevices; ++i) closeDevice(i);
    releaseCom();
}

void VideoInput::setLogging(bool on) { setCaptureVerbose(on); }

CapturePrintSink VideoInput::setPrintSink(CapturePrintSink sink) {
    return setCapturePrintSink(std::move(sink));
}

bool VideoInput::acquireCom() {
    if (s_comUsers.load() == 0 && CoInitialize(nullptr) == RPC_E_CHANGED_MODE) {
        captureLog("SETUP - COM already setup - threaded VI might not be possible\n");
    }
    s_comUsers.fetch_add(1);
    return true;
}

bool VideoInput::releaseCom() {
    int32_t users = s_comUsers.load();
    while (users > 0 && !s_comUsers.compare_exchange_weak(users, users - 1)) {
    }
    if (users > 0) --users;
    if (users == 0) {
        CoUninitialize();
        return true;
    }
    return false;
}

int VideoInput::enumerateDevices(bool silent) {
    acquireCom();
    if (!silent) capturePrint("\nCAMERA LISTING MODE!\n\n");
    int count = 0;
    const Listing listing = walkDevices(
        [&](IMoniker*, IPropertyBag* bag, int position) {
            std::wstring name;
            if (readDeviceName(bag, &name)) {
                // A 21st or later device is counted, but has no name entry.
                char stored[255];
                lowBytes(name.c_str(), stored, 253);
                if (position < kMaxDevices) {
                    std::lock_guard<std::mutex> lock(s_nameLock);
                    std::memcpy(s_friendlyNames[position], stored, sizeof stored);
                }
                if (!silent) capturePrint("SETUP: %i) %s \n", position, stored);
            }
            count = position + 1;
            return true;
        },
        [&] {
            if (!silent) capturePrint("SETUP: Looking For Capture Devices\n");
        });
    if (listing != Listing::NoEnumerator && !silent) {
        capturePrint("SETUP: %i Device(s) found\n\n", count);
    }
    releaseCom();
    return count;
}

const char* VideoInput::getFriendlyName(int index) {
    if (index < 0 || index >= kMaxDevices) return nullptr;
    return s_friendlyNames[index];
}

void VideoInput::setUseCallback(bool callbackMode) {
    std::lock_guard<std::recursive_mutex> setup(m_setupLock);
    if (m_callbackModeLocked.load()) {
        capturePrint("ERROR: setUseCallback can only be called before setup\n");
        return;
    }
    m_useCallback.store(callbackMode);
    m_callbackModeLocked.store(1);
}

int VideoInput::countDevices() {
    int count = 0;
    walkDevices([&](IMoniker*, IPropertyBag*, int position) {
        count = position + 1;
        return true;
    });
    return count;
}

// --- Slots ---------------------------------------------------------------------

std::shared_ptr<VideoDevice> VideoInput::record(int index) {
    std::lock_guard<std::mutex> lock(m_slotLock);
    return m_devices[static_cast<size_t>(index)];
}

std::shared_ptr<VideoDevice> VideoInput::readable(int index) {
    const int32_t limit = std::min<int32_t>(m_deviceCount.load(), kMaxDevices);
    if (index < 0 || index >= limit) return nullptr;
    return record(index);
}

std::shared_ptr<VideoDevice> VideoInput::openRecord(int index) {
    auto device = readable(index);
    if (!device || !device->ready.load() || device->closed.load()) return nullptr;
    return device;
}

// --- Format lists -------------------------------------------------------------

int VideoInput::getFormatCount(int index) {
    auto device = openRecord(index);
    return device ? static_cast<int>(device->formatWidths.size()) : -1;
}

bool VideoInput::getFormatWidths(int index, std::vector<int>& out) {
    auto device = openRecord(index);
    if (!device) return false;
    out.assign(device->formatWidths.begin(), device->formatWidths.end());
    return true;
}

bool VideoInput::getFormatHeights(int index, std::vector<int>& out) {
    auto device = openRecord(index);
    if (!device) return false;
    out.assign(device->formatHeights.begin(), device->formatHeights.end());
    return true;
}

bool VideoInput::getFormatNames(int index, std::vector<std::string>& out) {
    auto device = openRecord(index);
    if (!device) return false;
    out = device->formatNames;
    return true;
}

// --- Set-up and tear-down -----------------------------------------------------

bool VideoInput::openDevice(int index) { return openWith(index, nullptr, nullptr); }

bool VideoInput::openDevice(int index, int connection) {
    return openWith(index, nullptr, &connection);
}

bool VideoInput::openDevice(int index, int w, int h) {
    const int size[2] = {w, h};
    return openWith(index, size, nullptr);
}

bool VideoInput::openDevice(int index, int w, int h, int connection) {
    const int size[2] = {w, h};
    return openWith(index, size, &connection);
}

bool VideoInput::openWith(int index, const int* pSize, const int* pConnection) {
    std::lock_guard<std::recursive_mutex> setup(m_setupLock);
    if (index < 0 || index >= kMaxDevices || record(index)->ready.load()) return false;
    if (pSize) {
        if (packedFrameBytes(pSize[0], pSize[1]) == 0) {
            captureLog("ERROR: invalid frame size %d x %d\n", pSize[0], pSize[1]);
            return false;
        }
        setRequestedSize(index, pSize[0], pSize[1]);
    }
    if (pConnection) setConnection(index, *pConnection);
    return prepareDevice(index);
}

void VideoInput::setFrameRate(int index, int framesPerSecond) {
    std::lock_guard<std::recursive_mutex> setup(m_setupLock);
    if (index < 0 || index >= kMaxDevices || framesPerSecond <= 0) return;
    auto device = record(index);
    if (device->ready.load()) return;
    device->frameInterval = 10000000 / framesPerSecond;
}

void VideoInput::setRequestedSize(int index, int w, int h) {
    auto device = record(index);
    device->requestedWidth = w;
    device->requestedHeight = h;
    device->useRequestedSize = true;
}

void VideoInput::setConnection(int index, int connection) {
    static const int32_t kTypes[5] = {PhysConn_Video_Composite, PhysConn_Video_SVideo,
                                      PhysConn_Video_Tuner, PhysConn_Video_USB,
                                      PhysConn_Video_1394};
    if (connection < 0 || connection > 4) return;
    auto device = record(index);
    device->connectionType = kTypes[connection];
    device->connectionIndex = connection;
    device->crossbarWanted = true;
}

void VideoInput::closeDevice(int index) {
    if (index < 0 || index >= kMaxDevices) return;
    std::lock_guard<std::recursive_mutex> setup(m_setupLock);
    std::shared_ptr<VideoDevice> old;
    {
        std::lock_guard<std::mutex> lock(m_slotLock);
        old = std::exchange(m_devices[static_cast<size_t>(index)], std::make_shared<VideoDevice>());
    }
    // Consumers of the old record answer false from now on; one waiting
    // for a frame is woken and leaves before the graph goes.
    old->closed.store(true);
    old->ready.store(false);
    old->callback.wake();
    std::lock_guard<std::mutex> consumers(old->consumerLock);
    old->tearDown();
}

bool VideoInput::reopenDevice(int index) {
    std::lock_guard<std::recursive_mutex> setup(m_setupLock);
    auto device = openRecord(index);
    if (!device) return false;
    const int32_t connection = device->connectionIndex;
    const bool crossbarWanted = device->crossbarWanted;
    const int32_t w = device->width, h = device->height;
    const bool useStandard = device->useAnalogStandard;
    const int32_t standard = device->analogStandard;
    const int32_t threshold = device->freezeThreshold.load();
    const bool recovery = device->freezeRecovery.load();
    const int32_t interval = device->frameInterval;
    device.reset();

    closeDevice(index);
    if (interval != -1) record(index)->frameInterval = interval;
    // The crossbar is routed again only if a connection was ever asked
    // for: a card left on its default input must come back on that input.
    const bool opened =
        crossbarWanted ? openDevice(index, w, h, connection) : openDevice(index, w, h);
    if (!opened) return false;
    if (useStandard) {
        for (size_t i = 0; i < m_analogStandards.size(); ++i) {
            if (m_analogStandards[i] == standard) {
                setAnalogStandard(index, static_cast<int>(i));
                break;
            }
        }
    }
    if (recovery) setFreezeRecovery(index, true, threshold);
    return true;
}

bool VideoInput::reopenIfCurrent(int index, const std::shared_ptr<VideoDevice>& polled) {
    std::lock_guard<std::recursive_mutex> setup(m_setupLock);
    if (record(index) != polled || polled->closed.load()) return true;  // already replaced
    captureLog("ERROR: Device seems frozen - attempting to reconnect\n");
    if (reopenDevice(index)) {
        captureLog("SUCCESS: Able to reconnect to device\n");
        return true;
    }
    captureLog("ERROR: Unable to reconnect to device\n");
    return false;
}

bool VideoInput::prepareDevice(int index) {
    const int count = countDevices();
    m_deviceCount.store(count);
    if (index > count - 1) {
        captureLog("SETUP: device[%i] not found - you have %i devices available\n", index, count);
        captureLog("SETUP: this means that the last device you can use is device[%i] \n",
                   count - 1);
        return false;
    }
    auto device = record(index);
    return buildCaptureGraph(index, *device) == S_OK;
}

HRESULT VideoInput::getDevice(CComRef<IBaseFilter>* pFilter, int index, wchar_t* wideName,
                              char* narrowName) {
    HRESULT result = VFW_E_NOT_FOUND;
    bool found = false;
    walkDevices([&](IMoniker* moniker, IPropertyBag* bag, int position) {
        if (position != index) return true;
        std::wstring name;
        readDeviceName(bag, &name);
        const size_t n = std::min<size_t>(name.size(), 254);
        if (wideName) {
            std::wmemcpy(wideName, name.c_str(), n);
            wideName[n] = 0;
        }
        if (narrowName) lowBytes(name.c_str(), narrowName, 254);
        result = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                       reinterpret_cast<void**>(pFilter->Receive()));
        found = true;
        return false;
    });
    return found ? result : VFW_E_NOT_FOUND;
}

HRESULT VideoInput::buildCaptureGraph(int index, VideoDevice& device) {
    device.deviceIndex = index;
    device.buildStarted = true;
    GUID pinCategory = PIN_CATEGORY_CAPTURE;  // local to this set-up
    m_callbackModeLocked.store(1);
    const bool callbackMode = m_useCallback.load();
    captureLog("SETUP: Setting up device %i\n", index);

    auto fail = [&](HRESULT hr, const char* message) {
        captureLog("%s", message);
        closeDevice(index);
        return hr;
    };

    HRESULT hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICaptureGraphBuilder2,
                                  reinterpret_cast<void**>(device.captureBuilder.Receive()));
    if (FAILED(hr)) {
        captureLog("ERROR - Could not create the Filter Graph Manager\n");
        return hr;
    }
    hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                          reinterpret_cast<void**>(device.pGraph.Receive()));
    if (FAILED(hr)) return fail(hr, "ERROR - Could not add the graph builder!\n");
    hr = device.captureBuilder->SetFiltergraph(device.pGraph.Get());
    if (FAILED(hr)) return fail(hr, "ERROR - Could not set filtergraph\n");
    hr = device.pGraph.QueryInto(IID_IMediaControl, &device.pControl);
    if (FAILED(hr)) return fail(hr, "ERROR - Could not create the Media Control object\n");
    hr = getDevice(&device.sourceFilter, index, device.wideName, device.name);
    if (FAILED(hr) || !device.sourceFilter) {
        return fail(FAILED(hr) ? hr : E_FAIL, "ERROR - Could not find specified video device\n");
    }
    captureLog("SETUP: %s\n", device.name);
    device.pGraph->AddFilter(device.sourceFilter.Get(), device.wideName);

    {
        CComRef<IAMStreamConfig> preview;
        if (SUCCEEDED(device.captureBuilder->FindInterface(
                &PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, device.sourceFilter.Get(),
                IID_IAMStreamConfig, reinterpret_cast<void**>(preview.Receive()))) &&
            preview) {
            pinCategory = PIN_CATEGORY_PREVIEW;
        } else {
            captureLog("SETUP: Couldn't find preview pin using SmartTee\n");
        }
    }
    if (device.crossbarWanted) {
        captureLog("SETUP: Checking crossbar\n");
        selectCrossbarInput(device.captureBuilder.Get(), device.sourceFilter.Get(),
                            device.connectionType, pinCategory);
    }
    hr = device.captureBuilder->FindInterface(
        &pinCategory, &MEDIATYPE_Video, device.sourceFilter.Get(), IID_IAMStreamConfig,
        reinterpret_cast<void**>(device.streamConfig.Receive()));
    if (FAILED(hr) || !device.streamConfig) {
        return fail(FAILED(hr) ? hr : E_FAIL, "ERROR: Couldn't config the stream!\n");
    }
    hr = device.streamConfig->GetFormat(&device.pAmMediaType);
    if (FAILED(hr) || !device.pAmMediaType) {
        return fail(FAILED(hr) ? hr : E_FAIL, "ERROR: Couldn't getFormat for pAmMediaType!\n");
    }
    VIDEOINFOHEADER vih{};
    if (!readVideoInfo(device.pAmMediaType, &vih)) {
        return fail(VFW_E_INVALIDMEDIATYPE, "ERROR: Couldn't getFormat for pAmMediaType!\n");
    }
    const int32_t defaultW = vih.bmiHeader.biWidth;
    const int32_t defaultH =
        vih.bmiHeader.biHeight < 0 ? -vih.bmiHeader.biHeight : vih.bmiHeader.biHeight;

    if (!chooseSize(device, defaultW, defaultH)) {
        closeDevice(index);
        return VFW_E_INVALIDMEDIATYPE;
    }
    collectFormats(device);

    hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(device.grabberFilter.Receive()));
    if (FAILED(hr)) return fail(hr, "Could not Create Sample Grabber - CoCreateInstance()\n");
    hr = device.pGraph->AddFilter(device.grabberFilter.Get(), L"Sample Grabber");
    if (FAILED(hr)) return fail(hr, "Could not add Sample Grabber - AddFilter()\n");
    hr = device.grabberFilter.QueryInto(IID_ISampleGrabber, &device.grabber);
    if (FAILED(hr)) return fail(hr, "ERROR: Could not query SampleGrabber\n");
    device.grabber->SetOneShot(FALSE);
    device.grabber->SetBufferSamples(callbackMode ? FALSE : TRUE);
    if (callbackMode) {
        hr = device.grabber->SetCallback(&device.callback, 0);
        if (FAILED(hr)) return fail(hr, "ERROR: problem setting callback\n");
        captureLog("SETUP: Capture callback set\n");
    }
    {
        AM_MEDIA_TYPE mt{};
        mt.majortype = MEDIATYPE_Video;
        mt.subtype = MEDIASUBTYPE_RGB24;
        mt.formattype = FORMAT_VideoInfo;
        device.grabber->SetMediaType(&mt);
    }
    if (!device.streamConfig) {
        captureLog("ERROR: connecting device - prehaps it is already being used?\n");
        closeDevice(index);
        return S_FALSE;
    }
    device.streamConfig.Release();

    hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(device.rendererFilter.Receive()));
    if (FAILED(hr)) return fail(hr, "ERROR: Could not create filter - NullRenderer\n");
    hr = device.pGraph->AddFilter(device.rendererFilter.Get(), L"NullRenderer");
    if (FAILED(hr)) return fail(hr, "ERROR: Could not add filter - NullRenderer\n");
    hr = device.captureBuilder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video,
                                             device.sourceFilter.Get(), device.grabberFilter.Get(),
                                             device.rendererFilter.Get());
    if (FAILED(hr)) return fail(hr, "ERROR: Could not connect pins - RenderStream()\n");
    {
        CComRef<IMediaFilter> mediaFilter;
        if (SUCCEEDED(device.pGraph.QueryInto(IID_IMediaFilter, &mediaFilter)) && mediaFilter) {
            mediaFilter->SetSyncSource(nullptr);
        } else {
            captureLog("ERROR: Could not get IID_IMediaFilter interface\n");
        }
    }
    hr = device.pControl->Run();
    if (FAILED(hr)) return fail(hr, "ERROR: Could not start graph\n");
    if (!callbackMode) {
        // Bounded: a device that never delivers still opens, and GetPixels
        // reports that it cannot grab a frame until frames come.
        const ULONGLONG start = GetTickCount64();
        while (hr != S_OK && GetTickCount64() - start < kFirstBufferWaitMs) {
            LONG size = device.frameSize;
            hr = device.grabber->GetCurrentBuffer(
                &size, reinterpret_cast<LONG*>(device.frameBuffer.get()));
            Sleep(10);
        }
    }
    captureLog("SETUP: Device is setup and ready to capture.\n\n");
    device.sourceFilter.Release();
    device.grabberFilter.Release();
    device.rendererFilter.Release();
    device.ready.store(true);
    return S_OK;
}

HRESULT VideoInput::selectCrossbarInput(ICaptureGraphBuilder2* builder, IBaseFilter* source,
                                        int32_t physicalType, const GUID& pinCategory) {
    {
        CComRef<IAMCrossbar> probe;
        HRESULT hr = builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, source, IID_IAMCrossbar,
                                            reinterpret_cast<void**>(probe.Receive()));
        if (FAILED(hr) || !probe) {
            captureLog("SETUP: You are a webcam or snazzy firewire cam! No Crossbar needed\n");
            return FAILED(hr) ? hr : E_NOINTERFACE;
        }
        captureLog("SETUP: You are not a webcam! Setting Crossbar\n");
    }
    CComRef<IAMCrossbar> crossbar;
    HRESULT hr =
        builder->FindInterface(&pinCategory, &MEDIATYPE_Interleaved, source, IID_IAMCrossbar,
                               reinterpret_cast<void**>(crossbar.Receive()));
    if (hr != S_OK || !crossbar) {
        hr = builder->FindInterface(&pinCategory, &MEDIATYPE_Video, source, IID_IAMCrossbar,
                                    reinterpret_cast<void**>(crossbar.Receive()));
    }
    if (hr != S_OK || !crossbar) return hr;
    LONG outputs = 0, inputs = 0;
    hr = crossbar->get_PinCounts(&outputs, &inputs);
    if (FAILED(hr)) return hr;
    LONG input = -1;
    for (LONG i = 0; i < inputs; ++i) {
        LONG related = 0, type = 0;
        hr = crossbar->get_CrossbarPinInfo(TRUE, i, &related, &type);
        if (SUCCEEDED(hr) && type == physicalType) {
            input = i;
            captureLog("SETUP: Found Physical Interface");
            switch (type) {
                case PhysConn_Video_Tuner:
                    captureLog(" - Tuner\n");
                    break;
                case PhysConn_Video_Composite:
                    captureLog(" - Composite\n");
                    break;
                case PhysConn_Video_SVideo:
                    captureLog(" - S-Video\n");
                    break;
                case PhysConn_Video_1394:
                    captureLog(" - Firewire\n");
                    break;
                case PhysConn_Video_USB:
                    captureLog(" - USB\n");
                    break;
                default:
                    break;
            }
            break;
        }
    }
    if (input < 0) {
        captureLog("SETUP: Didn't find specified Physical Connection type. Using Defualt. \n");
        return hr;
    }
    for (LONG o = 0; o < outputs; ++o) {
        LONG related = 0, type = 0;
        hr = crossbar->get_CrossbarPinInfo(FALSE, o, &related, &type);
        if (SUCCEEDED(hr) && type == PhysConn_Video_VideoDecoder) {
            hr = crossbar->Route(o, input);
            break;
        }
    }
    return hr;
}

// --- Frame delivery -----------------------------------------------------------

bool VideoInput::isDeviceOpen(int index) { return openRecord(index) != nullptr; }

int VideoInput::getFrameWidth(int index) {
    auto device = openRecord(index);
    return device ? device->width : 0;
}

int VideoInput::getFrameHeight(int index) {
    auto device = openRecord(index);
    return device ? device->height : 0;
}

int VideoInput::getFrameSize(int index) {
    auto device = openRecord(index);
    return device ? device->frameSize : 0;
}

bool VideoInput::hasNewFrame(int index) {
    auto device = openRecord(index);
    if (!device) return false;
    if (!m_useCallback.load()) return true;
    uint32_t silentPolls = 0;
    const bool waiting = device->callback.poll(&silentPolls);
    uint32_t earlierPolls = device->pollCount.load();
    while (earlierPolls != std::numeric_limits<uint32_t>::max() &&
           !device->pollCount.compare_exchange_weak(earlierPolls, earlierPolls + 1)) {
    }
    const bool frozen = !waiting && earlierPolls > 400 &&
                        static_cast<int64_t>(silentPolls) > device->freezeThreshold.load();
    if (frozen && device->freezeRecovery.load()) {
        reopenIfCurrent(index, device);
        // Whatever the reopen did, the frame announced by the old record
        // is gone; the new record has none yet.
        return false;
    }
    return waiting;
}

namespace {

// The capture times of the frames this thread took, per library object and
// device index (getFrameTimestamp). Each consumer thread has its own.
struct STakenFrameTimes {
    const VideoInput* pOwner = nullptr;
    std::array<LONGLONG, VideoInput::kMaxDevices> times{};
};
thread_local STakenFrameTimes t_takenFrameTimes;

LONGLONG& TakenFrameTime(const VideoInput* pOwner, int index) {
    STakenFrameTimes& t = t_takenFrameTimes;
    if (t.pOwner != pOwner) {
        t.pOwner = pOwner;
        t.times.fill(-1);
    }
    return t.times[static_cast<size_t>(index)];
}

}  // namespace

LONGLONG VideoInput::getFrameTimestamp(int index) {
    if (index < 0 || index >= kMaxDevices) return -1;
    return TakenFrameTime(this, index);
}

bool VideoInput::grabFrame(const std::shared_ptr<VideoDevice>& device, unsigned char* dst,
                           bool swapRedBlue, bool flipVertical) {
    if (!dst) return false;
    std::lock_guard<std::mutex> consumers(device->consumerLock);
    const int index = device->deviceIndex;
    if (index >= 0 && index < kMaxDevices) TakenFrameTime(this, index) = -1;
    if (device->closed.load()) return false;
    const int w = device->width, h = device->height;
    if (m_useCallback.load()) {
        // Close wakes this wait; the record then answers closed.
        if (!device->callback.waitForFrame(kFrameWaitMs) || device->closed.load()) return false;
        LONGLONG llCapture = -1;
        const bool bTaken = device->callback.takeFrame(
            [&](const uint8_t* frame) {
                convertFrame(frame, dst, w, h, swapRedBlue, flipVertical);
            },
            &llCapture);
        if (bTaken && index >= 0 && index < kMaxDevices) TakenFrameTime(this, index) = llCapture;
        return bTaken;
    }
    LONG size = device->frameSize;
    if (!device->grabber ||
        device->grabber->GetCurrentBuffer(
            &size, reinterpret_cast<LONG*>(device->frameBuffer.get())) != S_OK) {
        captureLog("ERROR: GetPixels() - Unable to grab frame for device %i\n",
                   device->deviceIndex);
        return false;
    }
    if (size != device->frameSize) {
        captureLog("ERROR: GetPixels() - bufferSizes do not match!\n");
        return false;
    }
    convertFrame(device->frameBuffer.get(), dst, w, h, swapRedBlue, flipVertical);
    return true;
}

bool VideoInput::GetPixels(int index, unsigned char* dst, bool swapRedBlue, bool flipVertical) {
    auto device = openRecord(index);
    return device && grabFrame(device, dst, swapRedBlue, flipVertical);
}

bool VideoInput::GetPixels(int index, unsigned char* dst, size_t dstBytes, bool swapRedBlue,
                           bool flipVertical) {
    auto device = openRecord(index);
    if (!device || dstBytes != static_cast<size_t>(device->frameSize)) return false;
    return grabFrame(device, dst, swapRedBlue, flipVertical);
}

unsigned char* VideoInput::getPixelBuffer(int index, bool swapRedBlue, bool flipVertical) {
    auto device = openRecord(index);
    if (!device) return nullptr;
    grabFrame(device, device->imageBuffer.get(), swapRedBlue, flipVertical);
    return device->imageBuffer.get();
}

void VideoInput::setFreezeRecovery(int index, bool enable, int threshold) {
    if (index < 0 || index >= kMaxDevices) return;
    auto device = record(index);
    device->freezeThreshold.store(threshold);
    device->freezeRecovery.store(enable);
}

void VideoInput::convertFrame(const unsigned char* src, unsigned char* dst, int width, int height,
                              bool swapRedBlue, bool flipVertical) {
    if (!src || !dst || width <= 0 || height <= 0) return;
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    const size_t rows = static_cast<size_t>(height);
    if (!swapRedBlue && !flipVertical) {
        std::memcpy(dst, src, rowBytes * rows);
        return;
    }
    for (size_t i = 0; i < rows; ++i) {
        const unsigned char* from = src + (flipVertical ? rows - 1 - i : i) * rowBytes;
        unsigned char* to = dst + i * rowBytes;
        if (!swapRedBlue) {
            std::memcpy(to, from, rowBytes);
            continue;
        }
        for (size_t x = 0; x < rowBytes; x += 3) {
            to[x] = from[x + 2];
            to[x + 1] = from[x + 1];
            to[x + 2] = from[x];
        }
    }
}
