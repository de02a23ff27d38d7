// clipgen: writes a clip whose every frame shows its own index
// (tools/frame_pattern.h). Used by the run script for its demo clip, and by
// hand to make test material.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/parseutils.h>
}

#include "tools/clip_writer.h"

namespace {

void PrintUsage(FILE* f) {
    std::fprintf(f,
                 "usage: clipgen --out FILE --format FORMAT --size WxH --frames N --fps RATE\n"
                 "               [--gop G] [--bitrate BITS] [--first-index N] [--bframes B]\n"
                 "  FORMAT   avi-mpeg4 | avi-mjpeg | avi-raw | avi-h264 | mp4-h264 | asf-wmv2\n"
                 "  WxH      frame size, from 32x20 up to 8192x8192 (asf-wmv2: even sizes)\n"
                 "  N        number of frames (at least 1)\n"
                 "  RATE     frames per second: 30, 29.97, 30000/1001, ...\n"
                 "  G        keyframe interval in frames (default: the encoder's)\n"
                 "  BITS     bit rate in bits per second, k and M suffixes allowed\n"
                 "           (default: a fixed quality that keeps the pattern clean)\n"
                 "  --first-index N   index shown by the first frame (default 0)\n"
                 "  --bframes B       B-frames between reference frames, 0 to 16 (avi-mpeg4,\n"
                 "                    avi-h264, mp4-h264; default: the encoder's, none for\n"
                 "                    MPEG-4, 3 for H.264)\n");
}

int Fail(const std::string& strMessage) {
    std::fprintf(stderr, "clipgen: %s\n", strMessage.c_str());
    std::fprintf(stderr, "Try 'clipgen --help'.\n");
    return 2;
}

// Whole decimal number in [nMin, nMax], nothing else in the text.
bool ParseInt(const char* psz, long long nMin, long long nMax, long long* pValue) {
    if (!psz || !*psz) return false;
    char* pEnd = nullptr;
    errno = 0;
    const long long v = std::strtoll(psz, &pEnd, 10);
    if (errno || *pEnd || v < nMin || v > nMax) return false;
    *pValue = v;
    return true;
}

bool ParseBitRate(const char* psz, long long* pValue) {
    std::string s = psz ? psz : "";
    long long nScale = 1;
    if (!s.empty() && (s.back() == 'k' || s.back() == 'K')) nScale = 1000;
    if (!s.empty() && s.back() == 'M') nScale = 1000000;
    if (nScale != 1) s.pop_back();
    long long v = 0;
    if (!ParseInt(s.c_str(), 1, 1000000000000LL / nScale, &v)) return false;
    *pValue = v * nScale;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);  // the encoders' progress lines are noise here
    SClipParams params;
    std::string strOut;
    bool bFormat = false, bSize = false, bFrames = false, bFps = false;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "--help" || strArg == "-h") {
            PrintUsage(stdout);
            return 0;
        }
        if (i + 1 >= argc) return Fail("option " + strArg + " needs a value");
        const char* pszValue = argv[++i];
        long long v = 0;
        if (strArg == "--out") {
            strOut = pszValue;
        } else if (strArg == "--format") {
            if (!ParseClipFormat(pszValue, &params.eFormat)) {
                return Fail(std::string("unknown format '") + pszValue + "'");
            }
            bFormat = true;
        } else if (strArg == "--size") {
            int w = 0, h = 0;
            char chX = 0, chExtra = 0;
            if (std::sscanf(pszValue, "%d%c%d%c", &w, &chX, &h, &chExtra) != 3 ||
                (chX != 'x' && chX != 'X')) {
                return Fail(std::string("size '") + pszValue + "' is not WxH");
            }
            params.nWidth = w;
            params.nHeight = h;
            bSize = true;
        } else if (strArg == "--frames") {
            if (!ParseInt(pszValue, 1, 10000000, &v)) {
                return Fail(std::string("frame count '") + pszValue + "' is not a number from 1");
            }
            params.nFrames = static_cast<int>(v);
            bFrames = true;
        } else if (strArg == "--fps") {
            AVRational rate{0, 1};
            if (av_parse_video_rate(&rate, pszValue) < 0) {
                return Fail(std::string("frame rate '") + pszValue + "' is not a rate");
            }
            params.nFpsNum = rate.num;
            params.nFpsDen = rate.den;
            bFps = true;
        } else if (strArg == "--gop") {
            if (!ParseInt(pszValue, 1, 100000, &v)) {
                return Fail(std::string("GOP size '") + pszValue + "' is not a number from 1");
            }
            params.nGop = static_cast<int>(v);
        } else if (strArg == "--bitrate") {
            if (!ParseBitRate(pszValue, &v)) {
                return Fail(std::string("bit rate '") + pszValue + "' is not a positive number");
            }
            params.llBitRate = v;
        } else if (strArg == "--first-index") {
            if (!ParseInt(pszValue, 0, 65535, &v)) {
                return Fail(std::string("first index '") + pszValue + "' is not from 0 to 65535");
            }
            params.nFirstIndex = static_cast<int>(v);
        } else if (strArg == "--bframes") {
            if (!ParseInt(pszValue, 0, 16, &v)) {
                return Fail(std::string("B-frame count '") + pszValue + "' is not from 0 to 16");
            }
            params.nBFrames = static_cast<int>(v);
        } else {
            return Fail("unknown option " + strArg);
        }
    }
    if (strOut.empty()) return Fail("--out FILE is missing");
    if (!bFormat) return Fail("--format is missing");
    if (!bSize) return Fail("--size is missing");
    if (!bFrames) return Fail("--frames is missing");
    if (!bFps) return Fail("--fps is missing");
    if (std::string strBad = CheckClipParams(params); !strBad.empty()) return Fail(strBad);

    if (std::string strErr = WriteClip(strOut, params); !strErr.empty()) {
        std::fprintf(stderr, "clipgen: %s: %s\n", strOut.c_str(), strErr.c_str());
        return 1;
    }
    std::printf("clipgen: wrote %s (%s, %dx%d, %d frames at %d/%d fps)\n", strOut.c_str(),
                ClipFormatName(params.eFormat), params.nWidth, params.nHeight, params.nFrames,
                params.nFpsNum, params.nFpsDen);
    return 0;
}
