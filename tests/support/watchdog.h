// Test helpers for bounded waits: a test that would block fails instead.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace pelora_test {

// The bound for "should happen soon" in threaded tests. Generous, because the
// sanitizer builds on a shared two-core machine are slow; a pass never waits
// for it, only a failure does.
constexpr std::chrono::milliseconds kWatchdog{5000};

// Polls pred every millisecond until it holds or the bound passes.
inline bool WaitUntil(const std::function<bool()>& pred,
                      std::chrono::milliseconds bound = kWatchdog) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace pelora_test
