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
//
// Where the processor has the byte permutes (VBMI), 32 pixels go through
// 16-bit lanes instead, in integer arithmetic only. With A = r + 2g and
// B = 43r + 75g + 114b (both from byte multiply-adds that cannot saturate),
// S = 256A + B, so S / 8 = 32A + B / 8 (rounded down) fits 16 bits, and
// q = floor(S / 1000) = floor((S / 8) / 125) comes from one high
// multiplication: floor(x * 33555 / 2^22) = floor(x / 125) for every
// x <= 31875 (33555 * 125 exceeds 2^22 by 71, and 71 * 31875 < 2^22).
// S is a multiple of 1000 exactly when B is a multiple of 8 and S / 8 =
// 125q; such lanes take the round-down bits as above.

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
#define TAVRO_TARGET_VBMI \
    __attribute__((target("avx2,fma,avx512f,avx512vl,avx512bw,avx512dq,avx512vbmi")))

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

// Byte positions for the 32-pixel luminance: in 16-bit lane p, the green and
// red of pixel p (low and high byte), and its blue (the high byte zeroed by
// the permute's mask), taken from 96 bytes in two registers.
struct CLumaPermutes {
    alignas(64) uint8_t m_abGreenRed[64];
    alignas(64) uint8_t m_abBlue[64];
};

consteval CLumaPermutes MakeLumaPermutes() {
    CLumaPermutes permutes{};
    for (int p = 0; p < 32; ++p) {
        permutes.m_abGreenRed[2 * p] = static_cast<uint8_t>(3 * p + 1);
        permutes.m_abGreenRed[2 * p + 1] = static_cast<uint8_t>(3 * p + 2);
        permutes.m_abBlue[2 * p] = static_cast<uint8_t>(3 * p);
    }
    return permutes;
}

constexpr CLumaPermutes kLumaPermutes = MakeLumaPermutes();

// Byte-pair weights for the multiply-adds (low byte green, high byte red):
// A = r + 2g, and 43r + 75g; blue alone weighs 114.
constexpr int16_t kWeightsA = 1 << 8 | 2;
constexpr int16_t kWeightsB = 43 << 8 | 75;
constexpr int16_t kBlueWeight = 114;
constexpr int16_t kEighthsToQuotient = static_cast<int16_t>(33555);  // 2^22 / 125, rounded up

// Thirty-two pixels: bytes 0-63 in vLow, 64-95 in the low half of vHigh.
// Result: luminance per byte.
TAVRO_TARGET_VBMI __attribute__((always_inline)) inline __m256i Luma32(__m512i vLow,
                                                                       __m512i vHigh) noexcept {
    const __m512i vGreenRed =
        _mm512_permutex2var_epi8(vLow, _mm512_load_si512(kLumaPermutes.m_abGreenRed), vHigh);
    const __m512i vBlue = _mm512_maskz_permutex2var_epi8(
        0x5555555555555555ull, vLow, _mm512_load_si512(kLumaPermutes.m_abBlue), vHigh);
    const __m512i vA = _mm512_maddubs_epi16(vGreenRed, _mm512_set1_epi16(kWeightsA));
    const __m512i vB =
        _mm512_add_epi16(_mm512_maddubs_epi16(vGreenRed, _mm512_set1_epi16(kWeightsB)),
                         _mm512_maddubs_epi16(vBlue, _mm512_set1_epi16(kBlueWeight)));
    const __m512i vEighths = _mm512_add_epi16(_mm512_slli_epi16(vA, 5), _mm512_srli_epi16(vB, 3));
    __m512i vLuma =
        _mm512_srli_epi16(_mm512_mulhi_epu16(vEighths, _mm512_set1_epi16(kEighthsToQuotient)), 6);
    const __mmask32 mMultiple =
        _mm512_mask_cmpeq_epi16_mask(_mm512_testn_epi16_mask(vB, _mm512_set1_epi16(7)),
                                     _mm512_mullo_epi16(vLuma, _mm512_set1_epi16(125)), vEighths);
    if (mMultiple == 0) return _mm512_cvtepi16_epi8(vLuma);

    // Greys (green | red << 8 equal to blue * 257): bit r mod 16 of the grey
    // table's 16-bit word r / 16, the table in a register.
    const __m512i vRed = _mm512_srli_epi16(vGreenRed, 8);
    const __mmask32 mGrey = _mm512_mask_cmpeq_epi16_mask(
        mMultiple, vGreenRed, _mm512_or_si512(vBlue, _mm512_slli_epi16(vBlue, 8)));
    const __m512i vGreyWord = _mm512_permutexvar_epi16(
        _mm512_srli_epi16(vRed, 4), _mm512_castsi256_si512(_mm256_loadu_si256(
                                        reinterpret_cast<const __m256i*>(GreyRoundDownWords()))));
    __mmask32 mDown = _mm512_mask_test_epi16_mask(
        mGrey, _mm512_srlv_epi16(vGreyWord, _mm512_and_si512(vRed, _mm512_set1_epi16(15))),
        _mm512_set1_epi16(1));
    __mmask32 mOther = mMultiple & ~mGrey;
    if (mOther != 0) {
        // Other colours (about one pixel in a thousand) from the full table,
        // lane by lane, or once for a flat area of one colour.
        alignas(64) uint16_t anIndex[32];
        _mm512_store_si512(anIndex, _mm512_or_si512(_mm512_slli_epi16(vGreenRed, 8), vBlue));
        const uint32_t nFirst = anIndex[__builtin_ctz(mOther)];
        if (_mm512_mask_cmpneq_epi16_mask(mOther, _mm512_load_si512(anIndex),
                                          _mm512_set1_epi16(static_cast<int16_t>(nFirst))) == 0) {
            if (kRoundDown.m_anBits[nFirst >> 5] >> (nFirst & 31) & 1) mDown |= mOther;
        } else {
            do {
                const int nLane = __builtin_ctz(mOther);
                mOther &= mOther - 1;
                const uint32_t nIndex = anIndex[nLane];
                mDown |= (kRoundDown.m_anBits[nIndex >> 5] >> (nIndex & 31) & 1u) << nLane;
            } while (mOther != 0);
        }
    }
    vLuma = _mm512_mask_sub_epi16(vLuma, mDown, vLuma, _mm512_set1_epi16(1));
    return _mm512_cvtepi16_epi8(vLuma);
}

