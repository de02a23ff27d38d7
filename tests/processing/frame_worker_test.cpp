#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "fake_file_graph.h"
#include "processing/frame_worker.h"
#include "recording_window.h"
#include "tools/frame_pattern.h"

namespace {

// A plug-in that passes the frame through and counts its calls.
std::atomic<int> g_nPluginCalls{0};
int32_t CountingPlugin(uint8_t* pOut, const uint8_t* pIn, BITMAPINFO bmi) {
    std::memcpy(pOut, pIn, bmi.bmiHeader.biSizeImage);
    ++g_nPluginCalls;
    return 0;
}
// A plug-in that inverts every byte (so a processed frame no longer reads).
int32_t InvertingPlugin(uint8_t* pOut, const uint8_t* pIn, BITMAPINFO bmi) {
    for (DWORD i = 0; i < bmi.bmiHeader.biSizeImage; ++i) pOut[i] = static_cast<uint8_t>(~pIn[i]);
    ++g_nPluginCalls;
    return 0;
}

// One worker on a fake clip, started like the dialog starts it.
class CWorkerRig {
public:
    explicit CWorkerRig(const SFakeClip& clip, TAVROFUNC pfnPlugin = &CountingPlugin,
                        bool bEveryFrame = false) {
        CFakeFileGraph::SetClip(clip);
        SetFileGraphFactory(&CFakeFileGraph::Factory);
        m_worker.m_strSourcePath = "clip";
        m_worker.m_nSourceKind = SOURCE_FILE;
        m_worker.m_nSeekMode = clip.bFrameFormat ? SEEK_COMPLETION : SEEK_POLL;
        std::string strMessage;
        EXPECT_EQ(m_worker.ProbeFormat(nullptr, &strMessage), S_OK) << strMessage;
        m_worker.SetPlugin(pfnPlugin);
        m_worker.SetEveryFrame(bEveryFrame);
        m_strFlag = CRunFlag::NextName();
        m_flag = CRunFlag::Create(m_strFlag, 1);
        EXPECT_TRUE(m_worker.Start(&m_window, m_strFlag, nullptr));
        // Set-up is done when the first counter text arrived.
        EXPECT_TRUE(m_window.WaitFor([](CRecordingWindow& w) { return !w.m_counterTexts.empty(); }));
    }
    ~CWorkerRig() { Close(); }

