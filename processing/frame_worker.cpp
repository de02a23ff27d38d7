#include "processing/frame_worker.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <cmath>
#include <limits>
#include <new>

#include "platform/com/com_runtime.h"
#include "platform/win/time_services.h"

namespace {

LONGLONG CounterNow() {
    LARGE_INTEGER li{};
    QueryPerformanceCounter(&li);
    return li.QuadPart;
}

// The padded size of a 24-bit image, or 0 when it does not fit 31 bits.
int64_t PaddedImageSize(LONG nWidth, LONG nHeight) {
    if (nWidth <= 0 || nHeight == 0 || nHeight == std::numeric_limits<LONG>::min()) return 0;
    const int64_t llStride = TavroRowStride(nWidth);
    const int64_t llSize = llStride * (nHeight < 0 ? -static_cast<int64_t>(nHeight) : nHeight);
    return llSize > 0x7FFFFFFF ? 0 : llSize;
}

INT ClampToInt(LONGLONG ll) {
    if (ll > std::numeric_limits<INT>::max()) return std::numeric_limits<INT>::max();
    if (ll < std::numeric_limits<INT>::min()) return std::numeric_limits<INT>::min();
    return static_cast<INT>(ll);
}

}  // namespace

CFrameWorker::CFrameWorker() {
    LARGE_INTEGER li{};
    QueryPerformanceFrequency(&li);
    m_llFrequency = li.QuadPart > 0 ? li.QuadPart : 1;
}

CFrameWorker::~CFrameWorker() { Join(); }

double CFrameWorker::CountToMs(LONGLONG llCount) const {
    return static_cast<double>(llCount) / static_cast<double>(m_llFrequency) * 1000.0;
}

LONGLONG CFrameWorker::FrameIndex() const { return IndexOf(m_llPosition.load()); }

LONGLONG CFrameWorker::IndexOf(LONGLONG llPos) const {
    return FrameIndexAt(llPos, m_nFrameStep.load(), m_dFramesPerSecond.load());
}

LONGLONG CFrameWorker::PositionOf(LONG nFrame) const {
    return FrameStartAt(nFrame, m_nFrameStep.load(), m_dFramesPerSecond.load());
}

HRESULT CFrameWorker::ProbeFormat(void* hwndOwner, std::string* pstrMessage) {
    if (!m_pSource) {
        *pstrMessage = "このソースは表示できません";
        return E_UNEXPECTED;
    }
    BITMAPINFO bmi{};
    const HRESULT hr = m_pSource->ProbeFormat(hwndOwner, &bmi, pstrMessage);
    if (FAILED(hr)) return hr;
    const HRESULT hrFormat = TakeRendererFormat(bmi);
    if (FAILED(hrFormat)) {
        *pstrMessage = "ビットマップヘッダーか画像メモリ領域の確保が出来ません";
        return hrFormat;
    }
    return S_OK;
}

