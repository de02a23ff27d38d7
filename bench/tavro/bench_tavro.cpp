// Times the plug-in's TavroFunc per frame at 640x480, 1280x720 and
// 1920x1080, and a plain memcpy of each frame in the same run; after the
// Google Benchmark table it prints ms per frame and the ratio to memcpy.
//
//   bench_tavro [--benchmark_min_time=SECONDS] [--benchmark_repetitions=N] [...]

#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "pelora/tavro_plugin.h"

namespace {

struct CFrameSize {
    int nWidth;
    int nHeight;
};

constexpr CFrameSize kSizes[] = {{640, 480}, {1280, 720}, {1920, 1080}};

int64_t FrameBytes(int nWidth, int nHeight) {
    return static_cast<int64_t>(nHeight) * TavroRowStride(nWidth);
}

BITMAPINFO MakeFormat(int nWidth, int nHeight) {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = nWidth;
    bmi.bmiHeader.biHeight = nHeight;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biCompression = BI_RGB;
    bmi.bmiHeader.biSizeImage = static_cast<uint32_t>(FrameBytes(nWidth, nHeight));
    return bmi;
}

// A camera-like frame: smooth gradients with some texture, so that both
// black and white come out and no branch predictor gets a free ride.
std::vector<uint8_t> MakeFrame(int nWidth, int nHeight) {
    std::vector<uint8_t> abFrame(static_cast<size_t>(FrameBytes(nWidth, nHeight)), 0);
    const int64_t nStride = FrameBytes(nWidth, 1);
    uint32_t nNoise = 12345;
    for (int i = 0; i < nHeight; ++i) {
        for (int j = 0; j < nWidth; ++j) {
            nNoise = nNoise * 1664525u + 1013904223u;
            uint8_t* p = &abFrame[static_cast<size_t>(i * nStride + 3 * j)];
            p[0] = static_cast<uint8_t>(j * 255 / nWidth + (nNoise >> 28));
            p[1] = static_cast<uint8_t>(i * 255 / nHeight + (nNoise >> 24 & 15));
            p[2] = static_cast<uint8_t>((i + j) * 255 / (nWidth + nHeight) + (nNoise >> 20 & 15));
        }
    }
    return abFrame;
}

// The plug-in, loaded once for the whole run.
TAVROFUNC g_pTavroFunc = nullptr;
std::string g_strLoadError;

void BM_TavroFunc(benchmark::State& state) {
    if (!g_pTavroFunc) {
        state.SkipWithError(g_strLoadError.c_str());
        return;
    }
    const int nWidth = static_cast<int>(state.range(0));
    const int nHeight = static_cast<int>(state.range(1));
    const std::vector<uint8_t> abInput = MakeFrame(nWidth, nHeight);
    std::vector<uint8_t> abOutput(abInput.size());
    const BITMAPINFO bmi = MakeFormat(nWidth, nHeight);
    for (auto _ : state) {
        benchmark::DoNotOptimize(g_pTavroFunc(abOutput.data(), abInput.data(), bmi));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(abInput.size()));
}

void BM_Memcpy(benchmark::State& state) {
    const int nWidth = static_cast<int>(state.range(0));
    const int nHeight = static_cast<int>(state.range(1));
    const std::vector<uint8_t> abInput = MakeFrame(nWidth, nHeight);
    std::vector<uint8_t> abOutput(abInput.size());
    for (auto _ : state) {
        std::memcpy(abOutput.data(), abInput.data(), abInput.size());
        benchmark::DoNotOptimize(abOutput.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(abInput.size()));
}

void AddSizes(benchmark::internal::Benchmark* pBench) {
    for (const CFrameSize& size : kSizes) pBench->Args({size.nWidth, size.nHeight});
    pBench->ArgNames({"w", "h"})->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_TavroFunc)->Apply(AddSizes);
BENCHMARK(BM_Memcpy)->Apply(AddSizes);

// Console output as usual, plus the best (lowest) real and CPU time per
// iteration of every benchmark over its repetitions, kept for the summary.
// On a shared machine the real time includes time the process spent waiting
// for a core; the CPU time does not.
class CSummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // Single runs, and the mean of the repetitions, which is all that
            // arrives with --benchmark_report_aggregates_only; the minimum
            // keeps the best of them.
            const bool bMean = run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean";
            if (run.error_occurred || (run.run_type != Run::RT_Iteration && !bMean)) continue;
            const double dToMs = benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                                 benchmark::GetTimeUnitMultiplier(run.time_unit);
            CBest& best = m_mapBest[run.run_name.function_name + "/" + run.run_name.args];
            best.m_dRealMs = std::min(best.m_dRealMs, run.GetAdjustedRealTime() * dToMs);
            best.m_dCpuMs = std::min(best.m_dCpuMs, run.GetAdjustedCPUTime() * dToMs);
        }
    }

    void PrintSummary() const {
        std::printf("\nms per frame, best run  real: wall clock, cpu: this thread\n");
        std::printf("%-10s %10s %10s %10s %10s %10s %10s\n", "frame", "Tavro real", "Tavro cpu",
                    "copy real", "copy cpu", "ratio real", "ratio cpu");
        for (const CFrameSize& size : kSizes) {
            const std::string strArgs =
                "/w:" + std::to_string(size.nWidth) + "/h:" + std::to_string(size.nHeight);
            const auto itTavro = m_mapBest.find("BM_TavroFunc" + strArgs);
            const auto itCopy = m_mapBest.find("BM_Memcpy" + strArgs);
            if (itTavro == m_mapBest.end() || itCopy == m_mapBest.end()) continue;
            const CBest& tavro = itTavro->second;
            const CBest& copy = itCopy->second;
            std::printf("%4dx%-5d %10.3f %10.3f %10.3f %10.3f %10.1f %10.1f\n", size.nWidth,
                        size.nHeight, tavro.m_dRealMs, tavro.m_dCpuMs, copy.m_dRealMs,
                        copy.m_dCpuMs, tavro.m_dRealMs / copy.m_dRealMs,
                        tavro.m_dCpuMs / copy.m_dCpuMs);
        }
    }

private:
    struct CBest {
        double m_dRealMs = std::numeric_limits<double>::infinity();
        double m_dCpuMs = std::numeric_limits<double>::infinity();
    };
    std::map<std::string, CBest> m_mapBest;  // "BM_x/w:W/h:H" -> best times
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    void* hModule = dlopen(TAVRO_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!hModule) {
        g_strLoadError = std::string("dlopen: ") + dlerror();
    } else {
        g_pTavroFunc = reinterpret_cast<TAVROFUNC>(dlsym(hModule, TAVRO_FUNC_NAME));
        if (!g_pTavroFunc) g_strLoadError = std::string("dlsym: ") + dlerror();
    }

    CSummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    if (hModule) dlclose(hModule);
    return g_pTavroFunc ? 0 : 1;
}
