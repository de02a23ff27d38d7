// app: CPeloraApp, the application object, and RunGui, the program's GUI
// entry.
//
// RunGui makes the QApplication, then the one CPeloraApp, runs its start-up
// (InitInstance) and the event loop. Start-up: the settings store (QSettings
// under the program's registry key) with its 4-entry recent-file list, the
// document, the main window and its view, the toolkit's Japanese
// translations, the camera set-up (app/camera_devices.h: every device opened
// at 640 x 480; with none the camera input menu is greyed), then the command
// line (a file given there is opened as the video command opens one).
//
// The application object owns the one capture library object of the window
// (m_videoInput), made with it on the GUI thread once the QApplication
// exists; the camera dialogs borrow it. Exit order: every processing
// dialog's worker is ended first (none may read a device being closed),
// then every device is closed, then the main window and the document go;
// the device lists and the library object go with the application object.
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

#include "app/camera_devices.h"
#include "app/source_dialog.h"
#include "capture/video_input.h"
#include "platform/win/win_types.h"

class CMainFrame;
class CPeloraDoc;
class CRecentFileList;

class CPeloraApp : public QObject {
    Q_OBJECT

public:
    // Needs a QApplication. Makes nothing visible yet; constructs the
    // capture library object.
    CPeloraApp();
    // Ends every processing dialog, closes every camera device, then the
    // main window, then the document.
    ~CPeloraApp() override;

    // Start-up. args: the command-line arguments after the program name
    // (Qt's own options already taken out). makeFactory is given the main
    // window and the capture library and returns the factory of the
    // processing dialogs (an empty factory: the source commands open nothing).
    // Returns false when start-up failed.
    using FactoryMaker =
        std::function<SourceDialogFactory(QWidget* pMainWindow, VideoInput* pVideoInput)>;
    bool InitInstance(const QStringList& args, const FactoryMaker& makeFactory);

    // ID_APP_ABOUT: the About box, modal.
    void OnAppAbout();
    // Commands the application handles (New, About).
    bool OnCommand(UINT nId);
    static bool HandlesCommand(UINT nId);

    CMainFrame* MainFrame() const { return m_pMainFrame.get(); }
    CPeloraDoc* Document() const { return m_pDoc.get(); }
    CRecentFileList* RecentFiles() const { return m_pRecentFiles.get(); }

    // The capture library object of the window (declared first: it goes
    // last, after everything that reads it).
    VideoInput m_videoInput;
    // The devices found at start-up with their names and format lists.
    SCameraDevices m_cameras;

private:
    void SetUpCameras();
    // Exit: every dialog's worker ended, then every device closed. Once.
    void EndDialogsAndCloseCameras();
    bool m_bCamerasClosed = false;

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
