// The camera objects of the media graph tier on virtual cameras, driven the
// way the camera library drives them (all by class id).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "filterbase/media_type.h"
#include "mediagraph/media_classes.h"
#include "mediagraph/preview_chain.h"
#include "platform/com/com_ref.h"
#include "platform/com/com_runtime.h"
#include "platform/ffmpeg/frame_pattern.h"
#include "platform/media/capture_interfaces.h"
#include "platform/media/sample_capture_time.h"
#include "platform/win/time_services.h"
#include "platform/v4l2/v4l2_catalogue.h"
#include "support/live_objects.h"
#include "support/number_callback.h"
#include "support/virtual_cameras.h"
#include "support/watchdog.h"

namespace {

using pelora_test::AddCamera;
using pelora_test::DiscreteFormat;
using pelora_test::NumberCallback;
using pelora_test::SteppedFormat;
using pelora_test::WebcamConfig;

class CaptureGraphTest : public pelora_test::LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        ASSERT_EQ(RegisterMediaClasses(), S_OK);
        CoInitialize(nullptr);
    }
    void TearDown() override {
        chain.Release();
        V4l2Catalogue::clearVirtual();
        CoUninitialize();
        LiveObjectsTest::TearDown();
    }

    static CComRef<IAMStreamConfig> Config(IBaseFilter* pSource) {
        CComRef<ICaptureGraphBuilder2> builder;
        CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                         IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(builder.Receive()));
        CComRef<IAMStreamConfig> config;
        builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, pSource,
                               IID_IAMStreamConfig, reinterpret_cast<void**>(config.Receive()));
        return config;
    }

    // The camera library's graph, not run yet: the capture pin set to w x h
    // in the first of RGB24, YUY2, YUYV it takes (the callback reads w x h).
    HRESULT Build(int index, uint32_t w, uint32_t h, bool bSetSize = true) {
        CComRef<IBaseFilter> source = BindVideoInputDevice(index);
        if (!source) return VFW_E_NOT_FOUND;
        EXPECT_EQ(chain.Create(source.Get()), S_OK);
        CComRef<IAMStreamConfig> config;
        EXPECT_NE(chain.builder->FindInterface(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video,
                                               source.Get(), IID_IAMStreamConfig,
                                               reinterpret_cast<void**>(config.Receive())),
                  S_OK);
        config = Config(source.Get());
        if (!config) return E_NOINTERFACE;
        HRESULT hr = S_OK;
        if (bSetSize) {
            callback.width = w, callback.height = h;
            AM_MEDIA_TYPE* pmt = nullptr;
            EXPECT_EQ(config->GetFormat(&pmt), S_OK);
            SetSize(pmt, static_cast<LONG>(w), static_cast<LONG>(h));
            hr = VFW_E_INVALIDMEDIATYPE;
            for (const GUID* st : {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_YUYV}) {
                pmt->subtype = *st;
                if ((hr = config->SetFormat(pmt)) == S_OK) break;
            }
            DeleteMediaType(pmt);
        }
        const HRESULT hrRender = chain.Render(&callback);
        EXPECT_EQ(chain.grabber->SetOneShot(FALSE), S_OK);
        EXPECT_EQ(chain.grabber->SetBufferSamples(TRUE), S_OK);
        AM_MEDIA_TYPE rgb{};
        rgb.majortype = MEDIATYPE_Video;
        rgb.subtype = MEDIASUBTYPE_RGB24;
        rgb.formattype = FORMAT_VideoInfo;
        EXPECT_EQ(chain.grabber->SetMediaType(&rgb), S_OK);
        CComRef<IMediaFilter> mediaFilter;
        chain.graph.QueryInto(IID_IMediaFilter, &mediaFilter);
        EXPECT_EQ(mediaFilter->SetSyncSource(nullptr), S_OK);
        return FAILED(hrRender) ? hrRender : hr;
    }
    static void SetSize(AM_MEDIA_TYPE* pmt, LONG w, LONG h) {
        VIDEOINFOHEADER vih;
        std::memcpy(&vih, pmt->pbFormat, sizeof(vih));
        vih.bmiHeader.biWidth = w;
        vih.bmiHeader.biHeight = h;
        std::memcpy(pmt->pbFormat, &vih, sizeof(vih));
    }
    std::shared_ptr<VirtualV4l2Device> FreeRunningCamera() {  // 200 frames a second
        VirtualCameraConfig cfg = WebcamConfig();
        cfg.freeRunning = true;
        cfg.formats[0].intervals = {{1, 200}};
        return AddCamera(cfg);
    }
    static CComRef<IEnumMoniker> Monikers(HRESULT expected) {
        CComRef<ICreateDevEnum> devEnum;
        EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICreateDevEnum, reinterpret_cast<void**>(devEnum.Receive())),
                  S_OK);
        CComRef<IEnumMoniker> monikers;
        EXPECT_EQ(
            devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0),
            expected);
        return monikers;
    }
    // One frame at a time, each handed back before the next (a burst past
    // the 4 buffers would lose frames).
    void Emit(VirtualV4l2Device& cam, int k) {
        for (int i = 0; i < k; ++i) {
            const uint64_t target = cam.returned() + 1;
            cam.emitFrames(1);
            ASSERT_TRUE(cam.waitReturned(target, 5000));
        }
    }

    NumberCallback callback;  // outlives the chain
    SPreviewChain chain;
};

