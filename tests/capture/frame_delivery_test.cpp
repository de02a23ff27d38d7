// Frame delivery: which frame a consumer gets, the frame copy with its
// flips, buffered mode, and the frozen-device watchdog.
#include <chrono>
#include <vector>

#include "capture_fixture.h"
#include "support/fake_sample.h"

namespace {

using pelora_test::CaptureLibraryTest;
using pelora_test::WebcamConfig;
using Clock = std::chrono::steady_clock;

TEST_F(CaptureLibraryTest, ConsumerGetsTheFirstOfSeveralFramesAndWaitsBoundedForTheNext) {
    auto cam = AddCamera(WebcamConfig());
    VideoInput& vi = Lib();
    ASSERT_TRUE(vi.openDevice(0, 640, 480));
    std::vector<unsigned char> frame(static_cast<size_t>(vi.getFrameSize(0)));
    EXPECT_FALSE(vi.hasNewFrame(0));
    Emit(*cam, 3);
    EXPECT_TRUE(vi.hasNewFrame(0));
    EXPECT_TRUE(vi.hasNewFrame(0));  // polling never takes the frame
    ASSERT_TRUE(vi.GetPixels(0, frame.data(), false, false));
    EXPECT_EQ(Number(frame, 640, 480), 0);  // the two later ones were dropped
    EXPECT_FALSE(vi.hasNewFrame(0));
    const auto start = Clock::now();
    EXPECT_FALSE(vi.GetPixels(0, frame.data(), false, false));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(900));
    Emit(*cam, 1);
    ASSERT_TRUE(vi.GetPixels(0, frame.data(), false, false));
    EXPECT_EQ(Number(frame, 640, 480), 3);
}

TEST_F(CaptureLibraryTest, WrongLengthSampleIsReportedEvenQuietlyAndNotStored) {
    VideoInput::setLogging(false);
    SampleGrabberCallback callback;
    ASSERT_TRUE(callback.allocateBuffer(12));
    EXPECT_FALSE(callback.allocateBuffer(12));
    pelora_test::CFakeSample sample(12);
    sample.SetActual(11);
    EXPECT_EQ(callback.SampleCB(0.0, &sample), S_OK);
    EXPECT_EQ(Printed(), "ERROR: SampleCB() - buffer sizes do not match\n");
    uint32_t silent = 0;
    EXPECT_FALSE(callback.poll(&silent));
    sample.SetActual(12);
    callback.SampleCB(0.0, &sample);
    EXPECT_TRUE(callback.poll(&silent));
    EXPECT_EQ(silent, 0u);  // a waiting frame is not silence
}

TEST_F(CaptureLibraryTest, ConvertFrameFlipsAndSwapsIntoExactlyTheFrame) {
    // 322 wide (rows not a multiple of 4 bytes), each flag combination,
    // against a per-pixel oracle; the target is exactly the frame.
    const int w = 322, h = 3;
    std::vector<unsigned char> big(static_cast<size_t>(w * h * 3));
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i * 7 + 1);
    for (int flags = 0; flags < 4; ++flags) {
        const bool swap = flags & 1, flip = flags & 2;
        std::vector<unsigned char> out(big.size());
        VideoInput::convertFrame(big.data(), out.data(), w, h, swap, flip);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                for (int c = 0; c < 3; ++c) {
                    const int sy = flip ? h - 1 - y : y, sc = swap ? 2 - c : c;
                    ASSERT_EQ(out[static_cast<size_t>((y * w + x) * 3 + c)],
                              big[static_cast<size_t>((sy * w + x) * 3 + sc)])
                        << flags << " " << x << "," << y;
                }
            }
        }
    }
}

TEST_F(CaptureLibraryTest, BufferedModeCopiesTheLatestFrameAndAlwaysAnnouncesOne) {
    auto cam = AddCamera(WebcamConfig());
    VideoInput& vi = Lib();
    vi.setUseCallback(false);
    vi.setUseCallback(true);  // too late: one call only
    EXPECT_EQ(Count("ERROR: setUseCallback can only be called before setup\n"), 1u);
    ASSERT_TRUE(vi.openDevice(0, 320, 240));
    std::vector<unsigned char> frame(320 * 240 * 3);
    EXPECT_TRUE(vi.hasNewFrame(0));
    EXPECT_FALSE(vi.GetPixels(0, frame.data(), false, false));
    EXPECT_EQ(Count("ERROR: GetPixels() - Unable to grab frame for device 0\n"), 1u);
    Emit(*cam, 3);
    EXPECT_TRUE(vi.hasNewFrame(0));
    ASSERT_TRUE(vi.GetPixels(0, frame.data(), false, false));
    EXPECT_EQ(Number(frame, 320, 240), 2);
}

