// Consumers polling while devices close and reopen, and several consumers
// of one device. Run under ThreadSanitizer as well.
#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "capture_fixture.h"
#include "support/watchdog.h"

namespace {

using pelora_test::CaptureLibraryTest;
using pelora_test::WebcamConfig;
using Clock = std::chrono::steady_clock;

VirtualCameraConfig FreeRunning() {
    VirtualCameraConfig c = WebcamConfig();
    c.freeRunning = true;
    return c;
}

TEST_F(CaptureLibraryTest, ConsumerWaitingOnAClosedDeviceReturnsAtOnce) {
    AddCamera(WebcamConfig());  // manual timing: no frame comes
    VideoInput& vi = Lib();
    ASSERT_TRUE(vi.openDevice(0, 320, 240));
    std::vector<unsigned char> frame(320 * 240 * 3);
    std::atomic<int64_t> waitedMs{-1};
    std::thread consumer([&] {
        const auto start = Clock::now();
        EXPECT_FALSE(vi.GetPixels(0, frame.data(), false, false));
        waitedMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    vi.closeDevice(0);
    consumer.join();
    EXPECT_LT(waitedMs.load(), 900);  // woken by the close, not by the 1000 ms bound
}

TEST_F(CaptureLibraryTest, ConsumerKeepsPollingWhileAnotherThreadClosesAndReopens) {
    AddCamera(FreeRunning());
    VideoInput& vi = Lib();
    ASSERT_TRUE(vi.openDevice(0, 320, 240));
    std::atomic<bool> stop{false};
    std::atomic<int> frames{0};
    std::thread consumer([&] {
        std::vector<unsigned char> frame(640 * 480 * 3);
        while (!stop) {
            const size_t size = static_cast<size_t>(vi.getFrameSize(0));
            if (vi.hasNewFrame(0) && size != 0 && vi.GetPixels(0, frame.data(), size, true, true)) {
                frames.fetch_add(1);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    });
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (i % 2) {
            ASSERT_TRUE(vi.reopenDevice(0));
        } else {
            vi.closeDevice(0);
            ASSERT_TRUE(vi.openDevice(0, i % 4 ? 640 : 320, i % 4 ? 480 : 240));
        }
    }
    EXPECT_TRUE(pelora_test::WaitUntil([&] { return frames.load() > 0; }));
    stop = true;
    consumer.join();
}

TEST_F(CaptureLibraryTest, TwoConsumersOfOneDeviceNeverTakeTheSameFrameNorStall) {
    AddCamera(FreeRunning());
    VideoInput& vi = Lib();
    ASSERT_TRUE(vi.openDevice(0, 320, 240));
    std::vector<int64_t> taken[2];
    std::atomic<int> stalls{0};
    auto consume = [&](int who) {
        std::vector<unsigned char> frame(320 * 240 * 3);
        while (taken[who].size() < 15) {
            if (!vi.hasNewFrame(0)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            // Announced: this frame or the next comes within the bound.
            if (vi.GetPixels(0, frame.data(), false, false)) {
                taken[who].push_back(Number(frame, 320, 240));
            } else {
                stalls.fetch_add(1);
            }
        }
    };
    std::thread a(consume, 0), b(consume, 1);
    a.join();
    b.join();
    EXPECT_EQ(stalls.load(), 0);
    std::set<int64_t> all(taken[0].begin(), taken[0].end());
    all.insert(taken[1].begin(), taken[1].end());
    EXPECT_EQ(all.size(), 30u);  // no frame taken twice
    EXPECT_EQ(all.count(-1), 0u);
}

}  // namespace
