// capture: VideoInput, the camera capture library. Index-based access to
// up to 20 capture devices of the platform's video-input category:
// enumeration, capture-graph set-up and tear-down with format negotiation,
// frame delivery with a frozen-device watchdog, and the video and camera
// settings. Progress and errors go to the print sink (print_sink.h) as
// lines beginning "SETUP:", "ERROR" or "SUCCESS:", most of them only while
// `verbose` is on (the default).
//
// Calling order for a consumer: openDevice; isDeviceOpen and the size
// queries to size its buffers; then per frame hasNewFrame and, when it
// answered true, GetPixels.
//
// Indices: operations that read an open record accept 0 <= index <
// min(device count, 20) (the count is 0 until the first open counts the
// devices). openDevice, closeDevice, setFrameRate, setFreezeRecovery and
// getFriendlyName accept 0 to 19.
//
// Threads and locks. A thread that opens, reopens or configures a device
// must have COM initialised (the constructor initialises it on its own
// thread only). Opening, closing, reopening, the settings and the
// enumeration run under one recursive set-up lock. The consumer operations
// (hasNewFrame, GetPixels, getPixelBuffer and the queries) may run on other
// threads while devices open and close. Lock order, never taken the other
// way round:
//   set-up lock -> slot lock -> a record's consumer lock -> its callback's
//   frame lock.
// The callback's frame lock is never held while waiting. GetPixels holds
// the consumer lock across its wait of at most 1000 ms; close wakes that
// wait without taking the consumer lock first. The watchdog in hasNewFrame
// holds no consumer lock when it reopens the device.
// May include: the C++ standard library, platform/. No Qt.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/print_sink.h"
#include "capture/video_device.h"
#include "platform/media/capture_interfaces.h"

class VideoInput {
public:
    static constexpr int kMaxDevices = 20;

    VideoInput();
    ~VideoInput();
    VideoInput(const VideoInput&) = delete;
    VideoInput& operator=(const VideoInput&) = delete;

    // --- Library-wide -----------------------------------------------------

    // Sets `verbose` (on by default).
    static void setLogging(bool on);
    // Where the library's console lines go (standard output by default).
    static CapturePrintSink setPrintSink(CapturePrintSink sink);
    // Number of devices; fills the friendly-name table (at most 20 names);
    // prints a listing unless silent.
    static int enumerateDevices(bool silent = false);
    // The name enumerateDevices stored for index 0 to 19 (empty when none),
    // else null.
    static const char* getFriendlyName(int index);
    // COM for the library's users: the first user initialises COM on its
    // thread; releaseCom answers true when it uninitialised it.
    static bool acquireCom();
    static bool releaseCom();

    // Callback mode (true, the default) or buffered mode; only before the
    // first set-up, and only once.
    void setUseCallback(bool callbackMode);

    // Devices whose property bag can be bound, silently.
    int countDevices();

    // --- Format lists (open devices only) ----------------------------------

    int getFormatCount(int index);
    bool getFormatWidths(int index, std::vector<int>& out);
    bool getFormatHeights(int index, std::vector<int>& out);
    bool getFormatNames(int index, std::vector<std::string>& out);

    // --- Set-up and tear-down ----------------------------------------------

    bool openDevice(int index);
    bool openDevice(int index, int connection);
    bool openDevice(int index, int w, int h);
    bool openDevice(int index, int w, int h, int connection);
    // Before opening: frames per second (> 0).
    void setFrameRate(int index, int framesPerSecond);
    // Replaces the record by a fresh one; a consumer waiting on the old one
    // returns false at once.
    void closeDevice(int index);
    // Closes and opens again with the delivered size and previous settings.
    bool reopenDevice(int index);

    // --- Frame delivery -----------------------------------------------------

    bool isDeviceOpen(int index);
    int getFrameWidth(int index);
    int getFrameHeight(int index);
    int getFrameSize(int index);
    // Whether a frame waits (always true in buffered mode). Also the frozen
    // device watchdog when freeze recovery is on.
    bool hasNewFrame(int index);
    // Copies one frame (getFrameSize bytes) into dst; waits up to 1000 ms
    // for it in callback mode.
    bool GetPixels(int index, unsigned char* dst, bool swapRedBlue, bool flipVertical);
    // The same, refusing (false, nothing written) unless dstBytes equals the
    // device's current frame size: safe when a reopen changed the size.
    bool GetPixels(int index, unsigned char* dst, size_t dstBytes, bool swapRedBlue,
                   bool flipVertical);
    // The capture time of the frame that the calling thread took last from
    // this device with GetPixels or getPixelBuffer, as a performance-counter
    // count (QueryPerformanceCounter): the driver's monotonic buffer stamp,
    // else the time the buffer was dequeued. Kept per consumer thread, so
    // two consumers of one device each read their own frame's time. -1
    // before the thread took a frame, after a GetPixels that took none, in
    // buffered mode, and for an index out of range.
    LONGLONG getFrameTimestamp(int index);
    // GetPixels into the record's own buffer. The pointer stays valid until
    // the next close or reopen of that index; null if the device is not open.
    unsigned char* getPixelBuffer(int index, bool swapRedBlue, bool flipVertical);
    // Freeze watchdog: reopen after `threshold` polls without a frame.
    void setFreezeRecovery(int index, bool enable, int threshold);

