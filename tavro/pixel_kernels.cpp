// The portable kernels and the choice of level (see pixel_kernels.h).

#include "tavro/pixel_kernels.h"

#include <bit>
#include <cstring>
#include <initializer_list>

#include "tavro/luma_rule.h"

namespace tavro {

namespace {

void LumaPortable(const uint8_t* pBgr, uint8_t* pGrey, int64_t nCount) noexcept {
    for (int64_t c = 0; c < nCount; ++c) {
        pGrey[c] = ExactLuma(pBgr[3 * c], pBgr[3 * c + 1], pBgr[3 * c + 2]);
    }
}

void ExpandPortable(const uint8_t* __restrict pValue, uint8_t* __restrict pBgr,
                    int64_t nCount) noexcept {
    for (int64_t c = 0; c < nCount; ++c) {
        const uint8_t v = pValue[c];
        pBgr[3 * c] = v;
        pBgr[3 * c + 1] = v;
        pBgr[3 * c + 2] = v;
    }
}

// Swaps the bit fields selected by nMask in b with those nShift bits higher
// in a: one step of the 8 x 8 byte transposition.
inline void SwapFields(uint64_t& a, uint64_t& b, int nShift, uint64_t nMask) noexcept {
    const uint64_t t = ((a >> nShift) ^ b) & nMask;
    b ^= t;
    a ^= t << nShift;
}

// The swap steps treat byte k of an 8-byte load as bits 8k to 8k+7.
static_assert(std::endian::native == std::endian::little);

}  // namespace

namespace detail {

// Full 8 x 8 blocks go through 64-bit registers (three swap steps); the
// ragged edges byte by byte.
void TransposePortable(const uint8_t* pSrc, int64_t nSrcStride, uint8_t* pDst, int64_t nDstStride,
                       int64_t nRows, int64_t nCols) noexcept {
    const int64_t nRows8 = nRows & ~int64_t{7};
    const int64_t nCols8 = nCols & ~int64_t{7};
    for (int64_t r = 0; r < nRows8; r += 8) {
        for (int64_t c = 0; c < nCols8; c += 8) {
            uint64_t x[8];
            for (int k = 0; k < 8; ++k) std::memcpy(&x[k], pSrc + (r + k) * nSrcStride + c, 8);
            for (int k = 0; k < 8; k += 2) SwapFields(x[k], x[k + 1], 8, 0x00FF00FF00FF00FFull);
            for (int k : {0, 1, 4, 5}) SwapFields(x[k], x[k + 2], 16, 0x0000FFFF0000FFFFull);
            for (int k = 0; k < 4; ++k) SwapFields(x[k], x[k + 4], 32, 0x00000000FFFFFFFFull);
            for (int k = 0; k < 8; ++k) std::memcpy(pDst + (c + k) * nDstStride + r, &x[k], 8);
        }
        for (int64_t c = nCols8; c < nCols; ++c) {
            for (int64_t k = r; k < r + 8; ++k) pDst[c * nDstStride + k] = pSrc[k * nSrcStride + c];
        }
    }
    for (int64_t c = 0; c < nCols; ++c) {
        for (int64_t r = nRows8; r < nRows; ++r)
            pDst[c * nDstStride + r] = pSrc[r * nSrcStride + c];
    }
}

#if !(defined(__x86_64__) || defined(__i386__))
bool GetX86Kernels(EIsaLevel, CPixelKernels*) noexcept { return false; }
#endif

}  // namespace detail

#if !(defined(__x86_64__) || defined(__i386__))
void OrderStreamedWrites() noexcept {}
#endif

bool GetPixelKernels(EIsaLevel eLevel, CPixelKernels* pKernels) noexcept {
    if (eLevel == EIsaLevel::Portable) {
        *pKernels = {LumaPortable, ExpandPortable, detail::TransposePortable};
        return true;
    }
    return detail::GetX86Kernels(eLevel, pKernels);
}

CPixelKernels BestPixelKernels() noexcept {
    CPixelKernels kernels{};
    if (!GetPixelKernels(EIsaLevel::Avx512Vbmi, &kernels) &&
        !GetPixelKernels(EIsaLevel::Avx512, &kernels) &&
        !GetPixelKernels(EIsaLevel::Avx2, &kernels)) {
        GetPixelKernels(EIsaLevel::Portable, &kernels);
    }
    return kernels;
}

}  // namespace tavro
