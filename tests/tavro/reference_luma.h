// The luminance rule written straight from its definition (the files that use
// it are built without floating-point contraction, as the plug-in is), and the
// colour sweep the plug-in and its pixel kernels are checked over.
#pragma once

#include <cstdint>

#include "support/race_loops.h"  // PELORA_TSAN

namespace tavro_test {

// Every colour, except under the thread sanitizer (where the full sweep takes
// most of a minute): there 2^20 colours spread over the cube (17 * n mod 2^24).
#ifdef PELORA_TSAN
constexpr uint32_t kSweepColours = 1u << 20;
constexpr uint32_t kSweepStep = 17;
#else
constexpr uint32_t kSweepColours = 1u << 24;
constexpr uint32_t kSweepStep = 1;
#endif

// Blue in bits 0-7, green in bits 8-15, red in bits 16-23.
inline uint32_t SweepColour(uint32_t n) { return (n * kSweepStep) & 0xFFFFFFu; }

inline uint8_t ReferenceLuma(uint32_t nBlue, uint32_t nGreen, uint32_t nRed) {
    const double dLuma = (0.299 * nRed + 0.587 * nGreen) + 0.114 * nBlue;
    return static_cast<uint8_t>(static_cast<int32_t>(dLuma));
}

}  // namespace tavro_test