HRESULT CFrameWorker::TakeRendererFormat(const BITMAPINFO& bmi) {
    BITMAPINFO bmiNew = bmi;
    bmiNew.bmiHeader.biCompression = 0;
    // Only bottom-up 24-bit frames are painted and processed; the file graph
    // always delivers those.
    if (bmiNew.bmiHeader.biBitCount != 24) return E_INVALIDARG;
    // An empty 0 x 0 frame (a camera dialog with no device) is taken as it
    // is: buffers of no bytes, nothing is ever processed or painted.
    const bool bEmpty = bmiNew.bmiHeader.biWidth == 0 && bmiNew.bmiHeader.biHeight == 0;
    if (!bEmpty && bmiNew.bmiHeader.biHeight <= 0) return E_INVALIDARG;
    const int64_t llSize =
        bEmpty ? 0 : PaddedImageSize(bmiNew.bmiHeader.biWidth, bmiNew.bmiHeader.biHeight);
    if (llSize == 0 && !bEmpty) return E_INVALIDARG;
    if (bEmpty) bmiNew.bmiHeader.biSizeImage = 0;
    if (bmiNew.bmiHeader.biSizeImage < llSize)
        bmiNew.bmiHeader.biSizeImage = static_cast<DWORD>(llSize);
    // Zero-filled, so the pad bytes at the end of each row are always 0.
    const size_t cb = std::max<size_t>(bmiNew.bmiHeader.biSizeImage, 1);
    VirtualBlockPtr pFrame = AllocateVirtualBlock(cb);
    VirtualBlockPtr pWork = AllocateVirtualBlock(cb);
    VirtualBlockPtr pReady = AllocateVirtualBlock(cb);
    VirtualBlockPtr pDisplay = AllocateVirtualBlock(cb);
    if (!pFrame || !pWork || !pReady || !pDisplay) return E_OUTOFMEMORY;
    // A fresh block's pages fault in on their first write. Written now, so
    // that the first timed plug-in calls (whose output goes to the work and
    // then the ready buffer) do not pay for it: about 1 ms per MiB here.
    for (BYTE* p : {pFrame.get(), pWork.get(), pReady.get(), pDisplay.get()}) std::memset(p, 0, cb);
    m_bmiFormat = bmiNew;
    m_pFrameBits = std::move(pFrame);
    m_pWorkBits = std::move(pWork);
    CStdMutexLock paint(&m_mxPaint);
    CStdMutexLock lock(&m_mxDisplay);
    m_pDisplayBits = std::move(pDisplay);
    m_pReadyBits = std::move(pReady);
    m_bReadyFresh = false;
    return S_OK;
}

void CFrameWorker::PublishWork() {
    {
        CStdMutexLock lock(&m_mxDisplay);
        std::swap(m_pReadyBits, m_pWorkBits);
        m_bReadyFresh = true;
    }
    m_pWindow->InvalidatePicture();
}

const BYTE* CFrameWorker::TakeReadyForPaint() const {
    CStdMutexLock lock(&m_mxDisplay);
    if (m_bReadyFresh) {
        std::swap(m_pDisplayBits, m_pReadyBits);
        m_bReadyFresh = false;
    }
    return m_pDisplayBits.get();
}

bool CFrameWorker::Start(IFrameWindow* pWindow, const std::string& strRunFlagName,
                         void* hwndOwner) {
    if (m_thread.joinable() || pWindow == nullptr) return false;
    m_pWindow = pWindow;
    m_strRunFlagName = strRunFlagName;
    m_hwndOwner = hwndOwner;
    m_bEnded.store(false);
    m_thread = std::thread(&CFrameWorker::FrameWorkerProc, this);
    return true;
}

void CFrameWorker::Join() {
    if (m_thread.joinable()) m_thread.join();
}

void CFrameWorker::Wake() {
    {
        CStdMutexLock lock(&m_mxChange);
        ++m_nChangeSerial;
    }
    m_cvChange.notify_all();
}

void CFrameWorker::WaitForChange(DWORD dwMs) {
    CStdMutexLock lock(&m_mxChange);
    const uint64_t nSeen = m_nChangeSerial;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMs);
    // Slices of at most 50 ms, so a run flag cleared without Wake() is seen.
    while (m_nChangeSerial == nSeen && Running()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        m_cvChange.wait_for(lock.Native(), std::min<std::chrono::steady_clock::duration>(
                                               deadline - now, std::chrono::milliseconds(50)));
    }
}

void CFrameWorker::RequestPlay() {
    m_bPlaying.store(TRUE);
    m_bPauseRequest.store(FALSE);
    // A timed run starts at position 0 (where a pending Stop puts it); a run
    // that never saw position 0 starts at its first Play, so its total time
    // is not measured from 0.
    if (m_llPosition.load() == 0 || m_bStopRequest.load() || m_llRunStart.load() == 0)
        m_llRunStart.store(CounterNow());
    Wake();
}

void CFrameWorker::RequestPause() {
    m_bPauseRequest.store(TRUE);
    Wake();
}

void CFrameWorker::RequestStop() {
    // Stop ends playing and pausing at once; the worker only has to stop the
    // stream and rewind. So a Play or Pause that follows before the worker
    // got to the Stop is served after it, in the order given, instead of
    // being wiped out by it.
    m_bStopRequest.store(TRUE);
    m_bPlaying.store(FALSE);
    m_bPauseRequest.store(FALSE);
    Wake();
}

