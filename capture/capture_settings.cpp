// The setVideoSetting family: proc-amp and camera-control properties, the
// analog video standard and the driver's property pages. Each operation
// binds the device's capture filter afresh (getDevice), uses it and lets
// it go; all run under the set-up lock.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "capture/print_sink.h"
#include "capture/video_input.h"
#include "platform/com/com_runtime.h"
#include "platform/win/begin_thread.h"

namespace {

const char* flagsText(LONG flags) {
    if (flags == 1) return "Auto";
    if (flags == 2) return "Manual";
    return "Unknown";
}

template <class Control>
const IID& familyIid();
template <>
const IID& familyIid<IAMVideoProcAmp>() {
    return IID_IAMVideoProcAmp;
}
template <>
const IID& familyIid<IAMCameraControl>() {
    return IID_IAMCameraControl;
}

}  // namespace

template <class Control>
bool VideoInput::getSetting(int index, LONG property, LONG& min, LONG& max, LONG& step,
                            LONG& current, LONG& flags, LONG& defaultValue, bool) {
    std::lock_guard<std::recursive_mutex> setup(m_setupLock);
    if (!openRecord(index)) return false;
    CComRef<IBaseFilter> filter;
    wchar_t wide[255];
    char narrow[255];
    if (FAILED(getDevice(&filter, index, wide, narrow)) || !filter) {
        capturePrint("setVideoSetting - getDevice Error\n");
        return false;
    }
    CComRef<Control> control;
    if (FAILED(filter.QueryInto(familyIid<Control>(), &control)) || !control) {
        capturePrint("setVideoSetting - QueryInterface Error\n");
        return false;
    }
    captureLog("Setting video setting %d.\n", property);
    LONG rMin = 0, rMax = 0, rStep = 0, rDefault = 0, rCaps = 0;
    if (FAILED(control->GetRange(property, &rMin, &rMax, &rStep, &rDefault, &rCaps))) return false;
    captureLog("Range for video setting %d: Min:%d Max:%d SteppingDelta:%d Default:%d Flags:%d\n",
               property, rMin, rMax, rStep, rDefault, rCaps);
    LONG value = 0, mode = 0;
    if (FAILED(control->Get(property, &value, &mode))) return false;
    min = rMin;
    max = rMax;
    step = rStep;
    defaultValue = rDefault;
    current = value;
    flags = mode;  // the current mode, no longer the capability flags
    return true;
}

template <class Control>
bool VideoInput::setSetting(int index, LONG property, LONG value, LONG flags, bool useDefault,
                            bool cameraFamily) {
    std::lock_guard<std::recursive_mutex> setup(m_setupLock);
    if (!openRecord(index)) return false;
    CComRef<IBaseFilter> filter;
    wchar_t wide[255];
    char narrow[255];
    if (FAILED(getDevice(&filter, index, wide, narrow)) || !filter) {
        if (!cameraFamily) capturePrint("setVideoSetting - getDevice Error\n");
        return false;
    }
    if (cameraFamily) captureLog("Setting video setting %d.\n", property);
    CComRef<Control> control;
    if (FAILED(filter.QueryInto(familyIid<Control>(), &control)) || !control) {
        capturePrint(cameraFamily ? "Error\n" : "setVideoSetting - QueryInterface Error\n");
        return false;
    }
    if (!cameraFamily) captureLog("Setting video setting %d.\n", property);
    LONG rMin = 0, rMax = 0, rStep = 0, rDefault = 0, rCaps = 0;
    const bool haveRange =
        SUCCEEDED(control->GetRange(property, &rMin, &rMax, &rStep, &rDefault, &rCaps));
    if (haveRange) {
        captureLog(
            "Range for video setting %d: Min:%d Max:%d SteppingDelta:%d Default:%d Flags:%d\n",
            property, rMin, rMax, rStep, rDefault, rCaps);
    } else if (useDefault) {
        return false;  // there is no default to set
    }
    LONG currentValue = 0, currentFlags = 0;
    if (SUCCEEDED(control->Get(property, &currentValue, &currentFlags))) {
        captureLog("Current value: %d Flags %d (%s)\n", currentValue, currentFlags,
                   flagsText(currentFlags));
    }
    const LONG setValue = useDefault ? rDefault : value;
    const LONG setFlags = useDefault ? 1 : flags;
    if (FAILED(control->Set(property, setValue, setFlags))) {
        // Still true, as callers rely on; the line says what happened.
        captureLog("ERROR: setVideoSetting - device refused value %d for setting %d\n", setValue,
                   property);
    }
    return true;
}

bool VideoInput::setSettingPct(int index, LONG property, float pctValue, LONG flags,
                               bool cameraFamily) {
    LONG min = 0, max = 0, step = 0, current = 0, currentFlags = 0, defaultValue = 0;
    const bool haveRange = cameraFamily ? getCameraSetting(index, property, min, max, step, current,
                                                           currentFlags, defaultValue)
                                        : getProcAmpSetting(index, property, min, max, step,
                                                            current, currentFlags, defaultValue);
    if (!haveRange || std::isnan(pctValue)) return false;
    const double pct =
        pctValue > 1.0f ? 1.0 : (pctValue < 0.0f ? 0.0 : static_cast<double>(pctValue));
    const int64_t range = static_cast<int64_t>(max) - min;
    if (range <= 0 || step <= 0) return false;
    const int64_t value = static_cast<int64_t>(
        std::trunc(static_cast<double>(min) + static_cast<double>(range) * pct));
    int64_t raster = 0;
    if (range != step) {
        // Multiples of step counted from zero; half a step rounds up; a
        // negative value moves toward zero.
        const int64_t mod = value % step;
        const double half = static_cast<double>(step) * 0.5;
        raster = half > static_cast<double>(mod) ? value - mod : value - mod + step;
        // Back onto the grid inside the range (0..255 step 10 at 100%: 250).
        if (raster > max) raster -= step;
        if (raster < min) raster += step;
        raster = std::clamp<int64_t>(raster, min, max);
        captureLog(
            "RASTER - pctValue is %f - value is %i - step is %i - mod is %i - rasterValue is %i\n",
            static_cast<double>(pctValue), static_cast<int>(value), static_cast<int>(step),
            static_cast<int>(mod), static_cast<int>(raster));
    } else {
        raster = pct < 0.5 ? min : max;
    }
    return cameraFamily
               ? setCameraSetting(index, property, static_cast<LONG>(raster), flags, false)
               : setProcAmpSetting(index, property, static_cast<LONG>(raster), flags, false);
}

