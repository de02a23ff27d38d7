#include "app/command_line.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifndef PELORA_VERSION
#define PELORA_VERSION "0.0.2"
#endif

namespace {

enum EModes : unsigned { kGui = 1, kHeadless = 2, kBoth = kGui | kHeadless };

struct SOption {
    const char* pszName;
    int nValues;
    unsigned modes;
    const char* pszValues;  // for the help text
    const char* pszHelp;
};

constexpr SOption kOptions[] = {
    {"--headless", 0, kBoth, "",
     "no window: run FILE and print the timing lines on standard output"},
    {"--plugin", 1, kBoth, "PATH", "use this plug-in instead of Tavro.so"},
    {"--virtual-camera", 0, kBoth, "",
     "list the virtual camera instead of real devices (as PELORA_CAPTURE=virtual)"},
    {"--help", 0, kBoth, "", "show this help and exit"},
    {"--version", 0, kBoth, "", "show the version and exit"},
    {"--play", 0, kGui, "", "press Play once the dialog of FILE is shown"},
    {"--no-plugin", 0, kHeadless, "", "show frames unprocessed"},
    {"--every-frame", 0, kHeadless, "",
     "process every frame in order, none skipped and none waiting for its time"},
    {"--csv", 1, kHeadless, "PATH",
     "one row per processed frame: frame index, plug-in ms, interval ms"},
    {"--save-frame", 2, kHeadless, "N PATH",
     "grab the N-th picture (from 0, in presentation order), process it, write a 24-bit BMP, exit"},
    {"--canvas", 0, kHeadless, "",
     "a CSV grid with an origin other than (0, 0) goes on the 512x480 canvas"},
    {"--camera", 0, kHeadless, "",
     "no FILE: process camera device 0 as its dialog does (every camera opened at 640x480),\n"
     "print the timing line of each pass with a new camera frame, then a summary"},
    {"--frames", 1, kHeadless, "N", "with --camera: stop after N new camera frames (default 300)"},
    {"--seconds", 1, kHeadless, "S", "with --camera: stop after S seconds instead"},
    {"--quiet-camera", 0, kHeadless, "",
     "with --camera: silence the camera library's own lines (else on standard error)"},
    {"--verify", 0, kHeadless, "",
     "check that every frame reached by seeking is the frame asked (exit 3 on a mismatch)"},
    {"--sample", 1, kHeadless, "N",
     "with --verify: random frames checked in files over 2,000 frames (default 500)"},
    {"--seed", 1, kHeadless, "S",
     "with --verify: the seed of the random choice of frames (default: a new one)"},
};

// The toolkit's own options that take a value ("-platform offscreen").
constexpr const char* kToolkitValueOptions[] = {
    "-platform",        "-platformpluginpath", "-platformtheme", "-plugin",
    "-qwindowgeometry", "-qwindowicon",        "-qwindowtitle",  "-session",
    "-style",           "-stylesheet",         "-display",       "-geometry",
};

const SOption* FindOption(const std::string& strName) {
    for (const SOption& opt : kOptions)
        if (strName == opt.pszName) return &opt;
    return nullptr;
}

bool TakesToolkitValue(const std::string& strArg) {
    for (const char* psz : kToolkitValueOptions)
        if (strArg == psz) return true;
    return false;
}

bool ParseFrameNumber(const std::string& str, long* pl) {
    if (str.empty()) return false;
    char* pEnd = nullptr;
    errno = 0;
    const long l = std::strtol(str.c_str(), &pEnd, 10);
    if (*pEnd != '\0' || errno != 0 || l < 0 || l > 0x7FFFFFFF || str[0] == '+' || str[0] == ' ')
        return false;
    *pl = l;
    return true;
}

// Stores the option's values. Returns what is wrong with them, or "".
std::string Apply(const SOption& opt, const std::vector<std::string>& values, SCommandLine* pLine) {
    const std::string strName = opt.pszName;
    if (strName == "--headless")
        pLine->bHeadless = true;
    else if (strName == "--plugin")
        pLine->strPlugin = values[0];
    else if (strName == "--help")
        pLine->bHelp = true;
    else if (strName == "--version")
        pLine->bVersion = true;
    else if (strName == "--play")
        pLine->bPlay = true;
    else if (strName == "--no-plugin")
        pLine->bNoPlugin = true;
    else if (strName == "--every-frame")
        pLine->bEveryFrame = true;
    else if (strName == "--csv")
        pLine->strCsv = values[0];
    else if (strName == "--canvas")
        pLine->bCanvas = true;
    else if (strName == "--virtual-camera")
        pLine->bVirtualCamera = true;
    else if (strName == "--camera")
        pLine->bCamera = true;
    else if (strName == "--quiet-camera")
        pLine->bQuietCamera = true;
    else if (strName == "--frames") {
        if (!ParseFrameNumber(values[0], &pLine->lFrames) || pLine->lFrames == 0)
            return "--frames: not a positive frame count: " + values[0];
        pLine->bFramesGiven = true;
    } else if (strName == "--seconds") {
        char* pEnd = nullptr;
        errno = 0;
        const double d = std::strtod(values[0].c_str(), &pEnd);
        // At most a day: a typo, not a benchmark, asks for more.
        if (values[0].empty() || *pEnd != '\0' || errno != 0 || !(d > 0.0) || d > 86400.0)
            return "--seconds: not a positive number of seconds: " + values[0];
        pLine->dSeconds = d;
    } else if (strName == "--save-frame") {
        if (!ParseFrameNumber(values[0], &pLine->lSaveFrame))
            return "--save-frame: not a frame number: " + values[0];
        pLine->bSaveFrame = true;
        pLine->strSavePath = values[1];
    }
    return std::string();
}

void SetError(SCommandLine* pLine, const std::string& strError) {
    if (pLine->strError.empty()) pLine->strError = strError;  // the first one is said
}

bool StartsWith(const std::string& s, const char* pszPrefix) {
    return s.compare(0, std::strlen(pszPrefix), pszPrefix) == 0;
}

}  // namespace

