// The plug-in as the viewer sees it: Tavro.so loaded with dlopen, TavroFunc
// looked up with dlsym and called with output, input and the BITMAPINFO by
// value. Expected frames come from a plain per-pixel reference written here,
// independent of the plug-in's planes and tiles.

#include <dlfcn.h>
#include <elf.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "pelora/tavro_plugin.h"

extern char** environ;

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

// The luminance rule, written straight from its definition.
// The colour sweep: every colour, except under the thread sanitizer, where
// every byte access is instrumented and the full sweep would take most of a
// minute; there 2^20 colours spread over the whole cube (colour n = 17 * n
// mod 2^24) still run through the code. The plain and address-sanitizer
// builds sweep them all.
#if defined(__SANITIZE_THREAD__)
constexpr uint32_t kSweepColours = 1u << 20;
constexpr uint32_t kSweepStep = 17;
#else
constexpr uint32_t kSweepColours = 1u << 24;
constexpr uint32_t kSweepStep = 1;
#endif

uint32_t SweepColour(uint32_t n) { return (n * kSweepStep) & 0xFFFFFFu; }

uint8_t ReferenceLuma(uint8_t nBlue, uint8_t nGreen, uint8_t nRed) {
    const double dLuma = (0.299 * nRed + 0.587 * nGreen) + 0.114 * nBlue;
    return static_cast<uint8_t>(static_cast<int32_t>(dLuma));
}

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

TEST_F(TavroPlugin, TurnsKnownColoursBlackOrWhiteAndWritesNoPadForWidthFour) {
    // W = 4: stride 12, no padding, so nothing may be written past 24 bytes.
    CFrame frame(4, 2);
    frame.Set(0, 0, 255, 255, 255);  // white: luminance 255
    frame.Set(0, 1, 128, 128, 128);  // sum just below 128 -> 127 -> black
    frame.Set(0, 2, 0, 0, 255);      // pure red: 76
    frame.Set(0, 3, 0, 255, 0);      // pure green: 149
    frame.Set(1, 0, 255, 0, 0);      // pure blue: 29
    frame.Set(1, 1, 0, 0, 0);
    frame.Set(1, 2, 127, 127, 127);
    frame.Set(1, 3, 129, 129, 129);
    int32_t nResult = -2;
    const std::vector<uint8_t> abOut = Process(frame, &nResult);
    const std::vector<uint8_t> abWant = {
        255, 255, 255, 0, 0, 0, 0, 0, 0, 255, 255, 255,  // row 0
        0,   0,   0,   0, 0, 0, 0, 0, 0, 255, 255, 255,  // row 1
    };
    EXPECT_EQ(std::vector<uint8_t>(abOut.begin(), abOut.begin() + 24), abWant);
    EXPECT_EQ(std::vector<uint8_t>(abOut.begin() + 24, abOut.end()),
              std::vector<uint8_t>(kGuardBytes, kGuard));
    EXPECT_EQ(nResult, 0);
}

TEST_F(TavroPlugin, WritesOneTripletAndOneZeroPadBytePerRowOfSingleColumnFrame) {
    // W = 1: pad 1, stride 4. The input's pad bytes hold junk.
    CFrame frame(1, 3);
    frame.Set(0, 0, 255, 255, 255);
    frame.Set(1, 0, 128, 128, 128);
    frame.Set(2, 0, 0, 255, 0);
    const std::vector<uint8_t> abOut = Process(frame);
    const std::vector<uint8_t> abWant = {255, 255, 255, 0, 0, 0, 0, 0, 255, 255, 255, 0};
    EXPECT_EQ(std::vector<uint8_t>(abOut.begin(), abOut.begin() + 12), abWant);
    EXPECT_EQ(abOut[12], kGuard);
}

