#include "app/headless_camera_runner.h"

#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/camera_devices.h"
#include "app/command_line.h"
#include "app/headless_runner.h"
#include "capture/video_input.h"
#include "platform/win/time_services.h"
#include "processing/frame_source_factory.h"
#include "processing/frame_window.h"
#include "processing/frame_worker.h"
#include "processing/plugin_module.h"
#include "processing/run_flag.h"
#include "processing/timing_stats.h"

namespace {

LONGLONG CounterNow() {
    LARGE_INTEGER li{};
    QueryPerformanceCounter(&li);
    return li.QuadPart;
}

double CountToMs(LONGLONG llCount) {
    LARGE_INTEGER liFreq{};
    QueryPerformanceFrequency(&liFreq);
    return static_cast<double>(llCount) * 1000.0 / static_cast<double>(liFreq.QuadPart);
}

// What the run asks for: a count of new camera frames or a run time.
struct SRunGoal {
    long lFrames = 300;
    double dSeconds = 0.0;  // > 0: run this long instead
    bool bSaveFrame = false;
    long lSaveFrame = 0;
    std::string strSavePath;
};

// The worker's window in a headless camera run: the timing line of each
// pass with a new camera frame to standard output, a CSV row per pass, the
// figures of the summary. IFrameWindow methods: worker thread; the readers
// after the worker has been joined; WaitForGoal and Finish: main thread.
class CCameraRunWindow : public IFrameWindow {
public:
    CCameraRunWindow(const SRunGoal& goal, std::FILE* pCsv, const CFrameWorker* pWorker)
        : m_goal(goal), m_pCsv(pCsv), m_pWorker(pWorker) {}

    void SetCounterText(const std::string&) override {}
    void SetSliderRange(LONG, LONG) override {}
    void SetSliderPos(LONG) override {}
    void DisableSlider() override {}
    void ResetButtonsAfterRun() override {}
    void InvalidatePicture() override {}
    // The pass line comes before OnPass, which prints it when the frame was new.
    void DrawTextAt(int y, const std::string& strText) override {
        if (y == 10) m_strPassLine = strText;
    }

    void OnPass(const SPassReport& r) override {
        if (!r.bPlaying) return;  // before Play took effect: not part of the run
        std::lock_guard<std::mutex> lock(m_mx);
        if (m_bDone) return;
        if (m_nPasses == 0) m_llFirstPass = m_llLastNewAt = r.llPassStart;
        ++m_nPasses;
        m_llLastPassEnd = CounterNow();
        m_vdProcess.push_back(r.dProcessMs);
        if (r.bNewFrame) OnNewFrame(r);
        if (m_pCsv)
            std::fprintf(m_pCsv, "%" PRId64 ",%d,%.3f,%.3f,", m_nPasses, r.bNewFrame ? 1 : 0,
                         r.dProcessMs, r.dPassMs);
        if (m_pCsv && r.bNewFrame && r.dLatencyMs >= 0.0)
            std::fprintf(m_pCsv, "%.3f", r.dLatencyMs);
        if (m_pCsv) std::fputc('\n', m_pCsv);
        if (m_goal.dSeconds <= 0.0 && m_nNewFrames >= m_goal.lFrames) {
            m_bDone = true;
            m_cv.notify_all();
        }
    }

    // Main thread: waits until the goal is met, the run time is over, the
    // camera stalls or the worker ends; then no more passes are counted.
    // False when the camera stalled.
    bool WaitForGoal(const CFrameWorker& worker) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point start = Clock::now();
        std::unique_lock<std::mutex> lock(m_mx);
        bool bStalled = false;
        while (!m_bDone && !worker.HasEnded()) {
            m_cv.wait_for(lock, std::chrono::milliseconds(20));
            const double dRunSeconds = std::chrono::duration<double>(Clock::now() - start).count();
            if (m_goal.dSeconds > 0.0 && dRunSeconds >= m_goal.dSeconds) break;
            const double dSilentMs =
                m_nPasses > 0 ? CountToMs(CounterNow() - m_llLastNewAt) : dRunSeconds * 1000.0;
            if (dSilentMs >= kStallSeconds * 1000.0) {
                bStalled = true;
                break;
            }
        }
        m_bDone = true;
        return !bStalled;
    }

    // After the worker was joined: the summary lines.
    void PrintSummary() const {
        const double dSeconds =
            m_nPasses > 0 ? CountToMs(m_llLastPassEnd - m_llFirstPass) / 1000.0 : 0.0;
        std::printf("# camera: %" PRId64 " new frames in %" PRId64 " passes (%" PRId64
                    " repeated), %.2f s, %.1f passes/s\n",
                    m_nNewFrames, m_nPasses, m_nPasses - m_nNewFrames, dSeconds,
                    dSeconds > 0.0 ? static_cast<double>(m_nPasses) / dSeconds : 0.0);
        std::printf(
            "# %s\n",
            CTimingStats::FormatSummary("plug-in", CTimingStats::Summarise(m_vdProcess)).c_str());
        std::printf("# %s\n", CTimingStats::FormatSummary("frame interval",
                                                          CTimingStats::Summarise(m_vdInterval))
                                  .c_str());
        const CTimingStats::SSummary latency = CTimingStats::Summarise(m_vdLatency);
        std::printf("# latency min %.2f / median %.2f / p99 %.2f (ms, capture to plug-in call)\n",
                    latency.dMin, latency.dMedian, latency.dP99);
        double dFps = 0.0;
        if (m_nCaptured > 1 && m_llLastCapture > m_llFirstCapture)
            dFps = static_cast<double>(m_nCaptured - 1) * 1000.0 /
                   CountToMs(m_llLastCapture - m_llFirstCapture);
        std::printf("# camera frame rate %.2f fps\n", dFps);
    }

