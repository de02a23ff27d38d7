// The filter graph manager with the FFmpeg file source, on generated clips
// whose frames show their own index, built and driven the way the
// frame-processing worker does it: a renderer added as "Renderer", then
// RenderFile; frame time format when offered; grabs by seeking with
// stop = position and WaitForCompletion (frame format), or with
// stop = position + 10000 and polling until the current position equals the
// stop (media time); playback by SetPositions(position, duration) and Run.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "grab/grab_renderer.h"
#include "platform/com/com_ref.h"
#include "platform/com/com_runtime.h"
#include "platform/ffmpeg/file_decoder.h"
#include "mediagraph/filter_graph.h"
#include "mediagraph/media_classes.h"
#include "platform/media/media_guids.h"
#include "platform/test_clips.h"
#include "support/frame_keeping_renderer.h"
#include "support/live_objects.h"
#include "tools/broken_clips.h"
#include "tools/frame_pattern.h"

namespace fs = std::filesystem;
using namespace std::chrono;
using pelora_test::CClipCache;
using pelora_test::CFrameKeepingRenderer;

namespace {

constexpr REFERENCE_TIME kFrame = 400000;  // 25 fps clips: 40 ms per frame

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// The worker's file graph: the grab renderer named "Renderer" (or, for the
// tests that need every rendered frame's index and times, the frame keeping
// test renderer), then RenderFile.
struct CWorkerGraph {
    explicit CWorkerGraph(bool bGrab = true) {
        EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(m_pGraph.Receive())),
                  S_OK);
        m_pGraph.QueryInto(IID_IMediaControl, &m_pControl);
        m_pGraph.QueryInto(IID_IMediaSeeking, &m_pSeeking);
        m_pGraph.QueryInto(IID_IMediaEventEx, &m_pEvent);
        HRESULT hr = S_OK;
        if (bGrab) {
            m_pRenderer = m_pGrab = new CGrabRenderer(nullptr, &hr);
        } else {
            m_pRenderer = m_pKeeper = new CFrameKeepingRenderer(&hr);
        }
        m_pRenderer->NonDelegatingAddRef();
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(m_pGraph->AddFilter(m_pRenderer, L"Renderer"), S_OK);
    }
    ~CWorkerGraph() {
        if (m_pControl) m_pControl->Stop();
        m_pEvent.Release();
        m_pSeeking.Release();
        m_pControl.Release();
        m_pGraph.Release();
        m_pRenderer->NonDelegatingRelease();
    }

    // RenderFile, then the worker's time format choice.
    HRESULT Open(const std::string& strPath) {
        const HRESULT hr = m_pGraph->RenderFile(Wide(strPath).c_str(), nullptr);
        if (FAILED(hr)) return hr;
        m_bFrameFormat = m_pSeeking->IsFormatSupported(&TIME_FORMAT_FRAME) == S_OK;
        if (m_bFrameFormat) {
            EXPECT_EQ(m_pSeeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
        }
        m_llStep = m_bFrameFormat ? 1
                   : m_pKeeper    ? m_pKeeper->Format().AvgTimePerFrame
                                  : m_pGrab->GetFrameDuration();
        return hr;
    }

    // The worker's grab: mode 1 in frame format, mode 3 in media time.
    int SeekAndGrab(LONGLONG llFrame) {
        const LONGLONG llPos = llFrame * m_llStep;
        EXPECT_EQ(SetPositions(llPos, m_bFrameFormat ? llPos : llPos + 10000), S_OK);
        m_pControl->Run();
        if (m_bFrameFormat) {
            LONG lCode = 0;
            EXPECT_EQ(m_pEvent->WaitForCompletion(static_cast<LONG>(INFINITE), &lCode), S_OK);
            EXPECT_EQ(lCode, EC_COMPLETE);
        } else {
            const auto deadline = steady_clock::now() + seconds(10);
            LONGLONG llCur = -1, llStopNow = 0;
            do {
                m_pSeeking->GetPositions(&llCur, &llStopNow);
                if (steady_clock::now() > deadline) {
                    ADD_FAILURE() << "position never reached the stop " << llStopNow;
                    break;
                }
            } while (llCur != llStopNow);
        }
        return LatestIndex();
    }

    HRESULT SetPositions(LONGLONG llPos, LONGLONG llStop) {
        return m_pSeeking->SetPositions(&llPos, AM_SEEKING_AbsolutePositioning, &llStop,
                                        AM_SEEKING_AbsolutePositioning);
    }
    LONGLONG Duration() {
        LONGLONG llDuration = 0;
        EXPECT_EQ(m_pSeeking->GetDuration(&llDuration), S_OK);
        return llDuration;
    }

    // The latest frame the grab renderer holds, as the worker copies it.
    std::vector<BYTE> Frame() {
        BITMAPINFO bmi{};
        m_pGrab->GetFrameFormat(&bmi);
        std::vector<BYTE> frame(bmi.bmiHeader.biSizeImage);
        m_pGrab->UpdateFrameBuffer();
        frame.resize(
            std::max<LONG>(0, m_pGrab->CopyFrameTo(frame.data(), static_cast<LONG>(frame.size()))));
        return frame;
    }
    int LatestIndex() {
        if (m_pKeeper) return m_pKeeper->LatestIndex();
        const std::vector<BYTE> frame = Frame();
        const LONG w = m_pGrab->GetFrameWidth(), h = m_pGrab->GetFrameHeight();
        const LONG stride = (3 * w + 3) & ~3;
        if (frame.size() < static_cast<size_t>(stride) * static_cast<size_t>(h)) return -1;
        return ReadFrameIndex(frame.data(), w, h, stride);
    }

    CComRef<IGraphBuilder> m_pGraph;
    CComRef<IMediaControl> m_pControl;
    CComRef<IMediaSeeking> m_pSeeking;
    CComRef<IMediaEventEx> m_pEvent;
    CBaseVideoRenderer* m_pRenderer = nullptr;
    CGrabRenderer* m_pGrab = nullptr;  // one of these two is the renderer
    CFrameKeepingRenderer* m_pKeeper = nullptr;
    bool m_bFrameFormat = false;
    LONGLONG m_llStep = 1;  // units per frame in the time format in use
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

// ---------------------------------------------------------------------------
// Every kind of clip, built as the worker builds it.

class EveryKind : public GraphTest,
                  public ::testing::WithParamInterface<std::tuple<EClipFormat, int, int>> {};

TEST_P(EveryKind, ConnectsRgb24ReportsItsFormatAndGrabsExactlyTheFrameAtEveryPosition) {
    const auto [eFormat, nWidth, nHeight] = GetParam();
    const int nFrames = 30;
    const std::string strPath = CClipCache::Get().Clip(eFormat, nWidth, nHeight, nFrames);
    CWorkerGraph g;
    ASSERT_EQ(g.Open(strPath), S_OK);

    // Connected in 24-bit RGB (the only type the renderer takes) at the clip's geometry.
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(g.m_pRenderer->GetPin(0)->ConnectionMediaType(&mt), S_OK);
    ASSERT_GE(mt.cbFormat, sizeof(VIDEOINFOHEADER));
    VIDEOINFOHEADER vih{};
    std::memcpy(&vih, mt.pbFormat, sizeof vih);
    FreeMediaType(mt);
    EXPECT_EQ(vih.bmiHeader.biWidth, nWidth);
    EXPECT_EQ(vih.bmiHeader.biHeight, nHeight);  // bottom-up
    EXPECT_EQ(vih.AvgTimePerFrame, kFrame);

    const bool bAvi = eFormat == EClipFormat::AviMpeg4 || eFormat == EClipFormat::AviMjpeg ||
                      eFormat == EClipFormat::AviRaw;
    EXPECT_EQ(g.m_bFrameFormat, bAvi);
    EXPECT_EQ(g.Duration() / g.m_llStep, nFrames);  // the worker's frame count

    // Forward and back, single steps and jumps, the first and the last frame.
    for (int nPos : {0, 17, 3, 29, 11, 12, 13, 12, 11, 28, 0, 1, 25}) {
        EXPECT_EQ(g.SeekAndGrab(nPos), nPos) << "grab at frame " << nPos;
    }

    // The copied frame (upright, or its index would not read) is, row padding
    // included, the decoder's own.
    ASSERT_EQ(g.SeekAndGrab(7), 7);
    const std::vector<BYTE> frame = g.Frame();
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(strPath), S_OK);
    std::vector<BYTE> expected(dec.GetImageSize());
    ASSERT_EQ(dec.SeekToTime(7 * kFrame), S_OK);
    ASSERT_EQ(dec.ReadFrame(expected.data(), expected.size(), nullptr), S_OK);
    EXPECT_TRUE(frame == expected);
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

// ---------------------------------------------------------------------------
// Positions and time formats

TEST_F(GraphTest, MediaTimeGrabsAtThirtyFpsShowFrameKForKTimesTheRoundedFrameDuration) {
    // 30 fps: AvgTimePerFrame is 333333, so k x 333333 lies a few 100-ns
    // units before frame k starts; the worker means frame k.
    const std::string strPath = CClipCache::Get().Clip(EClipFormat::Mp4H264, 96, 64, 60, 30);
    CWorkerGraph g(/*bGrab=*/false);
    ASSERT_EQ(g.Open(strPath), S_OK);
    ASSERT_FALSE(g.m_bFrameFormat);
    ASSERT_EQ(g.m_llStep, 333333);
    for (int n : {0, 1, 2, 31, 59, 44}) {
        g.m_pKeeper->ClearIndices();
        EXPECT_EQ(g.SeekAndGrab(n), n) << "grab at " << n << " x 333333";
        // Frame n itself starts the segment: not frame n - 1 first (which
        // the 1 ms of slack before the stop would hide only for the first
        // 30000 frames).
        EXPECT_EQ(g.m_pKeeper->Indices(), std::vector<LONGLONG>{n});
    }
    // At or past the end: the last frame, so that a grab there has a picture.
    EXPECT_EQ(g.SeekAndGrab(60), 59);
}

// The renderer reports positions in frames through these conversions; at
// 30 fps a frame lasts 333333.3 units, so a rounding slip shows one frame off.
TEST_F(GraphTest, FrameNumbersAndMediaTimesConvertBothWaysExactlyAtThirtyFps) {
    CWorkerGraph g;
    ASSERT_EQ(g.Open(CClipCache::Get().Clip(EClipFormat::AviMjpeg, 64, 48, 40, 30)), S_OK);
    ASSERT_TRUE(g.m_bFrameFormat);
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
    LONGLONG llStop = 0;
    EXPECT_EQ(g.Duration(), 40);
    EXPECT_EQ(pSeeking->GetStopPosition(&llStop), S_OK);
    EXPECT_EQ(llStop, 40);
}

// ---------------------------------------------------------------------------
// Playback

// Plays [start, end) with the system clock: frames in order, paced in real
// time, EC_COMPLETE close to the end, and a polled position that never runs
// ahead of the frame the renderer holds.
TEST_F(GraphTest, PlaybackFromAPositionRunsInRealTimeAndCompletesAtTheEnd) {
    const int nFrames = 40;
    CWorkerGraph g(/*bGrab=*/false);
    ASSERT_EQ(g.Open(CClipCache::Get().Clip(EClipFormat::AviMpeg4, 96, 64, nFrames)), S_OK);
    ASSERT_EQ(g.SeekAndGrab(10), 10);  // frame format: an AVI
    g.m_pKeeper->ClearIndices();

    g.SetPositions(10, g.Duration());
    // Run returns once the first frame is there, with the stream time
    // starting 10 ms later: the clip's end is due 1.2 s after that.
    g.m_pControl->Run();
    const auto t0 = steady_clock::now();
    bool bAhead = false, bBackwards = false;
    for (LONGLONG llLast = -1, llCur = 0, llStop = 1;
         llCur < llStop && steady_clock::now() - t0 < seconds(10); llLast = llCur) {
        std::this_thread::sleep_for(milliseconds(1));
        g.m_pSeeking->GetPositions(&llCur, &llStop);
        const int nShown = g.LatestIndex();
        if (llCur < llStop && nShown >= 0 && llCur > nShown) bAhead = true;
        if (llCur < llLast) bBackwards = true;
    }
    LONG lCode = 0;
    ASSERT_EQ(g.m_pEvent->WaitForCompletion(5000, &lCode), S_OK);
    const auto elapsed = duration_cast<milliseconds>(steady_clock::now() - t0).count();
    EXPECT_EQ(lCode, EC_COMPLETE);
    EXPECT_FALSE(bAhead) << "the position ran ahead of the rendered frame";
    EXPECT_FALSE(bBackwards);
    // 30 frames of 40 ms. The renderer signals the end at once when less
    // than 50 ms of the last frame remain, so it may come a little early;
    // it can come late on a busy machine, but not by seconds.
    EXPECT_GE(elapsed, 1200 - 100);
    EXPECT_LE(elapsed, 1200 + 3000);
    const std::vector<LONGLONG> shown = g.m_pKeeper->Indices();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), 10);
    EXPECT_EQ(shown.back(), nFrames - 1);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_EQ(shown.size(), 30u);  // none dropped
}

