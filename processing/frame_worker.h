// processing: CFrameWorker, the frame-processing worker of one processing
// dialog, and the record it shares with the dialog's controls.
//
// The worker thread (FrameWorkerProc) acquires frames from its frame source
// (IFrameSource, processing/frame_source.h: a video file played through its
// own file graph, a still image held in memory, or a camera), hands each frame to the
// plug-in while playback is on, keeps the window's counter and slider current
// through IFrameWindow, times every step with the performance counter and
// writes the timing lines through the window. It runs until its run flag
// (CRunFlag, named per dialog) reads 0. The pass never asks what kind of
// source it has, only whether its frames have positions.
//
// The controls steer it only through the request operations below (Play,
// Pause, Stop, +1/-1 frame, slider), which write atomics and wake the worker.
//
// Buffers: m_pFrameBits holds the grabbed, unprocessed frame (worker only).
// The picture goes through three buffers of its own: the plug-in writes the
// work buffer (worker only), the worker publishes it by swapping it with the
// ready buffer (a pointer swap under the short lock m_mxDisplay), and a
// paint takes the ready buffer as its display buffer (another swap) and
// draws that with only the paint lock held. The worker never takes the paint
// lock, so it never waits for a paint, and a paint never sees a
// half-written frame (CDisplayLock).
//
// Waits: every loop and wait of the worker and its source sees its run flag
// (graph completion in 50 ms slices, the renderer's rendered-frame signal
// and the every-frame hand-off in display-period slices, idle waits in
// slices), so clearing the flag ends the worker within about 50 ms unless
// the plug-in itself does not return.
//
// Every-frame runs stream: the graph runs without a clock and the renderer
// holds each frame until the worker has taken it (one copy into the frame
// buffer), so the next frame decodes while the plug-in works; the only seek
// is the one to the run's start.
//
// Threads: set-up calls (SetSource, ProbeFormat, TakeRendererFormat,
// SetPlugin, SetEveryFrame, Start) on the owner's thread before Start; the
// request operations and the readers from any thread; Join on the owner's
// thread. The owner must keep the window, the plug-in and this object alive
// until HasEnded() (then Join).
// May include: the C++ standard library, platform/*, processing core. No Qt.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "pelora/tavro_plugin.h"
#include "platform/win/std_mutex.h"
#include "platform/win/thread_annotations.h"
#include "platform/win/virtual_memory.h"
#include "platform/win/win_types.h"
#include "processing/frame_source.h"
#include "processing/frame_time.h"
#include "processing/frame_window.h"
#include "processing/run_flag.h"
#include "processing/timing_stats.h"

class CFrameWorker {
public:
    CFrameWorker();
    // Joins the worker thread; the owner has cleared the run flag before.
    ~CFrameWorker();
    CFrameWorker(const CFrameWorker&) = delete;
    CFrameWorker& operator=(const CFrameWorker&) = delete;

    // Counter and slider refresh period during playback (ms): the display rate.
    static constexpr DWORD kDisplayPeriodMs = 16;
    // A seek the source gave up (VFW_E_TIMEOUT) is said on this row of the
    // main view until a later acquire completes.
    static constexpr int kSeekStatusY = 20;

    // ---- set-up, owner thread, before Start ----
    // The source to take frames from (see CreateFrameSource).
    void SetSource(std::unique_ptr<IFrameSource> pSource) { m_pSource = std::move(pSource); }
    // Learns the source's frame format (a file is rendered once into a probe
    // graph that never runs) and takes it (TakeRendererFormat). On failure
    // returns the code and sets *pstrMessage to the message the user sees.
    HRESULT ProbeFormat(void* hwndOwner, std::string* pstrMessage);
    // Adopts a frame format (biCompression forced to 0, biSizeImage raised
    // to the padded size) and allocates the frame, work and display buffers.
    // E_INVALIDARG for a format that is not 24-bit with a positive size (an
    // empty 0 x 0 format is taken: buffers of no bytes, nothing painted),
    // E_OUTOFMEMORY when a buffer cannot be had.
    HRESULT TakeRendererFormat(const BITMAPINFO& bmi);
    void SetPlugin(TAVROFUNC pfnProcess) { m_pfnProcess = pfnProcess; }
    // Every frame in order, none skipped and none waiting for its time.
    void SetEveryFrame(bool bEveryFrame) { m_bEveryFrame = bEveryFrame; }
    // Starts FrameWorkerProc on a new thread. The flag named strRunFlagName
    // must exist; hwndOwner is handed to the source (the window its own
    // threads invalidate, e.g. the file graph's grab renderer).
    bool Start(IFrameWindow* pWindow, const std::string& strRunFlagName, void* hwndOwner);
    // Runs the set-up and grabs picture nPicture (from 0, in presentation
    // order) on the calling thread, without playback, as the worker shows a
    // frame after the slider was moved; processed by the plug-in when
    // bProcess. Where the frame rate varies this is not the slider's frame
    // nPicture, which counts frame durations. The flag named strRunFlagName
    // must exist. S_OK, or E_FAIL when the source could not be set up or the
    // frame not grabbed.
    HRESULT GrabSingleFrame(IFrameWindow* pWindow, const std::string& strRunFlagName, LONG nPicture,
                            bool bProcess);
    // Waits for the thread (owner thread). Call after HasEnded() or after
    // clearing the run flag.
    void Join();
    // The worker thread has returned (any thread).
    bool HasEnded() const { return m_bEnded.load(std::memory_order_acquire); }
    bool HasStarted() const { return m_thread.joinable(); }
    // Wakes the worker from an idle wait (after the run flag or a request
    // changed). Any thread.
    void Wake();

