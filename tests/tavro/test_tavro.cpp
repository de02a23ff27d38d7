// The plug-in as the viewer sees it: Tavro.so loaded with dlopen, TavroFunc
// looked up with dlsym and called with output, input and the BITMAPINFO by
// value. Expected frames come from a plain per-pixel reference written here,
// independent of the plug-in's planes and tiles.

#include <dlfcn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "pelora/tavro_plugin.h"
#include "reference_luma.h"

// The allocation-failure test asks for planes larger than any address space;
// the sanitizers' allocators must then return null as the plain one does
// instead of stopping the process.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }
#endif

namespace {

constexpr uint8_t kGuard = 0xCC;    // output bytes the plug-in must overwrite or leave alone
constexpr uint8_t kJunkPad = 0xEE;  // input padding the plug-in must ignore
constexpr size_t kGuardBytes = 64;  // after the frame: must never be written

int64_t Stride(int32_t nWidth) { return (3 * static_cast<int64_t>(nWidth) + 3) & ~int64_t{3}; }

BITMAPINFO MakeFormat(int32_t nWidth, int32_t nHeight) {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = nWidth;
    bmi.bmiHeader.biHeight = nHeight;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biCompression = BI_RGB;
    if (nWidth > 0 && nHeight > 0) {
        bmi.bmiHeader.biSizeImage = static_cast<uint32_t>(Stride(nWidth) * nHeight);
    }
    return bmi;
}

using tavro_test::kSweepColours;
using tavro_test::ReferenceLuma;
using tavro_test::SweepColour;

// A 24-bit bottom-up frame with its padding filled with junk.
struct CFrame {
    CFrame(int32_t nWidth, int32_t nHeight)
        : m_nWidth(nWidth),
          m_nHeight(nHeight),
          m_nStride(Stride(nWidth)),
          m_abBits(static_cast<size_t>(m_nStride * nHeight), kJunkPad) {}

    uint8_t* Pixel(int32_t i, int32_t j) {
        return &m_abBits[static_cast<size_t>(i * m_nStride + 3 * j)];
    }

    void Set(int32_t i, int32_t j, uint8_t nBlue, uint8_t nGreen, uint8_t nRed) {
        uint8_t* p = Pixel(i, j);
        p[0] = nBlue;
        p[1] = nGreen;
        p[2] = nRed;
    }

    // What the plug-in must produce: every pixel black or white by the
    // reference luminance, in place, every padding byte 0, then the guard.
    std::vector<uint8_t> Expected() const {
        std::vector<uint8_t> abOut(m_abBits.size() + kGuardBytes, kGuard);
        for (int32_t i = 0; i < m_nHeight; ++i) {
            const size_t nRow = static_cast<size_t>(i * m_nStride);
            for (int32_t j = 0; j < m_nWidth; ++j) {
                const uint8_t* p = &m_abBits[nRow + 3 * j];
                const uint8_t v = ReferenceLuma(p[0], p[1], p[2]) < 128 ? 0 : 255;
                abOut[nRow + 3 * j] = abOut[nRow + 3 * j + 1] = abOut[nRow + 3 * j + 2] = v;
            }
            for (int64_t k = 3 * m_nWidth; k < m_nStride; ++k) abOut[nRow + k] = 0;
        }
        return abOut;
    }

