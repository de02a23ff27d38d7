// Every instruction set level of the pixel kernels this processor runs (the
// plug-in only ever uses the widest), against the rule and plain loops.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tavro/pixel_kernels.h"
#include "reference_luma.h"

namespace {

using tavro_test::kSweepColours;
using tavro_test::SweepColour;

// Runs fnCheck(kernels) once per level this processor runs, at least the
// portable one.
template <typename FCheck>
void ForEachLevel(FCheck fnCheck) {
    int nLevelsRun = 0;
    for (tavro::EIsaLevel eLevel : {tavro::EIsaLevel::Portable, tavro::EIsaLevel::Avx2,
                                    tavro::EIsaLevel::Avx512, tavro::EIsaLevel::Avx512Vbmi}) {
        tavro::CPixelKernels kernels{};
        if (!tavro::GetPixelKernels(eLevel, &kernels)) continue;  // not on this processor
        SCOPED_TRACE("level " + std::to_string(static_cast<int>(eLevel)));
        ++nLevelsRun;
        fnCheck(kernels);
    }
    EXPECT_GE(nLevelsRun, 1);
}

TEST(TavroPixelKernels, LumaMatchesTheReferenceOverEveryColourAndExpandWritesOnlyItsTriplets) {
    std::vector<uint8_t> abPixels(3 * static_cast<size_t>(kSweepColours));
    std::vector<uint8_t> abWant(kSweepColours);
    for (uint32_t k = 0; k < kSweepColours; ++k) {
        const uint32_t nColour = SweepColour(k);
        for (int c = 0; c < 3; ++c) abPixels[3 * k + c] = static_cast<uint8_t>(nColour >> 8 * c);
        abWant[k] = tavro_test::ReferenceLuma(nColour & 255, nColour >> 8 & 255, nColour >> 16);
    }
    ForEachLevel([&](const tavro::CPixelKernels& kernels) {
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

        // Output on a cache-line boundary (written around the caches where
        // the level can) and one byte off it, with guard bytes on each side.
        for (int64_t nCount = 0; nCount <= 200; ++nCount) {
            std::vector<uint8_t> abValues(nCount);
            for (int64_t c = 0; c < nCount; ++c) abValues[c] = static_cast<uint8_t>(c * 37 + 1);
            for (int64_t nOffset : {0, 1}) {
                std::vector<uint8_t> abBlock(3 * nCount + 128, 0xCC), abExpected(abBlock);
                const auto uBase = reinterpret_cast<uintptr_t>(abBlock.data());
                const int64_t nStart = static_cast<int64_t>((64 - uBase % 64) % 64) + nOffset;
                kernels.m_pfnExpand(abValues.data(), abBlock.data() + nStart, nCount);
                tavro::OrderStreamedWrites();
                for (int64_t c = 0; c < 3 * nCount; ++c) abExpected[nStart + c] = abValues[c / 3];
                ASSERT_EQ(abBlock, abExpected) << nCount << " pixels at offset " << nOffset;
            }
        }
    });
}

// Colours whose exact luminance is a whole number (the ones the double
// rounding may pull one lower) are one in a thousand of the sweep. Here every
// lane holds one, at every run length up to three vector widths, in runs of
// greys, of all such colours shuffled, and of one such colour (a flat area):
// each slow-path lane gets its own correction, nothing is written past the run.
TEST(TavroPixelKernels, LumaIsExactWhereEveryLaneNeedsTheRoundingCorrection) {
    std::vector<uint32_t> anGreys, anWhole;  // blue | green << 8 | red << 16
    for (uint32_t v = 0; v < 256; ++v) anGreys.push_back(v * 0x010101);
    for (uint32_t nRed = 0; nRed < 256; ++nRed) {
        for (uint32_t nGreen = 0; nGreen < 256; ++nGreen) {
            for (uint32_t nBlue = 0; nBlue < 256; ++nBlue) {
                if ((299 * nRed + 587 * nGreen + 114 * nBlue) % 1000 == 0)
                    anWhole.push_back(nBlue | nGreen << 8 | nRed << 16);
            }
        }
    }
    for (size_t k = anWhole.size() - 1; k > 0; --k)  // a fixed shuffle
        std::swap(anWhole[k], anWhole[k * 7919 % (k + 1)]);

    ForEachLevel([&](const tavro::CPixelKernels& kernels) {
        size_t anNext[3] = {0, 0, 0};
        for (int64_t nCount = 1; nCount <= 48; ++nCount) {
            for (int nRun = 0; nRun < 60; ++nRun) {
                const int nKind = nRun % 3;  // greys, shuffled, flat
                const std::vector<uint32_t>& anColours = nKind == 0 ? anGreys : anWhole;
                size_t& nNext = anNext[nKind];
                std::vector<uint8_t> abPixels(3 * nCount), abWant(nCount + 8, 0xCC);
                for (int64_t c = 0; c < nCount; ++c) {
                    const uint32_t nColour = anColours[nNext];
                    if (nKind != 2 || c + 1 == nCount) nNext = (nNext + 1) % anColours.size();
                    for (int k = 0; k < 3; ++k) abPixels[3 * c + k] = nColour >> 8 * k & 255;
                    abWant[c] =
                        tavro_test::ReferenceLuma(nColour & 255, nColour >> 8 & 255, nColour >> 16);
                }
                std::vector<uint8_t> abGrey(nCount + 8, 0xCC);
                kernels.m_pfnLuma(abPixels.data(), abGrey.data(), nCount);
                ASSERT_EQ(abGrey, abWant) << nCount << " pixels";
            }
        }
    });
}

TEST(TavroPixelKernels, TransposeMovesEveryByteAndNothingElseAtBlockEdges) {
    // Sizes below, at and beyond the 8- and 16-byte blocks, strides wider
    // than the areas (as in the plug-in's tiles and planes).
    const int64_t anSizes[] = {1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 48};
    ForEachLevel([&](const tavro::CPixelKernels& kernels) {
        for (int64_t nRows : anSizes) {
            for (int64_t nCols : anSizes) {
                const int64_t nSrcStride = nCols + 5;
                const int64_t nDstStride = nRows + 3;
                std::vector<uint8_t> abSrc(nRows * nSrcStride);
                for (size_t k = 0; k < abSrc.size(); ++k)
                    abSrc[k] = static_cast<uint8_t>(k * 131 + 7);
                std::vector<uint8_t> abDst(nCols * nDstStride, 0xCC), abWant(abDst);
                for (int64_t r = 0; r < nRows; ++r) {
                    for (int64_t c = 0; c < nCols; ++c)
                        abWant[c * nDstStride + r] = abSrc[r * nSrcStride + c];
                }
                kernels.m_pfnTranspose(abSrc.data(), nSrcStride, abDst.data(), nDstStride, nRows,
                                       nCols);
                ASSERT_EQ(abDst, abWant) << nRows << " rows x " << nCols << " columns";
            }
        }
    });
}

}  // namespace
