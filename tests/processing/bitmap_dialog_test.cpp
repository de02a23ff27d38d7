// The processing dialog on the offscreen platform, with the fake file graph.
// Still images in the dialog are tested through the shell (tests/app).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <mutex>
#include <vector>

#include "fake_file_graph.h"
#include "processing/bitmap_dialog.h"
#include "processing/text_sink.h"
#include "support/qt_environment.h"
#include "tools/frame_pattern.h"

namespace {

std::mutex g_mxRecorded;  // guards g_recorded
// Message boxes as "box TEXT" and main-view lines as "line Y TEXT", in order.
std::vector<std::string> g_recorded;

void Record(std::string s) {
    std::lock_guard<std::mutex> lock(g_mxRecorded);
    g_recorded.push_back(std::move(s));
}
// The entries that start with prefix, without it.
std::vector<std::string> Recorded(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(g_mxRecorded);
    std::vector<std::string> v;
    for (const std::string& s : g_recorded)
        if (s.rfind(prefix, 0) == 0) v.push_back(s.substr(prefix.size()));
    return v;
}

// Switches the stuck plug-in (tests/processing/stuck_plugin.cpp) on or off.
void SetBlocking(int n) {
    void* h = dlopen(STUCK_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (h == nullptr) return;  // not loaded: nothing blocks
    if (auto pfn = reinterpret_cast<void (*)(int)>(dlsym(h, "StuckPluginSetBlocking"))) pfn(n);
    dlclose(h);
}

// The Play/Pause caption, then P(lay) S(top) C(lose) F(orward) B(efore) when enabled.
std::string State(CBitmapDialog* p) {
    std::string s = p->m_btnPlayPause->text().toStdString() + " ";
    const QPushButton* buttons[] = {p->m_btnPlayPause, p->m_btnStop, p->m_btnClose, p->m_btnForward,
                                    p->m_btnBefore};
    for (int i = 0; i < 5; ++i) s += buttons[i]->isEnabled() ? "PSCFB"[i] : '-';
    return s;
}

class BitmapDialogTest : public testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> lock(g_mxRecorded);
            g_recorded.clear();
        }
        CBitmapDialog::SetMessageBoxHandler(
            [](QWidget*, const QString& strText) { Record("box " + strText.toStdString()); });
        SetTextSink([](int y, std::string_view text, COLORREF) {
            Record("line " + std::to_string(y) + " " + std::string(text));
        });
        SetFileGraphFactory(&CFakeFileGraph::Factory);
        CBitmapDialog::SetPluginPath(STUCK_PLUGIN_PATH);
        SetBlocking(0);
    }
    void TearDown() override {
        SetBlocking(0);
        SetTextSink(nullptr);
    }
    // A shown dialog on a fake clip, its worker set up.
    static QPointer<CBitmapDialog> Open(const SFakeClip& clip) {
        CFakeFileGraph::SetClip(clip);
        QPointer<CBitmapDialog> pDialog = new CBitmapDialog();
        pDialog->m_strSourcePath = "/clips/sample.avi";
        pDialog->m_nSourceKind = SOURCE_FILE;
        pDialog->m_nSeekMode = SEEK_COMPLETION;
        pDialog->show();
        EXPECT_TRUE(clip.bFailOpen || PumpUntil([&] {
                        return pDialog && pDialog->Worker() && pDialog->Worker()->IsReady();
                    }));
        return pDialog;
    }
    static int DisplayedIndex(const QPointer<CBitmapDialog>& pDialog) {
        const CFrameWorker::CDisplayLock lock(*pDialog->Worker());
        return ReadFrameIndex(lock.Bits(), 640, 480, 640 * 3);
    }
    static void CloseAndWait(QPointer<CBitmapDialog>& pDialog) {
        if (pDialog) pDialog->OnClose();
        EXPECT_TRUE(PumpUntil([&] { return pDialog.isNull(); }));
    }
};

