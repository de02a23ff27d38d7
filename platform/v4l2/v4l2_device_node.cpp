#include "platform/v4l2/v4l2_device_node.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <cstring>

#include "platform/win/time_services.h"

namespace {

v4l2_format CaptureFormat() {
    v4l2_format f;
    std::memset(&f, 0, sizeof(f));
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    return f;
}

SRawFrameLayout LayoutOf(const v4l2_pix_format& p) {
    SRawFrameLayout l;
    l.dwFourcc = p.pixelformat;
    l.nWidth = p.width;
    l.nHeight = p.height;
    l.nBytesPerLine = p.bytesperline;
    l.nSizeImage = p.sizeimage;
    return l;
}

// A V4L2 time per frame (seconds as a fraction) in 100-ns units, rounded
// down; 0 for an empty fraction.
int64_t FractTo100ns(const v4l2_fract& t) {
    return t.denominator ? int64_t{t.numerator} * 10000000 / t.denominator : 0;
}

}  // namespace

V4l2DeviceNode::V4l2DeviceNode(std::string path, std::unique_ptr<V4l2Io> io)
    : m_Path(std::move(path)), m_Io(std::move(io)) {}

V4l2DeviceNode::~V4l2DeviceNode() { stop(); }

int V4l2DeviceNode::ioctl(unsigned long request, void* arg) {
    const int rc = m_Io->ioctl(request, arg);
    if (rc == -ENODEV) m_bLost = true;
    return rc;
}

bool V4l2DeviceNode::onStreamingThread() const {
    return m_StreamingId.load() == std::this_thread::get_id();
}

int V4l2DeviceNode::currentFormat(v4l2_pix_format* pFormat) {
    std::lock_guard<std::mutex> lock(m_Lock);
    v4l2_format f = CaptureFormat();
    const int rc = ioctl(VIDIOC_G_FMT, &f);
    if (rc == 0) *pFormat = f.fmt.pix;
    return rc;
}

std::vector<uint32_t> V4l2DeviceNode::pixelFormats() {
    std::vector<uint32_t> codes;
    for (uint32_t i = 0; i < 256; ++i) {
        v4l2_fmtdesc d;
        std::memset(&d, 0, sizeof(d));
        d.index = i;
        d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (ioctl(VIDIOC_ENUM_FMT, &d) != 0) break;
        codes.push_back(d.pixelformat);
    }
    return codes;
}

std::vector<V4l2SizeEntry> V4l2DeviceNode::sizeEntries() {
    std::vector<V4l2SizeEntry> entries;
    v4l2_pix_format cur{};
    const bool bHaveCurrent = currentFormat(&cur) == 0;
    for (uint32_t code : pixelFormats()) {
        bool bAny = false;
        for (uint32_t i = 0; i < 4096; ++i) {
            v4l2_frmsizeenum s;
            std::memset(&s, 0, sizeof(s));
            s.index = i;
            s.pixel_format = code;
            if (ioctl(VIDIOC_ENUM_FRAMESIZES, &s) != 0) break;
            V4l2SizeEntry e;
            e.fourcc = code;
            e.type = s.type;
            if (s.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                e.minWidth = e.maxWidth = s.discrete.width;
                e.minHeight = e.maxHeight = s.discrete.height;
            } else {
                e.minWidth = s.stepwise.min_width, e.maxWidth = s.stepwise.max_width;
                e.minHeight = s.stepwise.min_height, e.maxHeight = s.stepwise.max_height;
                const bool cont = s.type == V4L2_FRMSIZE_TYPE_CONTINUOUS;
                e.stepWidth = cont ? 1 : s.stepwise.step_width;
                e.stepHeight = cont ? 1 : s.stepwise.step_height;
            }
            entries.push_back(e);
            bAny = true;
            if (s.type != V4L2_FRMSIZE_TYPE_DISCRETE) break;
        }
        if (!bAny && bHaveCurrent) {
            // No size list: the one size we know is the current one.
            V4l2SizeEntry e;
            e.fourcc = code;
            e.minWidth = e.maxWidth = cur.width;
            e.minHeight = e.maxHeight = cur.height;
            entries.push_back(e);
        }
    }
    return entries;
}

