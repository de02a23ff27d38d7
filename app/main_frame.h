// app: CMainFrame, the main window: the menu, the toolbar, the status bar and
// the view (CPeloraView) that fills it.
//
// Every menu item, toolbar button and accelerator is a QAction carrying its
// command id (QAction::data). Triggering one runs OnCommand, which routes the
// id as the program always has: view, then document, then frame, then
// application; the first that handles it runs it. An id that nobody handles
// (cut, copy, paste, undo, next/previous pane) has its action disabled.
//
// The message pane of the status bar shows "レディ" when idle and the prompt
// of the command the user points at; the CAP, NUM and SCRL indicators follow.
// The caption is "Kesto" and stays so whatever is opened.
//
// Closing the window ends every processing dialog first (their workers have
// ended when they go), then the window itself; it then emits Closed, on which
// the program's event loop ends.
//
// Threads: GUI thread only.
// May include: Qt Widgets, app/*.
#pragma once

#include <QMainWindow>
#include <functional>
#include <map>

#include "platform/win/win_types.h"

class CPeloraDoc;
class CPeloraView;
class QLabel;
class QMenu;
class QToolBar;

class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    // Builds the whole window (menu, toolbar, status bar, view), 420x340,
    // captioned "Kesto", hidden. pDoc must outlive the frame. Sets
    // g_currentDialog to null.
    explicit CMainFrame(CPeloraDoc* pDoc, QWidget* pParent = nullptr);
    ~CMainFrame() override;

    // The application's handlers (New, About, ...): returns true when it ran nId.
    using CommandHandler = std::function<bool(UINT nId)>;
    using CommandFilter = std::function<bool(UINT nId)>;
    void SetAppCommands(CommandHandler handler, CommandFilter handles);

    // Runs command nId along the routing chain. False when nobody handles it.
    bool OnCommand(UINT nId);
    // True when some handler along the chain takes nId.
    bool HasHandler(UINT nId) const;

    // The action of a command id (the first one made for it), or null.
    QAction* CommandAction(UINT nId) const;
    CPeloraView* View() const { return m_pView; }
    QToolBar* ToolBar() const { return m_pToolBar; }
    QMenu* CameraMenu() const { return m_pCameraMenu; }
    QLabel* MessagePane() const { return m_pMessagePane; }
    QList<QLabel*> Indicators() const;

    // Greys (or enables) the camera input menu, as start-up does when no
    // camera is attached.
    void EnableCameraMenu(bool bEnable);

    // Enables or disables each action by whether its command has a handler.
    void UpdateCommandStates();

signals:
    // Emitted with each command id run through OnCommand, before it runs.
    void CommandRun(UINT nId);
    // The window has closed and every processing dialog has ended.
    void Closed();

protected:
    void closeEvent(QCloseEvent* pEvent) override;

private:
    QAction* MakeAction(UINT nId, const QString& text);
    bool OnFrameCommand(UINT nId);
    static bool FrameHandles(UINT nId);
    void BuildMenu();
    void BuildToolBar();
    void BuildStatusBar();
    void BuildAccelerators();

    CPeloraDoc* m_pDoc;
    CPeloraView* m_pView;
    QToolBar* m_pToolBar = nullptr;
    QMenu* m_pCameraMenu = nullptr;
    QLabel* m_pMessagePane = nullptr;
    QLabel* m_pIndicatorCaps = nullptr;
    QLabel* m_pIndicatorNum = nullptr;
    QLabel* m_pIndicatorScrl = nullptr;
    std::multimap<UINT, QAction*> m_actions;  // every action by command id
    CommandHandler m_appHandler;
    CommandFilter m_appHandles;
};
