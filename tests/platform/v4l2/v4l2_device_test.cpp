// The V4L2 side of the camera path, driven through the virtual camera.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "platform/ffmpeg/frame_converter.h"
#include "platform/v4l2/v4l2_catalogue.h"
#include "support/virtual_cameras.h"
#include "support/watchdog.h"

namespace {

using pelora_test::DiscreteFormat;
using pelora_test::MakeCamera;
using pelora_test::SteppedFormat;
using pelora_test::WebcamConfig;

class V4l2Test : public ::testing::Test {
protected:
    void TearDown() override { V4l2Catalogue::clearVirtual(); }
};

// Converts every frame and records the number it shows.
class NumberSink final : public V4l2FrameSink {
public:
    void onFrame(const V4l2Frame& f) override {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (m_Conv.Layout().dwFourcc != f.layout.dwFourcc ||
            m_Conv.Layout().nWidth != f.layout.nWidth) {
            if (m_Conv.Init(f.layout) != S_OK) return;
        }
        m_Out.resize(m_Conv.OutputSize());
        if (m_Conv.Convert(f.data, f.bytesUsed, m_Out.data()) != S_OK) return;
        auto n = ReadFrameNumber(m_Out.data(), f.layout.nWidth, f.layout.nHeight);
        numbers.push_back(n ? static_cast<int64_t>(*n) : -1);
        sequences.push_back(f.sequence);
    }
    std::vector<int64_t> Numbers() {
        std::lock_guard<std::mutex> lock(m_Lock);
        return numbers;
    }
    std::vector<int64_t> numbers;     // under m_Lock
    std::vector<uint32_t> sequences;  // under m_Lock
    std::mutex m_Lock;

private:
    CFrameConverter m_Conv;
    std::vector<uint8_t> m_Out;
};

// Only a monotonic driver stamp is a capture time on the counter's clock;
// anything else (another clock, no stamp, a malformed one) is timed at dequeue.
TEST_F(V4l2Test, BufferCaptureTimeIsTheMonotonicStampElseTheDequeueTime) {
    struct SCase {
        uint32_t flags;
        long sec, usec;
        int64_t expected;
    };
    const int64_t kDequeued = 777;
    const SCase cases[] = {
        {V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC, 12, 345678, 12 * 10000000LL + 3456780},
        {V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_DONE, 0, 1, 10},
        {V4L2_BUF_FLAG_TIMESTAMP_COPY, 12, 345678, kDequeued},
        {V4L2_BUF_FLAG_TIMESTAMP_UNKNOWN, 12, 345678, kDequeued},
        {V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC, 12, 1000000, kDequeued},
        {V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC, -1, 0, kDequeued},
    };
    for (const SCase& c : cases) {
        v4l2_buffer b{};
        b.flags = c.flags;
        b.timestamp.tv_sec = c.sec;
        b.timestamp.tv_usec = c.usec;
        EXPECT_EQ(BufferCaptureCount(b, kDequeued), c.expected) << c.flags << " " << c.usec;
    }
}

// Unplugged cameras and nodes that are not single-plane streaming capture
// are left out; card names are cut to the driver field's 31 characters.
TEST_F(V4l2Test, ListingKeepsRegistrationOrderAndOnlyLiveStreamingCaptureNodes) {
    constexpr uint32_t kCapture = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    const struct {
        std::string card;
        uint32_t caps;
        bool deviceCaps;
    } cases[] = {
        {"capture", kCapture, true},
        {"metadata", V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING, true},
        {"m2m", kCapture | V4L2_CAP_VIDEO_M2M, true},
        {"mplane only", V4L2_CAP_VIDEO_CAPTURE_MPLANE | V4L2_CAP_STREAMING, true},
        {"no streaming", V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_READWRITE, true},
        {"old driver", kCapture, false},
        {std::string(300, 'x'), kCapture, true},
        {"unplugged", kCapture, true},
    };
    std::string unpluggedPath;
    for (const auto& c : cases) {
        VirtualCameraConfig cfg = WebcamConfig(c.card);
        cfg.capabilities = c.caps;
        cfg.hasDeviceCaps = c.deviceCaps;
        auto cam = MakeCamera(cfg);
        const std::string path = V4l2Catalogue::registerVirtual(cam);
        if (c.card == "unplugged") {
            cam->unplug();
            unpluggedPath = path;
        }
    }
    const std::vector<V4l2DeviceEntry> list = V4l2Catalogue::scan();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].card, "capture");
    EXPECT_EQ(list[1].card, "old driver");
    EXPECT_EQ(list[2].card, std::string(31, 'x'));
    int err = 0;
    EXPECT_EQ(V4l2Catalogue::node(unpluggedPath, &err), nullptr);
    EXPECT_EQ(err, ENODEV);
}

