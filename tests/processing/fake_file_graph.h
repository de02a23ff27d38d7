// tests/processing: CFakeFileGraph, a file graph without files for the worker
// and dialog tests. Towards the worker it behaves as the real graph does:
// positions in frames (an "AVI") or 100-ns media time (an "MP4"); SetPositions
// flushes and restarts a running graph; Run renders from the current position
// on its own thread at the frames' presentation times (scaled by dSpeed); a
// stop equal to the start still renders that frame; the current position is
// the last rendered frame's time, the stop position after the end. Each frame
// is the frame-numbered pattern of tools/frame_pattern.h.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "processing/file_graph.h"

struct SFakeClip {
    int nFrames = 30;
    int nWidth = 64;
    int nHeight = 48;
    REFERENCE_TIME rtFrame = 333333;  // frame duration as the renderer reports it
    bool bFrameFormat = true;         // offers TIME_FORMAT_FRAME (an AVI)
    double dSpeed = 1.0;              // 2 = twice real time
    // When set, frame n starts at n * 1e7 / nFpsNum rounded to 100 ns, as a
    // container stores it, while rtFrame is rounded on its own.
    int nFpsNum = 0;
    bool bFailOpen = false;  // RenderFile fails
};

class CFakeFileGraph : public IFileGraph {
public:
    explicit CFakeFileGraph(const SFakeClip& clip) : m_clip(clip) {}
    ~CFakeFileGraph() override;

    // Factory() makes graphs playing the clip last set here.
    static void SetClip(const SFakeClip& clip);
    static std::unique_ptr<IFileGraph> Factory(void* hwndOwner);

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
    LONGLONG Duration() const { return m_clip.rtFrame > 0 ? m_clip.rtFrame : 333333; }
    LONGLONG FrameTime(int nFrame) const;  // in the time format in use
    int FrameAt(LONGLONG llPos) const;

    const SFakeClip m_clip;
    bool m_bFrameFormat = false;  // the time format in use is frames

    std::mutex m_mx;  // guards everything below
    std::condition_variable m_cv;
    LONGLONG m_llStart = 0, m_llStop = 0, m_llCurrent = 0;
    uint64_t m_nSegment = 0;  // bumped by every SetPositions and Run
    bool m_bRunning = false, m_bComplete = false, m_bQuit = false;
    int m_nLatestFrame = -1;
    std::thread m_thread;
};
