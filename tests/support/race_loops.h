// Iteration counts for the looped race tests: ThreadSanitizer slows every
// memory access down by an order of magnitude, so its runs loop less.
// PELORA_TSAN is defined under ThreadSanitizer with gcc and with clang.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define PELORA_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PELORA_TSAN 1
#endif
#endif

namespace pelora_test {

// n loops in plain and ASan builds, n / 10 (at least 1) under TSan.
constexpr int RaceLoops(int n) {
#ifdef PELORA_TSAN
    return n / 10 > 0 ? n / 10 : 1;
#else
    return n;
#endif
}

}  // namespace pelora_test