bool VideoInput::getProcAmpSetting(int index, LONG property, LONG& min, LONG& max, LONG& step,
                                   LONG& current, LONG& flags, LONG& defaultValue) {
    return getSetting<IAMVideoProcAmp>(index, property, min, max, step, current, flags,
                                       defaultValue, false);
}

bool VideoInput::setProcAmpSetting(int index, LONG property, LONG value, LONG flags,
                                   bool useDefault) {
    return setSetting<IAMVideoProcAmp>(index, property, value, flags, useDefault, false);
}

bool VideoInput::setProcAmpSettingPct(int index, LONG property, float pctValue, LONG flags) {
    return setSettingPct(index, property, pctValue, flags, false);
}

bool VideoInput::getCameraSetting(int index, LONG property, LONG& min, LONG& max, LONG& step,
                                  LONG& current, LONG& flags, LONG& defaultValue) {
    return getSetting<IAMCameraControl>(index, property, min, max, step, current, flags,
                                        defaultValue, true);
}

bool VideoInput::setCameraSetting(int index, LONG property, LONG value, LONG flags,
                                  bool useDefault) {
    return setSetting<IAMCameraControl>(index, property, value, flags, useDefault, true);
}

bool VideoInput::setCameraSettingPct(int index, LONG property, float pctValue, LONG flags) {
    return setSettingPct(index, property, pctValue, flags, true);
}

bool VideoInput::setAnalogStandard(int index, int standardIndex) {
    std::lock_guard<std::recursive_mutex> setup(m_setupLock);
    auto device = openRecord(index);
    if (!device || standardIndex < 0 ||
        standardIndex >= static_cast<int>(m_analogStandards.size())) {
        return false;
    }
    const LONG standard = m_analogStandards[static_cast<size_t>(standardIndex)];
    // Kept even if the steps below fail, so a reopen tries it again.
    device->analogStandard = standard;
    device->useAnalogStandard = true;

    CComRef<IAMAnalogVideoDecoder> decoder;
    {
        CComRef<IBaseFilter> filter;
        wchar_t wide[255];
        char narrow[255];
        if (getDevice(&filter, index, wide, narrow) != S_OK || !filter) return false;
        if (device->captureBuilder) {
            device->captureBuilder->FindInterface(nullptr, &MEDIATYPE_Video, filter.Get(),
                                                  IID_IAMAnalogVideoDecoder,
                                                  reinterpret_cast<void**>(decoder.Receive()));
        }
    }
    if (!decoder) {
        capturePrint("SETUP: couldn't set requested format\n");
        return false;
    }
    LONG available = 0;
    if (SUCCEEDED(decoder->get_AvailableTVFormats(&available)) && (available & standard)) {
        if (FAILED(decoder->put_TVFormat(standard))) {
            capturePrint("SETUP: couldn't set requested format\n");
            return false;
        }
        return true;
    }
    return false;
}

void VideoInput::openSettingsDialog(int index) {
    std::lock_guard<std::recursive_mutex> setup(m_setupLock);
    if (!openRecord(index)) return;
    CComRef<IBaseFilter> filter;
    wchar_t wide[255];
    char narrow[255];
    if (getDevice(&filter, index, wide, narrow) != S_OK || !filter) return;
    IBaseFilter* handed = filter.Detach();  // the thread owns this reference
    if (_beginthread(&VideoInput::settingsThread, 0, handed) == static_cast<uintptr_t>(-1)) {
        handed->Release();
    }
}

void VideoInput::settingsThread(void* pFilter) {
    CComRef<IBaseFilter> filter(static_cast<IBaseFilter*>(pFilter), AdoptTag);
    const bool comHere = SUCCEEDED(CoInitialize(nullptr));
    showFilterProperties(filter.Get());
    filter.Release();
    if (comHere) CoUninitialize();
}

HRESULT VideoInput::showFilterProperties(IBaseFilter* filter) {
    CComRef<ISpecifyPropertyPages> pages;
    HRESULT hr = filter->QueryInterface(IID_ISpecifyPropertyPages,
                                        reinterpret_cast<void**>(pages.Receive()));
    if (FAILED(hr) || !pages) return FAILED(hr) ? hr : E_NOINTERFACE;
    FILTER_INFO info{};
    hr = filter->QueryFilterInfo(&info);
    CComRef<IUnknown> unknown;
    filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown.Receive()));
    CAUUID pageList{0, nullptr};
    pages->GetPages(&pageList);
    pages.Release();
    IUnknown* objects[1] = {unknown.Get()};
    OleCreatePropertyFrame(nullptr, 0, 0, info.achName, 1, objects, pageList.cElems,
                           pageList.pElems, 0, 0, nullptr);
    unknown.Release();
    if (info.pGraph) info.pGraph->Release();
    CoTaskMemFree(pageList.pElems);
    return hr;
}
