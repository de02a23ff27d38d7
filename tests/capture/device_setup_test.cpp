// Opening devices: listing and index rules, format negotiation on drivers
// that adjust sizes, and clean-up after a failed set-up.
#include <climits>
#include <vector>

#include "capture/capture_format.h"
#include "capture_fixture.h"
#include "support/process_threads.h"

namespace {

using pelora_test::CaptureLibraryTest;
using pelora_test::DiscreteFormat;
using pelora_test::SteppedFormat;
using pelora_test::ThreadCount;
using pelora_test::ThreadNames;
using pelora_test::WebcamConfig;

TEST_F(CaptureLibraryTest, TwentyFiveDevicesAreCountedButOnlyTwentyNamedOrAddressed) {
    for (int i = 0; i < 25; ++i) AddCamera(WebcamConfig("Cam " + std::to_string(i)));
    VideoInput& vi = Lib();
    EXPECT_EQ(VideoInput::enumerateDevices(true), 25);
    EXPECT_STREQ(VideoInput::getFriendlyName(19), "Cam 19");
    EXPECT_EQ(VideoInput::getFriendlyName(20), nullptr);
    EXPECT_EQ(VideoInput::getFriendlyName(-1), nullptr);
    EXPECT_FALSE(vi.openDevice(20));
    ASSERT_TRUE(vi.openDevice(0, 320, 240));  // device count is now 25
    std::vector<int> ints;
    std::vector<std::string> names;
    std::vector<unsigned char> frame(320 * 240 * 3);
    LONG a = 0, b = 0, c = 0, d = 0, e = 0, f = 0;
    for (int index : {-1, 20, 24}) {
        EXPECT_FALSE(vi.isDeviceOpen(index));
        EXPECT_EQ(vi.getFrameWidth(index) | vi.getFrameHeight(index) | vi.getFrameSize(index), 0);
        EXPECT_FALSE(vi.hasNewFrame(index));
        EXPECT_FALSE(vi.GetPixels(index, frame.data(), false, false));
        EXPECT_EQ(vi.getPixelBuffer(index, false, false), nullptr);
        EXPECT_EQ(vi.getFormatCount(index), -1);
        EXPECT_FALSE(vi.getFormatWidths(index, ints) || vi.getFormatHeights(index, ints) ||
                     vi.getFormatNames(index, names));
        EXPECT_FALSE(vi.getProcAmpSetting(index, vi.idBrightness, a, b, c, d, e, f));
        EXPECT_FALSE(vi.setCameraSetting(index, vi.idZoom, 1, 2, false));
        EXPECT_FALSE(vi.setAnalogStandard(index, 0));
        vi.closeDevice(index);
        vi.setFrameRate(index, 30);
        vi.setFreezeRecovery(index, true, 5);
    }
    EXPECT_TRUE(vi.isDeviceOpen(0));
}

TEST_F(CaptureLibraryTest, OpeningBeyondTheDevicesSaysWhichIsTheLast) {
    AddCamera(WebcamConfig("A"));
    AddCamera(WebcamConfig("B"));
    VideoInput& vi = Lib();
    EXPECT_FALSE(vi.openDevice(3));
    EXPECT_EQ(Count("SETUP: device[3] not found - you have 2 devices available\n"
                    "SETUP: this means that the last device you can use is device[1] \n"),
              1u);
    EXPECT_TRUE(vi.openDevice(1));  // a fresh library's first open
    EXPECT_FALSE(vi.openDevice(1));
}

TEST_F(CaptureLibraryTest, NameAndDeviceAgreeWhenAPropertyBagCannotBeBound) {
    VirtualCameraConfig broken = WebcamConfig("Broken");
    broken.propertyBagFails = true;
    AddCamera(broken);
    AddCamera(WebcamConfig("First Good"));
    VirtualCameraConfig nameless = WebcamConfig("Nameless");
    nameless.nameReadFails = true;
    AddCamera(nameless);
    VideoInput& vi = Lib();
    EXPECT_EQ(VideoInput::enumerateDevices(false), 2);
    EXPECT_STREQ(VideoInput::getFriendlyName(0), "First Good");
    ASSERT_TRUE(vi.openDevice(0));
    EXPECT_EQ(Count("SETUP: First Good\n"), 1u);  // the device named 0 is opened as 0
    EXPECT_TRUE(vi.openDevice(1));                // counted although unnamed
}

TEST(NearestOnGrid, EmptyGridsAreRefusedAndLargeGridsDoNotOverflow) {
    struct Case {
        int64_t want, min, max, step;
        bool ok;
        int64_t nearest;
    } cases[] = {
        {700, 320, 1280, 160, true, 640},  // 60 beats 100
        {560, 320, 1280, 160, true, 480},  // equally close: the smaller
        {5000, 320, 1280, 160, true, 1280},
        {10, 320, 1280, 160, true, 320},
        {1300, 320, 1250, 160, true, 1120},  // the last grid value, not max
        {700, 1280, 320, 160, false, 0},
        {700, 320, 1280, 0, false, 0},
        {700, 320, 1280, -16, false, 0},
        {INT_MAX, 0, INT_MAX, INT_MAX, true, INT_MAX},
        {INT_MAX - 1, INT_MIN, INT_MAX, 1, true, INT_MAX - 1},
    };
    for (const Case& c : cases) {
        int64_t nearest = 0;
        EXPECT_EQ(nearestOnGrid(c.want, c.min, c.max, c.step, &nearest), c.ok) << c.want;
        if (c.ok) {
            EXPECT_EQ(nearest, c.nearest) << c.want << " " << c.min << ".." << c.max;
        }
    }
}

TEST_F(CaptureLibraryTest, NegotiatedSizeIsWhatThePinDelivers) {
    const auto camera = [](std::vector<VirtualFormat> formats, uint32_t w, uint32_t h) {
        VirtualCameraConfig c = WebcamConfig();
        if (!formats.empty()) c.formats = std::move(formats);
        c.width = w, c.height = h;
        return c;
    };
    VirtualCameraConfig oddCaps = camera({}, 320, 240);
    oddCaps.capsRecordSize = 120;  // no capability list to search
    struct {
        const char* what;
        VirtualCameraConfig cfg;
        int askW, askH, gotW, gotH;
        const char* closestLine;  // or null
    } cases[] = {
        {"adjusting driver", camera({}, 640, 480), 800, 600, 640, 480,
         "SETUP: closest supported size is YUY2 @ 640 480\n"},
        {"stepwise",
         camera({SteppedFormat(V4L2_PIX_FMT_YUYV, V4L2_FRMSIZE_TYPE_STEPWISE, 320, 1280, 160, 240,
                               720, 120)},
                320, 240),
         700, 500, 640, 480, "SETUP: closest supported size is YUY2 @ 640 480\n"},
        {"exact only in MJPG",
         camera({DiscreteFormat(V4L2_PIX_FMT_YUYV, {{320, 240}}),
                 DiscreteFormat(V4L2_PIX_FMT_MJPEG, {{640, 480}})},
                320, 240),
         640, 480, 640, 480, "SETUP: closest supported size is OTHER @ 640 480\n"},
        {"equal distance",
         camera({DiscreteFormat(V4L2_PIX_FMT_YUYV, {{600, 480}}),
                 DiscreteFormat(V4L2_PIX_FMT_MJPEG, {{680, 480}})},
                600, 480),
         640, 480, 600, 480, "SETUP: closest supported size is YUY2 @ 600 480\n"},
        {"odd caps record", oddCaps, 800, 600, 320, 240, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto cam = AddCamera(c.cfg);
        VideoInput& vi = Lib();
        vi.setFrameRate(0, 15);  // the default path then sets the rate too
        ClearPrinted();
        ASSERT_TRUE(vi.openDevice(0, c.askW, c.askH));
        EXPECT_EQ(vi.getFrameWidth(0), c.gotW);
        EXPECT_EQ(vi.getFrameHeight(0), c.gotH);
        if (c.closestLine) {
            EXPECT_EQ(Count(c.closestLine), 1u) << Printed();
        }
        Emit(*cam, 1);
        std::vector<unsigned char> frame(static_cast<size_t>(c.gotW * c.gotH * 3));
        ASSERT_TRUE(vi.GetPixels(0, frame.data(), frame.size(), false, false));
        EXPECT_EQ(Number(frame, c.gotW, c.gotH), 0);
        EXPECT_EQ(Count("buffer sizes do not match"), 0u);
        if (c.cfg.capsRecordSize != 128) {
            EXPECT_EQ(vi.getFormatCount(0), 0);
        }
        DestroyLib();
        V4l2Catalogue::clearVirtual();
    }
}

TEST_F(CaptureLibraryTest, FormatListsNameEveryCapabilityInPinOrder) {
    VirtualCameraConfig c = WebcamConfig();
    c.formats.push_back(SteppedFormat(V4L2_PIX_FMT_GREY, V4L2_FRMSIZE_TYPE_STEPWISE, 160, 320, 0,
                                      120, 240, 0));  // no grid: listed, never chosen
    AddCamera(c);
    VideoInput& vi = Lib();
    ASSERT_TRUE(vi.openDevice(0, 1000, 1000));
    std::vector<int> w, h;
    std::vector<std::string> names;
    ASSERT_TRUE(vi.getFormatWidths(0, w) && vi.getFormatHeights(0, h) &&
                vi.getFormatNames(0, names));
    EXPECT_EQ(w, (std::vector<int>{640, 320, 640, 320}));
    EXPECT_EQ(h, (std::vector<int>{480, 240, 480, 240}));
    EXPECT_EQ(names, (std::vector<std::string>{"YUY2", "YUY2", "OTHER", "Y800"}));
    EXPECT_EQ(vi.getFrameWidth(0), 640);
}

TEST_F(CaptureLibraryTest, InvalidRequestedSizesFailBeforeAnySetUp) {
    auto cam = AddCamera(WebcamConfig());
    VideoInput& vi = Lib();
    for (auto [w, h] : {std::pair{0, 480}, {640, -1}, {16385, 480}, {640, INT_MAX}}) {
        ClearPrinted();
        EXPECT_FALSE(vi.openDevice(0, w, h, 0));
        EXPECT_EQ(Printed(), "ERROR: invalid frame size " + std::to_string(w) + " x " +
                                 std::to_string(h) + "\n");
    }
    EXPECT_EQ(cam->openHandles(), 0);
}

TEST_F(CaptureLibraryTest, FailedSetUpLeavesAFreshSlotAndNothingRunning) {
    VirtualCameraConfig compressed = WebcamConfig("H264 only");
    compressed.formats = {DiscreteFormat(V4L2_PIX_FMT_H264, {{640, 480}})};
    compressed.fourcc = V4L2_PIX_FMT_H264;
    VirtualCameraConfig noStream = WebcamConfig("No STREAMON");
    noStream.streamOnFails = true;
    auto cams = {AddCamera(compressed), AddCamera(noStream), AddCamera(WebcamConfig())};
    VideoInput& vi = Lib();
    const int threads = ThreadCount();
    EXPECT_FALSE(vi.openDevice(0, 640, 480));
    EXPECT_FALSE(vi.openDevice(1, 640, 480));
    ASSERT_EQ(CoUnregisterInprocClass(CLSID_NullRenderer), S_OK);
    EXPECT_FALSE(vi.openDevice(2, 640, 480));
    EXPECT_EQ(Count("ERROR: Could not create filter - NullRenderer\n"), 1u);
    ASSERT_EQ(RegisterMediaClasses(), S_OK);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(vi.isDeviceOpen(i));
        EXPECT_EQ(vi.getFormatCount(i), -1);
    }
    for (const auto& cam : cams) EXPECT_EQ(cam->openHandles(), 0);
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_TRUE(vi.openDevice(2, 640, 480));

    // A first run with a frame may start threads that stay for the process
    // (the thread sanitizer's own background thread): count from after it.
    auto& cam = *std::data(cams)[2];
    std::vector<unsigned char> frame(640 * 480 * 3);
    Emit(cam, 1);
    EXPECT_TRUE(vi.GetPixels(2, frame.data(), false, false));
    vi.closeDevice(2);
    const int settled = ThreadCount();
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(vi.openDevice(2, 320, 240));
        if (i == 99) break;
        vi.closeDevice(2);
        ASSERT_EQ(cam.openHandles(), 0);
    }
    Emit(cam, 1);
    frame.resize(320 * 240 * 3);
    EXPECT_TRUE(vi.GetPixels(2, frame.data(), false, false));
    vi.closeDevice(2);
    EXPECT_EQ(cam.openHandles(), 0);
    EXPECT_EQ(ThreadCount(), settled) << ThreadNames();
}

}  // namespace
