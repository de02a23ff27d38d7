// The filter graph manager with the FFmpeg file source, on generated clips
// whose frames show their own index, mostly through the worker's file source.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <numeric>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "grab/grab_renderer.h"
#include "platform/com/com_ref.h"
#include "platform/com/com_runtime.h"
#include "platform/ffmpeg/file_decoder.h"
#include "mediagraph/filter_graph.h"
#include "mediagraph/media_classes.h"
#include "platform/media/media_guids.h"
#include "platform/test_clips.h"
#include "platform/win/window_handle.h"
#include "processing/file_frame_source.h"
#include "processing/frame_time.h"
#include "support/live_objects.h"
#include "support/watchdog.h"
#include "tools/broken_clips.h"
#include "tools/frame_pattern.h"

namespace fs = std::filesystem;
using namespace std::chrono;
using pelora_test::CClipCache;

namespace {

constexpr REFERENCE_TIME kFrame = 400000;  // 25 fps clips: 40 ms per frame

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

SeekMode SeekModeFor(const std::string& strPath) {
    return strPath.ends_with(".mp4") ? SEEK_POLL : SEEK_COMPLETION;
}

// The worker's file source on a clip, opened as the worker does it; the owner
// window counts the samples rendered (one invalidation each).
class CFileSourceRig {
public:
    explicit CFileSourceRig(const std::string& strPath)
        : m_source(strPath, SeekModeFor(strPath)),
          m_hwnd(RegisterWindowHandle(&CFileSourceRig::OnRender, this)) {}
    ~CFileSourceRig() {
        m_source.Close();
        UnregisterWindowHandle(m_hwnd);
    }

    HRESULT Open() {
        HRESULT hr = m_source.ProbeFormat(m_hwnd, &m_bmi, &m_strMessage);
        if (SUCCEEDED(hr)) hr = m_source.Open(m_hwnd, m_flag, &m_timeline);
        m_frame.assign(m_bmi.bmiHeader.biSizeImage, 0);
        return hr;
    }
    int GrabAt(LONGLONG llPos) {
        EXPECT_EQ(m_source.AcquireAt(llPos, m_frame.data(), Size()), S_OK) << "at " << llPos;
        return Shown();
    }
    int Latest() {  // -1: none rendered yet
        m_source.AcquireLatest(m_frame.data(), Size(), nullptr);
        return Shown();
    }
    LONG Renders() const { return m_nRenders.load(); }
    HRESULT Take() { return m_source.TakeNextFrame(m_frame.data(), Size(), 50); }
    LONGLONG At(int n) const {
        return FrameStartAt(n, m_timeline.nFrameStep, m_timeline.dFramesPerSecond);
    }
    int Shown() const {
        const LONG w = m_bmi.bmiHeader.biWidth, h = m_bmi.bmiHeader.biHeight;
        return m_frame.empty() ? -1 : ReadFrameIndex(m_frame.data(), w, h, (3 * w + 3) & ~3);
    }

    CFileFrameSource m_source;
    BITMAPINFO m_bmi{};
    SFrameTimeline m_timeline;
    std::string m_strMessage;
    std::vector<BYTE> m_frame;  // the worker's frame buffer

private:
    static void OnRender(void* pContext) { ++static_cast<CFileSourceRig*>(pContext)->m_nRenders; }
    DWORD Size() const { return static_cast<DWORD>(m_frame.size()); }

