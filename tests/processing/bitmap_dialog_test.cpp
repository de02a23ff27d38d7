// The processing dialog on the offscreen platform, with the fake file graph.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QThread>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "fake_file_graph.h"
#include "processing/bitmap_dialog.h"
#include "processing/text_sink.h"
#include "tools/frame_pattern.h"

namespace {

class CQtEnvironment : public testing::Environment {
public:
    void SetUp() override {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "test_bitmap_dialog";
        static char* argv[] = {name, nullptr};
        m_pApp = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { m_pApp.reset(); }

private:
    std::unique_ptr<QApplication> m_pApp;
};
[[maybe_unused]] testing::Environment* const g_pQtEnvironment =
    testing::AddGlobalTestEnvironment(new CQtEnvironment);

std::mutex g_mxRecorded;  // guards g_messages, g_lines
std::vector<QString> g_messages;
std::vector<std::pair<int, std::string>> g_lines;

void RecordMessage(QWidget*, const QString& strText) {
    std::lock_guard<std::mutex> lock(g_mxRecorded);
    g_messages.push_back(strText);
}
void RecordLine(int y, std::string_view text, COLORREF) {
    std::lock_guard<std::mutex> lock(g_mxRecorded);
    g_lines.emplace_back(y, std::string(text));
}
std::vector<QString> Messages() {
    std::lock_guard<std::mutex> lock(g_mxRecorded);
    return g_messages;
}
std::vector<std::string> LinesAt(int y) {
    std::lock_guard<std::mutex> lock(g_mxRecorded);
    std::vector<std::string> v;
    for (const auto& [ly, text] : g_lines)
        if (ly == y) v.push_back(text);
    return v;
}

// The stuck plug-in's switch (tests/processing/stuck_plugin.cpp).
using PFNSETBLOCKING = void (*)(int);

class BitmapDialogTest : public testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> lock(g_mxRecorded);
            g_messages.clear();
            g_lines.clear();
        }
        CBitmapDialog::SetMessageBoxHandler(&RecordMessage);
        SetTextSink(&RecordLine);
        SetFileGraphFactory(&CFakeFileGraph::Factory);
        CBitmapDialog::SetPluginPath(STUCK_PLUGIN_PATH);
        SetBlocking(0);
    }
    void TearDown() override {
        SetBlocking(0);
        for (int i = 0; i < 200 && CFakeFileGraph::LiveCount() > 0; ++i) Pump(10);
        SetTextSink(nullptr);
    }
    static void SetBlocking(int n) {
        void* h = dlopen(STUCK_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
        if (h == nullptr) return;  // not loaded: nothing blocks
        auto pfn = reinterpret_cast<PFNSETBLOCKING>(dlsym(h, "StuckPluginSetBlocking"));
        if (pfn) pfn(n);
        dlclose(h);
    }
    static void Pump(int nMs) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < nMs) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QThread::msleep(1);
        }
    }
    template <class Pred>
    static bool PumpUntil(Pred pred, int nMs = 30000) {
        QElapsedTimer t;
        t.start();
        while (!pred()) {
            if (t.elapsed() > nMs) return false;
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QThread::msleep(1);
        }
        return true;
    }
    // A shown dialog on a fake clip.
    static QPointer<CBitmapDialog> Open(const SFakeClip& clip) {
        CFakeFileGraph::SetClip(clip);
        auto* pDialog = new CBitmapDialog();
        pDialog->m_strSourcePath = "/clips/sample.avi";
        pDialog->m_nSourceKind = SOURCE_FILE;
        pDialog->m_nSeekMode = clip.bFrameFormat ? SEEK_COMPLETION : SEEK_POLL;
        pDialog->show();
        return pDialog;
    }
    static bool WaitReady(CBitmapDialog* pDialog) {
        return PumpUntil([&] { return pDialog->Worker() && pDialog->Worker()->IsReady(); });
    }
    static void CloseAndWait(QPointer<CBitmapDialog>& pDialog) {
        if (pDialog) pDialog->OnClose();
        PumpUntil([&] { return pDialog.isNull(); });
    }
    struct SState {
        QString strPlay;
        bool bPlay, bStop, bClose, bForward, bBefore;
    };
    static SState State(CBitmapDialog* p) {
        return {p->m_btnPlayPause->text(), p->m_btnPlayPause->isEnabled(), p->m_btnStop->isEnabled(),
                p->m_btnClose->isEnabled(), p->m_btnForward->isEnabled(), p->m_btnBefore->isEnabled()};
    }
};

