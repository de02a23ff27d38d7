#include "app/pelora_app.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>

#include "app/about_dlg.h"
#include "app/main_frame.h"
#include "app/pelora_doc.h"
#include "app/recent_file_list.h"
#include "app/resource.h"
#include "app/user_prompts.h"

void SetSettingsIdentity() {
    QCoreApplication::setOrganizationName(QString::fromUtf8(kRegistryKey));
    QCoreApplication::setApplicationName(QString::fromUtf8(kAppTitle));
}

CPeloraApp::CPeloraApp() = default;

CPeloraApp::~CPeloraApp() {
    if (m_pDoc) m_pDoc->CloseAllDialogs();
    CUserPrompts::SetParentWindow(nullptr);
    m_pMainFrame.reset();
    m_pDoc.reset();
}

bool CPeloraApp::InitInstance(const QStringList& args, SourceDialogFactory factory) {
    SetSettingsIdentity();
    // Toolbar icons come from the desktop's icon theme; without a desktop
    // session fall back to a common freedesktop theme when one is installed.
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));

    m_pRecentFiles = std::make_unique<CRecentFileList>(kRecentFileCount);
    m_pDoc = std::make_unique<CPeloraDoc>();
    m_pDoc->SetRecentFileList(m_pRecentFiles.get());
    m_pDoc->SetDialogFactory(std::move(factory));
    m_pMainFrame = std::make_unique<CMainFrame>(m_pDoc.get());
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
    // No capture library in this build: no device is ever found, and the
    // camera input menu is greyed as with no camera attached.
    m_nDeviceCount = 0;
    if (m_nDeviceCount == 0) m_pMainFrame->EnableCameraMenu(false);
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

int RunGui(int argc, char** argv) {
    QApplication app(argc, argv);
    // The main window ends the program when it closes, whatever else is open.
    QApplication::setQuitOnLastWindowClosed(false);
    CPeloraApp peloraApp;
    QStringList args = QCoreApplication::arguments();
    if (!args.isEmpty()) args.removeFirst();
    if (!peloraApp.InitInstance(args, SourceDialogFactory())) return 1;
    QObject::connect(peloraApp.MainFrame(), &CMainFrame::Closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    return app.exec();
}
