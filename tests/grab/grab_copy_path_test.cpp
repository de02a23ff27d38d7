// How frames travel from the streaming thread to the consumer: which sample
// is kept, how much of it is copied, and which pool decides the path.
#include <climits>
#include <cstring>
#include <vector>

#include "filterbase/mem_allocator.h"
#include "grab_fixture.h"

namespace pelora_test {
namespace {

class GrabCopyPathTest : public LiveObjectsTest {
protected:
    void TearDown() override {
        EXPECT_EQ(DIBSectionsActive(), 0);
        LiveObjectsTest::TearDown();
    }
};

// Copies the frame into dest prefilled with 0xAA; returns the bytes copied.
LONG CopyOut(CGrabRenderer* pRenderer, std::vector<BYTE>& dest) {
    std::fill(dest.begin(), dest.end(), BYTE{0xAA});
    return pRenderer->CopyFrameTo(dest.data(), static_cast<LONG>(dest.size()));
}

// With 3*W not a multiple of 4 the padded image is longer than 3*W*H; its
// last bytes (the right end of the top rows) must be refreshed too.
TEST_F(GrabCopyPathTest, OddWidthCopiesWholePaddedImage) {
    GrabGraph graph(IdleSource(321, 241));
    graph.Run();
    const LONG cb = 964 * 241;
    ASSERT_EQ(graph.DeliverFrame(3, cb), S_OK);
    graph.Renderer()->UpdateFrameBuffer();
    std::vector<BYTE> dest(static_cast<size_t>(cb) + 16);
    ASSERT_EQ(CopyOut(graph.Renderer(), dest), cb);
    EXPECT_TRUE(IsFramePattern(dest.data(), static_cast<size_t>(cb)));
    EXPECT_EQ(dest[static_cast<size_t>(cb)], 0xAA);
}

// A copy goes no further than the frame, the sample's actual length, the
// sample's buffer or the destination. The sample buffers are exactly
// GetSize() bytes, so ASan sees any read past them.
TEST_F(GrabCopyPathTest, CopyIsBoundedBySampleLengthBufferAndDestination) {
    GrabGraph graph(IdleSource(64, 48));
    graph.Run();
    CGrabRenderer* pRenderer = graph.Renderer();
    const LONG cbFrame = PaddedSize(64, 48);
    struct Case {
        LONG cbBuffer, lActual, cbDest, expected;
    };
    const Case cases[] = {
        {cbFrame, 1000, cbFrame, 1000},                          // short sample
        {500, cbFrame, cbFrame, 500},                            // length beyond its buffer
        {cbFrame, -5, cbFrame, 0},                               // negative length
        {cbFrame + 100, cbFrame + 100, cbFrame + 100, cbFrame},  // longer than the frame
        {cbFrame, cbFrame, 100, 100},                            // small destination
    };
    uint32_t index = 1;
    for (const Case& c : cases) {
        CTestSample sample(c.cbBuffer);
        FillFrame(sample.Data(), static_cast<size_t>(c.cbBuffer), index);
        sample.SetActual(c.lActual);
        ASSERT_EQ(graph.Pin()->Receive(&sample), S_OK);
        pRenderer->UpdateFrameBuffer();
        std::vector<BYTE> dest(static_cast<size_t>(c.cbDest));
        EXPECT_EQ(CopyOut(pRenderer, dest), c.expected) << "case " << index;
        if (c.expected > 0) {
            EXPECT_EQ(FrameIndex(dest.data()), index);
        }
        EXPECT_TRUE(IsFramePattern(dest.data(), static_cast<size_t>(c.expected)));
        if (c.expected < c.cbDest) {
            EXPECT_EQ(dest[static_cast<size_t>(c.expected)], 0xAA) << "case " << index;
        }
        pRenderer->ReleaseLatestSample();  // before the sample goes out of scope
        EXPECT_EQ(sample.RefCount(), 0);
        ++index;
    }
}

TEST_F(GrabCopyPathTest, NothingIsCopiedBeforeFirstSample) {
    GrabGraph graph(IdleSource(64, 48));
    graph.Run();
    graph.Renderer()->UpdateFrameBuffer();
    std::vector<BYTE> dest(64);
    EXPECT_EQ(CopyOut(graph.Renderer(), dest), 0);
    EXPECT_EQ(dest[0], 0xAA);
}

TEST_F(GrabCopyPathTest, SameSampleDeliveredTwiceKeepsItsReferenceCount) {
    GrabGraph graph(IdleSource(64, 48));
    graph.Run();
    CTestSample sample(PaddedSize(64, 48));
    ASSERT_EQ(graph.Pin()->Receive(&sample), S_OK);
    EXPECT_EQ(sample.RefCount(), 1);  // the renderer's
    ASSERT_EQ(graph.Pin()->Receive(&sample), S_OK);
    EXPECT_EQ(sample.RefCount(), 1);
    graph.Renderer()->ReleaseLatestSample();
    EXPECT_EQ(sample.RefCount(), 0);
}

// Only the latest of two samples reaches the frame buffer, the first is
// back in the pool as soon as the second replaced it, and the held one
// stays across a stop.
TEST_F(GrabCopyPathTest, OnlyLatestSampleIsCopiedAndEarlierOneReturnsToPool) {
    GrabGraph graph(IdleSource(64, 48));
    graph.Run();
    IMemAllocator* pAlloc = graph.Allocator();
    IMemAllocatorCallbackTemp* pCallback = nullptr;
    ASSERT_EQ(
        pAlloc->QueryInterface(IID_IMemAllocatorCallbackTemp, reinterpret_cast<void**>(&pCallback)),
        S_OK);
    pAlloc->Release();
    const LONG cb = PaddedSize(64, 48);
    ASSERT_EQ(graph.DeliverFrame(1, cb), S_OK);
    ASSERT_EQ(graph.DeliverFrame(2, cb), S_OK);
    LONG lFree = -1;
    ASSERT_EQ(pCallback->GetFreeCount(&lFree), S_OK);
    EXPECT_EQ(lFree, 4 - 1);  // 2 asked + 2 extra, one held
    pCallback->Release();

    graph.Stop();
    graph.Renderer()->UpdateFrameBuffer();
    std::vector<BYTE> dest(static_cast<size_t>(cb));
    ASSERT_EQ(CopyOut(graph.Renderer(), dest), cb);
    EXPECT_EQ(FrameIndex(dest.data()), 2u);
    EXPECT_TRUE(IsFramePattern(dest.data(), dest.size()));
}

TEST_F(GrabCopyPathTest, GrabAllocatorGrantsTwoMoreAndLeavesRequestAlone) {
    CGrabRendererAllocator* pAlloc = CGrabRendererAllocator::Create();
    ASSERT_NE(pAlloc, nullptr);
    pAlloc->NonDelegatingAddRef();
    ALLOCATOR_PROPERTIES request{3, 1000, 1, 0};
    const ALLOCATOR_PROPERTIES copy = request;
    ALLOCATOR_PROPERTIES actual{};
    ASSERT_EQ(pAlloc->SetProperties(&request, &actual), S_OK);
    EXPECT_EQ(actual.cBuffers, 5);
    EXPECT_EQ(actual.cbBuffer, 1000);
    EXPECT_EQ(std::memcmp(&request, &copy, sizeof(request)), 0);
    EXPECT_EQ(pAlloc->SetProperties(nullptr, &actual), E_POINTER);
    EXPECT_EQ(pAlloc->SetProperties(&request, nullptr), E_POINTER);
    request.cBuffers = INT32_MAX - 1;  // saturates instead of wrapping
    ASSERT_EQ(pAlloc->SetProperties(&request, &actual), S_OK);
    EXPECT_EQ(actual.cBuffers, INT32_MAX);
    pAlloc->NonDelegatingRelease();
}

// The grab path is chosen by comparing with the very interface pointer that
// GetAllocator handed out; any other pool selects the copying path.
TEST_F(GrabCopyPathTest, NotifyAllocatorSelectsGrabPathOnlyForOfferedPool) {
    GrabGraph graph(IdleSource(), nullptr, nullptr, /*bConnect=*/false);
    CGrabRendererInputPin* pPin = graph.Pin();
    EXPECT_EQ(pPin->GetAllocator(nullptr), E_POINTER);
    IMemAllocator* pOffered = nullptr;
    ASSERT_EQ(pPin->GetAllocator(&pOffered), S_OK);
    ASSERT_EQ(pPin->NotifyAllocator(pOffered, FALSE), S_OK);
    EXPECT_TRUE(pPin->UsingGrabAllocator());

    IMemAllocator* pForeign = nullptr;
    ASSERT_EQ(CMemAllocator::Create(&pForeign), S_OK);
    ASSERT_EQ(pPin->NotifyAllocator(pForeign, FALSE), S_OK);
    EXPECT_FALSE(pPin->UsingGrabAllocator());
    EXPECT_EQ(pPin->NotifyAllocator(nullptr, FALSE), E_POINTER);  // changes nothing
    EXPECT_FALSE(pPin->UsingGrabAllocator());
    pForeign->Release();
    pOffered->Release();
}

// With a pool of upstream's own, each frame is copied on the streaming
// thread, nothing is held, and the consumer's copy gets nothing.
TEST_F(GrabCopyPathTest, ForeignAllocatorCopiesOnStreamingThreadAndHoldsNothing) {
    SourceOptions options;
    options.frames = 3;
    options.ownAllocator = true;
    GrabGraph graph(options);
    ASSERT_FALSE(graph.Pin()->UsingGrabAllocator());
    graph.Run();
    ASSERT_TRUE(graph.Sink().WaitForCount(EC_COMPLETE, 1));
    EXPECT_FALSE(graph.Renderer()->HasLatestSample());
    EXPECT_EQ(graph.Renderer()->GetFrameCopySize(), PaddedSize(64, 48));
    std::vector<BYTE> dest(64);
    EXPECT_EQ(CopyOut(graph.Renderer(), dest), 0);
}

// A sample still held from our pool is dropped when upstream names another
// pool: the consumer must not copy it once upstream stopped filling our
// pool, and the pool gets its buffer back.
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
        : CGrabRenderer(nullptr, phr,
                        [] { return static_cast<CGrabRendererAllocator*>(nullptr); }) {}
};

TEST_F(GrabCopyPathTest, MissingGrabAllocatorIsReportedAndBasePoolIsOffered) {
    HRESULT hr = S_OK;
    auto* pRenderer = new CGrabRendererWithoutPool(&hr);
    pRenderer->AddRef();
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    CGrabRendererInputPin* pPin = pRenderer->GrabInputPin();
    IMemAllocator* pAlloc = nullptr;
    ASSERT_EQ(pPin->GetAllocator(&pAlloc), S_OK);
    ASSERT_NE(pAlloc, nullptr);
    ASSERT_EQ(pPin->NotifyAllocator(pAlloc, FALSE), S_OK);
    EXPECT_FALSE(pPin->UsingGrabAllocator());
    pAlloc->Release();
    pRenderer->Release();

    hr = E_FAIL;  // a failure already reported is kept
    pRenderer = new CGrabRendererWithoutPool(&hr);
    pRenderer->AddRef();
    EXPECT_EQ(hr, E_FAIL);
    pRenderer->Release();
}

}  // namespace
}  // namespace pelora_test
