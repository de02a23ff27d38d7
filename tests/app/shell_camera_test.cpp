// The camera in the program, on virtual cameras: start-up, the USB camera
// dialogs on device 0, and the exit order (workers end before devices close).
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/bitmap_dialog_source.h"
#include "app/main_frame.h"
#include "app/pelora_app.h"
#include "app/pelora_doc.h"
#include "app/resource.h"
#include "mediagraph/media_classes.h"
#include "platform/ffmpeg/frame_pattern.h"
#include "platform/v4l2/v4l2_catalogue.h"
#include "processing/bitmap_dialog.h"
#include "prompt_recorder.h"
#include "support/process_threads.h"
#include "support/qt_environment.h"
#include "support/virtual_cameras.h"

namespace {

using pelora_test::ThreadCount;
using pelora_test::WebcamConfig;

// The number in the picture area as it was painted: the screen's top-down
// rows turned into the bottom-up BGR rows the camera's pattern is read from.
std::optional<uint32_t> PaintedNumber(CBitmapDialog* pDialog) {
    const QImage img =
        pDialog->m_stcPicture->grab().toImage().convertToFormat(QImage::Format_BGR888).mirrored();
    const int w = img.width(), h = img.height();
    if (w < 64 || h < 16 || img.bytesPerLine() != 3 * w) return std::nullopt;
    return ReadFrameNumber(img.constBits(), static_cast<uint32_t>(w), static_cast<uint32_t>(h));
}

class ShellCameraTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegisterMediaClasses(), S_OK);
        CBitmapDialog::SetPluginPath(TAVRO_PATH);
        RouteDialogMessages();
        m_oldSink = VideoInput::setPrintSink([this](std::string_view text) {
            // Closing a device prints this, on the GUI thread: is a worker
            // of a watched dialog still running then?
            if (text.find("Disconnecting device") != std::string_view::npos) {
                for (const QPointer<CBitmapDialog>& p : m_watched)
                    if (p && p->Worker() && !p->Worker()->HasEnded()) m_bWorkerRanAtClose = true;
            }
            std::lock_guard<std::mutex> lock(m_mxLines);
            m_library += text;
        });
    }
    void TearDown() override {
        m_pApp.reset();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        V4l2Catalogue::clearVirtual();
        VideoInput::setPrintSink(m_oldSink);
        CBitmapDialog::SetPluginPath("");
    }

    std::shared_ptr<VirtualV4l2Device> AddCamera(const char* pszName, bool bFreeRunning = true) {
        VirtualCameraConfig cfg = WebcamConfig(pszName);
        cfg.freeRunning = bFreeRunning;
        auto cam = pelora_test::AddCamera(cfg);
        m_cameras.push_back(cam);
        return cam;
    }
    void Start() {
        m_pApp = std::make_unique<CPeloraApp>();
        ASSERT_TRUE(m_pApp->InitInstance({}, &BitmapDialogFactory));
    }
    // The USB camera command; the new dialog once its worker is set up.
    QPointer<CBitmapDialog> OpenCamera() {
        m_pApp->Document()->OnUsbCamera();
        auto* pSource = dynamic_cast<CBitmapDialogSource*>(g_currentDialog);
        QPointer<CBitmapDialog> pDialog(pSource ? pSource->Dialog() : nullptr);
        EXPECT_TRUE(PumpUntil(
            [&] { return pDialog && pDialog->Worker() && pDialog->Worker()->IsReady(); }));
        return pDialog;
    }
    // Pumps until the dialog has painted a frame number later than nAfter.
    static std::optional<uint32_t> NextPaintedNumber(CBitmapDialog* pDialog, int64_t nAfter) {
        std::optional<uint32_t> n;
        PumpUntil([&] {
            n = PaintedNumber(pDialog);
            return n && static_cast<int64_t>(*n) > nAfter;
        });
        return n;
    }
    size_t LibraryLinesWith(const std::string& str) {
        std::lock_guard<std::mutex> lock(m_mxLines);
        size_t n = 0;
        for (size_t at = m_library.find(str); at != std::string::npos;
             at = m_library.find(str, at + 1))
            ++n;
        return n;
    }
    void ClearLibraryLines() {
        std::lock_guard<std::mutex> lock(m_mxLines);
        m_library.clear();
    }
    bool ForcedStopShown() const {
        const std::vector<std::string> texts = m_prompts.Texts();
        return std::find(texts.begin(), texts.end(), "スレッド強制停止") != texts.end();
    }

    CPromptRecorder m_prompts;  // outlives the application
    std::unique_ptr<CPeloraApp> m_pApp;
    std::vector<std::shared_ptr<VirtualV4l2Device>> m_cameras;
    CapturePrintSink m_oldSink;
    std::vector<QPointer<CBitmapDialog>> m_watched;  // GUI thread
    bool m_bWorkerRanAtClose = false;                // GUI thread
    std::mutex m_mxLines;                            // guards m_library
    std::string m_library;
};