TEST_F(CaptureGraphTest, LibraryGraphDeliversNumberedFramesAndLeavesNothingBehind) {
    VirtualCameraConfig cfg = WebcamConfig();
    cfg.bytesPerLinePadding = 64;  // padded driver rows, packed grabber rows
    auto cam = AddCamera(cfg);
    ASSERT_EQ(Build(0, 640, 480), S_OK);
    ASSERT_EQ(chain.control->Run(), S_OK);
    Emit(*cam, 5);
    LONG size = 0;
    EXPECT_EQ(chain.grabber->GetCurrentBuffer(&size, nullptr), S_OK);
    EXPECT_EQ(size, 640 * 480 * 3);
    std::vector<BYTE> kept(static_cast<size_t>(size));
    EXPECT_EQ(chain.grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG*>(kept.data())), S_OK);
    EXPECT_EQ(ReadFrameNumber(kept.data(), 640, 480), 4u);
    EXPECT_EQ(chain.control->Stop(), S_OK);
    EXPECT_EQ(callback.Numbers(), (std::vector<int64_t>{0, 1, 2, 3, 4}));
    EXPECT_FALSE(callback.queried);
    EXPECT_EQ(chain.grabber->SetCallback(nullptr, 1), E_NOTIMPL);
    EXPECT_EQ(chain.grabber->SetCallback(nullptr, 0), S_OK);
    chain.Release();
    EXPECT_EQ(cam->openHandles(), 0);
}

TEST_F(CaptureGraphTest, ListingAnswersNamesAndNoDeviceIsSFalse) {
    EXPECT_FALSE(Monikers(S_FALSE));

    AddCamera(WebcamConfig("Kamera \xC3\xBC\xE3\x83\xA1"));
    VirtualCameraConfig noName = WebcamConfig("second");
    noName.nameReadFails = true;
    AddCamera(noName);
    std::wstring name;
    ASSERT_TRUE(BindVideoInputDevice(0, &name));
    EXPECT_EQ(name, L"Kamera \u00FC\u30E1");
    name = L"unchanged";
    EXPECT_TRUE(BindVideoInputDevice(1, &name));
    EXPECT_EQ(name, L"unchanged");
    EXPECT_FALSE(BindVideoInputDevice(2));
}

