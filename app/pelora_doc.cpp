#include "app/pelora_doc.h"

#include <QFile>
#include <QString>
#include <algorithm>
#include <utility>

#include "app/image_frame.h"
#include "app/image_readers.h"
#include "app/recent_file_list.h"
#include "app/resource.h"
#include "app/user_prompts.h"

ISourceDialog* g_currentDialog = nullptr;

CPeloraDoc::CPeloraDoc(QObject* pParent) : QObject(pParent) { g_currentDialog = nullptr; }

CPeloraDoc::~CPeloraDoc() {
    CloseAllDialogs();
    DestroyAllDialogs();
}

void CPeloraDoc::SetDialogFactory(SourceDialogFactory factory) { m_factory = std::move(factory); }

void CPeloraDoc::SetRecentFileList(CRecentFileList* pList) { m_pRecentFiles = pList; }

bool CPeloraDoc::HandlesCommand(UINT nId) {
    return nId == ID_FILE_OPEN_VIDEO || nId == ID_CAMERA_USB || nId == ID_FILE_OPEN ||
           nId == ID_FILE_SAVE;
}

bool CPeloraDoc::OnCommand(UINT nId) {
    switch (nId) {
        case ID_FILE_OPEN_VIDEO:
            OnOpenVideoFile();
            return true;
        case ID_CAMERA_USB:
            OnUsbCamera();
            return true;
        case ID_FILE_OPEN:
            OnOpenImageFile();
            return true;
        case ID_FILE_SAVE:
            OnFileSave();
            return true;
        default:
            return false;
    }
}

bool CPeloraDoc::OnNewDocument() {
    // The document holds nothing, so starting over changes nothing the user
    // sees: no dialog is touched and the main window keeps its caption.
    m_strPathName.clear();
    return true;
}

void CPeloraDoc::OnOpenVideoFile() {
    const std::optional<QString> chosen =
        CUserPrompts::ChooseFile(SFileRequest{false, QString::fromUtf8(kVideoFilter)});
    if (!chosen) return;
    m_filePath = chosen->toStdString();
    OpenSource(m_filePath, FileExtension(m_filePath));
}

void CPeloraDoc::OnUsbCamera() { OpenSource(kDeviceUsbCamera, kNoExtension); }

void CPeloraDoc::OpenFile(const std::string& path) {
    m_filePath = path;
    OpenSource(path, FileExtension(path));
}

void CPeloraDoc::OpenSource(std::string name, std::string extension) {
    const ESourceClass eClass = ClassifySource(name, extension);
    ISourceDialog* pDialog = NewCurrentDialog();
    if (pDialog == nullptr) return;
    pDialog->SetSourcePath(name);
    switch (eClass) {
        case ESourceClass::AviFile:
        case ESourceClass::Mp4File:
            pDialog->SetSourceKind(kSourceKindFile, SeekModeOf(eClass));
            break;
        case ESourceClass::UsbCamera:
            pDialog->SetSourceKind(kSourceKindUsbCamera, kSeekModeNone);
            break;
        case ESourceClass::VideoForWindows:
            pDialog->SetSourceKind(kSourceKindVfw, kSeekModeNone);
            break;
        case ESourceClass::Ni100U:
            pDialog->SetSourceKind(kSourceKindNi100U, kSeekModeNone);
            break;
        case ESourceClass::MpegFile:
            // The new dialog stays current but hidden, with kind 0.
            CUserPrompts::MessageBox(QString::fromUtf8(kMpegMessage));
            return;
    }
    ShowDialog(pDialog);
}

void CPeloraDoc::OnOpenImageFile() {
    const std::optional<QString> chosen =
        CUserPrompts::ChooseFile(SFileRequest{false, QString::fromUtf8(kImageFilter)});
    if (!chosen) return;
    m_filePath = chosen->toStdString();

    // A file that cannot be read is refused with a message before anything
    // else happens: the current dialog stays and no new one is made.
    const std::optional<EImageFileKind> kind = ImageKindFromPath(m_filePath);
    if (!kind) {
        CUserPrompts::MessageBox(QString::fromUtf8(kImageKindMessage).arg(*chosen),
                                 EMessageButtons::Ok, EMessageIcon::Warning);
        return;
    }
    const CanvasQuestion askCanvas = [](const std::string& question) {
        return CUserPrompts::MessageBox(QString::fromStdString(question), EMessageButtons::YesNo,
                                        EMessageIcon::Question) == IDYES;
    };
    CStillFrame frame;
    const EImageStatus status = LoadStillFrame(m_filePath, *kind, askCanvas, frame);
    if (status != EImageStatus::Ok) {
        CUserPrompts::MessageBox(
            QString::fromStdString(ImageReadMessage(*kind, status, m_filePath)),
            EMessageButtons::Ok, EMessageIcon::Warning);
        return;
    }

    // The visible current dialog goes first: its worker ends before its window.
    if (SDialogEntry* pCurrent = CurrentEntry()) {
        if (pCurrent->window->isVisible()) pCurrent->pDialog->EndAndDestroy();
    }

    ISourceDialog* pDialog = NewCurrentDialog();
    if (pDialog == nullptr) return;
    pDialog->SetSourcePath(m_filePath);
    if (!pDialog->SetStillSource(std::move(frame))) return;  // stays hidden, as for MPEG
    ShowDialog(pDialog);
    if (QWidget* pWindow = pDialog->Window()) pWindow->update();
}

