// Shared set-up of the grab renderer tests: a media type builder, a frame
// pattern, and a small graph (test source -> grab renderer, event sink,
// optional clock) torn down the way the graph manager does it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "filterbase/media_type.h"
#include "grab/grab_renderer.h"
#include "platform/media/media_guids.h"
#include "support/fake_sample.h"
#include "support/live_objects.h"
#include "support/source_renderer_graph.h"
#include "support/watchdog.h"

namespace pelora_test {

constexpr REFERENCE_TIME kMs = 10000;  // 100-ns units per millisecond

// stride x |height| of a 24-bit frame, for frames known to fit in 32 bits.
inline LONG PaddedSize(LONG width, LONG height) {
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
inline CMediaType MakeVideoType(const VideoTypeParams& s) {
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
    bih.biSizeImage = s.sizeImage == 0xFFFFFFFFu
                          ? static_cast<DWORD>(PaddedSize(s.width, s.height))
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
inline void FillFrame(BYTE* p, size_t cb, uint32_t index) {
    for (size_t i = 0; i < cb; ++i) p[i] = static_cast<BYTE>(index * 31 + i * 7 + (i >> 9));
    if (cb >= 4) std::memcpy(p, &index, 4);
}

inline uint32_t FrameIndex(const BYTE* p) {
    uint32_t index = 0;
    std::memcpy(&index, p, 4);
    return index;
}

// True when p[0..cb) is the pattern of the frame whose index it carries
// (every byte when step is 1, else every step-th).
inline bool IsFramePattern(const BYTE* p, size_t cb, size_t step = 1) {
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
inline SourceOptions IdleSource(LONG width = 64, LONG height = 48) {
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

}  // namespace pelora_test
