#include "app/user_prompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <utility>

#include "app/resource.h"

namespace {

// All GUI thread.
CUserPrompts::MessageHook& MessageHookSlot() {
    static CUserPrompts::MessageHook hook;
    return hook;
}
CUserPrompts::FileHook& FileHookSlot() {
    static CUserPrompts::FileHook hook;
    return hook;
}
CUserPrompts::PrintHook& PrintHookSlot() {
    static CUserPrompts::PrintHook hook;
    return hook;
}
QPointer<QWidget>& ParentSlot() {
    static QPointer<QWidget> parent;
    return parent;
}

}  // namespace

int CUserPrompts::MessageBox(const QString& text, EMessageButtons buttons, EMessageIcon icon) {
    SMessageRequest request{text, buttons, icon};
    if (MessageHookSlot()) return MessageHookSlot()(request);

    QMessageBox box(ParentSlot().data());
    box.setWindowTitle(QString::fromUtf8(kAppTitle));
    box.setText(text);
    switch (icon) {
        case EMessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case EMessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case EMessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case EMessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
    }
    if (buttons == EMessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

std::optional<QString> CUserPrompts::ChooseFile(const SFileRequest& request) {
    if (FileHookSlot()) return FileHookSlot()(request);
    const QString path = request.bSave
                             ? QFileDialog::getSaveFileName(ParentSlot().data(), QString(),
                                                            QString(), request.filter)
                             : QFileDialog::getOpenFileName(ParentSlot().data(), QString(),
                                                            QString(), request.filter);
    if (path.isEmpty()) return std::nullopt;
    return path;
}

bool CUserPrompts::ChoosePrinter(QPrinter& printer) {
    if (PrintHookSlot()) return PrintHookSlot()(printer);
    QPrintDialog dialog(&printer, ParentSlot().data());
    return dialog.exec() == QDialog::Accepted;
}

void CUserPrompts::SetMessageHook(MessageHook hook) { MessageHookSlot() = std::move(hook); }
void CUserPrompts::SetFileHook(FileHook hook) { FileHookSlot() = std::move(hook); }
void CUserPrompts::SetPrintHook(PrintHook hook) { PrintHookSlot() = std::move(hook); }
void CUserPrompts::SetParentWindow(QWidget* pParent) { ParentSlot() = pParent; }
