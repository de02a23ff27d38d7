// platform/media: ISampleCaptureTime, the capture time a camera sample
// carries from the device to whoever receives it.
//
// The capture source's samples answer it, and so do the samples the sample
// grabber lends to its callback, so a SampleCB can read when the frame it is
// given was captured: QueryInterface(IID_ISampleCaptureTime) on the
// IMediaSample (one reference for the caller, as always).
//
// The time is a performance-counter count (QueryPerformanceCounter, 100 ns
// on CLOCK_MONOTONIC): the driver's own buffer timestamp when the driver
// stamps with the monotonic clock, else the moment the buffer was dequeued.
// Threads: read on the streaming thread during the call that lends the
// sample; the value belongs to the frame the sample points at then.
// May include: platform/win, platform/com. No Qt.
#pragma once

#include "platform/com/iunknown.h"
#include "platform/win/win_types.h"

// {8D2F6A14-5B3C-4E7A-9C01-2E4B7F6D3A95}
inline constexpr IID IID_ISampleCaptureTime = {
    0x8D2F6A14, 0x5B3C, 0x4E7A, {0x9C, 0x01, 0x2E, 0x4B, 0x7F, 0x6D, 0x3A, 0x95}};

struct ISampleCaptureTime : IUnknown {
    // *pllCount = the frame's capture time. S_OK, E_POINTER, or S_FALSE
    // (and 0) when the sample carries no capture time.
    virtual HRESULT GetCaptureTime(LONGLONG* pllCount) = 0;
};
