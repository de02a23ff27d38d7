// The worker on the real file graph (graph manager, file source, grab
// renderer) with clips the test generates: each frame shows its own index.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "processing/frame_worker.h"
#include "recording_window.h"
#include "tools/clip_writer.h"
#include "tools/frame_pattern.h"

namespace {

namespace fs = std::filesystem;

class FrameWorkerClipTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = fs::temp_directory_path() / ("pelora_worker_clips_" + std::to_string(getpid()));
        fs::create_directories(s_dir);
        SClipParams params;
        params.nWidth = 96;
        params.nHeight = 64;
        params.nFrames = 30;
        params.nFpsNum = 30;
        params.eFormat = EClipFormat::AviMpeg4;
        ASSERT_EQ(WriteClip((s_dir / "clip.avi").string(), params), "");
        params.eFormat = EClipFormat::Mp4H264;
        params.nFrames = 24;
        params.nFpsNum = 24;
        ASSERT_EQ(WriteClip((s_dir / "clip.mp4").string(), params), "");
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }

    void Start(const char* pszFile, SeekMode eMode) {
        SetFileGraphFactory(nullptr);  // the real graph
        m_worker.m_strSourcePath = (s_dir / pszFile).string();
        m_worker.m_nSourceKind = SOURCE_FILE;
        m_worker.m_nSeekMode = eMode;
        std::string strMessage;
        ASSERT_EQ(m_worker.ProbeFormat(nullptr, &strMessage), S_OK) << strMessage;
        m_strFlag = CRunFlag::NextName();
        m_flag = CRunFlag::Create(m_strFlag, 1);
        ASSERT_TRUE(m_worker.Start(&m_window, m_strFlag, nullptr));
        ASSERT_TRUE(WaitUntil([&] { return m_worker.IsReady() || m_worker.HasEnded(); }));
        ASSERT_TRUE(m_worker.IsReady());
    }
    void TearDown() override {
        m_flag.Set(0);
        m_worker.Wake();
        EXPECT_TRUE(WaitUntil([&] { return m_worker.HasEnded() || !m_worker.HasStarted(); }, 20000));
        m_worker.Join();
    }
    template <class Pred>
    static bool WaitUntil(Pred pred, int nMs = 20000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    int Displayed() {
        const CFrameWorker::CDisplayLock lock = m_worker.LockDisplay();
        return ReadFrameIndex(lock.Bits(), m_worker.Width(), m_worker.Height(), (3 * m_worker.Width() + 3) & ~3);
    }
    bool WaitForDisplayed(int n) { return WaitUntil([&] { return Displayed() == n; }, 10000); }

    static fs::path s_dir;
    CFrameWorker m_worker;
    CRecordingWindow m_window;
    std::string m_strFlag;
    CRunFlag m_flag;
};
fs::path FrameWorkerClipTest::s_dir;

TEST_F(FrameWorkerClipTest, AviStepsInFramesAndShowsTheFrameAtEachPosition) {
    Start("clip.avi", SEEK_COMPLETION);
    EXPECT_EQ(m_worker.FrameStep(), 1);
    EXPECT_EQ(m_worker.FrameCount(), 30);
    EXPECT_TRUE(WaitForDisplayed(0));
    EXPECT_EQ(m_window.With([](CRecordingWindow& w) { return w.m_counterTexts.front(); }),
              "0/     30 (0:00:00:00 / 0:00:01:00)");
    m_worker.StepForward();
    EXPECT_TRUE(WaitForDisplayed(1));
    m_worker.StepForward();
    EXPECT_TRUE(WaitForDisplayed(2));
    m_worker.StepBackward();
    EXPECT_TRUE(WaitForDisplayed(1));
    for (int n : {17, 29, 4, 0}) {
        m_worker.MoveToSliderPos(n);
        EXPECT_EQ(m_worker.Position(), n);
        EXPECT_TRUE(WaitForDisplayed(n)) << n;
    }
}

TEST_F(FrameWorkerClipTest, Mp4StepsInMediaTimeAndShowsTheFrameAtEachPosition) {
    Start("clip.mp4", SEEK_POLL);
    EXPECT_EQ(m_worker.FrameStep(), 416667);
    EXPECT_EQ(m_worker.FrameCount(), 24);
    EXPECT_TRUE(WaitForDisplayed(0));
    m_worker.StepForward();
    EXPECT_EQ(m_worker.Position(), 416667);
    EXPECT_TRUE(WaitForDisplayed(1));
    m_worker.StepForward();
    EXPECT_TRUE(WaitForDisplayed(2));
    m_worker.StepBackward();
    EXPECT_TRUE(WaitForDisplayed(1));
    for (int n : {13, 23, 5}) {
        m_worker.MoveToSliderPos(n);
        EXPECT_TRUE(WaitForDisplayed(n)) << n;
    }
}

TEST_F(FrameWorkerClipTest, RunFromZeroReachesTheEndAndStopRewinds) {
    Start("clip.avi", SEEK_COMPLETION);
    m_worker.RequestPlay();
    ASSERT_TRUE(m_window.WaitFor([](CRecordingWindow& w) { return w.m_nRunsEnded == 1; }));
    EXPECT_EQ(m_window.LinesAt(210), std::vector<std::string>{"処理フレーム数 30 Frame"});
    EXPECT_EQ(m_window.LinesAt(220).size(), 1u);
    EXPECT_EQ(m_window.LinesAt(230).size(), 1u);
    // Back at 0 showing frame 0, though the graph last rendered frame 29.
    EXPECT_TRUE(WaitForDisplayed(0));
    // Played again and stopped half-way: rewound, frame 0 shown.
    m_worker.RequestPlay();
    ASSERT_TRUE(WaitUntil([&] { return m_worker.Position() >= 5; }));
    m_worker.RequestStop();
    ASSERT_TRUE(WaitUntil([&] { return !m_worker.IsPlaying(); }));
    EXPECT_EQ(m_worker.Position(), 0);
    EXPECT_TRUE(WaitForDisplayed(0));
}

TEST_F(FrameWorkerClipTest, PauseKeepsTheFrameAndResumeGoesOnFromIt) {
    Start("clip.mp4", SEEK_POLL);
    m_worker.RequestPlay();
    ASSERT_TRUE(WaitUntil([&] { return m_worker.FrameIndex() >= 4; }));
    m_worker.RequestPause();
    ASSERT_TRUE(WaitUntil([&] { return !m_worker.IsRunning(); }));
    const LONGLONG llIndex = m_worker.FrameIndex();
    EXPECT_TRUE(WaitForDisplayed(static_cast<int>(llIndex)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(m_worker.FrameIndex(), llIndex);
    m_worker.RequestPlay();
    ASSERT_TRUE(m_window.WaitFor([](CRecordingWindow& w) { return w.m_nRunsEnded == 1; }));
    EXPECT_EQ(m_window.LinesAt(210), std::vector<std::string>{"処理フレーム数 24 Frame"});
}

}  // namespace
