// processing: frame numbers as hours:minutes:seconds:frames, and the frame
// counter texts of the processing dialog.
//
// Pure functions, callable from any thread. May include: the C++ standard
// library and platform/win. No Qt.
#pragma once

#include <string>

#include "platform/win/win_types.h"

struct SFrameTime {
    INT nHours = 0;
    INT nMinutes = 0;
    INT nSeconds = 0;
    INT nFrames = 0;
};

// Splits frame number nFrame at dFps frames per second, in double precision,
// every conversion truncating toward zero. A rate that is not positive (or
// not finite) gives all frames and no time: {0, 0, 0, nFrame}.
SFrameTime SplitFrameTime(INT nFrame, double dFps);

// Frames per second of a frame duration in 100-ns units (> 0). The duration
// is rounded to whole 100-ns units, so 1e7 / duration is slightly off for
// the usual rates (333333 gives 30.00003, and 300 frames would read as
// 9 s 30 frames); a rate within one unit's error of a whole number n or of
// n * 1000 / 1001 is taken as exactly that.
double FramesPerSecondOf(LONG nFrameDuration);

// Positions and frames of a stream with nFrameStep position units per frame
// (1: frame time format, positions are frame numbers; else 100-ns media
// time) at dFps frames per second.
// The frame at a position: the position itself in frame time format; in
// media time, counted at the exact frame rate.
LONGLONG FrameIndexAt(LONGLONG llPos, LONG nFrameStep, double dFps);
// The start of frame nFrame: the frame number in frame time format, in media
// time its start at the exact rate (64-bit, never wrapping).
LONGLONG FrameStartAt(LONG nFrame, LONG nFrameStep, double dFps);
// The frames of a stream ending at llDuration, saturated to 32 bits.
INT FrameCountOf(LONGLONG llDuration, LONG nFrameStep, double dFps);

// The worker's counter text: "%7I64d/%7d (%ld:%02ld:%02ld:%02ld / ...)".
std::string FormatCounterText(LONGLONG llIndex, INT nFrameCount, const SFrameTime& ftNow,
                              const SFrameTime& ftTotal);
// The text before the first frame: "0/%7d (0:00:00:00 / %ld:%02ld:%02ld:%02ld)".
std::string FormatInitialCounterText(INT nFrameCount, const SFrameTime& ftTotal);
// The slider handler's text, its two-digit fields padded with blanks:
// "%7d/%7d (%ld:%2ld:%2ld:%2ld / ...)".
std::string FormatSliderCounterText(LONGLONG llIndex, INT nFrameCount, const SFrameTime& ftNow,
                                    const SFrameTime& ftTotal);