TEST_F(BitmapDialogTest, LaysOutAroundTheFramePaintsItUprightAndTimesThePaints) {
    QPointer<CBitmapDialog> pDialog = Open({.nFrames = 30, .nWidth = 640, .nHeight = 480});
    EXPECT_EQ(pDialog->size(), QSize(655, 630));
    EXPECT_EQ(pDialog->m_stcPicture->geometry(), QRect(5, 5, 640, 480));
    EXPECT_EQ(State(pDialog), "再生 P-C--");
    // The first pass replaces the initial "0/..." with the frame counter.
    EXPECT_TRUE(PumpUntil([&] {
        return pDialog->m_stcCounter->text() ==
               QStringLiteral("      0/     30 (0:00:00:00 / 0:00:01:00)");
    })) << pDialog->m_stcCounter->text().toStdString();
    EXPECT_EQ(pDialog->m_sldPosition->maximum(), 30);

    pDialog->m_sldPosition->setSliderPosition(12);
    pDialog->m_sldPosition->triggerAction(QAbstractSlider::SliderMove);
    EXPECT_EQ(pDialog->Worker()->Position(), 12);
    // What is on screen, in top-down rows: an upright picture reads as a
    // bottom-up frame turned upside down, with its channels in order.
    auto shownIndex = [&] {
        const QImage img =
            pDialog->m_stcPicture->grab().toImage().convertToFormat(QImage::Format_BGR888);
        const SPatternReading r =
            ReadFramePattern(img.constBits(), img.width(), img.height(), img.bytesPerLine());
        const bool bUpright = r.eOrientation == EPatternOrientation::UpsideDown;
        return bUpright && !r.bChannelsSwapped ? r.nIndex : -1;
    };
    EXPECT_TRUE(PumpUntil([&] { return shownIndex() == 12; }));
    // Two paints at least: the second writes the interval line on row 30.
    pDialog->m_stcPicture->repaint();
    EXPECT_FALSE(Recorded("line 30 ").empty());
    EXPECT_TRUE(Recorded("box ").empty());
    CloseAndWait(pDialog);

    // A 320-pixel picture keeps its size; the controls get 600 pixels, so the
    // right-hand buttons do not fall on each other or on the left-hand ones.
    pDialog = Open({.nFrames = 30, .nWidth = 320, .nHeight = 240});
    EXPECT_EQ(pDialog->size(), QSize(615, 390));
    EXPECT_EQ(pDialog->m_stcPicture->geometry(), QRect(5, 5, 320, 240));
    EXPECT_FALSE(pDialog->m_btnClose->geometry().intersects(pDialog->m_btnStop->geometry()));
    EXPECT_FALSE(pDialog->m_btnBefore->geometry().intersects(pDialog->m_btnClip->geometry()));
    CloseAndWait(pDialog);
}

TEST_F(BitmapDialogTest, ButtonStatesFollowPlayPauseStopAndTheEndAndPlayAfterStopPlaysAgain) {
    QPointer<CBitmapDialog> pDialog = Open({.nFrames = 3000, .nWidth = 64, .nHeight = 48});
    pDialog->m_btnPlayPause->click();
    EXPECT_EQ(State(pDialog), "一時停止 PS---");
    ASSERT_TRUE(PumpUntil([&] { return pDialog->Worker()->Position() >= 3; }));
    pDialog->m_btnPlayPause->click();  // pause
    EXPECT_EQ(State(pDialog), "再生 P--FB");
    ASSERT_TRUE(PumpUntil([&] { return !pDialog->Worker()->IsRunning(); }));
    const LONGLONG llPaused = pDialog->Worker()->Position();
    pDialog->m_btnForward->click();
    EXPECT_EQ(pDialog->Worker()->Position(), llPaused + 1);
    pDialog->m_btnPlayPause->click();  // resume
    EXPECT_EQ(State(pDialog), "一時停止 PS---");
    ASSERT_TRUE(PumpUntil([&] { return pDialog->Worker()->Position() >= 20; }));
    // Stop, then Play, both clicked while the worker is busy in a plug-in
    // call: the Play is a Play (not a Pause), served after the Stop's rewind.
    SetBlocking(1);
    PumpUntil([] { return false; }, 100);  // the worker is now inside the plug-in
    pDialog->m_btnStop->click();
    EXPECT_EQ(State(pDialog), "再生 P-C--");
    pDialog->m_btnPlayPause->click();
    EXPECT_EQ(State(pDialog), "一時停止 PS---");
    SetBlocking(0);
    EXPECT_TRUE(PumpUntil(
        [&] { return pDialog->Worker()->IsRunning() && pDialog->Worker()->Position() < 20; }));
    EXPECT_TRUE(pDialog->Worker()->IsPlaying());
    EXPECT_EQ(State(pDialog), "一時停止 PS---");
    CloseAndWait(pDialog);

    pDialog = Open({.nFrames = 10, .nWidth = 640, .nHeight = 480, .dSpeed = 4});
    pDialog->m_btnPlayPause->click();
    ASSERT_TRUE(PumpUntil([&] { return !Recorded("line 230 ").empty(); }));
    EXPECT_TRUE(PumpUntil([&] { return pDialog->m_btnClose->isEnabled(); }));
    EXPECT_EQ(State(pDialog), "再生 P-C--");
    CloseAndWait(pDialog);
}

