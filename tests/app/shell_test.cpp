// The application shell, with stand-in processing dialogs that record what
// the commands did to them (shell_dialog_test.cpp has the real ones).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_frame.h"
#include "app/pelora_app.h"
#include "app/pelora_doc.h"
#include "app/pelora_view.h"
#include "app/resource.h"
#include "bitmap_file.h"
#include "prompt_recorder.h"
#include "support/qt_environment.h"

namespace {

// What happened to the stand-in dialogs, in order, across all of them.
std::vector<std::string> g_events;

class CFakeDialog : public QWidget, public ISourceDialog {
public:
    explicit CFakeDialog(int nSerial) : m_nSerial(nSerial) {}
    ~CFakeDialog() override { g_events.push_back("destroyed " + std::to_string(m_nSerial)); }

    QWidget* Window() override { return this; }
    void SetSourcePath(const std::string& path) override { m_path = path; }
    void SetSourceKind(int nKind, int nSeekMode) override {
        m_nKind = nKind;
        m_nSeekMode = nSeekMode;
    }
    bool SetStillSource(CStillFrame) override { return m_bHasStill = true; }
    void Show() override {
        show();
        g_events.push_back("shown " + std::to_string(m_nSerial));
    }
    void EndAndDestroy() override {
        // The view must still be there while a worker ends: it draws on it.
        g_events.push_back("ended " + std::to_string(m_nSerial) +
                           (g_mainView.load() != nullptr ? " view" : " no-view"));
        delete this;
    }

    int m_nSerial;
    std::string m_path;
    int m_nKind = 0;
    int m_nSeekMode = 0;
    bool m_bHasStill = false;
};

class ShellTest : public testing::Test {
protected:
    void SetUp() override {
        g_events.clear();
        SetSettingsIdentity();
        QSettings().clear();
    }
    void TearDown() override { m_pApp.reset(); }

    void Start(const QStringList& args = {}) {
        m_pApp = std::make_unique<CPeloraApp>();
        ASSERT_TRUE(
            m_pApp->InitInstance(args, [this](QWidget*, VideoInput*) -> SourceDialogFactory {
                return [this]() -> ISourceDialog* {
                    auto* pDialog = new CFakeDialog(++m_nSerial);
                    m_made.push_back(pDialog);
                    return pDialog;
                };
            }));
        Frame()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));
    }
    CMainFrame* Frame() const { return m_pApp->MainFrame(); }
    CPeloraDoc* Doc() const { return m_pApp->Document(); }
    CFakeDialog* Current() const { return static_cast<CFakeDialog*>(g_currentDialog); }
    std::string TempPath(const char* name) const {
        return (m_dir.path() + "/" + name).toStdString();
    }

    // Records the command ids the frame runs.
    std::vector<UINT> RecordCommands(const std::function<void()>& act) {
        std::vector<UINT> ids;
        QMetaObject::Connection c = QObject::connect(Frame(), &CMainFrame::CommandRun,
                                                     [&ids](UINT nId) { ids.push_back(nId); });
        act();
        QObject::disconnect(c);
        return ids;
    }

    QTemporaryDir m_dir;
    CPromptRecorder m_prompts;  // outlives the application
    std::unique_ptr<CPeloraApp> m_pApp;
    int m_nSerial = 0;
    std::vector<CFakeDialog*> m_made;  // may dangle once a dialog is destroyed
};

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A 2x2 24-bit bitmap.
std::string BitmapBytes() { return BitmapFile(24, 2, 2, "", std::string(16, '\x40')); }

