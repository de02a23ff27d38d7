// How frames travel from the streaming thread to the consumer: which sample
// is kept, how much of it is copied, and which pool decides the path.
#include <climits>
#include <cstring>
#include <vector>

#include "filterbase/mem_allocator.h"
#include "grab_fixture.h"
#include "support/watchdog.h"

namespace pelora_test {
namespace {

class GrabCopyPathTest : public LiveObjectsTest {
protected:
    void TearDown() override {
        EXPECT_EQ(DIBSectionsActive(), 0);
        LiveObjectsTest::TearDown();
    }
};

// Copies the frame into a buffer of cbDest bytes prefilled with 0xAA;
// returns the bytes copied.
LONG CopyOut(CGrabRenderer* pRenderer, std::vector<BYTE>& dest) {
    std::fill(dest.begin(), dest.end(), BYTE{0xAA});
    return pRenderer->CopyFrameTo(dest.data(), static_cast<LONG>(dest.size()));
}

// With 3*W not a multiple of 4 the padded image is longer than 3*W*H; the
// last bytes (the right end of the top rows) must be refreshed too.
TEST_F(GrabCopyPathTest, OddWidthCopiesWholePaddedImage) {
    GrabGraph graph(IdleSource(321, 241));
    graph.Run();
    const LONG cb = PaddedSize(321, 241);
    ASSERT_EQ(cb, 964 * 241);
    ASSERT_EQ(graph.DeliverFrame(3, cb), S_OK);
    graph.Renderer()->UpdateFrameBuffer();
    EXPECT_EQ(graph.Renderer()->GetFrameCopySize(), cb);
    std::vector<BYTE> dest(static_cast<size_t>(cb) + 16);
    ASSERT_EQ(CopyOut(graph.Renderer(), dest), cb);
    EXPECT_TRUE(IsFramePattern(dest.data(), static_cast<size_t>(cb)));
    EXPECT_EQ(dest[static_cast<size_t>(cb)], 0xAA);  // nothing past the frame
}

// Samples that are shorter than the frame, or claim more data than their
// buffer holds, are copied only as far as both length and buffer go. The
// buffers here are exactly GetSize() bytes, so ASan sees any over-read.
TEST_F(GrabCopyPathTest, CopyIsBoundedBySampleLengthAndBufferSize) {
    GrabGraph graph(IdleSource(64, 48));
    graph.Run();
    CGrabRenderer* pRenderer = graph.Renderer();
    const LONG cbFrame = PaddedSize(64, 48);
    std::vector<BYTE> dest(static_cast<size_t>(cbFrame));

    struct Case {
        const char* name;
        LONG cbBuffer;
        LONG lActual;
        LONG expected;
    };
    const Case cases[] = {
        {"short actual length", cbFrame, 1000, 1000},
        {"actual length beyond buffer", 500, cbFrame, 500},
        {"negative actual length", cbFrame, -5, 0},
        {"longer than the frame", cbFrame + 100, cbFrame + 100, cbFrame},
    };
    uint32_t index = 1;
    for (const Case& c : cases) {
        CTestSample sample(c.cbBuffer);
        FillFrame(sample.Data(), static_cast<size_t>(c.cbBuffer), index);
        sample.SetActual(c.lActual);
        ASSERT_EQ(graph.Pin()->Receive(&sample), S_OK) << c.name;
        pRenderer->UpdateFrameBuffer();
        EXPECT_EQ(pRenderer->GetFrameCopySize(), c.expected) << c.name;
        EXPECT_EQ(CopyOut(pRenderer, dest), c.expected) << c.name;
        if (c.expected > 0) {
            EXPECT_EQ(FrameIndex(dest.data()), index) << c.name;
            EXPECT_TRUE(IsFramePattern(dest.data(), static_cast<size_t>(c.expected))) << c.name;
        }
        if (c.expected < cbFrame) {
            EXPECT_EQ(dest[static_cast<size_t>(c.expected)], 0xAA) << c.name;
        }
        // Drop the sample before it goes out of scope.
        pRenderer->ReleaseLatestSample();
        EXPECT_EQ(sample.RefCount(), 0) << c.name;
        ++index;
    }
}

// The destination's size bounds the copy too (a consumer that sized its
// buffer for a smaller format).
TEST_F(GrabCopyPathTest, CopyIsBoundedByDestinationSize) {
    GrabGraph graph(IdleSource(64, 48));
    graph.Run();
    ASSERT_EQ(graph.DeliverFrame(9, PaddedSize(64, 48)), S_OK);
    graph.Renderer()->UpdateFrameBuffer();
    std::vector<BYTE> small(100);
    EXPECT_EQ(CopyOut(graph.Renderer(), small), 100);
    EXPECT_EQ(FrameIndex(small.data()), 9u);
    EXPECT_EQ(graph.Renderer()->CopyFrameTo(nullptr, 100), 0);
    EXPECT_EQ(graph.Renderer()->CopyFrameTo(small.data(), 0), 0);
}

TEST_F(GrabCopyPathTest, NothingIsCopiedBeforeFirstSample) {
    GrabGraph graph(IdleSource(64, 48));
    graph.Run();
    graph.Renderer()->UpdateFrameBuffer();
    std::vector<BYTE> dest(static_cast<size_t>(PaddedSize(64, 48)));
    EXPECT_EQ(CopyOut(graph.Renderer(), dest), 0);
    EXPECT_EQ(dest[0], 0xAA);
    EXPECT_EQ(graph.Renderer()->GetFrameCopySize(), 0);
    EXPECT_FALSE(graph.Renderer()->HasLatestSample());
}

TEST_F(GrabCopyPathTest, SameSampleDeliveredTwiceKeepsItsReferenceCount) {
    GrabGraph graph(IdleSource(64, 48));
    graph.Run();
    CTestSample sample(PaddedSize(64, 48));
    FillFrame(sample.Data(), static_cast<size_t>(PaddedSize(64, 48)), 4);
    ASSERT_EQ(graph.Pin()->Receive(&sample), S_OK);
    EXPECT_EQ(sample.RefCount(), 1);  // the renderer's
    ASSERT_EQ(graph.Pin()->Receive(&sample), S_OK);
    EXPECT_EQ(sample.RefCount(), 1);
    graph.Renderer()->ReleaseLatestSample();
    EXPECT_EQ(sample.RefCount(), 0);
}

// Only the latest of two samples reaches the frame buffer, and the first is
// back in the pool as soon as the second replaced it.
TEST_F(GrabCopyPathTest, OnlyLatestSampleIsCopiedAndEarlierOneReturnsToPool) {
    GrabGraph graph(IdleSource(64, 48));
    graph.Run();
    IMemAllocator* pAlloc = graph.Allocator();
    IMemAllocatorCallbackTemp* pCallback = nullptr;
    ASSERT_EQ(pAlloc->QueryInterface(IID_IMemAllocatorCallbackTemp,
                                     reinterpret_cast<void**>(&pCallback)),
              S_OK);
    ALLOCATOR_PROPERTIES props{};
    ASSERT_EQ(pAlloc->GetProperties(&props), S_OK);
    const LONG cb = PaddedSize(64, 48);

    ASSERT_EQ(graph.DeliverFrame(1, cb), S_OK);
    ASSERT_EQ(graph.DeliverFrame(2, cb), S_OK);
    LONG lFree = -1;
    ASSERT_EQ(pCallback->GetFreeCount(&lFree), S_OK);
    EXPECT_EQ(lFree, props.cBuffers - 1);  // only the second is held

    graph.Renderer()->UpdateFrameBuffer();
    std::vector<BYTE> dest(static_cast<size_t>(cb));
    ASSERT_EQ(CopyOut(graph.Renderer(), dest), cb);
    EXPECT_EQ(FrameIndex(dest.data()), 2u);
    EXPECT_TRUE(IsFramePattern(dest.data(), dest.size()));
    pCallback->Release();
    pAlloc->Release();
}

// The consumer decides when the frame buffer changes: rendering alone does
// not touch it, and the held sample survives a stop.
TEST_F(GrabCopyPathTest, FrameBufferChangesOnlyWhenConsumerUpdates) {
    GrabGraph graph(IdleSource(64, 48));
    graph.Run();
    const LONG cb = PaddedSize(64, 48);
    std::vector<BYTE> dest(static_cast<size_t>(cb));
    ASSERT_EQ(graph.DeliverFrame(1, cb), S_OK);
    graph.Renderer()->UpdateFrameBuffer();
    ASSERT_EQ(graph.DeliverFrame(2, cb), S_OK);
    ASSERT_EQ(CopyOut(graph.Renderer(), dest), cb);
    EXPECT_EQ(FrameIndex(dest.data()), 1u);
    graph.Stop();
    EXPECT_TRUE(graph.Renderer()->HasLatestSample());
    graph.Renderer()->UpdateFrameBuffer();
    ASSERT_EQ(CopyOut(graph.Renderer(), dest), cb);
    EXPECT_EQ(FrameIndex(dest.data()), 2u);
}

TEST_F(GrabCopyPathTest, GrabAllocatorGrantsTwoMoreAndLeavesRequestAlone) {
    HRESULT hr = S_OK;
    auto* pAlloc = new CGrabRendererAllocator(&hr);
    pAlloc->NonDelegatingAddRef();
    ASSERT_EQ(hr, S_OK);
    ALLOCATOR_PROPERTIES request{3, 1000, 1, 0};
    const ALLOCATOR_PROPERTIES copy = request;
    ALLOCATOR_PROPERTIES actual{};
    ASSERT_EQ(pAlloc->SetProperties(&request, &actual), S_OK);
    EXPECT_EQ(actual.cBuffers, 5);
    EXPECT_EQ(actual.cbBuffer, 1000);
    EXPECT_EQ(std::memcmp(&request, &copy, sizeof(request)), 0);

    EXPECT_EQ(pAlloc->SetProperties(nullptr, &actual), E_POINTER);
    EXPECT_EQ(pAlloc->SetProperties(&request, nullptr), E_POINTER);
    // The count saturates instead of wrapping to a negative number.
    request.cBuffers = INT32_MAX - 1;
    ASSERT_EQ(pAlloc->SetProperties(&request, &actual), S_OK);
    EXPECT_EQ(actual.cBuffers, INT32_MAX);
    pAlloc->NonDelegatingRelease();

    // Through a connection: the source asks for 2.
    GrabGraph graph(IdleSource());
    IMemAllocator* pPool = graph.Allocator();
    ALLOCATOR_PROPERTIES props{};
    ASSERT_EQ(pPool->GetProperties(&props), S_OK);
    EXPECT_EQ(props.cBuffers, 4);
    pPool->Release();
}

TEST_F(GrabCopyPathTest, NotifyAllocatorNamesGrabPathOnlyForPointerGetAllocatorGave) {
    GrabGraph graph(IdleSource(), nullptr, nullptr, /*bConnect=*/false);
    CGrabRendererInputPin* pPin = graph.Pin();
    EXPECT_EQ(pPin->GetAllocator(nullptr), E_POINTER);

    IMemAllocator* pOffered = nullptr;
    ASSERT_EQ(pPin->GetAllocator(&pOffered), S_OK);
    ASSERT_NE(pOffered, nullptr);
    EXPECT_EQ(pOffered, pPin->GrabAllocator());
    ASSERT_EQ(pPin->NotifyAllocator(pOffered, FALSE), S_OK);
    EXPECT_TRUE(pPin->UsingGrabAllocator());

    IMemAllocator* pForeign = nullptr;
    ASSERT_EQ(CMemAllocator::Create(&pForeign), S_OK);
    ASSERT_EQ(pPin->NotifyAllocator(pForeign, FALSE), S_OK);
    EXPECT_FALSE(pPin->UsingGrabAllocator());
    // An installed pool is what GetAllocator offers from then on.
    IMemAllocator* pNow = nullptr;
    ASSERT_EQ(pPin->GetAllocator(&pNow), S_OK);
    EXPECT_EQ(pNow, pForeign);
    pNow->Release();
    // A failed notification changes nothing.
    EXPECT_EQ(pPin->NotifyAllocator(nullptr, FALSE), E_POINTER);
    EXPECT_FALSE(pPin->UsingGrabAllocator());
    ASSERT_EQ(pPin->NotifyAllocator(pOffered, FALSE), S_OK);
    EXPECT_TRUE(pPin->UsingGrabAllocator());
    pForeign->Release();
    pOffered->Release();
    // The connection (not made here) would release the pin's pool.
    EXPECT_EQ(pPin->BreakConnect(), S_OK);
    EXPECT_FALSE(pPin->UsingGrabAllocator());
}

// With a pool of upstream's own, each frame is copied on the streaming
// thread, nothing is held, and the consumer's copy gets nothing.
TEST_F(GrabCopyPathTest, ForeignAllocatorCopiesOnStreamingThreadAndHoldsNothing) {
    SourceOptions options;
    options.sizes = {{64, 48}};
    options.frames = 3;
    options.ownAllocator = true;
    GrabGraph graph(options);
    ASSERT_FALSE(graph.Pin()->UsingGrabAllocator());
    graph.Run();
    ASSERT_TRUE(graph.Sink().WaitForCount(EC_COMPLETE, 1));
    CGrabRenderer* pRenderer = graph.Renderer();
    EXPECT_FALSE(pRenderer->HasLatestSample());
    EXPECT_EQ(pRenderer->GetFrameCopySize(), PaddedSize(64, 48));
    std::vector<BYTE> dest(static_cast<size_t>(PaddedSize(64, 48)));
    pRenderer->UpdateFrameBuffer();
    EXPECT_EQ(CopyOut(pRenderer, dest), 0);
}

// A sample still held from our pool is dropped when upstream names another
// pool: the consumer must not copy it while upstream no longer fills it,
// and our pool gets its buffer back.
TEST_F(GrabCopyPathTest, ForeignAllocatorDropsSampleHeldFromGrabPool) {
    GrabGraph graph(IdleSource(64, 48));
    graph.Run();
    ASSERT_EQ(graph.DeliverFrame(1, PaddedSize(64, 48)), S_OK);
    graph.Stop();
    ASSERT_TRUE(graph.Renderer()->HasLatestSample());
    IMemAllocator* pForeign = nullptr;
    ASSERT_EQ(CMemAllocator::Create(&pForeign), S_OK);
    ASSERT_EQ(graph.Pin()->NotifyAllocator(pForeign, FALSE), S_OK);
    pForeign->Release();
    EXPECT_FALSE(graph.Renderer()->HasLatestSample());
    graph.Renderer()->UpdateFrameBuffer();
    std::vector<BYTE> dest(16);
    EXPECT_EQ(CopyOut(graph.Renderer(), dest), 0);
}

// A renderer whose pin could not build its pool.
class CGrabRendererWithoutPool : public CGrabRenderer {
public:
    explicit CGrabRendererWithoutPool(HRESULT* phr)
        : CGrabRenderer(nullptr, phr, [] { return static_cast<CGrabRendererAllocator*>(nullptr); }) {}
};

TEST_F(GrabCopyPathTest, MissingGrabAllocatorIsReportedAndBasePoolIsOffered) {
    HRESULT hr = S_OK;
    auto* pRenderer = new CGrabRendererWithoutPool(&hr);
    pRenderer->AddRef();
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    CGrabRendererInputPin* pPin = pRenderer->GrabInputPin();
    EXPECT_EQ(pPin->GrabAllocator(), nullptr);
    IMemAllocator* pAlloc = nullptr;
    ASSERT_EQ(pPin->GetAllocator(&pAlloc), S_OK);
    ASSERT_NE(pAlloc, nullptr);
    ASSERT_EQ(pPin->NotifyAllocator(pAlloc, FALSE), S_OK);
    EXPECT_FALSE(pPin->UsingGrabAllocator());
    pAlloc->Release();
    EXPECT_EQ(pPin->BreakConnect(), S_OK);
    pRenderer->Release();

    // A failure already in the result code is kept.
    hr = E_FAIL;
    pRenderer = new CGrabRendererWithoutPool(&hr);
    pRenderer->AddRef();
    EXPECT_EQ(hr, E_FAIL);
    pRenderer->Release();
}

}  // namespace
}  // namespace pelora_test
