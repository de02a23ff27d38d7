// bench_graph: the file graph as the frame-processing worker builds it (a
// renderer named "Renderer" that keeps the latest frame, then RenderFile).
//
// 1. A 1920x1080 H.264 clip decoded into the frame buffer as fast as the
//    graph allows (SetSyncSource(NULL)), in frames per second, next to
//    `ffmpeg -v error -i CLIP -f rawvideo -pix_fmt bgr24 -y /dev/null` in the
//    same run.
// 2. The worker's grab sequences on 1920x1080 clips with a 250-frame GOP: a
//    grab at a random position, a step of +1 and of -1 frame. MP4 in media
//    time (stop = position + 10000, poll until current = stop); AVI in frame
//    format (stop = position, Run, WaitForCompletion).
//
// Prints figures only. Clips are written once into the build folder
// (bench-clips/, shared with bench_decode).
//
//   bench_graph [--repeat N] [--seeks N]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "bench/support/bench_clips.h"
#include "filterbase/base_video_renderer.h"
#include "platform/com/com_ref.h"
#include "platform/com/com_runtime.h"
#include "mediagraph/media_classes.h"
#include "platform/media/media_guids.h"
#include "tools/frame_pattern.h"

namespace {

// {5E2A9C47-1B3D-4F86-A0E9-7C4B2D6F8A13}
constexpr CLSID CLSID_BenchRenderer = {
    0x5E2A9C47, 0x1B3D, 0x4F86, {0xA0, 0xE9, 0x7C, 0x4B, 0x2D, 0x6F, 0x8A, 0x13}};

// Keeps the latest frame: copies every rendered sample (the whole padded
// image) into its frame buffer under a lock, as a grabbing renderer does on
// its copy path.
class CBenchRenderer final : public CBaseVideoRenderer {
public:
    explicit CBenchRenderer(HRESULT* phr)
        : CBaseVideoRenderer(CLSID_BenchRenderer, "CBenchRenderer", nullptr, phr) {}
    ~CBenchRenderer() override { ShutdownTimerAndAdvise(); }
    HRESULT CheckMediaType(const CMediaType* pmt) override {
        return *pmt->FormatType() == FORMAT_VideoInfo && *pmt->Subtype() == MEDIASUBTYPE_RGB24 &&
                       pmt->FormatLength() >= sizeof(VIDEOINFOHEADER)
                   ? S_OK
                   : S_FALSE;
    }
    HRESULT SetMediaType(const CMediaType* pmt) override {
        std::lock_guard<std::mutex> lock(m_Lock);
        std::memcpy(&m_vih, pmt->Format(), sizeof m_vih);
        m_frame.assign(m_vih.bmiHeader.biSizeImage, 0);
        return S_OK;
    }
    HRESULT DoRenderSample(IMediaSample* pSample) override {
        BYTE* p = nullptr;
        pSample->GetPointer(&p);
        std::lock_guard<std::mutex> lock(m_Lock);
        const size_t cb = std::min(
            m_frame.size(), static_cast<size_t>(std::max(0, pSample->GetActualDataLength())));
        std::memcpy(m_frame.data(), p, cb);
        ++m_llRendered;
        return S_OK;
    }
    int LatestIndex() {
        std::lock_guard<std::mutex> lock(m_Lock);
        const LONG w = m_vih.bmiHeader.biWidth, h = m_vih.bmiHeader.biHeight;
        return ReadFrameIndex(m_frame.data(), w, h, (3 * w + 3) & ~3);
    }
    LONGLONG Rendered() {
        std::lock_guard<std::mutex> lock(m_Lock);
        return m_llRendered;
    }
    REFERENCE_TIME FrameDuration() {
        std::lock_guard<std::mutex> lock(m_Lock);
        return m_vih.AvgTimePerFrame;
    }

private:
    std::mutex m_Lock;  // guards the fields below
    VIDEOINFOHEADER m_vih{};
    std::vector<BYTE> m_frame;
    LONGLONG m_llRendered = 0;
};

struct SGraph {
    CComRef<IGraphBuilder> pGraph;
    CComRef<IMediaControl> pControl;
    CComRef<IMediaSeeking> pSeeking;
    CComRef<IMediaEventEx> pEvent;
    CBenchRenderer* pRenderer = nullptr;

    explicit SGraph(const std::string& strClip) {
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IGraphBuilder,
                         reinterpret_cast<void**>(pGraph.Receive()));
        pGraph.QueryInto(IID_IMediaControl, &pControl);
        pGraph.QueryInto(IID_IMediaSeeking, &pSeeking);
        pGraph.QueryInto(IID_IMediaEventEx, &pEvent);
        HRESULT hr = S_OK;
        pRenderer = new CBenchRenderer(&hr);
        pRenderer->NonDelegatingAddRef();
        pGraph->AddFilter(pRenderer, L"Renderer");
        const std::wstring wPath(strClip.begin(), strClip.end());
        if (FAILED(pGraph->RenderFile(wPath.c_str(), nullptr))) {
            std::fprintf(stderr, "bench_graph: RenderFile failed for %s\n", strClip.c_str());
            std::exit(1);
        }
    }
    ~SGraph() {
        pControl->Stop();
        pEvent.Release();
        pSeeking.Release();
        pControl.Release();
        pGraph.Release();
        pRenderer->NonDelegatingRelease();
    }
};