int V4l2DeviceNode::ensureUsableFormat(const std::function<bool(uint32_t)>& usable) {
    v4l2_pix_format cur{};
    int rc = currentFormat(&cur);
    if (rc != 0) return rc;
    if (usable(cur.pixelformat)) return 0;
    for (uint32_t code : pixelFormats()) {
        if (!usable(code)) continue;
        std::lock_guard<std::mutex> lock(m_Lock);
        v4l2_format f = CaptureFormat();
        f.fmt.pix.pixelformat = code;
        f.fmt.pix.width = cur.width;
        f.fmt.pix.height = cur.height;
        f.fmt.pix.field = V4L2_FIELD_NONE;
        // The driver picks its nearest size when the current one is not
        // offered in this code; that is the code's own size then.
        rc = ioctl(VIDIOC_S_FMT, &f);
        if (rc == 0 && f.fmt.pix.pixelformat == code) return 0;
        if (rc == -EBUSY || rc == -ENODEV) return rc;
    }
    return -EINVAL;
}

int V4l2DeviceNode::setFormatExact(uint32_t fourcc, uint32_t width, uint32_t height) {
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_State != State::Stopped) return -EBUSY;
    v4l2_format prev = CaptureFormat();
    int rc = ioctl(VIDIOC_G_FMT, &prev);
    if (rc != 0) return rc;
    v4l2_format f = CaptureFormat();
    f.fmt.pix.pixelformat = fourcc;
    f.fmt.pix.width = width;
    f.fmt.pix.height = height;
    f.fmt.pix.field = V4L2_FIELD_NONE;
    rc = ioctl(VIDIOC_S_FMT, &f);
    if (rc != 0) return rc;
    if (f.fmt.pix.pixelformat == fourcc && f.fmt.pix.width == width && f.fmt.pix.height == height) {
        return 0;
    }
    // The driver adjusted the request: put back what was there.
    ioctl(VIDIOC_S_FMT, &prev);
    return -EINVAL;
}

int64_t V4l2DeviceNode::frameInterval100ns() {
    v4l2_streamparm p;
    std::memset(&p, 0, sizeof(p));
    p.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (ioctl(VIDIOC_G_PARM, &p) != 0) return 0;
    if (!(p.parm.capture.capability & V4L2_CAP_TIMEPERFRAME)) return 0;
    return FractTo100ns(p.parm.capture.timeperframe);
}

bool V4l2DeviceNode::frameIntervalRange(const V4l2SizeEntry& entry, int64_t* pMin, int64_t* pMax) {
    int64_t lo = INT64_MAX, hi = 0;
    auto listAt = [&](uint32_t width, uint32_t height) {
        // Drivers answer EINVAL past the last entry; a stepwise or continuous
        // range is entry 0 alone. The bound only guards against a driver
        // that never says the list ended.
        for (uint32_t i = 0; i < 1024; ++i) {
            v4l2_frmivalenum iv;
            std::memset(&iv, 0, sizeof(iv));
            iv.index = i;
            iv.pixel_format = entry.fourcc;
            iv.width = width;
            iv.height = height;
            if (ioctl(VIDIOC_ENUM_FRAMEINTERVALS, &iv) != 0) return;
            int64_t a, b;
            if (iv.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
                a = b = FractTo100ns(iv.discrete);
            } else {
                a = FractTo100ns(iv.stepwise.min);
                b = FractTo100ns(iv.stepwise.max);
            }
            if (a > 0) lo = std::min(lo, a);
            hi = std::max(hi, b);
            if (iv.type != V4L2_FRMIVAL_TYPE_DISCRETE) return;
        }
    };
    listAt(entry.maxWidth, entry.maxHeight);
    if (entry.minWidth != entry.maxWidth || entry.minHeight != entry.maxHeight) {
        listAt(entry.minWidth, entry.minHeight);
    }
    if (hi == 0 || lo == INT64_MAX) return false;
    *pMin = lo;
    *pMax = std::max(lo, hi);
    return true;
}

int V4l2DeviceNode::setFrameInterval100ns(int64_t interval) {
    if (interval <= 0) return -EINVAL;
    std::lock_guard<std::mutex> lock(m_Lock);
    v4l2_streamparm p;
    std::memset(&p, 0, sizeof(p));
    p.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    int rc = ioctl(VIDIOC_G_PARM, &p);
    if (rc != 0) return rc;
    if (!(p.parm.capture.capability & V4L2_CAP_TIMEPERFRAME)) return 0;
    p.parm.capture.timeperframe.numerator =
        static_cast<uint32_t>(std::min<int64_t>(interval, UINT32_MAX));
    p.parm.capture.timeperframe.denominator = 10000000;
    return ioctl(VIDIOC_S_PARM, &p);
}

