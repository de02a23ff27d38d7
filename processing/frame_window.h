// processing: IFrameWindow, everything the frame worker asks of the window
// that shows its source.
//
// The worker (processing/frame_worker.h) never touches a widget: it reports
// through this interface. The Qt processing dialog implements it by running
// the calls on the GUI thread (the ones marked synchronous block the worker
// until the GUI thread has done them, or until the worker is told to stop);
// the headless runner and the tests implement it with plain code.
//
// Threads: every method is called on the worker thread only, one call at a
// time. An implementation must not call back into the worker's blocking
// operations from inside a call.
// May include: the C++ standard library and platform/win. No Qt.
#pragma once

#include <string>

#include "platform/win/win_types.h"

// One main pass of the worker, as it went (see IFrameWindow::OnPass).
struct SPassReport {
    bool bNewFrame = false;    // the acquire copied a frame (S_OK), not the last one again
    bool bPlaying = false;     // Play was on: the plug-in (when loaded) processed the frame
    LONGLONG llPassStart = 0;  // counter value when the pass began
    double dPassMs = 0.0;      // acquire + process, as the pass line says
    double dProcessMs = 0.0;   // the plug-in call alone (or the copy)
    // A new frame with a known capture time: from its capture to the start
    // of the plug-in call (or the copy), in ms. Negative otherwise.
    double dLatencyMs = -1.0;
    // That frame's capture time (performance-counter count); -1 when not known.
    LONGLONG llCaptureCount = -1;
};

class IFrameWindow {
public:
    virtual ~IFrameWindow() = default;

    // Synchronous. The counter static's text (UTF-8).
    virtual void SetCounterText(const std::string& strText) = 0;
    // Synchronous. Slider range 0..nMax with a tick every nTickFreq positions.
    virtual void SetSliderRange(LONG nMax, LONG nTickFreq) = 0;
    // Synchronous. Slider position (does not count as a user move).
    virtual void SetSliderPos(LONG nPos) = 0;
    // Synchronous. The counter text and the slider position together, in
    // one call to the window's thread (what the worker does on every
    // position change). By default the two calls above.
    virtual void SetCounterAndSlider(const std::string& strText, LONG nPos) {
        SetCounterText(strText);
        SetSliderPos(nPos);
    }
    // Synchronous. Greys the slider out (sources without positions).
    virtual void DisableSlider() = 0;
    // Synchronous. The end of the stream was reached: Play/Pause back to
    // "再生", Close enabled, Stop, "+1Frame" and "-1Frame" disabled.
    virtual void ResetButtonsAfterRun() = 0;
    // Asynchronous. The display buffer changed: repaint the picture area
    // soon. Never waits for the GUI thread.
    virtual void InvalidatePicture() = 0;
    // A status line at pixel row y of the main view, colour black. The
    // worker's per-pass/per-frame line goes to y = 10, the run statistics to
    // lines 21-23 (rows 210-230) and the run's timing distribution below
    // them to lines 24-26 (rows 240-260).
    virtual void DrawTextAt(int y, const std::string& strText) = 0;

    // Per processed frame during a run (after the plug-in call): the frame
    // index, the plug-in call alone (or the copy without a plug-in) in ms,
    // and the interval since the previous processed frame in ms (0 for the
    // first). For run logs; the dialog ignores it.
    virtual void OnFrameProcessed(LONGLONG llIndex, double dProcessMs, double dIntervalMs) {
        (void)llIndex, (void)dProcessMs, (void)dIntervalMs;
    }
    // After every main pass, once its timing line was drawn. For run logs
    // (the headless camera run); the dialog ignores it.
    virtual void OnPass(const SPassReport& report) { (void)report; }
    // After the end-of-run statistics: frames processed by the playback
    // loop, and frames the position jumped over (not processed). The
    // dialog ignores it.
    virtual void OnRunEnded(LONGLONG llProcessed, LONGLONG llSkipped) {
        (void)llProcessed, (void)llSkipped;
    }
};