TEST_F(V4l2Test, OneNodePerPathWhileAnyoneHoldsIt) {
    auto cam = MakeCamera(WebcamConfig());
    const std::string path = V4l2Catalogue::registerVirtual(cam);
    int err = 0;
    auto first = V4l2Catalogue::node(path, &err);
    auto second = V4l2Catalogue::node(path, &err);
    ASSERT_TRUE(first);
    EXPECT_EQ(first, second);
    EXPECT_EQ(cam->openHandles(), 1);
    first.reset();
    second.reset();
    EXPECT_EQ(cam->openHandles(), 0);
    cam->failNextOpens(1, EACCES);
    EXPECT_EQ(V4l2Catalogue::node(path, &err), nullptr);
    EXPECT_EQ(err, EACCES);
    EXPECT_TRUE(V4l2Catalogue::node(path, &err));
}

// A virtual camera, its open node, and a sink that outlives the node.
struct OpenCamera {
    explicit OpenCamera(const VirtualCameraConfig& cfg = WebcamConfig())
        : cam(MakeCamera(cfg)), node("t", cam->open(nullptr)) {}
    // Emits n frames and waits until the camera has `returned` buffers back in all.
    bool Emit(int n, uint64_t returned) {
        cam->emitFrames(n);
        return cam->waitReturned(returned, 5000);
    }
    std::shared_ptr<VirtualV4l2Device> cam;
    NumberSink sink;
    V4l2DeviceNode node;
};

TEST_F(V4l2Test, SizeEntriesFollowDriverOrderForEveryKindOfSizeList) {
    VirtualCameraConfig cfg = WebcamConfig();
    VirtualFormat noSizes = DiscreteFormat(V4L2_PIX_FMT_GREY, {});
    noSizes.noFrameSizes = true;
    cfg.formats = {
        DiscreteFormat(V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}}),
        SteppedFormat(V4L2_PIX_FMT_NV12, V4L2_FRMSIZE_TYPE_STEPWISE, 320, 1280, 160, 240, 720, 120),
        SteppedFormat(V4L2_PIX_FMT_YUV420, V4L2_FRMSIZE_TYPE_CONTINUOUS, 64, 1920, 1, 48, 1080, 1),
        noSizes,
    };
    OpenCamera c(cfg);
    const auto e = c.node.sizeEntries();
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[1].fourcc, V4L2_PIX_FMT_YUYV);
    EXPECT_EQ(e[1].maxWidth, 320u);
    EXPECT_EQ(e[2].stepWidth, 160u);
    EXPECT_EQ(e[2].maxHeight, 720u);
    EXPECT_EQ(e[3].stepWidth, 1u);
    EXPECT_EQ(e[3].type, uint32_t{V4L2_FRMSIZE_TYPE_CONTINUOUS});
    EXPECT_EQ(e[4].fourcc, V4L2_PIX_FMT_GREY);
    EXPECT_EQ(e[4].maxWidth, 640u);  // the current size
    // Stepwise negotiation lands on the grid only.
    EXPECT_EQ(c.node.setFormatExact(V4L2_PIX_FMT_NV12, 480, 360), 0);
    EXPECT_EQ(c.node.setFormatExact(V4L2_PIX_FMT_NV12, 500, 360), -EINVAL);
    EXPECT_EQ(c.node.setFormatExact(V4L2_PIX_FMT_YUV420, 333, 211), 0);
}

TEST_F(V4l2Test, FramesArriveInOrderWithTheirNumbersAndBadBuffersAreDropped) {
    for (uint32_t code : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG}) {
        VirtualCameraConfig cfg = WebcamConfig();
        cfg.fourcc = code;
        cfg.bytesPerLinePadding = 32;
        OpenCamera c(cfg);
        ASSERT_EQ(c.node.start(&c.sink), 0);
        ASSERT_TRUE(c.Emit(3, 3));
        c.cam->failNextBuffer(true, false);
        c.cam->emitFrames(1);  // frame 3: short
        c.cam->failNextBuffer(false, true);
        c.cam->emitFrames(1);  // frame 4: flagged ERROR
        ASSERT_TRUE(c.Emit(2, 7));
        ASSERT_EQ(c.node.stop(), 0);
        EXPECT_EQ(c.sink.Numbers(), (std::vector<int64_t>{0, 1, 2, 5, 6}));
        EXPECT_EQ(c.sink.sequences, (std::vector<uint32_t>{0, 1, 2, 5, 6}));
    }
}

