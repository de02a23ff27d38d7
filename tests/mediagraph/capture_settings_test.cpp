// Camera settings through the capture filter: properties over V4L2 controls,
// the crossbar over the inputs, the standard changed while another streams.
#include <gtest/gtest.h>

#include <vector>

#include "mediagraph/media_classes.h"
#include "mediagraph/preview_chain.h"
#include "platform/com/com_ref.h"
#include "platform/com/com_runtime.h"
#include "platform/media/capture_interfaces.h"
#include "platform/v4l2/v4l2_catalogue.h"
#include "support/live_objects.h"
#include "support/virtual_cameras.h"
#include "support/watchdog.h"

namespace {

using pelora_test::AddCamera;
using pelora_test::Control;
using pelora_test::DiscreteFormat;
using pelora_test::WebcamConfig;

class CaptureSettingsTest : public pelora_test::LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        ASSERT_EQ(RegisterMediaClasses(), S_OK);
        CoInitialize(nullptr);
    }
    void TearDown() override {
        V4l2Catalogue::clearVirtual();
        CoUninitialize();
        LiveObjectsTest::TearDown();
    }
    template <class T>
    static CComRef<T> Find(const GUID* pCategory, const GUID* pType, IBaseFilter* pFilter,
                           REFIID iid) {
        CComRef<ICaptureGraphBuilder2> builder;
        CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                         IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(builder.Receive()));
        CComRef<T> p;
        builder->FindInterface(pCategory, pType, pFilter, iid,
                               reinterpret_cast<void**>(p.Receive()));
        return p;
    }
};