    const CRunFlag m_flag = CRunFlag::Create(CRunFlag::NextName(), 1);
    std::atomic<LONG> m_nRenders{0};
    const HWND m_hwnd;
};

// The graph manager's own interfaces around a grab renderer named "Renderer".
struct CGraphWithRenderer {
    CGraphWithRenderer() {
        EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(m_pGraph.Receive())),
                  S_OK);
        m_pGraph.QueryInto(IID_IMediaControl, &m_pControl);
        m_pGraph.QueryInto(IID_IMediaSeeking, &m_pSeeking);
        m_pGraph.QueryInto(IID_IMediaEventEx, &m_pEvent);
        HRESULT hr = S_OK;
        m_pRenderer = new CGrabRenderer(nullptr, &hr);
        m_pRenderer->NonDelegatingAddRef();
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(m_pGraph->AddFilter(m_pRenderer, L"Renderer"), S_OK);
    }
    ~CGraphWithRenderer() {
        if (m_pControl) m_pControl->Stop();
        m_pEvent.Release();
        m_pSeeking.Release();
        m_pControl.Release();
        m_pGraph.Release();
        m_pRenderer->NonDelegatingRelease();
    }
    void RenderInFrames(const std::string& strPath) {
        ASSERT_EQ(m_pGraph->RenderFile(Wide(strPath).c_str(), nullptr), S_OK);
        ASSERT_EQ(m_pSeeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
    }
    HRESULT SetPositions(LONGLONG llPos, LONGLONG llStop) {
        return m_pSeeking->SetPositions(&llPos, AM_SEEKING_AbsolutePositioning, &llStop,
                                        AM_SEEKING_AbsolutePositioning);
    }

    CComRef<IGraphBuilder> m_pGraph;
    CComRef<IMediaControl> m_pControl;
    CComRef<IMediaSeeking> m_pSeeking;
    CComRef<IMediaEventEx> m_pEvent;
    CGrabRenderer* m_pRenderer = nullptr;
};

class GraphTest : public pelora_test::LiveObjectsTest {
protected:
    void SetUp() override {
        ASSERT_EQ(RegisterMediaClasses(), S_OK);
        CoInitialize(nullptr);
        LiveObjectsTest::SetUp();
    }
    void TearDown() override {
        LiveObjectsTest::TearDown();
        CoUninitialize();
    }
};

class EveryKind : public GraphTest,
                  public ::testing::WithParamInterface<std::tuple<EClipFormat, int, int>> {};

TEST_P(EveryKind, ReportsTheClipsFormatAndTimelineAndGrabsExactlyTheFrameAtEveryPosition) {
    const auto [eFormat, nWidth, nHeight] = GetParam();
    const int nFrames = 30;
    const std::string strPath = CClipCache::Get().Clip(eFormat, nWidth, nHeight, nFrames);
    CFileSourceRig rig(strPath);
    ASSERT_EQ(rig.Open(), S_OK) << rig.m_strMessage;
    const BITMAPINFOHEADER& bih = rig.m_bmi.bmiHeader;
    EXPECT_EQ(bih.biWidth, nWidth);
    EXPECT_EQ(bih.biHeight, nHeight);
    EXPECT_EQ(bih.biBitCount, 24);
    EXPECT_EQ(bih.biSizeImage, static_cast<DWORD>(((3 * nWidth + 3) & ~3) * nHeight));
    // Frame time format for AVIs only.
    const bool bAvi = eFormat == EClipFormat::AviMpeg4 || eFormat == EClipFormat::AviMjpeg ||
                      eFormat == EClipFormat::AviRaw;
    EXPECT_TRUE(rig.m_timeline.bSeekable);
    EXPECT_EQ(rig.m_timeline.nFrameStep, bAvi ? 1 : kFrame);
    EXPECT_EQ(rig.m_timeline.nFrameCount, nFrames);
    EXPECT_EQ(rig.m_timeline.dFramesPerSecond, 25.0);
    const LONG nStep = rig.m_timeline.nFrameStep;
    for (int nPos : {0, 17, 3, 29, 11, 12, 13, 12, 11, 28, 0, 1, 25}) {
        EXPECT_EQ(rig.GrabAt(nPos * nStep), nPos) << "grab at frame " << nPos;
    }
    // Row padding included, the copy is the decoder's own frame.
    ASSERT_EQ(rig.GrabAt(7 * nStep), 7);
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(strPath), S_OK);
    std::vector<BYTE> expected(dec.GetImageSize());
    ASSERT_EQ(dec.SeekToTime(7 * kFrame), S_OK);
    ASSERT_EQ(dec.ReadFrame(expected.data(), expected.size(), nullptr), S_OK);
    EXPECT_TRUE(rig.m_frame == expected);
}

