// The worker core without any window: on the fake file graph (frames show
// their own index) and on generated clips with the real file graph.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <mutex>
#include <numeric>
#include <thread>
#include <utility>
#include <vector>

#include "fake_file_graph.h"
#include "recording_window.h"
#include "support/watchdog.h"
#include "processing/camera_frame_source.h"
#include "processing/file_frame_source.h"
#include "processing/still_frame_source.h"
#include "processing/frame_worker.h"
#include "platform/test_clips.h"
#include "tools/frame_pattern.h"

namespace {

using pelora_test::CClipCache;
using pelora_test::WaitUntil;

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

// Hang guard for waits that may span a whole playback run on a loaded
// machine (sanitizer builds).
constexpr std::chrono::seconds kRunBound{30};

// Records the index each frame handed to it shows (-1: none), in order.
std::mutex g_mxSeen;
std::vector<int> g_seen;  // guarded by g_mxSeen
int32_t RecordingPlugin(uint8_t* pOut, const uint8_t* pIn, BITMAPINFO bmi) {
    std::memcpy(pOut, pIn, bmi.bmiHeader.biSizeImage);
    const int nWidth = bmi.bmiHeader.biWidth, nHeight = bmi.bmiHeader.biHeight;
    const int nIndex = ReadFrameIndex(pIn, nWidth, nHeight, (3 * nWidth + 3) & ~3);
    std::lock_guard<std::mutex> lock(g_mxSeen);
    g_seen.push_back(nIndex);
    return 0;
}
std::vector<int> SeenAndClear() {
    std::lock_guard<std::mutex> lock(g_mxSeen);
    return std::exchange(g_seen, {});
}

// One worker with its run flag and window, started like the dialog starts it.
class CWorkerRig {
public:
    explicit CWorkerRig(const SFakeClip& clip, TAVROFUNC pfnPlugin = &CountingPlugin,
                        bool bEveryFrame = false) {
        SetFileGraphFactory(&CFakeFileGraph::Factory);
        CFakeFileGraph::SetClip(clip);
        const SeekMode eMode = clip.bFrameFormat ? SEEK_COMPLETION : SEEK_POLL;
        Start(std::make_unique<CFileFrameSource>("clip", eMode), pfnPlugin, bEveryFrame);
    }
    CWorkerRig(const std::string& strPath, SeekMode eMode, TAVROFUNC pfnPlugin = &CountingPlugin,
               bool bEveryFrame = false) {
        SetFileGraphFactory(nullptr);
        Start(std::make_unique<CFileFrameSource>(strPath, eMode), pfnPlugin, bEveryFrame);
    }
    CWorkerRig(std::unique_ptr<IFrameSource> pSource, TAVROFUNC pfnPlugin) {
        Start(std::move(pSource), pfnPlugin, false);
    }
    ~CWorkerRig() {
        m_flag.Set(0);
        m_worker.Wake();
        EXPECT_TRUE(WaitUntil([&] { return m_worker.HasEnded(); }, kRunBound));  // hang guard
        m_worker.Join();
    }

    std::vector<uint8_t> DisplayedBytes() {
        const CFrameWorker::CDisplayLock lock(m_worker);
        return std::vector<uint8_t>(lock.Bits(), lock.Bits() + m_worker.ImageSize());
    }
    // The frame index the display buffer shows (-1 when it shows none).
    int DisplayedIndex(bool bInverted = false) {
        std::vector<uint8_t> bits = DisplayedBytes();
        if (bInverted)
            for (uint8_t& b : bits) b = static_cast<uint8_t>(~b);
        const int nStride = (3 * m_worker.Width() + 3) & ~3;
        return ReadFrameIndex(bits.data(), m_worker.Width(), m_worker.Height(), nStride);
    }
    bool WaitForDisplayed(int n, bool bInverted = false) {
        return WaitUntil([&] { return DisplayedIndex(bInverted) == n; }, kRunBound);
    }
    bool WaitForRunEnd() {
        return WaitUntil([&] { return !m_window.Values("end").empty(); }, kRunBound);
    }
    bool WaitForSliderAt(int n) {
        return WaitUntil(
            [&] {
                const std::vector<std::string> v = m_window.Values("pos");
                return !v.empty() && v.back() == std::to_string(n);
            },
            kRunBound);
    }

