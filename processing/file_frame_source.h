// processing: CFileFrameSource, a video file as the worker's frame source:
// the worker's own file graph (IFileGraph, processing/file_graph.h: the
// filter graph manager with a grab renderer) into which the file is rendered.
//
// Positions are in the graph's time format: frames when the graph offers
// TIME_FORMAT_FRAME (AVI), else 100-ns media time. A frame is acquired by
// seeking to it and running the graph until that frame has been rendered;
// the seek mode says how the arrival is awaited. Playback runs the graph to
// the end of the stream and takes the renderer's latest frame, waking when
// the renderer signals a rendered frame. A frame stream (every frame) runs
// the graph without a clock and takes each frame from the renderer's
// hand-off; it seeks once, to its start.
//
// Waits: a seek waits for the graph in slices of at most 50 ms that see the
// worker's run flag, and gives up after kSeekTimeoutMs.
// Threads: as IFrameSource (processing/frame_source.h).
// May include: the C++ standard library, platform/*, processing core. No Qt.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "processing/file_graph.h"
#include "processing/frame_source.h"
#include "processing/processing_types.h"

class CFileFrameSource : public IFrameSource {
public:
    // Frame step and rate used when the file reports a frame duration of 0
    // (or one that does not fit 32 bits): 1/30 s.
    static constexpr LONG kFallbackFrameDuration = 333333;
    // How long a seek may take before the acquire is given up (ms).
    static constexpr DWORD kSeekTimeoutMs = 10000;
    // How long a frame stream may go without a frame before it counts as
    // stuck (ms).
    static constexpr DWORD kFrameStreamTimeoutMs = 10000;

    // nSeekMode: SEEK_COMPLETION or SEEK_POLL (see processing_types.h).
    CFileFrameSource(std::string strPath, SeekMode nSeekMode);

    // Renders the file into a probe graph (never run) and takes its
    // renderer's format. COM is initialised on the calling thread for it.
    HRESULT ProbeFormat(void* hwndOwner, BITMAPINFO* pbmi, std::string* pstrMessage) override;
    // Builds the worker's graph: time format (frames when offered), frame
    // step, count, duration and rate.
    HRESULT Open(void* hwndOwner, const CRunFlag& runFlag, SFrameTimeline* pTimeline) override;
    // Seeks and runs the graph until the frame at llPos has been rendered,
    // then copies it. S_FALSE for the position sought last (nothing done).
    // VFW_E_TIMEOUT when the frame did not arrive within kSeekTimeoutMs: the
    // seek is given up, and the same position answers S_FALSE until the
    // position changes.
    HRESULT AcquireAt(LONGLONG llPos, BYTE* pDest, DWORD cbDest) override;
    void ForgetPosition() override { m_llLastSeekPosition = kNoSeek; }
    void StartStream(LONGLONG llFrom, LONGLONG llStop) override;
    LONGLONG StreamPosition() override;
    void AcquireLatest(BYTE* pDest, DWORD cbDest, LONGLONG* pllPosition) override;
    // In media time, from the graph's TIME_FORMAT_SAMPLE conversion (which
    // reads the file's packet times once); in frame format picture n is
    // frame n.
    bool PicturePosition(LONG nPicture, LONGLONG* pllPosition) override;
    HRESULT WaitForStreamFrame(DWORD dwMs) override;
    void StopStream() override;
    void StartFrameStream(LONGLONG llFrom, LONGLONG llStop) override;
    HRESULT TakeNextFrame(BYTE* pDest, DWORD cbDest, DWORD dwMs) override;
    void Close() override;

private:
    // "No position sought yet" for the last-seek memory.
    static constexpr LONGLONG kNoSeek = INT64_MIN;

    HRESULT ProbeFormatInitialised(void* hwndOwner, BITMAPINFO* pbmi, std::string* pstrMessage);
    bool Running() const { return m_pRunFlag != nullptr && m_pRunFlag->IsRunning(); }

    const std::string m_strPath;
    const SeekMode m_nSeekMode;
    // Worker thread only (Open to Close).
    const CRunFlag* m_pRunFlag = nullptr;  // the worker's, borrowed
    std::unique_ptr<IFileGraph> m_pGraph;
    LONGLONG m_llLastSeekPosition = kNoSeek;  // forgotten whenever the graph moved
    bool m_bFrameFormat = false;              // the graph runs in TIME_FORMAT_FRAME
    bool m_bFrameStream = false;              // the graph runs frame by frame
    bool m_bFrameStreamEmpty = false;         // started at its stop: no frame to come
    ULONGLONG m_ullLastFrameTick = 0;         // when the frame stream last gave a frame
};
