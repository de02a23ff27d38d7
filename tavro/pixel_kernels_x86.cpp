// The AVX2 and AVX-512 kernels (see pixel_kernels.h), compiled with target
// attributes and used only after the processor has been asked.
//
// Luminance, per group of pixels: a shuffle puts each pixel's blue and green
// into the two 16-bit halves of a 32-bit lane and its red into another, two
// multiply-adds give S = 299r + 587g + 114b exactly, and single precision
// gives q = floor(S / 1000) and whether S = 1000q. Both come from one fused
// multiply-add each, S * 0.001f + 0.0005f and S * 0.001f + 0.9995f: with
// S < 2^18 its one rounding and the error of 0.001f stay below 3e-5, while
// S / 1000 + 0.0005 lies at least 0.0005 from an integer, as does
// S / 1000 + 0.9995, which truncates to q + 1 unless S = 1000q. Only lanes
// with S = 1000q consult the round-down bits of luma_rule.h: greys (black
// borders, white, monochrome pictures) from the grey table's 256 bits held in
// a register, other colours (about one in a thousand in natural pictures)
// from the full table: one lookup when all such lanes hold the same colour
// (a flat area), a gather otherwise.

#include "tavro/pixel_kernels.h"

#if defined(__x86_64__) || defined(__i386__)

// GCC 12's AVX-512 intrinsics start from a self-initialised "undefined"
// register, which its own uninitialised-use warnings then report at every
// inlined call; the warnings say nothing about this file's code.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <algorithm>

#include "tavro/luma_rule.h"

// The AVX2 level needs FMA as well; both are asked for at run time.
#define TAVRO_TARGET_AVX2 __attribute__((target("avx2,fma")))
#define TAVRO_TARGET_AVX512 __attribute__((target("avx2,fma,avx512f,avx512vl,avx512bw,avx512dq")))

