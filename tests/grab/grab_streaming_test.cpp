// The grab renderer streaming: the consumer's copies against the streaming
// thread's renders and type changes, the held sample across stop and
// disconnection, and a running graph against the real system clock (plays
// in real time, ends with EC_COMPLETE at the last frame's stop time, a seek
// while running flushes and continues from the new position).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "grab_fixture.h"
#include "platform/media/system_clock.h"
#include "support/race_loops.h"

namespace pelora_test {
namespace {

constexpr REFERENCE_TIME kFrame30 = 333333;  // 30 frames per second

class GrabStreamingTest : public LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        m_pClock = new CSystemClock;
        m_pClock->AddRef();
    }
    void TearDown() override {
        EXPECT_EQ(m_pClock->Release(), 0u);
        EXPECT_EQ(DIBSectionsActive(), 0);
        LiveObjectsTest::TearDown();
    }
    REFERENCE_TIME Now() {
        REFERENCE_TIME t = 0;
        m_pClock->GetTime(&t);
        return t;
    }
    // The frame the consumer gets now, or -1 when none; checks that the copy
    // is the source's pattern: the index, then zeros up to the padded end.
    static int64_t TakeFrame(CGrabRenderer* pRenderer, std::vector<BYTE>& dest, bool* pBad) {
        pRenderer->UpdateFrameBuffer();
        const LONG cb = pRenderer->CopyFrameTo(dest.data(), static_cast<LONG>(dest.size()));
        if (cb == 0) return -1;
        if (cb != static_cast<LONG>(dest.size())) *pBad = true;
        for (size_t i = 4; i < dest.size(); ++i) {
            if (dest[i] != 0) {
                *pBad = true;
                break;
            }
        }
        return FrameIndex(dest.data());
    }

    CSystemClock* m_pClock = nullptr;
};

