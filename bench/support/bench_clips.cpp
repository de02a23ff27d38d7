#include "bench/support/bench_clips.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tools/clip_writer.h"

namespace fs = std::filesystem;

double SecondsSince(BenchClock::time_point t0) {
    return std::chrono::duration<double>(BenchClock::now() - t0).count();
}

SBenchArgs ParseBenchArgs(int argc, char** argv) {
    SBenchArgs args;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string s = argv[i];
        if (s == "--repeat") args.nRepeat = std::max(1, std::atoi(argv[i + 1]));
        if (s == "--seeks") args.nSeeks = std::max(1, std::atoi(argv[i + 1]));
    }
    return args;
}

namespace {

std::string EnsureClip(EClipFormat eFormat, const char* pszName, const char* pszProgram) {
    constexpr int kFrames = 600;
    fs::create_directories(PELORA_BENCH_CLIP_DIR);
    const std::string strPath = std::string(PELORA_BENCH_CLIP_DIR) + "/" + pszName;
    if (fs::exists(strPath) && fs::file_size(strPath) > 0) return strPath;
    SClipParams params;
    params.eFormat = eFormat;
    params.nWidth = 1920;
    params.nHeight = 1080;
    params.nFrames = kFrames;
    params.nFpsNum = 60;
    params.nGop = 250;
    std::printf("writing %s (%d frames, once) ...\n", strPath.c_str(), kFrames);
    std::fflush(stdout);
    const auto t0 = BenchClock::now();
    const std::string strTmp = strPath + ".part";
    const std::string strErr = WriteClip(strTmp, params);
    if (!strErr.empty()) {
        std::fprintf(stderr, "%s: %s\n", pszProgram, strErr.c_str());
        std::exit(1);
    }
    fs::rename(strTmp, strPath);
    std::printf("  written in %.1f s\n", SecondsSince(t0));
    return strPath;
}

}  // namespace

SBenchClips EnsureBenchClips(const char* pszProgram) {
    SBenchClips clips;
    clips.strH264 =
        EnsureClip(EClipFormat::Mp4H264, "h264-1920x1080-60fps-600f-gop250.mp4", pszProgram);
    clips.strAvi =
        EnsureClip(EClipFormat::AviMpeg4, "mpeg4-1920x1080-60fps-600f-gop250.avi", pszProgram);
    return clips;
}

double RunFfmpegDecode(const std::string& strClip, int nRun, long long llFrames) {
    const std::string strCmd =
        "ffmpeg -v error -i '" + strClip + "' -f rawvideo -pix_fmt bgr24 -y /dev/null";
    const auto t0 = BenchClock::now();
    const int nStatus = std::system(strCmd.c_str());
    const double d = SecondsSince(t0);
    std::printf("  ffmpeg command run %d: %.3f s = %.1f frames/s%s\n", nRun, d, llFrames / d,
                nStatus ? "  (FAILED)" : "");
    return d;
}

SStats Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    double dSum = 0;
    for (double d : v) dSum += d;
    return {v.front(), v[v.size() / 2], dSum / v.size(), v.back()};
}

void PrintMsStats(const char* pszWhat, const std::vector<double>& v) {
    const SStats s = Summarise(v);
    std::printf("  %-16s min %7.2f  median %7.2f  mean %7.2f  max %7.2f ms\n", pszWhat, s.dMin,
                s.dMedian, s.dMean, s.dMax);
}
