// The grab renderer without a clock: types, the sample kept, bounded copies
// racing the stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "filterbase/media_type.h"
#include "grab/grab_renderer.h"
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
    GUID format = FORMAT_VideoInfo;
    LONG width = 64;
    LONG height = 48;
    WORD bitCount = 24;
    DWORD compression = BI_RGB;
    DWORD sizeImage = 0xFFFFFFFFu;  // default: the padded size
    REFERENCE_TIME avgTimePerFrame = 400000;
    ULONG cbFormat = 0;  // default: the layout's full size
};

// A type with a VIDEOINFOHEADER block, or VIDEOINFOHEADER2 for that format.
CMediaType MakeVideoType(const VideoTypeParams& s) {
    const bool bV2 = s.format == FORMAT_VideoInfo2;
    const size_t headerAt =
        bV2 ? offsetof(VIDEOINFOHEADER2, bmiHeader) : offsetof(VIDEOINFOHEADER, bmiHeader);
    const size_t full = bV2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER);
    std::vector<BYTE> block(full);
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
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_RGB24);
    mt.SetFormatType(&s.format);
    const ULONG cb = s.cbFormat ? s.cbFormat : static_cast<ULONG>(full);
    block.resize(std::max<size_t>(cb, full));
    mt.SetFormat(block.data(), cb);
    return mt;
}

// A frame's pattern: its index in the first four bytes, then bytes that
// depend on index and position.
void FillFrame(BYTE* p, size_t cb, uint32_t index) {
    for (size_t i = 0; i < cb; ++i) p[i] = static_cast<BYTE>(index * 31 + i * 7 + (i >> 9));
    if (cb >= 4) std::memcpy(p, &index, 4);
}

uint32_t FrameIndex(const BYTE* p) {
    uint32_t index = 0;
    std::memcpy(&index, p, 4);
    return index;
}

// True when p[0..cb) (every step-th byte) is the pattern of its frame index.
bool IsFramePattern(const BYTE* p, size_t cb, size_t step = 1) {
    for (size_t i = 4; i < cb; i += step) {
        if (p[i] != static_cast<BYTE>(FrameIndex(p) * 31 + i * 7 + (i >> 9))) return false;
    }
    return true;
}

// Test source -> grab renderer.
class GrabGraph : public SourceRendererGraph<CGrabRenderer> {
public:
    explicit GrabGraph(const SourceOptions& options, HWND hwndOwner = nullptr,
                       bool bConnect = true) {
        HRESULT hr = S_OK;
        auto* pRenderer = new CGrabRenderer(hwndOwner, &hr);
        EXPECT_EQ(hr, S_OK);
        Init(pRenderer, options, nullptr, bConnect);  // no clock: samples render on arrival
    }

    CGrabRendererInputPin* Pin() { return Renderer()->GrabInputPin(); }

    // The negotiated pool, with a reference for the caller.
    IMemAllocator* Allocator() {
        IMemAllocator* pAlloc = nullptr;
        EXPECT_EQ(Pin()->GetAllocator(&pAlloc), S_OK);
        return pAlloc;
    }