SCommandLine ParseCommandLine(int argc, const char* const* argv) {
    SCommandLine line;
    std::vector<const SOption*> used;
    bool bOptionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (!bOptionsEnded && strArg == "--") {
            bOptionsEnded = true;
        } else if (!bOptionsEnded && StartsWith(strArg, "--")) {
            const size_t nEq = strArg.find('=');
            const std::string strName = strArg.substr(0, nEq);
            const SOption* pOpt = FindOption(strName);
            if (pOpt == nullptr) {
                SetError(&line, "unknown option " + strName);
                continue;
            }
            std::vector<std::string> values;
            if (nEq != std::string::npos) {
                if (pOpt->nValues == 0) {
                    SetError(&line, strName + " takes no value");
                    continue;
                }
                values.push_back(strArg.substr(nEq + 1));
            }
            while (static_cast<int>(values.size()) < pOpt->nValues && i + 1 < argc)
                values.push_back(argv[++i]);
            if (static_cast<int>(values.size()) < pOpt->nValues) {
                SetError(&line, strName + " needs " + pOpt->pszValues);
                continue;
            }
            const std::string strBad = Apply(*pOpt, values, &line);
            if (!strBad.empty()) {
                SetError(&line, strBad);
                continue;
            }
            used.push_back(pOpt);
        } else if (!bOptionsEnded && strArg.size() > 1 && strArg[0] == '-') {
            line.toolkitArgs.push_back(strArg);
            if (TakesToolkitValue(strArg) && i + 1 < argc) line.toolkitArgs.push_back(argv[++i]);
        } else {
            line.files.push_back(strArg);
        }
    }

    const unsigned mode = line.bHeadless ? kHeadless : kGui;
    for (const SOption* pOpt : used) {
        if ((pOpt->modes & mode) != 0) continue;
        SetError(&line,
                 std::string(pOpt->pszName) +
                     (line.bHeadless ? " is for the window, not --headless" : " needs --headless"));
    }
    if (line.bHeadless && !line.toolkitArgs.empty())
        SetError(&line, "unknown option " + line.toolkitArgs[0]);
    if (line.files.size() > 1) SetError(&line, "more than one file given");
    if (line.bHeadless && line.files.empty() && !line.bCamera) SetError(&line, "no file given");
    if (line.bCamera) {
        if (!line.files.empty()) SetError(&line, "--camera takes no FILE");
        if (line.bEveryFrame || line.bCanvas)
            SetError(&line, "--every-frame and --canvas are for files, not --camera");
        if (line.bFramesGiven && line.dSeconds > 0.0)
            SetError(&line, "--frames and --seconds exclude each other");
    } else if (line.bFramesGiven || line.dSeconds > 0.0 || line.bQuietCamera) {
        SetError(&line, "--frames, --seconds and --quiet-camera need --camera");
    }
    if (line.bNoPlugin && !line.strPlugin.empty())
        SetError(&line, "--plugin and --no-plugin exclude each other");
    return line;
}