INSTANTIATE_TEST_SUITE_P(Clips, EveryKind,
                         ::testing::Values(std::tuple{EClipFormat::AviMpeg4, 96, 64},
                                           std::tuple{EClipFormat::AviMjpeg, 96, 64},
                                           std::tuple{EClipFormat::AsfWmv2, 96, 64},
                                           std::tuple{EClipFormat::AviRaw, 321, 241},
                                           std::tuple{EClipFormat::Mp4H264, 321, 241}),
                         [](const auto& kind) {  // "avi_mpeg4_96"
                             std::string s = ClipFormatName(std::get<0>(kind.param));
                             std::replace(s.begin(), s.end(), '-', '_');
                             return s + "_" + std::to_string(std::get<1>(kind.param));
                         });

TEST_F(GraphTest, MediaTimeGrabsAtThirtyFpsShowFrameKForPositionsBuiltFromTheRoundedFrameDuration) {
    // k x 333333 lies a few units before frame k starts; the worker means k.
    CFileSourceRig rig(CClipCache::Get().Clip(EClipFormat::Mp4H264, 96, 64, 60, 30));
    ASSERT_EQ(rig.Open(), S_OK) << rig.m_strMessage;
    ASSERT_EQ(rig.m_timeline.nFrameStep, 333333);
    // A seek, then m steps: up to k + m units before frame k + m starts.
    const auto StepsFrom = [](int k, int m) { return std::llround(k * 1e7 / 30) + m * 333333LL; };
    std::vector<std::pair<LONGLONG, int>> grabs;
    for (int k : {0, 1, 2, 59}) grabs.emplace_back(k * 333333LL, k);
    for (auto [k, m] : {std::pair{13, 1}, {20, 5}, {2, 40}})
        grabs.emplace_back(StepsFrom(k, m), k + m);
    for (const auto& [llPos, n] : grabs) {
        const LONG nRendersBefore = rig.Renders();
        EXPECT_EQ(rig.GrabAt(llPos), n) << "grab at " << llPos;
        // Frame n itself starts the segment, not frame n - 1.
        EXPECT_EQ(rig.Renders() - nRendersBefore, 1) << "grab at " << llPos;
    }
    // Past the last frame's start: the last frame.
    EXPECT_EQ(rig.GrabAt(60 * 333333LL), 59);
}

struct SBFrameClip {
    EClipFormat eFormat;
    int nFrames, nBFrames, nGop;
};

// B-frames: AVI packets carry only decode times, and the last pictures come
// only from draining the decoder. Every frame is grabbed by position as itself.
TEST_F(GraphTest, BFrameClipsGrabEveryFrameByPositionAsItself) {
    // Keyframe intervals that make the last picture a keyframe.
    for (const auto& [eFormat, nFrames, nBFrames, nGop] :
         {SBFrameClip{EClipFormat::AviMpeg4, 100, 2, 11},
          SBFrameClip{EClipFormat::AviH264, 75, 3, 37},
          SBFrameClip{EClipFormat::Mp4H264, 60, 3, 12}}) {
        SCOPED_TRACE(ClipFormatName(eFormat));
        CFileSourceRig rig(CClipCache::Get().Clip(eFormat, 96, 64, nFrames, 25, nGop, nBFrames));
        ASSERT_EQ(rig.Open(), S_OK);
        EXPECT_EQ(rig.m_timeline.nFrameCount, nFrames);
        // In order, then each of the last frames straight from frame 0.
        for (int n = 0; n < nFrames; ++n) EXPECT_EQ(rig.GrabAt(rig.At(n)), n);
        for (int n = nFrames - 15; n < nFrames; ++n) {
            ASSERT_EQ(rig.GrabAt(rig.At(0)), 0);
            EXPECT_EQ(rig.GrabAt(rig.At(n)), n);
        }
    }
}