TEST_F(CaptureGraphTest, BindFailuresMapToTheirCodesAndOddCapabilityRecordsAreReported) {
    VirtualCameraConfig cfg = WebcamConfig();
    cfg.propertyBagFails = true;
    cfg.capsRecordSize = 96;
    auto cam = AddCamera(cfg);
    CComRef<IEnumMoniker> monikers = Monikers(S_OK);
    ASSERT_TRUE(monikers);
    CComRef<IMoniker> moniker;
    ASSERT_EQ(monikers->Next(1, moniker.Receive(), nullptr), S_OK);
    CComRef<IPropertyBag> bag;
    EXPECT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                     reinterpret_cast<void**>(bag.Receive())),
              E_FAIL);
    struct SCase {
        int err;
        HRESULT hr;
    };
    for (const SCase& c : {SCase{EACCES, E_ACCESSDENIED}, SCase{ENOENT, VFW_E_NOT_FOUND},
                           SCase{ENODEV, VFW_E_NOT_FOUND}}) {
        cam->failNextOpens(1, c.err);
        CComRef<IBaseFilter> filter;
        EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                        reinterpret_cast<void**>(filter.Receive())),
                  c.hr);
    }
    CComRef<IBaseFilter> filter;
    ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                    reinterpret_cast<void**>(filter.Receive())),
              S_OK);
    CComRef<IAMStreamConfig> config = Config(filter.Get());
    ASSERT_TRUE(config);
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(size, 96);
}

TEST_F(CaptureGraphTest, SetFormatRefusesAnAdjustedSizeAndKeepsThePreviousFormat) {
    VirtualCameraConfig cfg = WebcamConfig();
    cfg.formats = {DiscreteFormat(V4L2_PIX_FMT_YUYV, {{1280, 720}, {320, 240}}),
                   DiscreteFormat(V4L2_PIX_FMT_MJPEG, {{1280, 720}})};
    cfg.width = 320;
    cfg.height = 240;
    AddCamera(cfg);
    CComRef<IAMStreamConfig> config = Config(BindVideoInputDevice(0).Get());
    ASSERT_TRUE(config);
    AM_MEDIA_TYPE* pmt = nullptr;
    ASSERT_EQ(config->GetFormat(&pmt), S_OK);
    EXPECT_EQ(pmt->subtype, MEDIASUBTYPE_YUY2);
    SetSize(pmt, 640, 480);
    for (const GUID* st :
         {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_YUYV, &MEDIASUBTYPE_MJPG}) {
        pmt->subtype = *st;
        EXPECT_EQ(config->SetFormat(pmt), VFW_E_INVALIDMEDIATYPE);
    }
    DeleteMediaType(pmt);
    ASSERT_EQ(config->GetFormat(&pmt), S_OK);
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, pmt->pbFormat, sizeof(vih));
    EXPECT_EQ(vih.bmiHeader.biWidth, 320);
    EXPECT_EQ(vih.bmiHeader.biSizeImage, 320u * 240 * 2);
    // MJPG is reached through its FOURCC-form subtype.
    pmt->subtype = MEDIASUBTYPE_MJPG;
    vih.bmiHeader.biWidth = 1280;
    vih.bmiHeader.biHeight = 720;
    vih.AvgTimePerFrame = 333333;
    std::memcpy(pmt->pbFormat, &vih, sizeof(vih));
    EXPECT_EQ(config->SetFormat(pmt), S_OK);
    DeleteMediaType(pmt);
    VIDEO_STREAM_CONFIG_CAPS caps;  // one per format and size, in listing order
    ASSERT_EQ(config->GetStreamCaps(2, &pmt, reinterpret_cast<BYTE*>(&caps)), S_OK);
    EXPECT_EQ(pmt->subtype, MEDIASUBTYPE_MJPG);
    EXPECT_EQ(caps.MaxOutputSize.cx, 1280);
    EXPECT_EQ(caps.OutputGranularityX, 1);
    DeleteMediaType(pmt);
}

