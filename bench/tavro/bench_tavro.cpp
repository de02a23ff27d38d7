// Times the plug-in's TavroFunc per frame at 640x480, 1280x720 and
// 1920x1080, and a plain memcpy of each frame in the same run; after the
// Google Benchmark table it prints ms per frame and the ratio to memcpy.
//
//   bench_tavro [--benchmark_min_time=SECONDS] [other Google Benchmark flags]

#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
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
    return static_cast<int64_t>(nHeight) * ((3 * static_cast<int64_t>(nWidth) + 3) & ~3);
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

// Console output as usual, plus the real time per iteration of every run,
// kept for the summary.
class CSummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            m_mapMs[run.benchmark_name()] =
                run.GetAdjustedRealTime() *
                benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
    }

    void PrintSummary() const {
        std::printf("\n%-10s %14s %12s %8s\n", "frame", "TavroFunc ms", "memcpy ms", "ratio");
        for (const CFrameSize& size : kSizes) {
            const std::string strArgs = "/w:" + std::to_string(size.nWidth) +
                                        "/h:" + std::to_string(size.nHeight) + "/real_time";
            const auto itTavro = m_mapMs.find("BM_TavroFunc" + strArgs);
            const auto itCopy = m_mapMs.find("BM_Memcpy" + strArgs);
            if (itTavro == m_mapMs.end() || itCopy == m_mapMs.end()) continue;
            std::printf("%4dx%-5d %14.3f %12.3f %8.1f\n", size.nWidth, size.nHeight,
                        itTavro->second, itCopy->second, itTavro->second / itCopy->second);
        }
    }

private:
    std::map<std::string, double> m_mapMs;  // benchmark name -> ms per iteration
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
