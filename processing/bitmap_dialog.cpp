#include "processing/bitmap_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>

#include "pelora/tavro_plugin.h"
#include "platform/win/time_services.h"
#include "processing/frame_source_factory.h"
#include "processing/text_sink.h"

namespace {

std::atomic<CBitmapDialog::PFNMESSAGEBOX> g_pfnMessageBox{nullptr};
std::mutex g_mxPluginPath;  // guards g_strPluginPath
std::string g_strPluginPath;

// Counter value of the previous paint of any processing dialog (0: none yet).
std::atomic<LONGLONG> g_llLastPaintCount{0};

void DefaultMessageBox(QWidget* pParent, const QString& strText) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Pelora"), strText, QMessageBox::Ok,
                    pParent);
    box.exec();
}

}  // namespace

// The picture area: paints the worker's display buffer unscaled, bottom-up
// rows shown upright, and writes the interval since the previous paint.
class CPictureArea : public QWidget {
public:
    CPictureArea(CBitmapDialog* pDialog, QWidget* pParent) : QWidget(pParent), m_pDialog(pDialog) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        LARGE_INTEGER liNow{}, liFreq{};
        QueryPerformanceCounter(&liNow);
        QueryPerformanceFrequency(&liFreq);
        const LONGLONG llLast = g_llLastPaintCount.exchange(liNow.QuadPart);
        if (llLast > 0) {
            char sz[96];
            const LONGLONG llCount = liNow.QuadPart - llLast;
            std::snprintf(
                sz, sizeof sz, "%10" PRId64 "(count) %10.2f(msec)", static_cast<int64_t>(llCount),
                static_cast<double>(llCount) / static_cast<double>(liFreq.QuadPart) * 1000.0);
            ProcessingDrawTextLine(3, sz, 0);
        }
        CFrameWorker* pWorker = m_pDialog->Worker();
        if (pWorker == nullptr || !pWorker->HasFormat()) {
            painter.fillRect(rect(), Qt::black);
            return;
        }
        const int nWidth = pWorker->Width();
        const int nHeight = pWorker->Height();
        const int nStride = static_cast<int>(TavroRowStride(nWidth));
        const CFrameWorker::CDisplayLock lock(*pWorker);
        // A view of the buffer, no copy: the lock keeps it from changing.
        const QImage img(lock.Bits(), nWidth, nHeight, nStride, QImage::Format_BGR888);
        painter.translate(0, nHeight);
        painter.scale(1, -1);  // the first row in memory is the bottom of the picture
        painter.drawImage(0, 0, img);
    }

private:
    CBitmapDialog* m_pDialog;
};

// The worker's window: forwards each call to the dialog until Detach. The
// worker holds this link, never the dialog itself, so that a dialog can go
// while its worker is stuck in the plug-in (the link then stays behind).
// IFrameWindow methods: worker thread. Detach: GUI thread.
class CWorkerWindowLink : public IFrameWindow {
public:
    explicit CWorkerWindowLink(CBitmapDialog* pDialog) : m_pDialog(pDialog) {}

    // When this returns no call is in the dialog and none will reach it. The
    // dialog's m_bClosing is set first, so a call waiting for the GUI thread
    // gives up within one wait slice.
    void Detach() {
        std::lock_guard<std::mutex> lock(m_mx);
        m_pDialog = nullptr;
    }