// Each capability carries its format and size's interval range (the current
// interval when the driver lists none); the media type the current interval.
TEST_F(CaptureGraphTest, CapabilitiesCarryTheFrameIntervalRangeOfTheirFormatAndSize) {
    VirtualCameraConfig cfg = WebcamConfig();
    VirtualFormat yuyv = DiscreteFormat(V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}});
    yuyv.intervals = {{1, 15}, {1, 30}, {1, 5}};  // the first is the current one
    VirtualFormat mjpg = SteppedFormat(V4L2_PIX_FMT_MJPEG, V4L2_FRMSIZE_TYPE_STEPWISE, 320, 1280,
                                       160, 240, 720, 120);
    mjpg.intervalType = V4L2_FRMIVAL_TYPE_STEPWISE;
    mjpg.intervalRange = {{1, 60}, {1, 10}, {1, 10}};
    VirtualFormat grey = DiscreteFormat(V4L2_PIX_FMT_GREY, {{640, 480}});
    grey.intervals = {};
    VirtualFormat nv12 =
        SteppedFormat(V4L2_PIX_FMT_NV12, V4L2_FRMSIZE_TYPE_CONTINUOUS, 160, 640, 1, 120, 480, 1);
    nv12.intervalType = V4L2_FRMIVAL_TYPE_CONTINUOUS;
    nv12.intervalRange = {{1, 120}, {2, 1}, {1, 1}};
    cfg.formats = {yuyv, mjpg, grey, nv12};
    AddCamera(cfg);
    CComRef<IAMStreamConfig> config = Config(BindVideoInputDevice(0).Get());
    ASSERT_TRUE(config);
    struct SCap {
        LONGLONG min, max;
    };
    const SCap kCaps[] = {
        {333333, 2000000},  // YUYV 640x480: 1/30 ... 1/5
        {333333, 2000000},  // YUYV 320x240
        {166666, 1000000},  // MJPG stepwise sizes, 1/60 ... 1/10
        {666666, 666666},   // GREY: none listed, the current 1/15
        {83333, 20000000},  // NV12 continuous sizes, 1/120 ... 2
    };
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    ASSERT_EQ(count, 5);
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        AM_MEDIA_TYPE* pmt = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        ASSERT_EQ(config->GetStreamCaps(i, &pmt, reinterpret_cast<BYTE*>(&caps)), S_OK);
        EXPECT_EQ(caps.MinFrameInterval, kCaps[i].min);
        EXPECT_EQ(caps.MaxFrameInterval, kCaps[i].max);
        VIDEOINFOHEADER vih;
        std::memcpy(&vih, pmt->pbFormat, sizeof(vih));
        EXPECT_EQ(vih.AvgTimePerFrame, 666666);
        DeleteMediaType(pmt);
    }
}

TEST_F(CaptureGraphTest, DeviceLeftInAnUnconvertibleFormatStreamsYuyvAndOneWithoutCannotConnect) {
    VirtualCameraConfig cfg = WebcamConfig();
    cfg.formats = {DiscreteFormat(V4L2_PIX_FMT_H264, {{1920, 1080}, {640, 480}}),
                   DiscreteFormat(V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}})};
    cfg.fourcc = V4L2_PIX_FMT_H264;
    cfg.width = 1920;
    cfg.height = 1080;
    auto cam = AddCamera(cfg);
    cfg.formats = {DiscreteFormat(V4L2_PIX_FMT_H264, {{640, 480}})};
    AddCamera(cfg);

    ASSERT_EQ(Build(0, 0, 0, false), S_OK);  // streams the nearest YUYV size, 640x480
    ASSERT_EQ(chain.control->Run(), S_OK);
    Emit(*cam, 2);
    chain.control->Stop();
    EXPECT_EQ(callback.Numbers(), (std::vector<int64_t>{0, 1}));
    chain.Release();
    EXPECT_EQ(Build(1, 0, 0, false), VFW_E_CANNOT_CONNECT);
}

