// The camera branch of the worker: the camera frame source over the capture
// library and virtual cameras whose frames show their own number, and the
// worker polling it (no Qt).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/video_input.h"
#include "mediagraph/media_classes.h"
#include "platform/com/com_runtime.h"
#include "platform/ffmpeg/frame_pattern.h"
#include "platform/v4l2/v4l2_catalogue.h"
#include "platform/win/time_services.h"
#include "processing/camera_frame_source.h"
#include "processing/frame_source_factory.h"
#include "processing/frame_worker.h"
#include "processing/run_flag.h"
#include "recording_window.h"
#include "support/virtual_cameras.h"
#include "support/watchdog.h"

namespace {

using pelora_test::AddCamera;
using pelora_test::DiscreteFormat;
using pelora_test::WaitUntil;

LONGLONG Counter() {
    LARGE_INTEGER li{};
    QueryPerformanceCounter(&li);
    return li.QuadPart;
}

// The padded bottom-up frame as packed rows, for ReadFrameNumber.
std::vector<uint8_t> Packed(const BYTE* pPadded, int w, int h) {
    std::vector<uint8_t> v(static_cast<size_t>(w) * h * 3);
    const size_t stride = (3 * static_cast<size_t>(w) + 3) & ~size_t{3};
    for (int y = 0; y < h; ++y) std::memcpy(&v[y * w * 3], pPadded + y * stride, w * 3);
    return v;
}

VirtualCameraConfig YuyvCamera(uint32_t w, uint32_t h, bool bFreeRunning) {
    VirtualCameraConfig c;
    c.formats = {DiscreteFormat(V4L2_PIX_FMT_YUYV, {{w, h}, {320, 240}})};
    c.formats[0].intervals = {{1, 100}};
    c.fourcc = V4L2_PIX_FMT_YUYV;
    c.width = w;
    c.height = h;
    c.freeRunning = bFreeRunning;
    return c;
}

class CameraSourceTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegisterMediaClasses(), S_OK);
        CoInitialize(nullptr);
        m_oldSink = VideoInput::setPrintSink([](std::string_view) {});
    }
    void TearDown() override {
        m_pSource.reset();
        m_pVideo.reset();
        V4l2Catalogue::clearVirtual();
        VideoInput::setPrintSink(m_oldSink);
        CoUninitialize();
    }
    // A camera as device 0, opened at its size.
    void OpenCamera(uint32_t w, uint32_t h, bool bFreeRunning) {
        m_pCamera = AddCamera(YuyvCamera(w, h, bFreeRunning));
        m_pVideo = std::make_unique<VideoInput>();
        ASSERT_TRUE(m_pVideo->openDevice(0, static_cast<int>(w), static_cast<int>(h)));
    }
    // A 640x480 camera, the source probed and opened on it.
    void OpenSource() {
        OpenCamera(640, 480, false);
        m_pSource = std::make_unique<CCameraFrameSource>(*m_pVideo);
        BITMAPINFO bmi{};
        std::string strMessage;
        ASSERT_EQ(m_pSource->ProbeFormat(nullptr, &bmi, &strMessage), S_OK);
        ASSERT_EQ(m_pSource->Open(nullptr, CRunFlag(), &m_timeline), S_OK);
        m_frame.assign(bmi.bmiHeader.biSizeImage, 0);
    }
    HRESULT Acquire() {
        return m_pSource->AcquireAt(0, m_frame.data(), static_cast<DWORD>(m_frame.size()));
    }
    // One frame from the camera, once the library has it waiting.
    void EmitOne() {
        m_pCamera->emitFrames(1);
        ASSERT_TRUE(WaitUntil([&] { return m_pVideo->hasNewFrame(0); }));
    }

    std::shared_ptr<VirtualV4l2Device> m_pCamera;
    std::unique_ptr<VideoInput> m_pVideo;
    std::unique_ptr<CCameraFrameSource> m_pSource;
    SFrameTimeline m_timeline;
    std::vector<BYTE> m_frame;
    CapturePrintSink m_oldSink;
};