    // Delivers one pool sample of cb bytes with the pattern of index (and a
    // new type if pmt is set) on the calling thread; returns Receive's answer.
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

// A source whose thread waits at its gate: the test delivers.
SourceOptions IdleSource(LONG width = 64, LONG height = 48) {
    return SourceOptions{.width = width, .height = height};
}

class GrabRendererTest : public LiveObjectsTest {
protected:
    void TearDown() override {
        EXPECT_EQ(DIBSectionsActive(), 0) << "frame buffers leaked";
        LiveObjectsTest::TearDown();
    }
};

// Copies the frame into dest prefilled with 0xAA; returns the bytes copied.
LONG CopyOut(CGrabRenderer* pRenderer, std::vector<BYTE>& dest) {
    std::fill(dest.begin(), dest.end(), BYTE{0xAA});
    pRenderer->UpdateFrameBuffer();
    return pRenderer->CopyFrameTo(dest.data(), static_cast<LONG>(dest.size()));
}

// Refused types get S_FALSE exactly, from CheckMediaType and QueryAccept
// alike; the size limit is the padded image (stride x |H|) in 64 bits.
TEST_F(GrabRendererTest, AcceptsOnlyValidRgb24UnderTwoGiBAndAdoptsItsGeometry) {
    const std::pair<VideoTypeParams, HRESULT> cases[] = {
        {{.height = -48}, S_OK},
        {{.width = 4, .height = 178956970}, S_OK},  // 2^31 - 8 bytes
        {{.compression = BI_BITFIELDS}, S_FALSE},
        {{.bitCount = 32}, S_FALSE},
        {{.format = FORMAT_VideoInfo2}, S_FALSE},
        {{.cbFormat = 87}, S_FALSE},
        {{.width = -1}, S_FALSE},
        {{.height = INT32_MIN}, S_FALSE},
        {{.width = 30000, .height = -30000}, S_FALSE},  // 2.7e9 bytes
    };
    GrabGraph graph(IdleSource(), nullptr, /*bConnect=*/false);
    CGrabRenderer* pRenderer = graph.Renderer();
    int i = 0;
    for (const auto& [params, expected] : cases) {
        const CMediaType mt = MakeVideoType(params);
        EXPECT_EQ(pRenderer->CheckMediaType(&mt), expected) << "case " << i;
        EXPECT_EQ(graph.Pin()->QueryAccept(&mt), expected) << "case " << i++;
    }
    CMediaType mt = MakeVideoType(VideoTypeParams{});
    mt.ResetFormatBuffer();
    mt.cbFormat = sizeof(VIDEOINFOHEADER);  // a length without a block
    EXPECT_EQ(pRenderer->CheckMediaType(&mt), S_FALSE);
    mt.cbFormat = 0;

    // Adoption: |height|, top-down kept, the low 32 bits of the duration.
    VideoTypeParams params{.height = -48, .avgTimePerFrame = (REFERENCE_TIME{5} << 32) + 333667};
    mt = MakeVideoType(params);
    ASSERT_EQ(pRenderer->SetMediaType(&mt), S_OK);
    EXPECT_EQ(pRenderer->GetFrameHeight(), 48);
    BITMAPINFO bmi;
    pRenderer->GetFrameFormat(&bmi);
    EXPECT_EQ(bmi.bmiHeader.biHeight, -48);
    EXPECT_EQ(pRenderer->GetFrameDuration(), 333667);

    // Consumers size their buffers from biSizeImage: it is raised to the
    // padded size, never lowered.
    const std::pair<DWORD, DWORD> sizes[] = {{3 * 321 * 241, 964 * 241}, {300000, 300000}};
    for (const auto& [given, adopted] : sizes) {
        mt = MakeVideoType({.width = 321, .height = 241, .sizeImage = given});
        ASSERT_EQ(pRenderer->SetMediaType(&mt), S_OK);
        pRenderer->GetFrameFormat(&bmi);
        EXPECT_EQ(bmi.bmiHeader.biSizeImage, adopted);
    }
}

// A copy goes no further than the frame, the sample's actual length, its
// buffer (exactly GetSize() bytes: ASan sees a read past it) or the
// destination. With 3*W not a multiple of 4 the frame is the padded image.
TEST_F(GrabRendererTest, CopyIsBoundedBySampleLengthBufferAndDestination) {
    GrabGraph graph(IdleSource(321, 241));
    graph.Run();
    CGrabRenderer* pRenderer = graph.Renderer();
    std::vector<BYTE> dest(64);
    EXPECT_EQ(CopyOut(pRenderer, dest), 0);  // nothing before the first sample

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

// The consumer sized its buffer once, for the first format; the stream then
// grows and shrinks while it keeps copying. Every copy stays within its
// buffer, reads no freed frame buffer (ASan) or unlocked field (TSan), and is
// one whole frame.
TEST_F(GrabRendererTest, ConsumerCopiesStayInBoundsWhileTypeChangesMidStream) {
    GrabGraph graph(IdleSource(64, 48));
    CGrabRenderer* pRenderer = graph.Renderer();
    const LONG cbLarge = PaddedSize(320, 240);
    {
        IMemAllocator* pAlloc = graph.Allocator();
        ALLOCATOR_PROPERTIES request{3, cbLarge, 1, 0}, actual{};
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
    std::atomic<int> nCopies{0}, nBad{0};
    std::thread consumer([&] {
        while (!bStop.load()) {
            pRenderer->UpdateFrameBuffer();
            const LONG cb = pRenderer->CopyFrameTo(dest.data(), cbDest);
            if (cb > 0) {
                nCopies.fetch_add(1);
                if (cb > cbDest || !IsFramePattern(dest.data(), static_cast<size_t>(cb), 61)) {
                    nBad.fetch_add(1);
                }
            }
            std::this_thread::yield();
        }
    });

    // The first phase keeps the connection's type; the others change it.
    const std::pair<LONG, LONG> phases[] = {{64, 48}, {320, 240}, {32, 24}};
    uint32_t index = 0;
    for (const auto& [width, height] : phases) {
        const CMediaType mt = MakeVideoType({.width = width, .height = height});
        for (int i = 0; i < RaceLoops(60); ++i) {
            const CMediaType* pChange = i == 0 && width != 64 ? &mt : nullptr;
            ASSERT_EQ(graph.DeliverFrame(index++, PaddedSize(width, height), pChange), S_OK);
        }
        EXPECT_EQ(pRenderer->GetFrameWidth(), width);
    }
    // The last frame stays held: a late consumer still gets that one.
    ASSERT_TRUE(WaitUntil([&] { return nCopies.load() > 0; }));
    bStop = true;
    consumer.join();
    EXPECT_EQ(nBad.load(), 0);
    EXPECT_EQ(DIBSectionsActive(), 1);  // of the three frame buffers
}

// A sample held across disconnection would keep the pool's decommit from
// completing, and the next SetProperties would fail with buffers outstanding.
TEST_F(GrabRendererTest, ReconnectionAfterStopWithHeldSampleSucceeds) {
    auto pRepaints = std::make_unique<std::atomic<int>>(0);
    const HWND hWnd = RegisterWindowHandle(
        [](void* p) { static_cast<std::atomic<int>*>(p)->fetch_add(1); }, pRepaints.get());
    GrabGraph graph(IdleSource(64, 48), hWnd);
    CGrabRenderer* pRenderer = graph.Renderer();
    graph.Run();
    ASSERT_EQ(graph.DeliverFrame(5, PaddedSize(64, 48)), S_OK);
    EXPECT_EQ(pRepaints->load(), 1);
    graph.Stop();
    ASSERT_TRUE(pRenderer->HasLatestSample());  // kept across stop
    graph.Disconnect();
    EXPECT_FALSE(pRenderer->HasLatestSample());

    ASSERT_EQ(graph.Connect(), S_OK);
    EXPECT_TRUE(graph.Pin()->UsingGrabAllocator());
    graph.Run();
    UnregisterWindowHandle(hWnd);  // the window closes
    pRepaints.reset();
    // Two samples between updates: only the second is copied.
    ASSERT_EQ(graph.DeliverFrame(6, PaddedSize(64, 48)), S_OK);
    ASSERT_EQ(graph.DeliverFrame(7, PaddedSize(64, 48)), S_OK);
    std::vector<BYTE> dest(static_cast<size_t>(PaddedSize(64, 48)));
    ASSERT_EQ(CopyOut(pRenderer, dest), PaddedSize(64, 48));
    EXPECT_EQ(FrameIndex(dest.data()), 7u);

    // A frame buffer that cannot be made (VIDEOINFOHEADER2 skips the size
    // check) fails, and format, duration and frame all stay: a consumer is
    // never handed another frame size than it sized for.
    BITMAPINFO before, after;
    pRenderer->GetFrameFormat(&before);
    const CMediaType mt = MakeVideoType(
        {.format = FORMAT_VideoInfo2, .width = 40000, .height = 40000, .avgTimePerFrame = 1});
    EXPECT_EQ(pRenderer->SetMediaType(&mt), E_OUTOFMEMORY);
    pRenderer->GetFrameFormat(&after);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
    EXPECT_EQ(pRenderer->GetFrameDuration(), 400000);
    ASSERT_EQ(CopyOut(pRenderer, dest), PaddedSize(64, 48));
    EXPECT_EQ(FrameIndex(dest.data()), 7u);
    EXPECT_EQ(DIBSectionsActive(), 1);
}

}  // namespace
}  // namespace pelora_test
