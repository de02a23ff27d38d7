// processing: the frame exactness check behind `pelora --headless --verify`.
//
// Proves that the frame the worker shows at a position is the frame the
// counter names there. Two passes over one file:
// 1. HashFramesInOrder decodes the whole video stream once, in order, with
//    the file decoder alone (no seeking, no graph), and keeps a 64-bit hash
//    of every frame exactly as the worker's frame buffer receives it
//    (24-bit bottom-up rows, padding included). Frame n is the n-th picture
//    in presentation order.
// 2. RunFrameChecks reaches frames through the worker's own path: the frame
//    source's AcquireAt at the position the worker computes (FrameStartAt for
//    a slider move, position +/- the frame step for "+1Frame"/"-1Frame"),
//    in the time format and seek mode the source set up for the file. The
//    frame asked is the one the counter shows at that position
//    (FrameIndexAt); the frame shown is found by its hash.
//
// PlanFrameChecks picks what to check: every frame of a short file, else a
// random sample plus the first frame, the last ten and the neighbours of
// every keyframe; and from random frames, steps forward and back.
//
// Threads: one caller; RunFrameChecks on the thread that opened the source
// (COM initialised there, as on the worker).
// May include: the C++ standard library, platform/*, processing core. No Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/win/win_types.h"
#include "processing/frame_source.h"

// 64-bit hash of a frame's bytes (FNV-1a over 64-bit words, then the tail).
uint64_t HashFrameBytes(const BYTE* pBits, size_t cb);

// The sequential pass: one hash per frame in presentation order, and the
// frames the decoder marked as keyframes.
struct SReferenceFrames {
    std::vector<uint64_t> hashes;
    std::vector<LONGLONG> keyFrames;

    // The frame with this hash nearest to llNear; -1 when no frame has it.
    LONGLONG FindFrame(uint64_t ullHash, LONGLONG llNear) const;
};

// Decodes strPath from its first frame to its end and hashes every frame as
// cbFrame bytes (the worker's frame size; bytes past the decoder's frame stay
// zero). S_OK; the decoder's failure when the file cannot be opened; S_FALSE
// when the stream ended on a decode error (the frames before it are kept).
HRESULT HashFramesInOrder(const std::string& strPath, DWORD cbFrame, SReferenceFrames* pRef);

// One step of the plan.
enum class EFrameCheckKind {
    Seek,          // the slider moved to frame nFrame
    StepForward,   // "+1Frame" from the previous check's position
    StepBackward,  // "-1Frame" from the previous check's position
};
const char* FrameCheckKindName(EFrameCheckKind eKind);  // "seek", "+1", "-1"

struct SPlannedCheck {
    EFrameCheckKind eKind = EFrameCheckKind::Seek;
    LONG nFrame = 0;  // Seek only
};

struct SVerifyPlanOptions {
    // Files with at most this many frames have every frame checked.
    LONG nFullLimit = 2000;
    // Longer files: this many random frames besides the fixed ones.
    LONG nSample = 500;
    // Random frames from which two steps forward and two back are taken.
    LONG nStepStarts = 50;
    uint64_t ullSeed = 1;
};

// The checks for a file of nFrames frames (keyFrames: frame numbers), in the
// order they are to run: seeks in shuffled order (so that the seeks go
// backward and far as well as a little ahead), each step run straight after
// its seek. Every seek is to a frame in [0, nFrames). Same seed, same plan.
std::vector<SPlannedCheck> PlanFrameChecks(LONG nFrames, const std::vector<LONGLONG>& keyFrames,
                                           const SVerifyPlanOptions& options);

// What one check found.
struct SFrameCheck {
    EFrameCheckKind eKind = EFrameCheckKind::Seek;
    LONGLONG llPosition = 0;   // in the source's time format
    LONGLONG llAsked = 0;      // the frame the counter shows at llPosition
    LONGLONG llShown = -1;     // the frame whose hash was grabbed; -1: no frame has it
    HRESULT hrAcquire = S_OK;  // AcquireAt's answer; a failure grabbed nothing
    bool bMatch = false;
    double dMs = 0.0;  // time of the acquire
};

// Runs the plan on a source opened with timeline (the caller's Open) whose
// frames are cbFrame bytes. pfnProgress (may be empty) is called after each
// check with (done, total).
std::vector<SFrameCheck> RunFrameChecks(IFrameSource& source, const SFrameTimeline& timeline,
                                        DWORD cbFrame, const SReferenceFrames& ref,
                                        const std::vector<SPlannedCheck>& plan,
                                        const std::function<void(size_t, size_t)>& pfnProgress);