    bool SaveFailed() const { return m_bSaveFailed; }
    bool SaveDone() const { return m_bSaved; }

private:
    // Under m_mx, worker thread.
    void OnNewFrame(const SPassReport& r) {
        std::puts(m_strPassLine.c_str());
        if (m_nNewFrames > 0) m_vdInterval.push_back(CountToMs(r.llPassStart - m_llLastNewAt));
        m_llLastNewAt = r.llPassStart;
        if (r.dLatencyMs >= 0.0) m_vdLatency.push_back(r.dLatencyMs);
        if (r.llCaptureCount > 0) {
            if (m_nCaptured == 0) m_llFirstCapture = r.llCaptureCount;
            m_llLastCapture = r.llCaptureCount;
            ++m_nCaptured;
        }
        if (m_goal.bSaveFrame && m_nNewFrames == m_goal.lSaveFrame) {
            // The display buffer holds this pass's frame until the next pass.
            const CFrameWorker::CDisplayLock display(*m_pWorker);
            m_bSaved = WriteBmp(m_goal.strSavePath, m_pWorker->Format(), display.Bits());
            m_bSaveFailed = !m_bSaved;
        }
        ++m_nNewFrames;
    }

    const SRunGoal m_goal;
    std::FILE* const m_pCsv;
    const CFrameWorker* const m_pWorker;
    std::string m_strPassLine;  // worker thread only: the last pass line

    mutable std::mutex m_mx;  // guards everything below
    std::condition_variable m_cv;
    bool m_bDone = false;
    int64_t m_nPasses = 0;
    int64_t m_nNewFrames = 0;
    LONGLONG m_llFirstPass = 0, m_llLastPassEnd = 0, m_llLastNewAt = 0;
    std::vector<double> m_vdProcess, m_vdInterval, m_vdLatency;
    int64_t m_nCaptured = 0;
    LONGLONG m_llFirstCapture = 0, m_llLastCapture = 0;
    bool m_bSaved = false, m_bSaveFailed = false;
};

// The library's console lines, in headless runs: standard error, so that
// standard output holds only Pelora's lines.
void PrintToStandardError(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

int RunHeadlessCamera(const SCommandLine& opt) {
    VideoInput::setPrintSink(&PrintToStandardError);
    if (opt.bQuietCamera) VideoInput::setLogging(false);

    VideoInput videoInput;
    const SCameraDevices devices = SetUpCameraDevices(videoInput);
    if (devices.m_nDeviceCount == 0 || !videoInput.isDeviceOpen(0)) {
        CloseCameraDevices(videoInput, devices.m_nDeviceCount);
        std::fprintf(stderr, devices.m_nDeviceCount == 0
                                 ? "pelora: no camera found (try --virtual-camera)\n"
                                 : "pelora: camera 0 could not be opened\n");
        return 1;
    }

    // The plug-in once there is a camera: without one the run says only that.
    CPluginModule plugin;
    LoadHeadlessPlugin(opt, plugin);
    CFrameWorker worker;
    SFrameSourceChoice choice;
    choice.nKind = SOURCE_CAMERA;
    choice.pVideoInput = &videoInput;
    worker.SetSource(CreateFrameSource(choice));
    worker.SetPlugin(plugin.Function());
    std::string strMessage;
    if (FAILED(worker.ProbeFormat(nullptr, &strMessage))) {
        CloseCameraDevices(videoInput, devices.m_nDeviceCount);
        std::fprintf(stderr, "%s\n", strMessage.c_str());
        return 1;
    }

    std::FILE* pCsv = nullptr;
    if (!opt.strCsv.empty()) {
        pCsv = OpenCsv(opt.strCsv, "pass,new_frame,plugin_ms,pass_ms,latency_ms\n");
        if (!pCsv) {
            CloseCameraDevices(videoInput, devices.m_nDeviceCount);
            return 1;
        }
    }
    SRunGoal goal;
    goal.lFrames = opt.lFrames;
    goal.dSeconds = opt.dSeconds;
    goal.bSaveFrame = opt.bSaveFrame;
    goal.lSaveFrame = opt.lSaveFrame;
    goal.strSavePath = opt.strSavePath;
    CCameraRunWindow window(goal, pCsv, &worker);
    const std::string strFlag = CRunFlag::NextName();
    CRunFlag flag = CRunFlag::Create(strFlag, 1);

    int nExit = 0;
    worker.Start(&window, strFlag, nullptr);
    while (!worker.IsReady() && !worker.HasEnded())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    worker.RequestPlay();  // 開始, at once
    const bool bDelivered = window.WaitForGoal(worker);
    flag.Set(0);
    worker.Wake();
    worker.Join();
    // Every worker has ended: the devices can go.
    CloseCameraDevices(videoInput, devices.m_nDeviceCount);
    std::fflush(stdout);
    if (!bDelivered) {
        std::fprintf(stderr, "pelora: the camera delivered no frame for %d s\n", kStallSeconds);
        nExit = 1;
    }
    window.PrintSummary();
    if (window.SaveFailed()) {
        std::fprintf(stderr, "pelora: cannot write %s\n", opt.strSavePath.c_str());
        nExit = 1;
    } else if (opt.bSaveFrame && !window.SaveDone()) {
        std::fprintf(stderr, "pelora: camera frame %ld was not reached\n", opt.lSaveFrame);
        nExit = 1;
    }
    if (pCsv && std::fclose(pCsv) != 0) {
        std::fprintf(stderr, "pelora: cannot write %s\n", opt.strCsv.c_str());
        nExit = 1;
    }
    std::fflush(stdout);
    return nExit;
}
