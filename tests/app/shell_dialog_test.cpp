// The source commands with the real processing dialogs, their workers running
// on clips and still images the tests write.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QPointer>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/bitmap_dialog_source.h"
#include "app/main_frame.h"
#include "app/pelora_app.h"
#include "app/pelora_doc.h"
#include "app/pelora_view.h"
#include "app/resource.h"
#include "processing/bitmap_dialog.h"
#include "support/qt_environment.h"
#include "bitmap_file.h"
#include "prompt_recorder.h"
#include "tools/clip_writer.h"

namespace {

namespace fs = std::filesystem;

// A 4x2 24-bit bitmap of mid greys (bottom-up rows of 12 bytes).
std::string GreyBitmap() {
    std::string pixels(24, '\0');
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<char>(60 + 10 * (i / 3));
    return BitmapFile(24, 4, 2, "", pixels);
}

class ShellDialogTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = fs::temp_directory_path() / ("pelora_shell_" + std::to_string(getpid()));
        fs::create_directories(s_dir);
        const SClipParams params{
            .eFormat = EClipFormat::AviMpeg4, .nWidth = 64, .nHeight = 48, .nFrames = 300};
        ASSERT_EQ(WriteClip((s_dir / "one.avi").string(), params), "");
        ASSERT_EQ(WriteClip((s_dir / "two.avi").string(), params), "");
        std::ofstream(s_dir / "still.bmp", std::ios::binary) << GreyBitmap();
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }

    void SetUp() override {
        CBitmapDialog::SetPluginPath(TAVRO_PATH);
        RouteDialogMessages();
        m_pApp = std::make_unique<CPeloraApp>();
        ASSERT_TRUE(m_pApp->InitInstance({}, &BitmapDialogFactory));
    }
    void TearDown() override {
        m_pApp.reset();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        CBitmapDialog::SetPluginPath("");
    }

    static CBitmapDialog* Current() {
        auto* pSource = dynamic_cast<CBitmapDialogSource*>(g_currentDialog);
        return pSource ? pSource->Dialog() : nullptr;
    }
    static bool Running(const CBitmapDialog* pDialog) {
        return pDialog != nullptr && pDialog->Worker() != nullptr &&
               pDialog->Worker()->HasStarted() && !pDialog->Worker()->HasEnded();
    }
    static std::string Path(const char* name) { return (s_dir / name).string(); }
    static bool WaitReady(const QPointer<CBitmapDialog>& pDialog) {
        return PumpUntil(
            [&] { return pDialog && pDialog->Worker() && pDialog->Worker()->IsReady(); });
    }
    // Runs the command on the file and returns the new dialog once its worker is set up.
    QPointer<CBitmapDialog> Open(const char* name, UINT nCommand = ID_FILE_OPEN_VIDEO) {
        m_prompts.m_nextFile = QString::fromStdString(Path(name));
        m_pApp->MainFrame()->OnCommand(nCommand);
        QPointer<CBitmapDialog> pDialog = Current();
        EXPECT_TRUE(WaitReady(pDialog));
        return pDialog;
    }
    static void PlayUntilAFrameHasPassed(const QPointer<CBitmapDialog>& pDialog) {
        pDialog->m_btnPlayPause->click();
        ASSERT_TRUE(PumpUntil([&] { return pDialog && pDialog->Worker()->FrameIndex() > 0; }));
    }

    static fs::path s_dir;
    CPromptRecorder m_prompts;  // outlives the application
    std::unique_ptr<CPeloraApp> m_pApp;
};
fs::path ShellDialogTest::s_dir;

