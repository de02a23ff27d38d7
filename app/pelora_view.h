// app: CPeloraView, the main window's view.
//
// The view has no document drawing of its own; the processing dialogs use it
// as a scratch pad for their status lines (app/view_text.h). What they draw
// goes into the view's own text image, so it survives any repaint the window
// system asks for; the view paints that image over its white background.
//
// Threads: the view lives on the GUI thread. PaintText and TextImage may be
// called from any thread (a dialog's worker draws its timing lines while the
// GUI thread paints); they take m_mxText only for the drawing itself and queue
// the repaint onto the GUI thread, never waiting for it. The view must outlive
// every thread that draws on it (the main window ends the processing dialogs,
// and with them their workers, before it goes).
// May include: Qt Widgets, platform/win.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>
#include <atomic>
#include <functional>
#include <mutex>

#include "platform/win/win_types.h"

class QPainter;
class QPrinter;

class CPeloraView : public QWidget {
    Q_OBJECT

public:
    // GUI thread. Becomes g_mainView.
    explicit CPeloraView(QWidget* pParent = nullptr);
    // GUI thread. Clears g_mainView if it still names this view.
    ~CPeloraView() override;

    // Largest text image kept; drawing beyond it is clipped.
    static constexpr int kMaxTextWidth = 4096;
    static constexpr int kMaxTextHeight = 4096;

    // Any thread. Grows the text image to cover rcArea (within the limits
    // above), runs draw with a painter on the image under m_mxText, and
    // queues a repaint of rcArea onto the GUI thread. Returns draw's result.
    int PaintText(const QRect& rcArea, const std::function<int(QPainter&)>& draw);
    // Any thread. As PaintText for a line of text at rcLine, but the line's
    // rows are cleared first across the whole width of the text image and
    // repainted as a whole: a shorter line written over a longer one leaves
    // nothing of it behind.
    int PaintTextLine(const QRect& rcLine, const std::function<int(QPainter&)>& draw);

    // Any thread. A copy of what has been drawn so far; pixels never drawn on
    // are fully transparent.
    QImage TextImage() const;

    // Any thread. Forgets every line drawn so far and repaints.
    void ClearText();

    // GUI thread. Commands the view handles: ID_FILE_PRINT (the print
    // dialog, then an empty page: the document has nothing to print).
    // Returns false for any other id.
    bool OnCommand(UINT nId);
    static bool HandlesCommand(UINT nId);
    void OnFilePrint();
    // Prints the view's page (empty) on an already set-up printer.
    static bool PrintPage(QPrinter& printer);

protected:
    // GUI thread.
    void paintEvent(QPaintEvent* pEvent) override;
    bool event(QEvent* pEvent) override;

private:
    int PaintTextArea(const QRect& rcArea, bool bReplaceRows,
                      const std::function<int(QPainter&)>& draw);
    // Called with m_mxText held: adds rc to the area to repaint; true when
    // the caller must post the repaint event (after releasing m_mxText).
    bool MarkDirtyLocked(const QRect& rc);
    // Any thread, without m_mxText: queues one repaint event to the GUI thread.
    void PostRepaint();

    mutable std::mutex m_mxText;    // guards m_imgText, m_rcDirty, m_bRepaintQueued
    QImage m_imgText;               // the drawn lines, ARGB, transparent where nothing was drawn
    QRect m_rcDirty;                // area drawn since the last queued repaint ran
    bool m_bRepaintQueued = false;  // a repaint event is on its way to the GUI thread
};

// The view of the main window, target of DrawTextLine. Written on the GUI
// thread when the view is created (and cleared when it goes); read by any thread.
extern std::atomic<CPeloraView*> g_mainView;