    // rowBytes = width * 3; source and destination do not overlap.
    static void convertFrame(const unsigned char* src, unsigned char* dst, int width, int height,
                             bool swapRedBlue, bool flipVertical);

    // --- Settings (open devices only) --------------------------------------

    bool getProcAmpSetting(int index, LONG property, LONG& min, LONG& max, LONG& step,
                           LONG& current, LONG& flags, LONG& defaultValue);
    bool setProcAmpSetting(int index, LONG property, LONG value, LONG flags, bool useDefault);
    bool setProcAmpSettingPct(int index, LONG property, float pctValue, LONG flags);
    bool getCameraSetting(int index, LONG property, LONG& min, LONG& max, LONG& step, LONG& current,
                          LONG& flags, LONG& defaultValue);
    bool setCameraSetting(int index, LONG property, LONG value, LONG flags, bool useDefault);
    bool setCameraSettingPct(int index, LONG property, float pctValue, LONG flags);
    // Standard index 0 to 17 of analogStandards.
    bool setAnalogStandard(int index, int standardIndex);
    // Shows the driver's property pages on a thread of its own; returns at
    // once.
    void openSettingsDialog(int index);

    // --- Property identifiers for the settings -----------------------------

    int32_t idBrightness, idContrast, idHue, idSaturation, idSharpness, idGamma, idColorEnable,
        idWhiteBalance, idBacklightCompensation, idGain;
    int32_t idPan, idTilt, idRoll, idZoom, idExposure, idIris, idFocus;

    // Name of a subtype: a row of the trial table, else "OTHER" (8 bytes).
    void subtypeName(const GUID& subtype, char out[8]) const;

private:
    // The record of a slot (never null), under the slot lock.
    std::shared_ptr<VideoDevice> record(int index);
    // The record of an index that may be read, or null (0 <= index <
    // min(deviceCount, 20)).
    std::shared_ptr<VideoDevice> readable(int index);
    // The record, when it is open.
    std::shared_ptr<VideoDevice> openRecord(int index);

    void setRequestedSize(int index, int w, int h);
    void setConnection(int index, int connection);
    bool prepareDevice(int index);
    // The openDevice forms: the size (w, h) and the connection when given.
    bool openWith(int index, const int* pSize, const int* pConnection);
    HRESULT buildCaptureGraph(int index, VideoDevice& device);
    HRESULT getDevice(CComRef<IBaseFilter>* pFilter, int index, wchar_t* wideName,
                      char* narrowName);
    HRESULT selectCrossbarInput(ICaptureGraphBuilder2* builder, IBaseFilter* source,
                                int32_t physicalType, const GUID& pinCategory);
    // Reopen from the watchdog: skipped when the slot no longer holds
    // `polled` (another consumer reopened it first).
    bool reopenIfCurrent(int index, const std::shared_ptr<VideoDevice>& polled);
    bool grabFrame(const std::shared_ptr<VideoDevice>& device, unsigned char* dst, bool swapRedBlue,
                   bool flipVertical);

    // Format negotiation.
    bool chooseSize(VideoDevice& device, int32_t defaultW, int32_t defaultH);
    bool applyFormat(VideoDevice& device, int32_t w, int32_t h, const GUID& subtype);
    void searchNearestSize(VideoDevice& device, int32_t w, int32_t h, int32_t* pW, int32_t* pH,
                           GUID* pSubtype);
    void collectFormats(VideoDevice& device);

    template <class Control>
    bool getSetting(int index, LONG property, LONG& min, LONG& max, LONG& step, LONG& current,
                    LONG& flags, LONG& defaultValue, bool cameraFamily);
    template <class Control>
    bool setSetting(int index, LONG property, LONG value, LONG flags, bool useDefault,
                    bool cameraFamily);
    bool setSettingPct(int index, LONG property, float pctValue, LONG flags, bool cameraFamily);

    static HRESULT showFilterProperties(IBaseFilter* filter);
    static void settingsThread(void* pFilter);

    std::atomic<int32_t> m_deviceCount{0};
    std::atomic<int32_t> m_callbackModeLocked{0};
    std::atomic<bool> m_useCallback{true};

    GUID m_subtypeY800, m_subtypeY8, m_subtypeGREY;
    std::array<GUID, 18> m_trialSubtypes;
    std::array<int32_t, 18> m_analogStandards;

    // Held over open, close, reopen, settings and enumeration; recursive
    // because a reopen closes and opens, and a failed set-up closes.
    std::recursive_mutex m_setupLock;
    // Guards m_devices (the pointers; each record guards itself).
    std::mutex m_slotLock;
    std::array<std::shared_ptr<VideoDevice>, kMaxDevices> m_devices;
};