namespace tavro {

namespace {

// Within each 128-bit lane holding four pixels in its first 12 bytes: the
// blue and green of pixel p as the 16-bit halves of 32-bit lane p, and the
// red alone (negative indices give zero bytes).
#define TAVRO_BLUE_GREEN_SHUFFLE 0, -1, 1, -1, 3, -1, 4, -1, 6, -1, 7, -1, 9, -1, 10, -1
#define TAVRO_RED_SHUFFLE 2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1
// Multiply-add weights: blue * 114 + green * 587, and red * 299.
constexpr int32_t kBlueGreenWeights = 587 << 16 | 114;
constexpr int32_t kRedWeight = 299;
// S * 0.001f plus these: S / 1000 + 0.0005 truncates to q, and
// S / 1000 + 0.9995 truncates to q as well only when S = 1000q.
constexpr float kThousandth = 0.001f;
constexpr float kQuotientBias = 0.0005f;
constexpr float kMultipleBias = 0.9995f;

// The round-down tables as the gathers and permutes address them: 32-bit words.
const int* RoundDownWords() noexcept { return reinterpret_cast<const int*>(kRoundDown.m_anBits); }
const int* GreyRoundDownWords() noexcept {
    return reinterpret_cast<const int*>(kGreyRoundDown.m_anBits);
}

// Eight pixels: vPixels holds pixels 0-3 in the first 12 bytes of its low
// lane and 4-7 likewise in its high lane. Result: luminance per 32-bit lane.
TAVRO_TARGET_AVX2 __attribute__((always_inline)) inline __m256i Luma8(__m256i vPixels) noexcept {
    const __m256i vBg = _mm256_shuffle_epi8(
        vPixels, _mm256_setr_epi8(TAVRO_BLUE_GREEN_SHUFFLE, TAVRO_BLUE_GREEN_SHUFFLE));
    const __m256i vR =
        _mm256_shuffle_epi8(vPixels, _mm256_setr_epi8(TAVRO_RED_SHUFFLE, TAVRO_RED_SHUFFLE));
    const __m256i vSum =
        _mm256_add_epi32(_mm256_madd_epi16(vBg, _mm256_set1_epi32(kBlueGreenWeights)),
                         _mm256_madd_epi16(vR, _mm256_set1_epi32(kRedWeight)));
    const __m256 vSumF = _mm256_cvtepi32_ps(vSum);
    const __m256 vThousandth = _mm256_set1_ps(kThousandth);
    __m256i vLuma =
        _mm256_cvttps_epi32(_mm256_fmadd_ps(vSumF, vThousandth, _mm256_set1_ps(kQuotientBias)));
    const __m256i vMultiple = _mm256_cmpeq_epi32(
        vLuma,
        _mm256_cvttps_epi32(_mm256_fmadd_ps(vSumF, vThousandth, _mm256_set1_ps(kMultipleBias))));
    if (_mm256_testz_si256(vMultiple, vMultiple)) return vLuma;

    // Table index g * 256 + b (bg holds b | g << 16); for a grey it is 257v,
    // whose bit lies at v mod 32 of the grey table's word v / 32 as well.
    const __m256i vIndex =
        _mm256_or_si256(_mm256_srli_epi32(vBg, 8), _mm256_and_si256(vBg, _mm256_set1_epi32(0xFF)));
    __m256i vWord = _mm256_permutevar8x32_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(GreyRoundDownWords())),
        _mm256_srli_epi32(vR, 5));
    const __m256i vGrey = _mm256_cmpeq_epi32(vBg, _mm256_or_si256(vR, _mm256_slli_epi32(vR, 16)));
    const __m256i vOther = _mm256_andnot_si256(vGrey, vMultiple);
    if (!_mm256_testz_si256(vOther, vOther)) {
        // A flat area of one such colour needs one lookup, not a gather
        // (which some processors take a long time over).
        const __m256i vFirst = _mm256_permutevar8x32_epi32(
            vIndex,
            _mm256_set1_epi32(__builtin_ctz(_mm256_movemask_ps(_mm256_castsi256_ps(vOther)))));
        const __m256i vDiffers = _mm256_andnot_si256(_mm256_cmpeq_epi32(vIndex, vFirst), vOther);
        if (_mm256_testz_si256(vDiffers, vDiffers)) {
            const int nWord = RoundDownWords()[_mm256_cvtsi256_si32(vFirst) >> 5];
            vWord = _mm256_blendv_epi8(vWord, _mm256_set1_epi32(nWord), vOther);
        } else {
            vWord = _mm256_mask_i32gather_epi32(vWord, RoundDownWords(),
                                                _mm256_srli_epi32(vIndex, 5), vOther, 4);
        }
    }
    const __m256i vDown = _mm256_srlv_epi32(vWord, _mm256_and_si256(vIndex, _mm256_set1_epi32(31)));
    return _mm256_sub_epi32(vLuma, _mm256_and_si256(vDown, _mm256_srli_epi32(vMultiple, 31)));
}

TAVRO_TARGET_AVX2 void LumaAvx2(const uint8_t* pBgr, uint8_t* pGrey, int64_t nCount) noexcept {
    int64_t c = 0;
    for (; c + 8 <= nCount; c += 8) {
        // 24 bytes, read exactly: bytes 0-15, then 16-23 joined to 12-15.
        const uint8_t* p = pBgr + 3 * c;
        const __m128i vLow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i vTail = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 16));
        const __m256i vLuma = Luma8(_mm256_set_m128i(_mm_alignr_epi8(vTail, vLow, 12), vLow));
        const __m128i vWords =
            _mm_packus_epi32(_mm256_castsi256_si128(vLuma), _mm256_extracti128_si256(vLuma, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(pGrey + c), _mm_packus_epi16(vWords, vWords));
    }
    for (; c < nCount; ++c) pGrey[c] = ExactLuma(pBgr[3 * c], pBgr[3 * c + 1], pBgr[3 * c + 2]);
}