TEST_F(GraphTest, SeekWhileRunningFlushesAndPlaysTheNewSegmentInRealTime) {
    const int nFrames = 60;
    CWorkerGraph g(/*bGrab=*/false);
    ASSERT_EQ(g.Open(CClipCache::Get().Clip(EClipFormat::AviMpeg4, 96, 64, nFrames)), S_OK);
    g.SetPositions(0, nFrames);
    ASSERT_EQ(g.m_pControl->Run(), S_OK);
    std::this_thread::sleep_for(milliseconds(250));
    g.m_pKeeper->ClearIndices();
    LONGLONG llPos = 40;
    // The seek returns running again, the new segment due 10 ms later.
    ASSERT_EQ(g.m_pSeeking->SetPositions(&llPos, AM_SEEKING_AbsolutePositioning, nullptr,
                                         AM_SEEKING_NoPositioning),
              S_OK);
    const auto t0 = steady_clock::now();
    LONG lCode = 0;
    ASSERT_EQ(g.m_pEvent->WaitForCompletion(5000, &lCode), S_OK);
    const auto elapsed = duration_cast<milliseconds>(steady_clock::now() - t0).count();
    EXPECT_EQ(lCode, EC_COMPLETE);
    // The new segment plays in real time: not all late (which an old
    // stream time would make it), and not held back by seconds either.
    EXPECT_GE(elapsed, 20 * 40 - 100);
    EXPECT_LE(elapsed, 20 * 40 + 3000);
    const std::vector<LONGLONG> shown = g.m_pKeeper->Indices();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), 40);  // nothing of the old segment after the seek
    EXPECT_EQ(shown.back(), nFrames - 1);
}