void CFrameWorker::StepForward() {
    m_llPosition.fetch_add(m_nFrameStep.load());
    Wake();
}

void CFrameWorker::StepBackward() {
    m_llPosition.fetch_sub(m_nFrameStep.load());
    Wake();
}

std::string CFrameWorker::MoveToSliderPos(LONG nPos) {
    const double dFps = m_dFramesPerSecond.load();
    const INT nCount = m_nFrameCount.load();
    const SFrameTime ftTotal = SplitFrameTime(nCount, dFps);
    const LONGLONG llIndex = FrameIndex();
    const std::string strText = FormatSliderCounterText(
        llIndex, nCount, SplitFrameTime(static_cast<INT>(llIndex), dFps), ftTotal);
    m_llPosition.store(PositionOf(nPos));
    Wake();
    return strText;
}

void CFrameWorker::FrameWorkerProc(CFrameWorker* pWorker) {
    pWorker->Run();
    pWorker->m_bEnded.store(true, std::memory_order_release);
}

void CFrameWorker::Run() {
    m_runFlag = CRunFlag::Open(m_strRunFlagName);
    if (!m_runFlag.IsValid()) return;
    m_bPlaying.store(FALSE);
    m_bRunning.store(FALSE);
    m_bPauseRequest.store(FALSE);
    m_bStopRequest.store(FALSE);
    const HRESULT hrCo = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    if (!SetUpSource()) {
        m_bSetUpFailed.store(true);
    } else {
        ShowPositionDisplay();
        m_llPosition.store(0);
        m_bReady.store(true);
        while (Running()) MainPass();
    }

    // Exit: the source is closed here, on the worker, so that its threads
    // (the graph's streaming threads) are gone before the owner frees anything.
    if (m_pSource) m_pSource->Close();
    if (SUCCEEDED(hrCo)) CoUninitialize();
    m_runFlag.Close();
}

HRESULT CFrameWorker::GrabSingleFrame(IFrameWindow* pWindow, const std::string& strRunFlagName,
                                      LONG nPicture, bool bProcess) {
    if (m_thread.joinable() || pWindow == nullptr || !m_pSource) return E_UNEXPECTED;
    m_pWindow = pWindow;
    m_runFlag = CRunFlag::Open(strRunFlagName);
    if (!m_runFlag.IsValid()) return E_UNEXPECTED;
    const HRESULT hrCo = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hr = E_FAIL;
    if (SetUpSource()) {
        ShowPositionDisplay();
        MoveToSliderPos(nPicture);
        // Where frame numbers count frame durations, a variable frame rate
        // puts the slider's frame nPicture on another picture: seek to the
        // picture's own position instead.
        LONGLONG llPicture = 0;
        if (m_pSource->PicturePosition(nPicture, &llPicture)) m_llPosition.store(llPicture);
        // S_FALSE: the frame there is in the buffer already, unless the seek
        // to it was given up (a given-up seek is no frame).
        const HRESULT hrAcquire = Acquire(m_llPosition.load());
        if (hrAcquire == S_OK || (hrAcquire == S_FALSE && !m_bSeekFailureShown)) {
            ProcessAndPublish(bProcess);
            UpdateCounterAndSlider(true);
            hr = S_OK;
        }
    }
    m_pSource->Close();
    if (SUCCEEDED(hrCo)) CoUninitialize();
    m_runFlag.Close();
    return hr;
}

bool CFrameWorker::SetUpSource() {
    if (!m_pSource || FAILED(m_pSource->Open(m_hwndOwner, m_runFlag, &m_timeline))) return false;
    m_nFrameStep.store(m_timeline.nFrameStep);
    m_nFrameCount.store(m_timeline.nFrameCount);
    m_dFramesPerSecond.store(m_timeline.dFramesPerSecond);
    m_ftTotal = SplitFrameTime(m_nFrameCount.load(), m_dFramesPerSecond.load());

    Acquire(0);
    ProcessAndPublish(false);
    return true;
}

