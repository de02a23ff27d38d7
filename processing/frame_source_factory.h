// processing: CreateFrameSource, the one place that picks the worker's frame
// source for a processing dialog's source kind.
//
// Threads: any (the owner's set-up thread).
// May include: the C++ standard library, platform/win, processing core.
// No Qt.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "processing/frame_source.h"
#include "processing/processing_types.h"

class VideoInput;

// What a dialog (or the headless runner) knows about its source.
struct SFrameSourceChoice {
    SourceKind nKind = SOURCE_NONE;
    // SOURCE_FILE: the file and how its frames are sought.
    std::string strPath;
    SeekMode nSeekMode = SEEK_NONE;
    // SOURCE_STILL: the image's format and its bits (copied).
    BITMAPINFO bmiStill{};
    const BYTE* pStillBits = nullptr;
    size_t cbStillBits = 0;
    // SOURCE_CAMERA: the capture library whose device 0 is read (it
    // outlives the source; null: no camera source can be made).
    VideoInput* pVideoInput = nullptr;
};

// The source for the kind; null for kinds that have none (the device names
// VideoForWindows and NI-100U, SOURCE_NONE, a camera without a library).
std::unique_ptr<IFrameSource> CreateFrameSource(const SFrameSourceChoice& choice);
