// processing: where the processing dialogs' status lines go.
//
// processing/ must not know the application's view, so the application
// installs a sink at start-up (app/ points it at DrawTextAt on the main
// view). Without a sink the lines are dropped.
//
// Threads: SetTextSink on the GUI thread before any dialog exists (or with
// none running); ProcessingDrawTextAt/ProcessingDrawTextLine from any thread.
// May include: the C++ standard library and platform/win. No Qt.
#pragma once

#include <string_view>

#include "platform/win/win_types.h"

// Draws text at pixel row y in colour. Must be callable from any thread and
// must not wait for the GUI thread.
using PFNTEXTSINK = void (*)(int y, std::string_view text, COLORREF colour);

void SetTextSink(PFNTEXTSINK pfnSink);
void ProcessingDrawTextAt(int y, std::string_view text, COLORREF colour = 0);
// Line n is pixel row 10 * n.
void ProcessingDrawTextLine(int nLine, std::string_view text, COLORREF colour = 0);