// ---------------------------------------------------------------------------
// Failures

TEST_F(GraphTest, BrokenOrUnsuitableFilesFailRenderFileAndLeaveTheGraphAsItWas) {
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
        CWorkerGraph g;
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

// ---------------------------------------------------------------------------
// Graph bookkeeping and events

TEST_F(GraphTest, CompletionWaitsForTheRunAndAnAbortEndsItAtOnce) {
    const std::string strPath = CClipCache::Get().Clip(EClipFormat::AviMpeg4, 96, 64, 30);
    CWorkerGraph g;
    ASSERT_EQ(g.Open(strPath), S_OK);
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
    EXPECT_EQ(g.LatestIndex(), 3);
}

TEST_F(GraphTest, ReleasingARunningGraphStopsDisconnectsAndFreesEverything) {
    CWorkerGraph g;
    ASSERT_EQ(g.Open(CClipCache::Get().Clip(EClipFormat::Mp4H264, 96, 64, 50)), S_OK);
    g.m_pControl->Run();
    std::this_thread::sleep_for(milliseconds(100));
    g.m_pControl.Release();
    g.m_pSeeking.Release();
    g.m_pEvent.Release();
    g.m_pGraph.Release();  // the last reference: teardown while running
    // The renderer has left the graph and is unconnected; we still own it.
    EXPECT_FALSE(g.m_pRenderer->GetPin(0)->IsConnected());
    FILTER_INFO info{};
    ASSERT_EQ(g.m_pRenderer->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr);
}

}  // namespace
