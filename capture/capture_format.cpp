// Format negotiation of a device being set up: the size choice (requested
// size in the trial subtypes, else the nearest size the pin offers, else
// the default format) and the format lists.
#include "capture/capture_format.h"

#include <cstdlib>
#include <cstring>

#include "capture/print_sink.h"
#include "capture/video_input.h"
#include "platform/com/com_runtime.h"

void freeCaptureMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt) return;
    if (pmt->pbFormat) CoTaskMemFree(pmt->pbFormat);
    if (pmt->pUnk) pmt->pUnk->Release();
    CoTaskMemFree(pmt);
}

AM_MEDIA_TYPE* copyCaptureMediaType(const AM_MEDIA_TYPE* pmt) {
    if (!pmt) return nullptr;
    auto* copy = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!copy) return nullptr;
    *copy = *pmt;
    copy->pbFormat = nullptr;
    copy->cbFormat = 0;
    if (pmt->cbFormat && pmt->pbFormat) {
        copy->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(pmt->cbFormat));
        if (!copy->pbFormat) {
            CoTaskMemFree(copy);
            return nullptr;
        }
        std::memcpy(copy->pbFormat, pmt->pbFormat, pmt->cbFormat);
        copy->cbFormat = pmt->cbFormat;
    }
    if (copy->pUnk) copy->pUnk->AddRef();
    return copy;
}

bool readVideoInfo(const AM_MEDIA_TYPE* pmt, VIDEOINFOHEADER* pVih) {
    if (!pmt || pmt->formattype != FORMAT_VideoInfo || !pmt->pbFormat ||
        pmt->cbFormat < sizeof(VIDEOINFOHEADER)) {
        return false;
    }
    std::memcpy(pVih, pmt->pbFormat, sizeof(VIDEOINFOHEADER));
    return true;
}

bool writeVideoInfo(AM_MEDIA_TYPE* pmt, const VIDEOINFOHEADER& vih) {
    if (!pmt || !pmt->pbFormat || pmt->cbFormat < sizeof(VIDEOINFOHEADER)) return false;
    std::memcpy(pmt->pbFormat, &vih, sizeof(VIDEOINFOHEADER));
    return true;
}

int64_t packedFrameBytes(int64_t w, int64_t h) {
    if (w < 1 || h < 1 || w > VideoDevice::kMaxSide || h > VideoDevice::kMaxSide) return 0;
    return w * h * 3;
}

bool nearestOnGrid(int64_t want, int64_t min, int64_t max, int64_t step, int64_t* pNearest) {
    if (step < 1 || min > max) return false;
    const int64_t last = min + (max - min) / step * step;  // largest grid value
    if (want <= min) {
        *pNearest = min;
    } else if (want >= last) {
        *pNearest = last;
    } else {
        const int64_t below = min + (want - min) / step * step;
        const int64_t above = below + step;  // <= last, since want < last
        // Equally close: the smaller one, as a walk upwards keeps it.
        *pNearest = (above - want) < (want - below) ? above : below;
    }
    return true;
}

void VideoInput::subtypeName(const GUID& subtype, char out[8]) const {
    static const char* const kNames[18] = {"RGB24", "RGB32", "RGB555", "RGB565", "YUY2", "YVYU",
                                           "YUYV",  "IYUV",  "UYVY",   "YV12",   "YVU9", "Y411",
                                           "Y41P",  "Y211",  "AYUV",   "Y800",   "Y8",   "GREY"};
    const char* name = "OTHER";
    for (size_t i = 0; i < m_trialSubtypes.size(); ++i) {
        if (m_trialSubtypes[i] == subtype) {
            name = kNames[i];
            break;
        }
    }
    std::strncpy(out, name, 7);
    out[7] = 0;
}

bool VideoInput::applyFormat(VideoDevice& device, int32_t w, int32_t h, const GUID& subtype) {
    if (!device.streamConfig || !device.pAmMediaType) return false;
    AM_MEDIA_TYPE* saved = nullptr;
    if (device.streamConfig->GetFormat(&saved) != S_OK || !saved) {
        freeCaptureMediaType(saved);
        return false;
    }
    AM_MEDIA_TYPE* working = device.pAmMediaType;
    VIDEOINFOHEADER vih{};
    if (!readVideoInfo(working, &vih)) {
        freeCaptureMediaType(saved);
        return false;
    }
    vih.bmiHeader.biWidth = w;
    vih.bmiHeader.biHeight = h;
    if (device.frameInterval != -1) vih.AvgTimePerFrame = device.frameInterval;
    writeVideoInfo(working, vih);
    working->formattype = FORMAT_VideoInfo;
    working->majortype = MEDIATYPE_Video;
    working->subtype = subtype;
    working->lSampleSize = static_cast<ULONG>(packedFrameBytes(w, h));

    if (device.streamConfig->SetFormat(working) == S_OK) {
        freeCaptureMediaType(saved);
        return true;
    }
    // Refused: the pin goes back to its previous format, and so does the
    // working type, so a later SetFormat (the frame rate) never carries a
    // size or subtype that the pin refused.
    device.streamConfig->SetFormat(saved);
    freeCaptureMediaType(device.pAmMediaType);
    device.pAmMediaType = saved;
    return false;
}

