// capture: the one place where the camera library's console lines go.
//
// Every text the library prints ("SETUP: ...", "ERROR ...", "SUCCESS: ...",
// the listing) is handed to the print sink whole, exactly as formatted: no
// newline is added, and a text printed in two calls stays two calls. The
// default sink writes to standard output. Calls are serialised, so the
// texts of two threads never interleave inside one call. Tests install a
// capturing sink.
// May include: the C++ standard library, platform/. No Qt.
#pragma once

#include <functional>
#include <string_view>

// Receives one whole text per library print call.
using CapturePrintSink = std::function<void(std::string_view text)>;

// Installs a sink (an empty function restores standard output) and answers
// the one it replaces. Safe from any thread; a print in progress finishes
// on the old sink first.
CapturePrintSink setCapturePrintSink(CapturePrintSink sink);

// printf-style: formats the text and hands it to the sink in one call.
void capturePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The library's `verbose` flag (on at start): captureLog prints only while
// it is on. Atomic; any thread.
void setCaptureVerbose(bool on);
bool captureVerbose();
void captureLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
