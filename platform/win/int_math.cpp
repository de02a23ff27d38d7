#include "platform/win/int_math.h"

INT MulDiv(INT nNumber, INT nNumerator, INT nDenominator) {
    if (nDenominator == 0) {
        return -1;
    }
    // |product| < 2^62 and |denominator| >= 1: nothing here overflows 64 bits.
    const int64_t product = static_cast<int64_t>(nNumber) * nNumerator;
    int64_t den = nDenominator;
    int64_t num = product;
    if (den < 0) {
        den = -den;
        num = -num;
    }
    const int64_t half = den / 2;
    const int64_t q = num >= 0 ? (num + half) / den : -((-num + half) / den);
    if (q > std::numeric_limits<INT>::max() || q < std::numeric_limits<INT>::min()) {
        return -1;
    }
    return static_cast<INT>(q);
}

LONGLONG MulDiv64(LONGLONG a, LONGLONG b, LONGLONG c, LONGLONG d) {
    // |a * b| <= 2^126 and |d| < 2^63: the sum fits in 128 bits.
    const __int128 num = static_cast<__int128>(a) * b + d;
    constexpr __int128 kMax = std::numeric_limits<LONGLONG>::max();
    constexpr __int128 kMin = std::numeric_limits<LONGLONG>::min();
    if (c == 0) {
        return num < 0 ? std::numeric_limits<LONGLONG>::min()
                       : std::numeric_limits<LONGLONG>::max();
    }
    const __int128 q = num / c;  // |num| < 2^127: no 128-bit overflow, even for c == -1
    if (q > kMax) {
        return std::numeric_limits<LONGLONG>::max();
    }
    if (q < kMin) {
        return std::numeric_limits<LONGLONG>::min();
    }
    return static_cast<LONGLONG>(q);
}

INT isqrt(LONGLONG x) {
    if (x > 0x40000000LL) {
        return 0x8000;
    }
    if (x <= 0) {
        return 0;
    }
    LONGLONG s = 1;
    if (x > 1) {
        do {
            s *= 2;
        } while (s * s < x);
        for (int i = 0; i < 3; ++i) {
            s = (x + s * s) / (2 * s);
        }
    }
    return static_cast<INT>(s);
}
