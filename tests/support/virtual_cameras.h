// Virtual cameras for the camera tests: configurations built field by field
// and devices painted with the numbered picture (platform/ffmpeg), so that a
// delivered frame tells which frame it is.
#pragma once

#include <linux/videodev2.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ffmpeg/frame_pattern.h"
#include "platform/v4l2/v4l2_catalogue.h"
#include "platform/v4l2/virtual_v4l2_device.h"

namespace pelora_test {

inline VirtualFormat DiscreteFormat(uint32_t fourcc, std::vector<v4l2_frmsize_discrete> sizes) {
    VirtualFormat f;
    f.fourcc = fourcc;
    f.sizes.type = V4L2_FRMSIZE_TYPE_DISCRETE;
    f.sizes.discrete = std::move(sizes);
    return f;
}

inline VirtualFormat SteppedFormat(uint32_t fourcc, uint32_t type, uint32_t minW, uint32_t maxW,
                                   uint32_t stepW, uint32_t minH, uint32_t maxH, uint32_t stepH) {
    VirtualFormat f;
    f.fourcc = fourcc;
    f.sizes.type = type;
    f.sizes.stepwise = {minW, maxW, stepW, minH, maxH, stepH};
    return f;
}

// A webcam: YUYV 640x480 and 320x240, MJPG 640x480; starts in YUYV 640x480.
inline VirtualCameraConfig WebcamConfig(const std::string& card = "Test Webcam") {
    VirtualCameraConfig c;
    c.card = card;
    c.formats = {DiscreteFormat(V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}}),
                 DiscreteFormat(V4L2_PIX_FMT_MJPEG, {{640, 480}})};
    c.fourcc = V4L2_PIX_FMT_YUYV;
    c.width = 640;
    c.height = 480;
    return c;
}

// A control of the given range, step and default; companionId names its
// automatic switch (AUTOGAIN for GAIN...).
inline VirtualControl Control(uint32_t id, int32_t lo, int32_t hi, int32_t step, int32_t def,
                              uint32_t companion = 0, uint32_t type = V4L2_CTRL_TYPE_INTEGER) {
    VirtualControl c;
    c.id = id;
    c.type = type;
    c.minimum = lo;
    c.maximum = hi;
    c.step = step;
    c.defaultValue = def;
    c.companionId = companion;
    return c;
}

inline std::shared_ptr<VirtualV4l2Device> MakeCamera(VirtualCameraConfig config) {
    auto painter = std::make_shared<CFramePainter>();
    return VirtualV4l2Device::create(
        std::move(config), [painter](uint32_t n, const SRawFrameLayout& l, uint8_t* p, size_t cap) {
            return painter->Paint(n, l, p, cap);
        });
}

// A camera made and listed after those listed before it (the test clears
// the list).
inline std::shared_ptr<VirtualV4l2Device> AddCamera(VirtualCameraConfig config) {
    auto cam = MakeCamera(std::move(config));
    V4l2Catalogue::registerVirtual(cam);
    return cam;
}

}  // namespace pelora_test