// The toolkit's own dialogs speak the interface's Japanese too: the file
// dialog's "Look in:" and "Cancel" are translated once start-up has run.
TEST_F(ShellTest, StandardFileDialogIsInJapanese) {
    Start();
    QFileDialog dialog(Frame());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    const QLabel* pLookIn = dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"));
    ASSERT_NE(pLookIn, nullptr);
    const QString lookIn = pLookIn->text();
    EXPECT_TRUE(std::any_of(lookIn.begin(), lookIn.end(), [](QChar c) {
        return c.unicode() >= 0x3000;
    })) << lookIn.toStdString();
    const auto* pButtons = dialog.findChild<QDialogButtonBox*>();
    ASSERT_NE(pButtons, nullptr);
    EXPECT_NE(pButtons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Cancel"));
}

TEST_F(ShellTest, EachAcceleratorAndOpenButtonRunsItsCommandAndUnhandledKeysRunNothing) {
    Start();
    struct SKey {
        QKeyCombination key;
        UINT nId;  // 0: no handler, nothing runs
    };
    const SKey keys[] = {
        {Qt::CTRL | Qt::Key_N, ID_FILE_NEW},
        {Qt::CTRL | Qt::Key_O, ID_FILE_OPEN},
        {Qt::CTRL | Qt::Key_S, ID_FILE_SAVE},
        {Qt::CTRL | Qt::Key_P, ID_FILE_PRINT},
        {Qt::CTRL | Qt::Key_C, 0},
    };
    // The keys belong to the window: hiding the toolbar (View menu) keeps them.
    for (const bool bToolbarShown : {true, false}) {
        if (!bToolbarShown) Frame()->OnCommand(ID_VIEW_TOOLBAR);
        ASSERT_EQ(Frame()->ToolBar()->isVisible(), bToolbarShown);
        for (const SKey& k : keys) {
            SCOPED_TRACE(QKeySequence(k.key).toString().toStdString() +
                         (bToolbarShown ? "" : " toolbar hidden"));
            const std::vector<UINT> ids = RecordCommands(
                [&] { QTest::keyClick(Frame(), k.key.key(), k.key.keyboardModifiers()); });
            if (k.nId == 0) {
                EXPECT_TRUE(ids.empty());
            } else {
                EXPECT_EQ(ids, std::vector<UINT>({k.nId}));
            }
        }
    }
    Frame()->OnCommand(ID_VIEW_TOOLBAR);
    // The toolbar's Open runs the image command, the File menu item the video command.
    auto* pOpen = qobject_cast<QToolButton*>(
        Frame()->ToolBar()->widgetForAction(Frame()->CommandAction(ID_FILE_OPEN)));
    ASSERT_NE(pOpen, nullptr);
    EXPECT_EQ(RecordCommands([&] { QTest::mouseClick(pOpen, Qt::LeftButton); }),
              std::vector<UINT>({ID_FILE_OPEN}));
    QAction* pVideo = Frame()->menuBar()->actions()[0]->menu()->actions()[0];
    EXPECT_EQ(RecordCommands([&] { pVideo->trigger(); }), std::vector<UINT>({ID_FILE_OPEN_VIDEO}));

    // Ctrl+O and Ctrl+S twice (toolbar shown, then hidden), the toolbar's Open
    // for an image, the menu item for a video; all cancelled, nothing opened.
    ASSERT_EQ(m_prompts.m_files.size(), 6u);
    EXPECT_TRUE(m_prompts.m_files[0].filter.contains("*.csv"));
    EXPECT_TRUE(m_prompts.m_files[1].bSave && m_prompts.m_files[3].bSave);
    EXPECT_TRUE(m_prompts.m_files[5].filter.contains("*.mp4"));
    EXPECT_TRUE(m_made.empty());
    EXPECT_EQ(m_prompts.m_nPrints, 2);
}

TEST_F(ShellTest, OpenSourceClassifiesExactlyAndCaseSensitively) {
    Start();
    struct SCase {
        const char* name;
        const char* ext;
        int nKind;
        int nSeek;
        bool bShown;
    };
    const SCase cases[] = {
        {"/v/a.AVI", "AVI", 1, 1, true},         {"/v/a.avi", "avi", 1, 1, true},
        {"/v/a.Avi", "Avi", 1, 1, true},         {"/v/a", "", 1, 1, true},
        {"/v/a.MP4", "MP4", 1, 3, true},         {"/v/a.mp4", "mp4", 1, 3, true},
        {"/v/a.Mp4", "Mp4", 1, 1, true},         {"/v/a.mpg", "mpg", 0, 0, false},
        {"/v/a.MPEG", "MPEG", 0, 0, false},      {"VIDEO_IN", "none", 2, 0, true},
        {"VideoForWindows", "none", 3, 0, true}, {"NI-100U", "none", 4, 0, true},
        {"video_in", "none", 1, 1, true},        {"VIDEO_IN", "avi", 1, 1, true},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " / " + c.ext);
        m_prompts.m_messages.clear();
        Doc()->OpenSource(c.name, c.ext);
        CFakeDialog* pDialog = Current();
        ASSERT_TRUE(pDialog != nullptr && pDialog == m_made.back());
        EXPECT_EQ(pDialog->m_path, c.name);
        EXPECT_EQ(pDialog->m_nKind, c.nKind);
        EXPECT_EQ(pDialog->m_nSeekMode, c.nSeek);
        EXPECT_EQ(pDialog->isVisible(), c.bShown);
        if (c.bShown) {
            EXPECT_TRUE(m_prompts.m_messages.empty());
        } else {
            ASSERT_EQ(m_prompts.m_messages.size(), 1u);
            EXPECT_EQ(m_prompts.m_messages[0].buttons, EMessageButtons::Ok);
        }
    }
    // The USB camera command opens a "VIDEO_IN" dialog.
    Doc()->OnCommand(ID_CAMERA_USB);
    EXPECT_EQ(Current()->m_path, "VIDEO_IN");
    EXPECT_EQ(Current()->m_nKind, 2);
    EXPECT_TRUE(Current()->isVisible());
}

