#include "platform/win/time_services.h"

#include <time.h>

#include <chrono>
#include <thread>

namespace {

LONGLONG MonotonicNanoseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<LONGLONG>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The performance counter ticks every 100 ns (10 MHz), the rate the timing
// lines' ten-place count columns are made for: a 1 GHz count overflows them
// for any interval of a second or more.
constexpr LONGLONG kNanosecondsPerCount = 100;

}  // namespace

DWORD timeGetTime() { return static_cast<DWORD>(GetTickCount64()); }

ULONGLONG GetTickCount64() { return static_cast<ULONGLONG>(MonotonicNanoseconds() / 1000000LL); }

void Sleep(DWORD ms) {
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

MMRESULT timeBeginPeriod(UINT uPeriod) { return uPeriod == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR; }

MMRESULT timeEndPeriod(UINT uPeriod) { return uPeriod == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR; }

BOOL QueryPerformanceCounter(LARGE_INTEGER* pCount) {
    if (pCount == nullptr) {
        return FALSE;
    }
    pCount->QuadPart = MonotonicNanoseconds() / kNanosecondsPerCount;
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* pFrequency) {
    if (pFrequency == nullptr) {
        return FALSE;
    }
    pFrequency->QuadPart = 1000000000LL / kNanosecondsPerCount;
    return TRUE;
}
