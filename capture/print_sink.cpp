#include "capture/print_sink.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace {

std::atomic<bool> s_verbose{true};

// Guards s_sink and orders the texts of concurrent print calls.
std::mutex& sinkLock() {
    static std::mutex lock;
    return lock;
}

CapturePrintSink& sinkSlot() {
    static CapturePrintSink sink;  // guarded by sinkLock(); empty = stdout
    return sink;
}

}  // namespace

CapturePrintSink setCapturePrintSink(CapturePrintSink sink) {
    std::lock_guard<std::mutex> lock(sinkLock());
    return std::exchange(sinkSlot(), std::move(sink));
}

static void printV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

void capturePrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    printV(format, args);
    va_end(args);
}

void setCaptureVerbose(bool on) { s_verbose.store(on); }
bool captureVerbose() { return s_verbose.load(); }

void captureLog(const char* format, ...) {
    if (!s_verbose.load()) return;
    va_list args;
    va_start(args, format);
    printV(format, args);
    va_end(args);
}

static void printV(const char* format, va_list args) {
    char local[512];
    std::string text;
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(local, sizeof local, format, args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<size_t>(n) < sizeof local) {
        text.assign(local, static_cast<size_t>(n));
    } else {
        text.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<size_t>(n));
    }
    va_end(again);

    std::lock_guard<std::mutex> lock(sinkLock());
    if (sinkSlot()) {
        sinkSlot()(text);
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
}
