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
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "bench/support/bench_clips.h"
#include "platform/ffmpeg/file_decoder.h"
#include "tools/frame_pattern.h"

namespace {

void DecodeAll(const std::string& strClip, int nRepeat) {
    std::printf("\n== decode all frames: %s\n", strClip.c_str());
    std::vector<double> ours, theirs;
    LONGLONG llFrames = 0;
    for (int r = 0; r < nRepeat; ++r) {
        CFileDecoder dec;
        const auto t0 = BenchClock::now();
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
            if (n % 100 == 0 && ReadFrameIndex(frame.data(), dec.GetWidth(), dec.GetHeight(),
                                               dec.GetStride()) != n) {
                ++nWrong;
            }
            ++n;
        }
        const double d = SecondsSince(t0);
        ours.push_back(d);
        llFrames = n;
        std::printf("  CFileDecoder run %d: %lld frames in %.3f s = %.1f frames/s%s\n", r + 1,
                    static_cast<long long>(n), d, n / d, nWrong ? "  (PATTERN MISMATCH)" : "");

        theirs.push_back(RunFfmpegDecode(strClip, r + 1, n));
    }
    const SStats a = Summarise(ours), b = Summarise(theirs);
    std::printf(
        "  median: CFileDecoder %.1f frames/s, ffmpeg command %.1f frames/s (%lld frames)\n",
        llFrames / a.dMedian, llFrames / b.dMedian, static_cast<long long>(llFrames));
    std::printf("  command: ffmpeg -v error -i CLIP -f rawvideo -pix_fmt bgr24 -y /dev/null\n");
}

void Seeks(const std::string& strClip, bool bByFrame, int nSeeks) {
    std::printf("\n== exact seeks (%s): %s\n", bByFrame ? "by frame number" : "by media time",
                strClip.c_str());
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
        random.push_back(MillisecondsOf([&] { Grab(p); }));
        plus.push_back(MillisecondsOf([&] { Grab(p + 1); }));
        // A grab somewhere else (not timed), then a step back from there.
        const LONGLONG q = 1 + static_cast<LONGLONG>(rng() % (llCount - 2));
        Grab(q);
        minus.push_back(MillisecondsOf([&] { Grab(q - 1); }));
    }
    // Stepping back frame by frame, as a user holding the step-back key.
    const LONGLONG llWalkFrom =
        std::min<LONGLONG>(llCount - 1, 280);  // crosses the keyframe at 250
    Grab(llWalkFrom);
    for (LONGLONG p = llWalkFrom - 1; p > llWalkFrom - 1 - 60 && p >= 0; --p) {
        walk.push_back(MillisecondsOf([&] { Grab(p); }));
    }
    PrintMsStats("random position", random);
    PrintMsStats("step +1", plus);
    PrintMsStats("step -1", minus);
    PrintMsStats("60 steps back", walk);
    std::printf("  %d seeks of each kind, %lld demuxer seeks, %d wrong frames\n", nSeeks,
                static_cast<long long>(dec.GetDemuxerSeekCount()), nWrong);
}

}  // namespace

int main(int argc, char** argv) {
    const SBenchArgs args = ParseBenchArgs(argc, argv);
    av_log_set_level(AV_LOG_ERROR);
    const SBenchClips clips = EnsureBenchClips("bench_decode");
    DecodeAll(clips.strH264, args.nRepeat);
    Seeks(clips.strH264, false, args.nSeeks);
    Seeks(clips.strAvi, true, args.nSeeks);
    return 0;
}
