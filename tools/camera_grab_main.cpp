// camera_grab: lists the capture devices through the camera library and
// grabs frames from device 0, printing the library's own lines. With
// PELORA_CAPTURE=virtual it runs on the virtual camera (CI runs it so).
//
//   camera_grab [--frames N] [--size WxH]
//
// Exit status: 0 when N frames arrived in order, 1 otherwise.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "capture/video_input.h"
#include "mediagraph/media_classes.h"
#include "platform/ffmpeg/frame_pattern.h"

int main(int argc, char** argv) {
    int frames = 100, w = 640, h = 480;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--frames")) {
            frames = std::atoi(argv[i + 1]);
        } else if (!std::strcmp(argv[i], "--size") &&
                   std::sscanf(argv[i + 1], "%dx%d", &w, &h) == 2) {
        } else {
            std::fprintf(stderr, "usage: camera_grab [--frames N] [--size WxH]\n");
            return 2;
        }
    }
    if (RegisterMediaClasses() != S_OK) return 1;
    VideoInput vi;
    if (VideoInput::enumerateDevices(false) == 0) {
        std::fprintf(stderr, "camera_grab: no camera (PELORA_CAPTURE=virtual lists one)\n");
        return 1;
    }
    if (!vi.openDevice(0, w, h)) return 1;
    std::vector<unsigned char> frame(static_cast<size_t>(vi.getFrameSize(0)));
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds(10 + frames / 10);
    int got = 0, outOfOrder = 0;
    std::optional<uint32_t> first, last;
    while (got < frames && std::chrono::steady_clock::now() < deadline) {
        if (!vi.hasNewFrame(0) || !vi.GetPixels(0, frame.data(), frame.size(), false, false)) {
            continue;  // GetPixels waits for the frame; hasNewFrame does not
        }
        auto n = ReadFrameNumber(frame.data(), static_cast<uint32_t>(vi.getFrameWidth(0)),
                                 static_cast<uint32_t>(vi.getFrameHeight(0)));
        if (n && last && *n <= *last) ++outOfOrder;
        if (n && !first) first = n;
        if (n) last = n;
        ++got;
    }
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "camera_grab: %d of %d frames at %d x %d in %.2f s (%.1f fps), numbers %d..%d, "
        "%d out of order\n",
        got, frames, vi.getFrameWidth(0), vi.getFrameHeight(0), secs, secs > 0 ? got / secs : 0.0,
        first ? static_cast<int>(*first) : -1, last ? static_cast<int>(*last) : -1, outOfOrder);
    vi.closeDevice(0);
    return got == frames && outOfOrder == 0 ? 0 : 1;
}
