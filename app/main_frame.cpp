#include "app/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include "app/about_dlg.h"
#include "app/pelora_doc.h"
#include "app/pelora_view.h"
#include "app/resource.h"

namespace {

// Icon of a toolbar button: the platform theme's, else the style's.
QIcon ThemeIcon(const char* pszThemeName, QStyle::StandardPixmap eFallback) {
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(pszThemeName));
    if (!themed.isNull()) return themed;
    return QApplication::style()->standardIcon(eFallback);
}

}  // namespace

CMainFrame::CMainFrame(CPeloraDoc* pDoc, QWidget* pParent)
    : QMainWindow(pParent), m_pDoc(pDoc), m_pView(new CPeloraView(this)) {
    g_currentDialog = nullptr;
    setWindowTitle(QString::fromUtf8(kMainCaption));
    setWindowIcon(ProgramIcon());
    setCentralWidget(m_pView);
    BuildMenu();
    BuildToolBar();
    BuildAccelerators();
    BuildStatusBar();
    resize(kMainWidth, kMainHeight);
    UpdateCommandStates();
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::MakeAction(UINT nId, const QString& text) {
    auto* pAction = new QAction(text, this);
    pAction->setData(nId);
    if (const char* pszPrompt = CommandPrompt(nId)) {
        const QString prompt = QString::fromUtf8(pszPrompt);
        const qsizetype nBreak = prompt.indexOf(QLatin1Char('\n'));
        pAction->setStatusTip(nBreak < 0 ? prompt : prompt.left(nBreak));
        if (nBreak >= 0) pAction->setToolTip(prompt.mid(nBreak + 1));
    }
    connect(pAction, &QAction::triggered, this, [this, nId] { OnCommand(nId); });
    m_actions.emplace(nId, pAction);
    return pAction;
}

void CMainFrame::BuildMenu() {
    QMenuBar* pBar = menuBar();

    QMenu* pFile = pBar->addMenu(QString::fromUtf8(kMenuFile));
    // The caption shows "Ctrl+O" but the key opens the still image, not this.
    pFile->addAction(MakeAction(ID_FILE_OPEN_VIDEO, QString::fromUtf8(kMenuOpenVideo)));
    pFile->addSeparator();
    pFile->addAction(MakeAction(ID_APP_EXIT, QString::fromUtf8(kMenuExit)));

    m_pCameraMenu = pBar->addMenu(QString::fromUtf8(kMenuCamera));
    m_pCameraMenu->addAction(MakeAction(ID_CAMERA_USB, QString::fromUtf8(kMenuUsbCamera)));

    QMenu* pView = pBar->addMenu(QString::fromUtf8(kMenuView));
    QAction* pToolbar = MakeAction(ID_VIEW_TOOLBAR, QString::fromUtf8(kMenuToolbar));
    pToolbar->setCheckable(true);
    pToolbar->setChecked(true);
    pView->addAction(pToolbar);
    QAction* pStatus = MakeAction(ID_VIEW_STATUS_BAR, QString::fromUtf8(kMenuStatusBar));
    pStatus->setCheckable(true);
    pStatus->setChecked(true);
    pView->addAction(pStatus);

    QMenu* pHelp = pBar->addMenu(QString::fromUtf8(kMenuHelp));
    pHelp->addAction(MakeAction(ID_APP_ABOUT, QString::fromUtf8(kMenuAbout)));
}

void CMainFrame::BuildToolBar() {
    m_pToolBar = new QToolBar(QString::fromUtf8("ツール バー"), this);
    m_pToolBar->setObjectName(QStringLiteral("m_wndToolBar"));
    m_pToolBar->setIconSize(QSize(16, 16));
    m_pToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_pToolBar->setMovable(true);
    m_pToolBar->setFloatable(true);
    m_pToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    addToolBar(Qt::TopToolBarArea, m_pToolBar);

    // Toolbar buttons carry the accelerators of their commands.
    struct SButton {
        UINT nId;
        const char* pszTheme;
        QStyle::StandardPixmap eFallback;
        QList<QKeySequence> keys;
    };
    const SButton buttons[] = {
        {ID_FILE_NEW, "document-new", QStyle::SP_FileIcon, {QKeySequence(Qt::CTRL | Qt::Key_N)}},
        {ID_FILE_OPEN,
         "document-open",
         QStyle::SP_DialogOpenButton,
         {QKeySequence(Qt::CTRL | Qt::Key_O)}},
        {ID_FILE_SAVE,
         "document-save",
         QStyle::SP_DialogSaveButton,
         {QKeySequence(Qt::CTRL | Qt::Key_S)}},
        {0, nullptr, QStyle::SP_CustomBase, {}},
        {ID_EDIT_CUT,
         "edit-cut",
         QStyle::SP_TrashIcon,
         {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)}},
        {ID_EDIT_COPY,
         "edit-copy",
         QStyle::SP_FileLinkIcon,
         {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)}},
        {ID_EDIT_PASTE,
         "edit-paste",
         QStyle::SP_DialogApplyButton,
         {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)}},
        {0, nullptr, QStyle::SP_CustomBase, {}},
        {ID_FILE_PRINT,
         "document-print",
         QStyle::SP_ComputerIcon,
         {QKeySequence(Qt::CTRL | Qt::Key_P)}},
        {ID_APP_ABOUT, "help-about", QStyle::SP_MessageBoxInformation, {}},
    };
    for (const SButton& button : buttons) {
        if (button.nId == 0) {
            m_pToolBar->addSeparator();
            continue;
        }
        // About shares its action with the Help menu item.
        QAction* pAction = button.nId == ID_APP_ABOUT ? CommandAction(ID_APP_ABOUT) : nullptr;
        if (pAction == nullptr) {
            const char* pszPrompt = CommandPrompt(button.nId);
            const QString prompt = pszPrompt ? QString::fromUtf8(pszPrompt) : QString();
            pAction = MakeAction(button.nId, prompt.section(QLatin1Char('\n'), -1));
        }
        pAction->setIcon(ThemeIcon(button.pszTheme, button.eFallback));
        pAction->setIconVisibleInMenu(false);  // menus show captions only
        if (!button.keys.isEmpty()) {
            pAction->setShortcuts(button.keys);
            // A shortcut works only while a visible widget holds its action:
            // the window holds it too, so the keys outlive a hidden toolbar.
            addAction(pAction);
        }
        m_pToolBar->addAction(pAction);
    }
}

