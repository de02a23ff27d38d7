// The plug-in as the viewer sees it (dlopen, dlsym, TavroFunc called with
// output, input and the BITMAPINFO by value), against a plain per-pixel
// reference written here, independent of the plug-in's planes and tiles.

#include <dlfcn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "pelora/tavro_plugin.h"
#include "reference_luma.h"
#include "support/race_loops.h"

// The allocation-failure case asks for planes larger than any address space;
// the sanitizers' allocators must then return null as the plain one does
// instead of stopping the process. (gcc names the sanitizer in a macro,
// clang answers __has_feature.)
#if defined(__has_feature)
#if __has_feature(address_sanitizer) && !defined(__SANITIZE_ADDRESS__)
#define PELORA_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(PELORA_ASAN)
extern "C" const char* __asan_default_options();  // the sanitizer runtime calls it
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif
#ifdef PELORA_TSAN
extern "C" const char* __tsan_default_options();  // the sanitizer runtime calls it
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }
#endif

namespace {

constexpr uint8_t kGuard = 0xCC;    // output bytes the plug-in must overwrite or leave alone
constexpr size_t kGuardBytes = 64;  // after the frame: must never be written

// The format as the viewer passes it; the plug-in reads only the size.
BITMAPINFO MakeFormat(int32_t nWidth, int32_t nHeight) {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biWidth = nWidth;
    bmi.bmiHeader.biHeight = nHeight;
    bmi.bmiHeader.biBitCount = 24;
    return bmi;
}

// Loaded once, never unloaded (the trace test loads it in a process of its own).
TAVROFUNC Plugin() {
    static const TAVROFUNC s_pFunc = [] {
        void* hModule = dlopen(TAVRO_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        return hModule ? reinterpret_cast<TAVROFUNC>(dlsym(hModule, TAVRO_FUNC_NAME)) : nullptr;
    }();
    return s_pFunc;
}

// A 24-bit bottom-up frame whose row padding holds junk the plug-in must ignore.
struct CFrame {
    CFrame(int32_t nWidth, int32_t nHeight)
        : m_nWidth(nWidth),
          m_nHeight(nHeight),
          m_nStride((3 * int64_t{nWidth} + 3) & ~int64_t{3}),
          m_abBits(static_cast<size_t>(m_nStride * nHeight), 0xEE) {}

    // Expected: every pixel black or white by the reference luminance, in
    // place, every padding byte 0, then the untouched guard. Compared without
    // printing megabytes of frame.
    void ExpectProcessedAsReference() const {
        std::vector<uint8_t> abWant(m_abBits.size() + kGuardBytes, kGuard);
        for (int64_t nRow = 0; nRow < m_nHeight * m_nStride; nRow += m_nStride) {
            for (int64_t k = 0; k < 3 * m_nWidth; k += 3) {
                const uint8_t* p = &m_abBits[nRow + k];
                const uint8_t v = tavro_test::ReferenceLuma(p[0], p[1], p[2]) < 128 ? 0 : 255;
                std::fill_n(&abWant[nRow + k], 3, v);
            }
            std::fill(&abWant[nRow + 3 * m_nWidth], &abWant[nRow + m_nStride], 0);
        }
        std::vector<uint8_t> abOut(m_abBits.size() + kGuardBytes, kGuard);
        EXPECT_EQ(Plugin()(abOut.data(), m_abBits.data(), MakeFormat(m_nWidth, m_nHeight)), 0);
        const size_t k =
            std::mismatch(abOut.begin(), abOut.end(), abWant.begin()).first - abOut.begin();
        EXPECT_EQ(k, abOut.size()) << m_nWidth << "x" << m_nHeight << ": first difference in row "
                                   << k / m_nStride << " at byte " << k % m_nStride;
    }

    int32_t m_nWidth, m_nHeight;
    int64_t m_nStride;
    std::vector<uint8_t> m_abBits;
};

class TavroPlugin : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(Plugin(), nullptr) << dlerror(); }
};

// Hand-worked colours, independent of the reference: white, grey 128 (its
// sum falls just below 128: black), pure red (76), pure green (149), pure blue
// (29), each blue green red, then one padding byte, which comes out 0.
TEST_F(TavroPlugin, TurnsKnownColoursBlackOrWhite) {
    const std::vector<uint8_t> abInput = {255, 255, 255, 128, 128, 128, 0, 0,
                                          255, 0,   255, 0,   255, 0,   0, 0xEE};
    std::vector<uint8_t> abOut(16, kGuard);
    EXPECT_EQ(Plugin()(abOut.data(), abInput.data(), MakeFormat(5, 1)), 0);
    EXPECT_EQ(abOut,
              (std::vector<uint8_t>{255, 255, 255, 0, 0, 0, 0, 0, 0, 255, 255, 255, 0, 0, 0, 0}));
}