HRESULT CFrameWorker::Acquire(LONGLONG p) {
    const HRESULT hr =
        m_pSource->AcquireAt(p, m_pFrameBits.get(), m_bmiFormat.bmiHeader.biSizeImage);
    if (hr == VFW_E_TIMEOUT)
        ReportSeekFailure(true, p);
    else if (hr == S_OK && m_bSeekFailureShown)
        ReportSeekFailure(false, 0);
    return hr;
}

void CFrameWorker::ReportSeekFailure(bool bShown, LONGLONG p) {
    m_bSeekFailureShown = bShown;
    char sz[96] = "";
    if (bShown)
        std::snprintf(sz, sizeof sz, "フレーム %" PRId64 " へのシークが完了しません",
                      static_cast<int64_t>(IndexOf(p)));
    m_pWindow->DrawTextAt(kSeekStatusY, sz);
}

void CFrameWorker::ShowPositionDisplay() {
    if (m_timeline.bSeekable) {
        m_pWindow->SetSliderRange(m_nFrameCount.load(), 1800);
        m_pWindow->SetCounterText(FormatInitialCounterText(m_nFrameCount.load(), m_ftTotal));
    } else {
        m_pWindow->DisableSlider();
        m_pWindow->SetCounterText(std::string());
    }
}

void CFrameWorker::ProcessAndPublish(bool bProcess) {
    const size_t cb = m_bmiFormat.bmiHeader.biSizeImage;
    if (!m_pFrameBits || cb == 0) return;
    const LONGLONG llCallStart = CounterNow();
    m_llLastCallStart = llCallStart;
    if (bProcess && m_pfnProcess != nullptr)
        m_pfnProcess(m_pWorkBits.get(), m_pFrameBits.get(), m_bmiFormat);
    else
        std::memcpy(m_pWorkBits.get(), m_pFrameBits.get(), cb);
    m_llLastCallCount = CounterNow() - llCallStart;
    PublishWork();
}

void CFrameWorker::ReportPass(bool bNewFrame, bool bPlaying, LONGLONG llT0, LONGLONG llT1) {
    SPassReport report;
    report.bNewFrame = bNewFrame;
    report.bPlaying = bPlaying;
    report.llPassStart = llT0;
    report.dPassMs = CountToMs(llT1 - llT0);
    report.dProcessMs = CountToMs(m_llLastCallCount);
    const LONGLONG llCapture = bNewFrame ? m_pSource->LastCaptureCount() : -1;
    report.llCaptureCount = llCapture;
    // A capture time after the call started cannot be (another clock): none.
    if (llCapture > 0 && llCapture <= m_llLastCallStart)
        report.dLatencyMs = CountToMs(m_llLastCallStart - llCapture);
    m_pWindow->OnPass(report);
}

void CFrameWorker::DrawPassLine(LONGLONG llT0, LONGLONG llT1) {
    char sz[96];
    std::snprintf(sz, sizeof sz, "%10" PRId64 "(count) %10.2f(msec)",
                  static_cast<int64_t>(llT1 - llT0), CountToMs(llT1 - llT0));
    m_pWindow->DrawTextAt(10, sz);
}

void CFrameWorker::DrawFrameLine(LONGLONG llT0, LONGLONG llT1) {
    char sz[128];
    std::snprintf(sz, sizeof sz, "%" PRId64 "(count) %.2f(msec) %.2f(msec)",
                  static_cast<int64_t>(llT0 - m_llPrevFrameCount),
                  CountToMs(llT0 - m_llPrevFrameCount), CountToMs(llT1 - llT0));
    m_pWindow->DrawTextAt(10, sz);
}

void CFrameWorker::UpdateCounterAndSlider(bool bForce) {
    UpdateCounterAndSlider(bForce, FrameIndex());
}

