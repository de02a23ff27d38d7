// CTimingStats: the nearest-rank distribution of a run's per-frame times and
// the late count.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "processing/timing_stats.h"

namespace {

// The nearest-rank property: v is a member of the series, at least p % of
// the series is <= v, and fewer than p % is < v.
void ExpectNearestRank(const std::vector<double>& vd, double dPercent, double v) {
    const double n = static_cast<double>(vd.size());
    const auto nAtOrBelow = std::count_if(vd.begin(), vd.end(), [&](double d) { return d <= v; });
    const auto nBelow = std::count_if(vd.begin(), vd.end(), [&](double d) { return d < v; });
    EXPECT_NE(std::find(vd.begin(), vd.end(), v), vd.end()) << dPercent;
    EXPECT_GE(static_cast<double>(nAtOrBelow), dPercent / 100.0 * n) << dPercent;
    EXPECT_LT(static_cast<double>(nBelow), dPercent / 100.0 * n) << dPercent;
}

}  // namespace

TEST(TimingStats, PercentilesAreMeasuredValuesOfNearestRankForAnySizeAndOrder) {
    std::mt19937 rng(12);
    for (size_t n : {1u, 2u, 3u, 10u, 99u, 100u, 101u, 1000u}) {
        SCOPED_TRACE(n);
        std::vector<double> vd(n);
        std::uniform_real_distribution<double> dist(0.0, 40.0);
        for (double& d : vd) d = dist(rng);
        if (n > 3) vd[n / 2] = vd[n / 3];  // ties
        const CTimingStats::SSummary s = CTimingStats::Summarise(vd);
        EXPECT_EQ(s.nCount, n);
        EXPECT_EQ(s.dMin, *std::min_element(vd.begin(), vd.end()));
        EXPECT_EQ(s.dMax, *std::max_element(vd.begin(), vd.end()));
        ExpectNearestRank(vd, 50.0, s.dMedian);
        ExpectNearestRank(vd, 90.0, s.dP90);
        ExpectNearestRank(vd, 99.0, s.dP99);
    }
    const CTimingStats::SSummary sEmpty = CTimingStats::Summarise({});
    EXPECT_EQ(sEmpty.nCount, 0u);
    EXPECT_EQ(sEmpty.dMax, 0.0);
}

TEST(TimingStats, FirstFrameHasNoIntervalAndOnlyIntervalsOverTheLimitAreLate) {
    CTimingStats stats;
    stats.StartRun(4, 25.0);
    stats.Add(1.0, 0.0, false);
    stats.Add(2.0, 16.7, true);
    stats.Add(3.0, 25.0, true);  // at the limit: not late
    stats.Add(4.0, 50.1, true);
    stats.Add(5.0, 33.4, true);  // past the reserve: still kept
    EXPECT_EQ(stats.FrameCount(), 5u);
    EXPECT_EQ(stats.ProcessSummary().nCount, 5u);
    EXPECT_EQ(stats.IntervalSummary().nCount, 4u);
    EXPECT_EQ(stats.IntervalSummary().dMin, 16.7);
    EXPECT_EQ(stats.LateCount(), 2u);
    EXPECT_EQ(stats.LateLine(3), "late 2 / skipped 3 frames");

    // A new run forgets the old one; without a limit nothing is late.
    stats.StartRun(2, 0.0);
    stats.Add(7.0, 0.0, false);
    stats.Add(7.0, 900.0, true);
    EXPECT_EQ(stats.FrameCount(), 2u);
    EXPECT_EQ(stats.LateCount(), 0u);
    EXPECT_EQ(stats.ProcessSummary().dMin, 7.0);
}
