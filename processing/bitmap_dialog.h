// processing: CBitmapDialog, the modeless processing dialog that shows and
// processes one source (a video file, a still image held in memory, or
// camera device 0 of the capture library).
//
// How to open a source (GUI thread):
//     auto* pDialog = new CBitmapDialog(pMainWindow);   // hidden; pMainWindow may be null
//     pDialog->m_strSourcePath = path;                  // also the caption
//     pDialog->m_nSourceKind = SOURCE_FILE;             // or SOURCE_STILL after SetStillFrame
//     pDialog->m_nSeekMode = SEEK_COMPLETION;           // SEEK_POLL for MP4
//     pDialog->show();                                  // runs the set-up
// A still image (app's LoadStillFrame gives the CStillFrame):
//     pDialog->SetStillFrame(frame.m_bmi, frame.m_pBits.get(), frame.m_bmi.bmiHeader.biSizeImage);
//     pDialog->m_nSourceKind = SOURCE_STILL;  // path as caption, seek mode SEEK_NONE
// The USB camera (the application's capture library, which opened the device):
//     pDialog->SetVideoInput(&videoInput);
//     pDialog->m_nSourceKind = SOURCE_CAMERA;  // path "VIDEO_IN", seek mode SEEK_NONE
// The dialog deletes itself when it is closed (or when its set-up fails).
//
// Showing runs the set-up once: the plug-in is loaded (a message when it or
// its export is missing; the dialog then shows frames unprocessed), the
// frame format is learned from a probe graph, the buffers are allocated,
// the dialog lays itself out around the frame, its own run flag
// "SHORIFLAG<serial>" is created and the worker (CFrameWorker) is started.
//
// The worker reaches the dialog through IFrameWindow. The counter, slider
// and button calls are synchronous: they run on the GUI thread while the
// worker waits, in slices, giving up once the dialog is closing; the GUI
// thread never waits for the worker without dispatching events. Repaints
// and status lines are queued and coalesced to the display's rate.
//
// Closing (Close button, caption bar, Escape) clears the run flag and waits
// up to 2100 ms for the worker while dispatching events. A worker that does
// not end by then (stuck in the plug-in) gets "スレッド強制停止": the dialog
// hides and frees its buffers, graph and plug-in only once that worker has
// ended.
//
// Destroying the dialog (the program ending, with the dialog open or still
// waiting for such a worker) waits at most kCloseWaitMs more. A worker still
// stuck then is abandoned: it keeps its own object, the plug-in's code and
// its window link for the rest of the process, and the link no longer leads
// to the dialog, so the worker can come back from the plug-in (or never) and
// end on its own without touching what is gone. The worker reaches the
// dialog only through that link (CWorkerWindowLink).
//
// Threads: everything here runs on the GUI thread except the IFrameWindow
// methods, which the worker calls.
// May include: Qt Widgets, processing core, platform/*. Never app/.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "processing/frame_window.h"
#include "processing/frame_worker.h"
#include "processing/plugin_module.h"
#include "processing/processing_types.h"
#include "processing/run_flag.h"
#include "platform/win/window_handle.h"

class QLabel;
class QPushButton;
class QSlider;
class CWorkerWindowLink;
class VideoInput;

class CBitmapDialog : public QDialog, public IFrameWindow {
    Q_OBJECT

public:
    // Control ids of the dialog template.
    enum : int {
        IDC_PICTURE = 1000,
        IDC_INFO = 1001,
        IDC_PLAYPAUSE = 1002,
        IDC_STOP = 1003,
        IDC_CLOSE = 1004,
        IDC_FORWARD = 1005,
        IDC_BEFORE = 1006,
        IDC_LOGREC = 1007,
        IDC_CLIP = 1008,
        IDC_POSITION = 1009,
        IDC_INFO2 = 1010,
        IDC_INFO3 = 1011,
        IDC_COUNTER = 1012,
    };

    // GUI thread. Created hidden; pOwner (not a Qt parent, may be null) is
    // the window the dialog places itself beside.
    explicit CBitmapDialog(QWidget* pOwner = nullptr);
    ~CBitmapDialog() override;

    // Source, written before show().
    std::string m_strSourcePath;
    SourceKind m_nSourceKind = SOURCE_NONE;
    SeekMode m_nSeekMode = SEEK_NONE;
    // Kind SOURCE_STILL: the picture (24-bit, bottom-up, biSizeImage bytes),
    // copied. Play then runs the plug-in on it on every pass, like a paused
    // clip; Stop shows it unprocessed again.
    void SetStillFrame(const BITMAPINFO& bmi, std::vector<BYTE> bits);
    void SetStillFrame(const BITMAPINFO& bmi, const BYTE* pBits, size_t cbBits) {
        SetStillFrame(bmi, std::vector<BYTE>(pBits, pBits + cbBits));
    }
    // Kind SOURCE_CAMERA: the capture library to read device 0 from; it
    // outlives the dialog (the application's object). Before show().
    void SetVideoInput(VideoInput* pVideoInput) { m_pVideoInput = pVideoInput; }
    // The plug-in to load instead of the usual lookup (empty: the usual one).
    static void SetPluginPath(const std::string& strPath);