TEST_F(V4l2Test, StopIsBoundedWhenFrozenOrUnplugged) {
    for (bool unplug : {false, true}) {
        OpenCamera c;
        ASSERT_EQ(c.node.start(&c.sink), 0);
        ASSERT_TRUE(c.Emit(1, 1));
        if (unplug) {
            c.cam->unplug();
            ASSERT_TRUE(pelora_test::WaitUntil([&] { return c.node.lost(); }));
        } else {
            c.cam->freeze(true);
            c.cam->emitFrames(5);
        }
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(c.node.stop(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, pelora_test::kWatchdog);
        EXPECT_EQ(c.sink.Numbers().size(), 1u);
        EXPECT_EQ(c.node.start(&c.sink), unplug ? -ENODEV : 0);
    }
}

// Stops the node from inside its own streaming thread.
class SelfStoppingSink final : public V4l2FrameSink {
public:
    void onFrame(const V4l2Frame&) override { result = node->stop(); }
    V4l2DeviceNode* node = nullptr;
    std::atomic<int> result{1};
};

TEST_F(V4l2Test, StopOnTheStreamingThreadIsRefused) {
    OpenCamera c;
    SelfStoppingSink sink;
    sink.node = &c.node;
    ASSERT_EQ(c.node.start(&sink), 0);
    ASSERT_TRUE(c.Emit(1, 1));
    EXPECT_EQ(sink.result.load(), -EDEADLK);
    EXPECT_EQ(c.node.stop(), 0);
}

TEST_F(V4l2Test, FailedStreamOnLeavesNoBuffers) {
    VirtualCameraConfig cfg = WebcamConfig();
    cfg.streamOnFails = true;
    OpenCamera c(cfg);
    EXPECT_EQ(c.node.start(&c.sink), -EIO);
    EXPECT_EQ(c.node.state(), V4l2DeviceNode::State::Stopped);
    // Buffers are gone, so the format can change again.
    EXPECT_EQ(c.node.setFormatExact(V4L2_PIX_FMT_YUYV, 320, 240), 0);
}

TEST_F(V4l2Test, PauseKeepsBuffersAndRunResumesTheNumbers) {
    OpenCamera c;
    ASSERT_EQ(c.node.start(&c.sink), 0);
    ASSERT_TRUE(c.Emit(2, 2));
    ASSERT_EQ(c.node.pause(), 0);
    EXPECT_EQ(c.node.setFormatExact(V4L2_PIX_FMT_YUYV, 320, 240), -EBUSY);
    c.cam->emitFrames(3);  // not streaming: no frames
    ASSERT_EQ(c.node.start(&c.sink), 0);
    c.cam->emitFrames(1);
    ASSERT_TRUE(pelora_test::WaitUntil([&] { return c.sink.Numbers().size() == 3; }));
    c.node.stop();
    EXPECT_EQ(c.sink.Numbers(), (std::vector<int64_t>{0, 1, 2}));
}

// Frames that find no free buffer are lost, as with a driver; the ones
// delivered keep their order.
TEST_F(V4l2Test, FreeRunningCameraDeliversAtItsInterval) {
    VirtualCameraConfig cfg = WebcamConfig();
    cfg.freeRunning = true;
    cfg.formats[0].intervals = {{1, 30}, {1, 100}};
    OpenCamera c(cfg);
    ASSERT_EQ(c.node.setFrameInterval100ns(100000), 0);
    EXPECT_EQ(c.node.frameInterval100ns(), 100000);
    ASSERT_EQ(c.node.start(&c.sink), 0);
    ASSERT_TRUE(pelora_test::WaitUntil([&] { return c.sink.Numbers().size() >= 5; }));
    c.node.stop();
    const auto n = c.sink.Numbers();
    EXPECT_EQ(n[0], 0);
    for (size_t i = 1; i < n.size(); ++i) EXPECT_GT(n[i], n[i - 1]);
}

}  // namespace
