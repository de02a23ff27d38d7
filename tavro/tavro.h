// tavro: the binarization plug-in's export and its three pixel passes.
//
// TavroFunc turns a 24-bit bottom-up frame (blue, green, red; rows padded to
// four bytes) into a black-and-white frame of the same size: a pixel becomes
// white when its luminance, computed in double precision as
// (0.299*r + 0.587*g) + 0.114*b and truncated, is 128 or more.
//
// The work goes through two scratch planes of W*H bytes (a grey plane and a
// bilevel plane, in one block allocated and freed by each call). Both planes
// are transposed: one run of H bytes per source
// column, the source rows in reverse order within a run, so source pixel
// (row i, column j) lives at plane index j*H + (H-1-i). The grey pass writes
// that layout and the output pass reads it back, so the frame's geometry is
// unchanged.
//
// Called by the viewer's worker thread, one call at a time; the routines keep
// no state and touch no shared data, so concurrent calls on distinct buffers
// are safe as well. A call uses 16 KB of stack for its tile buffer.
// May include: the C++ standard library and include/pelora only.
#pragma once

#include <cstdint>

namespace tavro {

// Fill the grey plane from the input pixels (H rows of stride bytes).
void ConvertToGrey(const uint8_t* pInput, uint8_t* pGrey, int32_t nWidth, int32_t nHeight) noexcept;

// Bilevel plane: 0 where grey < nThreshold, 255 elsewhere (both planes W*H).
void Binarize(const uint8_t* pGrey, uint8_t* pBilevel, int32_t nWidth, int32_t nHeight,
              uint8_t nThreshold) noexcept;

// Write the bilevel plane to the output pixels: the value in all three
// bytes of each pixel, zero in every row's padding bytes.
void ConvertToRgb24(const uint8_t* pBilevel, uint8_t* pOutput, int32_t nWidth,
                    int32_t nHeight) noexcept;

}  // namespace tavro
