#include "app/pelora_view.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPrinter>
#include <algorithm>

#include "app/resource.h"
#include "app/user_prompts.h"

std::atomic<CPeloraView*> g_mainView{nullptr};

namespace {

// The event a drawing thread posts to have the GUI thread repaint.
QEvent::Type RepaintEventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

}  // namespace

CPeloraView::CPeloraView(QWidget* pParent) : QWidget(pParent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    g_mainView.store(this);
}

CPeloraView::~CPeloraView() {
    CPeloraView* pSelf = this;
    g_mainView.compare_exchange_strong(pSelf, nullptr);
}

int CPeloraView::PaintText(const QRect& rcArea, const std::function<int(QPainter&)>& draw) {
    return PaintTextArea(rcArea, false, draw);
}

int CPeloraView::PaintTextLine(const QRect& rcLine, const std::function<int(QPainter&)>& draw) {
    return PaintTextArea(rcLine, true, draw);
}

int CPeloraView::PaintTextArea(const QRect& rcArea, bool bReplaceRows,
                               const std::function<int(QPainter&)>& draw) {
    const QRect rcLimit(0, 0, kMaxTextWidth, kMaxTextHeight);
    const QRect rcNeeded = rcArea.intersected(rcLimit);
    int nResult = 0;
    bool bPost = false;
    {
        std::lock_guard<std::mutex> lock(m_mxText);
        if (!rcNeeded.isEmpty() &&
            (rcNeeded.right() >= m_imgText.width() || rcNeeded.bottom() >= m_imgText.height())) {
            const int nWidth = std::max(m_imgText.width(), rcNeeded.right() + 1);
            const int nHeight = std::max(m_imgText.height(), rcNeeded.bottom() + 1);
            QImage imgGrown(nWidth, nHeight, QImage::Format_ARGB32_Premultiplied);
            imgGrown.fill(Qt::transparent);
            if (!m_imgText.isNull()) {
                QPainter copy(&imgGrown);
                copy.setCompositionMode(QPainter::CompositionMode_Source);
                copy.drawImage(0, 0, m_imgText);
            }
            m_imgText = std::move(imgGrown);
        }
        if (m_imgText.isNull()) return 0;  // nothing visible has been or can be drawn
        QRect rcDirty = rcNeeded;
        {
            QPainter painter(&m_imgText);
            if (bReplaceRows && !rcNeeded.isEmpty()) {
                rcDirty = QRect(0, rcNeeded.top(), m_imgText.width(), rcNeeded.height());
                painter.setCompositionMode(QPainter::CompositionMode_Clear);
                painter.fillRect(rcDirty, Qt::transparent);
                painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
            }
            nResult = draw(painter);
        }
        bPost = MarkDirtyLocked(rcDirty);
    }
    if (bPost) PostRepaint();
    return nResult;
}

QImage CPeloraView::TextImage() const {
    std::lock_guard<std::mutex> lock(m_mxText);
    return m_imgText.copy();
}

void CPeloraView::ClearText() {
    bool bPost = false;
    {
        std::lock_guard<std::mutex> lock(m_mxText);
        bPost = MarkDirtyLocked(m_imgText.rect());
        m_imgText = QImage();
    }
    if (bPost) PostRepaint();
}

bool CPeloraView::MarkDirtyLocked(const QRect& rc) {
    m_rcDirty = m_rcDirty.united(rc);
    if (m_bRepaintQueued) return false;  // the queued repaint will cover rc too
    m_bRepaintQueued = true;
    return true;
}

void CPeloraView::PostRepaint() {
    // postEvent never waits for the GUI thread; events still queued when the
    // view is destroyed are discarded with it. Called without m_mxText so that
    // no lock of Qt's is ever taken under ours.
    QCoreApplication::postEvent(this, new QEvent(RepaintEventType()));
}

bool CPeloraView::event(QEvent* pEvent) {
    if (pEvent->type() == RepaintEventType()) {
        QRect rc;
        {
            std::lock_guard<std::mutex> lock(m_mxText);
            rc = m_rcDirty;
            m_rcDirty = QRect();
            m_bRepaintQueued = false;
        }
        if (!rc.isEmpty()) update(rc);
        return true;
    }
    return QWidget::event(pEvent);
}

void CPeloraView::paintEvent(QPaintEvent* pEvent) {
    QPainter painter(this);
    const QRect rc = pEvent->rect();
    painter.fillRect(rc, Qt::white);
    std::lock_guard<std::mutex> lock(m_mxText);
    if (!m_imgText.isNull()) painter.drawImage(rc.topLeft(), m_imgText, rc);
}

bool CPeloraView::HandlesCommand(UINT nId) { return nId == ID_FILE_PRINT; }

bool CPeloraView::OnCommand(UINT nId) {
    if (nId != ID_FILE_PRINT) return false;
    OnFilePrint();
    return true;
}

void CPeloraView::OnFilePrint() {
    QPrinter printer;
    if (!CUserPrompts::ChoosePrinter(printer)) return;
    if (!PrintPage(printer)) {
        CUserPrompts::MessageBox(QStringLiteral("印刷できません。"), EMessageButtons::Ok,
                                 EMessageIcon::Warning);
    }
}

bool CPeloraView::PrintPage(QPrinter& printer) {
    // The view draws nothing of the document's (it has no contents), so the
    // page stays empty; the timing lines are scratch output, not printed.
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    return painter.end();
}
