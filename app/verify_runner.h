// app: `pelora --headless --verify FILE [--sample N] [--seed S] [--csv PATH]`,
// the frame exactness check of a video file (processing/frame_verifier.h).
//
// Decodes the file once in order, then reaches frames through the worker's
// file frame source as the slider and the +1/-1 buttons do, and compares
// every grabbed frame with the one the counter names. Prints one line per
// mismatch (frame asked, frame shown, position) and a summary line last
// (frames checked, mismatches, seek mode, time); --csv writes every check.
// Progress goes to standard error when it is a terminal.
//
// Exit: 0 every frame matched, 3 any mismatch, 1 the file cannot be opened
// (message on standard error), 2 bad options.
//
// Main thread only. May include: processing core, platform/*, the C++
// standard library. No Qt.
#pragma once

#include <functional>
#include <memory>

#include "processing/frame_source.h"

// argv[1] is "--headless"; true when the command line asks for --verify.
bool IsVerifyCommand(int argc, char** argv);
// wrapSource (tests only) gets the file's frame source and returns the one
// the check runs on, e.g. one that injects a fault.
using FrameSourceWrapper =
    std::function<std::unique_ptr<IFrameSource>(std::unique_ptr<IFrameSource>)>;
int RunVerify(int argc, char** argv, const FrameSourceWrapper& wrapSource = {});
