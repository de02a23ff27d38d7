// platform/v4l2: VirtualV4l2Device, an emulated V4L2 capture driver, so that
// the whole camera path runs on machines without a camera (tests, CI, and
// anyone who sets PELORA_CAPTURE=virtual).
//
// The device holds the driver state that outlives an open (current format,
// frame interval, input, standard, control values), like a real driver: a
// second open sees what the first one left. open() hands out a V4l2Io
// handle; buffers belong to the handle that requested them and go when it
// closes.
//
// Answered ioctls: QUERYCAP, ENUM_FMT, ENUM_FRAMESIZES, ENUM_FRAMEINTERVALS,
// G/S/TRY_FMT (the size adjusted to the nearest one offered; S_FMT EBUSY
// once buffers exist), G/S_PARM, REQBUFS/QUERYBUF/QBUF/DQBUF (MMAP only),
// STREAMON/STREAMOFF, ENUMINPUT, G/S_INPUT, ENUMSTD, G/S_STD (EBUSY while
// streaming), QUERYCTRL/QUERYMENU/G/S_CTRL. Anything else: -ENOTTY.
//
// Frames: frame n (n counts every frame the device produced, over its whole
// life, and is also the buffer's sequence) is painted by the configured
// painter into the next queued buffer and stamped with CLOCK_MONOTONIC at
// that moment (V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC). Timing is manual (emitFrames) or
// free-running at the frame interval (a generator thread while streaming).
// Faults: freeze (frames stop), a short or ERROR-flagged next buffer,
// unplug (every ioctl answers -ENODEV, waits answer Lost, opens fail).
//
// Threads: every method may be called from any thread; m_Lock guards all
// state, m_cv signals ready buffers, wakes, returned buffers and unplug.
// The painter runs under m_Lock.
// May include: the C++ standard library, platform/win, platform/media,
// linux/videodev2.h. No Qt.
#pragma once

#include <linux/videodev2.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/raw_frame_layout.h"
#include "platform/v4l2/v4l2_io.h"

// Paints frame n into pDst (nCapacity bytes) in the layout; answers the
// bytes used (0: nothing could be painted).
using VirtualPainter = std::function<size_t(uint32_t n, const SRawFrameLayout& layout,
                                            uint8_t* pDst, size_t nCapacity)>;

struct VirtualFrameSizes {
    uint32_t type = V4L2_FRMSIZE_TYPE_DISCRETE;   // DISCRETE, STEPWISE or CONTINUOUS
    std::vector<v4l2_frmsize_discrete> discrete;  // DISCRETE: in listing order
    v4l2_frmsize_stepwise stepwise{};             // STEPWISE and CONTINUOUS
};

struct VirtualFormat {
    uint32_t fourcc = 0;
    VirtualFrameSizes sizes;
    std::vector<v4l2_fract> intervals = {{1, 30}};  // discrete, for every size
    // STEPWISE or CONTINUOUS: ENUM_FRAMEINTERVALS answers intervalRange
    // (min, max, step) instead of the list, and S_PARM keeps a wanted
    // interval within it; the list's first entry is still the one in force
    // at creation.
    uint32_t intervalType = V4L2_FRMIVAL_TYPE_DISCRETE;
    v4l2_frmival_stepwise intervalRange{};
    bool noFrameSizes = false;  // ENUM_FRAMESIZES answers EINVAL (old drivers)
};

struct VirtualInput {
    std::string name = "Camera 1";
    uint32_t type = V4L2_INPUT_TYPE_CAMERA;
    v4l2_std_id std = 0;
    bool capStd = false;  // V4L2_IN_CAP_STD
};

struct VirtualControl {
    uint32_t id = 0;
    uint32_t type = V4L2_CTRL_TYPE_INTEGER;
    int32_t minimum = 0, maximum = 255, step = 1, defaultValue = 128;
    bool disabled = false;
    bool setFails = false;  // S_CTRL answers -setErrno
    int setErrno = EINVAL;
    // The automatic companion (AUTOGAIN for GAIN...): while it is on (a
    // non-zero value; for the EXPOSURE_AUTO menu anything but MANUAL) the
    // control is inactive and S_CTRL answers -EBUSY, as drivers do.
    uint32_t companionId = 0;
};