// Each dialog closed during playback, by its Close button (disabled while
// playing: pressed the way it closes) or its caption bar: the worker sees the
// stop request within the close wait, so no forced-stop message, and the
// other dialog plays on.
TEST_F(BitmapDialogTest, DialogsClosedDuringPlaybackEndQuietlyAndIndependently) {
    QPointer<CBitmapDialog> pFirst = Open({.nFrames = 3000, .nWidth = 640, .nHeight = 480});
    QPointer<CBitmapDialog> pSecond = Open({.nFrames = 3000, .nWidth = 640, .nHeight = 480});
    EXPECT_NE(pFirst->RunFlagName(), pSecond->RunFlagName());
    // Each shows its own first frame: no last-seek memory shared between them.
    EXPECT_TRUE(
        PumpUntil([&] { return DisplayedIndex(pFirst) == 0 && DisplayedIndex(pSecond) == 0; }));
    pFirst->m_btnPlayPause->click();
    pSecond->m_btnPlayPause->click();
    ASSERT_TRUE(
        PumpUntil([&] { return pFirst->Worker()->IsRunning() && pSecond->Worker()->IsRunning(); }));
    pFirst->OnClose();
    EXPECT_TRUE(PumpUntil([&] { return pFirst.isNull(); }, 20000));  // hang guard
    ASSERT_TRUE(pSecond);
    const LONGLONG llAt = pSecond->Worker()->Position();
    EXPECT_TRUE(PumpUntil([&] { return pSecond->Worker()->Position() > llAt + 2; }));
    EXPECT_FALSE(pSecond->Worker()->HasEnded());
    pSecond->close();
    EXPECT_TRUE(PumpUntil([&] { return pSecond.isNull(); }, 20000));
    EXPECT_TRUE(Recorded("box ").empty());
}

TEST_F(BitmapDialogTest, UnrenderableFileAndMissingPluginOrExportAreReported) {
    // A file the graph cannot render: the message, and the dialog goes by itself.
    QPointer<CBitmapDialog> pDialog = Open({.nFrames = 8, .bFailOpen = true});
    EXPECT_TRUE(PumpUntil([&] { return pDialog.isNull(); }));
    const SFakeClip clip{.nFrames = 8, .nWidth = 640, .nHeight = 480, .dSpeed = 4};
    CBitmapDialog::SetPluginPath("libc.so.6");  // loads, but has no TavroFunc
    pDialog = Open(clip);
    CloseAndWait(pDialog);
    CBitmapDialog::SetPluginPath("/nonexistent/Tavro.so");
    pDialog = Open(clip);
    CloseAndWait(pDialog);
    EXPECT_EQ(Recorded("box "),
              (std::vector<std::string>{"ファイルを開くことが出来ません",
                                        "TavroFuncが見つかりません", "Tavro.soが見つかりません"}));
}

TEST_F(BitmapDialogTest, WorkerStuckInThePluginIsReportedAndNothingIsFreedUnderIt) {
    QPointer<CBitmapDialog> pDialog = Open({.nFrames = 3000, .nWidth = 640, .nHeight = 480});
    SetBlocking(1);
    pDialog->m_btnPlayPause->click();
    PumpUntil([] { return false; }, 200);  // the worker is now inside the plug-in
    pDialog->OnClose();
    EXPECT_EQ(Recorded("box "), std::vector<std::string>{"スレッド強制停止"});
    ASSERT_FALSE(pDialog.isNull());  // kept until the worker ends
    EXPECT_FALSE(pDialog->isVisible());
    SetBlocking(0);
    EXPECT_TRUE(PumpUntil([&] { return pDialog.isNull(); }));
}

}  // namespace