    bool Close() {
        m_flag.Set(0);
        m_worker.Wake();
        const bool bEnded = WaitUntil([&] { return m_worker.HasEnded(); }, 5000);
        m_worker.Join();
        return bEnded;
    }
    template <class Pred>
    static bool WaitUntil(Pred pred, int nMs = 15000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    // The frame index the display buffer shows (-1 when it shows none).
    int DisplayedIndex() {
        const CFrameWorker::CDisplayLock lock = m_worker.LockDisplay();
        const int nStride = (3 * m_worker.Width() + 3) & ~3;
        return ReadFrameIndex(lock.Bits(), m_worker.Width(), m_worker.Height(), nStride);
    }
    // Waits until the display shows frame n.
    bool WaitForDisplayed(int n) { return WaitUntil([&] { return DisplayedIndex() == n; }, 10000); }
    // Waits until the worker has had a few idle passes (the requests so far are handled).
    bool WaitForRunEnd(int nRuns) {
        return m_window.WaitFor([&](CRecordingWindow& w) { return w.m_nRunsEnded >= nRuns; });
    }

    CFrameWorker m_worker;
    CRecordingWindow m_window;
    std::string m_strFlag;
    CRunFlag m_flag;
};

SFakeClip AviClip(int nFrames = 30) {
    SFakeClip clip;
    clip.nFrames = nFrames;
    clip.bFrameFormat = true;
    clip.dSpeed = 4.0;
    return clip;
}
SFakeClip Mp4Clip(int nFrames = 30) {
    SFakeClip clip = AviClip(nFrames);
    clip.bFrameFormat = false;
    return clip;
}

TEST(FrameWorker, FirstFrameShownIsFrameZeroAndCounterStartsAtZero) {
    SFakeClip clip = AviClip(300);
    CWorkerRig rig(clip);
    EXPECT_TRUE(rig.WaitForDisplayed(0));
    const std::vector<std::string> texts = rig.m_window.With([](CRecordingWindow& w) { return w.m_counterTexts; });
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "0/    300 (0:00:00:00 / 0:00:10:00)");
    EXPECT_EQ(rig.m_window.With([](CRecordingWindow& w) { return w.m_nSliderMax; }), 300);
    EXPECT_EQ(rig.m_window.With([](CRecordingWindow& w) { return w.m_nTickFreq; }), 1800);
    EXPECT_EQ(rig.m_worker.FrameStep(), 1);
    EXPECT_DOUBLE_EQ(rig.m_worker.FramesPerSecond(), 30.0);
}

TEST(FrameWorker, RunFromZeroReachesTheEndAndReportsStatistics) {
    for (bool bFrameFormat : {true, false}) {
        SCOPED_TRACE(bFrameFormat ? "frame format" : "media time");
        SFakeClip clip = bFrameFormat ? AviClip(24) : Mp4Clip(24);
        g_nPluginCalls = 0;
        CWorkerRig rig(clip);
        rig.m_worker.RequestPlay();
        ASSERT_TRUE(rig.WaitForRunEnd(1));
        EXPECT_EQ(rig.m_window.LinesAt(210), std::vector<std::string>{"処理フレーム数 24 Frame"});
        const std::vector<std::string> perFrame = rig.m_window.LinesAt(220);
        ASSERT_EQ(perFrame.size(), 1u);
        EXPECT_EQ(perFrame[0].rfind("１フレームあたりの処理時間 ", 0), 0u);
        EXPECT_EQ(perFrame[0].substr(perFrame[0].size() - 2), "ms");
        const std::vector<std::string> total = rig.m_window.LinesAt(230);
        ASSERT_EQ(total.size(), 1u);
        EXPECT_EQ(total[0].rfind("総処理時間 ", 0), 0u);
        EXPECT_EQ(total[0].substr(total[0].size() - 5), " msec");
        // The buttons were reset, playing ended and the position rewound.
        EXPECT_EQ(rig.m_window.With([](CRecordingWindow& w) { return w.m_nButtonResets; }), 1);
        EXPECT_TRUE(CWorkerRig::WaitUntil([&] { return rig.m_worker.Position() == 0 && !rig.m_worker.IsPlaying(); }));
        EXPECT_GT(g_nPluginCalls.load(), 0);
        // The per-frame lines have the playback loop's format.
        const std::vector<std::string> lines = rig.m_window.LinesAt(10);
        bool bFrameLine = false;
        for (const std::string& s : lines)
            if (s.find("(count) ") != std::string::npos && s.find("(msec) ") != std::string::npos &&
                s.back() == ')' && s.find(" ") != 10)
                bFrameLine = true;
        EXPECT_TRUE(bFrameLine);
    }
}

TEST(FrameWorker, ProcessedFramesFollowTheGraphAndEveryFrameModeSkipsNone) {
    SFakeClip clip = AviClip(20);
    {
        CWorkerRig rig(clip, &CountingPlugin, /*bEveryFrame=*/true);
        rig.m_worker.RequestPlay();
        ASSERT_TRUE(rig.WaitForRunEnd(1));
        const std::vector<LONGLONG> indexes =
            rig.m_window.With([](CRecordingWindow& w) { return w.m_processedIndexes; });
        ASSERT_EQ(indexes.size(), 20u);
        for (size_t i = 0; i < indexes.size(); ++i) EXPECT_EQ(indexes[i], static_cast<LONGLONG>(i));
        EXPECT_EQ(rig.m_window.With([](CRecordingWindow& w) { return w.m_llLastSkipped; }), 0);
        EXPECT_EQ(rig.m_window.LinesAt(210), std::vector<std::string>{"処理フレーム数 20 Frame"});
    }
    {
        // Real time: indexes only increase.
        CWorkerRig rig(clip);
        rig.m_worker.RequestPlay();
        ASSERT_TRUE(rig.WaitForRunEnd(1));
        const std::vector<LONGLONG> indexes =
            rig.m_window.With([](CRecordingWindow& w) { return w.m_processedIndexes; });
        ASSERT_FALSE(indexes.empty());
        for (size_t i = 1; i < indexes.size(); ++i) EXPECT_GT(indexes[i], indexes[i - 1]);
    }
}

TEST(FrameWorker, StepsAndSliderMoveThePositionAndShowThatFrame) {
    for (bool bFrameFormat : {true, false}) {
        SCOPED_TRACE(bFrameFormat ? "frame format" : "media time");
        CWorkerRig rig(bFrameFormat ? AviClip(30) : Mp4Clip(30));
        ASSERT_TRUE(rig.WaitForDisplayed(0));
        const LONGLONG llStep = bFrameFormat ? 1 : 333333;
        EXPECT_EQ(rig.m_worker.FrameStep(), llStep);

        rig.m_worker.StepForward();
        EXPECT_EQ(rig.m_worker.Position(), llStep);
        EXPECT_TRUE(rig.WaitForDisplayed(1));
        rig.m_worker.StepForward();
        EXPECT_TRUE(rig.WaitForDisplayed(2));
        rig.m_worker.StepBackward();
        EXPECT_EQ(rig.m_worker.Position(), llStep);
        EXPECT_TRUE(rig.WaitForDisplayed(1));

        const std::string strBefore = rig.m_worker.MoveToSliderPos(17);
        // The slider's text shows the position before the move.
        EXPECT_EQ(strBefore.substr(0, 8), "      1/");
        EXPECT_EQ(rig.m_worker.Position(), bFrameFormat ? 17 : 5666667);
        EXPECT_TRUE(rig.WaitForDisplayed(17));
        EXPECT_TRUE(rig.m_window.WaitFor([](CRecordingWindow& w) { return w.m_nSliderPos == 17; }));

        rig.m_worker.MoveToSliderPos(29);  // the last frame
        EXPECT_TRUE(rig.WaitForDisplayed(29));
        // Back to a frame seen before: still sought again.
        rig.m_worker.MoveToSliderPos(3);
        EXPECT_TRUE(rig.WaitForDisplayed(3));
    }
}

TEST(FrameWorker, MediaTimeFramesAreCountedAtTheExactRateNotTheRoundedDuration) {
    // 24 fps: frames start at n * 416666.67 rounded, the duration says 416667.
    SFakeClip clip = Mp4Clip(12);
    clip.nFpsNum = 24;
    clip.rtFrame = 416667;
    CWorkerRig rig(clip);
    EXPECT_EQ(rig.m_worker.FrameCount(), 12);
    EXPECT_EQ(rig.m_worker.IndexOf(1250000), 3);  // frame 3's own start time
    for (int n = 1; n <= 3; ++n) {
        rig.m_worker.StepForward();
        EXPECT_TRUE(rig.WaitForDisplayed(n));
        EXPECT_EQ(rig.m_worker.FrameIndex(), n);
    }
    rig.m_worker.MoveToSliderPos(11);
    EXPECT_TRUE(rig.WaitForDisplayed(11));
    rig.m_worker.MoveToSliderPos(0);
    EXPECT_TRUE(rig.WaitForDisplayed(0));
    rig.m_worker.RequestPlay();
    ASSERT_TRUE(rig.WaitForRunEnd(1));
    EXPECT_EQ(rig.m_window.LinesAt(210), std::vector<std::string>{"処理フレーム数 12 Frame"});
    const std::vector<LONGLONG> indexes = rig.m_window.With([](CRecordingWindow& w) { return w.m_processedIndexes; });
    ASSERT_FALSE(indexes.empty());
    EXPECT_EQ(indexes.front(), 0);
}

TEST(FrameWorker, RealTimePlaybackAtSixtyFpsDoesNotSkipFramesShortOfTheRoundedDuration) {
    // 60 fps: the duration says 166667, but frame 2 starts at 333333, one
    // unit short of frame 1's start plus the duration (and so every third
    // frame); a graph that advanced by one frame must still count as a new one.
    SFakeClip clip = Mp4Clip(24);
    clip.nFpsNum = 60;
    clip.rtFrame = 166667;
    clip.dSpeed = 0.25;  // 15 frames a second: every frame stays long enough to be seen
    CWorkerRig rig(clip);
    rig.m_worker.RequestPlay();
    ASSERT_TRUE(rig.WaitForRunEnd(1));
    const std::vector<LONGLONG> indexes = rig.m_window.With([](CRecordingWindow& w) { return w.m_processedIndexes; });
    // A loaded machine may still miss an odd frame, never a third of them.
    EXPECT_GE(indexes.size(), 21u);
    EXPECT_LE(rig.m_window.With([](CRecordingWindow& w) { return w.m_llLastSkipped; }), 2);
    EXPECT_EQ(rig.m_window.LinesAt(210), std::vector<std::string>{"処理フレーム数 24 Frame"});
}

TEST(FrameWorker, SliderPositionInMediaTimeDoesNotWrapAt32Bits) {
    SFakeClip clip = Mp4Clip(30);
    CWorkerRig rig(clip);
    rig.m_worker.MoveToSliderPos(10000);  // 10000 frames at 30 fps: 333.3 s, more than 2^31 x 100 ns
    EXPECT_EQ(rig.m_worker.Position(), 3333333333LL);
    EXPECT_EQ(rig.m_worker.FrameIndex(), 10000);
}

TEST(FrameWorker, PauseKeepsPositionAndProcessesTheFrameAgain) {
    SFakeClip clip = AviClip(300);
    clip.dSpeed = 1.0;
    g_nPluginCalls = 0;
    CWorkerRig rig(clip, &InvertingPlugin);
    rig.m_worker.RequestPlay();
    ASSERT_TRUE(CWorkerRig::WaitUntil([&] { return rig.m_worker.Position() >= 5; }));
    rig.m_worker.RequestPause();
    ASSERT_TRUE(CWorkerRig::WaitUntil([&] { return !rig.m_worker.IsRunning(); }));
    const LONGLONG llPaused = rig.m_worker.Position();
    const int nCalls = g_nPluginCalls.load();
    // Paused passes call the plug-in again on the same frame.
    EXPECT_TRUE(CWorkerRig::WaitUntil([&] { return g_nPluginCalls.load() >= nCalls + 3; }, 20000));
    EXPECT_EQ(rig.m_worker.Position(), llPaused);
    EXPECT_TRUE(rig.m_worker.IsPlaying());
    // The paused frame is the processed frame at the paused position.
    {
        const CFrameWorker::CDisplayLock lock = rig.m_worker.LockDisplay();
        const DWORD cb = rig.m_worker.ImageSize();
        std::vector<uint8_t> plain(lock.Bits(), lock.Bits() + cb);
        for (uint8_t& b : plain) b = static_cast<uint8_t>(~b);
        const int nStride = (3 * rig.m_worker.Width() + 3) & ~3;
        EXPECT_EQ(ReadFrameIndex(plain.data(), rig.m_worker.Width(), rig.m_worker.Height(), nStride),
                  llPaused);
    }
    // "+1Frame" while paused: the next frame, processed.
    rig.m_worker.StepForward();
    EXPECT_TRUE(CWorkerRig::WaitUntil([&] {
        const CFrameWorker::CDisplayLock lock = rig.m_worker.LockDisplay();
        std::vector<uint8_t> plain(lock.Bits(), lock.Bits() + rig.m_worker.ImageSize());
        for (uint8_t& b : plain) b = static_cast<uint8_t>(~b);
        const int nStride = (3 * rig.m_worker.Width() + 3) & ~3;
        return ReadFrameIndex(plain.data(), rig.m_worker.Width(), rig.m_worker.Height(), nStride) ==
               llPaused + 1;
    }));
    // Play resumes from there.
    rig.m_worker.RequestPlay();
    EXPECT_TRUE(CWorkerRig::WaitUntil([&] { return rig.m_worker.Position() > llPaused + 2; }));
}

TEST(FrameWorker, StopRewindsAndShowsFrameZeroAgain) {
    SFakeClip clip = AviClip(300);
    clip.dSpeed = 1.0;
    CWorkerRig rig(clip);
    rig.m_worker.RequestPlay();
    ASSERT_TRUE(CWorkerRig::WaitUntil([&] { return rig.m_worker.Position() >= 5; }));
    rig.m_worker.RequestStop();
    ASSERT_TRUE(CWorkerRig::WaitUntil([&] { return !rig.m_worker.IsPlaying() && !rig.m_worker.IsRunning(); }));
    EXPECT_EQ(rig.m_worker.Position(), 0);
    // The frame shown is the frame at the position shown, not the last one played.
    EXPECT_TRUE(rig.WaitForDisplayed(0));
    EXPECT_TRUE(rig.m_window.WaitFor([](CRecordingWindow& w) { return w.m_nSliderPos == 0; }));
}

TEST(FrameWorker, MissingPluginPlaysUnprocessedFrames) {
    SFakeClip clip = AviClip(12);
    CWorkerRig rig(clip, nullptr);
    rig.m_worker.RequestPlay();
    ASSERT_TRUE(rig.WaitForRunEnd(1));
    EXPECT_EQ(rig.m_window.LinesAt(210), std::vector<std::string>{"処理フレーム数 12 Frame"});
    // Unprocessed: the display still reads as a frame of the clip.
    EXPECT_GE(rig.DisplayedIndex(), 0);
}

TEST(FrameWorker, TwoWorkersRunAndCloseIndependently) {
    SFakeClip clip = AviClip(600);
    clip.dSpeed = 1.0;
    auto pFirst = std::make_unique<CWorkerRig>(clip);
    CWorkerRig second(clip);
    // Each shows its own first frame (no shared last-seek memory).
    EXPECT_TRUE(pFirst->WaitForDisplayed(0));
    EXPECT_TRUE(second.WaitForDisplayed(0));
    EXPECT_NE(pFirst->m_strFlag, second.m_strFlag);
    pFirst->m_worker.RequestPlay();
    second.m_worker.RequestPlay();
    ASSERT_TRUE(CWorkerRig::WaitUntil([&] { return second.m_worker.Position() >= 3; }));
    EXPECT_TRUE(pFirst->Close());
    pFirst.reset();
    const LONGLONG llAt = second.m_worker.Position();
    EXPECT_TRUE(CWorkerRig::WaitUntil([&] { return second.m_worker.Position() > llAt + 3; }));
    EXPECT_FALSE(second.m_worker.HasEnded());
}

TEST(FrameWorker, ClearingTheRunFlagEndsPlaybackAndIdleWorkers) {
    SFakeClip clip = AviClip(3000);
    clip.dSpeed = 1.0;
    {
        CWorkerRig rig(clip);
        rig.m_worker.RequestPlay();
        ASSERT_TRUE(CWorkerRig::WaitUntil([&] { return rig.m_worker.IsRunning(); }));
        EXPECT_TRUE(rig.Close());
    }
    {
        CWorkerRig rig(clip);
        EXPECT_TRUE(rig.WaitForDisplayed(0));
        EXPECT_TRUE(rig.Close());  // idle, waiting for a change
    }
    EXPECT_TRUE(CWorkerRig::WaitUntil([] { return CFakeFileGraph::LiveCount() == 0; }));
}

TEST(FrameWorker, ZeroFrameDurationFallsBackToThirtyFramesPerSecond) {
    SFakeClip clip = Mp4Clip(30);
    clip.rtFrame = 0;
    CWorkerRig rig(clip);
    EXPECT_EQ(rig.m_worker.FrameStep(), CFrameWorker::kFallbackFrameDuration);
    EXPECT_DOUBLE_EQ(rig.m_worker.FramesPerSecond(), 30.0);
    EXPECT_EQ(rig.m_worker.FrameCount(), 30);
    rig.m_worker.StepForward();
    EXPECT_TRUE(rig.WaitForDisplayed(1));
}

TEST(FrameWorker, FailedGraphEndsTheWorkerWithoutAFrame) {
    SFakeClip clip = AviClip(10);
    CFakeFileGraph::SetClip(clip);
    SetFileGraphFactory(&CFakeFileGraph::Factory);
    CFrameWorker worker;
    worker.m_strSourcePath = "clip";
    worker.m_nSourceKind = SOURCE_FILE;
    worker.m_nSeekMode = SEEK_COMPLETION;
    std::string strMessage;
    ASSERT_EQ(worker.ProbeFormat(nullptr, &strMessage), S_OK);
    clip.bFailOpen = true;
    CFakeFileGraph::SetClip(clip);
    CRecordingWindow window;
    const std::string strFlag = CRunFlag::NextName();
    CRunFlag flag = CRunFlag::Create(strFlag, 1);
    ASSERT_TRUE(worker.Start(&window, strFlag, nullptr));
    EXPECT_TRUE(CWorkerRig::WaitUntil([&] { return worker.HasEnded(); }));
    EXPECT_TRUE(worker.SetUpFailed());
    worker.Join();
    // The probe reports the failure with the dialog's message.
    CFrameWorker probe;
    probe.m_strSourcePath = "clip";
    EXPECT_TRUE(FAILED(probe.ProbeFormat(nullptr, &strMessage)));
    EXPECT_EQ(strMessage, "ファイルを開くことが出来ません");
}

TEST(FrameWorker, StillImageIsProcessedOnEveryPassWhilePlaying) {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = 40;
    bmi.bmiHeader.biWidth = 64;
    bmi.bmiHeader.biHeight = 48;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    std::vector<uint8_t> bits(64 * 3 * 48);
    DrawBottomUpPattern(bits.data(), 64, 48, 7);
    CFrameWorker worker;
    worker.m_nSourceKind = SOURCE_STILL;
    ASSERT_EQ(worker.TakeStillFrame(bmi, bits.data()), S_OK);
    worker.SetPlugin(&CountingPlugin);
    CRecordingWindow window;
    const std::string strFlag = CRunFlag::NextName();
    CRunFlag flag = CRunFlag::Create(strFlag, 1);
    ASSERT_TRUE(worker.Start(&window, strFlag, nullptr));
    EXPECT_TRUE(window.WaitFor([](CRecordingWindow& w) { return w.m_bSliderDisabled; }));
    g_nPluginCalls = 0;
    worker.RequestPlay();
    EXPECT_TRUE(CWorkerRig::WaitUntil([&] { return g_nPluginCalls.load() >= 3; }));
    {
        const CFrameWorker::CDisplayLock lock = worker.LockDisplay();
        EXPECT_EQ(ReadFrameIndex(lock.Bits(), 64, 48, 192), 7);
    }
    worker.RequestStop();
    EXPECT_TRUE(CWorkerRig::WaitUntil([&] { return !worker.IsPlaying(); }));
    flag.Set(0);
    worker.Wake();
    EXPECT_TRUE(CWorkerRig::WaitUntil([&] { return worker.HasEnded(); }));
    worker.Join();
}

}  // namespace