    int32_t m_nWidth;
    int32_t m_nHeight;
    int64_t m_nStride;
    std::vector<uint8_t> m_abBits;
};

std::string DescribeFirstDifference(const std::vector<uint8_t>& abActual,
                                    const std::vector<uint8_t>& abExpected, int64_t nStride) {
    for (size_t k = 0; k < abExpected.size(); ++k) {
        if (abActual[k] != abExpected[k]) {
            return "first difference at byte " + std::to_string(k) + " (row " +
                   std::to_string(static_cast<int64_t>(k) / nStride) + ", byte " +
                   std::to_string(static_cast<int64_t>(k) % nStride) + " of the row): got " +
                   std::to_string(abActual[k]) + ", want " + std::to_string(abExpected[k]);
        }
    }
    return "";
}

class TavroPlugin : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_hModule = dlopen(TAVRO_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!s_hModule) {
            s_strError = std::string("dlopen: ") + dlerror();
            return;
        }
        s_pTavroFunc = reinterpret_cast<TAVROFUNC>(dlsym(s_hModule, TAVRO_FUNC_NAME));
        if (!s_pTavroFunc) s_strError = std::string("dlsym: ") + dlerror();
    }

    static void TearDownTestSuite() {
        if (s_hModule) dlclose(s_hModule);
        s_hModule = nullptr;
        s_pTavroFunc = nullptr;
    }

    void SetUp() override { ASSERT_NE(s_pTavroFunc, nullptr) << s_strError; }

    // Runs the plug-in on the frame into a guarded output buffer pre-filled
    // with kGuard.
    std::vector<uint8_t> Process(const CFrame& frame, int32_t* pnResult = nullptr) {
        std::vector<uint8_t> abOut(frame.m_abBits.size() + kGuardBytes, kGuard);
        const int32_t nResult = s_pTavroFunc(abOut.data(), frame.m_abBits.data(),
                                             MakeFormat(frame.m_nWidth, frame.m_nHeight));
        if (pnResult) *pnResult = nResult;
        return abOut;
    }

    static void* s_hModule;
    static TAVROFUNC s_pTavroFunc;
    static std::string s_strError;
};

void* TavroPlugin::s_hModule = nullptr;
TAVROFUNC TavroPlugin::s_pTavroFunc = nullptr;
std::string TavroPlugin::s_strError;

TEST_F(TavroPlugin, TurnsKnownColoursBlackOrWhiteWithZeroPadAtWidthOneAndNoPadAtWidthFour) {
    // W = 4: stride 12, no padding, so nothing may be written past 24 bytes.
    CFrame four(4, 2);
    four.Set(0, 0, 255, 255, 255);  // white: luminance 255
    four.Set(0, 1, 128, 128, 128);  // sum just below 128 -> 127 -> black
    four.Set(0, 2, 0, 0, 255);      // pure red: 76
    four.Set(0, 3, 0, 255, 0);      // pure green: 149
    four.Set(1, 0, 255, 0, 0);      // pure blue: 29
    four.Set(1, 1, 0, 0, 0);
    four.Set(1, 2, 127, 127, 127);
    four.Set(1, 3, 129, 129, 129);
    int32_t nResult = -2;
    std::vector<uint8_t> abOut = Process(four, &nResult);
    std::vector<uint8_t> abWant = {255, 255, 255, 0, 0, 0, 0, 0, 0, 255, 255, 255,
                                   0,   0,   0,   0, 0, 0, 0, 0, 0, 255, 255, 255};
    abWant.resize(abWant.size() + kGuardBytes, kGuard);
    EXPECT_EQ(abOut, abWant);
    EXPECT_EQ(nResult, 0);

    // W = 1: pad 1, stride 4; the input's pad bytes hold junk.
    CFrame one(1, 3);
    one.Set(0, 0, 255, 255, 255);
    one.Set(1, 0, 128, 128, 128);
    one.Set(2, 0, 0, 255, 0);
    abOut = Process(one);
    abWant = {255, 255, 255, 0, 0, 0, 0, 0, 255, 255, 255, 0};
    abWant.resize(abWant.size() + kGuardBytes, kGuard);
    EXPECT_EQ(abOut, abWant);
}

