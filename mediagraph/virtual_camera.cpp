#include "mediagraph/virtual_camera.h"

#include "platform/ffmpeg/frame_pattern.h"

std::shared_ptr<VirtualV4l2Device> MakeDefaultVirtualCamera() {
    VirtualCameraConfig c;
    c.card = "Pelora Virtual Camera";
    VirtualFormat yuyv;
    yuyv.fourcc = V4L2_PIX_FMT_YUYV;
    yuyv.sizes.discrete = {{640, 480}, {320, 240}};
    VirtualFormat mjpg;
    mjpg.fourcc = V4L2_PIX_FMT_MJPEG;
    mjpg.sizes.discrete = {{640, 480}, {1280, 720}};
    c.formats = {yuyv, mjpg};
    c.fourcc = V4L2_PIX_FMT_YUYV;
    c.width = 640;
    c.height = 480;
    c.freeRunning = true;
    // The painter runs under the device's lock, one frame at a time.
    auto painter = std::make_shared<CFramePainter>();
    return VirtualV4l2Device::create(
        std::move(c), [painter](uint32_t n, const SRawFrameLayout& l, uint8_t* p, size_t cap) {
            return painter->Paint(n, l, p, cap);
        });
}
