// tests/processing: CFakeFileGraph, a file graph without files for the worker
// and dialog tests. Towards the worker it behaves as the real graph does:
// positions in frames (an "AVI") or 100-ns media time (an "MP4"); SetPositions
// flushes and restarts a running graph; Run renders from the current position
// at the frames' presentation times (scaled by dSpeed; each call catches up
// with the clock, so no thread of its own); a stop equal to the start still
// renders that frame; the current position is the last rendered frame's time,
// the stop position after the end; a stop past the end reads back as the end. Each frame is the
// frame-numbered pattern of tools/frame_pattern.h.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

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
    int nNeverSeekTo = -1;   // a segment starting at this frame never renders nor completes
    int nDecodable = -1;     // when set, the stream ends after this many of its nFrames
};

class CFakeFileGraph : public IFileGraph {
public:
    explicit CFakeFileGraph(const SFakeClip& clip) : m_clip(clip) {}

    // Factory() makes graphs playing the clip last set here.
    static void SetClip(const SFakeClip& clip);
    static std::unique_ptr<IFileGraph> Factory(void* hwndOwner);
    // SetPositions calls whose start is the clip's nNeverSeekTo frame, in
    // every graph since the last SetClip.
    static int SeeksToNeverFrame();
    // New start positions asked of the graphs made since the last SetClip.
    static int SeekRequests();

    HRESULT Open(const std::string& strPath, EOpenStep* pFailedStep) override;
    BITMAPINFO RendererFormat() const override;
    REFERENCE_TIME RendererFrameDuration() const override { return m_clip.rtFrame; }
    HRESULT IsFormatSupported(const GUID* pFormat) override;
    HRESULT SetTimeFormat(const GUID* pFormat) override;
    HRESULT GetDuration(LONGLONG* pDuration) override;
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                         DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    // Picture numbers to media time only (the clip's rate is constant).
    HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                              const GUID* pSourceFormat) override;
    HRESULT Run() override;
    HRESULT Stop() override;
    HRESULT WaitForCompletion(LONG msTimeout, LONG* pEvCode) override;
    LONG GrabLatestFrame(BYTE* pDest, LONG cbDest, LONGLONG* pllPosition) override;
    // Frame by frame the clock is off: nothing renders until TakeFrame
    // takes the next frame of the segment.
    HRESULT SetFrameByFrame(bool bFrameByFrame) override;
    HRESULT WaitForRenderedFrame(LONG msTimeout) override;
    HRESULT TakeFrame(BYTE* pDest, LONG cbDest, LONG msTimeout, LONG* pcbCopied) override;

private:
    void Restart();  // m_mx held
    void Advance();  // m_mx held: renders the frames that have become due
    // m_mx held: the end of the segment comes before frame nFrame.
    bool EndsBefore(int nFrame) const;
    LONG DrawFrame(int nFrame, BYTE* pDest, LONG cbDest) const;
    LONGLONG Duration() const { return m_clip.rtFrame > 0 ? m_clip.rtFrame : 333333; }
    LONGLONG FrameTime(int nFrame) const;  // in the time format in use
    int FrameAt(LONGLONG llPos) const;

    const SFakeClip m_clip;
    bool m_bFrameFormat = false;  // the time format in use is frames

    std::mutex m_mx;  // guards everything below
    LONGLONG m_llStart = 0, m_llStop = 0, m_llCurrent = 0;
    bool m_bRunning = false, m_bComplete = false;
    std::chrono::steady_clock::time_point m_tStart;  // when the segment started playing
    int m_nFirst = 0, m_nNext = 0;                   // its first frame, the next to render
    int m_nLatestFrame = -1;
    int m_nSeenFrame = -1;  // the latest frame WaitForRenderedFrame saw
    bool m_bFrameByFrame = false;
};
