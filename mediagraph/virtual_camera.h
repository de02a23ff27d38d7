// mediagraph: the virtual camera listed when PELORA_CAPTURE=virtual and no
// test registry is set: "Pelora Virtual Camera", YUYV 640x480 and 320x240,
// MJPG 640x480 and 1280x720, 30 fps, free-running, frames showing their own
// number (platform/ffmpeg's numbered picture).
// May include: the C++ standard library, platform/. No Qt.
#pragma once

#include <memory>

#include "platform/v4l2/virtual_v4l2_device.h"

std::shared_ptr<VirtualV4l2Device> MakeDefaultVirtualCamera();
