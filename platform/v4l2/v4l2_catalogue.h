// platform/v4l2: V4l2Catalogue, the list of capture devices and the one
// shared node per device path.
//
// - scan() lists the devices as the enumerator shows them: the registered
//   virtual devices when there are any (in registration order), else the
//   virtual camera of PELORA_CAPTURE=virtual when that was asked for, else
//   /dev/video<N> in numeric order (video2 before video10). A node is listed
//   when its device caps (or its capabilities, for drivers without
//   DEVICE_CAPS) have VIDEO_CAPTURE and STREAMING and neither M2M flag; each
//   is opened for QUERYCAP and closed again.
// - node(path) gives the node of a listed path, opening it when no node for
//   it is alive: one node per path per process, so a second bind reaches the
//   streaming device. The catalogue keeps no node alive by itself.
// - Virtual devices get paths "virtual:<k>" that are never reused.
// Threads: every function may be called from any thread; s_Lock guards the
// registry and the node table.
// May include: the C++ standard library, platform/win, platform/media,
// platform/v4l2, linux/videodev2.h. No Qt.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/v4l2/v4l2_device_node.h"
#include "platform/v4l2/virtual_v4l2_device.h"

struct V4l2DeviceEntry {
    std::string path;
    std::string card;                                  // UTF-8, as QUERYCAP reports it
    std::shared_ptr<VirtualV4l2Device> virtualDevice;  // null for real nodes
};

class V4l2Catalogue {
public:
    static std::vector<V4l2DeviceEntry> scan();
    // The shared node for a path, or null with *pErr = errno (ENOENT,
    // ENODEV, EACCES...).
    static std::shared_ptr<V4l2DeviceNode> node(const std::string& path, int* pErr);

    // Test registry: listed instead of the real devices and of the
    // environment's virtual camera. Answers the device's path.
    static std::string registerVirtual(std::shared_ptr<VirtualV4l2Device> device);
    static void clearVirtual();

    // Reads PELORA_CAPTURE once (the first call); when it is "virtual",
    // makeDefault() becomes the listed camera while no test registry is set.
    static void useEnvironment(
        const std::function<std::shared_ptr<VirtualV4l2Device>()>& makeDefault);

    // Whether a node's QUERYCAP answer makes it a listed capture device.
    static bool isCaptureNode(const v4l2_capability& cap);
};
