// app: the headless runner, `pelora --headless FILE [options]`.
//
// Builds the same frame worker as the processing dialog, with no window:
// presses Play at position 0 and prints to standard output every line the
// worker would draw on the main view (the per-pass and per-frame timing
// lines) and the three end-of-run statistics lines, then exits 0. The
// options are those of app/command_line.h (--help lists them):
//
//   --plugin PATH       load this plug-in instead of the usual lookup
//   --no-plugin         process nothing (frames pass unprocessed)
//   --csv PATH          one row per processed frame: index, plug-in ms, interval ms
//   --every-frame       every frame in order, none skipped, none waiting for its time
//   --save-frame N PATH no playback: grab frame N (from 0) as the dialog shows it
//                       after the slider was moved there, process it, write it as a
//                       24-bit BMP and exit
//
// A video is classified as the video command classifies it (ClassifySource):
// its seek mode comes from there, and an MPEG file is refused with the
// command's message (exit 1).
//
// Still images: `pelora --headless IMAGE.bmp|IMAGE.csv [--plugin PATH |
// --no-plugin] [--save-frame 0 PATH] [--canvas]`. A file the image Open
// command reads (extension BMP, bmp, CSV or csv, exactly) is read and
// converted as that command does, processed once (one pass of a dialog
// showing it with Play pressed), and the pass's timing line printed;
// --save-frame 0 writes the processed frame. A CSV grid whose origin is not
// (0, 0) is taken at its own size unless --canvas answers the 512x480
// question with Yes. A refused image prints the command's message on
// standard error and exits 1.
//
// A file that cannot be rendered prints the dialog's message on standard
// error and exits 1; bad options exit 2. A missing plug-in prints its message
// on standard error and the run goes on unprocessed. Progress (the frame
// counter) goes to standard error when it is a terminal.
//
// Main thread only. May include: processing core, platform/*, app's plain
// C++ parts (command line, source classes, image readers), the C++ standard
// library. No Qt.
#pragma once

#include <cstdio>
#include <string>

#include "platform/win/win_types.h"

struct SCommandLine;
class CPluginModule;

// Runs a parsed command line that has --headless; returns the exit code.
int RunHeadless(const SCommandLine& line);

// Loads the plug-in the options ask for (none with --no-plugin); a plug-in
// that cannot be loaded is said on standard error and the run goes on
// unprocessed.
void LoadHeadlessPlugin(const SCommandLine& opt, CPluginModule& plugin);

// Writes the frame as a 24-bit bottom-up BMP: the buffer as it is, which
// shows it upright. False when the file cannot be written.
bool WriteBmp(const std::string& strPath, const BITMAPINFO& bmi, const BYTE* pBits);

// Opens the --csv file for writing with its header line; says why on
// standard error and answers null when it cannot be written.
std::FILE* OpenCsv(const std::string& strPath, const char* pszHeader);
