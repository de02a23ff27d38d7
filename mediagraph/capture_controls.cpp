#include "mediagraph/capture_controls.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr LONG kFlagsAuto = 1;
constexpr LONG kFlagsManual = 2;

}  // namespace

bool CCaptureControls::Query(uint32_t id, v4l2_queryctrl* pq) {
    std::memset(pq, 0, sizeof(*pq));
    pq->id = id;
    return id && m_Node->ioctl(VIDIOC_QUERYCTRL, pq) == 0 && !(pq->flags & V4L2_CTRL_FLAG_DISABLED);
}

CCaptureControls::SMapping CCaptureControls::Resolve(EFamily family, LONG Property) {
    SMapping m;
    if (family == EFamily::ProcAmp) {
        switch (Property) {
            case VideoProcAmp_Brightness:
                m.id = V4L2_CID_BRIGHTNESS;
                break;
            case VideoProcAmp_Contrast:
                m.id = V4L2_CID_CONTRAST;
                break;
            case VideoProcAmp_Hue:
                m.id = V4L2_CID_HUE, m.autoId = V4L2_CID_HUE_AUTO;
                break;
            case VideoProcAmp_Saturation:
                m.id = V4L2_CID_SATURATION;
                break;
            case VideoProcAmp_Sharpness:
                m.id = V4L2_CID_SHARPNESS;
                break;
            case VideoProcAmp_Gamma:
                m.id = V4L2_CID_GAMMA;
                break;
            case VideoProcAmp_WhiteBalance:
                m.id = V4L2_CID_WHITE_BALANCE_TEMPERATURE, m.autoId = V4L2_CID_AUTO_WHITE_BALANCE;
                break;
            case VideoProcAmp_BacklightCompensation:
                m.id = V4L2_CID_BACKLIGHT_COMPENSATION;
                break;
            case VideoProcAmp_Gain:
                m.id = V4L2_CID_GAIN, m.autoId = V4L2_CID_AUTOGAIN;
                break;
            default:
                break;  // ColorEnable and unknown ids
        }
    } else {
        switch (Property) {
            case CameraControl_Pan:
                m.id = V4L2_CID_PAN_ABSOLUTE;
                break;
            case CameraControl_Tilt:
                m.id = V4L2_CID_TILT_ABSOLUTE;
                break;
            case CameraControl_Zoom:
                m.id = V4L2_CID_ZOOM_ABSOLUTE;
                break;
            case CameraControl_Exposure: {
                v4l2_queryctrl q;
                m.id = Query(V4L2_CID_EXPOSURE_ABSOLUTE, &q) ? V4L2_CID_EXPOSURE_ABSOLUTE
                                                             : V4L2_CID_EXPOSURE;
                m.autoId = V4L2_CID_EXPOSURE_AUTO;
                m.bExposureMenu = true;
                break;
            }
            case CameraControl_Iris:
                m.id = V4L2_CID_IRIS_ABSOLUTE;
                break;
            case CameraControl_Focus:
                m.id = V4L2_CID_FOCUS_ABSOLUTE, m.autoId = V4L2_CID_FOCUS_AUTO;
                break;
            default:
                break;  // Roll and unknown ids
        }
    }
    v4l2_queryctrl q;
    if (m.autoId && !Query(m.autoId, &q)) m.autoId = 0;
    return m;
}

bool CCaptureControls::HasFamily(EFamily family) {
    const LONG nLast =
        family == EFamily::ProcAmp ? LONG{VideoProcAmp_Gain} : LONG{CameraControl_Focus};
    for (LONG p = 0; p <= nLast; ++p) {
        v4l2_queryctrl q;
        if (Query(Resolve(family, p).id, &q)) return true;
    }
    return false;
}

bool CCaptureControls::AutoIsOn(const SMapping& m, bool* pOn) {
    v4l2_control c{m.autoId, 0};
    if (m_Node->ioctl(VIDIOC_G_CTRL, &c) != 0) return false;
    *pOn = m.bExposureMenu ? c.value != V4L2_EXPOSURE_MANUAL : c.value != 0;
    return true;
}

HRESULT CCaptureControls::SetAuto(const SMapping& m, bool bOn) {
    v4l2_control c{m.autoId, bOn ? 1 : 0};
    if (m.bExposureMenu) {
        c.value = V4L2_EXPOSURE_MANUAL;
        if (bOn) {
            // Full auto when the menu offers it, else aperture priority (the
            // one automatic mode many cameras have).
            v4l2_querymenu item;
            std::memset(&item, 0, sizeof(item));
            item.id = m.autoId;
            item.index = V4L2_EXPOSURE_AUTO;
            c.value = m_Node->ioctl(VIDIOC_QUERYMENU, &item) == 0 ? V4L2_EXPOSURE_AUTO
                                                                  : V4L2_EXPOSURE_APERTURE_PRIORITY;
        }
    }
    return m_Node->ioctl(VIDIOC_S_CTRL, &c) == 0 ? S_OK : E_FAIL;
}

HRESULT CCaptureControls::GetRange(EFamily family, LONG Property, LONG* pMin, LONG* pMax,
                                   LONG* pSteppingDelta, LONG* pDefault, LONG* pCapsFlags) {
    if (!pMin || !pMax || !pSteppingDelta || !pDefault || !pCapsFlags) return E_POINTER;
    const SMapping m = Resolve(family, Property);
    v4l2_queryctrl q;
    if (!Query(m.id, &q)) return E_PROP_ID_UNSUPPORTED;
    *pMin = q.minimum;
    *pMax = q.maximum;
    *pSteppingDelta = q.step;
    *pDefault = q.default_value;
    *pCapsFlags = kFlagsManual | (m.autoId ? kFlagsAuto : 0);
    return S_OK;
}

HRESULT CCaptureControls::Get(EFamily family, LONG Property, LONG* plValue, LONG* pFlags) {
    if (!plValue || !pFlags) return E_POINTER;
    const SMapping m = Resolve(family, Property);
    v4l2_queryctrl q;
    if (!Query(m.id, &q)) return E_PROP_ID_UNSUPPORTED;
    v4l2_control c{m.id, 0};
    if (m_Node->ioctl(VIDIOC_G_CTRL, &c) != 0) return E_FAIL;
    bool bOn = false;
    *plValue = c.value;
    *pFlags = m.autoId && AutoIsOn(m, &bOn) && bOn ? kFlagsAuto : kFlagsManual;
    return S_OK;
}

HRESULT CCaptureControls::Set(EFamily family, LONG Property, LONG lValue, LONG Flags) {
    const SMapping m = Resolve(family, Property);
    v4l2_queryctrl q;
    if (!Query(m.id, &q)) return E_PROP_ID_UNSUPPORTED;
    if ((Flags & kFlagsAuto) && m.autoId) return SetAuto(m, true);
    if (!(Flags & kFlagsAuto) && m.autoId) {
        const HRESULT hr = SetAuto(m, false);
        if (FAILED(hr)) return hr;
    }
    v4l2_control c{m.id, lValue};
    return m_Node->ioctl(VIDIOC_S_CTRL, &c) == 0 ? S_OK : E_FAIL;
}
