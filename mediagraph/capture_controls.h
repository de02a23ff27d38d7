// mediagraph: CCaptureControls, the proc-amp and camera-control properties
// of a capture filter mapped onto V4L2 controls (QUERYCTRL, G_CTRL, S_CTRL)
// of its device node.
//
// Each property has one control and maybe an automatic companion:
//   proc-amp: brightness, contrast, hue (HUE_AUTO), saturation, sharpness,
//   gamma, white balance (WHITE_BALANCE_TEMPERATURE, AUTO_WHITE_BALANCE),
//   backlight compensation, gain (AUTOGAIN); ColorEnable has none.
//   camera: pan, tilt, zoom (absolute), exposure (EXPOSURE_ABSOLUTE, else
//   EXPOSURE; the EXPOSURE_AUTO menu), iris, focus (FOCUS_AUTO); roll has none.
// - GetRange: E_PROP_ID_UNSUPPORTED for a missing or disabled control;
//   capability flags Manual | Auto when a companion exists, else Manual.
// - Get: the value, and flags Auto while the companion is on, else Manual.
// - Set with Auto: turns the companion on and writes no value (a control
//   without companion gets the value written). Set with Manual: turns the
//   companion off first, then writes the value.
// - Driver refusals (EINVAL, ERANGE, EBUSY, EACCES...) answer E_FAIL. Values
//   are the device's units, passed through.
// Any thread: the node's handle takes ioctls from two threads.
// May include: the C++ standard library, platform/. No Qt.
#pragma once

#include <memory>

#include "platform/media/capture_interfaces.h"
#include "platform/v4l2/v4l2_device_node.h"

class CCaptureControls {
public:
    enum class EFamily { ProcAmp, Camera };

    explicit CCaptureControls(std::shared_ptr<V4l2DeviceNode> node) : m_Node(std::move(node)) {}

    // Whether the device has at least one usable control of the family.
    bool HasFamily(EFamily family);
    HRESULT GetRange(EFamily family, LONG Property, LONG* pMin, LONG* pMax, LONG* pSteppingDelta,
                     LONG* pDefault, LONG* pCapsFlags);
    HRESULT Get(EFamily family, LONG Property, LONG* plValue, LONG* pFlags);
    HRESULT Set(EFamily family, LONG Property, LONG lValue, LONG Flags);

private:
    struct SMapping {
        uint32_t id = 0;      // the value's control (0: unsupported)
        uint32_t autoId = 0;  // the companion (0: none)
        bool bExposureMenu = false;
    };
    SMapping Resolve(EFamily family, LONG Property);
    bool Query(uint32_t id, v4l2_queryctrl* pq);
    bool AutoIsOn(const SMapping& m, bool* pOn);
    HRESULT SetAuto(const SMapping& m, bool bOn);

    const std::shared_ptr<V4l2DeviceNode> m_Node;
};
