#include "app/about_dlg.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>

#include "app/resource.h"

namespace {

// The box is laid out in dialog units of a 9-point UI font: one horizontal
// unit is a quarter of the average character width, one vertical unit an
// eighth of the character height. These are the factors for that font here.
constexpr double kUnitX = 1.75;
constexpr double kUnitY = 1.875;

QRect Units(int x, int y, int cx, int cy) {
    return QRect(static_cast<int>(x * kUnitX), static_cast<int>(y * kUnitY),
                 static_cast<int>(cx * kUnitX), static_cast<int>(cy * kUnitY));
}

}  // namespace

QIcon ProgramIcon() {
    // A 32x32 film frame with a black-and-white half, drawn once: the program
    // ships no image files of its own.
    static const QIcon icon = [] {
        QPixmap pixmap(32, 32);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(40, 40, 40), 2));
        painter.setBrush(QColor(70, 110, 180));
        painter.drawRoundedRect(QRectF(2, 5, 28, 22), 3, 3);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(16, 9, 10, 14));
        painter.setBrush(Qt::black);
        painter.drawRect(QRectF(6, 9, 10, 14));
        return QIcon(pixmap);
    }();
    return icon;
}

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QString::fromUtf8(kAboutCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    QFont font = QApplication::font();
    font.setPointSize(9);
    setFont(font);
    setFixedSize(Units(0, 0, 235, 55).size());

    m_pIcon = new QLabel(this);
    m_pIcon->setGeometry(Units(11, 17, 20, 20));
    m_pIcon->setPixmap(ProgramIcon().pixmap(32, 32));
    m_pIcon->setAlignment(Qt::AlignCenter);

    // No prefix processing: the text is shown as it is.
    m_pVersion = new QLabel(QString::fromUtf8(kAboutVersion), this);
    m_pVersion->setTextFormat(Qt::PlainText);
    m_pVersion->setGeometry(Units(40, 10, 119, 8));

    m_pCopyright = new QLabel(QString::fromUtf8(kAboutCopyright), this);
    m_pCopyright->setTextFormat(Qt::PlainText);
    m_pCopyright->setGeometry(Units(40, 25, 137, 8));

    m_pOk = new QPushButton(QStringLiteral("OK"), this);
    m_pOk->setGeometry(Units(178, 7, 50, 16));
    m_pOk->setDefault(true);
    m_pOk->setAutoDefault(true);
    connect(m_pOk, &QPushButton::clicked, this, &QDialog::accept);
}
