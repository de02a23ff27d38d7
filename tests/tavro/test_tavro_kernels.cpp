// Every instruction set level of the plug-in's row kernels that this
// processor runs, against the luminance rule. The plug-in only ever uses the
// widest level, so without this test the narrower ones (what other machines
// run) would go unchecked.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "tavro/row_kernels.h"
#include "reference_luma.h"

namespace {

using tavro::CRowKernels;
using tavro::EIsaLevel;
using tavro_test::kSweepColours;
using tavro_test::SweepColour;

struct CLevel {
    EIsaLevel eLevel;
    const char* pszName;
};

constexpr CLevel kLevels[] = {
    {EIsaLevel::Baseline, "baseline"}, {EIsaLevel::Avx2, "avx2"}, {EIsaLevel::Avx512, "avx512"}};

TEST(TavroRowKernels, MatchDoubleReferenceOverEveryColourAtEveryLevel) {
    // Rows of 4093 pixels: not a multiple of any vector width, so every
    // vector loop's tail runs too.
    constexpr int64_t kRow = 4093;
    std::vector<uint8_t> abPixels(3 * static_cast<size_t>(kSweepColours));
    std::vector<uint8_t> abWant(kSweepColours);
    for (uint32_t k = 0; k < kSweepColours; ++k) {
        const uint32_t nColour = SweepColour(k);
        abPixels[3 * k] = static_cast<uint8_t>(nColour);
        abPixels[3 * k + 1] = static_cast<uint8_t>(nColour >> 8);
        abPixels[3 * k + 2] = static_cast<uint8_t>(nColour >> 16);
        abWant[k] = tavro_test::ReferenceLuma(nColour & 255, nColour >> 8 & 255, nColour >> 16);
    }
    int nLevelsRun = 0;
    for (const CLevel& level : kLevels) {
        CRowKernels kernels{};
        if (!tavro::GetRowKernels(level.eLevel, &kernels)) {
            std::printf("level %s: not supported by this processor, skipped\n", level.pszName);
            continue;
        }
        ++nLevelsRun;
        std::vector<uint8_t> abGrey(kSweepColours, 0xCC);
        for (int64_t k = 0; k < kSweepColours; k += kRow) {
            kernels.m_pfnLuma(&abPixels[3 * static_cast<size_t>(k)],
                              &abGrey[static_cast<size_t>(k)],
                              std::min<int64_t>(kRow, kSweepColours - k));
        }
        size_t nWrong = 0;
        uint32_t nFirst = 0;
        for (uint32_t k = 0; k < kSweepColours; ++k) {
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
