#include "app/headless_runner.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/command_line.h"
#include "app/image_frame.h"
#include "app/image_readers.h"
#include "app/resource.h"
#include "app/source_class.h"
#include "platform/win/time_services.h"
#include "processing/frame_source_factory.h"
#include "processing/frame_window.h"
#include "processing/frame_worker.h"
#include "processing/plugin_module.h"
#include "processing/processing_types.h"
#include "processing/run_flag.h"

namespace {

using SHeadlessOptions = SCommandLine;

// A command line that parses but does not fit the file: said like a parse error.
int BadCommandLine(const char* pszWhat) {
    std::fprintf(stderr, "pelora: %s\nTry 'pelora --help' for more information.\n", pszWhat);
    return 2;
}

// The worker's window: lines to standard output, rows to the CSV file,
// progress to standard error.
class CHeadlessWindow : public IFrameWindow {
public:
    CHeadlessWindow(std::FILE* pCsv, bool bProgress) : m_pCsv(pCsv), m_bProgress(bProgress) {}

    void SetCounterText(const std::string& strText) override {
        if (m_bProgress) std::fprintf(stderr, "\r%s", strText.c_str());
    }
    void SetSliderRange(LONG, LONG) override {}
    void SetSliderPos(LONG) override {}
    void DisableSlider() override {}
    void ResetButtonsAfterRun() override {}
    void InvalidatePicture() override {}
    void DrawTextAt(int, const std::string& strText) override {
        std::fputs(strText.c_str(), stdout);
        std::fputc('\n', stdout);
    }
    void OnFrameProcessed(LONGLONG llIndex, double dProcessMs, double dIntervalMs) override {
        if (m_pCsv)
            std::fprintf(m_pCsv, "%" PRId64 ",%.3f,%.3f\n", static_cast<int64_t>(llIndex),
                         dProcessMs, dIntervalMs);
    }
    void OnRunEnded(LONGLONG llProcessed, LONGLONG llSkipped) override {
        std::lock_guard<std::mutex> lock(m_mx);
        m_bEnded = true;
        m_llProcessed = llProcessed;
        m_llSkipped = llSkipped;
        m_cv.notify_all();
    }
    // Waits for the end of the run, or for the worker to end.
    void WaitForRunEnd(const CFrameWorker& worker) {
        std::unique_lock<std::mutex> lock(m_mx);
        while (!m_bEnded && !worker.HasEnded()) m_cv.wait_for(lock, std::chrono::milliseconds(20));
    }
    bool RunEnded() {
        std::lock_guard<std::mutex> lock(m_mx);
        return m_bEnded;
    }
    LONGLONG Processed() const { return m_llProcessed; }
    LONGLONG Skipped() const { return m_llSkipped; }
    void EndProgress() {
        if (m_bProgress) std::fputc('\n', stderr);
    }

private:
    std::FILE* m_pCsv;
    bool m_bProgress;
    std::mutex m_mx;  // guards the run-end fields
    std::condition_variable m_cv;
    bool m_bEnded = false;
    LONGLONG m_llProcessed = 0, m_llSkipped = 0;
};

void PutLe(std::string& s, uint32_t v, int nBytes) {
    for (int i = 0; i < nBytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

std::FILE* OpenCsv(const std::string& strPath, const char* pszHeader) {
    std::FILE* pCsv = std::fopen(strPath.c_str(), "w");
    if (!pCsv) {
        std::fprintf(stderr, "pelora: cannot write %s: %s\n", strPath.c_str(),
                     std::strerror(errno));
        return nullptr;
    }
    std::fputs(pszHeader, pCsv);
    return pCsv;
}

bool WriteBmp(const std::string& strPath, const BITMAPINFO& bmi, const BYTE* pBits) {
    const uint32_t cbImage = bmi.bmiHeader.biSizeImage;
    std::string strHeader;
    strHeader += "BM";
    PutLe(strHeader, 14 + 40 + cbImage, 4);
    PutLe(strHeader, 0, 4);
    PutLe(strHeader, 14 + 40, 4);
    PutLe(strHeader, 40, 4);
    PutLe(strHeader, static_cast<uint32_t>(bmi.bmiHeader.biWidth), 4);
    PutLe(strHeader, static_cast<uint32_t>(bmi.bmiHeader.biHeight), 4);
    PutLe(strHeader, 1, 2);
    PutLe(strHeader, 24, 2);
    PutLe(strHeader, 0, 4);
    PutLe(strHeader, cbImage, 4);
    PutLe(strHeader, 2835, 4);
    PutLe(strHeader, 2835, 4);
    PutLe(strHeader, 0, 4);
    PutLe(strHeader, 0, 4);
    std::FILE* pFile = std::fopen(strPath.c_str(), "wb");
    if (!pFile) return false;
    bool bOk = std::fwrite(strHeader.data(), 1, strHeader.size(), pFile) == strHeader.size() &&
               std::fwrite(pBits, 1, cbImage, pFile) == cbImage;
    bOk = (std::fclose(pFile) == 0) && bOk;
    return bOk;
}

namespace {

// ---- still images ----
//
// A file the image Open command reads (extension BMP, bmp, CSV or csv) is a
// still image: it is read and converted exactly as that command does, then
// processed once, as one pass of a dialog showing it with Play pressed; the
// pass's timing line is printed, and --save-frame 0 writes the processed
// frame. A refused image prints the command's message and exits 1.
int RunHeadlessStill(const SHeadlessOptions& opt, EImageFileKind eKind, TAVROFUNC pfnProcess) {
    if (!opt.strCsv.empty() || opt.bEveryFrame)
        return BadCommandLine("--csv and --every-frame are for video files");
    if (opt.bSaveFrame && opt.lSaveFrame != 0)
        return BadCommandLine("a still image has frame 0 only");
    const bool bCanvas = opt.bCanvas;
    const CanvasQuestion askCanvas = [bCanvas](const std::string&) { return bCanvas; };
    CStillFrame frame;
    const EImageStatus eStatus = LoadStillFrame(opt.files[0], eKind, askCanvas, frame);
    if (eStatus != EImageStatus::Ok) {
        std::fprintf(stderr, "%s\n", ImageReadMessage(eKind, eStatus, opt.files[0]).c_str());
        return 1;
    }

    // One pass: process (or copy) the frame into the display buffer, timed
    // with the performance counter as the worker times its passes.
    const size_t cbFrame = static_cast<size_t>(frame.m_nSize);
    std::unique_ptr<BYTE[]> pDisplay(new BYTE[cbFrame]);
    LARGE_INTEGER liFreq{}, liStart{}, liEnd{};
    QueryPerformanceFrequency(&liFreq);
    QueryPerformanceCounter(&liStart);
    if (pfnProcess != nullptr)
        pfnProcess(pDisplay.get(), frame.m_pBits.get(), frame.m_bmi);
    else
        std::memcpy(pDisplay.get(), frame.m_pBits.get(), cbFrame);
    QueryPerformanceCounter(&liEnd);
    const int64_t llCount = liEnd.QuadPart - liStart.QuadPart;
    std::printf("%10" PRId64 "(count) %10.2f(msec)\n", llCount,
                static_cast<double>(llCount) / static_cast<double>(liFreq.QuadPart) * 1000.0);

    if (opt.bSaveFrame && !WriteBmp(opt.strSavePath, frame.m_bmi, pDisplay.get())) {
        std::fprintf(stderr, "pelora: cannot write %s\n", opt.strSavePath.c_str());
        return 1;
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace

void LoadHeadlessPlugin(const SCommandLine& opt, CPluginModule& plugin) {
    if (opt.bNoPlugin) return;
    const CPluginModule::EResult eLoad = plugin.Load(opt.strPlugin);
    if (eLoad != CPluginModule::EResult::Loaded)
        std::fprintf(stderr, "%s (%s)\n", CPluginModule::MessageFor(eLoad).c_str(),
                     plugin.LoaderError().c_str());
}

int RunHeadless(const SCommandLine& opt) {
    if (opt.files.size() != 1) return BadCommandLine("no file given");
    const std::optional<EImageFileKind> eImageKind = ImageKindFromPath(opt.files[0]);
    if (opt.bCanvas && eImageKind != EImageFileKind::Csv)
        return BadCommandLine("--canvas is for CSV images");
    // Videos are classified as the video command classifies them: the same
    // seek mode for the same name, and MPEG refused with the same message.
    const ESourceClass eClass = ClassifySource(opt.files[0], FileExtension(opt.files[0]));
    if (!eImageKind && eClass == ESourceClass::MpegFile) {
        std::fprintf(stderr, "%s\n", kMpegMessage);
        return 1;
    }

    CPluginModule plugin;
    LoadHeadlessPlugin(opt, plugin);
    if (eImageKind) return RunHeadlessStill(opt, *eImageKind, plugin.Function());

    CFrameWorker worker;
    SFrameSourceChoice choice;
    choice.nKind = SOURCE_FILE;
    choice.strPath = opt.files[0];
    choice.nSeekMode = static_cast<SeekMode>(SeekModeOf(eClass));
    worker.SetSource(CreateFrameSource(choice));
    worker.SetPlugin(plugin.Function());
    worker.SetEveryFrame(opt.bEveryFrame);
    std::string strMessage;
    if (FAILED(worker.ProbeFormat(nullptr, &strMessage))) {
        std::fprintf(stderr, "%s\n", strMessage.c_str());
        return 1;
    }

    std::FILE* pCsv = nullptr;
    if (!opt.strCsv.empty()) {
        pCsv = OpenCsv(opt.strCsv, "frame,plugin_ms,interval_ms\n");
        if (!pCsv) return 1;
    }
    CHeadlessWindow window(pCsv, isatty(STDERR_FILENO) != 0);
    const std::string strFlag = CRunFlag::NextName();
    CRunFlag flag = CRunFlag::Create(strFlag, 1);

    int nExit = 0;
    if (opt.bSaveFrame) {
        if (FAILED(worker.GrabSingleFrame(&window, strFlag, static_cast<LONG>(opt.lSaveFrame),
                                          plugin.Function() != nullptr))) {
            std::fprintf(stderr, "ファイルを開くことが出来ません\n");
            nExit = 1;
        } else {
            const CFrameWorker::CDisplayLock lock(worker);
            if (!WriteBmp(opt.strSavePath, worker.Format(), lock.Bits())) {
                std::fprintf(stderr, "pelora: cannot write %s\n", opt.strSavePath.c_str());
                nExit = 1;
            }
        }
    } else {
        worker.Start(&window, strFlag, nullptr);
        while (!worker.IsReady() && !worker.HasEnded())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (worker.HasEnded()) {
            std::fprintf(stderr, "ファイルを開くことが出来ません\n");
            nExit = 1;
        } else {
            worker.RequestPlay();  // at position 0: the timed run starts here
            window.WaitForRunEnd(worker);
        }
        flag.Set(0);
        worker.Wake();
        worker.Join();
        window.EndProgress();
        if (nExit == 0 && window.RunEnded())
            std::printf(
                "# processed %" PRId64 " frames in the playback loop, skipped %" PRId64 "\n",
                static_cast<int64_t>(window.Processed()), static_cast<int64_t>(window.Skipped()));
    }
    if (pCsv && std::fclose(pCsv) != 0) {
        std::fprintf(stderr, "pelora: cannot write %s\n", opt.strCsv.c_str());
        nExit = 1;
    }
    std::fflush(stdout);
    return nExit;
}