SFakeClip Clip640(int nFrames, double dSpeed) {
    SFakeClip clip;
    clip.nWidth = 640;
    clip.nHeight = 480;
    clip.nFrames = nFrames;
    clip.dSpeed = dSpeed;
    return clip;
}

TEST_F(BitmapDialogTest, LaysOutAroundThe640x480FrameWithTheCaptionsOfTheTemplate) {
    QPointer<CBitmapDialog> pDialog = Open(Clip640(30, 1.0));
    ASSERT_TRUE(WaitReady(pDialog));
    EXPECT_EQ(pDialog->size(), QSize(655, 630));
    EXPECT_EQ(pDialog->m_stcCounter->geometry(), QRect(267, 490, 378, 35));
    EXPECT_EQ(pDialog->m_stcPicture->geometry(), QRect(5, 5, 640, 480));
    EXPECT_EQ(pDialog->m_stcInfo2->geometry(), QRect(5, 490, 126, 35));
    EXPECT_EQ(pDialog->m_stcInfo3->geometry(), QRect(136, 490, 126, 35));
    EXPECT_EQ(pDialog->m_sldPosition->geometry(), QRect(5, 530, 640, 40));
    EXPECT_EQ(pDialog->m_btnPlayPause->geometry(), QRect(420, 575, 50, 25));
    EXPECT_EQ(pDialog->m_btnClose->geometry(), QRect(595, 575, 50, 25));
    EXPECT_EQ(pDialog->windowTitle(), QStringLiteral("/clips/sample.avi"));
    EXPECT_EQ(pDialog->m_btnLogRec->text(), QStringLiteral("記録開始"));
    EXPECT_FALSE(pDialog->m_btnLogRec->isEnabled());
    EXPECT_EQ(pDialog->m_btnClip->text(), QStringLiteral("コピー"));
    EXPECT_TRUE(pDialog->m_btnClip->isEnabled());
    EXPECT_EQ(pDialog->m_btnForward->text(), QStringLiteral("+1Frame"));
    EXPECT_EQ(pDialog->m_btnBefore->text(), QStringLiteral("-1Frame"));
    EXPECT_EQ(pDialog->m_btnStop->text(), QStringLiteral("停止"));
    EXPECT_EQ(pDialog->m_btnClose->text(), QStringLiteral("閉じる"));
    const SState s = State(pDialog);
    EXPECT_EQ(s.strPlay, QStringLiteral("再生"));
    EXPECT_TRUE(s.bPlay);
    EXPECT_FALSE(s.bStop);
    EXPECT_TRUE(s.bClose);
    EXPECT_FALSE(s.bForward);
    EXPECT_FALSE(s.bBefore);
    EXPECT_TRUE(PumpUntil([&] {
        // The first pass replaces the initial "0/..." with the frame counter.
        return pDialog->m_stcCounter->text() == QStringLiteral("      0/     30 (0:00:00:00 / 0:00:01:00)");
    }, 3000)) << pDialog->m_stcCounter->text().toStdString();
    EXPECT_EQ(pDialog->m_sldPosition->maximum(), 30);
    EXPECT_TRUE(Messages().empty());
    CloseAndWait(pDialog);
}