namespace {

// Calls visit(mediaType, caps) for each capability the pin reports, in pin
// order, until it returns false; each media type is freed after its call.
// Capabilities the pin fails to give are skipped.
template <class Visit>
void forEachCapability(IAMStreamConfig* pConfig, Visit visit) {
    int count = 0, capsSize = 0;
    if (FAILED(pConfig->GetNumberOfCapabilities(&count, &capsSize))) return;
    if (capsSize != static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS))) return;
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* pmt = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps{};
        const bool bGot =
            pConfig->GetStreamCaps(i, &pmt, reinterpret_cast<BYTE*>(&caps)) == S_OK && pmt;
        const bool bGoOn = !bGot || visit(*pmt, caps);
        freeCaptureMediaType(pmt);
        if (!bGoOn) return;
    }
}

}  // namespace

void VideoInput::searchNearestSize(VideoDevice& device, int32_t w, int32_t h, int32_t* pW,
                                   int32_t* pH, GUID* pSubtype) {
    bool haveBest = false;
    int64_t bestDistance = 0;
    forEachCapability(device.streamConfig.Get(),
                      [&](const AM_MEDIA_TYPE& mt, const VIDEO_STREAM_CONFIG_CAPS& caps) {
                          int64_t nearW = 0, nearH = 0;
                          // A capability whose grid is empty offers no size at all.
                          if (!nearestOnGrid(w, caps.MinOutputSize.cx, caps.MaxOutputSize.cx,
                                             caps.OutputGranularityX, &nearW) ||
                              !nearestOnGrid(h, caps.MinOutputSize.cy, caps.MaxOutputSize.cy,
                                             caps.OutputGranularityY, &nearH) ||
                              packedFrameBytes(nearW, nearH) == 0) {
                              return true;
                          }
                          const int64_t distance = std::llabs(w - nearW) + std::llabs(h - nearH);
                          if (haveBest && distance >= bestDistance) return true;
                          haveBest = true;
                          bestDistance = distance;
                          *pW = static_cast<int32_t>(nearW);
                          *pH = static_cast<int32_t>(nearH);
                          *pSubtype = mt.subtype;
                          return distance != 0;  // an exact size ends the search
                      });
}

bool VideoInput::chooseSize(VideoDevice& device, int32_t defaultW, int32_t defaultH) {
    bool chosen = false;
    if (device.useRequestedSize) {
        captureLog("SETUP: Default Format is set to %i by %i \n", defaultW, defaultH);
        char name[8];
        for (const GUID& subtype : m_trialSubtypes) {
            subtypeName(subtype, name);
            captureLog("SETUP: trying format %s @ %i by %i\n", name, device.requestedWidth,
                       device.requestedHeight);
            if (applyFormat(device, device.requestedWidth, device.requestedHeight, subtype)) {
                chosen = true;
                break;
            }
        }
        if (!chosen) {
            captureLog(
                "SETUP: couldn't find requested size - searching for closest matching size\n");
            int32_t nearW = -1, nearH = -1;
            GUID nearSubtype = GUID_NULL;
            searchNearestSize(device, device.requestedWidth, device.requestedHeight, &nearW, &nearH,
                              &nearSubtype);
            if (nearW != -1 && nearH != -1) {
                subtypeName(nearSubtype, name);
                captureLog("SETUP: closest supported size is %s @ %i %i\n", name, nearW, nearH);
                chosen = applyFormat(device, nearW, nearH, nearSubtype);
            }
        }
    }
    if (!chosen && device.frameInterval != -1) {
        VIDEOINFOHEADER vih{};
        if (readVideoInfo(device.pAmMediaType, &vih)) {
            vih.AvgTimePerFrame = device.frameInterval;
            writeVideoInfo(device.pAmMediaType, vih);
            device.streamConfig->SetFormat(device.pAmMediaType);
        }
    }
    // The frame size is what the pin really delivers now, never a request.
    int32_t w = defaultW, h = defaultH;
    AM_MEDIA_TYPE* current = nullptr;
    if (device.streamConfig->GetFormat(&current) == S_OK && current) {
        VIDEOINFOHEADER vih{};
        if (readVideoInfo(current, &vih)) {
            w = vih.bmiHeader.biWidth;
            h = vih.bmiHeader.biHeight < 0 ? -vih.bmiHeader.biHeight : vih.bmiHeader.biHeight;
        }
    }
    freeCaptureMediaType(current);
    if (packedFrameBytes(w, h) == 0) {
        captureLog("ERROR: invalid frame size %d x %d\n", w, h);
        return false;
    }
    return device.setFrameSize(w, h);
}

void VideoInput::collectFormats(VideoDevice& device) {
    char name[8];
    forEachCapability(device.streamConfig.Get(),
                      [&](const AM_MEDIA_TYPE& mt, const VIDEO_STREAM_CONFIG_CAPS&) {
                          VIDEOINFOHEADER vih{};
                          if (mt.majortype == MEDIATYPE_Video && readVideoInfo(&mt, &vih)) {
                              subtypeName(mt.subtype, name);
                              device.formatWidths.push_back(vih.bmiHeader.biWidth);
                              device.formatHeights.push_back(vih.bmiHeader.biHeight);
                              device.formatNames.emplace_back(name);
                          }
                          return true;
                      });
}