TEST_F(ShellTest, ReplacedHiddenMpegDialogIsDestroyedAndCurrentPointerNeverDangles) {
    Start();
    Doc()->OpenSource("/v/a.mpg", "mpg");
    EXPECT_EQ(Current(), m_made.back());
    Doc()->OpenSource("/v/b.avi", "avi");
    EXPECT_EQ(g_events, std::vector<std::string>({"ended 1 view", "destroyed 1", "shown 2"}));
    // A dialog that closes itself leaves no stale current pointer behind.
    delete Current();
    EXPECT_EQ(g_currentDialog, nullptr);
    EXPECT_TRUE(Doc()->LiveDialogs().empty());
}

// A refused image shows our message and opens nothing; a good one opens
// and leaves the window's caption and size as they were.
TEST_F(ShellTest, ImageOpenRefusesBadFilesAndKeepsTheWindowsCaptionAndSize) {
    Start();
    EXPECT_EQ(Frame()->centralWidget(), Frame()->View());
    EXPECT_EQ(g_mainView.load(), Frame()->View());
    const QString caption = Frame()->windowTitle();
    const QSize size = Frame()->size();
    Doc()->OpenSource("/v/current.avi", "avi");
    CFakeDialog* pCurrent = Current();
    std::string shortBmp = BitmapBytes();
    shortBmp.resize(60);  // bfSize says 70
    const struct {
        const char* file;
        std::string content;
        const char* expect;  // part of the message
    } cases[] = {
        {"short.bmp", shortBmp, "ビットマップファイルを読み込めません"},
        {"Photo.Bmp", BitmapBytes(), "このファイルは開けません"},
        {"frame.bmp", BitmapBytes(), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        m_prompts.m_messages.clear();
        const std::string path = TempPath(c.file);
        WriteText(path, c.content);
        m_prompts.m_nextFile = QString::fromStdString(path);
        Frame()->OnCommand(ID_FILE_OPEN);
        if (c.expect == nullptr) break;
        ASSERT_EQ(m_prompts.m_messages.size(), 1u);
        EXPECT_TRUE(m_prompts.m_messages[0].text.contains(QString::fromUtf8(c.expect)))
            << m_prompts.m_messages[0].text.toStdString();
        EXPECT_EQ(m_prompts.m_messages[0].icon, EMessageIcon::Warning);
        EXPECT_EQ(Current(), pCurrent);
        EXPECT_TRUE(pCurrent->isVisible());
        EXPECT_EQ(m_made.size(), 1u);
    }
    EXPECT_TRUE(m_prompts.m_messages.empty());
    ASSERT_EQ(m_made.size(), 2u);
    EXPECT_EQ(Current(), m_made.back());
    EXPECT_TRUE(Current()->m_bHasStill);
    EXPECT_EQ(Frame()->windowTitle(), caption);
    EXPECT_EQ(Frame()->size(), size);
}

TEST_F(ShellTest, CommandLineFileOpensAsTheVideoCommandWould) {
    Start({"-x", QString::fromStdString(TempPath("clip.MP4"))});
    ASSERT_NE(Current(), nullptr);
    EXPECT_EQ(Current()->m_path, TempPath("clip.MP4"));
    EXPECT_EQ(Current()->m_nSeekMode, 3);
    EXPECT_TRUE(Current()->isVisible());
    EXPECT_EQ(Doc()->FilePath(), TempPath("clip.MP4"));
}

}  // namespace
