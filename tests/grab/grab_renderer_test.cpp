// The grab renderer's media types and copy path: which types it accepts and
// what it adopts from them (format blocks read within their length, geometry
// validated before any size is computed, a failed adoption changing
// nothing), which sample is kept, how much of it is copied, which pool
// decides the path, and the consumer's copies racing the streaming thread.
// Real-time playback with the system clock is tested with the file graph.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "filterbase/media_type.h"
#include "filterbase/mem_allocator.h"
#include "grab/grab_renderer.h"
#include "platform/com/com_ref.h"
#include "platform/media/media_guids.h"
#include "support/fake_sample.h"
#include "support/live_objects.h"
#include "support/race_loops.h"
#include "support/source_renderer_graph.h"
#include "support/watchdog.h"

namespace pelora_test {
namespace {

// stride x |height| of a 24-bit frame, for frames known to fit in 32 bits.
LONG PaddedSize(LONG width, LONG height) {
    const LONGLONG stride = (3 * LONGLONG{width} + 3) & ~LONGLONG{3};
    return static_cast<LONG>(stride * (height < 0 ? -LONGLONG{height} : LONGLONG{height}));
}

struct VideoTypeParams {
    GUID major = MEDIATYPE_Video;
    GUID subtype = MEDIASUBTYPE_RGB24;
    GUID format = FORMAT_VideoInfo;
    LONG width = 64;
    LONG height = 48;
    WORD bitCount = 24;
    DWORD compression = BI_RGB;
    DWORD sizeImage = 0xFFFFFFFFu;  // default: the padded size
    REFERENCE_TIME avgTimePerFrame = 400000;
    ULONG cbFormat = 0;  // default: the layout's full size
    BYTE fill = 0;       // bytes of the block outside the fields set here
};

// A media type with a VIDEOINFOHEADER (or VIDEOINFOHEADER2 for that format
// type) block built from the clip description.
CMediaType MakeVideoType(const VideoTypeParams& s) {
    const bool bV2 = s.format == FORMAT_VideoInfo2;
    const size_t headerAt =
        bV2 ? offsetof(VIDEOINFOHEADER2, bmiHeader) : offsetof(VIDEOINFOHEADER, bmiHeader);
    const size_t full = bV2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER);
    std::vector<BYTE> block(full, s.fill);
    BITMAPINFOHEADER bih{};
    bih.biSize = sizeof(BITMAPINFOHEADER);
    bih.biWidth = s.width;
    bih.biHeight = s.height;
    bih.biPlanes = 1;
    bih.biBitCount = s.bitCount;
    bih.biCompression = s.compression;
    bih.biSizeImage = s.sizeImage == 0xFFFFFFFFu ? static_cast<DWORD>(PaddedSize(s.width, s.height))
                                                 : s.sizeImage;
    std::memcpy(block.data() + headerAt, &bih, sizeof(bih));
    std::memcpy(block.data() + offsetof(VIDEOINFOHEADER, AvgTimePerFrame), &s.avgTimePerFrame,
                sizeof(s.avgTimePerFrame));
    CMediaType mt;
    mt.SetType(&s.major);
    mt.SetSubtype(&s.subtype);
    mt.SetFormatType(&s.format);
    const ULONG cb = s.cbFormat ? s.cbFormat : static_cast<ULONG>(full);
    block.resize(std::max<size_t>(cb, full), s.fill);
    mt.SetFormat(block.data(), cb);
    return mt;
}

// Fills a frame with a pattern derived from its index: the index in the
// first four bytes, then bytes that depend on index and position.
void FillFrame(BYTE* p, size_t cb, uint32_t index) {
    for (size_t i = 0; i < cb; ++i) p[i] = static_cast<BYTE>(index * 31 + i * 7 + (i >> 9));
    if (cb >= 4) std::memcpy(p, &index, 4);
}

uint32_t FrameIndex(const BYTE* p) {
    uint32_t index = 0;
    std::memcpy(&index, p, 4);
    return index;
}

// True when p[0..cb) is the pattern of the frame whose index it carries
// (every byte when step is 1, else every step-th).
bool IsFramePattern(const BYTE* p, size_t cb, size_t step = 1) {
    for (size_t i = 4; i < cb; i += step) {
        if (p[i] != static_cast<BYTE>(FrameIndex(p) * 31 + i * 7 + (i >> 9))) return false;
    }
    return true;
}

// Test source -> grab renderer. The source is gated by default with many
// frames, so that its thread idles and the test thread delivers samples
// itself (DeliverFrame); ungated it streams alone.
class GrabGraph : public SourceRendererGraph<CGrabRenderer> {
public:
    explicit GrabGraph(const SourceOptions& options, HWND hwndOwner = nullptr,
                       IReferenceClock* pClock = nullptr, bool bConnect = true) {
        HRESULT hr = S_OK;
        auto* pRenderer = new CGrabRenderer(hwndOwner, &hr);
        EXPECT_EQ(hr, S_OK);
        Init(pRenderer, options, pClock, bConnect);
    }

