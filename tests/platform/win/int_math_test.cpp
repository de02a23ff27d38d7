#include "platform/win/int_math.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr LONGLONG kMax64 = std::numeric_limits<LONGLONG>::max();
constexpr LONGLONG kMin64 = std::numeric_limits<LONGLONG>::min();

TEST(MulDiv, RoundsHalvesAwayFromZeroKeeps64BitsAndAnswersMinusOneOnFailure) {
    struct Case {
        INT a, b, c, expected;
    } cases[] = {
        {10, 1, 4, 3},                                       // 2.5
        {-10, 1, 4, -3}, {100000, 2000000, 4000000, 50000},  // the product needs more than 32 bits
        {5, 5, 0, -1},   {0x7FFFFFFF, 2, 1, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;
    }
}

TEST(MulDiv64, Uses128BitIntermediateAndSaturates) {
    EXPECT_EQ(MulDiv64(kMax64, kMax64, kMax64), kMax64);
    EXPECT_EQ(MulDiv64(kMax64, -2, 1), kMin64);
    EXPECT_EQ(MulDiv64(-7, 3, 2), -10);  // toward zero
    EXPECT_EQ(MulDiv64(5, 5, 0), kMax64);
}

TEST(IntegerSquareRoot, MatchesTheStatisticsTableAndNeverOverflows) {
    EXPECT_EQ(isqrt(-5), 0);
    EXPECT_EQ(isqrt(100), 10);
    EXPECT_EQ(isqrt(0x40000001), 32768);
    EXPECT_EQ(isqrt(kMax64), 32768);
}

TEST(Saturation, AddAndSubtractStopAtTheLimits) {
    EXPECT_EQ(SatAdd64(kMax64, 1), kMax64);
    EXPECT_EQ(SatAdd64(kMin64, -1), kMin64);
    EXPECT_EQ(SatSub64(0, kMin64), kMax64);
    EXPECT_EQ(SatAdd64(40, 2), 42);
}

}  // namespace
