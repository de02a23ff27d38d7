#include "platform/win/int_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr LONGLONG kMax64 = std::numeric_limits<LONGLONG>::max();
constexpr LONGLONG kMin64 = std::numeric_limits<LONGLONG>::min();

TEST(MulDiv, RoundsToNearestWithHalvesAwayFromZero) {
    struct Case {
        INT a, b, c, expected;
    } cases[] = {
        {10, 1, 4, 3},    // 2.5 -> 3
        {10, 1, 3, 3},    // 3.33 -> 3
        {-10, 1, 4, -3},  // -2.5 -> -3
        {10, -1, 4, -3},
        {10, 1, -4, -3},
        {-10, -1, -4, -3},
        {7, 2, 4, 4},  // 3.5 -> 4
        {100000, 250, 1000, 25000},
        {0, 5, 7, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;
    }
}

TEST(MulDiv, KeepsA64BitIntermediate) {
    // 100,000 frames-per-second scale times two billion frames would wrap 32 bits.
    EXPECT_EQ(MulDiv(100000, 2000000, 4000000), 50000);
    EXPECT_EQ(MulDiv(0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF), 0x7FFFFFFF);
}

TEST(MulDiv, AnswersMinusOneOnZeroDivisorOrOverflow) {
    EXPECT_EQ(MulDiv(5, 5, 0), -1);
    EXPECT_EQ(MulDiv(0x7FFFFFFF, 2, 1), -1);
    EXPECT_EQ(MulDiv(std::numeric_limits<INT>::min(), -1, 1), -1);
}

TEST(MulDiv64, Uses128BitIntermediateAndSaturates) {
    // (2^62 * 4) / 8 = 2^61: the product alone overflows 64 bits.
    EXPECT_EQ(MulDiv64(1LL << 62, 4, 8), 1LL << 61);
    EXPECT_EQ(MulDiv64(kMax64, kMax64, kMax64), kMax64);
    EXPECT_EQ(MulDiv64(kMax64, 2, 1), kMax64);
    EXPECT_EQ(MulDiv64(kMax64, -2, 1), kMin64);
    EXPECT_EQ(MulDiv64(kMin64, -1, 1), kMax64);  // -(-2^63) does not fit
    EXPECT_EQ(MulDiv64(7, 3, 2), 10);            // rounds toward zero
    EXPECT_EQ(MulDiv64(-7, 3, 2), -10);
    EXPECT_EQ(MulDiv64(7, 3, 2, 1), 11);  // (21 + 1) / 2
    EXPECT_EQ(MulDiv64(5, 5, 0), kMax64);
    EXPECT_EQ(MulDiv64(-5, 5, 0), kMin64);
}

TEST(IntegerSquareRoot, MatchesTheStatisticsTable) {
    EXPECT_EQ(isqrt(0), 0);
    EXPECT_EQ(isqrt(-5), 0);
    EXPECT_EQ(isqrt(1), 1);
    EXPECT_EQ(isqrt(4), 2);
    EXPECT_EQ(isqrt(100), 10);
    EXPECT_EQ(isqrt(0x40000000), 32768);
    EXPECT_EQ(isqrt(0x40000001), 32768);
    EXPECT_EQ(isqrt(kMax64), 32768);
}

TEST(IntegerSquareRoot, StaysCloseToTheRealRootAndNeverOverflows) {
    // Three Newton steps from a start within a factor 2 are not always exact
    // for large inputs, but never more than a few units above the root.
    for (LONGLONG x = 1; x <= 0x40000000LL; x = x * 3 + 1) {
        const double root = std::sqrt(static_cast<double>(x));
        const INT s = isqrt(x);
        EXPECT_GE(s, static_cast<INT>(root) - 1) << x;
        EXPECT_LE(s, root * 1.001 + 1) << x;
    }
}

TEST(Saturation, AddAndSubtractStopAtTheLimits) {
    EXPECT_EQ(SatAdd64(kMax64, 1), kMax64);
    EXPECT_EQ(SatAdd64(kMin64, -1), kMin64);
    EXPECT_EQ(SatSub64(kMin64, 1), kMin64);
    EXPECT_EQ(SatSub64(kMax64, -1), kMax64);
    EXPECT_EQ(SatSub64(0, kMin64), kMax64);
    EXPECT_EQ(SatAdd64(40, 2), 42);
    EXPECT_EQ(SatSub64(40, 2), 38);
}

}  // namespace
