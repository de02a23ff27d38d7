// capture: VideoDevice, the record of one device slot of the library: what
// the caller asked for (size, connection, frame rate, freeze recovery), the
// capture graph while the device is open, the delivered frame size with its
// buffers, and the formats the device offered when it was opened.
//
// Ownership and lifetime: a slot of VideoInput holds its record through a
// shared pointer; a consumer that is inside GetPixels/hasNewFrame holds one
// too. Closing a device replaces the slot's record by a fresh one, marks
// the old one closed (waking its waiters) and tears its graph down; the old
// record's memory goes with its last user.
//
// Threads: the set-up members are touched only under the library's set-up
// lock (opening, closing, settings). `ready`, `closed`, the freeze settings
// and the poll count are atomic because consumers read them without that
// lock. width, height and frameSize are written before `ready` is set and
// never change afterwards. consumerLock serialises the consumers of this
// record (see the lock order in video_input.h).
// May include: the C++ standard library, platform/. No Qt.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/sample_grabber_callback.h"
#include "platform/com/com_ref.h"
#include "platform/media/capture_interfaces.h"

class VideoDevice {
public:
    VideoDevice();
    ~VideoDevice();
    VideoDevice(const VideoDevice&) = delete;
    VideoDevice& operator=(const VideoDevice&) = delete;

    // Fixes the frame size and allocates the frame buffers, once per open.
    // False for a size whose frame (computed in 64 bits) is not valid, or
    // when the size was already fixed.
    bool setFrameSize(int32_t w, int32_t h);

    // Tears the graph down (idempotent): detaches the callback (waiting for
    // a running SampleCB), stops the graph and releases every reference.
    // The buffers and the callback stay until the record is destroyed.
    void tearDown();

    // Disconnects and removes everything downstream of filter from pGraph.
    void removeDownstream(IBaseFilter* filter);
    // Removes every filter from pGraph.
    void removeAllFilters();

    // Largest width or height accepted anywhere in the library.
    static constexpr int32_t kMaxSide = 16384;

    int32_t frameSize = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t requestedWidth = 0;
    int32_t requestedHeight = 0;

    CComRef<ICaptureGraphBuilder2> captureBuilder;
    CComRef<IGraphBuilder> pGraph;
    CComRef<IMediaControl> pControl;
    CComRef<IBaseFilter> sourceFilter;
    CComRef<IBaseFilter> grabberFilter;
    CComRef<IBaseFilter> rendererFilter;
    CComRef<IAMStreamConfig> streamConfig;
    CComRef<ISampleGrabber> grabber;
    AM_MEDIA_TYPE* pAmMediaType = nullptr;  // task memory, freed as a media type

    int32_t analogStandard = 0;
    SampleGrabberCallback callback;

    bool useRequestedSize = false;
    bool crossbarWanted = false;
    std::atomic<bool> ready{false};
    bool sizeFixed = false;
    bool buildStarted = false;
    bool useAnalogStandard = false;
    std::atomic<bool> freezeRecovery{false};
    std::atomic<int32_t> freezeThreshold{10000};
    std::atomic<uint32_t> pollCount{0};  // saturates at its maximum
    int32_t connectionType = 2;
    int32_t connectionIndex = 0;
    int32_t deviceIndex = -1;
    int32_t frameInterval = -1;
    char name[255] = {};
    wchar_t wideName[255] = {};

    std::unique_ptr<uint8_t[]> imageBuffer;  // target of getPixelBuffer
    std::unique_ptr<uint8_t[]> frameBuffer;  // buffered-mode staging

    std::vector<int32_t> formatWidths;
    std::vector<int32_t> formatHeights;
    std::vector<std::string> formatNames;

    // Set (once) when the record leaves its slot; consumers then answer
    // false instead of waiting for frames that will never come.
    std::atomic<bool> closed{false};
    // Serialises the consumers of this record: two GetPixels never both
    // take one frame. Close takes it (after waking the waiters) before it
    // tears the graph down, so a buffered-mode GetPixels never uses a
    // released grabber.
    std::mutex consumerLock;
};