TEST_F(CaptureLibraryTest, BufferedOpenWhoseRunNeverSettlesReturnsAfterTheBoundedWait) {
    VirtualCameraConfig cfg = WebcamConfig();
    cfg.runReportsFalseUntilFirstFrame = true;
    AddCamera(cfg);  // manual timing: no frame ever comes
    VideoInput& vi = Lib();
    vi.setUseCallback(false);
    ASSERT_TRUE(vi.openDevice(0, 640, 480));  // returns (after about 5 s), open
    std::vector<unsigned char> frame(640 * 480 * 3);
    EXPECT_FALSE(vi.GetPixels(0, frame.data(), false, false));
}

class WatchdogTest : public CaptureLibraryTest {
protected:
    void OpenPolled(VideoInput& vi, bool recovery) {
        vi.setFreezeRecovery(0, recovery, 10);
        ASSERT_TRUE(vi.openDevice(0, 320, 240));
        // More than 400 polls of this record, none of them frozen yet.
        for (int i = 0; i < 401; ++i) vi.hasNewFrame(0);
    }
    static constexpr const char* kFrozen = "ERROR: Device seems frozen - attempting to reconnect\n";
};

TEST_F(WatchdogTest, EleventhSilentPollAfterTheLastFrameReopens) {
    auto cam = AddCamera(WebcamConfig());
    VideoInput& vi = Lib();
    OpenPolled(vi, true);
    EXPECT_EQ(Count(kFrozen), 0u);
    Emit(*cam, 1);
    std::vector<unsigned char> frame(320 * 240 * 3);
    ASSERT_TRUE(vi.GetPixels(0, frame.data(), false, false));
    for (int i = 0; i < 10; ++i) EXPECT_FALSE(vi.hasNewFrame(0));
    EXPECT_EQ(Count(kFrozen), 0u);
    EXPECT_FALSE(vi.hasNewFrame(0));  // the 11th
    EXPECT_EQ(Count(kFrozen), 1u);
    EXPECT_EQ(Count("SUCCESS: Able to reconnect to device\n"), 1u);
    EXPECT_TRUE(vi.isDeviceOpen(0));
    EXPECT_EQ(vi.getFrameWidth(0), 320);
    Emit(*cam, 1);  // the reopened device delivers again
    ASSERT_TRUE(vi.GetPixels(0, frame.data(), false, false));
}

TEST_F(WatchdogTest, WaitingFrameIsNotSilenceAndRecoveryOffNeverReopens) {
    auto cam = AddCamera(WebcamConfig());
    VideoInput& vi = Lib();
    OpenPolled(vi, true);
    Emit(*cam, 1);
    for (int i = 0; i < 50; ++i) EXPECT_TRUE(vi.hasNewFrame(0));
    EXPECT_EQ(Count(kFrozen), 0u);

    vi.closeDevice(0);
    OpenPolled(vi, false);
    for (int i = 0; i < 500; ++i) EXPECT_FALSE(vi.hasNewFrame(0));
    EXPECT_EQ(Count(kFrozen), 0u);
}

TEST_F(WatchdogTest, UnpluggedDeviceFailsToReopenAndIsLeftClosed) {
    auto cam = AddCamera(WebcamConfig());
    VideoInput& vi = Lib();
    OpenPolled(vi, true);
    cam->unplug();
    EXPECT_FALSE(vi.hasNewFrame(0));  // poll 402 finds 401 silent polls
    EXPECT_EQ(Count(kFrozen), 1u);
    EXPECT_EQ(Count("ERROR: Unable to reconnect to device\n"), 1u);
    EXPECT_FALSE(vi.isDeviceOpen(0));
    EXPECT_EQ(cam->openHandles(), 0);
}

}  // namespace
