// Window handles: InvalidateRect from any thread never reaches a closed window
// (delivery to an open one is checked by the grab renderer's tests).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/win/window_handle.h"

namespace {

struct Window {
    std::atomic<int> nRepaints{0};
    std::atomic<bool> bClosed{false};
    std::atomic<int> nAfterClose{0};
    static void OnRepaint(void* p) {
        auto* self = static_cast<Window*>(p);
        if (self->bClosed.load()) self->nAfterClose.fetch_add(1);
        self->nRepaints.fetch_add(1);
    }
};

// Streaming threads keep invalidating while the window closes: once
// UnregisterWindowHandle returns the callback never runs again, so the
// window's context may be destroyed right after it.
TEST(WindowHandleTest, NoCallbackRunsAfterCloseReturnsWhileThreadsInvalidate) {
    for (int round = 0; round < 20; ++round) {
        auto window = std::make_unique<Window>();
        HWND hWnd = RegisterWindowHandle(&Window::OnRepaint, window.get());
        std::atomic<bool> bStop{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 2; ++t) {
            threads.emplace_back([&] {
                while (!bStop.load()) InvalidateRect(hWnd, nullptr, FALSE);
            });
        }
        while (window->nRepaints.load() < 10) std::this_thread::yield();
        UnregisterWindowHandle(hWnd);
        window->bClosed = true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        EXPECT_EQ(window->nAfterClose.load(), 0);
        window.reset();  // would be a use after free if a callback still ran
        bStop = true;
        for (std::thread& t : threads) t.join();
    }
}

}  // namespace