void CMainFrame::BuildAccelerators() {
    // Keys with no menu item or button of their own.
    QAction* pUndo = MakeAction(ID_EDIT_UNDO, QStringLiteral("Undo"));
    pUndo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)});
    addAction(pUndo);
    QAction* pNext = MakeAction(ID_NEXT_PANE, QStringLiteral("Next pane"));
    pNext->setShortcut(QKeySequence(Qt::Key_F6));
    addAction(pNext);
    QAction* pPrev = MakeAction(ID_PREV_PANE, QStringLiteral("Previous pane"));
    pPrev->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    addAction(pPrev);
}

void CMainFrame::BuildStatusBar() {
    QStatusBar* pBar = statusBar();
    m_pMessagePane = new QLabel(QString::fromUtf8(kIdleText), pBar);
    pBar->addWidget(m_pMessagePane, 1);
    auto makeIndicator = [pBar](const char* pszText) {
        auto* pLabel = new QLabel(QString::fromUtf8(pszText), pBar);
        pLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pLabel->setAlignment(Qt::AlignCenter);
        pLabel->setMinimumWidth(pLabel->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) +
                                8);
        // The lock-key state is not offered by the window system here, so
        // the indicators stay greyed, as an unlit indicator looks.
        pLabel->setEnabled(false);
        pBar->addPermanentWidget(pLabel);
        return pLabel;
    };
    m_pIndicatorCaps = makeIndicator(kIndicatorCaps);
    m_pIndicatorNum = makeIndicator(kIndicatorNum);
    m_pIndicatorScrl = makeIndicator(kIndicatorScrl);
}

QList<QLabel*> CMainFrame::Indicators() const {
    return {m_pIndicatorCaps, m_pIndicatorNum, m_pIndicatorScrl};
}

void CMainFrame::SetAppCommands(CommandHandler handler, CommandFilter handles) {
    m_appHandler = std::move(handler);
    m_appHandles = std::move(handles);
    UpdateCommandStates();
}

bool CMainFrame::FrameHandles(UINT nId) {
    return nId == ID_APP_EXIT || nId == ID_VIEW_TOOLBAR || nId == ID_VIEW_STATUS_BAR;
}

bool CMainFrame::HasHandler(UINT nId) const {
    return CPeloraView::HandlesCommand(nId) || CPeloraDoc::HandlesCommand(nId) ||
           FrameHandles(nId) || (m_appHandles && m_appHandles(nId));
}

bool CMainFrame::OnCommand(UINT nId) {
    emit CommandRun(nId);
    if (m_pView->OnCommand(nId)) return true;
    if (m_pDoc->OnCommand(nId)) return true;
    if (OnFrameCommand(nId)) return true;
    return m_appHandler && m_appHandler(nId);
}

bool CMainFrame::OnFrameCommand(UINT nId) {
    switch (nId) {
        case ID_APP_EXIT:
            close();
            return true;
        case ID_VIEW_TOOLBAR: {
            const bool bShow = m_pToolBar->isHidden();
            m_pToolBar->setVisible(bShow);
            CommandAction(ID_VIEW_TOOLBAR)->setChecked(bShow);
            return true;
        }
        case ID_VIEW_STATUS_BAR: {
            const bool bShow = statusBar()->isHidden();
            statusBar()->setVisible(bShow);
            CommandAction(ID_VIEW_STATUS_BAR)->setChecked(bShow);
            return true;
        }
        default:
            return false;
    }
}

QAction* CMainFrame::CommandAction(UINT nId) const {
    const auto it = m_actions.find(nId);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::UpdateCommandStates() {
    for (const auto& [nId, pAction] : m_actions) pAction->setEnabled(HasHandler(nId));
}

void CMainFrame::EnableCameraMenu(bool bEnable) {
    m_pCameraMenu->menuAction()->setEnabled(bEnable);
}

void CMainFrame::closeEvent(QCloseEvent* pEvent) {
    // Processing dialogs first: their workers draw on the view, which goes
    // with this window.
    m_pDoc->CloseAllDialogs();
    QMainWindow::closeEvent(pEvent);
    if (pEvent->isAccepted()) emit Closed();
}
