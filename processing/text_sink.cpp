#include "processing/text_sink.h"

#include <atomic>

namespace {
std::atomic<PFNTEXTSINK> g_pfnTextSink{nullptr};
}

void SetTextSink(PFNTEXTSINK pfnSink) { g_pfnTextSink.store(pfnSink); }

void ProcessingDrawTextAt(int y, std::string_view text, COLORREF colour) {
    if (PFNTEXTSINK pfn = g_pfnTextSink.load()) pfn(y, text, colour);
}

void ProcessingDrawTextLine(int nLine, std::string_view text, COLORREF colour) {
    ProcessingDrawTextAt(10 * nLine, text, colour);
}