    void SetCounterText(const std::string& strText) override {
        Forward([&](CBitmapDialog* p) { p->SetCounterText(strText); });
    }
    void SetSliderRange(LONG nMax, LONG nTickFreq) override {
        Forward([&](CBitmapDialog* p) { p->SetSliderRange(nMax, nTickFreq); });
    }
    void SetSliderPos(LONG nPos) override {
        Forward([&](CBitmapDialog* p) { p->SetSliderPos(nPos); });
    }
    void SetCounterAndSlider(const std::string& strText, LONG nPos) override {
        Forward([&](CBitmapDialog* p) { p->SetCounterAndSlider(strText, nPos); });
    }
    void DisableSlider() override {
        Forward([](CBitmapDialog* p) { p->DisableSlider(); });
    }
    void ResetButtonsAfterRun() override {
        Forward([](CBitmapDialog* p) { p->ResetButtonsAfterRun(); });
    }
    void InvalidatePicture() override {
        Forward([](CBitmapDialog* p) { p->InvalidatePicture(); });
    }
    void DrawTextAt(int y, const std::string& strText) override {
        Forward([&](CBitmapDialog* p) { p->DrawTextAt(y, strText); });
    }

private:
    template <class F>
    void Forward(F f) {
        std::lock_guard<std::mutex> lock(m_mx);
        if (m_pDialog != nullptr) f(m_pDialog);
    }

    std::mutex m_mx;  // guards m_pDialog, held for the whole of each forwarded call
    CBitmapDialog* m_pDialog;
};

namespace {

// Workers abandoned by their dialogs, with their links: each is kept until
// it ends (it may never), then joined and freed. The list itself is never
// freed, so that a worker still stuck at exit is not destroyed under itself.
// GUI thread only.
struct SAbandonedWorker {
    std::unique_ptr<CWorkerWindowLink> pLink;
    std::unique_ptr<CFrameWorker> pWorker;
};
std::vector<SAbandonedWorker>* const g_pAbandonedWorkers = new std::vector<SAbandonedWorker>;

// Joins and frees the abandoned workers that have ended; looks again later
// while any is left (as long as the application runs). GUI thread.
void ReapAbandonedWorkers() {
    std::vector<SAbandonedWorker>& workers = *g_pAbandonedWorkers;
    for (auto it = workers.begin(); it != workers.end();) {
        if (it->pWorker->HasEnded()) {
            it->pWorker->Join();
            it = workers.erase(it);
        } else {
            ++it;
        }
    }
    if (!workers.empty() && QCoreApplication::instance() != nullptr)
        QTimer::singleShot(100, QCoreApplication::instance(), &ReapAbandonedWorkers);
}

}  // namespace

void CBitmapDialog::SetMessageBoxHandler(PFNMESSAGEBOX pfn) { g_pfnMessageBox.store(pfn); }

void CBitmapDialog::SetPluginPath(const std::string& strPath) {
    std::lock_guard<std::mutex> lock(g_mxPluginPath);
    g_strPluginPath = strPath;
}

CBitmapDialog::CBitmapDialog(QWidget* pOwner) : QDialog(nullptr), m_pOwner(pOwner) {
    setWindowTitle(QStringLiteral("Dialog"));
    setModal(false);
    m_stcPicture = new CPictureArea(this, this);
    m_stcInfo = new QLabel(QStringLiteral("スタティック"), this);
    m_stcInfo->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto makeStatic = [this](QLabel*& pLabel) {
        pLabel = new QLabel(QStringLiteral("スタティック"), this);
        pLabel->setAlignment(Qt::AlignCenter);
        pLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    };
    makeStatic(m_stcInfo2);
    makeStatic(m_stcInfo3);
    makeStatic(m_stcCounter);
    m_btnPlayPause = new QPushButton(QStringLiteral("Play/Pause"), this);
    m_btnStop = new QPushButton(QStringLiteral("Stop"), this);
    m_btnClose = new QPushButton(QStringLiteral("Close"), this);
    m_btnForward = new QPushButton(QStringLiteral("Forward"), this);
    m_btnBefore = new QPushButton(QStringLiteral("Before"), this);
    m_btnLogRec = new QPushButton(QStringLiteral("LogRec"), this);
    m_btnClip = new QPushButton(QStringLiteral("Clip"), this);
    for (QPushButton* pButton :
         {m_btnPlayPause, m_btnStop, m_btnClose, m_btnForward, m_btnBefore, m_btnLogRec, m_btnClip})
        pButton->setAutoDefault(false);
    m_sldPosition = new QSlider(Qt::Horizontal, this);
    m_sldPosition->setTickPosition(QSlider::TicksAbove);

    connect(m_btnPlayPause, &QPushButton::clicked, this, &CBitmapDialog::OnPlayPause);
    connect(m_btnStop, &QPushButton::clicked, this, &CBitmapDialog::OnStop);
    connect(m_btnClose, &QPushButton::clicked, this, &CBitmapDialog::OnClose);
    connect(m_btnForward, &QPushButton::clicked, this, &CBitmapDialog::OnForward);
    connect(m_btnBefore, &QPushButton::clicked, this, &CBitmapDialog::OnBefore);
    connect(m_sldPosition, &QSlider::actionTriggered, this, &CBitmapDialog::OnSliderAction);
}