// The consumer sized its buffer once, for the first format. The stream then
// changes to a larger and later to a smaller frame while the consumer keeps
// updating and copying: every copy stays within the consumer's buffer, no
// copy reads a freed or smaller frame buffer (ASan), no field is touched
// without the frame lock (TSan), and each copy is one whole frame.
TEST_F(GrabStreamingTest, ConsumerCopiesStayInBoundsWhileTypeChangesMidStream) {
    GrabGraph graph(IdleSource(64, 48));
    CGrabRenderer* pRenderer = graph.Renderer();
    // Pool buffers big enough for the largest frame of the run.
    const LONG cbLarge = PaddedSize(320, 240);
    {
        IMemAllocator* pAlloc = graph.Allocator();
        ALLOCATOR_PROPERTIES request{3, cbLarge, 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        ASSERT_EQ(pAlloc->SetProperties(&request, &actual), S_OK);
        pAlloc->Release();
    }
    BITMAPINFO bmi;
    pRenderer->GetFrameFormat(&bmi);
    const LONG cbDest = static_cast<LONG>(bmi.bmiHeader.biSizeImage);
    ASSERT_EQ(cbDest, PaddedSize(64, 48));
    std::vector<BYTE> dest(static_cast<size_t>(cbDest));
    graph.Run();

    std::atomic<bool> bStop{false};
    std::atomic<int> nCopies{0};
    std::atomic<int> nBad{0};
    std::atomic<int> nOversized{0};
    std::thread consumer([&] {
        while (!bStop.load()) {
            pRenderer->UpdateFrameBuffer();
            const LONG cb = pRenderer->CopyFrameTo(dest.data(), cbDest);
            if (cb > cbDest) nOversized.fetch_add(1);
            if (cb > 0) {
                nCopies.fetch_add(1);
                if (!IsFramePattern(dest.data(), static_cast<size_t>(cb), 61)) nBad.fetch_add(1);
            }
            std::this_thread::yield();
        }
    });

    // The first phase keeps the connection's type; the others change it.
    const FrameSize phases[] = {{64, 48}, {320, 240}, {32, 24}};
    uint32_t index = 0;
    for (const FrameSize& size : phases) {
        VideoTypeParams params;
        params.width = size.width;
        params.height = size.height;
        const CMediaType mt = MakeVideoType(params);
        for (int i = 0; i < RaceLoops(60); ++i) {
            const CMediaType* pChange = i == 0 && size.width != 64 ? &mt : nullptr;
            ASSERT_EQ(graph.DeliverFrame(index++, PaddedSize(size.width, size.height), pChange),
                      S_OK);
        }
        EXPECT_EQ(pRenderer->GetFrameWidth(), size.width);
    }
    // On a loaded machine the consumer may not have run at all yet: the last
    // frame stays held, so it gets at least that one.
    ASSERT_TRUE(WaitUntil([&] { return nCopies.load() > 0; }));
    bStop = true;
    consumer.join();
    EXPECT_EQ(nBad.load(), 0);
    EXPECT_EQ(nOversized.load(), 0);
    // Three buffers were made; only the current one is left.
    EXPECT_EQ(DIBSectionsActive(), 1);
}

// A sample held across stop and disconnection would keep the pool's
// decommit from completing, and the next connection's SetProperties would
// fail with buffers outstanding. Every rendered sample asks the owner window
// to repaint; a window that closes meanwhile is skipped. The fixture checks
// that destruction with a held sample frees it and the frame buffer.
TEST_F(GrabStreamingTest, ReconnectionAfterStopWithHeldSampleSucceeds) {
    auto window = std::make_unique<RepaintCounter>();
    GrabGraph graph(IdleSource(64, 48), window->Handle());
    CGrabRenderer* pRenderer = graph.Renderer();
    graph.Run();
    ASSERT_EQ(graph.DeliverFrame(5, PaddedSize(64, 48)), S_OK);
    EXPECT_EQ(window->Count(), 1);
    graph.Stop();
    ASSERT_TRUE(pRenderer->HasLatestSample());  // kept across stop
    graph.Disconnect();
    EXPECT_FALSE(pRenderer->HasLatestSample());

    ASSERT_EQ(graph.Connect(), S_OK);
    EXPECT_TRUE(graph.Pin()->UsingGrabAllocator());
    graph.Run();
    window.reset();
    ASSERT_EQ(graph.DeliverFrame(6, PaddedSize(64, 48)), S_OK);
    pRenderer->UpdateFrameBuffer();
    std::vector<BYTE> dest(static_cast<size_t>(PaddedSize(64, 48)));
    ASSERT_EQ(pRenderer->CopyFrameTo(dest.data(), static_cast<LONG>(dest.size())),
              PaddedSize(64, 48));
    EXPECT_EQ(FrameIndex(dest.data()), 6u);
    EXPECT_EQ(DIBSectionsActive(), 1);
}

TEST_F(GrabStreamingTest, PlaysInRealTimeAndCompletesAtLastStopTime) {
    SourceOptions options;
    options.sizes = {{321, 241}};
    options.frames = 60;
    options.frameDuration = kFrame30;
    RepaintCounter window;
    GrabGraph graph(options, window.Handle(), m_pClock);
    CGrabRenderer* pRenderer = graph.Renderer();
    std::vector<BYTE> dest(static_cast<size_t>(PaddedSize(321, 241)));

    graph.Pause();
    const REFERENCE_TIME tStart = Now() + 20 * kMs;
    graph.Run(tStart);
    const REFERENCE_TIME tLastStop = tStart + 60 * kFrame30;

    bool bBad = false;
    int64_t last = -1;
    int nBackwards = 0;
    REFERENCE_TIME tMostEarly = 0;  // how far before its start time a frame was seen
    REFERENCE_TIME tComplete = 0;
    const REFERENCE_TIME tGiveUp = tLastStop + 5000 * kMs;
    while (Now() < tGiveUp) {
        const int64_t frame = TakeFrame(pRenderer, dest, &bBad);
        const REFERENCE_TIME tNow = Now();
        if (frame >= 0) {
            if (frame < last) ++nBackwards;
            tMostEarly = std::max(tMostEarly, tStart + frame * kFrame30 - tNow);
            last = frame;
        }
        if (graph.Sink().Count(EC_COMPLETE) > 0) {
            tComplete = tNow;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_NE(tComplete, 0) << "no EC_COMPLETE";
    // The renderer signals an end of stream closer than its timer's least
    // delay at once, so EC_COMPLETE may come somewhat before the stop time;
    // a busy machine may make it late, but not by seconds.
    EXPECT_GE(tComplete, tLastStop - 100 * kMs);
    EXPECT_LE(tComplete, tLastStop + 3000 * kMs);
    EXPECT_EQ(TakeFrame(pRenderer, dest, &bBad), 59);
    EXPECT_FALSE(bBad);
    EXPECT_EQ(nBackwards, 0);
    // Paced by the clock: frames go out at most a few milliseconds early
    // (the video renderer's display bias), never a stream's worth ahead.
    EXPECT_LT(tMostEarly, 20 * kMs);
    EXPECT_GE(window.Count(), 1);
    EXPECT_EQ(graph.Sink().Count(EC_ERRORABORT), 0);
}

TEST_F(GrabStreamingTest, SeekWhileRunningFlushesAndContinuesFromNewPosition) {
    SourceOptions options;
    options.sizes = {{64, 48}};
    options.frames = 90;
    options.frameDuration = kFrame30;
    GrabGraph graph(options, nullptr, m_pClock);
    CGrabRenderer* pRenderer = graph.Renderer();
    std::vector<BYTE> dest(static_cast<size_t>(PaddedSize(64, 48)));
    IMediaSeeking* pSeeking = nullptr;
    ASSERT_EQ(pRenderer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&pSeeking)),
              S_OK);

    graph.Pause();
    graph.Run(Now() + 20 * kMs);
    bool bBad = false;
    int64_t before = -1;
    ASSERT_TRUE(WaitUntil([&] {
        before = TakeFrame(pRenderer, dest, &bBad);
        return before >= 3;
    }));

    // Jump to frame 75 and play to the end (frame 89).
    LONGLONG llCurrent = 75 * kFrame30;
    ASSERT_EQ(pSeeking->SetPositions(&llCurrent, AM_SEEKING_AbsolutePositioning, nullptr,
                                     AM_SEEKING_NoPositioning),
              S_OK);
    std::vector<int64_t> after;
    ASSERT_TRUE(WaitUntil([&] {
        const int64_t frame = TakeFrame(pRenderer, dest, &bBad);
        if (frame >= 0 && (after.empty() || after.back() != frame)) after.push_back(frame);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return graph.Sink().Count(EC_COMPLETE) > 0;
    }));
    EXPECT_EQ(TakeFrame(pRenderer, dest, &bBad), 89);
    EXPECT_FALSE(bBad);
    // Frames between the old position and the new one were never played:
    // the old stream was flushed, not drained.
    for (int64_t frame : after) {
        EXPECT_TRUE(frame <= before + 2 || frame >= 75) << "frame " << frame << " after the seek";
    }
    ASSERT_FALSE(after.empty());
    EXPECT_GE(after.back(), 75);
    pSeeking->Release();
}

}  // namespace
}  // namespace pelora_test