int V4l2DeviceNode::prepareBuffersLocked() {
    v4l2_format f = CaptureFormat();
    int rc = ioctl(VIDIOC_G_FMT, &f);
    if (rc != 0) return rc;
    m_Layout = LayoutOf(f.fmt.pix);
    v4l2_requestbuffers req;
    std::memset(&req, 0, sizeof(req));
    req.count = kBufferCount;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    rc = ioctl(VIDIOC_REQBUFS, &req);
    if (rc != 0) return rc;
    if (req.count == 0) return -ENOMEM;
    for (uint32_t i = 0; i < req.count; ++i) {
        v4l2_buffer b;
        std::memset(&b, 0, sizeof(b));
        b.index = i;
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        rc = ioctl(VIDIOC_QUERYBUF, &b);
        void* p = rc == 0 ? m_Io->map(b.length, b.m.offset) : nullptr;
        if (!p) {
            releaseBuffersLocked();
            return rc ? rc : -ENOMEM;
        }
        m_Buffers.push_back(Buffer{p, b.length});
    }
    return 0;
}

void V4l2DeviceNode::releaseBuffersLocked() {
    for (Buffer& b : m_Buffers) m_Io->unmap(b.data, b.length);
    m_Buffers.clear();
    v4l2_requestbuffers req;
    std::memset(&req, 0, sizeof(req));
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    ioctl(VIDIOC_REQBUFS, &req);
}

int V4l2DeviceNode::streamOnLocked() {
    for (uint32_t i = 0; i < m_Buffers.size(); ++i) {
        v4l2_buffer b;
        std::memset(&b, 0, sizeof(b));
        b.index = i;
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        const int rc = ioctl(VIDIOC_QBUF, &b);
        if (rc != 0) return rc;
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    const int rc = ioctl(VIDIOC_STREAMON, &type);
    if (rc != 0) {
        ioctl(VIDIOC_STREAMOFF, &type);  // returns the queued buffers
        return rc;
    }
    m_bStop = false;
    try {
        m_Thread = std::thread([this] { threadProc(); });
    } catch (const std::system_error&) {
        ioctl(VIDIOC_STREAMOFF, &type);
        return -EAGAIN;
    }
    return 0;
}

void V4l2DeviceNode::streamOffLocked() {
    if (m_Thread.joinable()) {
        m_bStop = true;
        m_Io->wake();
        m_Thread.join();
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ioctl(VIDIOC_STREAMOFF, &type);
}

int V4l2DeviceNode::start(V4l2FrameSink* pSink) {
    if (onStreamingThread()) return -EDEADLK;
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_State == State::Running) return 0;
    if (m_bLost) return -ENODEV;
    if (m_State == State::Stopped) {
        const int rc = prepareBuffersLocked();
        if (rc != 0) return rc;
    }
    m_pSink = pSink;
    const int rc = streamOnLocked();
    if (rc != 0) {
        releaseBuffersLocked();
        m_State = State::Stopped;
        return rc;
    }
    m_State = State::Running;
    return 0;
}

int V4l2DeviceNode::pause() {
    if (onStreamingThread()) return -EDEADLK;
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_State != State::Running) return 0;
    streamOffLocked();
    m_State = State::Paused;
    return 0;
}

int V4l2DeviceNode::stop() {
    if (onStreamingThread()) return -EDEADLK;
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_State == State::Stopped) return 0;
    streamOffLocked();
    releaseBuffersLocked();
    m_pSink = nullptr;
    m_State = State::Stopped;
    return 0;
}

int V4l2DeviceNode::currentInput(v4l2_input* pInput) {
    int index = 0;
    int rc = ioctl(VIDIOC_G_INPUT, &index);
    if (rc != 0) return rc;
    std::memset(pInput, 0, sizeof(*pInput));
    pInput->index = static_cast<uint32_t>(index);
    return ioctl(VIDIOC_ENUMINPUT, pInput);
}

int V4l2DeviceNode::setInput(uint32_t index) {
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_State != State::Stopped) return -EBUSY;
    int i = static_cast<int>(index);
    return ioctl(VIDIOC_S_INPUT, &i);
}