// Single steps continue from the decoder's state (the next frame decoded
// already, earlier ones kept), across a keyframe and onto the last picture.
TEST_F(GraphTest, StepsOfOneFrameShowEachFrameAcrossAKeyframeAndAtTheEnd) {
    for (const auto& [eFormat, nFrames, nBFrames, nGop] :
         {SBFrameClip{EClipFormat::AviMpeg4, 40, 2, 10},
          SBFrameClip{EClipFormat::AviH264, 40, 3, 13},
          SBFrameClip{EClipFormat::Mp4H264, 40, 3, 10}}) {
        SCOPED_TRACE(ClipFormatName(eFormat));
        CFileSourceRig rig(CClipCache::Get().Clip(eFormat, 96, 64, nFrames, 25, nGop, nBFrames));
        ASSERT_EQ(rig.Open(), S_OK);
        // Over the second keyframe and back, then onto the last picture twice.
        std::vector<int> path = {nGop - 2};
        for (int i = 0; i < 4; ++i) path.push_back(path.back() + 1);
        for (int i = 0; i < 6; ++i) path.push_back(path.back() - 1);
        path.push_back(nFrames - 4);
        for (int i = 0; i < 3; ++i) path.push_back(path.back() + 1);
        for (int i = 0; i < 2; ++i) path.push_back(path.back() - 1);
        for (int i = 0; i < 2; ++i) path.push_back(path.back() + 1);
        ASSERT_EQ(path.back(), nFrames - 1);
        std::vector<int> shown;
        for (int n : path) shown.push_back(rig.GrabAt(rig.At(n)));
        EXPECT_EQ(shown, path);
    }
}

// At 30 fps a frame lasts 333333.3 units: a rounding slip shows one frame off.
TEST_F(GraphTest, FrameNumbersAndMediaTimesConvertBothWaysExactlyAtThirtyFps) {
    CGraphWithRenderer g;
    g.RenderInFrames(CClipCache::Get().Clip(EClipFormat::AviMjpeg, 64, 48, 40, 30));
    IMediaSeeking* pSeeking = g.m_pSeeking.Get();
    for (LONGLONG n = 0; n <= 40; ++n) {
        LONGLONG llMedia = 0, llBack = -1, llInside = -1;
        ASSERT_EQ(
            pSeeking->ConvertTimeFormat(&llMedia, &TIME_FORMAT_MEDIA_TIME, n, &TIME_FORMAT_FRAME),
            S_OK);
        pSeeking->ConvertTimeFormat(&llBack, &TIME_FORMAT_FRAME, llMedia, &TIME_FORMAT_MEDIA_TIME);
        pSeeking->ConvertTimeFormat(&llInside, &TIME_FORMAT_FRAME, llMedia + 333000,
                                    &TIME_FORMAT_MEDIA_TIME);
        EXPECT_EQ(llBack, n);
        EXPECT_EQ(llInside, n) << "anywhere inside frame n is frame n";
    }
    LONGLONG llDuration = 0, llStop = 0;
    EXPECT_EQ(pSeeking->GetDuration(&llDuration), S_OK);
    EXPECT_EQ(llDuration, 40);
    EXPECT_EQ(pSeeking->GetStopPosition(&llStop), S_OK);
    EXPECT_EQ(llStop, 40);
}