    CGrabRendererInputPin* Pin() { return Renderer()->GrabInputPin(); }

    // The negotiated pool, with a reference for the caller.
    IMemAllocator* Allocator() {
        IMemAllocator* pAlloc = nullptr;
        EXPECT_EQ(Pin()->GetAllocator(&pAlloc), S_OK);
        return pAlloc;
    }

    // Delivers one pool sample of cb bytes with the frame pattern of index
    // (and a new media type if pmt is set) on the calling thread; the
    // renderer must be running without a clock. Returns Receive's answer.
    HRESULT DeliverFrame(uint32_t index, LONG cb, const CMediaType* pmt = nullptr) {
        IMemAllocator* pAlloc = Allocator();
        if (!pAlloc) return E_FAIL;
        IMediaSample* pSample = nullptr;
        HRESULT hr = pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0);
        pAlloc->Release();
        if (FAILED(hr)) return hr;
        BYTE* p = nullptr;
        pSample->GetPointer(&p);
        FillFrame(p, static_cast<size_t>(cb), index);
        pSample->SetActualDataLength(cb);
        if (pmt) pSample->SetMediaType(const_cast<CMediaType*>(pmt));
        hr = Pin()->Receive(pSample);
        pSample->Release();
        return hr;
    }
};

// A source whose thread waits at its gate: the test delivers the samples.
SourceOptions IdleSource(LONG width = 64, LONG height = 48) {
    SourceOptions options;
    options.sizes = {{width, height}};
    options.gated = true;
    options.frames = 1000000;
    return options;
}

// Counts repaint requests; registered as a window for the renderer.
class RepaintCounter {
public:
    RepaintCounter() : m_hWnd(RegisterWindowHandle(&RepaintCounter::OnRepaint, this)) {}
    ~RepaintCounter() { UnregisterWindowHandle(m_hWnd); }
    HWND Handle() const { return m_hWnd; }
    int Count() const { return m_nRepaints.load(); }

private:
    static void OnRepaint(void* p) { static_cast<RepaintCounter*>(p)->m_nRepaints.fetch_add(1); }
    std::atomic<int> m_nRepaints{0};
    HWND m_hWnd;
};

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

// The consumer sized its buffer once, for the first format. The stream then
// changes to a larger and later to a smaller frame while the consumer keeps
// updating and copying: every copy stays within the consumer's buffer, no
// copy reads a freed or smaller frame buffer (ASan), no field is touched
// without the frame lock (TSan), and each copy is one whole frame.
TEST_F(GrabRendererTest, ConsumerCopiesStayInBoundsWhileTypeChangesMidStream) {
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
TEST_F(GrabRendererTest, ReconnectionAfterStopWithHeldSampleSucceeds) {
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

}  // namespace
}  // namespace pelora_test