void CFrameWorker::UpdateCounterAndSlider(bool bForce, LONGLONG llIndex) {
    if (!m_timeline.bSeekable) return;
    const LONGLONG llNow = CounterNow();
    if (!bForce && CountToMs(llNow - m_llLastDisplayUpdate) < kDisplayPeriodMs) return;
    m_llLastDisplayUpdate = llNow;
    const SFrameTime ftNow = SplitFrameTime(static_cast<INT>(llIndex), m_dFramesPerSecond.load());
    m_pWindow->SetCounterAndSlider(
        FormatCounterText(llIndex, m_nFrameCount.load(), ftNow, m_ftTotal),
        static_cast<LONG>(llIndex));
}

void CFrameWorker::MainPass() {
    const LONGLONG llT0 = CounterNow();
    // A step or a slider move may come while this pass works: the counter
    // shows the frame this pass shows, and the next pass the newer one.
    const LONGLONG llShown = m_llPosition.load();
    const HRESULT hrAcquire = Acquire(llShown);
    const bool bPlaying = m_bPlaying.load() != FALSE;
    ProcessAndPublish(bPlaying);
    const LONGLONG llT1 = CounterNow();
    DrawPassLine(llT0, llT1);
    ReportPass(hrAcquire == S_OK, bPlaying, llT0, llT1);
    if (!Running()) return;

    if (!m_timeline.bSeekable) {
        // No positions: no run, no playback loop, no end of stream.
        if (m_bStopRequest.exchange(FALSE)) {  // playing and pausing ended with the request
            m_bRunning.store(FALSE);
            m_llPosition.store(0);
        }
        // A live source is polled again at once (its frames come on their
        // own). A still picture changes only when a request comes; while
        // playing it is processed again at the display's rate.
        if (!m_timeline.bLive) WaitForChange(m_bPlaying.load() ? kDisplayPeriodMs : 1000);
        return;
    }

    UpdateCounterAndSlider(true, IndexOf(llShown));
    if (!m_bRunning.load() && m_bStopRequest.exchange(FALSE)) {
        // Stop pressed while paused: the playback loop is not running to
        // handle it, so the rewind happens here.
        m_llPosition.store(0);
        return;
    }
    const LONGLONG llStop = m_timeline.llDuration;
    if (m_bPlaying.load() && !m_bPauseRequest.load()) {
        m_llProcessedInRun.store(0);
        m_llSkippedInRun.store(0);
        // A new timed run (Play at position 0) starts a new distribution; a
        // resume after a pause adds to the run's.
        if (m_llRunStart.load() != m_llTimingRunStart) {
            m_llTimingRunStart = m_llRunStart.load();
            // Without a clock no frame is late; in real time a frame is late
            // when it comes more than half a frame period after its time.
            const double dFps = m_dFramesPerSecond.load();
            const double dLateMs = (m_bEveryFrame || dFps <= 0.0) ? 0.0 : 1.5 * 1000.0 / dFps;
            m_timing.StartRun(static_cast<size_t>(std::max(m_nFrameCount.load(), 0)) + 1, dLateMs);
        }
        // The frame this pass processed is the first frame of the run.
        m_bFirstFrameOfRun = true;
        if (bPlaying) {
            OnFrameDone(llT0);
        } else {
            // Play came while this pass showed the frame unprocessed: the run's
            // first frame is processed now.
            const LONGLONG llP0 = CounterNow();
            ProcessAndPublish(true);
            OnFrameDone(llP0);
        }
        if (m_bEveryFrame) {
            // One seek, to the frame after the one just processed; from
            // there the stream delivers every frame in order.
            m_pSource->StartFrameStream(PositionOf(ClampToInt(FrameIndex() + 1)), llStop);
        } else {
            m_pSource->StartStream(m_llPosition.load(), llStop);
        }
        m_pSource->ForgetPosition();  // the stream moves from here on
        m_bRunning.store(TRUE);
    }
    m_llPrevFrameCount = CounterNow();
    while (m_bRunning.load()) {
        if (m_bEveryFrame)
            EveryFrameIteration(llStop);
        else
            PlaybackIteration(llStop);
    }
    if (!m_bPlaying.load()) {
        WaitForChange(1000);  // idle: nothing to do until a request comes
    } else if (m_bPauseRequest.load()) {
        WaitForChange(kDisplayPeriodMs);  // paused: process the frame again at display rate
    }
}

