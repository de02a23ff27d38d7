// The consumer's copies against the streaming thread's renders and type
// changes, and the held sample across stop, disconnection and destruction.
#include <atomic>
#include <thread>
#include <vector>

#include "grab_fixture.h"
#include "support/race_loops.h"

namespace pelora_test {
namespace {

class GrabConcurrencyTest : public LiveObjectsTest {
protected:
    void TearDown() override {
        EXPECT_EQ(DIBSectionsActive(), 0) << "frame buffers leaked";
        LiveObjectsTest::TearDown();
    }
};

CMediaType RgbType(LONG width, LONG height) {
    VideoTypeParams params;
    params.width = width;
    params.height = height;
    CMediaType mt;
    MakeVideoType(params, &mt);
    return mt;
}

// The consumer sized its buffer once, for the first format. The stream then
// changes to a larger and later to a smaller frame while the consumer keeps
// updating and copying: every copy stays within the consumer's buffer, no
// copy reads a freed or smaller frame buffer (ASan), no field is touched
// without the frame lock (TSan), and each copy is one whole frame.
TEST_F(GrabConcurrencyTest, ConsumerCopiesStayInBoundsWhileTypeChangesMidStream) {
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

    const int nPerPhase = RaceLoops(60);
    const CMediaType large = RgbType(320, 240);
    const CMediaType small = RgbType(32, 24);
    uint32_t index = 0;
    for (int i = 0; i < nPerPhase; ++i) {
        ASSERT_EQ(graph.DeliverFrame(index++, PaddedSize(64, 48)), S_OK);
    }
    for (int i = 0; i < nPerPhase; ++i) {
        ASSERT_EQ(graph.DeliverFrame(index++, cbLarge, i == 0 ? &large : nullptr), S_OK);
    }
    EXPECT_EQ(pRenderer->GetFrameWidth(), 320);
    for (int i = 0; i < nPerPhase; ++i) {
        ASSERT_EQ(graph.DeliverFrame(index++, PaddedSize(32, 24), i == 0 ? &small : nullptr), S_OK);
    }
    EXPECT_EQ(pRenderer->GetFrameWidth(), 32);
    // Let the consumer see the last frame before stopping it.
    ASSERT_TRUE(WaitUntil([&] {
        pRenderer->UpdateFrameBuffer();
        std::vector<BYTE> last(static_cast<size_t>(PaddedSize(32, 24)));
        return pRenderer->CopyFrameTo(last.data(), static_cast<LONG>(last.size())) ==
                   PaddedSize(32, 24) &&
               FrameIndex(last.data()) == index - 1;
    }));
    // On a loaded machine the consumer may not have run at all yet: the last
    // frame stays held, so it gets at least that one.
    ASSERT_TRUE(WaitUntil([&] { return nCopies.load() > 0; }));
    bStop = true;
    consumer.join();
    EXPECT_GT(nCopies.load(), 0);
    EXPECT_EQ(nBad.load(), 0);
    EXPECT_EQ(nOversized.load(), 0);
    // Three buffers were made; only the current one is left.
    EXPECT_EQ(DIBSectionsActive(), 1);
}

// A sample held across stop and disconnection would keep the pool's
// decommit from completing, and the next connection's SetProperties would
// fail with buffers outstanding.
TEST_F(GrabConcurrencyTest, ReconnectionAfterStopWithHeldSampleSucceeds) {
    GrabGraph graph(IdleSource(64, 48));
    CGrabRenderer* pRenderer = graph.Renderer();
    graph.Run();
    ASSERT_EQ(graph.DeliverFrame(5, PaddedSize(64, 48)), S_OK);
    graph.Stop();
    ASSERT_TRUE(pRenderer->HasLatestSample());  // kept across stop
    graph.Disconnect();
    EXPECT_FALSE(pRenderer->HasLatestSample());

    ASSERT_EQ(graph.Connect(), S_OK);
    EXPECT_TRUE(graph.Pin()->UsingGrabAllocator());
    graph.Run();
    ASSERT_EQ(graph.DeliverFrame(6, PaddedSize(64, 48)), S_OK);
    pRenderer->UpdateFrameBuffer();
    std::vector<BYTE> dest(static_cast<size_t>(PaddedSize(64, 48)));
    ASSERT_EQ(pRenderer->CopyFrameTo(dest.data(), static_cast<LONG>(dest.size())),
              PaddedSize(64, 48));
    EXPECT_EQ(FrameIndex(dest.data()), 6u);
}

// Destroying the renderer with a sample held and a frame buffer built
// releases both: the fixture checks that no framework object and no frame
// buffer outlives the test.
TEST_F(GrabConcurrencyTest, DestructionReleasesHeldSampleAndFrameBuffer) {
    {
        SourceOptions options;
        options.sizes = {{64, 48}};
        options.frames = 5;
        GrabGraph graph(options);
        graph.Run();
        ASSERT_TRUE(graph.Sink().WaitForCount(EC_COMPLETE, 1));
        EXPECT_TRUE(graph.Renderer()->HasLatestSample());
        EXPECT_EQ(DIBSectionsActive(), 1);
    }
    EXPECT_EQ(DIBSectionsActive(), 0);
    EXPECT_EQ(CUnknown::ObjectsActive(), 0);
}

// Every rendered sample asks the owner window to repaint, from the
// streaming thread; a window that closes meanwhile is simply skipped.
TEST_F(GrabConcurrencyTest, RenderedSamplesInvalidateOwnerUntilItCloses) {
    auto counter = std::make_unique<RepaintCounter>();
    GrabGraph graph(IdleSource(64, 48), counter->Handle());
    graph.Run();
    for (uint32_t i = 0; i < 3; ++i) ASSERT_EQ(graph.DeliverFrame(i, 16), S_OK);
    EXPECT_EQ(counter->Count(), 3);
    counter.reset();  // the window is gone; rendering goes on
    ASSERT_EQ(graph.DeliverFrame(3, 16), S_OK);
    EXPECT_TRUE(graph.Renderer()->HasLatestSample());
}

}  // namespace
}  // namespace pelora_test
