// processing: IFrameSource, where the frame-processing worker takes its
// frames from: a video file played through a file graph
// (processing/file_frame_source.h), a still image held in memory
// (processing/still_frame_source.h), a camera polled through the capture
// library (processing/camera_frame_source.h). CreateFrameSource
// (processing/frame_source_factory.h) picks one at set-up.
//
// The worker keeps the pass, the playback states, the timing and the window
// calls; a source only delivers frames into the worker's frame buffer. The
// worker never asks which kind of source it has, only whether its frames
// have positions (SFrameTimeline::bSeekable):
// - with positions (a file): the worker acquires the frame at its position
//   on every pass (the source does nothing when that frame is already in the
//   buffer), steps and seeks, and plays the stream to its end;
// - without (a still image; a camera polled on every pass): the position is
//   ignored, every pass acquires whatever frame the source has now (nothing
//   new is fine: the buffer keeps the last one), and the stream calls are
//   never made. A live source (SFrameTimeline::bLive, a camera) gets its
//   next pass at once; the others wait for a request between passes.
//
// Threads: ProbeFormat on the owner's thread before the worker starts; Open,
// the acquire and stream calls and Close on the worker thread (or on the
// thread running CFrameWorker::GrabSingleFrame), one call at a time.
// May include: the C++ standard library, platform/win, processing core.
// No Qt.
#pragma once

#include <string>

#include "platform/win/win_types.h"
#include "processing/run_flag.h"

// What Open learned about the frames' positions.
struct SFrameTimeline {
    // The frames have positions: stepping, the slider, the frame counter and
    // playback to an end of stream apply. The other fields are 0 otherwise.
    bool bSeekable = false;
    // Position units per frame: 1 in frame time format, else the frame
    // duration in 100-ns units. Never 0.
    LONG nFrameStep = 1;
    INT nFrameCount = 0;
    // The end of the stream: the stop position of playback.
    LONGLONG llDuration = 0;
    double dFramesPerSecond = 0.0;

    // Frames come on their own (a camera): without positions, every pass is
    // followed by the next at once, polling the source without sleeping.
    bool bLive = false;

    // A position at or past the end of the stream.
    bool IsEndOfStream(LONGLONG llPos) const { return llPos >= llDuration; }
};

class IFrameSource {
public:
    virtual ~IFrameSource() = default;

    // Owner thread, before the worker starts: the frame format, learned
    // without starting the source (a file is rendered once into a probe
    // graph that never runs). On failure the code, and *pstrMessage is the
    // message the user sees.
    virtual HRESULT ProbeFormat(void* hwndOwner, BITMAPINFO* pbmi, std::string* pstrMessage) = 0;

    // Worker thread: readies the source for acquiring and fills *pTimeline.
    // hwndOwner is the window to invalidate when the source renders a frame
    // on a thread of its own; every wait of the source ends when runFlag
    // reads 0 (the flag outlives the source's use). A failure means no frame
    // can be had: the worker ends without one.
    virtual HRESULT Open(void* hwndOwner, const CRunFlag& runFlag, SFrameTimeline* pTimeline) = 0;

    // The frame at llPos into pDest (cbDest bytes, the format's biSizeImage).
    // S_OK: a frame was copied. S_FALSE: nothing copied, pDest already holds
    // that frame (the position acquired last) or the source has nothing new.
    // A failure (a stop request) copies nothing; the next call tries again.
    // VFW_E_TIMEOUT: a seek that never arrived was given up; the same
    // position then answers S_FALSE until another position is asked for.
    // Sources without positions ignore llPos.
    virtual HRESULT AcquireAt(LONGLONG llPos, BYTE* pDest, DWORD cbDest) = 0;
    // The stream has moved: the next AcquireAt fetches its frame even at the
    // position acquired last.
    virtual void ForgetPosition() = 0;

    // Playback, for sources with positions only. Runs the stream from llFrom
    // to llStop.
    virtual void StartStream(LONGLONG llFrom, LONGLONG llStop) = 0;
    // The running stream's position: the start of the frame rendered last,
    // the stop position once the end has been rendered.
    virtual LONGLONG StreamPosition() = 0;
    // The frame the stream rendered last into pDest (nothing when none yet).
    // *pllPosition (when not null) is set to that frame's position when it
    // has one; it may be ahead of a StreamPosition read just before (the
    // stream does not wait for the reader), and stays as it was otherwise.
    virtual void AcquireLatest(BYTE* pDest, DWORD cbDest, LONGLONG* pllPosition) = 0;
    // The position of picture nPicture (from 0, in presentation order) when
    // it is not the frame-number position (a variable frame rate in media
    // time); false to keep the frame-number position. May read the whole
    // source.
    virtual bool PicturePosition(LONG nPicture, LONGLONG* pllPosition) = 0;
    // Waits up to dwMs (bounded, a slice of the caller's loop) for the
    // running stream to render a frame after the one seen last: S_OK when
    // one came, E_ABORT on time-out. Wakes the playback loop instead of
    // polling the position.
    virtual HRESULT WaitForStreamFrame(DWORD dwMs) = 0;
    // Stops the stream where it is (also when it is not running); a frame
    // stream goes back to the clock.
    virtual void StopStream() = 0;

    // Every frame in order, for sources with positions only: runs the
    // stream from llFrom to llStop without a reference clock, each frame
    // held until TakeNextFrame takes it (the source decodes the next one
    // meanwhile). Ends with StopStream.
    virtual void StartFrameStream(LONGLONG llFrom, LONGLONG llStop) = 0;
    // The frame stream's next frame into pDest (one copy). S_OK: copied;
    // S_FALSE: the stream has ended, every frame was taken; E_ABORT:
    // nothing within dwMs (call again); a failure: no frame came for the
    // source's limit (the stream is stuck) or no frame stream runs.
    virtual HRESULT TakeNextFrame(BYTE* pDest, DWORD cbDest, DWORD dwMs) = 0;

    // Worker thread, the last call: stops and releases what Open made, so
    // that no thread of the source runs afterwards.
    virtual void Close() = 0;

    // When the frame that the last AcquireAt answering S_OK copied was
    // captured, as a performance-counter count; -1 when the source does not
    // know (files, still images).
    virtual LONGLONG LastCaptureCount() const { return -1; }
};