TEST_F(BitmapDialogTest, ButtonStatesFollowPlayPauseStopAndTheEndOfTheStream) {
    QPointer<CBitmapDialog> pDialog = Open(Clip640(600, 1.0));
    ASSERT_TRUE(WaitReady(pDialog));
    pDialog->m_btnPlayPause->click();
    SState s = State(pDialog);
    EXPECT_EQ(s.strPlay, QStringLiteral("一時停止"));
    EXPECT_TRUE(s.bPlay);
    EXPECT_TRUE(s.bStop);
    EXPECT_FALSE(s.bClose);
    EXPECT_FALSE(s.bForward);
    EXPECT_FALSE(s.bBefore);
    ASSERT_TRUE(PumpUntil([&] { return pDialog->Worker()->Position() >= 3; }));

    pDialog->m_btnPlayPause->click();  // pause
    s = State(pDialog);
    EXPECT_EQ(s.strPlay, QStringLiteral("再生"));
    EXPECT_FALSE(s.bStop);
    EXPECT_FALSE(s.bClose);
    EXPECT_TRUE(s.bForward);
    EXPECT_TRUE(s.bBefore);
    ASSERT_TRUE(PumpUntil([&] { return !pDialog->Worker()->IsRunning(); }));
    const LONGLONG llPaused = pDialog->Worker()->Position();
    pDialog->m_btnForward->click();
    EXPECT_EQ(pDialog->Worker()->Position(), llPaused + 1);

    pDialog->m_btnPlayPause->click();  // resume
    EXPECT_EQ(pDialog->m_btnPlayPause->text(), QStringLiteral("一時停止"));
    pDialog->m_btnStop->click();
    s = State(pDialog);
    EXPECT_EQ(s.strPlay, QStringLiteral("再生"));
    EXPECT_FALSE(s.bStop);
    EXPECT_TRUE(s.bClose);
    EXPECT_TRUE(PumpUntil([&] { return !pDialog->Worker()->IsPlaying() && pDialog->Worker()->Position() == 0; }));
    CloseAndWait(pDialog);

    // End of the stream.
    pDialog = Open(Clip640(10, 4.0));
    ASSERT_TRUE(WaitReady(pDialog));
    pDialog->m_btnPlayPause->click();
    ASSERT_TRUE(PumpUntil([&] { return !LinesAt(230).empty(); }));
    EXPECT_TRUE(PumpUntil([&] { return pDialog->m_btnClose->isEnabled(); }));
    s = State(pDialog);
    EXPECT_EQ(s.strPlay, QStringLiteral("再生"));
    EXPECT_FALSE(s.bStop);
    EXPECT_TRUE(s.bClose);
    EXPECT_FALSE(s.bForward);
    EXPECT_FALSE(s.bBefore);
    EXPECT_EQ(LinesAt(210), std::vector<std::string>{"処理フレーム数 10 Frame"});
    CloseAndWait(pDialog);
}

TEST_F(BitmapDialogTest, PaintsTheFrameUprightWithItsColoursAndTimesThePaints) {
    SFakeClip clip = Clip640(30, 1.0);
    QPointer<CBitmapDialog> pDialog = Open(clip);
    ASSERT_TRUE(WaitReady(pDialog));
    pDialog->m_sldPosition->setSliderPosition(12);
    pDialog->m_sldPosition->triggerAction(QAbstractSlider::SliderMove);
    EXPECT_EQ(pDialog->Worker()->Position(), 12);
    // What is on screen, read back like a decoded frame (bottom-up BGR).
    auto shownIndex = [&] {
        const QImage img = pDialog->m_stcPicture->grab().toImage().convertToFormat(QImage::Format_BGR888);
        const int nStride = (3 * img.width() + 3) & ~3;
        std::vector<uint8_t> bits(static_cast<size_t>(nStride) * img.height());
        for (int y = 0; y < img.height(); ++y)
            std::memcpy(&bits[static_cast<size_t>(img.height() - 1 - y) * nStride], img.constScanLine(y),
                        3 * img.width());
        return ReadFrameIndex(bits.data(), img.width(), img.height(), nStride);
    };
    EXPECT_TRUE(PumpUntil([&] { return shownIndex() == 12; }));
    // Two paints at least: the second writes the interval line on row 30.
    pDialog->m_stcPicture->repaint();
    EXPECT_FALSE(LinesAt(30).empty());
    CloseAndWait(pDialog);
}

TEST_F(BitmapDialogTest, CloseDuringPlaybackEndsTheWorkerQuietlyAndQuickly) {
    for (bool bCaptionBar : {false, true}) {
        SCOPED_TRACE(bCaptionBar ? "caption bar" : "Close button");
        QPointer<CBitmapDialog> pDialog = Open(Clip640(3000, 1.0));
        ASSERT_TRUE(WaitReady(pDialog));
        pDialog->m_btnPlayPause->click();
        ASSERT_TRUE(PumpUntil([&] { return pDialog->Worker()->IsRunning(); }));
        if (bCaptionBar)
            pDialog->close();
        else
            pDialog->OnClose();  // the button is disabled while playing: press it the way Close does
        // The worker saw the stop request within the close wait: no forced
        // stop message, and the dialog goes.
        EXPECT_TRUE(PumpUntil([&] { return pDialog.isNull(); }, 20000));
        EXPECT_TRUE(Messages().empty());
    }
}

