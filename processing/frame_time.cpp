#include "processing/frame_time.h"

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
                  ftNow.nSeconds, ftNow.nFrames, ftTotal.nHours, ftTotal.nMinutes,
                  ftTotal.nSeconds, ftTotal.nFrames);
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
                  ftNow.nSeconds, ftNow.nFrames, ftTotal.nHours, ftTotal.nMinutes,
                  ftTotal.nSeconds, ftTotal.nFrames);
    return sz;
}
