// tests/processing: CFakeFileGraph, a file graph without files for the
// worker and dialog tests.
//
// It behaves as the real graph does towards the worker: positions in frames
// (an "AVI") or in 100-ns media time (an "MP4"); SetPositions flushes and
// restarts a running graph; Run renders the frames from the current position
// on its own streaming thread at their presentation times (scaled by a speed
// factor); a stop equal to the start still renders that one frame; the
// current position is the media time of the last rendered frame and the
// stop position after the end. Each frame is the frame-numbered pattern of
// tools/frame_pattern.h, so a test can read back which frame it got.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "processing/file_graph.h"

// Frame nIndex's pattern as a bottom-up 24-bit frame with padded rows.
void DrawBottomUpPattern(BYTE* pDest, int nWidth, int nHeight, int nIndex);

struct SFakeClip {
    int nFrames = 30;
    int nWidth = 64;
    int nHeight = 48;
    REFERENCE_TIME rtFrame = 333333;  // frame duration as the renderer reports it
    bool bFrameFormat = true;         // offers TIME_FORMAT_FRAME (an AVI)
    double dSpeed = 1.0;              // playback speed: 2 = twice real time
    // When set: the true rate nFpsNum / nFpsDen; frame n then starts at
    // n * 1e7 * den / num rounded to 100 ns, as a container stores it, while
    // the renderer's duration (rtFrame) is rounded on its own.
    int nFpsNum = 0;
    int nFpsDen = 1;
    bool bFailOpen = false;           // RenderFile fails
};

class CFakeFileGraph : public IFileGraph {
public:
    explicit CFakeFileGraph(const SFakeClip& clip);
    ~CFakeFileGraph() override;

    // What every CFakeFileGraph made by Factory() plays; tests set it before
    // creating a dialog or worker.
    static void SetClip(const SFakeClip& clip);
    static std::unique_ptr<IFileGraph> Factory(void* hwndOwner);
    // Graphs alive right now (made by Factory and not yet destroyed).
    static int LiveCount();

    HRESULT Open(const std::string& strPath, EOpenStep* pFailedStep) override;
    BITMAPINFO RendererFormat() const override;
    REFERENCE_TIME RendererFrameDuration() const override { return m_clip.rtFrame; }
    HRESULT IsFormatSupported(const GUID* pFormat) override;
    HRESULT SetTimeFormat(const GUID* pFormat) override;
    HRESULT GetDuration(LONGLONG* pDuration) override;
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                         DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    HRESULT Run() override;
    HRESULT Stop() override;
    HRESULT WaitForCompletion(LONG msTimeout, LONG* pEvCode) override;
    LONG GrabLatestFrame(BYTE* pDest, LONG cbDest) override;

private:
    void Stream();
    LONGLONG FrameTime(int nFrame) const;  // in the time format in use
    int FrameAt(LONGLONG llPos) const;

    const SFakeClip m_clip;
    bool m_bFrameFormat = false;  // the time format in use is frames

    std::mutex m_mx;  // guards everything below
    std::condition_variable m_cv;
    LONGLONG m_llStart = 0, m_llStop = 0;
    LONGLONG m_llCurrent = 0;
    uint64_t m_nSegment = 0;  // bumped by every SetPositions
    bool m_bRunning = false;
    bool m_bComplete = false;
    bool m_bQuit = false;
    int m_nLatestFrame = -1;
    std::thread m_thread;
};