// Plays [40, end) as the worker's playback loop does, after a seek made while
// playing: the old segment flushed, the new one's frames in order, none
// dropped, in real time, the polled position never ahead of the frame shown.
TEST_F(GraphTest, SeekWhileRunningPlaysTheNewSegmentInRealTimeToTheEnd) {
    const int nFrames = 70;
    CFileSourceRig rig(CClipCache::Get().Clip(EClipFormat::AviMpeg4, 96, 64, nFrames));
    ASSERT_EQ(rig.Open(), S_OK) << rig.m_strMessage;
    ASSERT_EQ(rig.m_timeline.nFrameStep, 1);  // frame format: an AVI
    rig.m_source.StartStream(0, rig.m_timeline.llDuration);
    std::this_thread::sleep_for(milliseconds(250));
    const LONG nRendersBefore = rig.Renders();

    // The clip's end is due 1.2 s after the run starts.
    rig.m_source.StartStream(40, rig.m_timeline.llDuration);
    const auto t0 = steady_clock::now();
    bool bAhead = false, bBackwards = false;
    std::vector<int> shown;
    for (LONGLONG llLast = -1, llCur = 0;
         !rig.m_timeline.IsEndOfStream(llCur) && steady_clock::now() - t0 < seconds(30);
         llLast = llCur) {
        std::this_thread::sleep_for(milliseconds(1));
        llCur = rig.m_source.StreamPosition();
        const int nShown = rig.Latest();
        if (!rig.m_timeline.IsEndOfStream(llCur) && nShown >= 0 && llCur > nShown) bAhead = true;
        if (llCur < llLast) bBackwards = true;
        if (nShown >= 0 && (shown.empty() || shown.back() != nShown)) shown.push_back(nShown);
    }
    const auto elapsed = duration_cast<milliseconds>(steady_clock::now() - t0).count();
    EXPECT_FALSE(bAhead) << "the position ran ahead of the rendered frame";
    EXPECT_FALSE(bBackwards);
    // The end may come up to 50 ms early (the renderer signals it once less
    // remains), or late on a busy machine: 30 s is only a hang guard.
    EXPECT_TRUE(rig.m_timeline.IsEndOfStream(rig.m_source.StreamPosition())) << "no end in 30 s";
    EXPECT_GE(elapsed, 1200 - 100);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), 40) << "a frame of the old segment after the seek";
    EXPECT_EQ(shown.back(), nFrames - 1);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_EQ(rig.Renders() - nRendersBefore, 30) << "frames dropped or rendered twice";
}

// The every-frame stream (no clock, each frame held until taken): every
// frame once, in order, then only the end; a stop while a frame is held
// does not hang, and seeks work again afterwards.
TEST_F(GraphTest, FrameStreamGivesEveryFrameOnceInOrderThenOnlyTheEnd) {
    const int nFrames = 30;
    const struct {
        EClipFormat eFormat;
        int nFirst;
    } cases[] = {{EClipFormat::AviMpeg4, 7}, {EClipFormat::Mp4H264, 11}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(ClipFormatName(c.eFormat)) + " from " + std::to_string(c.nFirst));
        CFileSourceRig rig(CClipCache::Get().Clip(c.eFormat, 96, 64, nFrames, 30));
        ASSERT_EQ(rig.Open(), S_OK) << rig.m_strMessage;
        const SFrameTimeline& t = rig.m_timeline;
        rig.m_source.StartFrameStream(rig.At(c.nFirst), t.llDuration);
        std::vector<int> taken;
        HRESULT hr = S_OK;
        const auto deadline = steady_clock::now() + seconds(30);  // hang guard
        while (steady_clock::now() < deadline) {
            hr = rig.Take();
            if (hr == S_FALSE) break;
            if (hr == S_OK) taken.push_back(rig.Shown());
        }
        ASSERT_EQ(hr, S_FALSE);
        std::vector<int> expected(nFrames - c.nFirst);
        std::iota(expected.begin(), expected.end(), c.nFirst);
        EXPECT_EQ(taken, expected);
        EXPECT_EQ(rig.Take(), S_FALSE) << "a frame after the end";

        // Held mid-stream, then stopped.
        rig.m_source.StartFrameStream(rig.At(2), t.llDuration);
        ASSERT_EQ(rig.Take(), S_OK);
        EXPECT_EQ(rig.Shown(), 2);
        std::this_thread::sleep_for(milliseconds(20));  // the next frame is held now
        rig.m_source.StopStream();
        rig.m_source.ForgetPosition();
        EXPECT_EQ(rig.GrabAt(rig.At(5)), 5);

        // Started at the end: nothing to take.
        rig.m_source.StartFrameStream(t.llDuration, t.llDuration);
        EXPECT_EQ(rig.Take(), S_FALSE);
        rig.m_source.StopStream();
    }
}

