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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "filterbase/base_video_renderer.h"
#include "platform/com/com_ref.h"
#include "platform/com/com_runtime.h"
#include "platform/media/filter_graph.h"
#include "platform/media/media_guids.h"
#include "tools/clip_writer.h"
#include "tools/frame_pattern.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

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

std::string EnsureClip(EClipFormat eFormat, int nFrames, int nFps, int nGop, const char* pszName) {
    fs::create_directories(PELORA_BENCH_CLIP_DIR);
    const std::string strPath = std::string(PELORA_BENCH_CLIP_DIR) + "/" + pszName;
    if (fs::exists(strPath) && fs::file_size(strPath) > 0) return strPath;
    SClipParams params;
    params.eFormat = eFormat;
    params.nWidth = 1920;
    params.nHeight = 1080;
    params.nFrames = nFrames;
    params.nFpsNum = nFps;
    params.nGop = nGop;
    std::printf("writing %s (%d frames, once) ...\n", strPath.c_str(), nFrames);
    std::fflush(stdout);
    const std::string strTmp = strPath + ".part";
    const std::string strErr = WriteClip(strTmp, params);
    if (!strErr.empty()) {
        std::fprintf(stderr, "bench_graph: %s\n", strErr.c_str());
        std::exit(1);
    }
    fs::rename(strTmp, strPath);
    return strPath;
}

struct SStats {
    double dMin, dMedian, dMean, dMax;
};

SStats Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    double dSum = 0;
    for (double d : v) dSum += d;
    return {v.front(), v[v.size() / 2], dSum / v.size(), v.back()};
}

void DecodeAll(const std::string& strClip, int nRepeat) {
    std::printf("\n== decode all frames through the graph, no clock: %s\n", strClip.c_str());
    std::vector<double> ours, theirs;
    LONGLONG llFrames = 0;
    for (int r = 0; r < nRepeat; ++r) {
        const auto t0 = Clock::now();
        {
            SGraph g(strClip);
            CComRef<IMediaFilter> pFilter;
            g.pGraph.QueryInto(IID_IMediaFilter, &pFilter);
            pFilter->SetSyncSource(nullptr);
            g.pControl->Run();
            LONG lCode = 0;
            g.pEvent->WaitForCompletion(static_cast<LONG>(INFINITE), &lCode);
            llFrames = g.pRenderer->Rendered();
            const double d = Seconds(t0);
            ours.push_back(d);
            std::printf("  graph run %d: %lld frames in %.3f s = %.1f frames/s (last frame %d)\n",
                        r + 1, static_cast<long long>(llFrames), d, llFrames / d,
                        g.pRenderer->LatestIndex());
        }
        const std::string strCmd =
            "ffmpeg -v error -i '" + strClip + "' -f rawvideo -pix_fmt bgr24 -y /dev/null";
        const auto t1 = Clock::now();
        const int nStatus = std::system(strCmd.c_str());
        const double d2 = Seconds(t1);
        theirs.push_back(d2);
        std::printf("  ffmpeg command run %d: %.3f s = %.1f frames/s%s\n", r + 1, d2, llFrames / d2,
                    nStatus ? "  (FAILED)" : "");
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
        auto t0 = Clock::now();
        Grab(p);
        random.push_back(Seconds(t0) * 1000);
        t0 = Clock::now();
        Grab(p + 1);
        plus.push_back(Seconds(t0) * 1000);
        Grab(p);
        t0 = Clock::now();
        Grab(p - 1);
        minus.push_back(Seconds(t0) * 1000);
    }
    for (const auto& [pszWhat, v] :
         {std::pair<const char*, std::vector<double>&>{"random position", random},
          {"step +1", plus},
          {"step -1", minus}}) {
        const SStats s = Summarise(v);
        std::printf("  %-16s min %7.2f  median %7.2f  mean %7.2f  max %7.2f ms\n", pszWhat, s.dMin,
                    s.dMedian, s.dMean, s.dMax);
    }
    std::printf("  %d grabs of each kind, %d wrong frames\n", nSeeks, nWrong);
}

}  // namespace

int main(int argc, char** argv) {
    int nRepeat = 3, nSeeks = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string s = argv[i];
        if (s == "--repeat") nRepeat = std::max(1, std::atoi(argv[i + 1]));
        if (s == "--seeks") nSeeks = std::max(1, std::atoi(argv[i + 1]));
    }
    av_log_set_level(AV_LOG_ERROR);
    CFilterGraph::RegisterClass();
    CoInitialize(nullptr);
    const std::string strH264 =
        EnsureClip(EClipFormat::Mp4H264, 600, 60, 250, "h264-1920x1080-60fps-600f-gop250.mp4");
    const std::string strAvi =
        EnsureClip(EClipFormat::AviMpeg4, 600, 60, 250, "mpeg4-1920x1080-60fps-600f-gop250.avi");
    DecodeAll(strH264, nRepeat);
    Grabs(strH264, nSeeks);
    Grabs(strAvi, nSeeks);
    CoUninitialize();
    return 0;
}
