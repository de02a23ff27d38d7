// capture: media-type helpers of the library's format negotiation. Media
// types handed out by the pin (GetFormat, GetStreamCaps) are task memory
// with a task-memory format block.
// May include: the C++ standard library, platform/. No Qt.
#pragma once

#include <cstdint>

#include "platform/media/media_types.h"

// Frees a task-memory media type: its format block, its pUnk reference
// and the record itself. Null is allowed.
void freeCaptureMediaType(AM_MEDIA_TYPE* pmt);
// A task-memory deep copy (format block copied, pUnk referenced), or null.
AM_MEDIA_TYPE* copyCaptureMediaType(const AM_MEDIA_TYPE* pmt);
// The VIDEOINFOHEADER of a FORMAT_VideoInfo type, copied out after checking
// the block's length. False for any other format.
bool readVideoInfo(const AM_MEDIA_TYPE* pmt, VIDEOINFOHEADER* pVih);
// Writes back a VIDEOINFOHEADER into a FORMAT_VideoInfo type's block.
bool writeVideoInfo(AM_MEDIA_TYPE* pmt, const VIDEOINFOHEADER& vih);
// The frame size in bytes of a packed 24-bit w x h frame, or 0 when either
// side is outside 1..16384.
int64_t packedFrameBytes(int64_t w, int64_t h);
// Nearest value to `want` on the grid min, min + step, ... <= max; ties
// resolve to the smaller value. False for an empty grid (min > max or
// step < 1).
bool nearestOnGrid(int64_t want, int64_t min, int64_t max, int64_t step, int64_t* pNearest);