    // Message boxes go through this (tests replace it). Default: a modal
    // QMessageBox titled "Pelora" with an OK button.
    using PFNMESSAGEBOX = void (*)(QWidget* pParent, const QString& strText);
    static void SetMessageBoxHandler(PFNMESSAGEBOX pfn);

    // Milliseconds Close waits for the worker before the forced stop.
    static constexpr int kCloseWaitMs = 2000;
    static constexpr int kMinControlsWidth = 600;  // the buttons' row fits without overlap

    // Controls (children of the dialog), as the template names them.
    QPushButton* m_btnClip = nullptr;
    QSlider* m_sldPosition = nullptr;
    QPushButton* m_btnLogRec = nullptr;
    QPushButton* m_btnPlayPause = nullptr;
    QPushButton* m_btnStop = nullptr;
    QPushButton* m_btnClose = nullptr;
    QPushButton* m_btnBefore = nullptr;
    QPushButton* m_btnForward = nullptr;
    QWidget* m_stcPicture = nullptr;  // the picture area (paints the display buffer)
    QLabel* m_stcInfo = nullptr;
    QLabel* m_stcInfo2 = nullptr;
    QLabel* m_stcInfo3 = nullptr;
    QLabel* m_stcCounter = nullptr;

    // For tests and the shell: the worker (null before set-up or after release).
    CFrameWorker* Worker() const { return m_pWorker.get(); }
    // The set-up ran and started a worker.
    bool IsSetUp() const { return m_bSetUp; }
    // The run flag's name (empty before set-up).
    const std::string& RunFlagName() const { return m_strRunFlagName; }
    // Workers left behind by destroyed dialogs that have not ended yet (an
    // ended one is joined and freed within about 100 ms). GUI thread.
    static size_t AbandonedWorkerCount();

    // IFrameWindow (worker thread).
    void SetCounterText(const std::string& strText) override;
    void SetSliderRange(LONG nMax, LONG nTickFreq) override;
    void SetSliderPos(LONG nPos) override;
    void SetCounterAndSlider(const std::string& strText, LONG nPos) override;
    void DisableSlider() override;
    void ResetButtonsAfterRun() override;
    void InvalidatePicture() override;
    void DrawTextAt(int y, const std::string& strText) override;

public slots:
    void OnPlayPause();
    void OnStop();
    void OnClose();
    void OnForward();
    void OnBefore();

protected:
    void showEvent(QShowEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
    void reject() override;

private:
    void SetUp();
    void Layout(int nPictureWidth, int nHeight);
    void OnSliderAction(int nAction);
    // Frees the worker, buffers, plug-in and run flag, then deletes the
    // dialog (later). The worker has ended.
    void ReleaseDialog();
    // The destructor's way with a worker that does not end: it is left
    // running, cut off from the dialog (see the header comment).
    void AbandonWorker();
    void ShowMessage(const QString& strText);
    // Runs f on the GUI thread and waits for it, in slices, until it ran or
    // the dialog is closing. Worker thread.
    template <class F>
    void CallOnGui(F f);
    void FlushLines();

    // The handle the grab renderer invalidates after each rendered sample
    // (registered at set-up, unregistered once the worker has ended).
    HWND m_hWndDisplay = nullptr;
    static void RepaintFromHandle(void* pContext);

    QPointer<QWidget> m_pOwner;
    CPluginModule m_plugin;
    CRunFlag m_runFlag;
    std::string m_strRunFlagName;
    std::unique_ptr<CWorkerWindowLink> m_pWindowLink;  // the worker's IFrameWindow
    std::unique_ptr<CFrameWorker> m_pWorker;
    VideoInput* m_pVideoInput = nullptr;  // borrowed; set before show()
    BITMAPINFO m_bmiStill{};
    std::vector<BYTE> m_stillBits;
    bool m_bSetUp = false;
    bool m_bSetUpTried = false;
    bool m_bReleased = false;

    std::atomic<bool> m_bClosing{false};        // Close has begun: blocking calls give up
    std::atomic<bool> m_bRepaintQueued{false};  // a picture repaint is on its way to the GUI thread
    std::mutex m_mxLines;                       // guards m_pendingLines, m_bLinesQueued
    std::map<int, std::string> m_pendingLines;  // latest status line per pixel row
    bool m_bLinesQueued = false;
    qint64 m_llLastLinesFlushMs = 0;  // GUI thread only
};