CBitmapDialog::~CBitmapDialog() {
    // Normally the worker has ended and been released. If the dialog goes
    // some other way (the application quits with it open, or while Close
    // still waits for a worker stuck in the plug-in), stop the worker here,
    // waiting a bounded time: its synchronous calls give up once m_bClosing
    // is set.
    m_bClosing.store(true);
    if (m_pWorker) {
        m_runFlag.Set(0);
        m_pWorker->Wake();
        QElapsedTimer timer;
        timer.start();
        while (m_pWorker->HasStarted() && !m_pWorker->HasEnded() && timer.elapsed() < kCloseWaitMs)
            QThread::msleep(5);
        if (m_pWorker->HasStarted() && !m_pWorker->HasEnded()) {
            AbandonWorker();
        } else {
            m_pWorker->Join();
            m_pWorker.reset();
        }
    }
    UnregisterWindowHandle(m_hWndDisplay);
    m_plugin.Unload();
}

void CBitmapDialog::AbandonWorker() {
    m_pWindowLink->Detach();
    g_pAbandonedWorkers->push_back(
        SAbandonedWorker{std::move(m_pWindowLink), std::move(m_pWorker)});
    m_plugin.Abandon();  // its code stays loaded under the worker
    if (g_pAbandonedWorkers->size() == 1 && QCoreApplication::instance() != nullptr)
        QTimer::singleShot(100, QCoreApplication::instance(), &ReapAbandonedWorkers);
}

size_t CBitmapDialog::AbandonedWorkerCount() { return g_pAbandonedWorkers->size(); }

void CBitmapDialog::RepaintFromHandle(void* pContext) {
    // Any thread, possibly with the renderer's locks held: only queue.
    static_cast<CBitmapDialog*>(pContext)->InvalidatePicture();
}

void CBitmapDialog::SetStillFrame(const BITMAPINFO& bmi, std::vector<BYTE> bits) {
    m_bmiStill = bmi;
    m_stillBits = std::move(bits);
}

void CBitmapDialog::ShowMessage(const QString& strText) {
    PFNMESSAGEBOX pfn = g_pfnMessageBox.load();
    (pfn ? pfn : &DefaultMessageBox)(this, strText);
}

void CBitmapDialog::showEvent(QShowEvent* pEvent) {
    QDialog::showEvent(pEvent);
    if (!m_bSetUpTried) {
        m_bSetUpTried = true;  // once per dialog: a later show keeps the running worker
        SetUp();
    }
}

