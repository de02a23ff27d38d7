// bench_decode: how fast the file decoder turns a 1920x1080 H.264 clip into
// bottom-up BGR frames, next to the ffmpeg command doing the same conversion
// in the same run, and what one exact seek costs on clips with a 250-frame
// GOP (a grab at a random position, a step of +1 and of -1 frame).
//
// Prints figures only; nothing here asserts a speed. The clips are written
// once into the build folder (bench-clips/) and reused.
//
//   bench_decode [--repeat N] [--seeks N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/ffmpeg/file_decoder.h"
#include "tools/clip_writer.h"
#include "tools/frame_pattern.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

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
    const auto t0 = Clock::now();
    const std::string strTmp = strPath + ".part";
    const std::string strErr = WriteClip(strTmp, params);
    if (!strErr.empty()) {
        std::fprintf(stderr, "bench_decode: %s\n", strErr.c_str());
        std::exit(1);
    }
    fs::rename(strTmp, strPath);
    std::printf("  written in %.1f s\n", Seconds(t0));
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
    std::printf("\n== decode all frames: %s\n", strClip.c_str());
    std::vector<double> ours, theirs;
    LONGLONG llFrames = 0;
    for (int r = 0; r < nRepeat; ++r) {
        CFileDecoder dec;
        const auto t0 = Clock::now();
        if (dec.Open(strClip) != S_OK) {
            std::fprintf(stderr, "bench_decode: cannot open %s\n", strClip.c_str());
            std::exit(1);
        }
        std::vector<BYTE> frame(dec.GetImageSize());  // the frame buffer
        LONGLONG n = 0;
        int nWrong = 0;
        SDecodedFrameInfo info;
        while (dec.ReadFrame(frame.data(), frame.size(), &info) == S_OK) {
            // Check a few frames, outside the timing's inner loop cost.
            if (n % 100 == 0 && ReadFrameIndex(frame.data(), dec.GetWidth(), dec.GetHeight(), dec.GetStride()) != n) {
                ++nWrong;
            }
            ++n;
        }
        const double d = Seconds(t0);
        ours.push_back(d);
        llFrames = n;
        std::printf("  CFileDecoder run %d: %lld frames in %.3f s = %.1f frames/s%s\n", r + 1,
                    static_cast<long long>(n), d, n / d, nWrong ? "  (PATTERN MISMATCH)" : "");

        const std::string strCmd = "ffmpeg -v error -i '" + strClip + "' -f rawvideo -pix_fmt bgr24 -y /dev/null";
        const auto t1 = Clock::now();
        const int nStatus = std::system(strCmd.c_str());
        const double d2 = Seconds(t1);
        theirs.push_back(d2);
        std::printf("  ffmpeg command run %d: %.3f s = %.1f frames/s%s\n", r + 1, d2, n / d2,
                    nStatus ? "  (FAILED)" : "");
    }
    const SStats a = Summarise(ours), b = Summarise(theirs);
    std::printf("  median: CFileDecoder %.1f frames/s, ffmpeg command %.1f frames/s (%lld frames)\n",
                llFrames / a.dMedian, llFrames / b.dMedian, static_cast<long long>(llFrames));
    std::printf("  command: ffmpeg -v error -i CLIP -f rawvideo -pix_fmt bgr24 -y /dev/null\n");
}

void Seeks(const std::string& strClip, bool bByFrame, int nSeeks) {
    std::printf("\n== exact seeks (%s): %s\n", bByFrame ? "by frame number" : "by media time", strClip.c_str());
    CFileDecoder dec;
    if (dec.Open(strClip) != S_OK) {
        std::fprintf(stderr, "bench_decode: cannot open %s\n", strClip.c_str());
        std::exit(1);
    }
    std::vector<BYTE> frame(dec.GetImageSize());
    const LONGLONG llCount = dec.GetFrameCount();
    std::mt19937 rng(2026);
    int nWrong = 0;
    auto Grab = [&](LONGLONG p) {
        const HRESULT hr = bByFrame ? dec.SeekToFrame(p) : dec.SeekToTime(dec.FrameToTime(p));
        if (hr != S_OK || dec.ReadFrame(frame.data(), frame.size(), nullptr) != S_OK ||
            ReadFrameIndex(frame.data(), dec.GetWidth(), dec.GetHeight(), dec.GetStride()) != p) {
            ++nWrong;
        }
    };
    std::vector<double> random, plus, minus, walk;
    for (int i = 0; i < nSeeks; ++i) {
        // A grab at a random position, then a step forward from there.
        const LONGLONG p = 1 + static_cast<LONGLONG>(rng() % (llCount - 2));
        auto t0 = Clock::now();
        Grab(p);
        random.push_back(Seconds(t0) * 1000);
        t0 = Clock::now();
        Grab(p + 1);
        plus.push_back(Seconds(t0) * 1000);
        // A grab somewhere else (not timed), then a step back from there.
        const LONGLONG q = 1 + static_cast<LONGLONG>(rng() % (llCount - 2));
        Grab(q);
        t0 = Clock::now();
        Grab(q - 1);
        minus.push_back(Seconds(t0) * 1000);
    }
    // Stepping back frame by frame, as a user holding the step-back key.
    const LONGLONG llWalkFrom = std::min<LONGLONG>(llCount - 1, 280);  // crosses the keyframe at 250
    Grab(llWalkFrom);
    for (LONGLONG p = llWalkFrom - 1; p > llWalkFrom - 1 - 60 && p >= 0; --p) {
        const auto t0 = Clock::now();
        Grab(p);
        walk.push_back(Seconds(t0) * 1000);
    }
    for (const auto& [pszWhat, v] : {std::pair<const char*, std::vector<double>&>{"random position", random},
                                     {"step +1", plus},
                                     {"step -1", minus},
                                     {"60 steps back", walk}}) {
        const SStats s = Summarise(v);
        std::printf("  %-16s min %7.2f  median %7.2f  mean %7.2f  max %7.2f ms\n", pszWhat, s.dMin, s.dMedian,
                    s.dMean, s.dMax);
    }
    std::printf("  %d seeks of each kind, %lld demuxer seeks, %d wrong frames\n", nSeeks,
                static_cast<long long>(dec.GetDemuxerSeekCount()), nWrong);
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
    const std::string strH264 = EnsureClip(EClipFormat::Mp4H264, 600, 60, 250, "h264-1920x1080-60fps-600f-gop250.mp4");
    const std::string strAvi = EnsureClip(EClipFormat::AviMpeg4, 600, 60, 250, "mpeg4-1920x1080-60fps-600f-gop250.avi");
    DecodeAll(strH264, nRepeat);
    Seeks(strH264, false, nSeeks);
    Seeks(strAvi, true, nSeeks);
    return 0;
}