TEST(CameraFormatTest, RecordsPadEachRowToFourBytesAndCopiesKeepRowOrder) {
    const struct {
        LONG w, h;
        DWORD size;
    } cases[] = {{322, 240, 968 * 240}, {4, 2, 24}, {1, 1, 4}, {0, 0, 0}, {-4, 10, 0}, {10, 0, 0}};
    for (const auto& c : cases) {
        const BITMAPINFO bmi = BuildRgb24Format(c.w, c.h);
        EXPECT_EQ(bmi.bmiHeader.biSizeImage, c.size) << c.w << "x" << c.h;
        EXPECT_EQ(bmi.bmiHeader.biHeight, c.size ? c.h : 0) << c.w << "x" << c.h;  // bottom-up
    }
    // Two packed rows of 2 pixels (6 bytes) into 8-byte rows: order kept,
    // pad bytes not touched.
    const BYTE src[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    BYTE dst[16];
    std::memset(dst, 0xEE, sizeof dst);
    CopyPackedRows(2, dst, src, 2);
    const BYTE expected[16] = {1, 2, 3, 4, 5, 6, 0xEE, 0xEE, 7, 8, 9, 10, 11, 12, 0xEE, 0xEE};
    EXPECT_EQ(std::memcmp(dst, expected, sizeof dst), 0);
}

// Every camera frame is taken once, in order; a pass without a new frame
// answers S_FALSE and leaves the frame buffer as it was. The first frame is
// held back before it is taken: its latency counts from its capture.
TEST_F(CameraSourceTest, EachNewFrameIsTakenOnceInOrderWithTheTimeTheCameraEmittedIt) {
    OpenSource();
    EXPECT_TRUE(m_timeline.bLive);
    EXPECT_FALSE(m_timeline.bSeekable);
    EXPECT_EQ(m_pSource->LastCaptureCount(), -1);
    std::vector<int64_t> numbers;
    for (int i = 0; i < 8; ++i) {
        const LONGLONG tBefore = Counter();
        EmitOne();
        if (i == 0) std::this_thread::sleep_for(std::chrono::milliseconds(80));
        ASSERT_EQ(Acquire(), S_OK);
        const LONGLONG llCapture = m_pSource->LastCaptureCount();
        EXPECT_GE(llCapture, tBefore);
        EXPECT_TRUE(i > 0 || Counter() - llCapture >= 80 * 10000);  // 100 ns counts
        const auto n = ReadFrameNumber(m_frame.data(), 640, 480);
        numbers.push_back(n ? static_cast<int64_t>(*n) : -1);
        const std::vector<BYTE> before = m_frame;
        EXPECT_EQ(Acquire(), S_FALSE);
        EXPECT_EQ(m_frame, before);
    }
    EXPECT_EQ(numbers, (std::vector<int64_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    // Another thread took no frame: it has no capture time of its own.
    std::thread([&] { EXPECT_EQ(m_pVideo->getFrameTimestamp(0), -1); }).join();
}

// The device reopened at another size while the source runs: its frames
// are refused (the camera buffer keeps the probed size), nothing overflows.
TEST_F(CameraSourceTest, ADeviceReopenedAtAnotherSizeIsRefusedNotOverflowed) {
    OpenSource();
    EmitOne();
    ASSERT_EQ(Acquire(), S_OK);
    const std::vector<BYTE> shown = m_frame;
    m_pVideo->closeDevice(0);
    ASSERT_TRUE(m_pVideo->openDevice(0, 320, 240));
    ASSERT_EQ(m_pVideo->getFrameWidth(0), 320);
    EmitOne();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Acquire(), S_FALSE);
    EXPECT_EQ(m_frame, shown);
}

// The worker polls a 322-wide camera without waiting: repeated passes
// between frames, each new frame with its latency, rows of 968 bytes whose
// two pad bytes stay 0, the picture upright.
TEST_F(CameraSourceTest, WorkerPollsTheCameraAndReportsEachNewFrame) {
    OpenCamera(322, 240, true);
    CFrameWorker worker;
    SFrameSourceChoice choice;
    choice.nKind = SOURCE_CAMERA;
    choice.pVideoInput = m_pVideo.get();
    worker.SetSource(CreateFrameSource(choice));
    std::string strMessage;
    ASSERT_EQ(worker.ProbeFormat(nullptr, &strMessage), S_OK);
    EXPECT_EQ(worker.ImageSize(), 968u * 240u);
    CRecordingWindow window;
    const std::string strFlag = CRunFlag::NextName();
    CRunFlag flag = CRunFlag::Create(strFlag, 1);
    ASSERT_TRUE(worker.Start(&window, strFlag, nullptr));
    ASSERT_TRUE(WaitUntil([&] { return worker.IsReady(); }));
    worker.RequestPlay();
    const bool bFrames = WaitUntil([&] {
        size_t nNew = 0;
        for (const SPassReport& r : window.Passes()) nNew += r.bNewFrame && r.bPlaying;
        return nNew >= 5;
    });
    flag.Set(0);
    worker.Wake();
    worker.Join();
    ASSERT_TRUE(bFrames);
    const std::vector<SPassReport> reports = window.Passes();
    size_t nNew = 0;
    for (const SPassReport& r : reports) {  // a latency for new frames only
        nNew += r.bNewFrame;
        EXPECT_EQ(r.dLatencyMs >= 0.0, r.bNewFrame);
        EXPECT_TRUE(!r.bNewFrame || r.llCaptureCount > 0);
    }
    EXPECT_GT(reports.size(), nNew);  // passes between frames: polling, not waiting
    const CFrameWorker::CDisplayLock display(worker);
    for (int y = 0; y < 240; ++y)
        EXPECT_TRUE(display.Bits()[y * 968 + 966] == 0 && display.Bits()[y * 968 + 967] == 0) << y;
    EXPECT_TRUE(ReadFrameNumber(Packed(display.Bits(), 322, 240).data(), 322, 240).has_value());
}

}  // namespace
