// app: CPeloraDoc, the single document, and its source commands.
//
// The document has no contents of its own. It carries the commands with
// which the user picks what to process: a video file (OnOpenVideoFile), the
// USB camera (OnUsbCamera) and a still image (OnOpenImageFile). The first two
// end in OpenSource, which classifies the request by its extension or device
// name (exactly and case-sensitively), creates a new processing dialog,
// makes it current, writes its source path, kind and seek mode, and shows it.
//
// A processing dialog that a source command replaces stays as it was: open
// and running if it was shown. Only the image command ends the visible
// current dialog (its worker first, then its window) before it opens its own.
// The document keeps track of every dialog it made so that the main window
// can end them all before it goes.
//
// Threads: GUI thread only.
// May include: Qt Widgets, app/*.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <string>
#include <vector>

#include "app/source_class.h"
#include "app/source_dialog.h"
#include "platform/win/win_types.h"

class CRecentFileList;

// The processing dialog most recently made by a source command; null until
// the first one, and null again once that dialog's window is gone.
// GUI thread only.
extern ISourceDialog* g_currentDialog;

class CPeloraDoc : public QObject {
    Q_OBJECT

public:
    // Sets g_currentDialog to null.
    explicit CPeloraDoc(QObject* pParent = nullptr);
    // Ends every processing dialog still open.
    ~CPeloraDoc() override;

    // Where new processing dialogs come from. Without a factory the source
    // commands open nothing.
    void SetDialogFactory(SourceDialogFactory factory);
    // Saved files go into this list (may be null).
    void SetRecentFileList(CRecentFileList* pList);

    // Commands this document handles: the two source commands, the image
    // Open (ID_FILE_OPEN) and Save. Returns false for any other id.
    bool OnCommand(UINT nId);
    static bool HandlesCommand(UINT nId);

    // ID_FILE_NEW: the single document starts over; nothing visible changes.
    bool OnNewDocument();
    // ID_FILE_OPEN_VIDEO: file dialog with the AVI/ASF and MP4 filters.
    void OnOpenVideoFile();
    // ID_CAMERA_USB: OpenSource("VIDEO_IN", "none").
    void OnUsbCamera();
    // ID_FILE_OPEN: bitmap or CSV still image into a new processing dialog.
    void OnOpenImageFile();
    // ID_FILE_SAVE: writes the (empty) document; asks for a name the first time.
    void OnFileSave();

    // A file given on the command line: opened as the video command would.
    void OpenFile(const std::string& path);

    // Turns a source description into a new, current processing dialog.
    void OpenSource(std::string name, std::string extension);

    // Ends every processing dialog that is still open, newest first; each
    // one's worker has ended when its window goes.
    void CloseAllDialogs();

    // Deletes the window of every dialog still there (ended or not; a
    // dialog's destructor stops its worker, or leaves one stuck in the
    // plug-in behind after a bounded wait). For the end of the program.
    void DestroyAllDialogs();

    // Dialogs made by the source commands whose windows still exist, oldest first.
    std::vector<ISourceDialog*> LiveDialogs();

    // The last file chosen with the video or image Open command.
    const std::string& FilePath() const { return m_filePath; }
    // The file the document was last saved to ("" until the first Save).
    const QString& PathName() const { return m_strPathName; }

private:
    struct SDialogEntry {
        QPointer<QWidget> window;  // null once the dialog has deleted itself
        ISourceDialog* pDialog;    // valid while window is not null
        bool bShown;               // Show has been called
    };

    // Makes a dialog with the factory and makes it current (null without one).
    ISourceDialog* NewCurrentDialog();
    // The entry of g_currentDialog, or null.
    SDialogEntry* CurrentEntry();
    void ShowDialog(ISourceDialog* pDialog);
    void PruneDialogs();

    std::string m_filePath;
    QString m_strPathName;
    SourceDialogFactory m_factory;
    CRecentFileList* m_pRecentFiles = nullptr;
    std::vector<SDialogEntry> m_dialogs;  // oldest first
};