int V4l2DeviceNode::setStandard(v4l2_std_id std) {
    if (onStreamingThread()) return -EDEADLK;
    std::lock_guard<std::mutex> lock(m_Lock);
    v4l2_std_id old = 0;
    int rc = ioctl(VIDIOC_G_STD, &old);
    if (rc != 0) return rc;
    v4l2_format prev = CaptureFormat();
    rc = ioctl(VIDIOC_G_FMT, &prev);
    if (rc != 0) return rc;
    // V4L2 refuses a standard while buffers exist: take the stream down,
    // keeping what it was, and bring it back as it was.
    const State was = m_State;
    if (was == State::Running) streamOffLocked();
    if (was != State::Stopped) releaseBuffersLocked();
    rc = ioctl(VIDIOC_S_STD, &std);
    if (rc == 0) {
        v4l2_format now = CaptureFormat();
        rc = ioctl(VIDIOC_G_FMT, &now);
        if (rc == 0 && (now.fmt.pix.width != prev.fmt.pix.width ||
                        now.fmt.pix.height != prev.fmt.pix.height)) {
            rc = -ERANGE;
        }
        if (rc == 0) {
            v4l2_format same = prev;
            rc = ioctl(VIDIOC_S_FMT, &same);
            if (rc == 0 && (same.fmt.pix.width != prev.fmt.pix.width ||
                            same.fmt.pix.height != prev.fmt.pix.height)) {
                rc = -ERANGE;
            }
        }
        if (rc != 0) {
            ioctl(VIDIOC_S_STD, &old);
            v4l2_format back = prev;
            ioctl(VIDIOC_S_FMT, &back);
        }
    }
    int rcRestore = 0;
    if (was != State::Stopped) rcRestore = prepareBuffersLocked();
    if (rcRestore == 0 && was == State::Running) rcRestore = streamOnLocked();
    if (rcRestore != 0) {
        if (!m_Buffers.empty()) releaseBuffersLocked();
        m_State = State::Stopped;
        return rc != 0 ? rc : rcRestore;
    }
    return rc;
}

int64_t BufferCaptureCount(const v4l2_buffer& b, int64_t nDequeueCount) {
    // Only a monotonic stamp shares the performance counter's clock; a
    // driver stamping with another clock (or none) is timed at dequeue.
    if ((b.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) != V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC)
        return nDequeueCount;
    if (b.timestamp.tv_sec < 0 || b.timestamp.tv_usec < 0 || b.timestamp.tv_usec >= 1000000)
        return nDequeueCount;
    return static_cast<int64_t>(b.timestamp.tv_sec) * 10000000 +
           static_cast<int64_t>(b.timestamp.tv_usec) * 10;
}

void V4l2DeviceNode::threadProc() {
    m_StreamingId = std::this_thread::get_id();
    bool bHaveFirst = false;
    std::chrono::steady_clock::time_point tFirst;
    // A frame shorter than its format needs is dropped (a compressed one
    // needs at least one byte).
    uint32_t nNeeded = 1;
    if (!IsCompressedFourcc(m_Layout.dwFourcc)) {
        nNeeded = RawSizeImage(m_Layout.dwFourcc, m_Layout.nWidth, m_Layout.nHeight,
                               m_Layout.nBytesPerLine);
        if (nNeeded == 0) nNeeded = m_Layout.nSizeImage;
    }
    while (!m_bStop) {
        const V4l2Io::WaitResult w = m_Io->waitReadable(kWaitSliceMs);
        if (w == V4l2Io::WaitResult::Lost) {
            m_bLost = true;
            break;
        }
        if (w != V4l2Io::WaitResult::Ready || m_bStop) continue;
        v4l2_buffer b;
        std::memset(&b, 0, sizeof(b));
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        const int rc = ioctl(VIDIOC_DQBUF, &b);
        if (rc == -EAGAIN) continue;
        if (rc == -ENODEV) break;  // marked lost by ioctl()
        if (rc != 0 || b.index >= m_Buffers.size()) continue;
        const bool bUsable = !(b.flags & V4L2_BUF_FLAG_ERROR) && b.bytesused >= nNeeded &&
                             b.bytesused <= m_Buffers[b.index].length;
        if (bUsable && m_pSink) {
            const auto now = std::chrono::steady_clock::now();
            if (!bHaveFirst) tFirst = now, bHaveFirst = true;
            LARGE_INTEGER liDequeued{};
            QueryPerformanceCounter(&liDequeued);
            V4l2Frame frame{static_cast<const uint8_t*>(m_Buffers[b.index].data),
                            b.bytesused,
                            m_Layout,
                            b.sequence,
                            std::chrono::duration<double>(now - tFirst).count(),
                            BufferCaptureCount(b, liDequeued.QuadPart)};
            m_pSink->onFrame(frame);
            m_nDelivered.fetch_add(1);
        }
        if (ioctl(VIDIOC_QBUF, &b) == -ENODEV) break;
    }
    m_StreamingId = std::thread::id{};
}