TEST_F(CaptureSettingsTest, PropertiesMapToControlsWithTheirAutomaticCompanions) {
    VirtualCameraConfig cfg = WebcamConfig();
    VirtualControl contrast = Control(V4L2_CID_CONTRAST, 0, 100, 1, 50);
    contrast.setFails = true;
    contrast.setErrno = EBUSY;
    VirtualControl sharpness = Control(V4L2_CID_SHARPNESS, 0, 7, 1, 3);
    sharpness.disabled = true;
    cfg.controls = {
        Control(V4L2_CID_BRIGHTNESS, -64, 64, 1, 0),
        contrast,
        sharpness,
        Control(V4L2_CID_GAIN, 0, 255, 1, 32, V4L2_CID_AUTOGAIN),
        Control(V4L2_CID_AUTOGAIN, 0, 1, 1, 1, 0, V4L2_CTRL_TYPE_BOOLEAN),
        Control(V4L2_CID_EXPOSURE_ABSOLUTE, 3, 2047, 1, 250, V4L2_CID_EXPOSURE_AUTO),
        Control(V4L2_CID_EXPOSURE_AUTO, 0, 3, 1, V4L2_EXPOSURE_APERTURE_PRIORITY, 0,
                V4L2_CTRL_TYPE_MENU),
        Control(V4L2_CID_FOCUS_ABSOLUTE, 0, 250, 1, 0),
    };
    auto cam = AddCamera(cfg);
    CComRef<IBaseFilter> filter = BindVideoInputDevice(0);
    ASSERT_TRUE(filter);
    CComRef<IAMVideoProcAmp> amp;
    ASSERT_EQ(filter->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(amp.Receive())),
              S_OK);
    CComRef<IAMCameraControl> cc;
    ASSERT_EQ(filter->QueryInterface(IID_IAMCameraControl, reinterpret_cast<void**>(cc.Receive())),
              S_OK);

    LONG lo = 0, hi = 0, step = 0, def = 0, caps = 0;
    const auto range = [&](LONG prop) {  // min, max, default, flags
        EXPECT_EQ(amp->GetRange(prop, &lo, &hi, &step, &def, &caps), S_OK) << prop;
        return std::vector<LONG>{lo, hi, def, caps};
    };
    EXPECT_EQ(range(VideoProcAmp_Brightness), (std::vector<LONG>{-64, 64, 0, 2}));
    EXPECT_EQ(range(VideoProcAmp_Gain), (std::vector<LONG>{0, 255, 32, 3}));
    // Disabled, missing, unmapped, unknown.
    const LONG kUnsupported[] = {VideoProcAmp_Sharpness, VideoProcAmp_Saturation,
                                 VideoProcAmp_ColorEnable, 42};
    for (LONG prop : kUnsupported) {
        EXPECT_EQ(amp->GetRange(prop, &lo, &hi, &step, &def, &caps), E_PROP_ID_UNSUPPORTED) << prop;
    }
    LONG v = 0, flags = 0;
    // Gain starts automatic; a manual value turns the companion off first
    // (the driver refuses the value while it is on).
    ASSERT_EQ(amp->Get(VideoProcAmp_Gain, &v, &flags), S_OK);
    EXPECT_EQ(flags, 1);
    EXPECT_EQ(amp->Set(VideoProcAmp_Gain, 77, 2), S_OK);
    EXPECT_EQ(cam->controlValue(V4L2_CID_AUTOGAIN), 0);
    ASSERT_EQ(amp->Get(VideoProcAmp_Gain, &v, &flags), S_OK);
    EXPECT_EQ(v, 77);
    EXPECT_EQ(flags, 2);
    // Automatic again: the companion goes on, the value is not written.
    EXPECT_EQ(amp->Set(VideoProcAmp_Gain, 5, 1), S_OK);
    EXPECT_EQ(cam->controlValue(V4L2_CID_AUTOGAIN), 1);
    EXPECT_EQ(cam->controlValue(V4L2_CID_GAIN), 77);
    // No companion: "automatic" still writes the value.
    EXPECT_EQ(amp->Set(VideoProcAmp_Brightness, -10, 1), S_OK);
    EXPECT_EQ(cam->controlValue(V4L2_CID_BRIGHTNESS), -10);
    // Driver refusals.
    EXPECT_EQ(amp->Set(VideoProcAmp_Contrast, 10, 2), E_FAIL);
    EXPECT_EQ(amp->Set(VideoProcAmp_Brightness, 1000, 2), E_FAIL);  // ERANGE

    // Exposure through the EXPOSURE_AUTO menu.
    ASSERT_EQ(cc->Get(CameraControl_Exposure, &v, &flags), S_OK);
    EXPECT_EQ(flags, 1);
    EXPECT_EQ(cc->Set(CameraControl_Exposure, 500, 2), S_OK);
    EXPECT_EQ(cam->controlValue(V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_MANUAL);
    EXPECT_EQ(cam->controlValue(V4L2_CID_EXPOSURE_ABSOLUTE), 500);
    EXPECT_EQ(cc->Set(CameraControl_Exposure, 0, 1), S_OK);
    EXPECT_EQ(cam->controlValue(V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_AUTO);
    EXPECT_EQ(cc->GetRange(CameraControl_Roll, &lo, &hi, &step, &def, &caps),
              E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(cc->GetRange(CameraControl_Focus, &lo, &hi, &step, &def, &caps), S_OK);
    EXPECT_EQ(caps, 2);
}

TEST_F(CaptureSettingsTest, InterfacesAreOfferedOnlyWhenTheDeviceHasWhatTheyControl) {
    AddCamera(WebcamConfig());  // no controls, one input
    CComRef<IBaseFilter> filter = BindVideoInputDevice(0);
    ASSERT_TRUE(filter);
    for (const IID* iid : {&IID_IAMVideoProcAmp, &IID_IAMCameraControl, &IID_IAMCrossbar,
                           &IID_IAMAnalogVideoDecoder, &IID_ISpecifyPropertyPages}) {
        CComRef<IUnknown> p;
        EXPECT_EQ(filter->QueryInterface(*iid, reinterpret_cast<void**>(p.Receive())),
                  E_NOINTERFACE);
    }
    EXPECT_FALSE(Find<IAMCrossbar>(&LOOK_UPSTREAM_ONLY, nullptr, filter.Get(), IID_IAMCrossbar));
}

TEST_F(CaptureSettingsTest, CrossbarRoutesInputsOnlyWhileStopped) {
    VirtualCameraConfig cfg = WebcamConfig();
    VirtualInput tuner, composite, svideo;
    tuner.name = "Television", tuner.type = V4L2_INPUT_TYPE_TUNER;
    composite.name = "Composite 1";
    svideo.name = "S-VIDEO";
    cfg.inputs = {tuner, composite, svideo};
    AddCamera(cfg);
    CComRef<IBaseFilter> filter = BindVideoInputDevice(0);
    ASSERT_TRUE(filter);
    EXPECT_TRUE(Find<IAMCrossbar>(&LOOK_UPSTREAM_ONLY, nullptr, filter.Get(), IID_IAMCrossbar));
    EXPECT_FALSE(Find<IAMCrossbar>(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, filter.Get(),
                                   IID_IAMCrossbar));
    auto xbar =
        Find<IAMCrossbar>(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, filter.Get(), IID_IAMCrossbar);
    ASSERT_TRUE(xbar);
    LONG outs = 0, ins = 0;
    ASSERT_EQ(xbar->get_PinCounts(&outs, &ins), S_OK);
    EXPECT_EQ(outs, 1);
    EXPECT_EQ(ins, 3);
    const LONG expected[] = {PhysConn_Video_Tuner, PhysConn_Video_Composite, PhysConn_Video_SVideo};
    for (LONG i = 0; i < 3; ++i) {
        LONG related = -1, type = 0;
        ASSERT_EQ(xbar->get_CrossbarPinInfo(TRUE, i, &related, &type), S_OK);
        EXPECT_EQ(type, expected[i]);
    }
    LONG related = -1, type = 0;
    ASSERT_EQ(xbar->get_CrossbarPinInfo(FALSE, 0, &related, &type), S_OK);
    EXPECT_EQ(type, PhysConn_Video_VideoDecoder);
    EXPECT_EQ(xbar->Route(0, 2), S_OK);
    EXPECT_EQ(xbar->get_IsRoutedTo(0, &related), S_OK);
    EXPECT_EQ(related, 2);
    EXPECT_EQ(xbar->Route(0, 3), E_INVALIDARG);
}

TEST_F(CaptureSettingsTest, StandardSetFromASecondFilterRestartsTheStreamOrIsRefused) {
    VirtualCameraConfig cfg = WebcamConfig();
    cfg.formats = {DiscreteFormat(V4L2_PIX_FMT_YUYV, {{720, 480}, {720, 576}})};
    cfg.width = 720;
    cfg.height = 480;
    VirtualInput tv;
    tv.name = "Composite";
    tv.std = V4L2_STD_NTSC_M | V4L2_STD_NTSC_M_JP | V4L2_STD_PAL_B;
    tv.capStd = true;
    cfg.inputs = {tv};
    cfg.stdChangesSize = true;
    auto cam = AddCamera(cfg);

    SPreviewChain chain;
    ASSERT_EQ(chain.Build(BindVideoInputDevice(0).Get(), nullptr, &PIN_CATEGORY_CAPTURE), S_OK);
    ASSERT_EQ(chain.control->Run(), S_OK);
    uint64_t handed = cam->returned();
    cam->emitFrames(1);
    ASSERT_TRUE(cam->waitReturned(++handed, 5000));

    {
        CComRef<IBaseFilter> settings = BindVideoInputDevice(0);
        auto decoder = Find<IAMAnalogVideoDecoder>(nullptr, &MEDIATYPE_Video, settings.Get(),
                                                   IID_IAMAnalogVideoDecoder);
        ASSERT_TRUE(decoder);
        LONG mask = 0;
        ASSERT_EQ(decoder->get_AvailableTVFormats(&mask), S_OK);
        EXPECT_EQ(mask, AnalogVideo_NTSC_M | AnalogVideo_NTSC_M_J | AnalogVideo_PAL_B);
        EXPECT_EQ(decoder->put_TVFormat(AnalogVideo_NTSC_M_J), S_OK);
        LONG now = 0;
        EXPECT_EQ(decoder->get_TVFormat(&now), S_OK);
        EXPECT_EQ(now, AnalogVideo_NTSC_M_J);
        EXPECT_EQ(decoder->put_TVFormat(AnalogVideo_PAL_B), E_FAIL);  // 576 rows: refused
        EXPECT_EQ(decoder->get_TVFormat(&now), S_OK);
        EXPECT_EQ(now, AnalogVideo_NTSC_M_J);
    }  // releasing the settings filter does not stop the stream
    cam->emitFrames(1);
    EXPECT_TRUE(cam->waitReturned(++handed, 5000));
    EXPECT_TRUE(cam->streaming());
    EXPECT_EQ(chain.control->Stop(), S_OK);
    EXPECT_FALSE(cam->streaming());
    chain.Release();
}

}  // namespace
