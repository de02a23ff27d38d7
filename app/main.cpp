// pelora: the program's entry point.
//
//   pelora --headless FILE [options]     the headless runner (app/headless_runner.h)
//   pelora [--plugin PATH] [--play] [FILE]
//                                        the GUI (app/pelora_app.h): the main window, and
//                                        FILE opened as the video command opens one
//                                        (--play presses Play once it is shown)
#include <cstring>

#include "app/headless_runner.h"
#include "app/pelora_app.h"
#include "mediagraph/media_classes.h"

int main(int argc, char** argv) {
    // Every media object is made by class id from here on.
    RegisterMediaClasses();
    if (argc > 1 && std::strcmp(argv[1], "--headless") == 0) return RunHeadless(argc, argv);
    return RunGui(argc, argv);
}
