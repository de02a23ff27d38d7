// app: the headless runner, `pelora --headless FILE [options]`.
//
// Builds the same frame worker as the processing dialog, with no window:
// presses Play at position 0 and prints to standard output every line the
// worker would draw on the main view (the per-pass and per-frame timing
// lines) and the three end-of-run statistics lines, then exits 0.
//
//   --plugin PATH       load this plug-in instead of the usual lookup
//   --no-plugin         process nothing (frames pass unprocessed)
//   --csv PATH          one row per processed frame: index, plug-in ms, interval ms
//   --every-frame       every frame in order, none skipped, none waiting for its time
//   --save-frame N PATH no playback: grab frame N (from 0) as the dialog shows it
//                       after the slider was moved there, process it, write it as a
//                       24-bit BMP and exit
//
// A file that cannot be rendered prints the dialog's message on standard
// error and exits 1; bad options exit 2. A missing plug-in prints its message
// on standard error and the run goes on unprocessed. Progress (the frame
// counter) goes to standard error when it is a terminal.
//
// Main thread only. May include: processing core, platform/*, the C++
// standard library. No Qt.
#pragma once

int RunHeadless(int argc, char** argv);