TEST_F(CaptureGraphTest, NoSampleCallbackRunsAfterSetCallbackNullReturns) {
    FreeRunningCamera();
    ASSERT_EQ(Build(0, 320, 240), S_OK);
    ASSERT_EQ(chain.control->Run(), S_OK);
    for (int i = 0; i < 20; ++i) {
        const int before = callback.calls.load();
        ASSERT_TRUE(pelora_test::WaitUntil([&] { return callback.calls.load() > before; }));
        ASSERT_EQ(chain.grabber->SetCallback(nullptr, 0), S_OK);
        EXPECT_FALSE(callback.inCall.load());
        const int after = callback.calls.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(callback.calls.load(), after);
        ASSERT_EQ(chain.grabber->SetCallback(&callback, 0), S_OK);
    }
    chain.control->Stop();
}

LONGLONG Counter() {
    LARGE_INTEGER li{};
    QueryPerformanceCounter(&li);
    return li.QuadPart;
}

// A sample carries the time the camera emitted its frame, not when it was
// dequeued: frame 1 is emitted while frame 0's callback holds the thread.
TEST_F(CaptureGraphTest, CallbackSamplesCarryTheEmissionTimeOfTheirFrame) {
    auto cam = AddCamera(WebcamConfig());
    ASSERT_EQ(Build(0, 640, 480), S_OK);
    callback.holdFirstMs = 150;
    ASSERT_EQ(chain.control->Run(), S_OK);
    const LONGLONG t0 = Counter();
    cam->emitFrames(1);
    ASSERT_TRUE(pelora_test::WaitUntil([&] { return callback.inCall.load(); }));
    const LONGLONG t1Before = Counter();
    cam->emitFrames(1);
    const LONGLONG t1After = Counter();
    ASSERT_TRUE(cam->waitReturned(2, 5000));
    const LONGLONG tDone = Counter();
    EXPECT_EQ(chain.control->Stop(), S_OK);
    const std::vector<LONGLONG> times = callback.CaptureTimes();
    ASSERT_EQ(times.size(), 2u);
    EXPECT_GE(times[0], t0);
    EXPECT_LE(times[0], t1Before);
    EXPECT_GE(times[1], t1Before);
    EXPECT_LE(times[1], t1After);
    // The hold really kept frame 1 waiting (100 ns counts).
    EXPECT_GE(tDone - times[1], 100 * 10000);
}

TEST_F(CaptureGraphTest, GrabberAnswersBufferQueriesWithinTheGivenSizeAndOnlyOnceAFrameCame) {
    VirtualCameraConfig cfg = WebcamConfig();
    cfg.runReportsFalseUntilFirstFrame = true;
    auto cam = AddCamera(cfg);
    ASSERT_EQ(Build(0, 320, 240), S_OK);
    AM_MEDIA_TYPE other{};
    other.majortype = MEDIATYPE_Video;
    other.subtype = MEDIASUBTYPE_YUY2;
    EXPECT_EQ(chain.grabber->SetMediaType(&other), VFW_E_INVALIDMEDIATYPE);
    LONG size = 0;
    EXPECT_EQ(chain.grabber->GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);
    EXPECT_EQ(chain.control->Run(), S_FALSE);  // the camera says so until its first frame
    size = 320 * 240 * 3;
    std::vector<BYTE> target(static_cast<size_t>(size));
    EXPECT_EQ(chain.grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG*>(target.data())),
              VFW_E_WRONG_STATE);
    Emit(*cam, 1);
    std::vector<BYTE> small(100, 0x77);
    size = 99;
    EXPECT_EQ(chain.grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG*>(small.data())),
              E_OUTOFMEMORY);
    EXPECT_EQ(small[99], 0x77);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(chain.grabber->GetConnectedMediaType(&connected), S_OK);
    EXPECT_EQ(connected.subtype, MEDIASUBTYPE_RGB24);
    EXPECT_EQ(connected.lSampleSize, 320u * 240 * 3);
    FreeMediaType(connected);
    chain.control->Stop();
}

