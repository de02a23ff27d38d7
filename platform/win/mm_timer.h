// platform/win multimedia timer: one-shot timers whose callbacks run on one
// process-wide timer thread.
//
// Contract:
//  - timeSetEvent returns a non-zero timer id, or 0 when it cannot create the
//    timer (null callback, a periodic or event-setting timer, ids exhausted).
//    Ids are never 0 and never reused within the process.
//  - The callback runs once, on the timer thread, no earlier than uDelay ms
//    after the call, and receives its own id. Callbacks run one at a time.
//  - timeKillEvent is always synchronous: once it returns, that timer's
//    callback is neither running nor going to run. Called from a callback on
//    the timer thread it does not wait (the callback in progress is the
//    caller itself), so a callback may kill any timer, its own included.
//  - The timer thread holds no lock while it runs a callback, so a callback
//    may take the caller's locks; the caller must then not hold those locks
//    while it calls timeKillEvent from another thread.
// May include: the C++ standard library and platform/win only. No Qt.
#pragma once

#include "platform/win/time_services.h"
#include "platform/win/win_types.h"

// uMsg, dw1 and dw2 are always 0 here.
using LPTIMECALLBACK = void (*)(UINT uTimerID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dw1,
                                DWORD_PTR dw2);

constexpr UINT TIME_ONESHOT = 0x0000;
constexpr UINT TIME_PERIODIC = 0x0001;
constexpr UINT TIME_CALLBACK_FUNCTION = 0x0000;
constexpr UINT TIME_CALLBACK_EVENT_SET = 0x0010;
constexpr UINT TIME_CALLBACK_EVENT_PULSE = 0x0020;
// Accepted for source compatibility; every kill is synchronous here.
constexpr UINT TIME_KILL_SYNCHRONOUS = 0x0100;

// uResolution is accepted and ignored (the timer thread wakes at the
// deadline). fuEvent may be TIME_ONESHOT | TIME_CALLBACK_FUNCTION, optionally
// with TIME_KILL_SYNCHRONOUS; anything else answers 0.
MMRESULT timeSetEvent(UINT uDelay, UINT uResolution, LPTIMECALLBACK lpTimeProc, DWORD_PTR dwUser,
                      UINT fuEvent);

// TIMERR_NOERROR when the timer was pending (it will not fire) or its callback
// was running (it has finished, unless the caller is that callback);
// MMSYSERR_INVALPARAM for an id that is unknown or whose callback already ran.
MMRESULT timeKillEvent(UINT uTimerID);