void CBitmapDialog::SetUp() {
    // Plug-in: a message, then the dialog runs without processing.
    std::string strPluginPath;
    {
        std::lock_guard<std::mutex> lock(g_mxPluginPath);
        strPluginPath = g_strPluginPath;
    }
    const CPluginModule::EResult eLoad = m_plugin.Load(strPluginPath);
    if (eLoad != CPluginModule::EResult::Loaded)
        ShowMessage(QString::fromStdString(CPluginModule::MessageFor(eLoad)));

    m_hWndDisplay = RegisterWindowHandle(&CBitmapDialog::RepaintFromHandle, this);
    m_pWorker = std::make_unique<CFrameWorker>();
    m_pWorker->SetPlugin(m_plugin.Function());

    SFrameSourceChoice choice;
    choice.nKind = m_nSourceKind;
    choice.strPath = m_strSourcePath;
    choice.nSeekMode = m_nSeekMode;
    choice.bmiStill = m_bmiStill;
    choice.pStillBits = m_stillBits.data();
    choice.cbStillBits = m_stillBits.size();
    choice.pVideoInput = m_pVideoInput;
    std::unique_ptr<IFrameSource> pSource = CreateFrameSource(choice);
    if (!pSource) {
        // The device names other than the USB camera have no frame source.
        ShowMessage(QStringLiteral("このソースは表示できません"));
        ReleaseDialog();
        return;
    }
    m_pWorker->SetSource(std::move(pSource));
    std::string strMessage;
    if (FAILED(m_pWorker->ProbeFormat(m_hWndDisplay, &strMessage))) {
        ShowMessage(QString::fromStdString(strMessage));
        ReleaseDialog();
        return;
    }

    Layout(m_pWorker->Width(), m_pWorker->Height());
    setWindowTitle(QString::fromStdString(m_strSourcePath));

    m_strRunFlagName = CRunFlag::NextName();
    m_runFlag = CRunFlag::Create(m_strRunFlagName, 1);
    m_runFlag.Set(1);
    m_pWindowLink = std::make_unique<CWorkerWindowLink>(this);
    m_bSetUp = m_pWorker->Start(m_pWindowLink.get(), m_strRunFlagName, m_hWndDisplay);
}

void CBitmapDialog::Layout(int nPictureWidth, int H) {
    // The controls are placed from the right edge; below this width the
    // right-hand buttons would land on the left-hand ones (at 320 pixels the
    // Close button lay half under Stop). A narrower picture keeps its size
    // and the controls get this width.
    const int W = std::max(nPictureWidth, kMinControlsWidth);
    const int d = (W - 10) / 5;
    // Beside the owner window: its right edge, its top edge.
    if (m_pOwner) {
        const QRect rcOwner = m_pOwner->frameGeometry();
        move(rcOwner.right() + 1, rcOwner.top());
    }
    setFixedSize(W + 15, H + 150);
    m_stcPicture->setGeometry(5, 5, nPictureWidth, H);
    m_stcInfo->setGeometry(5, H + 95, 135, 25);
    m_stcInfo2->setGeometry(5, H + 10, d, 35);
    m_stcInfo3->setGeometry(d + 10, H + 10, d, 35);
    m_stcCounter->setGeometry(2 * d + 15, H + 10, W - 2 * d - 10, 35);
    m_btnPlayPause->setGeometry(W - 220, H + 95, 50, 25);
    m_btnStop->setGeometry(W - 115, H + 95, 50, 25);
    m_btnClose->setGeometry(W - 45, H + 95, 50, 25);
    m_btnBefore->setGeometry(W - 270, H + 95, 50, 25);
    m_btnForward->setGeometry(W - 170, H + 95, 50, 25);
    m_btnLogRec->setGeometry(160, H + 95, 60, 25);
    m_btnClip->setGeometry(230, H + 95, 60, 25);
    m_sldPosition->setGeometry(5, H + 50, W, 40);

    for (QLabel* pLabel : {m_stcInfo, m_stcInfo2, m_stcInfo3, m_stcCounter})
        pLabel->setText(QString());
    m_btnPlayPause->setText(m_nSourceKind == SOURCE_FILE ? QStringLiteral("再生")
                                                         : QStringLiteral("開始"));
    m_btnPlayPause->setEnabled(true);
    m_btnStop->setText(QStringLiteral("停止"));
    m_btnStop->setEnabled(false);
    m_btnClose->setText(QStringLiteral("閉じる"));
    m_btnClose->setEnabled(true);
    m_btnBefore->setText(QStringLiteral("-1Frame"));
    m_btnBefore->setEnabled(false);
    m_btnForward->setText(QStringLiteral("+1Frame"));
    m_btnForward->setEnabled(false);
    m_btnLogRec->setText(QStringLiteral("記録開始"));
    m_btnLogRec->setEnabled(false);
    m_btnClip->setText(QStringLiteral("コピー"));
}