void CFrameWorker::OnFrameDone(LONGLONG llT0) {
    const double dInterval = m_bFirstFrameOfRun ? 0.0 : CountToMs(llT0 - m_llPrevFrameCount);
    m_timing.Add(CountToMs(m_llLastCallCount), dInterval, !m_bFirstFrameOfRun);
    m_bFirstFrameOfRun = false;
    m_llProcessedInRun.fetch_add(1);
    m_pWindow->OnFrameProcessed(FrameIndex(), CountToMs(m_llLastCallCount), dInterval);
}

void CFrameWorker::PlaybackIteration(LONGLONG llStop) {
    const LONGLONG llCurrent = m_pSource->StreamPosition();
    const LONGLONG llPos = m_llPosition.load();
    // A new frame is one whose number is past ours. Comparing media times
    // with llPos + nStep is not enough: the duration is rounded to 100 ns on
    // its own (166667 at 60 fps) while each frame's start is rounded from
    // the exact rate (frame 2 at 333333), so a frame can start one unit
    // short of "previous start + duration"; at 60 fps every third frame did
    // and was never taken. At the end of the stream the graph reports the stop position, which is
    // no frame's start: the picture there is the last frame, and it is
    // reported as that frame (not as frame N of an N-frame clip), once.
    const bool bAtEnd = m_timeline.IsEndOfStream(llCurrent);
    LONGLONG llFrame = llCurrent;
    if (bAtEnd) {
        const LONGLONG llLast = std::max<LONGLONG>(IndexOf(llStop) - 1, 0);
        llFrame = std::min(llCurrent, PositionOf(ClampToInt(llLast)));
    }
    LONGLONG llIndexReached = IndexOf(llCurrent);
    LONGLONG llJump = IndexOf(llFrame) - IndexOf(llPos);
    if (llJump > 0) {
        const LONGLONG llT0 = CounterNow();
        // The frame copied is the one processed: the source may have
        // rendered the next one since the position was read, and that frame
        // must not be processed again as the next one. At the end, a stream
        // that stops short of its frame count (a container whose duration
        // runs long) shows its own last frame: that one is reached, none
        // after it is skipped, and one already processed is not again.
        LONGLONG llGrabbed = -1;
        m_pSource->AcquireLatest(m_pFrameBits.get(), m_bmiFormat.bmiHeader.biSizeImage, &llGrabbed);
        const bool bEndsShort = bAtEnd && llGrabbed >= 0 && IndexOf(llGrabbed) < IndexOf(llFrame);
        if (llGrabbed >= 0 && (IndexOf(llGrabbed) > IndexOf(llFrame) || bEndsShort)) {
            llFrame = llGrabbed;
            llJump = IndexOf(llFrame) - IndexOf(llPos);
        }
        if (bEndsShort) llIndexReached = IndexOf(llGrabbed) + 1;
        if (llJump > 0) {
            if (llJump > 1) m_llSkippedInRun.fetch_add(llJump - 1);
            m_llPosition.store(llFrame);
            ProcessAndPublish(true);
            const LONGLONG llT1 = CounterNow();
            OnFrameDone(llT0);
            DrawFrameLine(llT0, llT1);
            m_llPrevFrameCount = llT0;
        }
    }
    if (bAtEnd) {
        m_pSource->StopStream();
        ReportRunStatistics(llIndexReached);
        m_llPosition.store(0);
        UpdateCounterAndSlider(true);
    } else if (llJump > 0) {
        UpdateCounterAndSlider(false);
    } else {
        // Nothing new yet: sleep until the renderer has rendered a frame
        // (bounded, so requests and the end of the stream are seen).
        m_pSource->WaitForStreamFrame(kDisplayPeriodMs);
    }
    if (m_bPauseRequest.load()) {
        m_pSource->StopStream();
        m_bRunning.store(FALSE);
        UpdateCounterAndSlider(true);
    } else if (m_bStopRequest.exchange(FALSE)) {
        m_pSource->StopStream();
        m_llPosition.store(0);
        m_bRunning.store(FALSE);
        UpdateCounterAndSlider(true);
    } else if (!Running()) {
        m_pSource->StopStream();
        m_bRunning.store(FALSE);
    }
}