TEST_F(GraphTest, BrokenOrUnsuitableFilesFailToOpenAndLeaveTheGraphAsItWas) {
    CClipCache& cache = CClipCache::Get();
    const std::string strGoodMp4 = cache.Clip(EClipFormat::Mp4H264, 96, 64, 30);
    const std::string strTruncatedMp4 = cache.Path("truncated.mp4"),
                      strAudio = cache.Path("audio.wav"), strFifo = cache.Path("pipe.avi");
    ASSERT_EQ(WriteTruncatedCopy(strGoodMp4, strTruncatedMp4,
                                 static_cast<int64_t>(fs::file_size(strGoodMp4) / 2)),
              "");
    ASSERT_EQ(WriteAudioOnlyClip(strAudio), "");
    ASSERT_EQ(::mkfifo(strFifo.c_str(), 0600), 0);  // no writer: opening it must not block
    for (const std::string& strPath :
         {strTruncatedMp4, strAudio, strFifo, cache.Path("missing.avi")}) {
        CFileSourceRig rig(strPath);
        EXPECT_TRUE(FAILED(rig.Open())) << strPath;
        EXPECT_EQ(rig.m_strMessage, "ファイルを開くことが出来ません") << strPath;
        const CRunFlag flag = CRunFlag::Create(CRunFlag::NextName(), 1);
        SFrameTimeline timeline;
        EXPECT_TRUE(FAILED(rig.m_source.Open(nullptr, flag, &timeline))) << strPath;
        rig.m_source.Close();

        CGraphWithRenderer g;
        EXPECT_TRUE(FAILED(g.m_pGraph->RenderFile(Wide(strPath).c_str(), nullptr))) << strPath;
        EXPECT_FALSE(g.m_pRenderer->GetPin(0)->IsConnected());
        CComRef<IEnumFilters> pEnum;
        ASSERT_EQ(g.m_pGraph->EnumFilters(pEnum.Receive()), S_OK);
        IBaseFilter* apFilters[4] = {};
        ULONG n = 0;
        pEnum->Next(4, apFilters, &n);
        EXPECT_EQ(n, 1u) << "only the renderer stays: " << strPath;
        for (ULONG i = 0; i < n; ++i) apFilters[i]->Release();
    }
}

TEST_F(GraphTest, CompletionWaitsForTheRunAndAnAbortEndsItAtOnce) {
    CGraphWithRenderer g;
    g.RenderInFrames(CClipCache::Get().Clip(EClipFormat::AviMpeg4, 96, 64, 30));
    LONG lCode = -1;
    g.SetPositions(0, 29);
    g.m_pControl->Run();
    EXPECT_EQ(g.m_pEvent->WaitForCompletion(50, &lCode), E_ABORT);  // 1.2 s to go
    CComRef<IMediaEventSink> pSink;
    ASSERT_EQ(
        g.m_pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(pSink.Receive())),
        S_OK);
    EXPECT_EQ(pSink->Notify(EC_ERRORABORT, E_FAIL, 0), S_OK);
    EXPECT_EQ(g.m_pEvent->WaitForCompletion(static_cast<LONG>(INFINITE), &lCode), S_OK);
    EXPECT_EQ(lCode, EC_ERRORABORT);
    // A new run forgets the abort.
    g.m_pControl->Stop();
    g.SetPositions(3, 3);
    g.m_pControl->Run();
    EXPECT_EQ(g.m_pEvent->WaitForCompletion(5000, &lCode), S_OK);
    EXPECT_EQ(lCode, EC_COMPLETE);
}

TEST_F(GraphTest, ReleasingARunningGraphStopsDisconnectsAndFreesEverything) {
    CGraphWithRenderer g;
    ASSERT_EQ(g.m_pGraph->RenderFile(
                  Wide(CClipCache::Get().Clip(EClipFormat::Mp4H264, 96, 64, 50)).c_str(), nullptr),
              S_OK);
    g.m_pControl->Run();
    std::this_thread::sleep_for(milliseconds(100));
    g.m_pControl.Release();
    g.m_pSeeking.Release();
    g.m_pEvent.Release();
    g.m_pGraph.Release();  // the last reference: teardown while running
    EXPECT_FALSE(g.m_pRenderer->GetPin(0)->IsConnected());
    FILTER_INFO info{};
    ASSERT_EQ(g.m_pRenderer->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr);
}

}  // namespace
