// app: the program's command line, for both modes:
//
//   pelora [OPTIONS] [FILE]                  the window (FILE opened as the video command opens
//   one) pelora --headless [OPTIONS] FILE         no window: the timing lines on standard output
//   pelora --headless --camera [OPTIONS]     no window: camera device 0, as its dialog runs
//
// GNU-style long options, anywhere on the line: "--opt value" and
// "--opt=value" alike; "--" ends the options. --help and --version win
// wherever they stand. An argument with a single dash ("-platform xcb",
// "-style fusion") is the GUI toolkit's own and is handed to it unread.
// Every option is listed once, in kOptions, with the modes it belongs to;
// the help text is made from that table.
//
// Plain C++ (no Qt): parsing happens before any toolkit exists, so that
// --help and the no-display message work without a display.
// May include: the C++ standard library.
#pragma once

#include <string>
#include <vector>

struct SCommandLine {
    bool bHelp = false;
    bool bVersion = false;
    bool bHeadless = false;
    // Both modes.
    std::string strPlugin;  // --plugin PATH
    // --virtual-camera: list the virtual camera instead of the real devices,
    // as PELORA_CAPTURE=virtual does (main sets that before any camera set-up).
    bool bVirtualCamera = false;
    // The window.
    bool bPlay = false;  // --play: press Play once the file's dialog is shown
    // Headless.
    bool bNoPlugin = false;
    bool bEveryFrame = false;
    bool bCanvas = false;
    std::string strCsv;
    bool bSaveFrame = false;
    long lSaveFrame = 0;
    std::string strSavePath;
    // Headless camera runs (--camera): camera device 0 instead of FILE.
    bool bCamera = false;
    long lFrames = 300;  // --frames N: new camera frames to process
    bool bFramesGiven = false;
    double dSeconds = 0.0;      // --seconds S: run time instead of a frame count (0: not given)
    bool bQuietCamera = false;  // --quiet-camera: the camera library prints nothing

    std::vector<std::string> files;        // the operands (at most one is accepted)
    std::vector<std::string> toolkitArgs;  // single-dash arguments for the GUI toolkit, in order
    std::string strError;                  // not empty: the command line is bad (say it, exit 2)
};

// Parses argv[1..argc-1]. Never fails: a bad line sets strError.
SCommandLine ParseCommandLine(int argc, const char* const* argv);

// The text of --help: usage of both modes and every option (ends in '\n').
std::string CommandLineHelp();
// The text of --version (ends in '\n').
std::string CommandLineVersion();

// The one line said when the window cannot be shown for want of a display,
// or "" when a display can be expected. getEnv reads the environment;
// toolkitArgs may name a platform ("-platform offscreen"). x11Answers, when
// given, is asked whether the X display that DISPLAY names answers (the
// toolkit aborts on one that does not).
std::string NoDisplayMessage(const std::vector<std::string>& toolkitArgs,
                             const char* (*getEnv)(const char*),
                             bool (*x11Answers)(const char*) = nullptr);