    CFrameWorker m_worker;
    CRecordingWindow m_window;
    CRunFlag m_flag;

private:
    void Start(std::unique_ptr<IFrameSource> pSource, TAVROFUNC pfnPlugin, bool bEveryFrame) {
        m_worker.SetSource(std::move(pSource));
        std::string strMessage;
        EXPECT_EQ(m_worker.ProbeFormat(nullptr, &strMessage), S_OK) << strMessage;
        m_worker.SetPlugin(pfnPlugin);
        m_worker.SetEveryFrame(bEveryFrame);
        const std::string strFlag = CRunFlag::NextName();
        m_flag = CRunFlag::Create(strFlag, 1);
        EXPECT_TRUE(m_worker.Start(&m_window, strFlag, nullptr));
        EXPECT_TRUE(
            WaitUntil([&] { return m_worker.IsReady() || m_worker.HasEnded(); }, kRunBound));
    }
};

TEST(FrameWorker, RunFromZeroProcessesFramesInOrderToTheEndAndReportsStatistics) {
    const struct {
        const char* what;
        SFakeClip clip;
        bool bEveryFrame;
        size_t nMinProcessed;
        LONGLONG llMaxSkipped;
    } cases[] = {
        {"frame format", {.nFrames = 24, .dSpeed = 4}, false, 1, 24},
        {"media time", {.nFrames = 24, .bFrameFormat = false, .dSpeed = 4}, false, 1, 24},
        {"every frame, none skipped", {.nFrames = 20, .dSpeed = 4}, true, 20, 0},
        // A container may round its duration up a frame: the stream ends
        // before the count, and the run reports the frames it processed.
        {"every frame, short stream", {.nFrames = 20, .dSpeed = 4, .nDecodable = 18}, true, 18, 0},
        // Frame 2 starts at 333333, one unit short of frame 1's start plus the
        // duration (as every third frame): a graph that advanced by one frame
        // still shows a new one. At 15 frames a second every frame stays long
        // enough to be seen; a loaded machine may miss an odd one, never a third.
        {"60 fps, rounded duration",
         {.nFrames = 24, .rtFrame = 166667, .bFrameFormat = false, .dSpeed = 0.25, .nFpsNum = 60},
         false,
         21,
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int nStream = c.clip.nDecodable > 0 ? c.clip.nDecodable : c.clip.nFrames;
        g_nPluginCalls = 0;
        CWorkerRig rig(c.clip, &CountingPlugin, c.bEveryFrame);
        rig.m_worker.RequestPlay();
        ASSERT_TRUE(rig.WaitForRunEnd());
        // The line formats are checked on the headless runner's output.
        EXPECT_EQ(rig.m_window.Values("line 210"),
                  std::vector<std::string>{"処理フレーム数 " + std::to_string(nStream) + " Frame"});
        EXPECT_EQ(rig.m_window.Values("line 220").size(), 1u);
        EXPECT_EQ(rig.m_window.Values("line 230").size(), 1u);

        const std::vector<LONGLONG> indexes = rig.m_window.Processed();
        ASSERT_GE(indexes.size(), c.nMinProcessed);
        // Rising to the last frame: the end position is frame N-1, never frame N.
        EXPECT_TRUE(std::adjacent_find(indexes.begin(), indexes.end(), std::greater_equal<>()) ==
                    indexes.end());
        EXPECT_EQ(indexes.back(), nStream - 1);
        EXPECT_LE(std::stoll(rig.m_window.Values("end").front()), c.llMaxSkipped);
        EXPECT_GE(g_nPluginCalls.load(), static_cast<int>(indexes.size()));
        // Buttons reset, playing ended, position rewound, a frame of the clip shown.
        EXPECT_EQ(rig.m_window.Values("reset").size(), 1u);
        EXPECT_TRUE(WaitUntil(
            [&] { return rig.m_worker.Position() == 0 && !rig.m_worker.IsPlaying(); }, kRunBound));
        EXPECT_GE(rig.DisplayedIndex(), 0);
    }
}

TEST(FrameWorker, ShowsFrameZeroFirstAndStepsAndSliderMoveThePositionAndShowThatFrame) {
    const struct {
        const char* what;
        SFakeClip clip;
        LONGLONG llStep;
    } cases[] = {
        {"frame format", {.nFrames = 300, .dSpeed = 4}, 1},
        {"media time", {.nFrames = 300, .bFrameFormat = false, .dSpeed = 4}, 333333},
        {"zero duration falls back to 30 fps",
         {.nFrames = 300, .rtFrame = 0, .bFrameFormat = false, .dSpeed = 4},
         CFileFrameSource::kFallbackFrameDuration},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const bool bFrames = c.clip.bFrameFormat;
        const auto positionOf = [&](int n) { return bFrames ? n : std::llround(n * 1e7 / 30.0); };
        CWorkerRig rig(c.clip);
        ASSERT_TRUE(rig.WaitForDisplayed(0));
        ASSERT_TRUE(WaitUntil([&] { return !rig.m_window.Values("counter").empty(); }, kRunBound));
        EXPECT_EQ(rig.m_window.Values("counter").front(), "0/    300 (0:00:00:00 / 0:00:10:00)");
        EXPECT_EQ(rig.m_window.Values("range").front(), "300 1800");
        EXPECT_EQ(rig.m_worker.FrameStep(), c.llStep);
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
        EXPECT_TRUE(rig.WaitForSliderAt(nMid));
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

// Paused passes process the frame at the position again; Stop rewinds and
// shows frame 0 unprocessed, not the last frame played.
TEST(FrameWorker, PauseProcessesTheSameFrameAgainAndStopRewindsToFrameZero) {
    CWorkerRig rig({.nFrames = 300}, &InvertingPlugin);
    ASSERT_TRUE(rig.WaitForDisplayed(0));
    rig.m_worker.RequestPlay();  // from the position last sought
    ASSERT_TRUE(WaitUntil([&] { return rig.m_worker.Position() >= 5; }, kRunBound));
    rig.m_worker.RequestPause();
    ASSERT_TRUE(WaitUntil([&] { return !rig.m_worker.IsRunning(); }, kRunBound));
    const LONGLONG llPaused = rig.m_worker.Position();
    const int nCalls = g_nPluginCalls.load();
    EXPECT_TRUE(WaitUntil([&] { return g_nPluginCalls.load() >= nCalls + 3; }, kRunBound));
    EXPECT_EQ(rig.m_worker.Position(), llPaused);
    EXPECT_TRUE(rig.m_worker.IsPlaying());
    EXPECT_EQ(rig.DisplayedIndex(/*bInverted=*/true), llPaused);
    rig.m_worker.StepForward();  // "+1Frame" while paused: the next frame, processed
    EXPECT_TRUE(rig.WaitForDisplayed(static_cast<int>(llPaused) + 1, /*bInverted=*/true));
    rig.m_worker.RequestPlay();
    EXPECT_TRUE(WaitUntil([&] { return rig.m_worker.Position() > llPaused + 2; }, kRunBound));

    rig.m_worker.RequestStop();
    ASSERT_TRUE(WaitUntil([&] { return !rig.m_worker.IsPlaying() && !rig.m_worker.IsRunning(); },
                          kRunBound));
    EXPECT_EQ(rig.m_worker.Position(), 0);
    EXPECT_TRUE(rig.WaitForDisplayed(0));
    EXPECT_TRUE(rig.WaitForSliderAt(0));
}

// A source without positions (a still image; a camera alike): no slider, no
// counter, no run; the frame is processed on every pass while playing.
TEST(FrameWorker, SourceWithoutPositionsIsProcessedEveryPassWhilePlayingAndNeverRuns) {
    const BITMAPINFO bmi = BuildRgb24Format(30, 20);
    std::vector<uint8_t> image(bmi.bmiHeader.biSizeImage);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> inverted(image);
    for (uint8_t& b : inverted) b = static_cast<uint8_t>(~b);

    g_nPluginCalls = 0;
    CWorkerRig rig(std::make_unique<CStillFrameSource>(bmi, image.data(), image.size()),
                   &InvertingPlugin);
    ASSERT_TRUE(rig.m_worker.IsReady());
    EXPECT_EQ(rig.m_window.Values("disable").size(), 1u);
    EXPECT_EQ(rig.m_window.Values("counter"), std::vector<std::string>{""});
    EXPECT_TRUE(rig.m_window.Values("range").empty());
    EXPECT_TRUE(WaitUntil([&] { return rig.DisplayedBytes() == image; }, kRunBound));

    rig.m_worker.RequestPlay();
    EXPECT_TRUE(WaitUntil([&] { return g_nPluginCalls.load() >= 3; }, kRunBound));
    EXPECT_TRUE(rig.DisplayedBytes() == inverted);
    EXPECT_FALSE(rig.m_worker.IsRunning());
    EXPECT_TRUE(rig.m_window.Processed().empty()) << "no run, so no per-frame report";
    EXPECT_GE(rig.m_window.Values("line 10").size(), 3u);  // a pass line for every pass

    rig.m_worker.RequestStop();
    EXPECT_TRUE(WaitUntil([&] { return !rig.m_worker.IsPlaying(); }, kRunBound));
    EXPECT_TRUE(WaitUntil([&] { return rig.DisplayedBytes() == image; }, kRunBound));
    EXPECT_TRUE(rig.m_window.Values("line 210").empty());
}

// A seek the graph never completes holds the worker for the seek time-out
// once: then it is given up, said on the status line, and not tried again
// on the following passes (woken here at once) until the position changes.
TEST(FrameWorker, SeekThatNeverCompletesIsGivenUpOnceAndSaidOnTheStatusLine) {
    CWorkerRig rig({.nFrames = 30, .nNeverSeekTo = 5});
    ASSERT_TRUE(rig.WaitForDisplayed(0));
    rig.m_worker.MoveToSliderPos(5);
    const std::string strLine = "line " + std::to_string(CFrameWorker::kSeekStatusY);
    ASSERT_TRUE(WaitUntil(
        [&] { return !rig.m_window.Values(strLine).empty(); },
        std::chrono::milliseconds(CFileFrameSource::kSeekTimeoutMs + 20000)));  // hang guard
    EXPECT_EQ(rig.m_window.Values(strLine).back(), "フレーム 5 へのシークが完了しません");
    for (int i = 0; i < 5; ++i) {
        rig.m_worker.Wake();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(CFakeFileGraph::SeeksToNeverFrame(), 1);
    rig.m_worker.StepForward();
    EXPECT_TRUE(rig.WaitForDisplayed(6));
    EXPECT_EQ(rig.m_window.Values(strLine).back(), "");  // the next seek completed
}

// 30 fps in media time: 90 x 333333 lies before the end of a 90-frame clip,
// and the slider's range ends at the frame count. Neither every-frame nor a
// grab at the end may ask for a position the graph never reaches (it ends
// the stop at the end of the stream) and wait out the seek time-out.
TEST(FrameWorker, EveryFrameAndAGrabAtTheEndAskNothingPastTheLastFrame) {
    const SFakeClip clip{.nFrames = 90, .bFrameFormat = false, .nFpsNum = 30};
    CWorkerRig rig(clip, &CountingPlugin, /*bEveryFrame=*/true);
    rig.m_worker.RequestPlay();
    ASSERT_TRUE(rig.WaitForRunEnd());
    std::vector<LONGLONG> expected(90);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(rig.m_window.Processed(), expected);
    // Frame 0 at set-up, then the frame stream's one seek to frame 1.
    EXPECT_EQ(CFakeFileGraph::SeekRequests(), 2);

    rig.m_worker.MoveToSliderPos(90);
    EXPECT_TRUE(WaitUntil([&] { return CFakeFileGraph::SeekRequests() == 3; }));
    EXPECT_TRUE(rig.WaitForDisplayed(89));
}

// The buffers the first timed plug-in calls write are in memory before the
// worker starts: a first write to a fresh page faults it in (about 1 ms per
// MiB on a virtual machine), and that would be counted as plug-in time.
TEST(FrameWorker, FrameBuffersAreInMemoryBeforeTheFirstCall) {
    SetFileGraphFactory(&CFakeFileGraph::Factory);
    CFakeFileGraph::SetClip(SFakeClip{.nWidth = 1280, .nHeight = 720});
    CFrameWorker worker;
    worker.SetSource(std::make_unique<CFileFrameSource>("clip", SEEK_COMPLETION));
    std::string strMessage;
    ASSERT_EQ(worker.ProbeFormat(nullptr, &strMessage), S_OK) << strMessage;
    const CFrameWorker::CDisplayLock lock(worker);
    const size_t cbPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t uStart = reinterpret_cast<uintptr_t>(lock.Bits()) / cbPage * cbPage;
    const size_t cb = reinterpret_cast<uintptr_t>(lock.Bits()) + worker.ImageSize() - uStart;
    std::vector<unsigned char> abResident((cb + cbPage - 1) / cbPage);
    ASSERT_EQ(mincore(reinterpret_cast<void*>(uStart), cb, abResident.data()), 0);
    EXPECT_EQ(std::count_if(abResident.begin(), abResident.end(),
                            [](unsigned char b) { return (b & 1) == 0; }),
              0)
        << "pages not in memory out of " << abResident.size();
}

// A stream that ends before its frame count (a container that rounds its
// duration up a frame), in real time: the picture at the end is the last one
// decoded, not frame N-1 of the count, and no frame past it counts as
// skipped. Slowed down so that every frame is seen.
TEST(FrameWorker, PlaybackOfAStreamShorterThanItsCountEndsOnItsLastFrameNoneSkipped) {
    CWorkerRig rig(SFakeClip{.nFrames = 12, .dSpeed = 0.5, .nDecodable = 10}, &CountingPlugin,
                   /*bEveryFrame=*/false);
    rig.m_worker.RequestPlay();
    ASSERT_TRUE(rig.WaitForRunEnd());
    const std::vector<LONGLONG> indexes = rig.m_window.Processed();
    ASSERT_FALSE(indexes.empty());
    EXPECT_EQ(indexes.back(), 9);
    EXPECT_TRUE(std::adjacent_find(indexes.begin(), indexes.end(), std::greater_equal<>()) ==
                indexes.end());
    EXPECT_EQ(rig.m_window.Values("end"),
              std::vector<std::string>{std::to_string(10 - static_cast<LONGLONG>(indexes.size()))});
    EXPECT_EQ(rig.m_window.Values("line 210"), std::vector<std::string>{"処理フレーム数 10 Frame"});
}

// A paint may take as long as it likes: the worker publishes into buffers of
// its own and never waits for it, and the frame being painted stays as it
// was until the paint lets go; the next paint then shows the newest frame.
TEST(FrameWorker, LongPaintHoldsUpNeitherTheRunNorItsOwnFrame) {
    CWorkerRig rig(SFakeClip{.nFrames = 40}, &CountingPlugin, /*bEveryFrame=*/true);
    ASSERT_TRUE(rig.WaitForDisplayed(0));
    {
        const CFrameWorker::CDisplayLock paint(rig.m_worker);
        const std::vector<uint8_t> before(paint.Bits(), paint.Bits() + rig.m_worker.ImageSize());
        rig.m_worker.RequestPlay();
        ASSERT_TRUE(rig.WaitForRunEnd()) << "the run waited for the paint";
        EXPECT_EQ(rig.m_window.Processed().size(), 40u);
        EXPECT_TRUE(std::equal(before.begin(), before.end(), paint.Bits()))
            << "the frame being painted changed under the paint";
    }
    ASSERT_TRUE(rig.WaitForDisplayed(0));  // rewound after the run
    {
        const CFrameWorker::CDisplayLock paint(rig.m_worker);
        for (int i = 0; i < 3; ++i) rig.m_worker.StepForward();
        ASSERT_TRUE(rig.WaitForSliderAt(3)) << "the steps waited for the paint";
        const int nStride = (3 * rig.m_worker.Width() + 3) & ~3;
        EXPECT_EQ(
            ReadFrameIndex(paint.Bits(), rig.m_worker.Width(), rig.m_worker.Height(), nStride), 0);
    }
    EXPECT_EQ(rig.DisplayedIndex(), 3) << "the next paint shows the newest frame";
}

// The real file graph on clips with B-frames: in AVI their packets carry no
// presentation time and the decoder hands out the last pictures only when
// drained at the end of the file. Both kinds of run process each picture
// once, as its own frame, reach the last picture, and are back at frame 0
// showing frame 0, though the graph last rendered the last picture.
TEST(FrameWorkerOnClips, BFrameClipsProcessEachPictureOnceAsItsOwnFrameToTheLast) {
    const struct {
        EClipFormat eFormat;
        int nFrames, nBFrames;
        SeekMode eMode;
    } cases[] = {
        {EClipFormat::AviMpeg4, 100, 2, SEEK_COMPLETION},
        {EClipFormat::AviH264, 75, 3, SEEK_COMPLETION},
        {EClipFormat::Mp4H264, 50, 3, SEEK_POLL},
    };
    for (const auto& c : cases) {
        const std::string strPath =
            CClipCache::Get().Clip(c.eFormat, 96, 64, c.nFrames, 50, 12, c.nBFrames);
        for (bool bEveryFrame : {true, false}) {
            SCOPED_TRACE(std::string(ClipFormatName(c.eFormat)) +
                         (bEveryFrame ? ", every frame" : ", real time"));
            CWorkerRig rig(strPath, c.eMode, &RecordingPlugin, bEveryFrame);
            SeenAndClear();
            rig.m_worker.RequestPlay();
            ASSERT_TRUE(rig.WaitForRunEnd());
            const std::vector<int> seen = SeenAndClear();
            const std::vector<LONGLONG> processed = rig.m_window.Processed();
            ASSERT_FALSE(seen.empty());
            EXPECT_EQ(std::vector<int>(processed.begin(), processed.end()), seen);
            EXPECT_TRUE(std::adjacent_find(seen.begin(), seen.end(), std::greater_equal<>()) ==
                        seen.end());
            EXPECT_EQ(seen.back(), c.nFrames - 1);
            EXPECT_TRUE(!bEveryFrame || seen.size() == static_cast<size_t>(c.nFrames));
            // Every frame processed or counted as skipped, none lost before the end.
            EXPECT_EQ(
                static_cast<LONGLONG>(seen.size()) + std::stoll(rig.m_window.Values("end").front()),
                c.nFrames);
            EXPECT_TRUE(rig.WaitForDisplayed(0));
        }
    }
}

}  // namespace