// Sixteen pixels, 48 bytes, as many as mBytes selects (the rest read as
// zero, which does no harm). Result: luminance per 32-bit lane.
TAVRO_TARGET_AVX512 __attribute__((always_inline)) inline __m512i Luma16(
    const uint8_t* p, __mmask64 mBytes) noexcept {
    // Each 128-bit lane gets four pixels (12 bytes) in its first 12 bytes.
    const __m512i vPixels = _mm512_permutexvar_epi32(
        _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0),
        _mm512_maskz_loadu_epi8(mBytes, p));
    const __m512i vBg = _mm512_shuffle_epi8(
        vPixels, _mm512_broadcast_i32x4(_mm_setr_epi8(TAVRO_BLUE_GREEN_SHUFFLE)));
    const __m512i vR =
        _mm512_shuffle_epi8(vPixels, _mm512_broadcast_i32x4(_mm_setr_epi8(TAVRO_RED_SHUFFLE)));
    const __m512i vSum =
        _mm512_add_epi32(_mm512_madd_epi16(vBg, _mm512_set1_epi32(kBlueGreenWeights)),
                         _mm512_madd_epi16(vR, _mm512_set1_epi32(kRedWeight)));
    const __m512 vSumF = _mm512_cvtepi32_ps(vSum);
    const __m512 vThousandth = _mm512_set1_ps(kThousandth);
    const __m512i vLuma =
        _mm512_cvttps_epi32(_mm512_fmadd_ps(vSumF, vThousandth, _mm512_set1_ps(kQuotientBias)));
    const __mmask16 mMultiple = _mm512_cmpeq_epi32_mask(
        vLuma,
        _mm512_cvttps_epi32(_mm512_fmadd_ps(vSumF, vThousandth, _mm512_set1_ps(kMultipleBias))));
    if (mMultiple == 0) return vLuma;

    // As in Luma8: index g * 256 + b, greys from the grey table in a register.
    const __m512i vIndex =
        _mm512_or_si512(_mm512_srli_epi32(vBg, 8), _mm512_and_si512(vBg, _mm512_set1_epi32(0xFF)));
    __m512i vWord = _mm512_permutexvar_epi32(
        _mm512_srli_epi32(vR, 5), _mm512_castsi256_si512(_mm256_loadu_si256(
                                      reinterpret_cast<const __m256i*>(GreyRoundDownWords()))));
    const __mmask16 mOther = static_cast<__mmask16>(
        mMultiple & ~_mm512_cmpeq_epi32_mask(vBg, _mm512_or_si512(vR, _mm512_slli_epi32(vR, 16))));
    if (mOther != 0) {
        // As in Luma8: a flat area of one such colour needs one lookup.
        const __m512i vFirst =
            _mm512_permutexvar_epi32(_mm512_set1_epi32(__builtin_ctz(mOther)), vIndex);
        if (_mm512_mask_cmpneq_epi32_mask(mOther, vIndex, vFirst) == 0) {
            const int nWord =
                RoundDownWords()[_mm_cvtsi128_si32(_mm512_castsi512_si128(vFirst)) >> 5];
            vWord = _mm512_mask_mov_epi32(vWord, mOther, _mm512_set1_epi32(nWord));
        } else {
            vWord = _mm512_mask_i32gather_epi32(vWord, mOther, _mm512_srli_epi32(vIndex, 5),
                                                RoundDownWords(), 4);
        }
    }
    const __m512i vDown =
        _mm512_and_si512(_mm512_srlv_epi32(vWord, _mm512_and_si512(vIndex, _mm512_set1_epi32(31))),
                         _mm512_set1_epi32(1));
    return _mm512_mask_sub_epi32(vLuma, mMultiple, vLuma, vDown);
}

TAVRO_TARGET_AVX512 void LumaAvx512(const uint8_t* pBgr, uint8_t* pGrey, int64_t nCount) noexcept {
    constexpr __mmask64 kAllBytes = (__mmask64{1} << 48) - 1;
    int64_t c = 0;
    for (; c + 16 <= nCount; c += 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pGrey + c),
                         _mm512_cvtepi32_epi8(Luma16(pBgr + 3 * c, kAllBytes)));
    }
    if (c < nCount) {
        // The last group is short: the masked load and store touch only its pixels.
        const int64_t n = nCount - c;
        _mm_mask_storeu_epi8(
            pGrey + c, static_cast<__mmask16>((1u << n) - 1),
            _mm512_cvtepi32_epi8(Luma16(pBgr + 3 * c, (__mmask64{1} << (3 * n)) - 1)));
    }
}

// Plain loop; each level's wrapper inlines it and the compiler vectorises it
// for that level's registers. The pointers never alias (a scratch tile vs.
// output pixels).
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

TAVRO_TARGET_AVX2 void ExpandAvx2(const uint8_t* pValue, uint8_t* pBgr, int64_t nCount) noexcept {
    ExpandLoop(pValue, pBgr, nCount);
}