    // ---- requests from the controls, any thread ----
    // Play: playing on, pause request off; at position 0 (or before any
    // timed run) the run's start time is taken.
    void RequestPlay();
    void RequestPause();
    void RequestStop();
    void StepForward();
    void StepBackward();
    // Slider moved to nPos: the position becomes the start of frame nPos.
    // Returns the counter text for the position before the move.
    std::string MoveToSliderPos(LONG nPos);

    // ---- readers, any thread ----
    bool IsPlaying() const { return m_bPlaying.load(); }
    bool IsRunning() const { return m_bRunning.load(); }
    bool IsPauseRequested() const { return m_bPauseRequest.load(); }
    LONGLONG Position() const { return m_llPosition.load(); }
    LONG FrameStep() const { return m_nFrameStep.load(); }
    INT FrameCount() const { return m_nFrameCount.load(); }
    double FramesPerSecond() const { return m_dFramesPerSecond.load(); }
    LONGLONG FrameIndex() const;  // the frame at the current position
    // The frame at a position and the start of frame nFrame, at the current
    // step and rate (FrameIndexAt, FrameStartAt).
    LONGLONG IndexOf(LONGLONG llPos) const;
    LONGLONG PositionOf(LONG nFrame) const;
    const BITMAPINFO& Format() const { return m_bmiFormat; }
    // A format was taken (set-up thread, before Start; constant afterwards).
    bool HasFormat() const { return m_bmiFormat.bmiHeader.biSizeImage != 0; }
    LONG Width() const { return m_bmiFormat.bmiHeader.biWidth; }
    LONG Height() const { return m_bmiFormat.bmiHeader.biHeight; }
    DWORD ImageSize() const { return m_bmiFormat.bmiHeader.biSizeImage; }
    // The source could not be set up: the worker ended without a frame.
    bool SetUpFailed() const { return m_bSetUpFailed.load(); }
    // The set-up is done and the first frame shown: requests are served.
    bool IsReady() const { return m_bReady.load(); }
    // Frames processed / skipped by the last (or current) playback run.
    LONGLONG ProcessedInRun() const { return m_llProcessedInRun.load(); }
    LONGLONG SkippedInRun() const { return m_llSkippedInRun.load(); }

    // The newest published frame, held for a paint: the display buffer,
    // after taking over the ready buffer when the worker published since the
    // last paint. It stays as it is while the lock is held; the worker goes
    // on publishing meanwhile (into the ready buffer). Any thread (the
    // paint); paints are serialised by the paint lock. Constructed in place
    // (not returned from a function), so the lock analysis sees it held for
    // the guard's scope.
    class SCOPED_CAPABILITY CDisplayLock {
    public:
        explicit CDisplayLock(const CFrameWorker& w) ACQUIRE(w.m_mxPaint)
            : m_lock(&w.m_mxPaint), m_pBits(w.TakeReadyForPaint()) {}
        ~CDisplayLock() RELEASE() {}
        const BYTE* Bits() const { return m_pBits; }

