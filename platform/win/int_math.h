// platform/win integer helpers: MulDiv, a 64-bit multiply-divide with a
// 128-bit intermediate, the integer square root used by the playback
// statistics, and saturating and clamping helpers for narrowing times.
//
// All are pure functions, callable from any thread.
// May include: the C++ standard library and platform/win only. No Qt.
#pragma once

#include <cstdint>
#include <limits>

#include "platform/win/win_types.h"

// nNumber * nNumerator / nDenominator with a 64-bit intermediate, rounded to
// the nearest integer (halves away from zero). -1 when nDenominator is 0 or
// the result does not fit in 32 bits.
INT MulDiv(INT nNumber, INT nNumerator, INT nDenominator);

// (a * b + d) / c with a 128-bit intermediate, rounded toward zero. The result
// saturates at the 64-bit limits; c == 0 gives the limit of the sign of
// a * b + d (INT64_MAX for 0).
LONGLONG MulDiv64(LONGLONG a, LONGLONG b, LONGLONG c, LONGLONG d = 0);

// The integer square root of the statistics: 32768 above 0x40000000, 0 for 0
// (and for negative input, which the callers never pass), otherwise a
// doubling start and three Newton steps in integer division.
INT isqrt(LONGLONG x);

// a + b and a - b, saturating at the 64-bit limits instead of overflowing.
constexpr LONGLONG SatAdd64(LONGLONG a, LONGLONG b) {
    LONGLONG r = 0;
    if (__builtin_add_overflow(a, b, &r)) {
        return b > 0 ? std::numeric_limits<LONGLONG>::max() : std::numeric_limits<LONGLONG>::min();
    }
    return r;
}

constexpr LONGLONG SatSub64(LONGLONG a, LONGLONG b) {
    LONGLONG r = 0;
    if (__builtin_sub_overflow(a, b, &r)) {
        return b < 0 ? std::numeric_limits<LONGLONG>::max() : std::numeric_limits<LONGLONG>::min();
    }
    return r;
}

// v clamped into [lo, hi].
constexpr LONGLONG Clamp64(LONGLONG v, LONGLONG lo, LONGLONG hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

// v narrowed to 32 bits, saturating at the 32-bit limits.
constexpr LONG ClampToLong(LONGLONG v) {
    return static_cast<LONG>(
        Clamp64(v, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
}

// v narrowed to 32 bits after clamping to [-limit, limit] (limit >= 0 and
// within 32 bits).
constexpr LONG ClampToLong(LONGLONG v, LONG limit) {
    return static_cast<LONG>(Clamp64(v, -static_cast<LONGLONG>(limit), limit));
}
