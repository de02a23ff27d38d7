// Row kernels, one copy per instruction set level (see row_kernels.h).

#include "tavro/row_kernels.h"

namespace tavro {

namespace {

// The one definition of each loop; every level's wrapper inlines it and the
// compiler vectorises it for that level's registers. The pointers never
// alias (input pixels vs. a scratch tile, or a tile vs. output pixels).
__attribute__((always_inline)) inline void LumaLoop(const uint8_t* __restrict pBgr,
                                                    uint8_t* __restrict pGrey,
                                                    int64_t nCount) noexcept {
    for (int64_t c = 0; c < nCount; ++c) {
        // Widened to int32 first: the vectoriser converts int32 to double,
        // not bytes to double. The values are the same.
        const int32_t nBlue = pBgr[3 * c];
        const int32_t nGreen = pBgr[3 * c + 1];
        const int32_t nRed = pBgr[3 * c + 2];
        const double dLuma = (0.299 * nRed + 0.587 * nGreen) + 0.114 * nBlue;
        pGrey[c] = static_cast<uint8_t>(static_cast<int32_t>(dLuma));
    }
}

__attribute__((always_inline)) inline void ExpandLoop(const uint8_t* __restrict pValue,
                                                      uint8_t* __restrict pBgr,
                                                      int64_t nCount) noexcept {
    for (int64_t c = 0; c < nCount; ++c) {
        const uint8_t v = pValue[c];
        pBgr[3 * c] = v;
        pBgr[3 * c + 1] = v;
        pBgr[3 * c + 2] = v;
    }
}

void LumaBaseline(const uint8_t* pBgr, uint8_t* pGrey, int64_t nCount) noexcept {
    LumaLoop(pBgr, pGrey, nCount);
}

void ExpandBaseline(const uint8_t* pValue, uint8_t* pBgr, int64_t nCount) noexcept {
    ExpandLoop(pValue, pBgr, nCount);
}

#if defined(__x86_64__) || defined(__i386__)
#define TAVRO_HAVE_X86_LEVELS 1
#define TAVRO_TARGET_AVX2 __attribute__((target("avx2")))
#define TAVRO_TARGET_AVX512 __attribute__((target("avx2,avx512f,avx512vl,avx512bw,avx512dq")))

TAVRO_TARGET_AVX2 void LumaAvx2(const uint8_t* pBgr, uint8_t* pGrey, int64_t nCount) noexcept {
    LumaLoop(pBgr, pGrey, nCount);
}

TAVRO_TARGET_AVX2 void ExpandAvx2(const uint8_t* pValue, uint8_t* pBgr, int64_t nCount) noexcept {
    ExpandLoop(pValue, pBgr, nCount);
}

TAVRO_TARGET_AVX512 void LumaAvx512(const uint8_t* pBgr, uint8_t* pGrey, int64_t nCount) noexcept {
    LumaLoop(pBgr, pGrey, nCount);
}

TAVRO_TARGET_AVX512 void ExpandAvx512(const uint8_t* pValue, uint8_t* pBgr,
                                      int64_t nCount) noexcept {
    ExpandLoop(pValue, pBgr, nCount);
}

bool CpuHasAvx2() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool CpuHasAvx512() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512dq");
}
#endif

}  // namespace

bool GetRowKernels(EIsaLevel eLevel, CRowKernels* pKernels) noexcept {
    switch (eLevel) {
        case EIsaLevel::Baseline:
            *pKernels = {LumaBaseline, ExpandBaseline};
            return true;
#ifdef TAVRO_HAVE_X86_LEVELS
        case EIsaLevel::Avx2:
            if (!CpuHasAvx2()) return false;
            *pKernels = {LumaAvx2, ExpandAvx2};
            return true;
        case EIsaLevel::Avx512:
            if (!CpuHasAvx512()) return false;
            *pKernels = {LumaAvx512, ExpandAvx512};
            return true;
#endif
        default:
            return false;
    }
}

CRowKernels BestRowKernels() noexcept {
    CRowKernels kernels{};
    if (!GetRowKernels(EIsaLevel::Avx512, &kernels) && !GetRowKernels(EIsaLevel::Avx2, &kernels)) {
        GetRowKernels(EIsaLevel::Baseline, &kernels);
    }
    return kernels;
}

}  // namespace tavro
