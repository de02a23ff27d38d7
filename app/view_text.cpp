#include "app/view_text.h"

#include <QPainter>
#include <QString>

#include "app/pelora_view.h"

const TEXTFONTMETRICS g_fontMetrics[2] = {
    {5, 10, 0, 9},
    {10, 10, 0, 9},
};

namespace {

// The face the lines are drawn in: fixed pitch, half-width glyphs 5 pixels
// wide and full-width glyphs 10 pixels wide at a 10-pixel size.
constexpr const char* kTextFace = "Noto Sans Mono CJK JP";

// Where the bytes 1-15 and 17-24 go: the user-defined characters that
// Shift-JIS F241-F258 map to.
constexpr char32_t kUserCharBase = 0xE178;

// The next code point of text at i, advancing i. False for an invalid or
// truncated sequence (overlong forms, surrogates and values above U+10FFFF
// included).
bool NextCodePoint(std::string_view text, size_t& i, char32_t& cp) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        cp = b0;
        i += 1;
        return true;
    }
    int nTrail = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the first trail byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        nTrail = 1;
        cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        nTrail = 2;
        cp = b0 & 0x0Fu;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        nTrail = 3;
        cp = b0 & 0x07u;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return false;
    }
    if (i + nTrail >= text.size()) return false;  // cut off by the end of the text
    for (int k = 1; k <= nTrail; ++k) {
        const unsigned char b = byte(i + k);
        if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) return false;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    i += 1 + nTrail;
    return true;
}

// East Asian Wide and Fullwidth characters: CJK, kana, hangul, full-width
// forms and the emoji that terminals show two columns wide. Everything else,
// ambiguous-width characters included, is narrow.
bool IsWideCharacter(char32_t cp) {
    struct Range {
        char32_t first, last;
    };
    static constexpr Range kWide[] = {
        {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
        {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
        {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
        {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
        {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
        {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
        {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
        {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
        {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
        {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
        {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
        {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
        {0x17000, 0x18AFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF},
        {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F202}, {0x1F210, 0x1F23B},
        {0x1F240, 0x1F248}, {0x1F250, 0x1F251}, {0x1F260, 0x1F265}, {0x1F300, 0x1F64F},
        {0x1F680, 0x1F6FF}, {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
    };
    for (const Range& r : kWide) {
        if (cp < r.first) return false;  // the table is sorted
        if (cp <= r.last) return true;
    }
    return false;
}

// One character as the writer draws it.
struct TextCell {
    char32_t cp;  // what is drawn
    int nFont;    // 0 or 1: which font draws it
    int nRecord;  // 0 or 1: which g_fontMetrics record sizes its cell
};

TextCell CellOf(char32_t cp) {
    if ((cp >= 1 && cp <= 15) || (cp >= 17 && cp <= 24)) return {kUserCharBase + cp, 1, 0};
    if (IsWideCharacter(cp)) return {cp, 1, 1};
    return {cp, 0, 0};
}

// The x just past the last cell drawText would draw.
int TextEndX(std::string_view text) {
    int x = kTextStartX;
    size_t i = 0;
    char32_t cp = 0;
    while (i < text.size() && text[i] != '\0' && NextCodePoint(text, i, cp)) {
        const TEXTFONTMETRICS& m = g_fontMetrics[CellOf(cp).nRecord];
        x += m.width - m.xOffset;
    }
    return x;
}

}  // namespace

std::optional<QFont> CreateTextFont(int nKind) {
    if (nKind != 0 && nKind != 1) return std::nullopt;
    QFont font(QString::fromLatin1(kTextFace));
    font.setStyleHint(QFont::TypeWriter, QFont::PreferBitmap);
    font.setFixedPitch(true);
    font.setPixelSize(g_fontMetrics[nKind].height);
    font.setKerning(false);
    return font;
}

INT DrawTextChars(QPainter& dc, int y, std::string_view text, COLORREF colour) {
    const std::optional<QFont> fonts[2] = {CreateTextFont(0), CreateTextFont(1)};
    dc.save();
    dc.setPen(QColor(GetRValue(colour), GetGValue(colour), GetBValue(colour)));
    dc.setBackgroundMode(Qt::TransparentMode);  // each cell gets its white itself

    INT nResult = 0;
    int x = kTextStartX;
    size_t i = 0;
    while (i < text.size() && text[i] != '\0') {
        char32_t cp = 0;
        if (!NextCodePoint(text, i, cp)) {
            nResult = 1;
            break;
        }
        const TextCell cell = CellOf(cp);
        const TEXTFONTMETRICS& m = g_fontMetrics[cell.nRecord];
        const QRect rcCell(x + m.xOffset, y - (m.height - m.baseline) + 1, m.width, m.height);
        dc.setClipRect(rcCell);
        dc.fillRect(rcCell, Qt::white);
        dc.setFont(*fonts[cell.nFont]);
        dc.drawText(QPoint(rcCell.left(), rcCell.top() + m.baseline),
                    QString::fromUcs4(&cell.cp, 1));
        x += m.width - m.xOffset;
    }
    dc.restore();
    return nResult;
}

void DrawTextAt(CPeloraView* pView, int y, COLORREF colour, std::string_view text) {
    if (pView == nullptr) return;
    // Every line starts at the left margin and owns its row: it replaces
    // whatever an earlier, longer line left there.
    const QRect rcLine(0, y, TextEndX(text), kTextLineHeight);
    pView->PaintTextLine(rcLine, [&](QPainter& dc) { return DrawTextChars(dc, y, text, colour); });
}

BOOL DrawTextLine(int nLine, std::string_view text, COLORREF colour) {
    DrawTextAt(g_mainView.load(), kTextLineHeight * nLine, colour, text);
    return TRUE;
}