// ---- buttons and slider (GUI thread) ----

void CBitmapDialog::OnPlayPause() {
    if (!m_pWorker || !m_bSetUp) return;
    // Pause when playback has been asked for and not paused yet (the worker
    // may not have started the graph at the moment of the click).
    if (m_pWorker->IsPlaying() && !m_pWorker->IsPauseRequested() && m_nSourceKind == SOURCE_FILE) {
        m_btnPlayPause->setText(QStringLiteral("再生"));
        m_btnForward->setEnabled(true);
        m_btnBefore->setEnabled(true);
        m_btnStop->setEnabled(false);
        m_pWorker->RequestPause();
        return;
    }
    if (m_nSourceKind == SOURCE_FILE)
        m_btnPlayPause->setText(QStringLiteral("一時停止"));
    else
        m_btnPlayPause->setEnabled(false);
    m_btnClose->setEnabled(false);
    m_btnStop->setEnabled(true);
    m_btnForward->setEnabled(false);
    m_btnBefore->setEnabled(false);
    m_pWorker->RequestPlay();
}

void CBitmapDialog::OnStop() {
    if (!m_pWorker) return;
    m_pWorker->RequestStop();
    if (m_nSourceKind == SOURCE_FILE)
        m_btnPlayPause->setText(QStringLiteral("再生"));
    else
        m_btnPlayPause->setEnabled(true);
    m_btnStop->setEnabled(false);
    m_btnClose->setEnabled(true);
}

void CBitmapDialog::OnForward() {
    if (m_pWorker) m_pWorker->StepForward();
}

void CBitmapDialog::OnBefore() {
    if (m_pWorker) m_pWorker->StepBackward();
}

void CBitmapDialog::OnSliderAction(int) {
    if (!m_pWorker || m_nSourceKind != SOURCE_FILE) return;
    // sliderPosition() already holds the position the action moves to.
    m_stcCounter->setText(
        QString::fromStdString(m_pWorker->MoveToSliderPos(m_sldPosition->sliderPosition())));
}

// ---- closing (GUI thread) ----

void CBitmapDialog::closeEvent(QCloseEvent* pEvent) {
    // The caption-bar close goes the same safe way as the Close button.
    pEvent->ignore();
    OnClose();
}

void CBitmapDialog::reject() { OnClose(); }

void CBitmapDialog::OnClose() {
    if (m_bClosing.exchange(true)) return;
    if (!m_pWorker || !m_pWorker->HasStarted()) {
        ReleaseDialog();
        return;
    }
    m_runFlag.Set(0);
    m_pWorker->Wake();
    // Wait for the worker while dispatching events, so that its synchronous
    // calls can still complete: 100 ms, then up to 2000 ms more.
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (m_pWorker->HasEnded() || timer.elapsed() >= 100 + kCloseWaitMs) loop.quit();
    });
    poll.start();
    if (!m_pWorker->HasEnded()) loop.exec();
    poll.stop();
    if (m_pWorker->HasEnded()) {
        ReleaseDialog();
        return;
    }
    // The worker did not end (stuck in the plug-in): say so, hide, and free
    // everything only once it has ended.
    ShowMessage(QStringLiteral("スレッド強制停止"));
    hide();
    auto* pWaiter = new QTimer(this);
    pWaiter->setInterval(50);
    connect(pWaiter, &QTimer::timeout, this, [this, pWaiter] {
        if (!m_pWorker || m_pWorker->HasEnded()) {
            pWaiter->stop();
            ReleaseDialog();
        }
    });
    pWaiter->start();
}

void CBitmapDialog::ReleaseDialog() {
    if (m_bReleased) return;
    m_bReleased = true;
    m_bClosing.store(true);
    if (m_pWorker) {
        m_pWorker->Join();  // has ended (or never started)
        m_pWorker.reset();
    }
    m_pWindowLink.reset();
    UnregisterWindowHandle(m_hWndDisplay);
    m_hWndDisplay = nullptr;
    m_plugin.Unload();
    m_runFlag.Close();
    hide();
    deleteLater();
}

