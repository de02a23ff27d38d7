// The plug-in's luminance rule in integer arithmetic, equal for every one of
// the 2^24 colours to the double-precision chain it is defined by:
//
//     grey = trunc((0.299*r + 0.587*g) + 0.114*b)
//
// Why an integer formula can match: let S = 299*r + 587*g + 114*b, so the
// exact value is S/1000. The chain's three constants are off by less than
// 1e-16 each and its five operations round by at most 2^-45 each (values
// below 256): together far less than 0.001. Where S is not a multiple of 1000
// the exact value lies at least 0.001 from an integer, so rounding cannot
// move it across one and the result is floor(S/1000). Where S is a multiple of 1000
// the exact value is the integer S/1000 itself and the rounding decides:
// the double lands on it (S/1000) or just below it (S/1000 - 1 after
// truncation; grey 128,128,128 is such a colour). Which of the two happens
// follows no pattern, so it is tabulated. For a given green and blue at most
// one red makes S a multiple of 1000 (299 is invertible modulo 1000, and red
// < 1000), so one bit per (green, blue) pair suffices: 2^16 bits, 8 KB, filled
// by the compiler evaluating the double chain itself (constant evaluation is
// IEEE double arithmetic with every operation rounded on its own, as at run
// time). The plug-in's tests compare the result with the double chain over
// every colour.
// May include: the C++ standard library only.
#pragma once

#include <cstdint>

namespace tavro {

struct CRoundDownTable {
    // Bit (g*256 + b) mod 32 of word (g*256 + b) / 32: the one colour with
    // this green and blue whose S is a multiple of 1000 truncates to
    // S/1000 - 1. Zero where no such colour exists (red would exceed 255).
    uint32_t m_anBits[65536 / 32];
};

struct CGreyRoundDownTable {
    uint32_t m_anBits[256 / 32];
};

consteval CRoundDownTable MakeRoundDownTable() {
    CRoundDownTable table{};
    for (uint32_t nGreen = 0; nGreen < 256; ++nGreen) {
        for (uint32_t nBlue = 0; nBlue < 256; ++nBlue) {
            // 299 * 699 = 209001 = 1 (mod 1000): red = -(587g + 114b) * 699.
            const uint32_t nRest = (1000 - (587 * nGreen + 114 * nBlue) % 1000) % 1000;
            const uint32_t nRed = nRest * 699 % 1000;
            if (nRed > 255) continue;
            const uint32_t nSum = 299 * nRed + 587 * nGreen + 114 * nBlue;
            const double dLuma = (0.299 * nRed + 0.587 * nGreen) + 0.114 * nBlue;
            if (static_cast<uint32_t>(static_cast<int32_t>(dLuma)) != nSum / 1000) {
                const uint32_t nIndex = nGreen << 8 | nBlue;
                table.m_anBits[nIndex >> 5] |= 1u << (nIndex & 31);
            }
        }
    }
    return table;
}

inline constexpr CRoundDownTable kRoundDown = MakeRoundDownTable();

// The bits of the greys (r = g = b = v, S = 1000v, table index 257v) on
// their own: bit v mod 32 of word v / 32. Small enough to sit in one vector
// register, so grey areas (black borders, white, monochrome pictures) need
// no table lookup in memory.
consteval CGreyRoundDownTable MakeGreyRoundDownTable() {
    CGreyRoundDownTable table{};
    for (uint32_t v = 0; v < 256; ++v) {
        const uint32_t nIndex = v << 8 | v;
        if (kRoundDown.m_anBits[nIndex >> 5] >> (nIndex & 31) & 1) {
            table.m_anBits[v >> 5] |= 1u << (v & 31);
        }
    }
    return table;
}

inline constexpr CGreyRoundDownTable kGreyRoundDown = MakeGreyRoundDownTable();

// 1 when the colour whose S is a multiple of 1000 for this green and blue
// truncates one below S/1000; meaningful only for that colour.
inline uint32_t RoundsDown(uint32_t nGreen, uint32_t nBlue) noexcept {
    const uint32_t nIndex = nGreen << 8 | nBlue;
    return kRoundDown.m_anBits[nIndex >> 5] >> (nIndex & 31) & 1;
}

// The luminance of one pixel, 0 to 255. One multiplication gives both the
// quotient and whether S is a multiple of 1000: with M = ceil(2^28 / 1000)
// = 268436 = 2^28 / 1000 + 0.544 and S = 1000q + rest,
// S * M = q * 2^28 + rest * 2^28 / 1000 + 0.544 * S, where 0.544 * S <= 138721
// < 2^18 and rest * 2^28 / 1000 + 0.544 * S < 2^28. So the bits from 28 up
// are q, and bits 18 to 27 are all zero exactly when rest = 0.
inline uint8_t ExactLuma(uint32_t nBlue, uint32_t nGreen, uint32_t nRed) noexcept {
    const uint64_t nScaled = uint64_t{299 * nRed + 587 * nGreen + 114 * nBlue} * 268436;
    uint32_t nLuma = static_cast<uint32_t>(nScaled >> 28);
    // Rare in natural pictures, every pixel of a grey one: either way the
    // branch predicts well.
    if ((nScaled >> 18 & 0x3FF) == 0) nLuma -= RoundsDown(nGreen, nBlue);
    return static_cast<uint8_t>(nLuma);
}

}  // namespace tavro
