// tools: writes short video clips whose frames show their own index
// (tools/frame_pattern.h), for tests, benchmarks and the demo clip.
//
// Built on libavformat/libavcodec/libswscale. Each call is independent and
// may run on any thread; FFmpeg's encoders run their own threads inside a
// call and are gone when it returns. May include: the C++ standard library
// and FFmpeg. No Qt.
#pragma once

#include <cstdint>
#include <string>

enum class EClipFormat {
    AviMpeg4,  // "avi-mpeg4": AVI, MPEG-4 part 2, yuv420p
    AviMjpeg,  // "avi-mjpeg": AVI, Motion JPEG, full-range yuv420p
    AviRaw,    // "avi-raw":   AVI, uncompressed bgr24 (BI_RGB)
    Mp4H264,   // "mp4-h264":  MP4, H.264 by libx264 (yuv420p; yuv444p for odd sizes)
    AsfWmv2,   // "asf-wmv2":  ASF, Windows Media Video 8 (even sizes only)
    AviH264,   // "avi-h264":  AVI, H.264 by libx264 (as mp4-h264; packets carry no presentation
               // time)
};

struct SClipParams {
    EClipFormat eFormat = EClipFormat::AviMpeg4;
    int nWidth = 640;
    int nHeight = 480;
    int nFrames = 150;
    int nFpsNum = 30;  // frame rate nFpsNum / nFpsDen frames per second
    int nFpsDen = 1;
    int nGop = 0;           // keyframe interval in frames; 0 = the encoder's default
    int64_t llBitRate = 0;  // bits per second; 0 = a fixed quality that keeps the pattern clean
    int nFirstIndex = 0;    // index shown by the first frame
    // B-frames between reference frames (MPEG-4 and H.264 only); -1 = the
    // encoder's default (none for MPEG-4, the preset's 3 for H.264). In AVI
    // such a stream's packets carry no presentation time, and the decoder
    // hands out its last pictures only when drained at the end of the file.
    int nBFrames = -1;
    // From this frame on every frame lasts twice as long (a variable frame
    // rate; MP4 only, where each frame keeps its own time). 0 = constant rate.
    int nSlowFrom = 0;
};

// The command-line name of a format ("avi-mpeg4", ...) and back.
const char* ClipFormatName(EClipFormat eFormat);
bool ParseClipFormat(const std::string& strName, EClipFormat* pFormat);
// The file extension that suits a format (".avi", ".mp4", ".asf").
const char* ClipFormatExtension(EClipFormat eFormat);

// Checks a clip description without writing anything: "" when it can be written, else a
// message saying what is wrong (size, frame count, rate, odd size for WMV2...).
std::string CheckClipParams(const SClipParams& params);

// Writes the clip to strPath (replacing it). Returns "" on success, else an
// error message; a partly written file may remain after a failure.
std::string WriteClip(const std::string& strPath, const SClipParams& params);
