// processing: the kinds shared by the processing dialog, its worker and the
// commands that open a source.
//
// May include: the C++ standard library and platform/win. No Qt.
#pragma once

#include "platform/win/win_types.h"

// What a processing dialog shows.
enum SourceKind : LONG {
    SOURCE_NONE = 0,    // no source (nothing is acquired)
    SOURCE_FILE = 1,    // video file played through a file graph
    SOURCE_CAMERA = 2,  // USB camera "VIDEO_IN": device 0 of the capture library
    SOURCE_VFW = 3,     // device name "VideoForWindows": no source
    SOURCE_NI100U = 4,  // device name "NI-100U": no source
    SOURCE_STILL = 5,   // a still image held in memory, processed every pass
};

// How a file frame is grabbed.
enum SeekMode : LONG {
    SEEK_NONE = 0,        // not a file
    SEEK_COMPLETION = 1,  // stop = position, wait for the graph to complete
    SEEK_POLL = 3,        // stop = position + 10000, poll until current = stop (MP4)
};