void CPeloraDoc::OnFileSave() {
    QString path = m_strPathName;
    if (path.isEmpty()) {
        const std::optional<QString> chosen = CUserPrompts::ChooseFile(SFileRequest{true, {}});
        if (!chosen) return;
        path = *chosen;
    }
    // The document has no contents: saving writes an empty file.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        CUserPrompts::MessageBox(
            QStringLiteral("%1 に保存できません。\n%2").arg(path, file.errorString()),
            EMessageButtons::Ok, EMessageIcon::Warning);
        return;
    }
    file.close();
    m_strPathName = path;
    if (m_pRecentFiles != nullptr) m_pRecentFiles->Add(path);
}

ISourceDialog* CPeloraDoc::NewCurrentDialog() {
    if (!m_factory) return nullptr;
    PruneDialogs();
    // A current dialog that was never shown (the MPEG case) has no worker and
    // nothing on screen; once replaced nothing could ever reach it again.
    if (SDialogEntry* pCurrent = CurrentEntry(); pCurrent != nullptr && !pCurrent->bShown) {
        pCurrent->pDialog->EndAndDestroy();
        PruneDialogs();
    }
    ISourceDialog* pDialog = m_factory();
    if (pDialog == nullptr || pDialog->Window() == nullptr) return nullptr;
    QWidget* pWindow = pDialog->Window();
    m_dialogs.push_back(SDialogEntry{pWindow, pDialog, false});
    g_currentDialog = pDialog;
    // The dialog deletes itself when its window goes; forget it then.
    connect(pWindow, &QObject::destroyed, this, [pDialog] {
        if (g_currentDialog == pDialog) g_currentDialog = nullptr;
    });
    return pDialog;
}

CPeloraDoc::SDialogEntry* CPeloraDoc::CurrentEntry() {
    if (g_currentDialog == nullptr) return nullptr;
    for (SDialogEntry& entry : m_dialogs) {
        if (entry.pDialog == g_currentDialog && !entry.window.isNull()) return &entry;
    }
    return nullptr;
}

void CPeloraDoc::ShowDialog(ISourceDialog* pDialog) {
    for (SDialogEntry& entry : m_dialogs) {
        if (entry.pDialog == pDialog) entry.bShown = true;
    }
    pDialog->Show();
}

void CPeloraDoc::PruneDialogs() {
    m_dialogs.erase(std::remove_if(m_dialogs.begin(), m_dialogs.end(),
                                   [](const SDialogEntry& entry) { return entry.window.isNull(); }),
                    m_dialogs.end());
}

std::vector<ISourceDialog*> CPeloraDoc::LiveDialogs() {
    PruneDialogs();
    std::vector<ISourceDialog*> dialogs;
    for (const SDialogEntry& entry : m_dialogs) dialogs.push_back(entry.pDialog);
    return dialogs;
}

void CPeloraDoc::CloseAllDialogs() {
    // Newest first; a dialog's end may process events, and with them another
    // dialog may close itself, so the list is looked at again before each
    // call. A dialog that stays (its worker stuck in the plug-in after the
    // forced stop) stays listed, so that DestroyAllDialogs still reaches it.
    std::vector<QPointer<QWidget>> ended;
    while (true) {
        PruneDialogs();
        const auto it =
            std::find_if(m_dialogs.rbegin(), m_dialogs.rend(), [&](const SDialogEntry& entry) {
                return std::find(ended.begin(), ended.end(), entry.window) == ended.end();
            });
        if (it == m_dialogs.rend()) break;
        ended.push_back(it->window);
        it->pDialog->EndAndDestroy();
    }
    g_currentDialog = nullptr;
}

void CPeloraDoc::DestroyAllDialogs() {
    PruneDialogs();
    std::vector<QPointer<QWidget>> windows;
    for (const SDialogEntry& entry : m_dialogs) windows.push_back(entry.window);
    m_dialogs.clear();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) delete it->data();
    g_currentDialog = nullptr;
}