TAVRO_TARGET_VBMI void LumaVbmi(const uint8_t* pBgr, uint8_t* pGrey, int64_t nCount) noexcept {
    int64_t c = 0;
    for (; c + 32 <= nCount; c += 32) {
        const uint8_t* p = pBgr + 3 * c;
        _mm256_storeu_si256(
            reinterpret_cast<__m256i*>(pGrey + c),
            Luma32(_mm512_loadu_si512(p), _mm512_castsi256_si512(_mm256_loadu_si256(
                                              reinterpret_cast<const __m256i*>(p + 64)))));
    }
    if (c < nCount) {
        // The last group is short: masked loads and store touch only its pixels.
        const int64_t n = nCount - c;
        const int64_t nBytes = 3 * n;
        const uint8_t* p = pBgr + 3 * c;
        const __mmask64 mLow = nBytes >= 64 ? ~__mmask64{0} : (__mmask64{1} << nBytes) - 1;
        const __mmask64 mHigh = nBytes > 64 ? (__mmask64{1} << (nBytes - 64)) - 1 : 0;
        _mm256_mask_storeu_epi8(
            pGrey + c, static_cast<__mmask32>((uint64_t{1} << n) - 1),
            Luma32(_mm512_maskz_loadu_epi8(mLow, p), _mm512_maskz_loadu_epi8(mHigh, p + 64)));
    }
}

// Byte shuffles for 32 values to 96 output bytes in three registers: output
// byte k of register j repeats value (32j + k) / 3, taken from the 16 values
// its 128-bit lane holds (values 0-15 in both lanes for register 0, 0-15 and
// 16-31 for register 1, 16-31 in both for register 2).
struct CExpandShuffles {
    alignas(32) int8_t m_ab[3][32];
};

consteval CExpandShuffles MakeExpandShuffles() {
    CExpandShuffles shuffles{};
    for (int j = 0; j < 3; ++j) {
        for (int k = 0; k < 32; ++k) {
            const int nValue = (32 * j + k) / 3;
            const bool bHighValues = j == 2 || (j == 1 && k >= 16);
            shuffles.m_ab[j][k] = static_cast<int8_t>(bHighValues ? nValue - 16 : nValue);
        }
    }
    return shuffles;
}

constexpr CExpandShuffles kExpandShuffles = MakeExpandShuffles();