struct VirtualCameraConfig {
    std::string card = "Pelora Virtual Camera";
    uint32_t capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    bool hasDeviceCaps = true;  // else only `capabilities`, without DEVICE_CAPS
    std::vector<VirtualFormat> formats;
    // Current format at creation (another program may have left it so):
    // need not be one of `formats`' sizes, nor convertible.
    uint32_t fourcc = 0, width = 0, height = 0;
    uint32_t bytesPerLinePadding = 0;
    bool timePerFrame = true;  // V4L2_CAP_TIMEPERFRAME in G_PARM
    std::vector<VirtualInput> inputs = {VirtualInput{}};
    std::vector<VirtualControl> controls;
    // Frame size under each standard (tuner cards): S_STD changes the
    // format's height to 480 for 525-line and 576 for 625-line standards
    // when true.
    bool stdChangesSize = false;
    bool streamOnFails = false;
    bool freeRunning = false;
    // Capture-graph level behaviour the upper layers read from the device.
    int capsRecordSize = 128;
    bool propertyBagFails = false;
    bool nameReadFails = false;
    bool runReportsFalseUntilFirstFrame = false;
};

class VirtualV4l2Device : public std::enable_shared_from_this<VirtualV4l2Device> {
public:
    static std::shared_ptr<VirtualV4l2Device> create(VirtualCameraConfig config,
                                                     VirtualPainter painter);
    ~VirtualV4l2Device();

    const VirtualCameraConfig& config() const { return m_Config; }

    // A new handle, or null with *pErr = errno (ENODEV unplugged, or the
    // configured failure of the next opens).
    std::unique_ptr<V4l2Io> open(int* pErr);
    void failNextOpens(int count, int err);
    int openHandles() const;

    // Manual timing: produces k frames (each into the next queued buffer;
    // frames that find no queued buffer are lost, as with a driver).
    void emitFrames(int k = 1);
    // Waits until `total` buffers in all have been handed back (QBUF of a
    // dequeued buffer) or ms passed; true when they were.
    bool waitReturned(uint64_t total, int ms);
    uint64_t returned() const;
    // Frames produced so far (the next frame's number).
    uint32_t framesProduced() const;

    void freeze(bool frozen);
    void failNextBuffer(bool shortBuffer, bool errorFlag);
    void unplug();
    bool unplugged() const;
    bool streaming() const;

    int32_t controlValue(uint32_t id) const;

private:
    class Handle;
    friend class Handle;

    VirtualV4l2Device(VirtualCameraConfig config, VirtualPainter painter);

    struct Buffer {
        std::unique_ptr<uint8_t[]> data;
        v4l2_buffer info{};
        bool queued = false;
        bool done = false;  // in m_Done
    };

    // All under m_Lock.
    int ioctlLocked(Handle* h, unsigned long request, void* arg);
    int tryFormat(v4l2_format* f) const;
    void fillSizes(v4l2_pix_format* pix) const;
    const VirtualFormat* findFormat(uint32_t fourcc) const;
    VirtualControl* findControl(uint32_t id);
    void produceLocked(int k);
    void releaseBuffersLocked();
    void stopStreamingLocked();
    void generatorLoop();
    SRawFrameLayout layoutLocked() const;

    VirtualCameraConfig m_Config;
    VirtualPainter m_Painter;

    mutable std::mutex m_Lock;  // guards everything below
    std::condition_variable m_cv;
    v4l2_pix_format m_Format{};
    v4l2_fract m_Interval{1, 30};
    uint32_t m_Input = 0;
    v4l2_std_id m_Std = 0;
    std::vector<int32_t> m_ControlValues;
    Handle* m_pOwner = nullptr;  // the handle that holds the buffers
    std::vector<Buffer> m_Buffers;
    std::deque<uint32_t> m_Queued;  // indices, in QBUF order
    std::deque<uint32_t> m_Done;    // ready for DQBUF
    bool m_bStreaming = false;
    uint32_t m_nSequence = 0;
    uint64_t m_nReturned = 0;
    bool m_bFrozen = false;
    bool m_bNextShort = false;
    bool m_bNextError = false;
    bool m_bUnplugged = false;
    int m_nOpenFailures = 0;
    int m_nOpenErrno = 0;
    int m_nHandles = 0;
    // Free-running generator: started by STREAMON, stopped by STREAMOFF.
    std::thread m_Generator;
    bool m_bGeneratorStop = false;
};
