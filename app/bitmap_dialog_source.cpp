#include "app/bitmap_dialog_source.h"

#include <QPointer>
#include <vector>

#include "app/user_prompts.h"
#include "processing/bitmap_dialog.h"
#include "processing/processing_types.h"

CBitmapDialogSource::CBitmapDialogSource(CBitmapDialog* pDialog)
    : QObject(pDialog), m_pDialog(pDialog) {}

QWidget* CBitmapDialogSource::Window() { return m_pDialog; }

void CBitmapDialogSource::SetSourcePath(const std::string& path) {
    m_pDialog->m_strSourcePath = path;
}

void CBitmapDialogSource::SetSourceKind(int nKind, int nSeekMode) {
    m_pDialog->m_nSourceKind = static_cast<SourceKind>(nKind);
    m_pDialog->m_nSeekMode = static_cast<SeekMode>(nSeekMode);
}

bool CBitmapDialogSource::SetStillSource(CStillFrame frame) {
    if (!frame.m_pBits || frame.m_nSize <= 0) return false;
    std::vector<BYTE> bits(frame.m_pBits.get(), frame.m_pBits.get() + frame.m_nSize);
    m_pDialog->SetStillFrame(frame.m_bmi, std::move(bits));
    m_pDialog->m_nSourceKind = SOURCE_STILL;
    m_pDialog->m_nSeekMode = SEEK_NONE;
    return true;
}

void CBitmapDialogSource::Show() { m_pDialog->show(); }

void CBitmapDialogSource::EndAndDestroy() {
    // Close stops the worker (waiting for it while events are dispatched),
    // then releases the dialog, whose window goes with the next turn of the
    // event loop. A second call is a no-op.
    m_pDialog->OnClose();
}

SourceDialogFactory BitmapDialogFactory(QWidget* pOwner, VideoInput* pVideoInput) {
    QPointer<QWidget> owner(pOwner);
    return [owner, pVideoInput]() -> ISourceDialog* {
        auto* pDialog = new CBitmapDialog(owner.data());
        pDialog->SetVideoInput(pVideoInput);
        return new CBitmapDialogSource(pDialog);
    };
}

namespace {
void ShowDialogMessage(QWidget*, const QString& text) { CUserPrompts::MessageBox(text); }
}  // namespace

void RouteDialogMessages() { CBitmapDialog::SetMessageBoxHandler(&ShowDialogMessage); }
