#include "processing/frame_time.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

// Truncation toward zero into 32 bits, saturating instead of overflowing.
INT TruncToInt(double d) {
    if (std::isnan(d)) return 0;
    if (d >= static_cast<double>(std::numeric_limits<INT>::max()))
        return std::numeric_limits<INT>::max();
    if (d <= static_cast<double>(std::numeric_limits<INT>::min()))
        return std::numeric_limits<INT>::min();
    return static_cast<INT>(d);
}

}  // namespace

double FramesPerSecondOf(LONG nFrameDuration) {
    if (nFrameDuration <= 0) return 0.0;
    const double dFps = 1e7 / nFrameDuration;
    // One 100-ns unit of error in the duration (rounded, truncated or
    // rounded up), as an error in the rate.
    const double dTolerance = dFps * 1.0 / nFrameDuration + 1e-12;
    const double dWhole = std::round(dFps);
    if (dWhole > 0 && std::fabs(dFps - dWhole) <= dTolerance) return dWhole;
    const double dNtsc = std::round(dFps * 1001.0 / 1000.0) * 1000.0 / 1001.0;
    if (std::fabs(dFps - dNtsc) <= dTolerance) return dNtsc;
    return dFps;
}

LONGLONG FrameIndexAt(LONGLONG llPos, LONG nFrameStep, double dFps) {
    if (nFrameStep <= 1) return llPos;  // frame time format: positions are frame numbers
    // Media time: the frame duration is rounded to 100 ns, so dividing a
    // frame's start time by it can land just below the frame's number
    // (frame 3 of a 24 fps clip starts at 1250000, and 1250000 / 416667 is
    // 2.99999). The exact rate counts frames instead. Every position the
    // worker holds is a frame's start (a rendered sample's time, a slider
    // position, a sum of steps), so the nearest frame number is its frame.
    if (!(dFps > 0.0)) return llPos / nFrameStep;
    return static_cast<LONGLONG>(std::llround(static_cast<long double>(llPos) * dFps / 1e7L));
}

LONGLONG FrameStartAt(LONG nFrame, LONG nFrameStep, double dFps) {
    if (nFrameStep <= 1 || !(dFps > 0.0)) return static_cast<LONGLONG>(nFrame) * nFrameStep;
    return static_cast<LONGLONG>(std::llround(static_cast<long double>(nFrame) * 1e7L / dFps));
}

INT FrameCountOf(LONGLONG llDuration, LONG nFrameStep, double dFps) {
    const LONGLONG llCount = FrameIndexAt(llDuration, nFrameStep, dFps);
    return static_cast<INT>(std::clamp<LONGLONG>(llCount, std::numeric_limits<INT>::min(),
                                                 std::numeric_limits<INT>::max()));
}

SFrameTime SplitFrameTime(INT nFrame, double dFps) {
    SFrameTime ft;
    if (!(dFps > 0.0) || !std::isfinite(dFps)) {
        ft.nFrames = nFrame;
        return ft;
    }
    const double dN = nFrame;
    ft.nHours = TruncToInt(dN / (3600.0 * dFps));
    ft.nMinutes = TruncToInt((dN - 3600.0 * ft.nHours * dFps) / (60.0 * dFps));
    ft.nSeconds = TruncToInt((dN - 60.0 * (60.0 * ft.nHours + ft.nMinutes) * dFps) / dFps);
    const double dWhole = (3600.0 * ft.nHours + 60.0 * ft.nMinutes + ft.nSeconds) * dFps;
    ft.nFrames = static_cast<INT>(static_cast<int64_t>(nFrame) - TruncToInt(dWhole));
    return ft;
}

std::string FormatCounterText(LONGLONG llIndex, INT nFrameCount, const SFrameTime& ftNow,
                              const SFrameTime& ftTotal) {
    char sz[160];
    std::snprintf(sz, sizeof sz, "%7" PRId64 "/%7d (%d:%02d:%02d:%02d / %d:%02d:%02d:%02d)",
                  static_cast<int64_t>(llIndex), nFrameCount, ftNow.nHours, ftNow.nMinutes,
                  ftNow.nSeconds, ftNow.nFrames, ftTotal.nHours, ftTotal.nMinutes, ftTotal.nSeconds,
                  ftTotal.nFrames);
    return sz;
}

std::string FormatInitialCounterText(INT nFrameCount, const SFrameTime& ftTotal) {
    char sz[120];
    std::snprintf(sz, sizeof sz, "0/%7d (0:00:00:00 / %d:%02d:%02d:%02d)", nFrameCount,
                  ftTotal.nHours, ftTotal.nMinutes, ftTotal.nSeconds, ftTotal.nFrames);
    return sz;
}

std::string FormatSliderCounterText(LONGLONG llIndex, INT nFrameCount, const SFrameTime& ftNow,
                                    const SFrameTime& ftTotal) {
    char sz[160];
    std::snprintf(sz, sizeof sz, "%7" PRId64 "/%7d (%d:%2d:%2d:%2d / %d:%2d:%2d:%2d)",
                  static_cast<int64_t>(llIndex), nFrameCount, ftNow.nHours, ftNow.nMinutes,
                  ftNow.nSeconds, ftNow.nFrames, ftTotal.nHours, ftTotal.nMinutes, ftTotal.nSeconds,
                  ftTotal.nFrames);
    return sz;
}