TEST_F(TavroPlugin, MatchesReferenceKeepsOrientationAndZeroesPaddingAtEveryWidthAndTileEdge) {
    // Random colours, so a flip, a transpose or a shifted row or column shows;
    // frames wider than tall and taller than wide, widths with every padding
    // length (W mod 4 = 1, 2, 3, 0) and sizes on both sides of the plug-in's
    // 8-pixel blocks and of its 32-row by 512-column tiles.
    const std::pair<int32_t, int32_t> aSizes[] = {
        {1, 1},   {1, 5},    {6, 1},    {2, 3},    {3, 2},    {5, 7},   {7, 5},
        {8, 8},   {9, 17},   {17, 9},   {31, 33},  {33, 31},  {32, 64}, {65, 40},
        {511, 3}, {513, 70}, {3, 1030}, {1029, 5}, {640, 480}};
    std::mt19937 random(20240601);
    for (const auto& [nWidth, nHeight] : aSizes) {
        CFrame frame(nWidth, nHeight);
        for (int32_t i = 0; i < nHeight; ++i) {
            for (int32_t j = 0; j < nWidth; ++j) {
                frame.Set(i, j, static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                          static_cast<uint8_t>(random()));
            }
        }
        const std::vector<uint8_t> abOut = Process(frame);
        const std::vector<uint8_t> abWant = frame.Expected();
        ASSERT_EQ(abOut, abWant) << nWidth << "x" << nHeight << ": "
                                 << DescribeFirstDifference(abOut, abWant, frame.m_nStride);
    }
}

TEST_F(TavroPlugin, IsBitExactOverEveryColour) {
    // 4096 x 256 frames (sixteen of them for all 2^24 colours); pixel k of
    // frame n (in memory order) has sweep colour n * 2^20 + k: blue = bits
    // 0-7, green = bits 8-15, red = bits 16-23. The same buffers serve every
    // frame.
    constexpr int32_t kWidth = 4096;
    constexpr int32_t kHeight = 256;
    constexpr uint32_t kPixels = uint32_t{kWidth} * kHeight;
    CFrame frame(kWidth, kHeight);
    std::vector<uint8_t> abOut(frame.m_abBits.size());
    size_t nWrong = 0;
    std::string strFirst;
    for (uint32_t nBase = 0; nBase < kSweepColours; nBase += kPixels) {
        for (uint32_t k = 0; k < kPixels; ++k) {
            const uint32_t nColour = SweepColour(nBase + k);
            uint8_t* p = &frame.m_abBits[3 * static_cast<size_t>(k)];
            p[0] = static_cast<uint8_t>(nColour);
            p[1] = static_cast<uint8_t>(nColour >> 8);
            p[2] = static_cast<uint8_t>(nColour >> 16);
        }
        s_pTavroFunc(abOut.data(), frame.m_abBits.data(), MakeFormat(kWidth, kHeight));
        for (uint32_t k = 0; k < kPixels; ++k) {
            const uint8_t* p = &frame.m_abBits[3 * static_cast<size_t>(k)];
            const uint8_t* q = &abOut[3 * static_cast<size_t>(k)];
            const uint8_t v = ReferenceLuma(p[0], p[1], p[2]) < 128 ? 0 : 255;
            if ((q[0] != v || q[1] != v || q[2] != v) && nWrong++ == 0) {
                strFirst = "blue " + std::to_string(p[0]) + " green " + std::to_string(p[1]) +
                           " red " + std::to_string(p[2]);
            }
        }
    }
    EXPECT_EQ(nWrong, 0u) << "colours binarized differently from the reference; first: "
                          << strFirst;
}

TEST_F(TavroPlugin, LeavesOutputUntouchedWithoutPixelsOrWhenScratchPlanesCannotBeAllocated) {
    // The last two need W*H bytes beyond any address space; computed in 32
    // bits, INT_MAX^2 would wrap to 1 and the passes run over the buffers.
    const std::vector<uint8_t> abInput(64, 200);
    const std::pair<int32_t, int32_t> aSizes[] = {{0, 4},
                                                  {4, 0},
                                                  {-4, 3},
                                                  {3, -4},
                                                  {INT_MIN, 2},
                                                  {2, INT_MIN},
                                                  {INT_MAX, INT_MAX},
                                                  {1 << 30, 1 << 30}};
    for (const auto& [nWidth, nHeight] : aSizes) {
        std::vector<uint8_t> abOut(64, kGuard);
        const int32_t nResult =
            s_pTavroFunc(abOut.data(), abInput.data(), MakeFormat(nWidth, nHeight));
        EXPECT_EQ(abOut, std::vector<uint8_t>(64, kGuard)) << nWidth << "x" << nHeight;
        EXPECT_EQ(nResult, -1) << nWidth << "x" << nHeight;
    }
}