TEST_F(ShellDialogTest, SecondVideoLeavesTheFirstRunningAndImageOpenEndsOnlyTheVisibleOne) {
    QPointer<CBitmapDialog> pOlder = Open("two.avi");
    QPointer<CBitmapDialog> pVideo = Open("one.avi");
    ASSERT_NE(pVideo.data(), pOlder.data());
    PlayUntilAFrameHasPassed(pOlder);
    PlayUntilAFrameHasPassed(pVideo);  // replaced while playing
    EXPECT_TRUE(pOlder->isVisible());
    EXPECT_EQ(pVideo->m_nSeekMode, SEEK_COMPLETION);
    m_prompts.m_nextFile = QString::fromStdString(Path("still.bmp"));
    m_pApp->MainFrame()->OnCommand(ID_FILE_OPEN);
    // When the command returns the replaced dialog's worker has ended and gone;
    // its window goes with the next deferred delete.
    ASSERT_TRUE(pVideo.isNull() || (pVideo->Worker() == nullptr && !pVideo->isVisible()))
        << "messages shown: " << ::testing::PrintToString(m_prompts.Texts());
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(pVideo.isNull());
    // Only the visible current one goes.
    EXPECT_TRUE(Running(pOlder) && pOlder->Worker()->IsPlaying());

    QPointer<CBitmapDialog> pStill = Current();
    ASSERT_TRUE(WaitReady(pStill));
    EXPECT_TRUE(pStill->isVisible());
    EXPECT_EQ(pStill->m_nSourceKind, SOURCE_STILL);
    EXPECT_EQ(pStill->m_strSourcePath, Path("still.bmp"));
    EXPECT_EQ(pStill->Worker()->Width(), 4);
    EXPECT_EQ(pStill->Worker()->Height(), 2);
    EXPECT_EQ(pStill->m_btnPlayPause->text(), QStringLiteral("開始"));
    {
        // The file's own pixels (playing a still is the worker's, its tests).
        const CFrameWorker::CDisplayLock lock(*pStill->Worker());
        EXPECT_EQ(std::vector<BYTE>(lock.Bits(), lock.Bits() + 4),
                  (std::vector<BYTE>{60, 60, 60, 70}));
    }
    EXPECT_TRUE(m_prompts.m_messages.empty());
}

TEST_F(ShellDialogTest, ClosingTheMainWindowEndsEveryWorkerBeforeTheViewGoes) {
    QPointer<CBitmapDialog> pFirst = Open("one.avi");
    QPointer<CBitmapDialog> pSecond = Open("two.avi");
    ASSERT_TRUE(Running(pFirst) && Running(pSecond));
    pFirst->m_btnPlayPause->click();
    pSecond->m_btnPlayPause->click();
    bool bViewAliveAtEnd = false;
    QObject::connect(m_pApp->MainFrame(), &CMainFrame::Closed, [&] {
        bViewAliveAtEnd = g_mainView.load() != nullptr;
        EXPECT_TRUE(pFirst.isNull() || pFirst->Worker() == nullptr);
        EXPECT_TRUE(pSecond.isNull() || pSecond->Worker() == nullptr);
    });
    QElapsedTimer timer;
    timer.start();
    m_pApp->MainFrame()->close();
    EXPECT_LT(timer.elapsed(), 20000);  // each dialog's wait is bounded: a hang guard
    EXPECT_TRUE(bViewAliveAtEnd);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(pFirst.isNull());
    EXPECT_TRUE(pSecond.isNull());
    EXPECT_TRUE(m_prompts.m_messages.empty());  // no forced stop
}

#ifdef STUCK_PLUGIN_PATH
// Exit while the plug-in never returns: the forced stop is reported, and the
// program's end completes instead of waiting for ever; the worker left behind
// touches nothing of the dialog when the plug-in returns at last.
TEST_F(ShellDialogTest, ExitWhileThePluginNeverReturnsEndsTheProgram) {
    auto setBlocking = [](int n) {
        void* h = dlopen(STUCK_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
        if (h == nullptr) return;
        reinterpret_cast<void (*)(int)>(dlsym(h, "StuckPluginSetBlocking"))(n);
        dlclose(h);
    };
    CBitmapDialog::SetPluginPath(STUCK_PLUGIN_PATH);
    QPointer<CBitmapDialog> pDialog = Open("one.avi");
    setBlocking(1);
    pDialog->m_btnPlayPause->click();
    PumpUntil([] { return false; }, 200);  // the worker is now inside the plug-in
    m_pApp->MainFrame()->OnCommand(ID_APP_EXIT);
    EXPECT_EQ(m_prompts.Texts(), std::vector<std::string>{"スレッド強制停止"});
    ASSERT_FALSE(pDialog.isNull());  // still waiting for its worker
    m_pApp.reset();                  // what the program does once its event loop has ended
    EXPECT_TRUE(pDialog.isNull());
    EXPECT_EQ(CBitmapDialog::AbandonedWorkerCount(), 1u);
    setBlocking(0);
    EXPECT_TRUE(PumpUntil([] { return CBitmapDialog::AbandonedWorkerCount() == 0; }));
}
#endif

}  // namespace
