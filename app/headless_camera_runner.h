// app: the headless camera run, `pelora --headless --camera [OPTION]...`.
//
// Does what the window does for a USB camera dialog, with no window: its own
// capture library object; every device opened at 640 x 480 as start-up
// opens them (app/camera_devices.h); a frame worker on camera device 0 with
// the same source and the same polling passes as the dialog; Play (開始)
// pressed at once. Standard output holds only Pelora's lines: the timing
// line of each pass that got a new camera frame (every pass is timed, but
// thousands of lines a second are no use on a terminal), then the summary:
//   # camera: F new frames in P passes (R repeated), T s, X passes/s
//   # plug-in min / median / p90 / p99 / max (ms)      over every pass
//   # frame interval min / median / p90 / p99 / max (ms) between new frames
//   # latency min / median / p99 (ms)    capture to the start of the plug-in call
//   # camera frame rate X fps            from the frames' capture times
// The camera library's own lines go to standard error (--quiet-camera
// silences them).
//
// Options (app/command_line.h): --frames N (new camera frames, default 300)
// or --seconds S; --csv PATH, one row per pass (pass, new_frame, plugin_ms,
// pass_ms, latency_ms, empty unless the frame was new); --save-frame N PATH,
// the N-th new camera frame (from 0) as a BMP, processed unless --no-plugin;
// --plugin / --no-plugin as for files.
//
// Exit status: 0 done; 1 no camera (one line on standard error), a camera
// that stops delivering frames for kStallSeconds, or a file that cannot be
// written; 2 bad options (the command line's).
//
// Main thread only (the worker runs on its own thread). May include:
// processing core, capture/, platform/*, app's plain C++ parts. No Qt.
#pragma once

struct SCommandLine;

// No new camera frame for this long ends a --frames run with exit 1.
constexpr int kStallSeconds = 10;

// Runs a parsed command line that has --headless and --camera.
int RunHeadlessCamera(const SCommandLine& line);
