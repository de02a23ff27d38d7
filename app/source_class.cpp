#include "app/source_class.h"

#include "app/resource.h"

ESourceClass ClassifySource(const std::string& name, const std::string& extension) {
    if (extension == kNoExtension) {
        if (name == kDeviceUsbCamera) return ESourceClass::UsbCamera;
        if (name == kDeviceVfw) return ESourceClass::VideoForWindows;
        if (name == kDeviceNi100U) return ESourceClass::Ni100U;
        return ESourceClass::AviFile;
    }
    if (extension == "AVI" || extension == "avi") return ESourceClass::AviFile;
    if (extension == "MPG" || extension == "mpg" || extension == "MPEG" || extension == "mpeg")
        return ESourceClass::MpegFile;
    if (extension == "MP4" || extension == "mp4") return ESourceClass::Mp4File;
    return ESourceClass::AviFile;  // ASF and every other form, mixed case included
}

int SeekModeOf(ESourceClass eClass) {
    switch (eClass) {
        case ESourceClass::AviFile:
            return kSeekModeStop;
        case ESourceClass::Mp4File:
            return kSeekModePoll;
        default:
            return kSeekModeNone;
    }
}

std::string FileExtension(const std::string& path) {
    const size_t nSlash = path.find_last_of('/');
    const size_t nNameStart = nSlash == std::string::npos ? 0 : nSlash + 1;
    const size_t nDot = path.find_last_of('.');
    if (nDot == std::string::npos || nDot < nNameStart) return std::string();
    return path.substr(nDot + 1);
}