// RemoveFilter on a running graph returns within the bound (a frozen camera
// too); the filter gets no frame afterwards, its pins are free, only the
// test holds it, and what remains keeps running.
TEST_F(CaptureGraphTest, RemovingAFilterFromARunningGraphStopsItsConnectionsAndReleasesIt) {
    struct SCase {
        const char* name;
        int which;  // 0 source, 1 grabber, 2 renderer
        bool frozen;
        bool framesGoOn;  // the grabber still calls back afterwards
        ULONG refsLeft;   // the test's own references on the removed filter
    };
    const SCase kCases[] = {
        {"grabber", 1, false, false, 2},
        {"renderer", 2, false, true, 1},
        {"source", 0, false, false, 1},
        {"source of a frozen camera", 0, true, false, 1},
    };
    for (const SCase& c : kCases) {
        SCOPED_TRACE(c.name);
        chain.Release();
        V4l2Catalogue::clearVirtual();
        callback.calls = 0;
        auto cam = FreeRunningCamera();
        ASSERT_EQ(Build(0, 320, 240), S_OK);
        ASSERT_EQ(chain.control->Run(), S_OK);
        ASSERT_TRUE(pelora_test::WaitUntil([&] { return callback.calls.load() >= 3; }));
        if (c.frozen) cam->freeze(true);
        IBaseFilter* victim = c.which == 0   ? chain.source.Get()
                              : c.which == 1 ? chain.grabFilter.Get()
                                             : chain.renderer.Get();
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(chain.graph->RemoveFilter(victim), S_OK);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, pelora_test::kWatchdog);
        const int callsAtRemoval = callback.calls.load();

        CComRef<IEnumFilters> filters;
        ASSERT_EQ(chain.graph->EnumFilters(filters.Receive()), S_OK);
        int nLeft = 0;
        IBaseFilter* f = nullptr;
        while (filters->Next(1, &f, nullptr) == S_OK) {
            CComRef<IBaseFilter> left(f, AdoptTag);
            EXPECT_NE(left.Get(), victim);
            ++nLeft;
        }
        EXPECT_EQ(nLeft, 2);
        {
            CComRef<IEnumPins> pins;  // holds the filter while it lives
            ASSERT_EQ(victim->EnumPins(pins.Receive()), S_OK);
            IPin* pin = nullptr;
            while (pins->Next(1, &pin, nullptr) == S_OK) {
                CComRef<IPin> mine(pin, AdoptTag);
                CComRef<IPin> peer;
                EXPECT_EQ(mine->ConnectedTo(peer.Receive()), VFW_E_NOT_CONNECTED);
            }
        }
        victim->AddRef();
        EXPECT_EQ(victim->Release(), c.refsLeft);

        if (c.framesGoOn) {
            EXPECT_TRUE(pelora_test::WaitUntil(
                [&] { return callback.calls.load() >= callsAtRemoval + 3; }));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_EQ(callback.calls.load(), callsAtRemoval);
        }
        EXPECT_EQ(chain.control->Stop(), S_OK);
    }
}

TEST_F(CaptureGraphTest, HundredRunStopCyclesOfOneFilterKeepHandlesStable) {
    auto cam = AddCamera(WebcamConfig());
    ASSERT_EQ(Build(0, 320, 240), S_OK);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(chain.control->Run(), S_OK);
        Emit(*cam, 1);
        ASSERT_EQ(chain.control->Stop(), S_OK);
        ASSERT_EQ(cam->openHandles(), 1);
    }
    std::vector<int64_t> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(callback.Numbers(), expected);
    chain.Release();
    EXPECT_EQ(cam->openHandles(), 0);
}

}  // namespace
