// app: the text writer that puts the processing dialogs' status lines on the
// main view: the worker's timing line, the paint timing line and the
// end-of-run statistics.
//
// A line is drawn character by character in fixed cells, not measured: the
// pen starts at x = 5; a narrow character (ASCII, half-width katakana and
// everything not East Asian wide) takes a 5-pixel cell, a wide or full-width
// one a 10-pixel cell; every cell is 10 pixels high from the given row, with
// an opaque white background under it and the glyph in the given colour.
// Text is UTF-8. Bytes 1-15 and 17-24 stand for the user-defined characters
// U+E179-U+E190 and are drawn as those in 5-pixel cells. An invalid UTF-8
// sequence ends the line there.
//
// Threads: DrawTextLine and DrawTextAt are called from the GUI thread and from
// the dialogs' worker threads at the same time; the view serialises the
// drawing itself (CPeloraView::PaintText) and never makes the caller wait for
// the GUI thread. Each call makes its own fonts.
// May include: Qt Widgets, platform/win, app/pelora_view.h.
#pragma once

#include <QFont>
#include <optional>
#include <string_view>

#include "platform/win/win_types.h"

class CPeloraView;
class QPainter;

// Cell geometry of the two fonts.
struct TEXTFONTMETRICS {
    INT width;
    INT height;
    INT xOffset;
    INT baseline;
};
// [0]: 5 x 10, narrow characters; [1]: 10 x 10, wide characters.
extern const TEXTFONTMETRICS g_fontMetrics[2];

// The pixel row of line n: 10 * n.
constexpr int kTextLineHeight = 10;
// Where every line starts.
constexpr int kTextStartX = 5;

// Kind 0 (narrow cells) or 1 (wide cells): a 10-pixel fixed-pitch Japanese
// font. Any other kind gives no font.
std::optional<QFont> CreateTextFont(int nKind);

// Draws text at row y of whatever dc paints on. Stops at a zero byte.
// Returns 0, or 1 when an invalid UTF-8 sequence stopped it early.
INT DrawTextChars(QPainter& dc, int y, std::string_view text, COLORREF colour);

// Draws text at row y of the view (nothing without a view). Any thread.
void DrawTextAt(CPeloraView* pView, int y, COLORREF colour, std::string_view text);

// Draws text on g_mainView at row 10 * nLine. Any thread. Always TRUE.
BOOL DrawTextLine(int nLine, std::string_view text, COLORREF colour);
