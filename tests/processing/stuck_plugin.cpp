// A processing plug-in for the dialog tests: passes each frame through, and
// while "blocking" is switched on it does not return from TavroFunc (the
// worker is then stuck in a plug-in call, as with a plug-in that hangs).
#define TAVRO_PLUGIN_IMPLEMENTATION
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "pelora/tavro_plugin.h"

namespace {
std::atomic<int> g_nBlocking{0};
}

// Looked up by name (dlsym) by the dialog tests.
extern "C" TAVRO_EXPORT void StuckPluginSetBlocking(int n);

extern "C" TAVRO_EXPORT void StuckPluginSetBlocking(int n) { g_nBlocking.store(n); }

extern "C" TAVRO_EXPORT int32_t TavroFunc(uint8_t* pOutput, const uint8_t* pInput,
                                          BITMAPINFO bmi) noexcept {
    while (g_nBlocking.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::memcpy(pOutput, pInput, bmi.bmiHeader.biSizeImage);
    return 0;
}