// No camera: the camera menu is greyed and a camera dialog shows an empty
// frame. Otherwise each camera is opened once at 640 x 480 at start-up, and
// closed (no handle left) at exit.
TEST_F(ShellCameraTest, StartUpOpensEveryCameraOnceAt640x480AndNoneGreysTheMenu) {
    for (int nCameras : {0, 2}) {
        SCOPED_TRACE(nCameras);
        for (int i = 0; i < nCameras; ++i) AddCamera(i == 0 ? "Cam A" : "Cam B", false);
        Start();
        EXPECT_EQ(m_pApp->MainFrame()->CameraMenu()->menuAction()->isEnabled(), nCameras > 0);
        if (nCameras == 0) {
            QPointer<CBitmapDialog> pDialog = OpenCamera();
            ASSERT_TRUE(pDialog);
            EXPECT_FALSE(pDialog->Worker()->HasFormat());
            EXPECT_EQ(pDialog->Worker()->Width(), 0);
            pDialog->m_btnPlayPause->click();
            pDialog->m_btnStop->click();
            pDialog->m_btnClose->click();
            EXPECT_TRUE(PumpUntil([&] { return pDialog.isNull(); }));
            EXPECT_TRUE(m_prompts.m_messages.empty());
        }
        const SCameraDevices& devices = m_pApp->m_cameras;
        ASSERT_EQ(devices.m_nDeviceCount, nCameras);
        for (int i = 0; i < nCameras; ++i) {
            EXPECT_EQ(devices.m_deviceNames[i], i == 0 ? "Cam A" : "Cam B");
            EXPECT_EQ(m_pApp->m_videoInput.getFrameWidth(i), 640);
            EXPECT_EQ(m_pApp->m_videoInput.getFrameHeight(i), 480);
            EXPECT_EQ(LibraryLinesWith("SETUP: Setting up device " + std::to_string(i)), 1u);
            // The lists are the library's (its tests); the texts are the shell's.
            ASSERT_EQ(devices.m_formatTexts[i].size(), 3u);
            EXPECT_EQ(devices.m_formatTexts[i][1],
                      devices.m_formatNames[i][1] + " W =  320 H =  240\n");
        }
        m_pApp.reset();
        for (const auto& cam : m_cameras) {
            EXPECT_EQ(cam->openHandles(), 0);
            EXPECT_FALSE(cam->streaming());
        }
        V4l2Catalogue::clearVirtual();
        m_cameras.clear();
        ClearLibraryLines();
    }
}

// The camera dialog: device 0's size, no counter, no slider, and the painted
// picture upright showing the camera's numbers, increasing. Play is greyed
// while it plays, and closing while processing needs no forced stop.
TEST_F(ShellCameraTest, CameraDialogShowsLiveFramesUprightAndClosesWhilePlaying) {
    AddCamera("Cam A");
    Start();
    QPointer<CBitmapDialog> pDialog = OpenCamera();
    ASSERT_TRUE(pDialog);
    EXPECT_EQ(pDialog->m_strSourcePath, "VIDEO_IN");
    EXPECT_EQ(pDialog->Worker()->Width(), 640);
    EXPECT_EQ(pDialog->Worker()->Height(), 480);
    EXPECT_EQ(pDialog->m_btnPlayPause->text(), QStringLiteral("開始"));
    ASSERT_TRUE(PumpUntil([&] { return !pDialog->m_sldPosition->isEnabled(); }));
    EXPECT_TRUE(pDialog->m_stcCounter->text().isEmpty());
    const std::optional<uint32_t> first = NextPaintedNumber(pDialog, -1);
    ASSERT_TRUE(first.has_value());
    const std::optional<uint32_t> later = NextPaintedNumber(pDialog, *first);
    ASSERT_TRUE(later.has_value());
    EXPECT_GT(*later, *first);

    pDialog->m_btnPlayPause->click();
    EXPECT_FALSE(pDialog->m_btnPlayPause->isEnabled());
    pDialog->close();  // the caption bar, while frames are processed
    EXPECT_TRUE(PumpUntil([&] { return pDialog.isNull(); }));
    EXPECT_FALSE(ForcedStopShown());
}

// Two dialogs share device 0; closing one leaves the other running. When the
// program ends with camera dialogs processing, their workers end first (no
// forced stop, none abandoned), then the devices; no handle or thread is left.
TEST_F(ShellCameraTest, DialogsShareTheCameraAndExitEndsTheWorkersBeforeTheDevicesClose) {
    auto cam = AddCamera("Cam A");
    // A run first: the toolkit starts threads of its own on first use and keeps them.
    Start();
    OpenCamera();
    m_pApp.reset();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int nThreadsBefore = ThreadCount();
    ClearLibraryLines();
    Start();
    QPointer<CBitmapDialog> pClosed = OpenCamera();
    QPointer<CBitmapDialog> pOne = OpenCamera();
    ASSERT_TRUE(pClosed && pOne);
    const std::optional<uint32_t> n0 = NextPaintedNumber(pClosed, -1);
    const std::optional<uint32_t> n1 = NextPaintedNumber(pOne, -1);
    ASSERT_TRUE(n0 && n1);
    EXPECT_TRUE(NextPaintedNumber(pClosed, *n0).has_value());
    pClosed->m_btnClose->click();
    EXPECT_TRUE(PumpUntil([&] { return pClosed.isNull(); }));
    ASSERT_TRUE(pOne);
    ASSERT_TRUE(NextPaintedNumber(pOne, *n1).has_value());
    QPointer<CBitmapDialog> pTwo = OpenCamera();
    ASSERT_TRUE(pTwo);
    pOne->m_btnPlayPause->click();  // processing when the program ends
    m_watched = {pOne, pTwo};
    m_pApp.reset();  // the program ends with both dialogs open
    EXPECT_EQ(LibraryLinesWith("Disconnecting device 0"), 1u);
    EXPECT_FALSE(m_bWorkerRanAtClose);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(pOne.isNull());
    EXPECT_TRUE(pTwo.isNull());
    EXPECT_FALSE(ForcedStopShown());
    EXPECT_EQ(CBitmapDialog::AbandonedWorkerCount(), 0u);
    EXPECT_EQ(cam->openHandles(), 0);
    EXPECT_FALSE(cam->streaming());
    EXPECT_TRUE(PumpUntil([&] { return ThreadCount() <= nThreadsBefore; }, 5000))
        << ThreadCount() << " threads, " << nThreadsBefore << " before";
}

}  // namespace
