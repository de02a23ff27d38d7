// pelora: the program's entry point.
//
//   pelora --headless [OPTION]... FILE   the headless runner (app/headless_runner.h)
//   pelora --headless --camera [OPTION]... the headless camera runner
//                                        (app/headless_camera_runner.h)
//   pelora [OPTION]... [FILE]            the GUI (app/pelora_app.h): the main window, and
//                                        FILE opened as the video command opens one
//
// The command line is read before any GUI toolkit exists (app/command_line.h),
// so --help, --version, a bad option and a missing display are answered
// without one: help and version on standard output (exit 0), the rest on
// standard error (exit 2).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_line.h"
#include "app/display_probe.h"
#include "app/headless_camera_runner.h"
#include "app/headless_runner.h"
#include "app/pelora_app.h"
#include "app/verify_runner.h"
#include "mediagraph/media_classes.h"
#include "platform/win/virtual_memory.h"

int main(int argc, char** argv) {
    KeepFreedBlocksForReuse();
    // The frame exactness check reads its own options (app/verify_runner.h).
    if (argc > 1 && std::string(argv[1]) == "--headless" && IsVerifyCommand(argc, argv)) {
        RegisterMediaClasses();
        return RunVerify(argc, argv);
    }
    const SCommandLine line = ParseCommandLine(argc, argv);
    if (line.bHelp) {
        std::fputs(CommandLineHelp().c_str(), stdout);
        return 0;
    }
    if (line.bVersion) {
        std::fputs(CommandLineVersion().c_str(), stdout);
        return 0;
    }
    if (!line.strError.empty()) {
        std::fprintf(stderr, "pelora: %s\nTry 'pelora --help' for more information.\n",
                     line.strError.c_str());
        return 2;
    }
    // --virtual-camera is PELORA_CAPTURE=virtual, set before anything lists
    // the devices (the catalogue reads it once, at the first listing).
    if (line.bVirtualCamera) setenv("PELORA_CAPTURE", "virtual", 1);
    // Every media object is made by class id from here on.
    RegisterMediaClasses();
    if (line.bHeadless && line.bCamera) return RunHeadlessCamera(line);
    if (line.bHeadless) return RunHeadless(line);
    const std::string strNoDisplay = NoDisplayMessage(
        line.toolkitArgs, [](const char* pszName) -> const char* { return std::getenv(pszName); },
        &XDisplayAnswers);
    if (!strNoDisplay.empty()) {
        std::fprintf(stderr, "%s\n", strNoDisplay.c_str());
        return 2;
    }
    return RunGui(line, argv[0]);
}