void CFrameWorker::EveryFrameIteration(LONGLONG llStop) {
    // The run ends by the stream's frame count: the rounded frame duration
    // added up falls short of the stop (30 fps: 90 x 333333 is before the
    // end of a 90-frame clip), and a frame after the last one is never
    // waited for.
    const LONGLONG llNextIndex = IndexOf(m_llPosition.load()) + 1;
    const bool bCountReached = llNextIndex >= m_nFrameCount.load();
    HRESULT hr = S_FALSE;
    if (!bCountReached) {
        const LONGLONG llT0 = CounterNow();
        // A slice of the wait: requests and the run flag are seen between
        // slices.
        hr = m_pSource->TakeNextFrame(m_pFrameBits.get(), m_bmiFormat.bmiHeader.biSizeImage,
                                      kDisplayPeriodMs);
        if (hr == S_OK) {
            m_llPosition.store(PositionOf(ClampToInt(llNextIndex)));
            ProcessAndPublish(true);
            const LONGLONG llT1 = CounterNow();
            OnFrameDone(llT0);
            DrawFrameLine(llT0, llT1);
            m_llPrevFrameCount = llT0;
            UpdateCounterAndSlider(false);
        }
    }
    if (hr == S_FALSE || (FAILED(hr) && hr != E_ABORT)) {
        // The end (the last frame processed, or the stream ended): every
        // frame was processed once. A stream that stopped giving frames, or
        // that holds fewer than its duration says (a count worked out from
        // a duration rounded up by the container), reports the frames it
        // reached.
        m_pSource->StopStream();
        ReportRunStatistics(bCountReached ? IndexOf(llStop) : FrameIndex() + 1);
        m_llPosition.store(0);
        UpdateCounterAndSlider(true);
    }
    if (m_bPauseRequest.load()) {
        m_pSource->StopStream();
        m_bRunning.store(FALSE);
    } else if (m_bStopRequest.exchange(FALSE)) {
        m_pSource->StopStream();
        m_llPosition.store(0);
        m_bRunning.store(FALSE);
    } else if (!Running()) {
        m_pSource->StopStream();
        m_bRunning.store(FALSE);
    }
    if (!m_bRunning.load()) m_pSource->ForgetPosition();
}

void CFrameWorker::ReportRunStatistics(LONGLONG llIndexReached) {
    m_bPlaying.store(FALSE);
    m_bRunning.store(FALSE);
    const LONGLONG llEnd = CounterNow();
    m_llRunEnd.store(llEnd);
    const INT n = ClampToInt(llIndexReached);
    char sz[128];
    std::snprintf(sz, sizeof sz, "処理フレーム数 %d Frame", n);
    m_pWindow->DrawTextAt(210, sz);
    const LONGLONG llElapsed = llEnd - m_llRunStart.load();
    const float fTotal = static_cast<float>(CountToMs(llElapsed));
    // No frame reached (a run that ends at once): no mean to show.
    std::snprintf(sz, sizeof sz, "１フレームあたりの処理時間 %.2fms", n > 0 ? fTotal / n : 0.0);
    m_pWindow->DrawTextAt(220, sz);
    std::snprintf(sz, sizeof sz, "総処理時間 %.2f msec", CountToMs(llElapsed));
    m_pWindow->DrawTextAt(230, sz);
    // The distribution of the run's per-frame times, below the statistics.
    m_pWindow->DrawTextAt(240, m_timing.ProcessLine());
    m_pWindow->DrawTextAt(250, m_timing.IntervalLine());
    m_pWindow->DrawTextAt(260, m_timing.LateLine(m_llSkippedInRun.load()));
    m_llTimingRunStart = -1;  // the next Play starts a new distribution
    m_pWindow->ResetButtonsAfterRun();
    m_pWindow->OnRunEnded(m_llProcessedInRun.load(), m_llSkippedInRun.load());
}
