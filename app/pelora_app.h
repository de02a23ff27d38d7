// app: CPeloraApp, the application object, and RunGui, the program's GUI
// entry.
//
// RunGui makes the QApplication, then the one CPeloraApp, runs its start-up
// (InitInstance) and the event loop. Start-up: the settings store (QSettings
// under the program's registry key) with its 4-entry recent-file list, the
// document, the main window and its view, the command line (a file given
// there is opened as the video command opens one), the toolkit's Japanese
// translations, the camera set-up (no
// camera library yet: no device, so the camera input menu is greyed).
//
// Threads: GUI thread only.
// May include: Qt Widgets, app/*.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/source_dialog.h"
#include "platform/win/win_types.h"

class CMainFrame;
class CPeloraDoc;
class CRecentFileList;

class CPeloraApp : public QObject {
    Q_OBJECT

public:
    // Needs a QApplication. Makes nothing visible yet.
    CPeloraApp();
    // Ends every processing dialog, then the main window, then the document.
    ~CPeloraApp() override;

    // Start-up. args: the command-line arguments after the program name
    // (Qt's own options already taken out). makeFactory is given the main
    // window and returns the factory of the processing dialogs (an empty
    // factory: the source commands open nothing).
    // Returns false when start-up failed.
    using FactoryMaker = std::function<SourceDialogFactory(QWidget* pMainWindow)>;
    bool InitInstance(const QStringList& args, const FactoryMaker& makeFactory);

    // ID_APP_ABOUT: the About box, modal.
    void OnAppAbout();
    // Commands the application handles (New, About).
    bool OnCommand(UINT nId);
    static bool HandlesCommand(UINT nId);

    CMainFrame* MainFrame() const { return m_pMainFrame.get(); }
    CPeloraDoc* Document() const { return m_pDoc.get(); }
    CRecentFileList* RecentFiles() const { return m_pRecentFiles.get(); }

    // Capture devices found at start-up.
    INT m_nDeviceCount = 0;

private:
    void SetUpCameras();

    std::unique_ptr<CRecentFileList> m_pRecentFiles;
    std::unique_ptr<CPeloraDoc> m_pDoc;
    std::unique_ptr<CMainFrame> m_pMainFrame;
};

// Sets the application and organisation names under which QSettings keeps
// the program's settings. Called before the first QSettings is made.
void SetSettingsIdentity();

// The GUI program, `pelora [--plugin PATH] [--play] [FILE]`, from a parsed
// command line without --headless; pszProgram is argv[0]. Returns the exit
// code.
struct SCommandLine;
int RunGui(const SCommandLine& line, const char* pszProgram);

// Loads the GUI toolkit's own Japanese translations (the standard dialogs'
// "Look in", "Cancel", ...) into the running application, once, so that they
// match the Japanese interface. False when they are not installed (Debian
// package qt6-translations-l10n): the dialogs then stay English.
bool InstallToolkitTranslations();
