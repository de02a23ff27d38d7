// processing: CTimingStats, the per-frame times of one playback run and their
// distribution (min / median / p90 / p99 / max), printed after the run
// statistics.
//
// The worker adds one entry per processed frame: the plug-in time and the
// interval since the previous processed frame. The storage is reserved at
// the start of the run (one entry per frame of the stream), so adding never
// allocates unless a run processes more frames than it reserved (amortised
// growth then). The distribution is computed once, at the end of the run.
//
// Threads: one thread (the worker's) at a time.
// May include: the C++ standard library. No Qt.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class CTimingStats {
public:
    // The distribution of one series, in ms. All 0 for an empty series.
    struct SSummary {
        size_t nCount = 0;
        double dMin = 0.0;
        double dMedian = 0.0;
        double dP90 = 0.0;
        double dP99 = 0.0;
        double dMax = 0.0;
    };

    // Forgets the previous run and reserves room for nFrames frames. A late
    // frame is one whose interval exceeds dLateMs (0: none is late).
    void StartRun(size_t nFrames, double dLateMs);
    // One processed frame. bHasInterval is false for the first frame of the
    // run (no previous frame: its interval is not part of the series).
    void Add(double dProcessMs, double dIntervalMs, bool bHasInterval);

    size_t FrameCount() const { return m_vdProcess.size(); }
    size_t LateCount() const { return m_nLate; }
    SSummary ProcessSummary() const { return Summarise(m_vdProcess); }
    SSummary IntervalSummary() const { return Summarise(m_vdInterval); }

    // Nearest-rank percentiles of a series (sorts a copy): the p-th
    // percentile is the smallest value with at least p % of the series at
    // or below it, so every figure is one of the measured values.
    static SSummary Summarise(std::vector<double> vd);

    // "NAME min a / median b / p90 c / p99 d / max e (ms)".
    static std::string FormatSummary(const char* pszName, const SSummary& s);

    // The three distribution lines: plug-in time, frame interval, and the
    // frames late or skipped (nSkipped: frames the run jumped over).
    std::string ProcessLine() const;
    std::string IntervalLine() const;
    std::string LateLine(long long llSkipped) const;

private:
    std::vector<double> m_vdProcess;
    std::vector<double> m_vdInterval;
    double m_dLateMs = 0.0;
    size_t m_nLate = 0;
};
