// Inner kernels of the plug-in's pixel passes, one set per instruction set
// level, chosen at run time from what the processor supports.
//
// The portable level is plain C++ that runs anywhere; the x86 levels
// (pixel_kernels_x86.cpp) are written with AVX2 and AVX-512 intrinsics (the
// widest adds the byte permutes, VBMI) and compiled with target attributes,
// so the library itself needs no special compiler flags. Every level gives
// the same bytes: the luminance is the integer rule of luma_rule.h everywhere.
// May include: the C++ standard library only.
#pragma once

#include <cstdint>

namespace tavro {

enum class EIsaLevel { Portable, Avx2, Avx512, Avx512Vbmi };

struct CPixelKernels {
    // pGrey[c] = luminance (luma_rule.h) of the pixel at pBgr + 3*c (blue,
    // green, red), c < nCount. Reads exactly 3*nCount bytes and writes
    // exactly nCount.
    void (*m_pfnLuma)(const uint8_t* pBgr, uint8_t* pGrey, int64_t nCount) noexcept;
    // The three bytes at pBgr + 3*c = pValue[c], c < nCount. May write
    // around the caches (non-temporal stores): call OrderStreamedWrites
    // before the output is handed on.
    void (*m_pfnExpand)(const uint8_t* pValue, uint8_t* pBgr, int64_t nCount) noexcept;
    // pDst[c*nDstStride + r] = pSrc[r*nSrcStride + c] for r < nRows,
    // c < nCols; the two areas do not overlap.
    void (*m_pfnTranspose)(const uint8_t* pSrc, int64_t nSrcStride, uint8_t* pDst,
                           int64_t nDstStride, int64_t nRows, int64_t nCols) noexcept;
};

// The kernels of one level; false (and *pKernels unchanged) when this
// processor cannot run that level.
bool GetPixelKernels(EIsaLevel eLevel, CPixelKernels* pKernels) noexcept;

// The kernels of the widest level this processor runs.
CPixelKernels BestPixelKernels() noexcept;

// Orders the non-temporal stores of the kernels before any later store (on
// x86 a store fence; nothing where the kernels use none).
void OrderStreamedWrites() noexcept;

namespace detail {

// Shared between the kernel files: the portable transposition (the x86
// levels use it for the strips beside their 16 x 16 blocks) and the x86
// levels' lookup (false when the processor or the build lacks the level).
void TransposePortable(const uint8_t* pSrc, int64_t nSrcStride, uint8_t* pDst, int64_t nDstStride,
                       int64_t nRows, int64_t nCols) noexcept;
bool GetX86Kernels(EIsaLevel eLevel, CPixelKernels* pKernels) noexcept;

}  // namespace detail

}  // namespace tavro
