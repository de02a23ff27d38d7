// bench/support: what the decoding benchmarks (bench_decode, bench_graph)
// share: their command line, the two 1920x1080 clips with a 250-frame GOP
// (written once into the build folder's bench-clips/ and reused), the timing
// of the ffmpeg command they compare against, and the min/median/mean/max
// summary they print.
#pragma once

#include <chrono>
#include <string>
#include <vector>

using BenchClock = std::chrono::steady_clock;

// Seconds since t0.
double SecondsSince(BenchClock::time_point t0);

// Milliseconds that f() takes.
template <class F>
double MillisecondsOf(F&& f) {
    const auto t0 = BenchClock::now();
    f();
    return SecondsSince(t0) * 1000;
}

// "--repeat N" and "--seeks N" (each at least 1); the defaults are 3 and 20.
struct SBenchArgs {
    int nRepeat = 3;
    int nSeeks = 20;
};
SBenchArgs ParseBenchArgs(int argc, char** argv);

// The benchmark clips, both 600 frames at 60 fps with a keyframe every 250
// frames. Writes a missing one (saying so on stdout); on a write failure
// prints "<pszProgram>: <error>" and exits 1.
struct SBenchClips {
    std::string strH264;  // MP4, H.264
    std::string strAvi;   // AVI, MPEG-4 part 2
};
SBenchClips EnsureBenchClips(const char* pszProgram);

// Runs `ffmpeg -v error -i CLIP -f rawvideo -pix_fmt bgr24 -y /dev/null`,
// prints "  ffmpeg command run <nRun>: <s> = <llFrames/s> frames/s" (with
// "(FAILED)" when it exited non-zero) and answers the seconds it took.
double RunFfmpegDecode(const std::string& strClip, int nRun, long long llFrames);

struct SStats {
    double dMin, dMedian, dMean, dMax;
};
SStats Summarise(std::vector<double> v);  // v must not be empty

// One line "  <what> min .. median .. mean .. max .. ms" for v (milliseconds).
void PrintMsStats(const char* pszWhat, const std::vector<double>& v);
