// CFileSourceFilter connected straight to a renderer, with the test event
// sink standing in for the graph: the media type it offers, the times and
// media times of its samples around a seek, where a segment ends, time
// format conversions, and stopping while its thread waits for a buffer.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/ffmpeg/file_source_filter.h"
#include "platform/media/media_guids.h"
#include "platform/test_clips.h"
#include "support/frame_keeping_renderer.h"
#include "support/live_objects.h"
#include "support/test_event_sink.h"

using namespace std::chrono;
using pelora_test::CClipCache;
using pelora_test::CFrameKeepingRenderer;
using pelora_test::CTestEventSink;

namespace {

// Source -> renderer, both in the test sink's "graph", no clock.
class SourceTest : public pelora_test::LiveObjectsTest {
protected:
    void Build(const std::string& strPath) {
        HRESULT hr = S_OK;
        m_pSource = CFileSourceFilter::Create(strPath, &hr);
        ASSERT_EQ(hr, S_OK);
        m_pSource->NonDelegatingAddRef();
        m_pRenderer = new CFrameKeepingRenderer(&hr);
        m_pRenderer->NonDelegatingAddRef();
        m_pSource->JoinFilterGraph(m_Sink.Graph(), L"Source");
        m_pRenderer->JoinFilterGraph(m_Sink.Graph(), L"Renderer");
        ASSERT_EQ(m_pSource->Pin()->Connect(m_pRenderer->GetPin(0), nullptr), S_OK);
        ASSERT_EQ(m_pSource->Pin()->QueryInterface(IID_IMediaSeeking,
                                                   reinterpret_cast<void**>(&m_pSeeking)),
                  S_OK);
    }
    void Play() {
        m_pRenderer->Pause();
        m_pSource->Pause();
        m_pRenderer->Run(0);
        m_pSource->Run(0);
    }
    void Stop() {
        m_pRenderer->Stop();  // renderer first: it releases a blocked source thread
        m_pSource->Stop();
    }
    // Plays [llStart, llStop) in the current time format to its end and stops
    // again; returns the indices of the frames rendered.
    std::vector<LONGLONG> PlaySegment(LONGLONG llStart, LONGLONG llStop) {
        m_Sink.Clear();
        m_pRenderer->ClearIndices();
        EXPECT_EQ(m_pSeeking->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, &llStop,
                                           AM_SEEKING_AbsolutePositioning),
                  S_OK);
        Play();
        EXPECT_TRUE(m_Sink.WaitForCount(EC_COMPLETE, 1));
        Stop();
        return m_pRenderer->Indices();
    }
    void TearDown() override {
        if (m_pSeeking) m_pSeeking->Release();
        if (m_pSource) {
            Stop();
            m_pRenderer->GetPin(0)->Disconnect();
            m_pSource->Pin()->Disconnect();
            m_pSource->JoinFilterGraph(nullptr, nullptr);
            m_pRenderer->JoinFilterGraph(nullptr, nullptr);
            m_pSource->NonDelegatingRelease();
            m_pRenderer->NonDelegatingRelease();
        }
        LiveObjectsTest::TearDown();
    }

    CTestEventSink m_Sink;
    CFileSourceFilter* m_pSource = nullptr;
    CFrameKeepingRenderer* m_pRenderer = nullptr;
    IMediaSeeking* m_pSeeking = nullptr;
};

TEST_F(SourceTest, SamplesCarrySegmentRelativeTimesAndAbsoluteMediaTimesAndStopAtTheStop) {
    Build(CClipCache::Get().Clip(EClipFormat::AviMpeg4, 64, 48, 30));
    const REFERENCE_TIME f = 400000;
    // Start inside frame 10, stop at the start of frame 14, which is not shown.
    const LONGLONG llStart = 10 * f + 1000;
    EXPECT_EQ(PlaySegment(llStart, 14 * f), (std::vector<LONGLONG>{10, 11, 12, 13}));
    const auto rendered = m_pRenderer->Rendered();
    ASSERT_EQ(rendered.size(), 4u);
    EXPECT_EQ(rendered[0].tStart, 0);  // the frame the seek fell into starts the segment
    EXPECT_EQ(rendered[0].tStop, 11 * f - llStart);
    for (size_t i = 0; i < rendered.size(); ++i) {
        const LONGLONG n = 10 + static_cast<LONGLONG>(i);
        ASSERT_TRUE(rendered[i].bMediaTime);
        EXPECT_EQ(rendered[i].llMediaStart, n * f);
        EXPECT_EQ(rendered[i].llMediaStop, (n + 1) * f);
        if (i > 0) {
            EXPECT_EQ(rendered[i].tStart, n * f - llStart);
        }
    }
    EXPECT_EQ(m_pSource->Pin()->EndOfStreamsSent(), 1);
}