TEST_F(BitmapDialogTest, TwoDialogsCloseIndependently) {
    QPointer<CBitmapDialog> pFirst = Open(Clip640(3000, 1.0));
    QPointer<CBitmapDialog> pSecond = Open(Clip640(3000, 1.0));
    ASSERT_TRUE(WaitReady(pFirst));
    ASSERT_TRUE(WaitReady(pSecond));
    EXPECT_NE(pFirst->RunFlagName(), pSecond->RunFlagName());
    pSecond->m_btnPlayPause->click();
    CloseAndWait(pFirst);
    ASSERT_TRUE(pSecond);
    const LONGLONG llAt = pSecond->Worker()->Position();
    EXPECT_TRUE(PumpUntil([&] { return pSecond->Worker()->Position() > llAt + 2; }));
    EXPECT_FALSE(pSecond->Worker()->HasEnded());
    CloseAndWait(pSecond);
}

TEST_F(BitmapDialogTest, MissingPluginIsReportedAndFramesPlayUnprocessed) {
    CBitmapDialog::SetPluginPath("/nonexistent/Tavro.so");
    QPointer<CBitmapDialog> pDialog = Open(Clip640(8, 4.0));
    ASSERT_TRUE(WaitReady(pDialog));
    EXPECT_EQ(Messages(), std::vector<QString>{QStringLiteral("Tavro.soが見つかりません")});
    pDialog->m_btnPlayPause->click();
    EXPECT_TRUE(PumpUntil([&] { return !LinesAt(210).empty(); }));
    CloseAndWait(pDialog);
}

TEST_F(BitmapDialogTest, FileThatCannotBeRenderedShowsTheMessageAndTheDialogGoes) {
    SFakeClip clip = Clip640(8, 1.0);
    clip.bFailOpen = true;
    QPointer<CBitmapDialog> pDialog = Open(clip);
    EXPECT_TRUE(PumpUntil([&] { return pDialog.isNull(); }));
    EXPECT_EQ(Messages(), std::vector<QString>{QStringLiteral("ファイルを開くことが出来ません")});
}

TEST_F(BitmapDialogTest, WorkerStuckInThePluginIsReportedAndNothingIsFreedUnderIt) {
    QPointer<CBitmapDialog> pDialog = Open(Clip640(3000, 1.0));
    ASSERT_TRUE(WaitReady(pDialog));
    SetBlocking(1);
    pDialog->m_btnPlayPause->click();
    Pump(200);  // the worker is now inside the plug-in
    pDialog->OnClose();
    EXPECT_EQ(Messages(), std::vector<QString>{QStringLiteral("スレッド強制停止")});
    ASSERT_FALSE(pDialog.isNull());  // kept until the worker ends
    EXPECT_FALSE(pDialog->isVisible());
    SetBlocking(0);
    EXPECT_TRUE(PumpUntil([&] { return pDialog.isNull(); }));
}

TEST_F(BitmapDialogTest, StillImageIsShownAndProcessedWhileStarted) {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = 40;
    bmi.bmiHeader.biWidth = 320;
    bmi.bmiHeader.biHeight = 240;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biSizeImage = 320 * 3 * 240;
    std::vector<BYTE> bits(bmi.bmiHeader.biSizeImage);
    DrawBottomUpPattern(bits.data(), 320, 240, 7);
    auto* pRaw = new CBitmapDialog();
    QPointer<CBitmapDialog> pDialog(pRaw);
    pDialog->SetStillFrame(bmi, bits.data(), bits.size());
    pDialog->m_strSourcePath = "/images/still.bmp";
    pDialog->m_nSourceKind = SOURCE_STILL;
    pDialog->show();
    ASSERT_TRUE(WaitReady(pDialog));
    EXPECT_EQ(pDialog->size(), QSize(335, 390));
    EXPECT_EQ(pDialog->m_btnPlayPause->text(), QStringLiteral("開始"));
    EXPECT_TRUE(PumpUntil([&] { return !pDialog->m_sldPosition->isEnabled(); }));
    pDialog->m_btnPlayPause->click();
    EXPECT_FALSE(pDialog->m_btnPlayPause->isEnabled());
    EXPECT_TRUE(pDialog->m_btnStop->isEnabled());
    EXPECT_TRUE(PumpUntil([&] { return pDialog->Worker()->IsPlaying(); }));
    {
        const CFrameWorker::CDisplayLock lock = pDialog->Worker()->LockDisplay();
        EXPECT_EQ(ReadFrameIndex(lock.Bits(), 320, 240, 960), 7);  // the pass-through plug-in
    }
    pDialog->m_btnStop->click();
    EXPECT_TRUE(pDialog->m_btnPlayPause->isEnabled());
    EXPECT_TRUE(PumpUntil([&] { return !pDialog->Worker()->IsPlaying(); }));
    CloseAndWait(pDialog);
    EXPECT_TRUE(Messages().empty());
}

}  // namespace
