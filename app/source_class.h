// app: how a source request is classified: the one table that decides what
// a file or device name becomes (a file dialog with a seek mode, the camera,
// or the MPEG refusal). The video command (CPeloraDoc::OpenSource) and the
// headless runner both go by it, so a file is grabbed the same way in both.
//
// Plain C++ (no Qt): the headless runner uses it as it is.
// May include: the C++ standard library, app/resource.h.
#pragma once

#include <string>

// How OpenSource classifies a request.
enum class ESourceClass { UsbCamera, VideoForWindows, Ni100U, AviFile, MpegFile, Mp4File };

// The classification table: exact, case-sensitive comparisons. extension is
// the file's extension without the dot, or "none" for a device name. MP4 and
// mp4 are MP4 files; MPG, mpg, MPEG and mpeg are refused MPEG files; every
// other extension (ASF, and mixed-case forms such as Mp4 or Avi) is an AVI
// file.
ESourceClass ClassifySource(const std::string& name, const std::string& extension);

// Source kinds and seek modes written into a processing dialog.
constexpr int kSourceKindNone = 0;
constexpr int kSourceKindFile = 1;
constexpr int kSourceKindUsbCamera = 2;
constexpr int kSourceKindVfw = 3;
constexpr int kSourceKindNi100U = 4;
constexpr int kSeekModeNone = 0;
constexpr int kSeekModeStop = 1;  // AVI and every other file but MP4
constexpr int kSeekModePoll = 3;  // MP4

// The seek mode of a class: kSeekModePoll for MP4 files, kSeekModeStop for
// AVI files, kSeekModeNone for the rest (devices, refused MPEG files).
int SeekModeOf(ESourceClass eClass);

// The extension OpenSource is given for a path: the text after the last dot
// of the file name, without the dot ("" when there is none).
std::string FileExtension(const std::string& path);
