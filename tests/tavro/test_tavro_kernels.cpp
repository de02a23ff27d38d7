// Every instruction set level of the plug-in's row kernels that this
// processor runs, against the luminance rule written out here. The plug-in
// only ever uses the widest level, so without this test the narrower ones
// (what other machines run) would go unchecked.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "tavro/row_kernels.h"

namespace {

using tavro::CRowKernels;
using tavro::EIsaLevel;

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

uint8_t ReferenceLuma(uint32_t nBlue, uint32_t nGreen, uint32_t nRed) {
    const double dLuma = (0.299 * nRed + 0.587 * nGreen) + 0.114 * nBlue;
    return static_cast<uint8_t>(static_cast<int32_t>(dLuma));
}

struct CLevel {
    EIsaLevel eLevel;
    const char* pszName;
};

constexpr CLevel kLevels[] = {
    {EIsaLevel::Baseline, "baseline"}, {EIsaLevel::Avx2, "avx2"}, {EIsaLevel::Avx512, "avx512"}};

TEST(TavroRowKernels, BaselineIsAlwaysAvailableAndBestIsOneOfTheLevels) {
    CRowKernels baseline{};
    ASSERT_TRUE(tavro::GetRowKernels(EIsaLevel::Baseline, &baseline));
    const CRowKernels best = tavro::BestRowKernels();
    bool bFound = false;
    for (const CLevel& level : kLevels) {
        CRowKernels kernels{};
        if (tavro::GetRowKernels(level.eLevel, &kernels) && kernels.m_pfnLuma == best.m_pfnLuma &&
            kernels.m_pfnExpand == best.m_pfnExpand) {
            bFound = true;
        }
    }
    EXPECT_TRUE(bFound);
}

TEST(TavroRowKernels, GiveKnownLuminancesAtEveryLevel) {
    // blue, green, red -> luminance. 128 grey sums to just below 128.
    const uint8_t abPixels[] = {255, 255, 255, 128, 128, 128, 0, 0, 255,
                                0,   255, 0,   255, 0,   0,   0, 0, 0};
    const std::vector<uint8_t> abWant = {255, 127, 76, 149, 29, 0};
    for (const CLevel& level : kLevels) {
        CRowKernels kernels{};
        if (!tavro::GetRowKernels(level.eLevel, &kernels)) continue;
        std::vector<uint8_t> abGrey(abWant.size(), 0xCC);
        kernels.m_pfnLuma(abPixels, abGrey.data(), static_cast<int64_t>(abWant.size()));
        EXPECT_EQ(abGrey, abWant) << level.pszName;
    }
}

TEST(TavroRowKernels, MatchDoubleReferenceOverEveryColourAtEveryLevel) {
    // The sweep colours in rows of 4093 pixels (not a multiple of any vector
    // width, so every vector loop's tail runs too).
    constexpr uint32_t kColours = kSweepColours;
    constexpr int64_t kRow = 4093;
    std::vector<uint8_t> abPixels(3 * static_cast<size_t>(kColours));
    std::vector<uint8_t> abWant(kColours);
    for (uint32_t k = 0; k < kColours; ++k) {
        const uint32_t nColour = SweepColour(k);
        abPixels[3 * k] = static_cast<uint8_t>(nColour);
        abPixels[3 * k + 1] = static_cast<uint8_t>(nColour >> 8);
        abPixels[3 * k + 2] = static_cast<uint8_t>(nColour >> 16);
        abWant[k] = ReferenceLuma(nColour & 255, nColour >> 8 & 255, nColour >> 16);
    }

    int nLevelsRun = 0;
    for (const CLevel& level : kLevels) {
        CRowKernels kernels{};
        if (!tavro::GetRowKernels(level.eLevel, &kernels)) {
            std::printf("level %s: not supported by this processor, skipped\n", level.pszName);
            continue;
        }
        ++nLevelsRun;
        std::vector<uint8_t> abGrey(kColours, 0xCC);
        for (int64_t k = 0; k < kColours; k += kRow) {
            kernels.m_pfnLuma(&abPixels[3 * static_cast<size_t>(k)],
                              &abGrey[static_cast<size_t>(k)],
                              std::min<int64_t>(kRow, kColours - k));
        }
        size_t nWrong = 0;
        uint32_t nFirst = 0;
        for (uint32_t k = 0; k < kColours; ++k) {
            if (abGrey[k] != abWant[k] && nWrong++ == 0) nFirst = SweepColour(k);
        }
        EXPECT_EQ(nWrong, 0u) << level.pszName << ": first wrong colour blue " << (nFirst & 255)
                              << " green " << (nFirst >> 8 & 255) << " red " << (nFirst >> 16);
    }
    EXPECT_GE(nLevelsRun, 1);
}

TEST(TavroRowKernels, ExpandWritesEveryTripletAndNothingBeyondAtEveryLevel) {
    for (const CLevel& level : kLevels) {
        CRowKernels kernels{};
        if (!tavro::GetRowKernels(level.eLevel, &kernels)) continue;
        for (int64_t nCount = 0; nCount <= 200; ++nCount) {
            std::vector<uint8_t> abValues(static_cast<size_t>(nCount));
            for (int64_t c = 0; c < nCount; ++c) abValues[c] = static_cast<uint8_t>(c * 37 + 1);
            std::vector<uint8_t> abBgr(3 * static_cast<size_t>(nCount) + 16, 0xCC);
            kernels.m_pfnExpand(abValues.data(), abBgr.data(), nCount);
            std::vector<uint8_t> abWant(abBgr.size(), 0xCC);
            for (int64_t c = 0; c < nCount; ++c) {
                abWant[3 * c] = abWant[3 * c + 1] = abWant[3 * c + 2] = abValues[c];
            }
            ASSERT_EQ(abBgr, abWant) << level.pszName << ", " << nCount << " pixels";
        }
    }
}

}  // namespace