TAVRO_TARGET_AVX512 void ExpandAvx512(const uint8_t* pValue, uint8_t* pBgr,
                                      int64_t nCount) noexcept {
    ExpandLoop(pValue, pBgr, nCount);
}

// 16 x 16 bytes in four rounds of interleaving (8-, 16-, 32- and 64-bit
// units), each pairing register 2k with 2k+1 into k (low halves) and k+8
// (high halves). After the four rounds register k holds source column
// kColumnOf[k] (k with its four bits reversed).
TAVRO_TARGET_AVX2 inline void Transpose16x16(const uint8_t* pSrc, int64_t nSrcStride, uint8_t* pDst,
                                             int64_t nDstStride) noexcept {
    static constexpr int kColumnOf[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    __m128i a[16], b[16];
    for (int k = 0; k < 16; ++k)
        a[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pSrc + k * nSrcStride));
    for (int k = 0; k < 8; ++k) {
        b[k] = _mm_unpacklo_epi8(a[2 * k], a[2 * k + 1]);
        b[k + 8] = _mm_unpackhi_epi8(a[2 * k], a[2 * k + 1]);
    }
    for (int k = 0; k < 8; ++k) {
        a[k] = _mm_unpacklo_epi16(b[2 * k], b[2 * k + 1]);
        a[k + 8] = _mm_unpackhi_epi16(b[2 * k], b[2 * k + 1]);
    }
    for (int k = 0; k < 8; ++k) {
        b[k] = _mm_unpacklo_epi32(a[2 * k], a[2 * k + 1]);
        b[k + 8] = _mm_unpackhi_epi32(a[2 * k], a[2 * k + 1]);
    }
    for (int k = 0; k < 8; ++k) {
        a[k] = _mm_unpacklo_epi64(b[2 * k], b[2 * k + 1]);
        a[k + 8] = _mm_unpackhi_epi64(b[2 * k], b[2 * k + 1]);
    }
    for (int k = 0; k < 16; ++k)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pDst + kColumnOf[k] * nDstStride), a[k]);
}

// Full 16 x 16 blocks in registers; the strips beside them (fewer than 16
// columns on the right, fewer than 16 rows at the bottom) portably.
TAVRO_TARGET_AVX2 void TransposeAvx2(const uint8_t* pSrc, int64_t nSrcStride, uint8_t* pDst,
                                     int64_t nDstStride, int64_t nRows, int64_t nCols) noexcept {
    const int64_t nRows16 = nRows & ~int64_t{15};
    const int64_t nCols16 = nCols & ~int64_t{15};
    for (int64_t r = 0; r < nRows16; r += 16) {
        for (int64_t c = 0; c < nCols16; c += 16) {
            Transpose16x16(pSrc + r * nSrcStride + c, nSrcStride, pDst + c * nDstStride + r,
                           nDstStride);
        }
    }
    if (nCols16 < nCols) {
        detail::TransposePortable(pSrc + nCols16, nSrcStride, pDst + nCols16 * nDstStride,
                                  nDstStride, nRows16, nCols - nCols16);
    }
    if (nRows16 < nRows) {
        detail::TransposePortable(pSrc + nRows16 * nSrcStride, nSrcStride, pDst + nRows16,
                                  nDstStride, nRows - nRows16, nCols);
    }
}

bool CpuHasAvx2() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

bool CpuHasAvx512() noexcept {
    __builtin_cpu_init();
    return CpuHasAvx2() && __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512dq");
}

}  // namespace

namespace detail {

bool GetX86Kernels(EIsaLevel eLevel, CPixelKernels* pKernels) noexcept {
    switch (eLevel) {
        case EIsaLevel::Avx2:
            if (!CpuHasAvx2()) return false;
            *pKernels = {LumaAvx2, ExpandAvx2, TransposeAvx2};
            return true;
        case EIsaLevel::Avx512:
            if (!CpuHasAvx512()) return false;
            *pKernels = {LumaAvx512, ExpandAvx512, TransposeAvx2};
            return true;
        default:
            return false;
    }
}

}  // namespace detail

}  // namespace tavro

#pragma GCC diagnostic pop

#endif
