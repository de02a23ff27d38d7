#include "app/camera_devices.h"

#include <cstdio>

#include "capture/video_input.h"

SCameraDevices SetUpCameraDevices(VideoInput& videoInput) {
    SCameraDevices devices;
    devices.m_nDeviceCount = VideoInput::enumerateDevices(true);
    if (devices.m_nDeviceCount <= 0) {
        devices.m_nDeviceCount = 0;
        return devices;
    }
    const size_t n = static_cast<size_t>(devices.m_nDeviceCount);
    devices.m_formatTexts.resize(n);
    devices.m_formatWidths.resize(n);
    devices.m_formatHeights.resize(n);
    devices.m_formatNames.resize(n);
    for (int i = 0; i < devices.m_nDeviceCount; ++i) {
        const size_t k = static_cast<size_t>(i);
        const char* pszName = VideoInput::getFriendlyName(i);
        devices.m_deviceNames.emplace_back(pszName ? pszName : "");
        videoInput.openDevice(i, kCameraOpenWidth, kCameraOpenHeight);
        const int nFormats = videoInput.getFormatCount(i);
        videoInput.getFormatWidths(i, devices.m_formatWidths[k]);
        videoInput.getFormatHeights(i, devices.m_formatHeights[k]);
        videoInput.getFormatNames(i, devices.m_formatNames[k]);
        if (nFormats <= 0) continue;  // not open: no formats
        std::vector<std::string>& texts = devices.m_formatTexts[k];
        texts.assign(static_cast<size_t>(nFormats), std::string());
        for (size_t j = 0; j < texts.size(); ++j) {
            // The three lists are parallel; a short one leaves its entries out.
            if (j >= devices.m_formatNames[k].size() || j >= devices.m_formatWidths[k].size() ||
                j >= devices.m_formatHeights[k].size())
                break;
            char sz[320];
            std::snprintf(sz, sizeof sz, "%s W = %4d H = %4d\n",
                          devices.m_formatNames[k][j].c_str(), devices.m_formatWidths[k][j],
                          devices.m_formatHeights[k][j]);
            texts[j] = sz;
        }
    }
    return devices;
}

void CloseCameraDevices(VideoInput& videoInput, INT nDeviceCount) {
    for (int i = 0; i < nDeviceCount; ++i) videoInput.closeDevice(i);
}
