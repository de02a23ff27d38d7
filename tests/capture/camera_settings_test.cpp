// Settings of an open camera: percentages snapped to the control's step,
// refusals, the crossbar input chosen by connection code, and the analog
// standard carried over a reopen.
#include <cmath>
#include <vector>

#include "capture_fixture.h"

namespace {

using pelora_test::CaptureLibraryTest;
using pelora_test::Control;
using pelora_test::DiscreteFormat;
using pelora_test::WebcamConfig;

class CameraSettingsTest : public CaptureLibraryTest {
protected:
    std::shared_ptr<VirtualV4l2Device> OpenWithControls() {
        VirtualCameraConfig c = WebcamConfig();
        VirtualControl saturation = Control(V4L2_CID_SATURATION, 0, 100, 1, 50);
        saturation.setFails = true;
        c.controls = {Control(V4L2_CID_BRIGHTNESS, 0, 255, 1, 128),
                      Control(V4L2_CID_CONTRAST, 0, 100, 10, 50),
                      Control(V4L2_CID_HUE, -10, 10, 5, 0),
                      Control(V4L2_CID_SHARPNESS, 0, 1, 1, 0),
                      Control(V4L2_CID_GAMMA, 0, 255, 10, 100),
                      saturation,
                      Control(V4L2_CID_GAIN, 0, 255, 1, 32, V4L2_CID_AUTOGAIN),
                      Control(V4L2_CID_AUTOGAIN, 0, 1, 1, 1, 0, V4L2_CTRL_TYPE_BOOLEAN),
                      Control(V4L2_CID_ZOOM_ABSOLUTE, 100, 356, 4, 100)};
        auto cam = AddCamera(c);
        EXPECT_TRUE(Lib().openDevice(0, 320, 240));
        return cam;
    }
};

TEST_F(CameraSettingsTest, PercentagesSnapToTheStepWithinTheRange) {
    auto cam = OpenWithControls();
    VideoInput& vi = Lib();
    struct Case {
        LONG property;
        uint32_t cid;
        float pct;
        int32_t expected;
    } cases[] = {
        {vi.idBrightness, V4L2_CID_BRIGHTNESS, 0.5f, 127},
        {vi.idContrast, V4L2_CID_CONTRAST, 0.37f, 40},
        {vi.idContrast, V4L2_CID_CONTRAST, 0.34f, 30},
        {vi.idContrast, V4L2_CID_CONTRAST, 1.7f, 100},
        {vi.idContrast, V4L2_CID_CONTRAST, -0.2f, 0},
        {vi.idHue, V4L2_CID_HUE, 0.28f, 0},  // toward zero, not the nearer -5
        {vi.idSharpness, V4L2_CID_SHARPNESS, 0.49f, 0},
        {vi.idSharpness, V4L2_CID_SHARPNESS, 0.5f, 1},
        {vi.idGamma, V4L2_CID_GAMMA, 1.0f, 250},  // 260 would be past the maximum
    };
    for (const Case& c : cases) {
        ClearPrinted();
        EXPECT_TRUE(vi.setProcAmpSettingPct(0, c.property, c.pct, 2)) << c.pct;
        EXPECT_EQ(cam->controlValue(c.cid), c.expected) << c.property << " at " << c.pct;
    }
    EXPECT_EQ(Count("rasterValue is 250\n"), 1u);  // the line shows the value set
    EXPECT_TRUE(vi.setCameraSettingPct(0, vi.idZoom, 6.0f / 256, 2));  // 106: mod 2 is half a step
    EXPECT_EQ(cam->controlValue(V4L2_CID_ZOOM_ABSOLUTE), 108);
    EXPECT_FALSE(vi.setProcAmpSettingPct(0, vi.idContrast, std::nanf(""), 2));
    EXPECT_EQ(cam->controlValue(V4L2_CID_CONTRAST), 0);  // unchanged
}

TEST_F(CameraSettingsTest, GetterAndSetterAnswerHonestlyForMissingOrRefusedControls) {
    auto cam = OpenWithControls();
    VideoInput& vi = Lib();
    LONG min = -7, max = -7, step = -7, cur = -7, flags = -7, def = -7;
    EXPECT_FALSE(vi.getProcAmpSetting(0, vi.idColorEnable, min, max, step, cur, flags, def));
    EXPECT_EQ(min + max + step + cur + flags + def, -42);                 // untouched
    EXPECT_FALSE(vi.setProcAmpSetting(0, vi.idColorEnable, 1, 2, true));  // no default to set
    EXPECT_FALSE(vi.setProcAmpSettingPct(0, vi.idColorEnable, 0.5f, 2));
    ASSERT_TRUE(vi.getProcAmpSetting(0, vi.idGain, min, max, step, cur, flags, def));
    EXPECT_EQ(std::vector<LONG>({min, max, step, cur, flags, def}),
              std::vector<LONG>({0, 255, 1, 32, 1, 32}));  // auto gain on
    // A refused value still answers true, with one line saying so.
    ClearPrinted();
    EXPECT_TRUE(vi.setProcAmpSetting(0, vi.idSaturation, 70, 2, false));
    EXPECT_EQ(cam->controlValue(V4L2_CID_SATURATION), 50);
    EXPECT_EQ(Count("refused"), 1u);
    VideoInput::setLogging(false);
    ClearPrinted();
    EXPECT_TRUE(vi.setProcAmpSetting(0, vi.idSaturation, 70, 2, false));
    EXPECT_EQ(Printed(), "");
}

VirtualCameraConfig CaptureCard(bool svideoFirst) {
    VirtualCameraConfig c = WebcamConfig("Capture Card");
    c.formats = {DiscreteFormat(V4L2_PIX_FMT_YUYV, {{720, 480}, {720, 576}})};
    c.width = 720, c.height = 480;
    VirtualInput composite, svideo;
    composite.name = "Composite";
    svideo.name = "S-Video";
    for (VirtualInput* in : {&composite, &svideo}) {
        in->std = V4L2_STD_NTSC_M | V4L2_STD_PAL_M;  // 525 lines: one frame size
        in->capStd = true;
    }
    c.inputs = svideoFirst ? std::vector<VirtualInput>{svideo, composite}
                           : std::vector<VirtualInput>{composite, svideo};
    c.stdChangesSize = true;
    return c;
}

TEST_F(CameraSettingsTest, ConnectionCodeRoutesTheCrossbarAndWebcamsSaySoAndGoOn) {
    AddCamera(WebcamConfig());
    auto card = AddCamera(CaptureCard(false));
    VideoInput& vi = Lib();
    EXPECT_TRUE(vi.openDevice(0, 640, 480, 1));
    EXPECT_EQ(Count("SETUP: You are a webcam or snazzy firewire cam! No Crossbar needed\n"), 1u);
    EXPECT_TRUE(vi.openDevice(1, 720, 480, 1));  // S-Video
    EXPECT_EQ(Count("SETUP: Found Physical Interface - S-Video\n"), 1u);
    EXPECT_EQ(DriverInput(*card), 1);
    EXPECT_FALSE(vi.setAnalogStandard(0, 0));  // a webcam has no decoder
    EXPECT_EQ(Count("SETUP: couldn't set requested format\n"), 1u);
}

TEST_F(CameraSettingsTest, ReopenKeepsTheCardsInputAndStandard) {
    auto card = AddCamera(CaptureCard(true));  // runs on its default S-Video input
    VideoInput& vi = Lib();
    ASSERT_TRUE(vi.openDevice(0, 720, 480));
    EXPECT_FALSE(vi.setAnalogStandard(0, 18));
    EXPECT_TRUE(vi.setAnalogStandard(0, 6));  // PAL_M, while streaming
    ASSERT_TRUE(vi.reopenDevice(0));
    EXPECT_EQ(DriverInput(*card), 0);  // no connection was asked: left alone
    int err = 0;
    auto io = card->open(&err);
    ASSERT_TRUE(io);
    v4l2_std_id standard = 0;
    ASSERT_EQ(io->ioctl(VIDIOC_G_STD, &standard), 0);
    EXPECT_EQ(standard, V4L2_STD_PAL_M);
    Emit(*card, 1);
    std::vector<unsigned char> frame(720 * 480 * 3);
    EXPECT_TRUE(vi.GetPixels(0, frame.data(), frame.size(), false, false));
}

}  // namespace
