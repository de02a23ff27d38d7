// platform/win time services: the millisecond system time, sleeping, the
// timer-resolution calls and the performance counter, on CLOCK_MONOTONIC.
//
// All of these may be called from any thread and take no lock.
// The multimedia timer (timeSetEvent/timeKillEvent) is in mm_timer.h.
// May include: the C++ standard library and platform/win only. No Qt.
#pragma once

#include "platform/win/win_types.h"

// Result of the multimedia time calls (timeBeginPeriod, timeKillEvent, ...).
using MMRESULT = UINT;
constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT TIMERR_NOCANDO = 97;

// The platform's 64-bit counter record; only QuadPart is used here.
union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
static_assert(sizeof(LARGE_INTEGER) == 8);

// Milliseconds of CLOCK_MONOTONIC, truncated to 32 bits: it wraps about every
// 49.7 days, so callers compare two readings by unsigned subtraction.
DWORD timeGetTime();

// Milliseconds since an arbitrary start, as timeGetTime but not truncated.
ULONGLONG GetTickCount64();

// Sleeps for ms milliseconds; Sleep(0) gives up the rest of the time slice.
void Sleep(DWORD ms);

// The system timer already has millisecond resolution here: both calls do
// nothing and succeed for any period of at least 1 ms.
MMRESULT timeBeginPeriod(UINT uPeriod);
MMRESULT timeEndPeriod(UINT uPeriod);

// CLOCK_MONOTONIC in 100 ns counts; the frequency is 10,000,000 per second.
// Both answer TRUE, or FALSE for a null pointer.
BOOL QueryPerformanceCounter(LARGE_INTEGER* pCount);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* pFrequency);
