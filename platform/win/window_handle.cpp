#include "platform/win/window_handle.h"

#include <cstdint>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <unordered_map>

namespace {

struct WindowEntry {
    PFN_WINDOW_REPAINT pfnRepaint;
    void* pContext;
};

struct WindowRegistry {
    std::shared_mutex lock;                              // guards both fields
    std::unordered_map<uintptr_t, WindowEntry> windows;  // by handle value
    uintptr_t nextHandle = 1;                            // never reused, never 0
};

WindowRegistry& Registry() {
    // Constructed on first use and never destroyed, so that a streaming
    // thread that outlives static destruction still finds it.
    static WindowRegistry* s_pRegistry = new WindowRegistry;
    return *s_pRegistry;
}

uintptr_t Key(HWND hWnd) { return reinterpret_cast<uintptr_t>(hWnd); }

}  // namespace

HWND RegisterWindowHandle(PFN_WINDOW_REPAINT pfnRepaint, void* pContext) {
    if (!pfnRepaint) return nullptr;
    WindowRegistry& registry = Registry();
    std::unique_lock<std::shared_mutex> lock(registry.lock);
    const uintptr_t key = registry.nextHandle;
    try {
        registry.windows.emplace(key, WindowEntry{pfnRepaint, pContext});
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    ++registry.nextHandle;
    return reinterpret_cast<HWND>(key);
}

void UnregisterWindowHandle(HWND hWnd) {
    if (!hWnd) return;
    WindowRegistry& registry = Registry();
    // Exclusive: waits for every InvalidateRect in progress on any window.
    std::unique_lock<std::shared_mutex> lock(registry.lock);
    registry.windows.erase(Key(hWnd));
}

BOOL IsWindow(HWND hWnd) {
    if (!hWnd) return FALSE;
    WindowRegistry& registry = Registry();
    std::shared_lock<std::shared_mutex> lock(registry.lock);
    return registry.windows.count(Key(hWnd)) != 0 ? TRUE : FALSE;
}

BOOL InvalidateRect(HWND hWnd, const RECT*, BOOL) {
    if (!hWnd) return FALSE;
    WindowRegistry& registry = Registry();
    std::shared_lock<std::shared_mutex> lock(registry.lock);
    const auto it = registry.windows.find(Key(hWnd));
    if (it == registry.windows.end()) return FALSE;
    it->second.pfnRepaint(it->second.pContext);
    return TRUE;
}
