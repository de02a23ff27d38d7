// Row kernels of the plug-in's pixel passes, compiled once per instruction
// set level and chosen at run time from what the processor supports.
//
// The kernels are plain loops that the compiler vectorises; the wider
// levels only let it use wider registers and better byte shuffles (a
// baseline x86-64 build cannot vectorise the three-byte pixel loads at all).
// Double-precision arithmetic is IEEE at every level and the file is built
// without floating-point contraction, so every level gives the same bytes.
// May include: the C++ standard library only.
#pragma once

#include <cstdint>

namespace tavro {

enum class EIsaLevel { Baseline, Avx2, Avx512 };

struct CRowKernels {
    // pGrey[c] = low 8 bits of trunc((0.299*r + 0.587*g) + 0.114*b) for the
    // pixel at pBgr + 3*c (blue, green, red), c < nCount.
    void (*m_pfnLuma)(const uint8_t* pBgr, uint8_t* pGrey, int64_t nCount) noexcept;
    // The three bytes at pBgr + 3*c = pValue[c], c < nCount.
    void (*m_pfnExpand)(const uint8_t* pValue, uint8_t* pBgr, int64_t nCount) noexcept;
};

// The kernels of one level; false (and *pKernels unchanged) when this
// processor cannot run that level.
bool GetRowKernels(EIsaLevel eLevel, CRowKernels* pKernels) noexcept;

// The kernels of the widest level this processor runs.
CRowKernels BestRowKernels() noexcept;

}  // namespace tavro