// Also the AVX-512 level's: without the byte permutes a 512-bit register
// gains nothing here. Rows on a 32-byte boundary are written around the
// caches, as in ExpandVbmi below.
TAVRO_TARGET_AVX2 void ExpandAvx2(const uint8_t* pValue, uint8_t* pBgr, int64_t nCount) noexcept {
    __m256i avShuffle[3];
    for (int j = 0; j < 3; ++j) {
        avShuffle[j] = _mm256_load_si256(reinterpret_cast<const __m256i*>(kExpandShuffles.m_ab[j]));
    }
    const bool bStream = (reinterpret_cast<uintptr_t>(pBgr) & 31) == 0;
    int64_t c = 0;
    for (; c + 32 <= nCount; c += 32) {
        const __m256i vValues = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pValue + c));
        const __m256i avOut[3] = {
            _mm256_shuffle_epi8(_mm256_permute2x128_si256(vValues, vValues, 0x00), avShuffle[0]),
            _mm256_shuffle_epi8(vValues, avShuffle[1]),
            _mm256_shuffle_epi8(_mm256_permute2x128_si256(vValues, vValues, 0x11), avShuffle[2])};
        auto* pOut = reinterpret_cast<__m256i*>(pBgr + 3 * c);
        for (int j = 0; j < 3; ++j) {
            if (bStream) {
                _mm256_stream_si256(pOut + j, avOut[j]);
            } else {
                _mm256_storeu_si256(pOut + j, avOut[j]);
            }
        }
    }
    for (; c < nCount; ++c) {
        const uint8_t v = pValue[c];
        pBgr[3 * c] = v;
        pBgr[3 * c + 1] = v;
        pBgr[3 * c + 2] = v;
    }
}

// Output byte k of register j (of three per 64 values) repeats value
// (64j + k) / 3.
struct CExpandPermutes {
    alignas(64) uint8_t m_ab[3][64];
};

consteval CExpandPermutes MakeExpandPermutes() {
    CExpandPermutes permutes{};
    for (int j = 0; j < 3; ++j) {
        for (int k = 0; k < 64; ++k) permutes.m_ab[j][k] = static_cast<uint8_t>((64 * j + k) / 3);
    }
    return permutes;
}

constexpr CExpandPermutes kExpandPermutes = MakeExpandPermutes();

TAVRO_TARGET_VBMI void ExpandVbmi(const uint8_t* pValue, uint8_t* pBgr, int64_t nCount) noexcept {
    __m512i avPermute[3];
    for (int j = 0; j < 3; ++j) avPermute[j] = _mm512_load_si512(kExpandPermutes.m_ab[j]);
    int64_t c = 0;
    if ((reinterpret_cast<uintptr_t>(pBgr) & 63) == 0) {
        // Rows on cache-line boundaries (all the usual widths) are written
        // around the caches: the output is not read again while the frame is
        // processed, and a normal store would first read every line in.
        for (; c + 64 <= nCount; c += 64) {
            const __m512i vValues = _mm512_loadu_si512(pValue + c);
            for (int j = 0; j < 3; ++j) {
                _mm512_stream_si512(reinterpret_cast<__m512i*>(pBgr + 3 * c + 64 * j),
                                    _mm512_permutexvar_epi8(avPermute[j], vValues));
            }
        }
    }
    for (; c + 64 <= nCount; c += 64) {
        const __m512i vValues = _mm512_loadu_si512(pValue + c);
        for (int j = 0; j < 3; ++j) {
            _mm512_storeu_si512(pBgr + 3 * c + 64 * j,
                                _mm512_permutexvar_epi8(avPermute[j], vValues));
        }
    }
    if (c < nCount) {
        const int64_t n = nCount - c;
        const __m512i vValues = _mm512_maskz_loadu_epi8((__mmask64{1} << n) - 1, pValue + c);
        for (int j = 0; j < 3; ++j) {
            const int64_t nBytes = 3 * n - 64 * j;
            if (nBytes <= 0) break;
            const __mmask64 mBytes = nBytes >= 64 ? ~__mmask64{0} : (__mmask64{1} << nBytes) - 1;
            _mm512_mask_storeu_epi8(pBgr + 3 * c + 64 * j, mBytes,
                                    _mm512_permutexvar_epi8(avPermute[j], vValues));
        }
    }
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

bool CpuHasAvx512Vbmi() noexcept { return CpuHasAvx512() && __builtin_cpu_supports("avx512vbmi"); }

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
            *pKernels = {LumaAvx512, ExpandAvx2, TransposeAvx2};
            return true;
        case EIsaLevel::Avx512Vbmi:
            if (!CpuHasAvx512Vbmi()) return false;
            *pKernels = {LumaVbmi, ExpandVbmi, TransposeAvx2};
            return true;
        default:
            return false;
    }
}

}  // namespace detail

void OrderStreamedWrites() noexcept { _mm_sfence(); }

}  // namespace tavro

#pragma GCC diagnostic pop

#endif