// ---- IFrameWindow (worker thread) ----

template <class F>
void CBitmapDialog::CallOnGui(F f) {
    if (QThread::currentThread() == thread()) {
        f();
        return;
    }
    struct SCall {
        std::mutex mx;
        std::condition_variable cv;
        bool bDone = false;
    };
    auto pCall = std::make_shared<SCall>();
    QMetaObject::invokeMethod(
        this,
        [pCall, f] {
            f();
            std::lock_guard<std::mutex> lock(pCall->mx);
            pCall->bDone = true;
            pCall->cv.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(pCall->mx);
    while (!pCall->bDone && !m_bClosing.load())
        pCall->cv.wait_for(lock, std::chrono::milliseconds(20));
}

void CBitmapDialog::SetCounterText(const std::string& strText) {
    const QString str = QString::fromStdString(strText);
    CallOnGui([this, str] { m_stcCounter->setText(str); });
}

void CBitmapDialog::SetSliderRange(LONG nMax, LONG nTickFreq) {
    CallOnGui([this, nMax, nTickFreq] {
        m_sldPosition->setRange(0, nMax);
        m_sldPosition->setTickInterval(nTickFreq);
    });
}

void CBitmapDialog::SetSliderPos(LONG nPos) {
    CallOnGui([this, nPos] {
        if (!m_sldPosition->isSliderDown()) m_sldPosition->setValue(nPos);
    });
}

void CBitmapDialog::SetCounterAndSlider(const std::string& strText, LONG nPos) {
    const QString str = QString::fromStdString(strText);
    CallOnGui([this, str, nPos] {
        m_stcCounter->setText(str);
        if (!m_sldPosition->isSliderDown()) m_sldPosition->setValue(nPos);
    });
}

void CBitmapDialog::DisableSlider() {
    CallOnGui([this] { m_sldPosition->setEnabled(false); });
}

void CBitmapDialog::ResetButtonsAfterRun() {
    CallOnGui([this] {
        m_btnPlayPause->setText(m_nSourceKind == SOURCE_FILE ? QStringLiteral("再生")
                                                             : QStringLiteral("開始"));
        m_btnPlayPause->setEnabled(true);
        m_btnClose->setEnabled(true);
        m_btnStop->setEnabled(false);
        m_btnForward->setEnabled(false);
        m_btnBefore->setEnabled(false);
    });
}

void CBitmapDialog::InvalidatePicture() {
    if (m_bRepaintQueued.exchange(true)) return;  // one repaint covers them all
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_bRepaintQueued.store(false);
            m_stcPicture->update();
        },
        Qt::QueuedConnection);
}

void CBitmapDialog::DrawTextAt(int y, const std::string& strText) {
    {
        std::lock_guard<std::mutex> lock(m_mxLines);
        m_pendingLines[y] = strText;
        if (m_bLinesQueued) return;
        m_bLinesQueued = true;
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            // At most one flush per display period; the latest line of each
            // row wins.
            const qint64 llNow = QDateTime::currentMSecsSinceEpoch();
            const qint64 llWait = m_llLastLinesFlushMs + CFrameWorker::kDisplayPeriodMs - llNow;
            if (llWait > 0)
                QTimer::singleShot(static_cast<int>(llWait), this, [this] { FlushLines(); });
            else
                FlushLines();
        },
        Qt::QueuedConnection);
}

void CBitmapDialog::FlushLines() {
    std::map<int, std::string> lines;
    {
        std::lock_guard<std::mutex> lock(m_mxLines);
        lines.swap(m_pendingLines);
        m_bLinesQueued = false;
    }
    m_llLastLinesFlushMs = QDateTime::currentMSecsSinceEpoch();
    for (const auto& [y, text] : lines) ProcessingDrawTextAt(y, text, 0);
}
