// Every instruction set level of the plug-in's row kernels that this
// processor runs, against the luminance rule. The plug-in only ever uses the
// widest level, so without this test the narrower ones (what other machines
// run) would go unchecked.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "tavro/row_kernels.h"
#include "reference_luma.h"

namespace {

using tavro_test::kSweepColours;
using tavro_test::SweepColour;

TEST(TavroRowKernels, LumaMatchesTheReferenceOverEveryColourAndExpandWritesOnlyItsTriplets) {
    std::vector<uint8_t> abPixels(3 * static_cast<size_t>(kSweepColours));
    std::vector<uint8_t> abWant(kSweepColours);
    for (uint32_t k = 0; k < kSweepColours; ++k) {
        const uint32_t nColour = SweepColour(k);
        for (int c = 0; c < 3; ++c) abPixels[3 * k + c] = static_cast<uint8_t>(nColour >> 8 * c);
        abWant[k] = tavro_test::ReferenceLuma(nColour & 255, nColour >> 8 & 255, nColour >> 16);
    }
    int nLevelsRun = 0;
    for (tavro::EIsaLevel eLevel :
         {tavro::EIsaLevel::Baseline, tavro::EIsaLevel::Avx2, tavro::EIsaLevel::Avx512}) {
        tavro::CRowKernels kernels{};
        if (!tavro::GetRowKernels(eLevel, &kernels)) continue;  // not on this processor
        SCOPED_TRACE("level " + std::to_string(static_cast<int>(eLevel)));
        ++nLevelsRun;
        // Rows of 4093 pixels: not a multiple of any vector width, so every
        // vector loop's tail runs too.
        constexpr int64_t kRow = 4093;
        std::vector<uint8_t> abGrey(kSweepColours, 0xCC);
        for (int64_t k = 0; k < kSweepColours; k += kRow) {
            kernels.m_pfnLuma(&abPixels[3 * k], &abGrey[k],
                              std::min<int64_t>(kRow, kSweepColours - k));
        }
        const size_t nFirstWrong =
            std::mismatch(abGrey.begin(), abGrey.end(), abWant.begin()).first - abGrey.begin();
        EXPECT_EQ(nFirstWrong, abGrey.size()) << "first wrong colour 0x" << std::hex
                                              << SweepColour(nFirstWrong) << " (red green blue)";

        for (int64_t nCount = 0; nCount <= 200; ++nCount) {
            std::vector<uint8_t> abValues(nCount);
            for (int64_t c = 0; c < nCount; ++c) abValues[c] = static_cast<uint8_t>(c * 37 + 1);
            std::vector<uint8_t> abBgr(3 * nCount + 16, 0xCC), abExpanded(abBgr);
            kernels.m_pfnExpand(abValues.data(), abBgr.data(), nCount);
            for (int64_t c = 0; c < 3 * nCount; ++c) abExpanded[c] = abValues[c / 3];
            ASSERT_EQ(abBgr, abExpanded) << nCount << " pixels";
        }
    }
    EXPECT_GE(nLevelsRun, 1);
}

}  // namespace