    private:
        CStdMutexLock m_lock;
        const BYTE* m_pBits;
    };

private:
    static void FrameWorkerProc(CFrameWorker* pWorker);
    void Run();
    bool SetUpSource();
    void ShowPositionDisplay();
    void MainPass();
    void PlaybackIteration(LONGLONG llStop);
    void EveryFrameIteration(LONGLONG llStop);
    // The source's frame at p into the frame buffer (IFrameSource::AcquireAt).
    // A seek the source gives up is said on the seek status line; the next
    // frame acquired clears it.
    HRESULT Acquire(LONGLONG p);
    // The seek status line: the seek to p was given up (bShown), or cleared.
    void ReportSeekFailure(bool bShown, LONGLONG p);
    // Plug-in (when bProcess and one is loaded) or copy, then publish.
    void ProcessAndPublish(bool bProcess);
    // The work buffer becomes the ready buffer (worker thread).
    void PublishWork();
    // m_mxPaint held: the display buffer, swapped with the ready buffer when
    // that holds a newer frame.
    const BYTE* TakeReadyForPaint() const REQUIRES(m_mxPaint);
    void ReportRunStatistics(LONGLONG llIndexReached);
    void UpdateCounterAndSlider(bool bForce);
    void UpdateCounterAndSlider(bool bForce, LONGLONG llIndex);
    void DrawPassLine(LONGLONG llT0, LONGLONG llT1);
    // IFrameWindow::OnPass for the main pass that ran from llT0 to llT1.
    void ReportPass(bool bNewFrame, bool bPlaying, LONGLONG llT0, LONGLONG llT1);
    void DrawFrameLine(LONGLONG llT0, LONGLONG llT1);
    // A frame of the run was processed; llT0 is when its grab began.
    void OnFrameDone(LONGLONG llT0);
    // Waits up to dwMs for a request or the run flag to change.
    void WaitForChange(DWORD dwMs);
    bool Running() const { return m_runFlag.IsRunning(); }
    double CountToMs(LONGLONG llCount) const;

    // Set-up (owner thread before Start; read-only afterwards).
    BITMAPINFO m_bmiFormat{};
    TAVROFUNC m_pfnProcess = nullptr;
    bool m_bEveryFrame = false;
    LONGLONG m_llFrequency = 1;
    std::string m_strRunFlagName;
    void* m_hwndOwner = nullptr;
    IFrameWindow* m_pWindow = nullptr;

    // Worker thread only (after Start).
    VirtualBlockPtr m_pFrameBits;             // grabbed frame, unprocessed
    VirtualBlockPtr m_pWorkBits;              // the plug-in's output before publishing
    std::unique_ptr<IFrameSource> m_pSource;  // set up before Start, then the worker's
    CRunFlag m_runFlag;
    SFrameTimeline m_timeline;         // from the source's Open
    bool m_bSeekFailureShown = false;  // the seek status line says a seek was given up
    SFrameTime m_ftTotal;
    LONGLONG m_llPrevFrameCount = 0;  // counter of the previous processed frame
    bool m_bFirstFrameOfRun = true;
    LONGLONG m_llLastDisplayUpdate = 0;  // counter value of the last counter/slider update
    LONGLONG m_llLastCallCount = 0;      // counts spent in the last plug-in call (or copy)
    LONGLONG m_llLastCallStart = 0;      // counter value when that call started
    CTimingStats m_timing;               // per-frame times of the timed run
    LONGLONG m_llTimingRunStart = -1;    // m_llRunStart the times in m_timing belong to

    // Publishing (worker) and taking (paint) the picture. Lock order:
    // m_mxPaint, then m_mxDisplay; the worker takes only m_mxDisplay, and
    // only for a pointer swap.
    mutable CStdMutex m_mxPaint;  // held for a whole paint: guards m_pDisplayBits and its pixels
    // What the window paints.
    mutable VirtualBlockPtr m_pDisplayBits GUARDED_BY(m_mxPaint);
    mutable CStdMutex m_mxDisplay;  // guards m_pReadyBits (pointer and pixels) and m_bReadyFresh
    // The frame published last, not painted yet.
    mutable VirtualBlockPtr m_pReadyBits GUARDED_BY(m_mxDisplay);
    // m_pReadyBits holds a frame newer than m_pDisplayBits.
    mutable bool m_bReadyFresh GUARDED_BY(m_mxDisplay) = false;

    // Shared between the controls and the worker.
    std::atomic<BOOL> m_bPlaying{FALSE};
    std::atomic<BOOL> m_bRunning{FALSE};
    std::atomic<BOOL> m_bPauseRequest{FALSE};
    std::atomic<BOOL> m_bStopRequest{FALSE};
    std::atomic<LONGLONG> m_llPosition{0};
    std::atomic<LONGLONG> m_llRunStart{0};
    std::atomic<LONGLONG> m_llRunEnd{0};
    std::atomic<LONG> m_nFrameStep{1};
    std::atomic<INT> m_nFrameCount{0};
    std::atomic<double> m_dFramesPerSecond{0.0};
    std::atomic<bool> m_bSetUpFailed{false};
    std::atomic<bool> m_bReady{false};
    std::atomic<bool> m_bEnded{false};
    std::atomic<LONGLONG> m_llProcessedInRun{0};
    std::atomic<LONGLONG> m_llSkippedInRun{0};

    CStdMutex m_mxChange;                // leaf: guards m_nChangeSerial
    std::condition_variable m_cvChange;  // signalled when m_nChangeSerial moves
    uint64_t m_nChangeSerial GUARDED_BY(m_mxChange) = 0;

    std::thread m_thread;
};
