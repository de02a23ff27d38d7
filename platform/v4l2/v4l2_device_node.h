// platform/v4l2: V4l2DeviceNode, one opened video node, shared by every
// filter bound to its path in this process (V4l2Catalogue hands it out).
//
// The node owns the device handle, the mapped buffers and the streaming
// thread, and does the V4L2 side of every camera operation: formats and
// their negotiation, frame interval, run / pause / stop, inputs, standards
// and controls. A second filter bound to the same path (the settings
// operations bind a fresh one) reaches the same node, so it sees and
// changes the streaming device.
//
// Streaming: start() requests 4 MMAP buffers, maps and queues them, turns
// the stream on and starts the streaming thread. The thread waits for a
// ready buffer in slices of kWaitSliceMs (so it sees its stop request even
// if the device never delivers), dequeues it, hands a frame of at least the
// format's size and without the ERROR flag to the sink, and queues the
// buffer again. A device that reports POLLERR or ENODEV is marked lost and
// the thread ends (no busy loop); stop() still returns at once.
// pause() ends delivery and turns the stream off but keeps the buffers;
// stop() also unmaps and frees them.
//
// Threads and locks: m_Lock (the control lock) serialises start, pause,
// stop, format, interval, input and standard changes; it is never taken by
// the streaming thread. Controls go straight to the handle (the boundary is
// safe from two threads). The buffers, the sink and the layout change only
// while the thread is not running, so the thread reads them without a lock.
// Calls that would wait for the streaming thread (stop, pause, a standard
// change) made on the streaming thread itself answer -EDEADLK.
// May include: the C++ standard library, platform/win, platform/media,
// platform/v4l2, linux/videodev2.h. No Qt.
#pragma once

#include <linux/videodev2.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/raw_frame_layout.h"
#include "platform/v4l2/v4l2_io.h"

struct V4l2Frame {
    const uint8_t* data;  // the driver's buffer, valid during onFrame only
    uint32_t bytesUsed;
    SRawFrameLayout layout;
    uint32_t sequence;
    double seconds;  // since the first buffer of this run
    // Capture time as a performance-counter count (100 ns, CLOCK_MONOTONIC):
    // the buffer's timestamp when the driver stamps with the monotonic
    // clock, else the moment the buffer was dequeued.
    int64_t captureCount;
};

// The capture time of a dequeued buffer (see V4l2Frame::captureCount);
// nDequeueCount is the counter read when it was dequeued.
int64_t BufferCaptureCount(const v4l2_buffer& b, int64_t nDequeueCount);

// Receives frames on the streaming thread.
class V4l2FrameSink {
public:
    virtual void onFrame(const V4l2Frame& frame) = 0;

protected:
    ~V4l2FrameSink() = default;
};

// One entry of the capability list: a pixel code and one frame size entry.
struct V4l2SizeEntry {
    uint32_t fourcc = 0;
    uint32_t type = V4L2_FRMSIZE_TYPE_DISCRETE;
    uint32_t minWidth = 0, maxWidth = 0, stepWidth = 1;
    uint32_t minHeight = 0, maxHeight = 0, stepHeight = 1;
};

class V4l2DeviceNode {
public:
    enum class State { Stopped, Paused, Running };
    static constexpr int kWaitSliceMs = 100;
    static constexpr uint32_t kBufferCount = 4;

    V4l2DeviceNode(std::string path, std::unique_ptr<V4l2Io> io);
    ~V4l2DeviceNode();
    V4l2DeviceNode(const V4l2DeviceNode&) = delete;
    V4l2DeviceNode& operator=(const V4l2DeviceNode&) = delete;

    const std::string& path() const { return m_Path; }
    // Any thread: an ioctl on the device (-ENODEV marks it lost).
    int ioctl(unsigned long request, void* arg);
    bool lost() const { return m_bLost.load(); }
    State state() const { return m_State.load(); }

    // Formats. Any thread (control lock).
    int currentFormat(v4l2_pix_format* pFormat);
    std::vector<uint32_t> pixelFormats();
    // One entry per (ENUM_FMT x ENUM_FRAMESIZES entry) in driver order; a
    // code without frame sizes gets one discrete entry at the current size
    // when it is the current code, else none... at the current size too.
    std::vector<V4l2SizeEntry> sizeEntries();
    // When the current code fails `usable`, sets the first usable code in
    // ENUM_FMT order at the current size (else its first size). 0, or
    // -EINVAL when no code is usable.
    int ensureUsableFormat(const std::function<bool(uint32_t)>& usable);
    // Sets exactly this code and size: 0; -EINVAL when the driver adjusted
    // anything (the previous format is restored); -EBUSY while buffers
    // exist.
    int setFormatExact(uint32_t fourcc, uint32_t width, uint32_t height);
    // G_PARM's time per frame in 100-ns units (0 when the driver has none).
    int64_t frameInterval100ns();
    // The shortest and longest frame interval (100-ns units) that
    // ENUM_FRAMEINTERVALS lists for the entry's code: at its size, and for
    // stepwise or continuous sizes at both its smallest and largest size
    // (the range covers both). Discrete lists give their minimum and
    // maximum, stepwise and continuous ranges their ends. False, with the
    // outputs untouched, when the driver lists none.
    bool frameIntervalRange(const V4l2SizeEntry& entry, int64_t* pMin, int64_t* pMax);
    // S_PARM when the driver has TIMEPERFRAME; its adjusted value stands.
    int setFrameInterval100ns(int64_t interval);

    // Streaming. Graph thread.
    int start(V4l2FrameSink* pSink);
    int pause();
    int stop();

    // Inputs and standards. Any thread (control lock).
    int currentInput(v4l2_input* pInput);
    int setInput(uint32_t index);  // only while stopped (-EBUSY)
    // Sets the standard, stopping and restarting the stream around it; if
    // the driver would change the frame size, restores the old standard and
    // answers -ERANGE.
    int setStandard(v4l2_std_id std);

    // Buffers handed to the sink since the node was made (tests, bench).
    uint64_t framesDelivered() const { return m_nDelivered.load(); }

private:
    struct Buffer {
        void* data = nullptr;
        size_t length = 0;
    };

    int prepareBuffersLocked();   // REQBUFS + QUERYBUF + map
    void releaseBuffersLocked();  // unmap + REQBUFS(0)
    int streamOnLocked();         // QBUF all, STREAMON, thread
    void streamOffLocked();       // stop thread, STREAMOFF
    bool onStreamingThread() const;
    void threadProc();

    const std::string m_Path;
    const std::unique_ptr<V4l2Io> m_Io;

    std::mutex m_Lock;  // the control lock: guards the fields below up to m_Thread
    std::vector<Buffer> m_Buffers;
    SRawFrameLayout m_Layout;
    V4l2FrameSink* m_pSink = nullptr;
    std::thread m_Thread;

    std::atomic<State> m_State{State::Stopped};  // written under m_Lock
    std::atomic<bool> m_bStop{false};            // set under m_Lock, read by the thread
    std::atomic<bool> m_bLost{false};
    std::atomic<std::thread::id> m_StreamingId{};
    std::atomic<uint64_t> m_nDelivered{0};
};
