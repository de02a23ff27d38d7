// The grab renderer's media types and copy path: which types it accepts and
// what it adopts from them (format blocks read within their length, geometry
// validated before any size is computed, a failed adoption changing
// nothing), which sample is kept, how much of it is copied, and which pool
// decides the path.
#include <climits>
#include <cstring>
#include <functional>
#include <iterator>
#include <vector>

#include "filterbase/mem_allocator.h"
#include "platform/com/com_ref.h"
#include "grab_fixture.h"

namespace pelora_test {
namespace {

class GrabRendererTest : public LiveObjectsTest {
protected:
    void TearDown() override {
        EXPECT_EQ(DIBSectionsActive(), 0) << "frame buffers leaked";
        LiveObjectsTest::TearDown();
    }
};

BITMAPINFOHEADER Header(CGrabRenderer* pRenderer) {
    BITMAPINFO bmi;
    pRenderer->GetFrameFormat(&bmi);
    return bmi.bmiHeader;
}

// Copies the frame into dest prefilled with 0xAA; returns the bytes copied.
LONG CopyOut(CGrabRenderer* pRenderer, std::vector<BYTE>& dest) {
    std::fill(dest.begin(), dest.end(), BYTE{0xAA});
    pRenderer->UpdateFrameBuffer();
    return pRenderer->CopyFrameTo(dest.data(), static_cast<LONG>(dest.size()));
}

// Refused types get S_FALSE exactly from CheckMediaType and from the pin's
// QueryAccept; the size limit is the padded image (stride x |H|) in 64 bits.
TEST_F(GrabRendererTest, AcceptsOnlyRgb24BiRgbWithValidGeometryUnderTwoGiB) {
    const std::pair<std::function<void(VideoTypeParams&)>, HRESULT> cases[] = {
        {[](VideoTypeParams&) {}, S_OK},
        {[](VideoTypeParams& s) { s.height = -48; }, S_OK},
        {[](VideoTypeParams& s) { s.width = 321, s.height = 241, s.sizeImage = 0; }, S_OK},
        {[](VideoTypeParams& s) { s.width = 4, s.height = 178956970; }, S_OK},  // 2^31 - 8 bytes
        {[](VideoTypeParams& s) { s.cbFormat = 200; }, S_OK},
        {[](VideoTypeParams& s) { s.compression = BI_BITFIELDS; }, S_FALSE},
        {[](VideoTypeParams& s) { s.bitCount = 32; }, S_FALSE},
        {[](VideoTypeParams& s) { s.subtype = MEDIASUBTYPE_RGB32; }, S_FALSE},
        {[](VideoTypeParams& s) { s.format = FORMAT_VideoInfo2; }, S_FALSE},
        {[](VideoTypeParams& s) { s.major = MEDIATYPE_Audio; }, S_FALSE},
        {[](VideoTypeParams& s) { s.cbFormat = 87; }, S_FALSE},
        {[](VideoTypeParams& s) { s.width = 0; }, S_FALSE},
        {[](VideoTypeParams& s) { s.width = -1; }, S_FALSE},
        {[](VideoTypeParams& s) { s.height = 0; }, S_FALSE},
        {[](VideoTypeParams& s) { s.height = INT32_MIN; }, S_FALSE},
        {[](VideoTypeParams& s) { s.width = 30000, s.height = -30000; }, S_FALSE},  // 2.7e9 bytes
        {[](VideoTypeParams& s) { s.width = INT32_MAX, s.height = 1; }, S_FALSE},
    };
    GrabGraph graph(IdleSource(), nullptr, nullptr, /*bConnect=*/false);
    for (size_t i = 0; i < std::size(cases); ++i) {
        VideoTypeParams params;
        cases[i].first(params);
        const CMediaType mt = MakeVideoType(params);
        EXPECT_EQ(graph.Renderer()->CheckMediaType(&mt), cases[i].second) << "case " << i;
        EXPECT_EQ(graph.Pin()->QueryAccept(&mt), cases[i].second) << "case " << i;
    }
    // A length without a block.
    CMediaType mt = MakeVideoType(VideoTypeParams{});
    mt.ResetFormatBuffer();
    mt.cbFormat = sizeof(VIDEOINFOHEADER);
    EXPECT_EQ(graph.Renderer()->CheckMediaType(&mt), S_FALSE);
    EXPECT_EQ(graph.Renderer()->SetMediaType(&mt), S_OK);
    mt.cbFormat = 0;
    EXPECT_EQ(Header(graph.Renderer()).biWidth, 0);
}

TEST_F(GrabRendererTest, AdoptsGeometryLow32BitsOfDurationAndAPaddedImageSize) {
    GrabGraph graph(IdleSource(), nullptr, nullptr, /*bConnect=*/false);
    CGrabRenderer* pRenderer = graph.Renderer();
    VideoTypeParams params;
    params.height = -48;
    params.avgTimePerFrame = (REFERENCE_TIME{5} << 32) + 333667;
    CMediaType mt = MakeVideoType(params);
    ASSERT_EQ(pRenderer->SetMediaType(&mt), S_OK);
    EXPECT_EQ(pRenderer->GetFrameWidth(), 64);
    EXPECT_EQ(pRenderer->GetFrameHeight(), 48);
    EXPECT_EQ(Header(pRenderer).biHeight, -48);  // top-down stays top-down
    EXPECT_EQ(pRenderer->GetFrameDuration(), 333667);

    // Short blocks and other format types change nothing.
    const std::pair<GUID, ULONG> ignored[] = {
        {FORMAT_VideoInfo, 87}, {FORMAT_VideoInfo2, 111}, {FORMAT_VideoInfo2, 88}, {GUID_NULL, 0}};
    for (const auto& [format, cbFormat] : ignored) {
        VideoTypeParams other;
        other.format = format;
        other.cbFormat = cbFormat;
        other.width = 32;
        mt = MakeVideoType(other);
        EXPECT_EQ(pRenderer->SetMediaType(&mt), S_OK) << cbFormat;
        EXPECT_EQ(Header(pRenderer).biWidth, 64) << cbFormat;
        EXPECT_EQ(pRenderer->GetFrameDuration(), 333667) << cbFormat;
    }

    // VIDEOINFOHEADER2 keeps its header at byte 72; byte 48 holds nonsense.
    params = VideoTypeParams{};
    params.format = FORMAT_VideoInfo2;
    params.width = 100;
    params.height = 50;
    params.avgTimePerFrame = 0;  // legal: unknown rate
    params.fill = 0xEE;
    mt = MakeVideoType(params);
    ASSERT_EQ(pRenderer->SetMediaType(&mt), S_OK);
    EXPECT_EQ(pRenderer->GetFrameWidth(), 100);
    EXPECT_EQ(pRenderer->GetFrameHeight(), 50);
    EXPECT_EQ(pRenderer->GetFrameDuration(), 0);

    // Consumers size their buffers from biSizeImage, which BI_RGB may leave
    // 0: it is raised to the padded size, never lowered.
    const std::pair<DWORD, DWORD> sizes[] = {
        {0, 964 * 241}, {3 * 321 * 241, 964 * 241}, {300000, 300000}};
    for (const auto& [given, adopted] : sizes) {
        params = VideoTypeParams{};
        params.width = 321;
        params.height = 241;
        params.sizeImage = given;
        mt = MakeVideoType(params);
        ASSERT_EQ(pRenderer->SetMediaType(&mt), S_OK);
        EXPECT_EQ(Header(pRenderer).biSizeImage, adopted);
    }
}

// A frame buffer that cannot be created is a failure, and the renderer keeps
// the format, duration, buffer and copied frame it had: a consumer that sized
// its buffers from the format is never handed another frame size.
TEST_F(GrabRendererTest, FailedFrameBufferReportsOutOfMemoryAndKeepsOldState) {
    GrabGraph graph(IdleSource(64, 48));
    CGrabRenderer* pRenderer = graph.Renderer();
    graph.Run();
    const LONG cb = PaddedSize(64, 48);
    ASSERT_EQ(graph.DeliverFrame(7, cb), S_OK);
    pRenderer->UpdateFrameBuffer();
    BITMAPINFO before;
    pRenderer->GetFrameFormat(&before);

    // Both skip CheckMediaType (VIDEOINFOHEADER2): 120000 x 40000 bytes, and
    // a bit count no buffer can be made for.
    VideoTypeParams huge;
    huge.format = FORMAT_VideoInfo2;
    huge.width = huge.height = 40000;
    VideoTypeParams oddBits;
    oddBits.format = FORMAT_VideoInfo2;
    oddBits.bitCount = 7;
    for (VideoTypeParams params : {huge, oddBits}) {
        params.avgTimePerFrame = 1;
        const CMediaType mt = MakeVideoType(params);
        EXPECT_EQ(pRenderer->SetMediaType(&mt), E_OUTOFMEMORY);
        BITMAPINFO after;
        pRenderer->GetFrameFormat(&after);
        EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
        EXPECT_EQ(pRenderer->GetFrameDuration(), 400000);
        EXPECT_EQ(DIBSectionsActive(), 1);
        std::vector<BYTE> dest(static_cast<size_t>(cb));
        ASSERT_EQ(CopyOut(pRenderer, dest), cb);
        EXPECT_TRUE(IsFramePattern(dest.data(), dest.size()));
        EXPECT_EQ(FrameIndex(dest.data()), 7u);
    }
}

// A copy goes no further than the frame, the sample's actual length, the
// sample's buffer or the destination. The sample buffers are exactly
// GetSize() bytes, so ASan sees any read past them. With 3*W not a multiple
// of 4, the frame is the whole padded image (longer than 3*W*H): the right
// end of the top rows is refreshed too.
TEST_F(GrabRendererTest, CopyIsBoundedBySampleLengthBufferAndDestination) {
    GrabGraph graph(IdleSource(321, 241));
    graph.Run();
    CGrabRenderer* pRenderer = graph.Renderer();
    std::vector<BYTE> dest(64);
    EXPECT_EQ(CopyOut(pRenderer, dest), 0);  // nothing before the first sample
    EXPECT_EQ(dest[0], 0xAA);

    const LONG cbFrame = 964 * 241;
    struct Case {
        LONG cbBuffer, lActual, cbDest, expected;
    } cases[] = {
        {cbFrame, 1000, cbFrame, 1000},                          // short sample
        {500, cbFrame, cbFrame, 500},                            // length beyond its buffer
        {cbFrame, -5, cbFrame, 0},                               // negative length
        {cbFrame + 100, cbFrame + 100, cbFrame + 100, cbFrame},  // longer than the frame
        {cbFrame, cbFrame, 100, 100},                            // small destination
    };
    uint32_t index = 1;
    for (const Case& c : cases) {
        CFakeSample sample(c.cbBuffer);
        FillFrame(sample.Data(), static_cast<size_t>(c.cbBuffer), index);
        sample.SetActual(c.lActual);
        ASSERT_EQ(graph.Pin()->Receive(&sample), S_OK);
        ASSERT_EQ(graph.Pin()->Receive(&sample), S_OK);  // twice: still one reference
        EXPECT_EQ(sample.RefCount(), 1);
        dest.resize(static_cast<size_t>(c.cbDest));
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

// Only the latest of two samples reaches the frame buffer, the first is back
// in the pool as soon as the second replaced it, and the held one stays
// across a stop.
TEST_F(GrabRendererTest, OnlyLatestSampleIsCopiedAndEarlierOneReturnsToPool) {
    GrabGraph graph(IdleSource(64, 48));
    graph.Run();
    const LONG cb = PaddedSize(64, 48);
    ASSERT_EQ(graph.DeliverFrame(1, cb), S_OK);
    ASSERT_EQ(graph.DeliverFrame(2, cb), S_OK);
    IMemAllocator* pAlloc = graph.Allocator();
    CComRef<IMemAllocatorCallbackTemp> callback;
    ASSERT_EQ(pAlloc->QueryInterface(IID_IMemAllocatorCallbackTemp,
                                     reinterpret_cast<void**>(callback.Receive())),
              S_OK);
    pAlloc->Release();
    LONG lFree = -1;
    ASSERT_EQ(callback->GetFreeCount(&lFree), S_OK);
    EXPECT_EQ(lFree, 4 - 1);  // 2 asked + 2 extra, one held
    callback.Release();

    graph.Stop();
    std::vector<BYTE> dest(static_cast<size_t>(cb));
    ASSERT_EQ(CopyOut(graph.Renderer(), dest), cb);
    EXPECT_EQ(FrameIndex(dest.data()), 2u);
    EXPECT_TRUE(IsFramePattern(dest.data(), dest.size()));
}

TEST_F(GrabRendererTest, GrabAllocatorGrantsTwoMoreAndLeavesRequestAlone) {
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
    request.cBuffers = INT32_MAX - 1;  // saturates instead of wrapping
    ASSERT_EQ(pAlloc->SetProperties(&request, &actual), S_OK);
    EXPECT_EQ(actual.cBuffers, INT32_MAX);
    pAlloc->NonDelegatingRelease();
}

// The grab path is chosen by comparing with the very interface pointer that
// GetAllocator handed out; any other pool selects the copying path, and a
// sample still held from our pool is dropped then: upstream no longer fills
// our pool, and the pool gets its buffer back.
TEST_F(GrabRendererTest, OnlyTheOfferedPoolSelectsTheGrabPathAndAForeignOneDropsTheHeldSample) {
    GrabGraph graph(IdleSource(64, 48));
    CGrabRendererInputPin* pPin = graph.Pin();
    EXPECT_EQ(pPin->GetAllocator(nullptr), E_POINTER);
    EXPECT_TRUE(pPin->UsingGrabAllocator());  // upstream named the pool it was offered
    graph.Run();
    ASSERT_EQ(graph.DeliverFrame(1, PaddedSize(64, 48)), S_OK);
    graph.Stop();
    ASSERT_TRUE(graph.Renderer()->HasLatestSample());

    IMemAllocator* pForeign = nullptr;
    ASSERT_EQ(CMemAllocator::Create(&pForeign), S_OK);
    ASSERT_EQ(pPin->NotifyAllocator(pForeign, FALSE), S_OK);
    EXPECT_FALSE(pPin->UsingGrabAllocator());
    EXPECT_FALSE(graph.Renderer()->HasLatestSample());
    std::vector<BYTE> dest(16);
    EXPECT_EQ(CopyOut(graph.Renderer(), dest), 0);
    EXPECT_EQ(pPin->NotifyAllocator(nullptr, FALSE), E_POINTER);  // changes nothing
    EXPECT_FALSE(pPin->UsingGrabAllocator());
    pForeign->Release();
}

// With a pool of upstream's own, each frame is copied on the streaming
// thread, nothing is held, and the consumer's copy gets nothing.
TEST_F(GrabRendererTest, ForeignAllocatorCopiesOnStreamingThreadAndHoldsNothing) {
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

// A renderer whose pin could not build its pool reports it, and offers the
// base pin's pool instead of a null one.
class CGrabRendererWithoutPool : public CGrabRenderer {
public:
    explicit CGrabRendererWithoutPool(HRESULT* phr)
        : CGrabRenderer(nullptr, phr,
                        [] { return static_cast<CGrabRendererAllocator*>(nullptr); }) {}
};

TEST_F(GrabRendererTest, MissingGrabAllocatorIsReportedAndBasePoolIsOffered) {
    for (HRESULT hrBefore : {S_OK, E_FAIL}) {
        HRESULT hr = hrBefore;
        auto* pRenderer = new CGrabRendererWithoutPool(&hr);
        pRenderer->AddRef();
        EXPECT_EQ(hr, hrBefore == S_OK ? E_OUTOFMEMORY : E_FAIL);  // a failure is kept
        CGrabRendererInputPin* pPin = pRenderer->GrabInputPin();
        IMemAllocator* pAlloc = nullptr;
        ASSERT_EQ(pPin->GetAllocator(&pAlloc), S_OK);
        ASSERT_NE(pAlloc, nullptr);
        ASSERT_EQ(pPin->NotifyAllocator(pAlloc, FALSE), S_OK);
        EXPECT_FALSE(pPin->UsingGrabAllocator());
        pAlloc->Release();
        pRenderer->Release();
    }
}

}  // namespace
}  // namespace pelora_test