TEST_F(TavroPlugin, KeepsOrientationOfNonSquareFrames) {
    // One white pixel walks over every position of black frames that are
    // wider than tall and taller than wide: a flip, a transpose or a shift
    // of rows or columns puts it somewhere else.
    const std::pair<int32_t, int32_t> aSizes[] = {{6, 4}, {4, 6}, {1, 5}, {5, 1}, {9, 3}};
    for (const auto& [nWidth, nHeight] : aSizes) {
        for (int32_t i = 0; i < nHeight; ++i) {
            for (int32_t j = 0; j < nWidth; ++j) {
                CFrame frame(nWidth, nHeight);
                for (int32_t y = 0; y < nHeight; ++y) {
                    for (int32_t x = 0; x < nWidth; ++x) frame.Set(y, x, 0, 0, 0);
                }
                frame.Set(i, j, 255, 255, 255);
                const std::vector<uint8_t> abOut = Process(frame);
                const std::vector<uint8_t> abWant = frame.Expected();
                ASSERT_EQ(abOut, abWant)
                    << nWidth << "x" << nHeight << ", white pixel at row " << i << " column " << j
                    << ": " << DescribeFirstDifference(abOut, abWant, frame.m_nStride);
            }
        }
    }
}

TEST_F(TavroPlugin, MatchesReferenceAndZeroesPaddingAtEveryWidthAndTileEdge) {
    // Random colours; widths with every padding length (W mod 4 = 1, 2, 3, 0)
    // and sizes on both sides of the plug-in's 8-pixel blocks and of its
    // 32-row by 512-column tiles.
    const std::pair<int32_t, int32_t> aSizes[] = {
        {1, 1},   {2, 3},    {3, 2},    {5, 7},    {7, 5},    {8, 8},
        {9, 17},  {17, 9},   {31, 33},  {33, 31},  {32, 64},  {65, 40},
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

TEST_F(TavroPlugin, LeavesOutputUntouchedWhenFrameHasNoPixels) {
    const std::vector<uint8_t> abInput(64, 200);
    const std::pair<int32_t, int32_t> aSizes[] = {{0, 4},  {4, 0},   {0, 0},       {-4, 3},
                                                  {3, -4}, {-1, -1}, {INT_MIN, 2}, {2, INT_MIN}};
    for (const auto& [nWidth, nHeight] : aSizes) {
        std::vector<uint8_t> abOut(64, kGuard);
        const int32_t nResult =
            s_pTavroFunc(abOut.data(), abInput.data(), MakeFormat(nWidth, nHeight));
        EXPECT_EQ(abOut, std::vector<uint8_t>(64, kGuard)) << nWidth << "x" << nHeight;
        EXPECT_EQ(nResult, -1) << nWidth << "x" << nHeight;
    }
}

TEST_F(TavroPlugin, LeavesOutputUntouchedWhenScratchPlanesCannotBeAllocated) {
    // W*H bytes beyond any address space. Computed in 32 bits, INT_MAX^2
    // would wrap to 1 and the passes would then run over the tiny buffers.
    const std::vector<uint8_t> abInput(64, 200);
    const std::pair<int32_t, int32_t> aSizes[] = {{INT_MAX, INT_MAX}, {1 << 30, 1 << 30}};
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

// Names of the symbols the library defines in its dynamic symbol table,
// read from the ELF file itself.
std::vector<std::string> DefinedDynamicSymbols(const char* pszPath, std::string* pstrError) {
    std::ifstream file(pszPath, std::ios::binary);
    const std::vector<char> abFile((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
    if (abFile.size() < sizeof(Elf64_Ehdr) || std::memcmp(abFile.data(), ELFMAG, SELFMAG) != 0 ||
        abFile[EI_CLASS] != ELFCLASS64) {
        *pstrError = "not a 64-bit ELF file";
        return {};
    }
    Elf64_Ehdr header;
    std::memcpy(&header, abFile.data(), sizeof header);
    auto sectionAt = [&](size_t nIndex) {
        Elf64_Shdr section{};
        const size_t nOffset = header.e_shoff + nIndex * header.e_shentsize;
        if (nOffset + sizeof section <= abFile.size()) {
            std::memcpy(&section, abFile.data() + nOffset, sizeof section);
        }
        return section;
    };
    std::vector<std::string> names;
    for (size_t s = 0; s < header.e_shnum; ++s) {
        const Elf64_Shdr symbols = sectionAt(s);
        if (symbols.sh_type != SHT_DYNSYM) continue;
        const Elf64_Shdr strings = sectionAt(symbols.sh_link);
        if (symbols.sh_offset + symbols.sh_size > abFile.size() ||
            strings.sh_offset + strings.sh_size > abFile.size()) {
            *pstrError = "truncated symbol table";
            return {};
        }
        for (size_t k = 0; k < symbols.sh_size / sizeof(Elf64_Sym); ++k) {
            Elf64_Sym symbol;
            std::memcpy(&symbol, abFile.data() + symbols.sh_offset + k * sizeof symbol,
                        sizeof symbol);
            const unsigned nBind = ELF64_ST_BIND(symbol.st_info);
            if (symbol.st_shndx == SHN_UNDEF || (nBind != STB_GLOBAL && nBind != STB_WEAK))
                continue;
            if (symbol.st_name >= strings.sh_size) continue;
            names.emplace_back(abFile.data() + strings.sh_offset + symbol.st_name);
        }
    }
    return names;
}

TEST(TavroModule, ExportsOnlyTavroFunc) {
    std::string strError;
    const std::vector<std::string> names = DefinedDynamicSymbols(TAVRO_PLUGIN_PATH, &strError);
    EXPECT_EQ(strError, "");
    EXPECT_EQ(names, std::vector<std::string>{"TavroFunc"});
}

// Runs the trace probe (dlopen + dlclose of the plug-in in a process of its
// own) and returns what it wrote on standard error; PELORA_TRACE is set in
// its environment or removed from it.
std::string ProbeStderr(bool bTrace, int* pnStatus) {
    std::vector<std::string> env;
    for (char** pp = environ; *pp; ++pp) {
        if (std::strncmp(*pp, "PELORA_TRACE=", 13) != 0) env.emplace_back(*pp);
    }
    if (bTrace) env.emplace_back("PELORA_TRACE=1");
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);

    int anPipe[2];
    if (pipe(anPipe) != 0) return "<pipe failed>";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, anPipe[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, anPipe[0]);
    posix_spawn_file_actions_addclose(&actions, anPipe[1]);
    char szProbe[] = TAVRO_TRACE_PROBE_PATH;
    char szPlugin[] = TAVRO_PLUGIN_PATH;
    char* argv[] = {szProbe, szPlugin, nullptr};
    pid_t pid = -1;
    const int nSpawn = posix_spawn(&pid, szProbe, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(anPipe[1]);
    std::string strOut;
    if (nSpawn == 0) {
        char buffer[4096];
        ssize_t n;
        while ((n = read(anPipe[0], buffer, sizeof buffer)) > 0)
            strOut.append(buffer, static_cast<size_t>(n));
        int nStatus = 0;
        waitpid(pid, &nStatus, 0);
        *pnStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    } else {
        *pnStatus = -1;
    }
    close(anPipe[0]);
    return strOut;
}

TEST(TavroModule, WritesTraceLinesOnLoadAndUnload) {
    // With PELORA_TRACE: exactly the two lines, in order, each with source
    // file and line.
    int nStatus = -1;
    const std::string strTraced = ProbeStderr(true, &nStatus);
    EXPECT_EQ(nStatus, 0);
    const std::regex traceLines(
        "dllmain\\.cpp\\([0-9]+\\) : Tavro\\.DLL Initializing!\n"
        "dllmain\\.cpp\\([0-9]+\\) : Tavro\\.DLL Terminating!\n");
    EXPECT_TRUE(std::regex_search(strTraced, traceLines)) << "stderr was: " << strTraced;

    // Without it: the same lines in a debug build, silence in a release build.
    const std::string strQuiet = ProbeStderr(false, &nStatus);
    EXPECT_EQ(nStatus, 0);
#ifdef NDEBUG
    EXPECT_EQ(strQuiet.find("Tavro.DLL"), std::string::npos) << "stderr was: " << strQuiet;
#else
    EXPECT_TRUE(std::regex_search(strQuiet, traceLines)) << "stderr was: " << strQuiet;
#endif
}

}  // namespace
