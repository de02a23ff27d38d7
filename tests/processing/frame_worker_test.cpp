// The worker core without any window: on the fake file graph (frames show
// their own index), on still images, and on generated clips with the real
// file graph.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "fake_file_graph.h"
#include "processing/frame_worker.h"
#include "recording_window.h"
#include "tools/clip_writer.h"
#include "tools/frame_pattern.h"

namespace {

std::atomic<int> g_nPluginCalls{0};
int32_t CountingPlugin(uint8_t* pOut, const uint8_t* pIn, BITMAPINFO bmi) {
    std::memcpy(pOut, pIn, bmi.bmiHeader.biSizeImage);
    ++g_nPluginCalls;
    return 0;
}
// Inverts every byte, so a processed frame only reads back once inverted again.
int32_t InvertingPlugin(uint8_t* pOut, const uint8_t* pIn, BITMAPINFO bmi) {
    for (DWORD i = 0; i < bmi.bmiHeader.biSizeImage; ++i) pOut[i] = static_cast<uint8_t>(~pIn[i]);
    ++g_nPluginCalls;
    return 0;
}

template <class Pred>
bool WaitUntil(Pred pred, int nMs = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// One worker with its run flag and window, started like the dialog starts it.
class CWorkerRig {
public:
    explicit CWorkerRig(const SFakeClip& clip, TAVROFUNC pfnPlugin = &CountingPlugin,
                        bool bEveryFrame = false)
        : CWorkerRig(clip, clip, pfnPlugin, bEveryFrame) {}
    // Probes one fake clip and plays another (a graph that fails after the probe).
    CWorkerRig(const SFakeClip& probed, const SFakeClip& played, TAVROFUNC pfnPlugin,
               bool bEveryFrame) {
        SetFileGraphFactory(&CFakeFileGraph::Factory);
        CFakeFileGraph::SetClip(probed);
        Probe("clip", probed.bFrameFormat ? SEEK_COMPLETION : SEEK_POLL);
        CFakeFileGraph::SetClip(played);
        Start(pfnPlugin, bEveryFrame);
    }
    // A clip file on the real file graph.
    CWorkerRig(const std::string& strPath, SeekMode eMode) {
        SetFileGraphFactory(nullptr);
        Probe(strPath, eMode);
        Start(&CountingPlugin, false);
    }
    CWorkerRig(const BITMAPINFO& bmi, const BYTE* pBits) {
        m_worker.m_nSourceKind = SOURCE_STILL;
        EXPECT_EQ(m_worker.TakeStillFrame(bmi, pBits), S_OK);
        Start(&CountingPlugin, false);
    }
    ~CWorkerRig() { Close(); }

    bool Close() {
        m_flag.Set(0);
        m_worker.Wake();
        const bool bEnded = WaitUntil([&] { return m_worker.HasEnded(); });  // hang guard
        m_worker.Join();
        return bEnded;
    }
    // The frame index the display buffer shows (-1 when it shows none).
    int DisplayedIndex(bool bInverted = false) {
        const CFrameWorker::CDisplayLock lock = m_worker.LockDisplay();
        std::vector<uint8_t> bits(lock.Bits(), lock.Bits() + m_worker.ImageSize());
        if (bInverted)
            for (uint8_t& b : bits) b = static_cast<uint8_t>(~b);
        const int nStride = (3 * m_worker.Width() + 3) & ~3;
        return ReadFrameIndex(bits.data(), m_worker.Width(), m_worker.Height(), nStride);
    }
    bool WaitForDisplayed(int n, bool bInverted = false) {
        return WaitUntil([&] { return DisplayedIndex(bInverted) == n; });
    }
    bool WaitForRunEnd() {
        return m_window.WaitFor([](CRecordingWindow& w) { return w.m_nRunsEnded >= 1; });
    }
    template <class F>
    auto Window(F f) {
        return m_window.With(f);
    }

    CFrameWorker m_worker;
    CRecordingWindow m_window;
    std::string m_strFlag;
    CRunFlag m_flag;

private:
    void Probe(const std::string& strPath, SeekMode eMode) {
        m_worker.m_strSourcePath = strPath;
        m_worker.m_nSourceKind = SOURCE_FILE;
        m_worker.m_nSeekMode = eMode;
        std::string strMessage;
        EXPECT_EQ(m_worker.ProbeFormat(nullptr, &strMessage), S_OK) << strMessage;
    }
    void Start(TAVROFUNC pfnPlugin, bool bEveryFrame) {
        m_worker.SetPlugin(pfnPlugin);
        m_worker.SetEveryFrame(bEveryFrame);
        m_strFlag = CRunFlag::NextName();
        m_flag = CRunFlag::Create(m_strFlag, 1);
        EXPECT_TRUE(m_worker.Start(&m_window, m_strFlag, nullptr));
        EXPECT_TRUE(WaitUntil([&] { return m_worker.IsReady() || m_worker.HasEnded(); }));
    }
};

SFakeClip AviClip(int nFrames, double dSpeed = 4.0) {
    SFakeClip clip;
    clip.nFrames = nFrames;
    clip.dSpeed = dSpeed;
    return clip;
}
SFakeClip Mp4Clip(int nFrames, int nFpsNum = 0, REFERENCE_TIME rtFrame = 333333,
                  double dSpeed = 4.0) {
    SFakeClip clip = AviClip(nFrames, dSpeed);
    clip.bFrameFormat = false;
    clip.nFpsNum = nFpsNum;
    clip.rtFrame = rtFrame;
    return clip;
}

TEST(FrameWorker, FirstFrameShownIsFrameZeroAndCounterStartsAtZero) {
    CWorkerRig rig(AviClip(300));
    EXPECT_TRUE(rig.WaitForDisplayed(0));
    ASSERT_TRUE(
        rig.m_window.WaitFor([](CRecordingWindow& w) { return !w.m_counterTexts.empty(); }));
    EXPECT_EQ(rig.Window([](auto& w) { return w.m_counterTexts.front(); }),
              "0/    300 (0:00:00:00 / 0:00:10:00)");
    EXPECT_EQ(rig.Window([](auto& w) { return w.m_nSliderMax; }), 300);
    EXPECT_EQ(rig.Window([](auto& w) { return w.m_nTickFreq; }), 1800);
    EXPECT_EQ(rig.m_worker.FrameStep(), 1);
    EXPECT_DOUBLE_EQ(rig.m_worker.FramesPerSecond(), 30.0);
}

TEST(FrameWorker, RunFromZeroProcessesFramesInOrderToTheEndAndReportsStatistics) {
    const struct {
        const char* what;
        SFakeClip clip;
        TAVROFUNC pfnPlugin;
        bool bEveryFrame;
        size_t nMinProcessed;
        LONGLONG llMaxSkipped;
    } cases[] = {
        {"frame format", AviClip(24), &CountingPlugin, false, 1, 24},
        {"media time", Mp4Clip(24), &CountingPlugin, false, 1, 24},
        {"every frame, none skipped", AviClip(20), &CountingPlugin, true, 20, 0},
        // Frames start at n * 416666.67 rounded; the duration says 416667.
        {"24 fps media time", Mp4Clip(12, 24, 416667), &CountingPlugin, false, 1, 12},
        // Frame 2 starts at 333333, one unit short of frame 1's start plus the
        // duration (as every third frame): a graph that advanced by one frame
        // still shows a new one. At 15 frames a second every frame stays long
        // enough to be seen; a loaded machine may miss an odd one, never a third.
        {"60 fps, rounded duration", Mp4Clip(24, 60, 166667, 0.25), &CountingPlugin, false, 21, 2},
        {"no plug-in plays unprocessed", AviClip(12), nullptr, false, 0, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_nPluginCalls = 0;
        CWorkerRig rig(c.clip, c.pfnPlugin, c.bEveryFrame);
        rig.m_worker.RequestPlay();
        ASSERT_TRUE(rig.WaitForRunEnd());
        const std::string strCount = std::to_string(c.clip.nFrames);
        EXPECT_EQ(rig.m_window.LinesAt(210),
                  std::vector<std::string>{"処理フレーム数 " + strCount + " Frame"});
        const std::vector<std::string> perFrame = rig.m_window.LinesAt(220);
        ASSERT_EQ(perFrame.size(), 1u);
        EXPECT_EQ(perFrame[0].rfind("１フレームあたりの処理時間 ", 0), 0u);
        EXPECT_EQ(perFrame[0].substr(perFrame[0].size() - 2), "ms");
        const std::vector<std::string> total = rig.m_window.LinesAt(230);
        ASSERT_EQ(total.size(), 1u);
        EXPECT_EQ(total[0].rfind("総処理時間 ", 0), 0u);
        EXPECT_EQ(total[0].substr(total[0].size() - 5), " msec");
        bool bFrameLine = false;
        for (const std::string& s : rig.m_window.LinesAt(10))
            bFrameLine |= s.find("(count) ") != std::string::npos &&
                          s.find("(msec) ") != std::string::npos && s.back() == ')';
        EXPECT_TRUE(bFrameLine);

        const std::vector<LONGLONG> indexes =
            rig.Window([](auto& w) { return w.m_processedIndexes; });
        EXPECT_GE(indexes.size(), c.nMinProcessed);
        for (size_t i = 0; i < indexes.size(); ++i) {
            EXPECT_LT(indexes[i], c.clip.nFrames);  // the end position is the last frame, not frame N
            EXPECT_TRUE(i == 0 || indexes[i] > indexes[i - 1]) << i;
        }
        if (!indexes.empty()) {
            EXPECT_EQ(indexes.back(), c.clip.nFrames - 1);
        }
        EXPECT_LE(rig.Window([](auto& w) { return w.m_llLastSkipped; }), c.llMaxSkipped);
        EXPECT_EQ(g_nPluginCalls.load() > 0, c.pfnPlugin != nullptr);
        // Buttons reset, playing ended, position rewound, a frame of the clip shown.
        EXPECT_EQ(rig.Window([](auto& w) { return w.m_nButtonResets; }), 1);
        EXPECT_TRUE(
            WaitUntil([&] { return rig.m_worker.Position() == 0 && !rig.m_worker.IsPlaying(); }));
        EXPECT_GE(rig.DisplayedIndex(), 0);
    }
}

TEST(FrameWorker, StepsAndSliderMoveThePositionAndShowThatFrame) {
    const struct {
        const char* what;
        SFakeClip clip;
        LONGLONG llStep;
        double dFps;
    } cases[] = {
        {"frame format", AviClip(30), 1, 30.0},
        {"media time", Mp4Clip(30), 333333, 30.0},
        // Counted at the exact rate, not by the rounded duration.
        {"24 fps media time", Mp4Clip(12, 24, 416667), 416667, 24.0},
        {"zero duration falls back to 30 fps", Mp4Clip(30, 0, 0),
         CFrameWorker::kFallbackFrameDuration, 30.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const bool bFrames = c.clip.bFrameFormat;
        const auto positionOf = [&](int n) { return bFrames ? n : std::llround(n * 1e7 / c.dFps); };
        CWorkerRig rig(c.clip);
        ASSERT_TRUE(rig.WaitForDisplayed(0));
        EXPECT_EQ(rig.m_worker.FrameStep(), c.llStep);
        EXPECT_DOUBLE_EQ(rig.m_worker.FramesPerSecond(), c.dFps);
        EXPECT_EQ(rig.m_worker.FrameCount(), c.clip.nFrames);
        for (int n : {1, 2, 3}) {
            rig.m_worker.StepForward();
            EXPECT_TRUE(rig.WaitForDisplayed(n));
            EXPECT_EQ(rig.m_worker.FrameIndex(), n);
        }
        EXPECT_EQ(rig.m_worker.IndexOf(positionOf(3)), 3);  // frame 3's own start time
        rig.m_worker.StepBackward();
        EXPECT_EQ(rig.m_worker.Position(), bFrames ? 2 : 2 * c.llStep);
        EXPECT_TRUE(rig.WaitForDisplayed(2));

        const int nMid = c.clip.nFrames / 2 + 2;
        // The slider's text shows the position before the move.
        EXPECT_EQ(rig.m_worker.MoveToSliderPos(nMid).substr(0, 8), "      2/");
        EXPECT_EQ(rig.m_worker.Position(), positionOf(nMid));
        EXPECT_TRUE(rig.WaitForDisplayed(nMid));
        EXPECT_TRUE(
            rig.m_window.WaitFor([&](CRecordingWindow& w) { return w.m_nSliderPos == nMid; }));
        // The last frame, and back to a frame seen before: still sought again.
        for (int n : {c.clip.nFrames - 1, 3, 0}) {
            rig.m_worker.MoveToSliderPos(n);
            EXPECT_TRUE(rig.WaitForDisplayed(n)) << n;
        }
        // Beyond 2^31 x 100 ns the media-time position must not wrap.
        rig.m_worker.MoveToSliderPos(10000);
        EXPECT_EQ(rig.m_worker.Position(), positionOf(10000));
        EXPECT_EQ(rig.m_worker.FrameIndex(), 10000);
    }
}

TEST(FrameWorker, PauseKeepsThePositionAndProcessesTheFrameAgain) {
    CWorkerRig rig(AviClip(300, 1.0), &InvertingPlugin);
    rig.m_worker.RequestPlay();
    ASSERT_TRUE(WaitUntil([&] { return rig.m_worker.Position() >= 5; }));
    rig.m_worker.RequestPause();
    ASSERT_TRUE(WaitUntil([&] { return !rig.m_worker.IsRunning(); }));
    const LONGLONG llPaused = rig.m_worker.Position();
    const int nCalls = g_nPluginCalls.load();
    // Paused passes call the plug-in again on the same frame, and show it processed.
    EXPECT_TRUE(WaitUntil([&] { return g_nPluginCalls.load() >= nCalls + 3; }));
    EXPECT_EQ(rig.m_worker.Position(), llPaused);
    EXPECT_TRUE(rig.m_worker.IsPlaying());
    EXPECT_EQ(rig.DisplayedIndex(/*bInverted=*/true), llPaused);
    // "+1Frame" while paused: the next frame, processed.
    rig.m_worker.StepForward();
    EXPECT_TRUE(rig.WaitForDisplayed(static_cast<int>(llPaused) + 1, /*bInverted=*/true));
    rig.m_worker.RequestPlay();
    EXPECT_TRUE(WaitUntil([&] { return rig.m_worker.Position() > llPaused + 2; }));
}

TEST(FrameWorker, StopRewindsAndShowsFrameZeroAgain) {
    CWorkerRig rig(AviClip(300, 1.0));
    ASSERT_TRUE(rig.WaitForDisplayed(0));
    rig.m_worker.RequestPlay();  // from the position last sought
    ASSERT_TRUE(WaitUntil([&] { return rig.m_worker.Position() >= 5; }));
    rig.m_worker.RequestStop();
    ASSERT_TRUE(WaitUntil([&] { return !rig.m_worker.IsPlaying() && !rig.m_worker.IsRunning(); }));
    EXPECT_EQ(rig.m_worker.Position(), 0);
    // The frame shown is the frame at the position shown, not the last one played.
    EXPECT_TRUE(rig.WaitForDisplayed(0));
    EXPECT_TRUE(rig.m_window.WaitFor([](CRecordingWindow& w) { return w.m_nSliderPos == 0; }));
}

TEST(FrameWorker, TwoWorkersRunAndCloseIndependentlyPlayingOrIdle) {
    const SFakeClip clip = AviClip(3000, 1.0);
    auto pFirst = std::make_unique<CWorkerRig>(clip);
    CWorkerRig second(clip);
    // Each shows its own first frame (no shared last-seek memory).
    EXPECT_TRUE(pFirst->WaitForDisplayed(0));
    EXPECT_TRUE(second.WaitForDisplayed(0));
    EXPECT_NE(pFirst->m_strFlag, second.m_strFlag);
    pFirst->m_worker.RequestPlay();
    second.m_worker.RequestPlay();
    ASSERT_TRUE(
        WaitUntil([&] { return pFirst->m_worker.IsRunning() && second.m_worker.Position() >= 3; }));
    EXPECT_TRUE(pFirst->Close());  // while playing
    pFirst.reset();
    const LONGLONG llAt = second.m_worker.Position();
    EXPECT_TRUE(WaitUntil([&] { return second.m_worker.Position() > llAt + 3; }));
    EXPECT_FALSE(second.m_worker.HasEnded());
    second.m_worker.RequestStop();
    ASSERT_TRUE(WaitUntil([&] { return !second.m_worker.IsPlaying(); }));
    EXPECT_TRUE(second.Close());  // idle, waiting for a change
    EXPECT_TRUE(WaitUntil([] { return CFakeFileGraph::LiveCount() == 0; }));
}

TEST(FrameWorker, FailedGraphEndsTheWorkerWithoutAFrame) {
    SFakeClip broken = AviClip(10);
    broken.bFailOpen = true;
    CWorkerRig rig(AviClip(10), broken, &CountingPlugin, false);
    EXPECT_TRUE(WaitUntil([&] { return rig.m_worker.HasEnded(); }));
    EXPECT_TRUE(rig.m_worker.SetUpFailed());
    // The probe reports the failure with the dialog's message.
    CFrameWorker probe;
    probe.m_strSourcePath = "clip";
    std::string strMessage;
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
    CWorkerRig rig(bmi, bits.data());
    EXPECT_TRUE(rig.m_window.WaitFor([](CRecordingWindow& w) { return w.m_bSliderDisabled; }));
    g_nPluginCalls = 0;
    rig.m_worker.RequestPlay();
    EXPECT_TRUE(WaitUntil([&] { return g_nPluginCalls.load() >= 3; }));
    EXPECT_EQ(rig.DisplayedIndex(), 7);
    rig.m_worker.RequestStop();
    EXPECT_TRUE(WaitUntil([&] { return !rig.m_worker.IsPlaying(); }));
}

#ifdef PELORA_HAVE_FILE_GRAPH
namespace fs = std::filesystem;

// The real file graph on generated clips: an AVI stepped in frames, an MP4 in
// media time; each is stepped, moved, played, paused and resumed to the end.
TEST(FrameWorkerOnClips, ShowsTheFrameAtEachPositionAndPlaysToTheEnd) {
    const fs::path dir = fs::temp_directory_path() / ("pelora_worker_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const struct {
        const char* file;
        EClipFormat eFormat;
        int nFrames;
        SeekMode eMode;
        LONGLONG llStep;
    } cases[] = {
        {"clip.avi", EClipFormat::AviMpeg4, 30, SEEK_COMPLETION, 1},
        {"clip.mp4", EClipFormat::Mp4H264, 24, SEEK_POLL, 416667},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        SClipParams params;
        params.nWidth = 96;
        params.nHeight = 64;
        params.nFrames = c.nFrames;
        params.nFpsNum = c.nFrames;  // one second each
        params.eFormat = c.eFormat;
        ASSERT_EQ(WriteClip((dir / c.file).string(), params), "");
        CWorkerRig rig((dir / c.file).string(), c.eMode);
        ASSERT_TRUE(rig.m_worker.IsReady());
        EXPECT_EQ(rig.m_worker.FrameStep(), c.llStep);
        EXPECT_EQ(rig.m_worker.FrameCount(), c.nFrames);
        EXPECT_TRUE(rig.WaitForDisplayed(0));
        rig.m_worker.StepForward();
        EXPECT_EQ(rig.m_worker.Position(), c.llStep);
        EXPECT_TRUE(rig.WaitForDisplayed(1));
        rig.m_worker.StepForward();
        EXPECT_TRUE(rig.WaitForDisplayed(2));
        rig.m_worker.StepBackward();
        EXPECT_TRUE(rig.WaitForDisplayed(1));
        for (int n : {13, c.nFrames - 1, 4, 0}) {
            rig.m_worker.MoveToSliderPos(n);
            EXPECT_TRUE(rig.WaitForDisplayed(n)) << n;
        }

        // From 0 to the end: back at 0 showing frame 0, though the graph last
        // rendered the last frame.
        rig.m_worker.RequestPlay();
        ASSERT_TRUE(rig.WaitForRunEnd());
        const std::vector<LONGLONG> indexes = rig.Window([](auto& w) { return w.m_processedIndexes; });
        ASSERT_FALSE(indexes.empty());
        EXPECT_EQ(indexes.back(), c.nFrames - 1);  // the last frame once, as itself
        EXPECT_TRUE(std::adjacent_find(indexes.begin(), indexes.end(), std::greater_equal<>()) == indexes.end());
        EXPECT_EQ(
            rig.m_window.LinesAt(210),
            std::vector<std::string>{"処理フレーム数 " + std::to_string(c.nFrames) + " Frame"});
        EXPECT_TRUE(rig.WaitForDisplayed(0));

        // Paused: the frame stays; stopped: rewound to frame 0.
        rig.m_worker.RequestPlay();
        ASSERT_TRUE(WaitUntil([&] { return rig.m_worker.FrameIndex() >= 4; }));
        rig.m_worker.RequestPause();
        ASSERT_TRUE(WaitUntil([&] { return !rig.m_worker.IsRunning(); }));
        const LONGLONG llIndex = rig.m_worker.FrameIndex();
        EXPECT_TRUE(rig.WaitForDisplayed(static_cast<int>(llIndex)));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(rig.m_worker.FrameIndex(), llIndex);
        rig.m_worker.RequestStop();
        ASSERT_TRUE(WaitUntil([&] { return !rig.m_worker.IsPlaying(); }));
        EXPECT_EQ(rig.m_worker.Position(), 0);
        EXPECT_TRUE(rig.WaitForDisplayed(0));
    }
    fs::remove_all(dir);
}
#endif  // PELORA_HAVE_FILE_GRAPH

}  // namespace