void DecodeAll(const std::string& strClip, int nRepeat) {
    std::printf("\n== decode all frames through the graph, no clock: %s\n", strClip.c_str());
    std::vector<double> ours, theirs;
    LONGLONG llFrames = 0;
    for (int r = 0; r < nRepeat; ++r) {
        const auto t0 = BenchClock::now();
        {
            SGraph g(strClip);
            CComRef<IMediaFilter> pFilter;
            g.pGraph.QueryInto(IID_IMediaFilter, &pFilter);
            pFilter->SetSyncSource(nullptr);
            g.pControl->Run();
            LONG lCode = 0;
            g.pEvent->WaitForCompletion(static_cast<LONG>(INFINITE), &lCode);
            llFrames = g.pRenderer->Rendered();
            const double d = SecondsSince(t0);
            ours.push_back(d);
            std::printf("  graph run %d: %lld frames in %.3f s = %.1f frames/s (last frame %d)\n",
                        r + 1, static_cast<long long>(llFrames), d, llFrames / d,
                        g.pRenderer->LatestIndex());
        }
        theirs.push_back(RunFfmpegDecode(strClip, r + 1, llFrames));
    }
    const SStats a = Summarise(ours), b = Summarise(theirs);
    std::printf("  median: graph %.1f frames/s, ffmpeg command %.1f frames/s (%lld frames)\n",
                llFrames / a.dMedian, llFrames / b.dMedian, static_cast<long long>(llFrames));
}

void Grabs(const std::string& strClip, int nSeeks) {
    SGraph g(strClip);
    const bool bFrame = g.pSeeking->IsFormatSupported(&TIME_FORMAT_FRAME) == S_OK;
    if (bFrame) g.pSeeking->SetTimeFormat(&TIME_FORMAT_FRAME);
    const LONGLONG llStep = bFrame ? 1 : g.pRenderer->FrameDuration();
    LONGLONG llDuration = 0;
    g.pSeeking->GetDuration(&llDuration);
    const LONGLONG llCount = llDuration / llStep;
    std::printf("\n== worker grab sequence (%s): %s\n",
                bFrame ? "frame format, stop = position, WaitForCompletion"
                       : "media time, stop = position + 10000, poll current = stop",
                strClip.c_str());
    int nWrong = 0;
    auto Grab = [&](LONGLONG n) {
        LONGLONG llPos = n * llStep;
        LONGLONG llStop = bFrame ? llPos : llPos + 10000;
        g.pSeeking->SetPositions(&llPos, AM_SEEKING_AbsolutePositioning, &llStop,
                                 AM_SEEKING_AbsolutePositioning);
        g.pControl->Run();
        if (bFrame) {
            LONG lCode = 0;
            g.pEvent->WaitForCompletion(static_cast<LONG>(INFINITE), &lCode);
        } else {
            LONGLONG llCur = -1, llStopNow = 0;
            do {
                g.pSeeking->GetPositions(&llCur, &llStopNow);
            } while (llCur != llStopNow);
        }
        if (g.pRenderer->LatestIndex() != n) ++nWrong;
    };
    std::mt19937 rng(2026);
    std::vector<double> random, plus, minus;
    for (int i = 0; i < nSeeks; ++i) {
        const LONGLONG p = 1 + static_cast<LONGLONG>(rng() % (llCount - 2));
        random.push_back(MillisecondsOf([&] { Grab(p); }));
        plus.push_back(MillisecondsOf([&] { Grab(p + 1); }));
        Grab(p);
        minus.push_back(MillisecondsOf([&] { Grab(p - 1); }));
    }
    PrintMsStats("random position", random);
    PrintMsStats("step +1", plus);
    PrintMsStats("step -1", minus);
    std::printf("  %d grabs of each kind, %d wrong frames\n", nSeeks, nWrong);
}

}  // namespace

int main(int argc, char** argv) {
    const SBenchArgs args = ParseBenchArgs(argc, argv);
    av_log_set_level(AV_LOG_ERROR);
    RegisterMediaClasses();
    CoInitialize(nullptr);
    const SBenchClips clips = EnsureBenchClips("bench_graph");
    DecodeAll(clips.strH264, args.nRepeat);
    Grabs(clips.strH264, args.nSeeks);
    Grabs(clips.strAvi, args.nSeeks);
    CoUninitialize();
    return 0;
}
