#include "capture/video_device.h"

#include <cstring>
#include <new>

#include "capture/capture_format.h"
#include "capture/print_sink.h"

namespace {

// The low byte of each wide unit, for messages.
void narrowName(const WCHAR* wide, char* out, size_t outSize) {
    size_t i = 0;
    for (; i + 1 < outSize && wide[i]; ++i) out[i] = static_cast<char>(wide[i] & 0xFF);
    out[i] = 0;
}

}  // namespace

VideoDevice::VideoDevice() = default;

VideoDevice::~VideoDevice() { tearDown(); }

bool VideoDevice::setFrameSize(int32_t w, int32_t h) {
    if (sizeFixed) {
        captureLog("SETUP: Error device size should not be set more than once \n");
        return false;
    }
    const int64_t bytes = packedFrameBytes(w, h);
    if (bytes == 0) return false;
    std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[bytes]());
    std::unique_ptr<uint8_t[]> staging(new (std::nothrow) uint8_t[bytes]);
    if (!image || !staging) return false;
    if (!callback.allocateBuffer(static_cast<uint32_t>(bytes))) return false;
    width = w;
    height = h;
    frameSize = static_cast<int32_t>(bytes);
    imageBuffer = std::move(image);
    frameBuffer = std::move(staging);
    sizeFixed = true;
    return true;
}

void VideoDevice::tearDown() {
    ready.store(false);
    if (!buildStarted) return;
    buildStarted = false;
    captureLog("\nSETUP: Disconnecting device %i\n", deviceIndex);
    if (grabber) {
        // Waits for a SampleCB in progress: afterwards the grabber never
        // calls the callback again, so it may be destroyed with the record.
        grabber->SetCallback(nullptr, 0);
        captureLog("SETUP: freeing Grabber Callback\n");
    }
    if (pControl) {
        if (FAILED(pControl->Pause())) captureLog("ERROR - Could not pause pControl\n");
        if (FAILED(pControl->Stop())) captureLog("ERROR - Could not stop pControl\n");
    }
    if (sourceFilter && pGraph) removeDownstream(sourceFilter.Get());
    if (rendererFilter) {
        rendererFilter.Release();
        captureLog("SETUP: freeing Renderer \n");
    }
    if (sourceFilter) {
        sourceFilter.Release();
        captureLog("SETUP: freeing Capture Source \n");
    }
    if (grabberFilter) {
        grabberFilter.Release();
        captureLog("SETUP: freeing Grabber Filter  \n");
    }
    if (grabber) {
        grabber.Release();
        captureLog("SETUP: freeing Grabber  \n");
    }
    if (pControl) {
        pControl.Release();
        captureLog("SETUP: freeing Control   \n");
    }
    if (streamConfig) {
        streamConfig.Release();
        captureLog("SETUP: freeing Stream  \n");
    }
    if (pAmMediaType) {
        freeCaptureMediaType(pAmMediaType);
        pAmMediaType = nullptr;
        captureLog("SETUP: freeing Media Type  \n");
    }
    if (pGraph) removeAllFilters();
    if (captureBuilder) {
        captureBuilder.Release();
        captureLog("SETUP: freeing Capture Graph \n");
    }
    if (pGraph) {
        pGraph.Release();
        captureLog("SETUP: freeing Main Graph \n");
    }
    captureLog("SETUP: Device %i disconnected and freed\n\n", deviceIndex);
}

void VideoDevice::removeDownstream(IBaseFilter* filter) {
    if (!filter || !pGraph) return;
    CComRef<IEnumPins> pins;
    if (filter->EnumPins(pins.Receive()) != S_OK || !pins) return;
    pins->Reset();
    for (;;) {
        CComRef<IPin> pin;
        if (pins->Next(1, pin.Receive(), nullptr) != S_OK || !pin) return;
        CComRef<IPin> pinTo;
        if (pin->ConnectedTo(pinTo.Receive()) != S_OK || !pinTo) continue;
        PIN_INFO info{};
        if (pinTo->QueryPinInfo(&info) != S_OK) return;
        CComRef<IBaseFilter> downstream(info.pFilter, AdoptTag);
        if (info.dir == PINDIR_INPUT) {
            removeDownstream(downstream.Get());
            pGraph->Disconnect(pinTo.Get());
            pGraph->Disconnect(pin.Get());
            pGraph->RemoveFilter(downstream.Get());
        }
    }
}

void VideoDevice::removeAllFilters() {
    if (!pGraph) return;
    for (;;) {
        CComRef<IEnumFilters> filters;
        if (FAILED(pGraph->EnumFilters(filters.Receive())) || !filters) {
            captureLog("SETUP: pGraph->EnumFilters() failed. \n");
            return;
        }
        CComRef<IBaseFilter> filter;
        if (filters->Next(1, filter.Receive(), nullptr) != S_OK || !filter) return;
        FILTER_INFO info{};
        char filterName[MAX_FILTER_NAME + 1] = {};
        if (SUCCEEDED(filter->QueryFilterInfo(&info))) {
            narrowName(info.achName, filterName, sizeof filterName);
            if (info.pGraph) info.pGraph->Release();
        }
        captureLog("SETUP: removing filter %s...\n", filterName);
        if (FAILED(pGraph->RemoveFilter(filter.Get()))) {
            captureLog("SETUP: pGraph->RemoveFilter() failed. \n");
            return;
        }
        captureLog("SETUP: filter removed %s  \n", filterName);
    }
}
