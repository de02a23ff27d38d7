// app: CAboutDlg, the About box: the program icon, "Kesto Version 0.0.2", a
// copyright line and OK, captioned "バージョン情報 Pelora". Shown modally by
// CPeloraApp::OnAppAbout.
//
// Threads: GUI thread only.
// May include: Qt Widgets, app/resource.h.
#pragma once

#include <QDialog>

class QIcon;
class QLabel;
class QPushButton;

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* pParent = nullptr);

    QLabel* VersionLabel() const { return m_pVersion; }
    QLabel* CopyrightLabel() const { return m_pCopyright; }
    QPushButton* OkButton() const { return m_pOk; }

private:
    QLabel* m_pIcon;
    QLabel* m_pVersion;
    QLabel* m_pCopyright;
    QPushButton* m_pOk;
};

// The program icon (used by the main window and the About box).
QIcon ProgramIcon();