TEST_F(TavroPlugin, AllowsConcurrentCallsOnDistinctBuffers) {
    // The plug-in keeps no state between or during calls; run under the
    // thread sanitizer this catches any shared scratch buffer.
    CFrame frame(97, 61);
    std::mt19937 random(7);
    for (uint8_t& b : frame.m_abBits) b = static_cast<uint8_t>(random());
    const std::vector<uint8_t> abWant = frame.Expected();
    std::vector<uint8_t> abOut[2];
    std::thread threads[2];
    for (int t = 0; t < 2; ++t) {
        threads[t] = std::thread([&, t] {
            for (int n = 0; n < 20; ++n) {
                abOut[t].assign(frame.m_abBits.size() + kGuardBytes, kGuard);
                s_pTavroFunc(abOut[t].data(), frame.m_abBits.data(), MakeFormat(97, 61));
                if (abOut[t] != abWant) return;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(abOut[0], abWant);
    EXPECT_EQ(abOut[1], abWant);
}

// Runs a shell command; returns what it wrote on standard output and its
// exit status in *pnStatus.
std::string RunShell(const std::string& strCommand, int* pnStatus) {
    std::string strOut;
    FILE* pPipe = popen(strCommand.c_str(), "r");
    if (!pPipe) return "<popen failed>";
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pPipe)) > 0) strOut.append(buffer, n);
    const int nStatus = pclose(pPipe);
    *pnStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    return strOut;
}

TEST(TavroModule, ExportsOnlyTavroFunc) {
    int nStatus = -1;
    const std::string strSymbols =
        RunShell(std::string("nm -D --defined-only --extern-only ") + TAVRO_PLUGIN_PATH, &nStatus);
    ASSERT_EQ(nStatus, 0) << strSymbols;
    EXPECT_TRUE(std::regex_match(strSymbols, std::regex("[0-9a-f]+ T TavroFunc\n"))) << strSymbols;
}

TEST(TavroModule, WritesTraceLinesOnLoadAndUnload) {
    // The probe loads and unloads the plug-in in a process of its own; its
    // standard error is captured, its standard output dropped.
    const std::string strProbe =
        std::string(" ") + TAVRO_TRACE_PROBE_PATH + " " + TAVRO_PLUGIN_PATH + " 2>&1 >/dev/null";
    const std::regex traceLines(
        "dllmain\\.cpp\\([0-9]+\\) : Tavro\\.DLL Initializing!\n"
        "dllmain\\.cpp\\([0-9]+\\) : Tavro\\.DLL Terminating!\n");
    int nStatus = -1;
    const std::string strTraced = RunShell("env PELORA_TRACE=1" + strProbe, &nStatus);
    EXPECT_EQ(nStatus, 0);
    EXPECT_TRUE(std::regex_search(strTraced, traceLines)) << "stderr was: " << strTraced;

    // Without it: the same lines in a debug build, silence in a release build.
    const std::string strQuiet = RunShell("env -u PELORA_TRACE" + strProbe, &nStatus);
    EXPECT_EQ(nStatus, 0);
#ifdef NDEBUG
    EXPECT_EQ(strQuiet.find("Tavro.DLL"), std::string::npos) << "stderr was: " << strQuiet;
#else
    EXPECT_TRUE(std::regex_search(strQuiet, traceLines)) << "stderr was: " << strQuiet;
#endif
}

}  // namespace
