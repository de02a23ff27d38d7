// tools: the frame-numbered picture that generated clips carry, and its reader.
//
// Every frame of a generated clip shows its own index as big black and white
// cells, so that a test can tell which frame a decoder delivered even after
// lossy coding. The picture, top to bottom (H split into five bands, W into
// eight cells; whatever is left over on the right and at the bottom is grey):
//
//   band 0   colour strip: red | green | blue, each a third of the width
//   band 1   index bits 7..0, most significant bit on the left
//   band 2   marker byte 0xB4
//   band 3   index bits 15..8
//   band 4   check byte, a function of both index bytes
//
// The marker is not its own mirror image, so a frame that is upside down,
// mirrored or rotated does not read as upright. The check byte changes with
// either index byte alone, and the two index bytes sit on either side of the
// marker, so a picture whose upper rows come from one frame and lower rows
// from another (a half-updated buffer) reads as no index at all. The colour
// strip tells red from blue, so swapped channels are caught as well. The
// index is 16 bits: frame 65536 shows 0 again.
//
// Pure functions, callable from any thread. May include: the C++ standard
// library only. No Qt, no FFmpeg.
#pragma once

#include <cstdint>

// How the pattern was found in a picture, relative to how it was drawn.
enum class EPatternOrientation {
    NotFound,  // no consistent pattern in any orientation
    Upright,
    UpsideDown,  // rows in reverse order (a top-down picture read as bottom-up)
    Mirrored,    // columns in reverse order
    Rotated180,  // both
};

struct SPatternReading {
    int nIndex = -1;  // 0..65535, or -1 when eOrientation is NotFound
    EPatternOrientation eOrientation = EPatternOrientation::NotFound;
    bool bChannelsSwapped = false;  // red and blue exchanged
};

// Smallest picture the pattern fits in (cells of at least 4 x 4 pixels).
constexpr int kPatternMinWidth = 32;
constexpr int kPatternMinHeight = 20;

// Draws frame nIndex (taken modulo 65536) into a top-down 24-bit BGR picture
// of nWidth x nHeight with rows nStride bytes apart. Writes only the first
// 3*nWidth bytes of each row. Does nothing below the minimum size.
void DrawFramePattern(uint8_t* pBgrTopDown, int nWidth, int nHeight, int nStride, int nIndex);

// Reads the pattern from a 24-bit BGR picture whose first row in memory is
// the bottom of the picture (nStride > 0) - the layout decoders deliver.
// Tries all four orientations.
SPatternReading ReadFramePattern(const uint8_t* pBgrBottomUp, int nWidth, int nHeight, int nStride);

// The frame index shown by a bottom-up BGR picture, or -1 when the pattern is
// missing, inconsistent, upside down, mirrored or has its channels swapped.
int ReadFrameIndex(const uint8_t* pBgrBottomUp, int nWidth, int nHeight, int nStride);

// The check byte drawn in band 4 for an index (exposed for tests).
uint8_t FramePatternCheckByte(int nIndex);