TEST_F(TavroPlugin, MatchesReferenceKeepsOrientationAndZeroesPaddingAtEveryWidthAndTileEdge) {
    // Random colours, so a flip, a transpose or a shifted row or column shows;
    // frames wider than tall and taller than wide, every padding length
    // (W mod 4 = 1, 2, 3, 0) and sizes on both sides of the plug-in's
    // 8-pixel blocks and of its 32-row by 512-column tiles.
    const std::pair<int32_t, int32_t> aSizes[] = {{1, 1},   {6, 1},    {2, 3},    {4, 2},
                                                  {7, 5},   {8, 8},    {9, 17},   {33, 31},
                                                  {511, 3}, {513, 70}, {3, 1030}, {1029, 5}};
    auto run = [&](unsigned nSeed) {
        std::mt19937 random(nSeed);
        for (const auto& [nWidth, nHeight] : aSizes) {
            CFrame frame(nWidth, nHeight);  // padding random too
            for (uint8_t& b : frame.m_abBits) b = random() & 255;
            frame.ExpectProcessedAsReference();
        }
    };
    // Two threads at once: the viewer's dialogs may call the plug-in together,
    // so it must keep no state between or during calls (under the thread
    // sanitizer a shared scratch buffer shows).
    std::thread other(run, 7);
    run(20240601);
    other.join();
}

// Every level of the pixel kernels is checked over every colour on its own as
// well; this checks the shipped binary as the viewer calls it.
TEST_F(TavroPlugin, IsBitExactOverEveryColour) {
    // 4096 x 256 frames (no padding); pixel k of frame n has sweep colour n * 2^20 + k.
    CFrame frame(4096, 256);
    const uint32_t nPixels = 4096 * 256;
    for (uint32_t nBase = 0; nBase < tavro_test::kSweepColours; nBase += nPixels) {
        for (uint32_t k = 0; k < nPixels; ++k) {
            const uint32_t nColour = tavro_test::SweepColour(nBase + k);
            for (int c = 0; c < 3; ++c) frame.m_abBits[3 * k + c] = nColour >> 8 * c;
        }
        frame.ExpectProcessedAsReference();
    }
}

TEST_F(TavroPlugin, LeavesOutputUntouchedWithoutPixelsOrWhenScratchPlanesCannotBeAllocated) {
    // The last two need W*H bytes beyond any address space; computed in 32
    // bits, INT_MAX^2 would wrap to 1 and the passes run over the buffers.
    const std::vector<uint8_t> abInput(64, 200);
    const std::pair<int32_t, int32_t> aSizes[] = {
        {0, 4}, {4, 0}, {-4, 3}, {2, INT_MIN}, {INT_MAX, INT_MAX}, {1 << 30, 1 << 30}};
    for (const auto& [nWidth, nHeight] : aSizes) {
        std::vector<uint8_t> abOut(64, kGuard);
        SCOPED_TRACE(std::to_string(nWidth) + "x" + std::to_string(nHeight));
        EXPECT_EQ(Plugin()(abOut.data(), abInput.data(), MakeFormat(nWidth, nHeight)), -1);
        EXPECT_EQ(abOut, std::vector<uint8_t>(64, kGuard));
    }
}

// Runs a shell command; returns its standard output, its exit status in *pnStatus.
std::string RunShell(const std::string& strCommand, int* pnStatus) {
    FILE* pPipe = popen(strCommand.c_str(), "r");
    std::string strOut;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pPipe)) > 0;) strOut.append(buffer, n);
    const int nStatus = pclose(pPipe);
    *pnStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    return strOut;
}

// The module exports TavroFunc alone, and traces its load and unload (the
// probe does both in a process of its own; its standard error is captured).
TEST(TavroModule, ExportsOnlyTavroFuncAndTracesLoadAndUnload) {
    int nStatus = -1;
    const std::string strSymbols =
        RunShell(std::string("nm -D --defined-only --extern-only ") + TAVRO_PLUGIN_PATH, &nStatus);
    ASSERT_EQ(nStatus, 0) << strSymbols;
    EXPECT_TRUE(std::regex_match(strSymbols, std::regex("[0-9a-f]+ T TavroFunc\n"))) << strSymbols;

    const std::string strTraced =
        RunShell(std::string("env PELORA_TRACE=1 ") + TAVRO_TRACE_PROBE_PATH + " " +
                     TAVRO_PLUGIN_PATH + " 2>&1 >/dev/null",
                 &nStatus);
    EXPECT_EQ(nStatus, 0);
    EXPECT_TRUE(std::regex_search(
        strTraced, std::regex("dllmain\\.cpp\\([0-9]+\\) : Tavro\\.DLL Initializing!\n"
                              "dllmain\\.cpp\\([0-9]+\\) : Tavro\\.DLL Terminating!\n")))
        << "stderr was: " << strTraced;
}

}  // namespace