std::string CommandLineHelp() {
    std::string str =
        "Usage: pelora [OPTION]... [FILE]\n"
        "       pelora --headless [OPTION]... FILE\n"
        "       pelora --headless --camera [OPTION]...\n"
        "Times a processing plug-in (Tavro.so) on every frame of a video or a still image.\n"
        "The window opens FILE as File > 映像ファイルを開く does; --headless runs it without a\n"
        "window and prints the lines the window would show.\n";
    const struct {
        unsigned modes;
        const char* pszTitle;
    } groups[] = {{kBoth, "Options of both modes"},
                  {kGui, "The window only"},
                  {kHeadless, "--headless only"}};
    for (const auto& group : groups) {
        str += std::string("\n") + group.pszTitle + ":\n";
        for (const SOption& opt : kOptions) {
            if (opt.modes != group.modes) continue;
            std::string strUsage = std::string("  ") + opt.pszName;
            if (opt.nValues == 1) strUsage += std::string("=") + opt.pszValues;
            if (opt.nValues == 2) strUsage += std::string(" ") + opt.pszValues;
            if (strUsage.size() <= 20)
                strUsage.resize(22, ' ');
            else
                strUsage += "\n" + std::string(22, ' ');
            // Help texts of two lines keep the column.
            std::string strHelp = opt.pszHelp;
            for (size_t n = strHelp.find('\n'); n != std::string::npos;
                 n = strHelp.find('\n', n + 1))
                strHelp.insert(n + 1, std::string(22, ' '));
            str += strUsage + strHelp + "\n";
        }
    }
    str +=
        "\nLong options take their value as --opt=VALUE or --opt VALUE; -- ends the options.\n"
        "Single-dash arguments (-platform NAME, -style NAME, ...) go to the GUI toolkit.\n"
        "\nFILE with --headless: a still image when its extension is BMP, bmp, CSV or csv;\n"
        "otherwise a video, classified exactly as the window's video command classifies it\n"
        "(case-sensitive, nothing added): MP4 and mp4 are grabbed by media time, polling\n"
        "until the frame is there; every other extension (AVI, ASF, Mp4, none, ...) is\n"
        "grabbed by waiting for each seek to complete; MPG, mpg, MPEG and mpeg are refused.\n"
        "\n--camera: every camera is opened at 640x480 as the window's start-up opens them,\n"
        "Play (開始) is pressed at once and device 0 is polled without pause as its dialog\n"
        "polls it. --csv writes one row per pass (new camera frame or not), --save-frame N\n"
        "writes the N-th new camera frame (from 0). The camera library's own lines go to\n"
        "standard error. Without a camera the run exits 1.\n"
        "\nExit status: 0 done, 1 the file could not be opened or written (or no camera),\n"
        "2 a bad command line, or no display for the window.\n";
    return str;
}

std::string CommandLineVersion() { return std::string("pelora ") + PELORA_VERSION + "\n"; }

std::string NoDisplayMessage(const std::vector<std::string>& toolkitArgs,
                             const char* (*getEnv)(const char*), bool (*x11Answers)(const char*)) {
    auto env = [&](const char* pszName) {
        const char* psz = getEnv(pszName);
        return std::string(psz ? psz : "");
    };
    std::string strPlatforms = env("QT_QPA_PLATFORM");
    for (size_t i = 0; i + 1 < toolkitArgs.size(); ++i)
        if (toolkitArgs[i] == "-platform") strPlatforms = toolkitArgs[i + 1];
    const std::string strDisplay = env("DISPLAY");
    const bool bWayland = !env("WAYLAND_DISPLAY").empty();
    // The X server is asked only when nothing else could be used instead.
    bool bSilentX11 = false;
    auto x11Usable = [&] {
        if (strDisplay.empty()) return false;
        if (x11Answers && !bWayland && !x11Answers(strDisplay.c_str())) {
            bSilentX11 = true;
            return false;
        }
        return true;
    };
    if (strPlatforms.empty()) {
        if (bWayland || x11Usable()) return std::string();
    } else {
        // "wayland;xcb" tries each in turn; "xcb:option" carries options.
        size_t nStart = 0;
        while (true) {
            const size_t nEnd = strPlatforms.find(';', nStart);
            const std::string strEntry = strPlatforms.substr(nStart, nEnd - nStart);
            const std::string strName = strEntry.substr(0, strEntry.find(':'));
            const bool bUsable = strName == "xcb"       ? x11Usable()
                                 : strName == "wayland" ? bWayland
                                                        : true;
            if (bUsable) return std::string();
            if (nEnd == std::string::npos) break;
            nStart = nEnd + 1;
        }
    }
    const std::string strWhy = bSilentX11 ? "the X display " + strDisplay + " does not answer"
                                          : std::string("DISPLAY is not set");
    return "pelora: no display to open the window on (" + strWhy +
           "); run without a window with 'pelora --headless FILE' (see 'pelora --help')";
}