TEST_F(SourceTest, AStopEqualToTheStartOrInsideAFrameStillDeliversThatOneFrame) {
    Build(CClipCache::Get().Clip(EClipFormat::AviMpeg4, 64, 48, 30));
    ASSERT_EQ(m_pSeeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
    EXPECT_EQ(PlaySegment(7, 7), std::vector<LONGLONG>{7});
    // Media time, stop 1 ms after the start: the frame, ending at the stop.
    ASSERT_EQ(m_pSeeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
    EXPECT_EQ(PlaySegment(12 * 400000, 12 * 400000 + 10000), std::vector<LONGLONG>{12});
    ASSERT_EQ(m_pRenderer->Rendered().size(), 1u);
    EXPECT_EQ(m_pRenderer->Rendered()[0].tStop, 10000);
    // At or past the end: the last frame.
    EXPECT_EQ(PlaySegment(40 * 400000, 40 * 400000 + 10000), std::vector<LONGLONG>{29});
}

TEST_F(SourceTest, FrameNumbersAndMediaTimesConvertBothWaysExactlyAtThirtyFps) {
    Build(CClipCache::Get().Clip(EClipFormat::AviMjpeg, 64, 48, 40, 30));
    EXPECT_EQ(m_pSeeking->IsFormatSupported(&TIME_FORMAT_FRAME), S_OK);
    EXPECT_EQ(m_pSeeking->IsFormatSupported(&TIME_FORMAT_BYTE), S_FALSE);
    for (LONGLONG n = 0; n <= 40; ++n) {
        LONGLONG llMedia = 0, llBack = -1;
        ASSERT_EQ(
            m_pSeeking->ConvertTimeFormat(&llMedia, &TIME_FORMAT_MEDIA_TIME, n, &TIME_FORMAT_FRAME),
            S_OK);
        ASSERT_EQ(m_pSeeking->ConvertTimeFormat(&llBack, &TIME_FORMAT_FRAME, llMedia,
                                                &TIME_FORMAT_MEDIA_TIME),
                  S_OK);
        EXPECT_EQ(llBack, n);
        // Anywhere inside frame n is frame n.
        ASSERT_EQ(m_pSeeking->ConvertTimeFormat(&llBack, &TIME_FORMAT_FRAME, llMedia + 333000,
                                                &TIME_FORMAT_MEDIA_TIME),
                  S_OK);
        EXPECT_EQ(llBack, n < 40 ? n : 40);
    }
    LONGLONG llDuration = 0;
    ASSERT_EQ(m_pSeeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
    EXPECT_EQ(m_pSeeking->GetDuration(&llDuration), S_OK);
    EXPECT_EQ(llDuration, 40);
    LONGLONG llStop = 0;
    EXPECT_EQ(m_pSeeking->GetStopPosition(&llStop), S_OK);
    EXPECT_EQ(llStop, 40);
    EXPECT_EQ(m_pSeeking->SetRate(2.0), E_INVALIDARG);
    LONGLONG llA = 5, llB = 4;
    EXPECT_EQ(m_pSeeking->SetPositions(&llA, AM_SEEKING_AbsolutePositioning, &llB,
                                       AM_SEEKING_AbsolutePositioning),
              E_INVALIDARG);  // stop before start
}

TEST_F(SourceTest, StopReleasesAThreadWaitingForABufferThatThePausedRendererHolds) {
    Build(CClipCache::Get().Clip(EClipFormat::AviMpeg4, 64, 48, 30));
    // Paused: the renderer holds the first sample, the thread fills the rest
    // of the pool and then waits for a free buffer.
    m_pRenderer->Pause();
    m_pSource->Pause();
    std::this_thread::sleep_for(milliseconds(200));
    const auto t0 = steady_clock::now();
    Stop();
    // A thread left waiting would hold Stop for good; allow a busy machine.
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - t0).count(), 10000);
    // Seeking while paused flushes and prerolls the new position.
    m_pRenderer->Pause();
    m_pSource->Pause();
    LONGLONG llStart = 20 * 400000, llStop = 30 * 400000;
    ASSERT_EQ(m_pSeeking->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, &llStop,
                                       AM_SEEKING_AbsolutePositioning),
              S_OK);
    FILTER_STATE fs = State_Stopped;
    EXPECT_EQ(m_pRenderer->GetState(5000, &fs), S_OK);
    m_pRenderer->Run(0);
    m_pSource->Run(0);
    ASSERT_TRUE(m_Sink.WaitForCount(EC_COMPLETE, 1));
    const auto shown = m_pRenderer->Indices();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), 29);
    EXPECT_GE(shown.front(), 20);
}

}  // namespace
