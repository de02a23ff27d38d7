// The view text writer: cells, rows, background, colour, substitutions,
// invalid UTF-8, and drawing from two threads while the GUI repaints.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QTextItem>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/pelora_view.h"
#include "app/view_text.h"
#include "support/qt_environment.h"

namespace {

// A paint device that records what text is drawn where instead of drawing it.
class CRecordingEngine : public QPaintEngine {
public:
    struct Item {
        QPointF pos;
        std::u32string text;
    };
    std::vector<Item> m_items;

    CRecordingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawRects(const QRectF*, int) override {}
    void drawRects(const QRect*, int) override {}
    void drawPath(const QPainterPath&) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    void drawTextItem(const QPointF& p, const QTextItem& ti) override {
        const QList<uint> ucs4 = ti.text().toUcs4();
        m_items.push_back({p, std::u32string(ucs4.begin(), ucs4.end())});
    }
    Type type() const override { return QPaintEngine::User; }
};

class CRecordingDevice : public QPaintDevice {
public:
    mutable CRecordingEngine m_engine;
    QPaintEngine* paintEngine() const override { return &m_engine; }

protected:
    int metric(PaintDeviceMetric m) const override {
        if (m == PdmDevicePixelRatio) return 1;
        if (m == PdmDevicePixelRatioScaled) return static_cast<int>(devicePixelRatioFScale());
        return m == PdmWidth ? 800 : m == PdmHeight ? 400 : 96;
    }
};

struct Recorded {
    INT nResult;
    std::vector<CRecordingEngine::Item> items;
};

Recorded Record(std::string_view text, int y = 40) {
    CRecordingDevice device;
    INT nResult = -1;
    {
        QPainter dc(&device);
        nResult = DrawTextChars(dc, y, text, RGB(0, 0, 0));
    }
    return {nResult, device.m_engine.m_items};
}

// What DrawTextChars puts on a transparent image.
QImage Render(std::string_view text, COLORREF colour = RGB(0, 0, 0)) {
    QImage img(200, 40, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter dc(&img);
    DrawTextChars(dc, 10, text, colour);
    return img;
}

// The pixels that were drawn on, as a rectangle (empty when none).
QRect DrawnArea(const QImage& img) {
    QRect rc;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(img.pixel(x, y)) != 0) rc |= QRect(x, y, 1, 1);
    return rc;
}

TEST(ViewText, FontsAreTenPixelFixedPitchJapaneseWithFiveAndTenPixelGlyphs) {
    for (int nKind : {0, 1}) {
        const std::optional<QFont> font = CreateTextFont(nKind);
        ASSERT_TRUE(font.has_value());
        const QFontInfo info(*font);
        EXPECT_EQ(info.family(), "Noto Sans Mono CJK JP");
        EXPECT_EQ(info.pixelSize(), 10);
        const QFontMetrics metrics(*font);
        EXPECT_EQ(metrics.horizontalAdvance(QChar('A')), 5);
        EXPECT_EQ(metrics.horizontalAdvance(QString::fromUtf8("処")), 10);
    }
    EXPECT_FALSE(CreateTextFont(2).has_value());
}

TEST(ViewText, CharactersTakeFiveOrTenPixelCellsAndControlBytesBecomeUserDefined) {
    const struct {
        const char* text;
        std::u32string drawn;
        std::vector<int> xs;
    } cases[] = {
        // ASCII, wide kanji, half-width katakana, full-width digit, ASCII.
        {"AB処ｱ１x", U"AB処ｱ１x", {5, 10, 15, 25, 30, 40}},
        // Bytes 1-15 and 17-24 map to U+E179-U+E190 in narrow cells; 16 does not.
        {"\x01\x0F\x10\x11\x18\x19", U"\uE179\uE187\x10\uE189\uE190\x19", {5, 10, 15, 20, 25, 30}},
    };
    for (const auto& c : cases) {
        const Recorded r = Record(c.text);
        EXPECT_EQ(r.nResult, 0);
        ASSERT_EQ(r.items.size(), c.drawn.size());
        for (size_t i = 0; i < r.items.size(); ++i) {
            EXPECT_EQ(r.items[i].text, c.drawn.substr(i, 1)) << i;
            EXPECT_EQ(r.items[i].pos, QPointF(c.xs[i], 40 + 9)) << i;
        }
    }
}

TEST(ViewText, BackgroundIsOpaqueWhiteOnlyUnderTheCellsAndGlyphsTakeTheGivenColour) {
    const QImage blank = Render("  ");
    EXPECT_EQ(DrawnArea(blank), QRect(5, 10, 10, 10));
    for (int y = 10; y < 20; ++y)
        for (int x = 5; x < 15; ++x)
            ASSERT_EQ(blank.pixel(x, y), qRgba(255, 255, 255, 255)) << x << "," << y;

    // Glyph pixels stay inside their cells: descenders and wide glyphs are
    // clipped rather than spilling onto a neighbouring line.
    const QImage text = Render("gjpqy処理");
    EXPECT_EQ(DrawnArea(text), QRect(5, 10, 45, 10));
    for (int y = 10; y < 20; ++y)
        for (int x = 5; x < 50; ++x) ASSERT_EQ(qAlpha(text.pixel(x, y)), 255) << x << "," << y;

    // COLORREF is 0x00BBGGRR: RGB(0, 0, 255) is blue.
    EXPECT_EQ(Render("█", RGB(255, 0, 0)).pixel(7, 15), qRgb(255, 0, 0));
    EXPECT_EQ(Render("█", RGB(0, 0, 255)).pixel(7, 15), qRgb(0, 0, 255));
}

TEST(ViewText, InvalidUtf8EndsTheLineWithResultOne) {
    const struct {
        const char* what;
        std::string text;
        INT result;
        size_t cells;
    } cases[] = {
        {"stray continuation byte", "ab\x80zz", 1, 2},
        {"truncated at the end", "ab\xE5\x87", 1, 2},
        {"overlong slash", "a\xC0\xAFzz", 1, 1},
        {"surrogate", "a\xED\xA0\x80z", 1, 1},
        {"zero byte ends it without error", std::string("ab\0cd", 5), 0, 2},
        {"empty", "", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Recorded r = Record(c.text);
        EXPECT_EQ(r.nResult, c.result);
        EXPECT_EQ(r.items.size(), c.cells);
    }
}

// A line owns its row: a shorter line over a longer one leaves no tail, in the
// view's image and on screen, and the rows around it keep their lines.
TEST(ViewText, ShorterLineReplacesTheWholeRowOfALongerOne) {
    CPeloraView view;
    view.resize(400, 260);
    view.show();
    DrawTextLine(22, "next row", RGB(0, 0, 0));
    DrawTextLine(21, "1234567890(count) 1234567.12(msec) 0.12(msec)", RGB(0, 0, 0));
    QApplication::processEvents();
    QRegion repainted;
    struct CPaintSpy : QObject {
        QRegion* pRegion;
        bool eventFilter(QObject*, QEvent* pEvent) override {
            if (pEvent->type() == QEvent::Paint)
                *pRegion += static_cast<QPaintEvent*>(pEvent)->region();
            return false;
        }
    } spy;
    spy.pRegion = &repainted;
    view.installEventFilter(&spy);
    DrawTextLine(21, "118682(count)", RGB(0, 0, 0));
    for (int i = 0; i < 10; ++i) QApplication::processEvents(QEventLoop::AllEvents, 5);
    view.removeEventFilter(&spy);

    const QImage img = view.TextImage();
    const QRect rcShort = DrawnArea(Render("118682(count)"));
    const QRect rcTail(rcShort.right() + 1, 210, img.width() - rcShort.right() - 1, 10);
    for (int y = rcTail.top(); y <= rcTail.bottom(); ++y)
        for (int x = rcTail.left(); x <= rcTail.right(); ++x)
            ASSERT_EQ(qAlpha(img.pixel(x, y)), 0) << x << "," << y;
    EXPECT_TRUE((QRegion(rcTail.intersected(view.rect())) - repainted).isEmpty());
    const QImage shown = view.grab().toImage();
    EXPECT_EQ(shown.pixel(rcTail.left() + 20, 215), qRgb(255, 255, 255));
    EXPECT_EQ(DrawnArea(img.copy(0, 220, img.width(), 10)),
              DrawnArea(Render("next row")).translated(0, -10));
}

// The views keep what is drawn in their own image, so a repaint shows it
// again: the last grab shows each thread's last line, each in its own rows.
TEST(ViewText, TwoThreadsDrawWhileTheGuiRepaintsAndNothingIsDrawnWithoutAView) {
    {
        CPeloraView view;
        view.resize(300, 260);
        view.show();
        constexpr int kLines = 300;
        std::atomic<int> nRunning{2};
        const auto worker = [&](int nLine) {
            for (int i = 0; i < kLines; ++i)
                DrawTextLine(nLine, "処理時間 " + std::to_string(i) + "ms", RGB(0, 0, 0));
            nRunning.fetch_sub(1);
        };
        std::thread a(worker, 21), b(worker, 22);
        while (nRunning.load() > 0) {  // the GUI repaints while they draw
            QApplication::processEvents();
            view.grab();
        }
        a.join();
        b.join();
        QApplication::processEvents();

        // What is left is exactly each thread's last line.
        const QImage shown = view.grab().toImage();
        const QImage last = Render("処理時間 " + std::to_string(kLines - 1) + "ms");
        const QRect cells = DrawnArea(last);
        for (int nLine : {21, 22}) {
            for (int y = 0; y < 10; ++y)
                for (int x = cells.left(); x <= cells.right(); ++x)
                    ASSERT_EQ(shown.pixel(x, 10 * nLine + y), last.pixel(x, 10 + y))
                        << nLine << ":" << x << "," << y;
        }
    }
    // The view cleared g_mainView when it went: a worker now draws nowhere.
    EXPECT_EQ(g_mainView.load(), nullptr);
    EXPECT_EQ(DrawTextLine(2, "nobody", RGB(0, 0, 0)), TRUE);
}

}  // namespace
