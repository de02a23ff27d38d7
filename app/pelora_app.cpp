#include "app/pelora_app.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QPointer>
#include <QTimer>
#include <QTranslator>
#include <vector>

#include "app/about_dlg.h"
#include "app/command_line.h"
#include "app/bitmap_dialog_source.h"
#include "app/main_frame.h"
#include "app/pelora_doc.h"
#include "app/recent_file_list.h"
#include "app/resource.h"
#include "app/user_prompts.h"
#include "app/view_text.h"
#include "app/pelora_view.h"
#include "processing/bitmap_dialog.h"
#include "processing/text_sink.h"

void SetSettingsIdentity() {
    QCoreApplication::setOrganizationName(QString::fromUtf8(kRegistryKey));
    QCoreApplication::setApplicationName(QString::fromUtf8(kAppTitle));
}

CPeloraApp::CPeloraApp() = default;

CPeloraApp::~CPeloraApp() {
    // Dialogs first: their workers draw on the view, which goes with the
    // frame, and read the cameras, which are closed next.
    EndDialogsAndCloseCameras();
    CUserPrompts::SetParentWindow(nullptr);
    m_pMainFrame.reset();
    m_pDoc.reset();
}

bool CPeloraApp::InitInstance(const QStringList& args, const FactoryMaker& makeFactory) {
    SetSettingsIdentity();
    InstallToolkitTranslations();
    // Toolbar icons come from the desktop's icon theme; without a desktop
    // session fall back to a common freedesktop theme when one is installed.
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));

    m_pRecentFiles = std::make_unique<CRecentFileList>(kRecentFileCount);
    m_pDoc = std::make_unique<CPeloraDoc>();
    m_pDoc->SetRecentFileList(m_pRecentFiles.get());
    m_pMainFrame = std::make_unique<CMainFrame>(m_pDoc.get());
    if (makeFactory) m_pDoc->SetDialogFactory(makeFactory(m_pMainFrame.get(), &m_videoInput));
    m_pMainFrame->SetAppCommands([this](UINT nId) { return OnCommand(nId); },
                                 [](UINT nId) { return HandlesCommand(nId); });
    CUserPrompts::SetParentWindow(m_pMainFrame.get());

    m_pMainFrame->show();
    SetUpCameras();

    // The first argument that is not an option is a file to open; it is
    // opened once the main window is on screen, since a processing dialog
    // places itself beside the main window.
    for (const QString& arg : args) {
        if (arg.startsWith(QLatin1Char('-'))) continue;
        m_pDoc->OpenFile(arg.toStdString());
        break;
    }
    return true;
}

void CPeloraApp::SetUpCameras() {
    m_cameras = SetUpCameraDevices(m_videoInput);
    if (m_cameras.m_nDeviceCount == 0) m_pMainFrame->EnableCameraMenu(false);
}

void CPeloraApp::EndDialogsAndCloseCameras() {
    if (m_pDoc) {
        // Close waits (bounded) for each worker; a worker stuck in the
        // plug-in is abandoned by DestroyAllDialogs, and a library call it
        // makes later finds its device closed and answers false.
        m_pDoc->CloseAllDialogs();
        m_pDoc->DestroyAllDialogs();
    }
    if (m_bCamerasClosed) return;
    m_bCamerasClosed = true;
    CloseCameraDevices(m_videoInput, m_cameras.m_nDeviceCount);
}

bool CPeloraApp::HandlesCommand(UINT nId) { return nId == ID_FILE_NEW || nId == ID_APP_ABOUT; }

bool CPeloraApp::OnCommand(UINT nId) {
    switch (nId) {
        case ID_FILE_NEW:
            m_pDoc->OnNewDocument();
            return true;
        case ID_APP_ABOUT:
            OnAppAbout();
            return true;
        default:
            return false;
    }
}

void CPeloraApp::OnAppAbout() {
    CAboutDlg about(m_pMainFrame.get());
    about.exec();
}

bool InstallToolkitTranslations() {
    // The interface is Japanese whatever the locale, so the toolkit's own
    // texts are too. One translator for the whole run.
    static QPointer<QTranslator> s_pTranslator;
    QCoreApplication* pApp = QCoreApplication::instance();
    if (pApp == nullptr) return false;
    if (s_pTranslator) return true;
    auto* pTranslator = new QTranslator(pApp);
    if (!pTranslator->load(QStringLiteral("qtbase_ja"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(pTranslator)) {
        delete pTranslator;
        return false;
    }
    s_pTranslator = pTranslator;
    return true;
}

namespace {

// The processing dialogs' status lines go onto the main view. Any thread.
void DrawOnMainView(int y, std::string_view text, COLORREF colour) {
    DrawTextAt(g_mainView.load(), y, colour, text);
}

}  // namespace

int RunGui(const SCommandLine& line, const char* pszProgram) {
    if (!line.strPlugin.empty()) CBitmapDialog::SetPluginPath(line.strPlugin);
    // Qt sees only its own (single-dash) options: it has a "-plugin" option
    // of its own.
    std::vector<std::string> qtArgStrings{pszProgram};
    qtArgStrings.insert(qtArgStrings.end(), line.toolkitArgs.begin(), line.toolkitArgs.end());
    std::vector<char*> qtArgs;
    for (std::string& str : qtArgStrings) qtArgs.push_back(str.data());
    int nQtArgc = static_cast<int>(qtArgs.size());
    qtArgs.push_back(nullptr);
    QApplication app(nQtArgc, qtArgs.data());
    // The main window ends the program when it closes, whatever else is open.
    QApplication::setQuitOnLastWindowClosed(false);
    QStringList args;
    for (const std::string& strFile : line.files) args << QString::fromStdString(strFile);
    const bool bPlay = line.bPlay;

    SetTextSink(&DrawOnMainView);
    RouteDialogMessages();
    int nResult = 1;
    {
        CPeloraApp peloraApp;
        if (peloraApp.InitInstance(args, &BitmapDialogFactory)) {
            QObject::connect(peloraApp.MainFrame(), &CMainFrame::Closed, &app,
                             &QCoreApplication::quit, Qt::QueuedConnection);
            auto* pSource = dynamic_cast<CBitmapDialogSource*>(g_currentDialog);
            if (bPlay && pSource != nullptr) {
                QPointer<CBitmapDialog> pDialog(pSource->Dialog());
                QTimer::singleShot(500, pDialog, [pDialog] {
                    if (pDialog) pDialog->OnPlayPause();
                });
            }
            nResult = app.exec();
        }
    }
    SetTextSink(nullptr);
    return nResult;
}
