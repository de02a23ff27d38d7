// app: the camera devices of one run: the start-up camera set-up and the
// closing of the devices at exit, shared by the window (CPeloraApp) and the
// headless camera run.
//
// Start-up: the devices are enumerated silently; with none, nothing else
// happens (the window greys its camera input menu). Otherwise, for each
// device i in order: its friendly name is recorded, it is opened at
// 640 x 480 (the result is not examined: a device that does not open
// simply lists no formats), and its format lists are copied, each entry
// also as the text "%s W = %4d H = %4d\n" (name, width, height).
// The devices stay open until CloseCameraDevices, which the owner calls
// only after every worker that reads them has ended.
//
// Threads: the owner's thread (the GUI thread for the window). The library
// calls are the library's own.
// May include: the C++ standard library, capture/, platform/win. No Qt.
#pragma once

#include <string>
#include <vector>

#include "platform/win/win_types.h"

class VideoInput;

struct SCameraDevices {
    // Devices found at start-up.
    INT m_nDeviceCount = 0;
    // Friendly name of each device, by index.
    std::vector<std::string> m_deviceNames;
    // Per device, one entry per format it offers (index j the same format in all four).
    std::vector<std::vector<std::string>> m_formatTexts;
    std::vector<std::vector<int>> m_formatWidths;
    std::vector<std::vector<int>> m_formatHeights;
    std::vector<std::vector<std::string>> m_formatNames;
};

// The start-up camera set-up described above.
SCameraDevices SetUpCameraDevices(VideoInput& videoInput);

// Closes device 0 .. nDeviceCount - 1 (every worker reading them has ended).
void CloseCameraDevices(VideoInput& videoInput, INT nDeviceCount);

// The frame size every device is opened at.
constexpr int kCameraOpenWidth = 640;
constexpr int kCameraOpenHeight = 480;
