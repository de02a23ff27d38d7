#include "processing/timing_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string CTimingStats::FormatSummary(const char* pszName, const SSummary& s) {
    char sz[160];
    std::snprintf(sz, sizeof sz, "%s min %.2f / median %.2f / p90 %.2f / p99 %.2f / max %.2f (ms)",
                  pszName, s.dMin, s.dMedian, s.dP90, s.dP99, s.dMax);
    return sz;
}

void CTimingStats::StartRun(size_t nFrames, double dLateMs) {
    m_vdProcess.clear();
    m_vdInterval.clear();
    m_vdProcess.reserve(nFrames);
    m_vdInterval.reserve(nFrames);
    m_dLateMs = dLateMs;
    m_nLate = 0;
}

void CTimingStats::Add(double dProcessMs, double dIntervalMs, bool bHasInterval) {
    m_vdProcess.push_back(dProcessMs);
    if (!bHasInterval) return;
    m_vdInterval.push_back(dIntervalMs);
    if (m_dLateMs > 0.0 && dIntervalMs > m_dLateMs) ++m_nLate;
}

CTimingStats::SSummary CTimingStats::Summarise(std::vector<double> vd) {
    SSummary s;
    s.nCount = vd.size();
    if (vd.empty()) return s;
    std::sort(vd.begin(), vd.end());
    const auto rank = [&](double dPercent) {
        // ceil(p/100 * n) as a 1-based rank; at least 1.
        const double dRank = std::ceil(dPercent / 100.0 * static_cast<double>(vd.size()));
        const size_t n = dRank < 1.0 ? 1 : static_cast<size_t>(dRank);
        return vd[std::min(n, vd.size()) - 1];
    };
    s.dMin = vd.front();
    s.dMedian = rank(50.0);
    s.dP90 = rank(90.0);
    s.dP99 = rank(99.0);
    s.dMax = vd.back();
    return s;
}

std::string CTimingStats::ProcessLine() const { return FormatSummary("plug-in", ProcessSummary()); }

std::string CTimingStats::IntervalLine() const {
    return FormatSummary("interval", IntervalSummary());
}

std::string CTimingStats::LateLine(long long llSkipped) const {
    char sz[96];
    std::snprintf(sz, sizeof sz, "late %zu / skipped %lld frames", m_nLate, llSkipped);
    return sz;
}
