#include "platform/v4l2/virtual_v4l2_device.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr uint32_t kMaxBuffers = 32;

void CopyName(uint8_t* pDst, size_t cb, const std::string& s) {
    std::memset(pDst, 0, cb);
    std::memcpy(pDst, s.data(), std::min(cb - 1, s.size()));
}

uint32_t Nearest(uint32_t v, uint32_t lo, uint32_t hi, uint32_t step) {
    v = std::clamp(v, lo, hi);
    if (step <= 1) return v;
    const uint32_t k = (v - lo + step / 2) / step;
    return std::min(lo + k * step, hi - (hi - lo) % step);
}

}  // namespace

// One open of the device. Forwards to the device under its lock.
class VirtualV4l2Device::Handle final : public V4l2Io {
public:
    explicit Handle(std::shared_ptr<VirtualV4l2Device> dev) : m_Dev(std::move(dev)) {}
    ~Handle() override {
        std::thread toJoin;
        {
            std::lock_guard<std::mutex> lock(m_Dev->m_Lock);
            if (m_Dev->m_pOwner == this) {
                m_Dev->stopStreamingLocked();
                toJoin = std::move(m_Dev->m_Generator);
                m_Dev->releaseBuffersLocked();
            }
            --m_Dev->m_nHandles;
        }
        if (toJoin.joinable()) toJoin.join();
    }

    int ioctl(unsigned long request, void* arg) override {
        std::thread toJoin;
        int rc;
        {
            std::lock_guard<std::mutex> lock(m_Dev->m_Lock);
            rc = m_Dev->ioctlLocked(this, request, arg);
            if (!m_Dev->m_bStreaming && m_Dev->m_Generator.joinable()) {
                toJoin = std::move(m_Dev->m_Generator);
            }
        }
        if (toJoin.joinable()) toJoin.join();
        return rc;
    }

    void* map(size_t length, uint32_t offset) override {
        std::lock_guard<std::mutex> lock(m_Dev->m_Lock);
        if (m_Dev->m_bUnplugged || m_Dev->m_pOwner != this) return nullptr;
        for (Buffer& b : m_Dev->m_Buffers) {
            if (b.info.m.offset == offset && length <= b.info.length) {
                ++m_nMapped;
                return b.data.get();
            }
        }
        return nullptr;
    }

    void unmap(void* p, size_t) override {
        std::lock_guard<std::mutex> lock(m_Dev->m_Lock);
        if (p && m_nMapped > 0) --m_nMapped;
    }

    WaitResult waitReadable(int ms) override {
        std::unique_lock<std::mutex> lock(m_Dev->m_Lock);
        const bool bReady = m_Dev->m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            return m_bWoken || m_Dev->m_bUnplugged || !m_Dev->m_Done.empty();
        });
        if (m_Dev->m_bUnplugged) return WaitResult::Lost;
        if (m_bWoken) {
            m_bWoken = false;
            return WaitResult::Woken;
        }
        return bReady ? WaitResult::Ready : WaitResult::Timeout;
    }

    void wake() override {
        {
            std::lock_guard<std::mutex> lock(m_Dev->m_Lock);
            m_bWoken = true;
        }
        m_Dev->m_cv.notify_all();
    }

    int mapped() const { return m_nMapped; }  // under the device lock

private:
    std::shared_ptr<VirtualV4l2Device> m_Dev;
    bool m_bWoken = false;  // under the device's m_Lock
    int m_nMapped = 0;      // under the device's m_Lock
};

std::shared_ptr<VirtualV4l2Device> VirtualV4l2Device::create(VirtualCameraConfig config,
                                                             VirtualPainter painter) {
    return std::shared_ptr<VirtualV4l2Device>(
        new VirtualV4l2Device(std::move(config), std::move(painter)));
}

VirtualV4l2Device::VirtualV4l2Device(VirtualCameraConfig config, VirtualPainter painter)
    : m_Config(std::move(config)), m_Painter(std::move(painter)) {
    m_Format.pixelformat = m_Config.fourcc;
    m_Format.width = m_Config.width;
    m_Format.height = m_Config.height;
    if (!m_Format.pixelformat && !m_Config.formats.empty()) {
        const VirtualFormat& f = m_Config.formats.front();
        m_Format.pixelformat = f.fourcc;
        if (f.sizes.type == V4L2_FRMSIZE_TYPE_DISCRETE && !f.sizes.discrete.empty()) {
            m_Format.width = f.sizes.discrete.front().width;
            m_Format.height = f.sizes.discrete.front().height;
        } else {
            m_Format.width = f.sizes.stepwise.max_width;
            m_Format.height = f.sizes.stepwise.max_height;
        }
    }
    m_Format.field = V4L2_FIELD_NONE;
    m_Format.colorspace = V4L2_COLORSPACE_SMPTE170M;
    fillSizes(&m_Format);
    if (const VirtualFormat* f = findFormat(m_Format.pixelformat); f && !f->intervals.empty()) {
        m_Interval = f->intervals.front();
    }
    if (!m_Config.inputs.empty())
        m_Std = m_Config.inputs.front().std & -m_Config.inputs.front().std;
    for (const VirtualControl& c : m_Config.controls) m_ControlValues.push_back(c.defaultValue);
}

VirtualV4l2Device::~VirtualV4l2Device() {
    std::thread toJoin;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        stopStreamingLocked();
        toJoin = std::move(m_Generator);
    }
    if (toJoin.joinable()) toJoin.join();
}

std::unique_ptr<V4l2Io> VirtualV4l2Device::open(int* pErr) {
    std::lock_guard<std::mutex> lock(m_Lock);
    int err = 0;
    if (m_bUnplugged) {
        err = ENODEV;
    } else if (m_nOpenFailures > 0) {
        --m_nOpenFailures;
        err = m_nOpenErrno;
    }
    if (err) {
        if (pErr) *pErr = err;
        return nullptr;
    }
    ++m_nHandles;
    return std::make_unique<Handle>(shared_from_this());
}

void VirtualV4l2Device::failNextOpens(int count, int err) {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_nOpenFailures = count;
    m_nOpenErrno = err;
}

int VirtualV4l2Device::openHandles() const {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_nHandles;
}

void VirtualV4l2Device::emitFrames(int k) {
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        produceLocked(k);
    }
    m_cv.notify_all();
}

bool VirtualV4l2Device::waitReturned(uint64_t total, int ms) {
    std::unique_lock<std::mutex> lock(m_Lock);
    return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_nReturned >= total; });
}

uint64_t VirtualV4l2Device::returned() const {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_nReturned;
}

uint32_t VirtualV4l2Device::framesProduced() const {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_nSequence;
}

void VirtualV4l2Device::freeze(bool frozen) {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bFrozen = frozen;
}

void VirtualV4l2Device::failNextBuffer(bool shortBuffer, bool errorFlag) {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bNextShort = shortBuffer;
    m_bNextError = errorFlag;
}

void VirtualV4l2Device::unplug() {
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_bUnplugged = true;
    }
    m_cv.notify_all();
}

bool VirtualV4l2Device::unplugged() const {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_bUnplugged;
}

bool VirtualV4l2Device::streaming() const {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_bStreaming;
}

int32_t VirtualV4l2Device::controlValue(uint32_t id) const {
    std::lock_guard<std::mutex> lock(m_Lock);
    for (size_t i = 0; i < m_Config.controls.size(); ++i) {
        if (m_Config.controls[i].id == id) return m_ControlValues[i];
    }
    return 0;
}

const VirtualFormat* VirtualV4l2Device::findFormat(uint32_t fourcc) const {
    for (const VirtualFormat& f : m_Config.formats) {
        if (f.fourcc == fourcc) return &f;
    }
    return nullptr;
}

VirtualControl* VirtualV4l2Device::findControl(uint32_t id) {
    for (VirtualControl& c : m_Config.controls) {
        if (c.id == id) return &c;
    }
    return nullptr;
}

void VirtualV4l2Device::fillSizes(v4l2_pix_format* pix) const {
    if (IsCompressedFourcc(pix->pixelformat)) {
        pix->bytesperline = 0;
    } else {
        const uint32_t nMin = MinBytesPerLine(pix->pixelformat, pix->width);
        pix->bytesperline = nMin ? AlignBytesPerLine(pix->pixelformat, pix->width,
                                                     nMin + m_Config.bytesPerLinePadding)
                                 : pix->width * 2;
    }
    const uint32_t n = RawSizeImage(pix->pixelformat, pix->width, pix->height, pix->bytesperline);
    // Codes without a known layout (a compressed code we cannot decode)
    // get a plausible bound.
    pix->sizeimage = n ? n : pix->width * pix->height * 2;
}

int VirtualV4l2Device::tryFormat(v4l2_format* f) const {
    if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
    v4l2_pix_format& pix = f->fmt.pix;
    const VirtualFormat* vf = findFormat(pix.pixelformat);
    if (!vf) {
        if (m_Config.formats.empty()) return -EINVAL;
        vf = &m_Config.formats.front();
        pix.pixelformat = vf->fourcc;
    }
    const VirtualFrameSizes& s = vf->sizes;
    if (vf->noFrameSizes) {
        pix.width = m_Format.width;
        pix.height = m_Format.height;
    } else if (s.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
        if (s.discrete.empty()) return -EINVAL;
        const v4l2_frmsize_discrete* best = &s.discrete.front();
        int64_t bestD = INT64_MAX;
        for (const v4l2_frmsize_discrete& d : s.discrete) {
            const int64_t dist = std::llabs(int64_t{d.width} - pix.width) +
                                 std::llabs(int64_t{d.height} - pix.height);
            if (dist < bestD) bestD = dist, best = &d;
        }
        pix.width = best->width;
        pix.height = best->height;
    } else {
        const v4l2_frmsize_stepwise& w = s.stepwise;
        const bool cont = s.type == V4L2_FRMSIZE_TYPE_CONTINUOUS;
        pix.width = Nearest(pix.width, w.min_width, w.max_width, cont ? 1 : w.step_width);
        pix.height = Nearest(pix.height, w.min_height, w.max_height, cont ? 1 : w.step_height);
    }
    pix.field = V4L2_FIELD_NONE;
    pix.colorspace = V4L2_COLORSPACE_SMPTE170M;
    fillSizes(&pix);
    return 0;
}

SRawFrameLayout VirtualV4l2Device::layoutLocked() const {
    SRawFrameLayout l;
    l.dwFourcc = m_Format.pixelformat;
    l.nWidth = m_Format.width;
    l.nHeight = m_Format.height;
    l.nBytesPerLine = m_Format.bytesperline;
    l.nSizeImage = m_Format.sizeimage;
    return l;
}

void VirtualV4l2Device::produceLocked(int k) {
    for (int i = 0; i < k; ++i) {
        if (m_bUnplugged || m_bFrozen || !m_bStreaming) return;
        const uint32_t n = m_nSequence++;
        if (m_Queued.empty()) continue;  // no buffer: the frame is lost
        Buffer& b = m_Buffers[m_Queued.front()];
        m_Queued.pop_front();
        size_t used = m_Painter ? m_Painter(n, layoutLocked(), b.data.get(), b.info.length) : 0;
        if (!m_Painter) used = m_Format.sizeimage;
        b.info.flags &= ~(V4L2_BUF_FLAG_QUEUED | V4L2_BUF_FLAG_ERROR);
        b.info.flags |= V4L2_BUF_FLAG_DONE;
        if (m_bNextError) b.info.flags |= V4L2_BUF_FLAG_ERROR;
        if (m_bNextShort) used = used / 2;
        m_bNextError = m_bNextShort = false;
        b.info.bytesused = static_cast<uint32_t>(used);
        b.info.sequence = n;
        // Stamped at emission with the monotonic clock, as UVC drivers do,
        // so the capture path can tell how long a frame took to be used.
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        b.info.flags =
            (b.info.flags & ~V4L2_BUF_FLAG_TIMESTAMP_MASK) | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
        b.info.timestamp.tv_sec = ts.tv_sec;
        b.info.timestamp.tv_usec = ts.tv_nsec / 1000;
        b.queued = false;
        b.done = true;
        m_Done.push_back(b.info.index);
    }
}

void VirtualV4l2Device::stopStreamingLocked() {
    m_bStreaming = false;
    m_bGeneratorStop = true;
    for (Buffer& b : m_Buffers) {
        b.queued = b.done = false;
        b.info.flags &= ~(V4L2_BUF_FLAG_QUEUED | V4L2_BUF_FLAG_DONE);
    }
    m_Queued.clear();
    m_Done.clear();
    m_cv.notify_all();
}

void VirtualV4l2Device::releaseBuffersLocked() {
    m_Buffers.clear();
    m_Queued.clear();
    m_Done.clear();
    m_pOwner = nullptr;
}

void VirtualV4l2Device::generatorLoop() {
    std::unique_lock<std::mutex> lock(m_Lock);
    auto next = std::chrono::steady_clock::now();
    while (!m_bGeneratorStop) {
        const double seconds = m_Interval.denominator
                                   ? double(m_Interval.numerator) / m_Interval.denominator
                                   : 1.0 / 30;
        next += std::chrono::microseconds(static_cast<int64_t>(seconds * 1e6));
        m_cv.wait_until(lock, next, [&] { return m_bGeneratorStop; });
        if (m_bGeneratorStop) break;
        produceLocked(1);
        m_cv.notify_all();
    }
}

int VirtualV4l2Device::ioctlLocked(Handle* h, unsigned long request, void* arg) {
    if (m_bUnplugged) return -ENODEV;
    if (!arg) return -EFAULT;
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* cap = static_cast<v4l2_capability*>(arg);
            std::memset(cap, 0, sizeof(*cap));
            CopyName(cap->driver, sizeof(cap->driver), "pelora-virtual");
            CopyName(cap->card, sizeof(cap->card), m_Config.card);
            CopyName(cap->bus_info, sizeof(cap->bus_info), "platform:pelora-virtual");
            cap->version = 0x00060100;
            cap->capabilities = m_Config.capabilities;
            if (m_Config.hasDeviceCaps) {
                cap->device_caps = m_Config.capabilities;
                cap->capabilities |= V4L2_CAP_DEVICE_CAPS;
            }
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* d = static_cast<v4l2_fmtdesc*>(arg);
            if (d->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || d->index >= m_Config.formats.size()) {
                return -EINVAL;
            }
            const uint32_t idx = d->index;
            std::memset(d, 0, sizeof(*d));
            d->index = idx;
            d->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            d->pixelformat = m_Config.formats[idx].fourcc;
            d->flags = IsCompressedFourcc(d->pixelformat) ? V4L2_FMT_FLAG_COMPRESSED : 0;
            const char code[5] = {char(d->pixelformat), char(d->pixelformat >> 8),
                                  char(d->pixelformat >> 16), char(d->pixelformat >> 24), 0};
            CopyName(d->description, sizeof(d->description), code);
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* s = static_cast<v4l2_frmsizeenum*>(arg);
            const VirtualFormat* f = findFormat(s->pixel_format);
            if (!f || f->noFrameSizes) return -EINVAL;
            if (f->sizes.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                if (s->index >= f->sizes.discrete.size()) return -EINVAL;
                s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                s->discrete = f->sizes.discrete[s->index];
            } else {
                if (s->index != 0) return -EINVAL;
                s->type = f->sizes.type;
                s->stepwise = f->sizes.stepwise;
            }
            return 0;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            auto* iv = static_cast<v4l2_frmivalenum*>(arg);
            const VirtualFormat* f = findFormat(iv->pixel_format);
            if (!f) return -EINVAL;
            // Only for a size the format offers (one TRY_FMT keeps), as
            // drivers answer.
            v4l2_format probe;
            std::memset(&probe, 0, sizeof(probe));
            probe.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            probe.fmt.pix.pixelformat = iv->pixel_format;
            probe.fmt.pix.width = iv->width;
            probe.fmt.pix.height = iv->height;
            if (tryFormat(&probe) != 0 || probe.fmt.pix.width != iv->width ||
                probe.fmt.pix.height != iv->height) {
                return -EINVAL;
            }
            if (f->intervalType != V4L2_FRMIVAL_TYPE_DISCRETE) {
                if (iv->index != 0) return -EINVAL;
                iv->type = f->intervalType;
                iv->stepwise = f->intervalRange;
                return 0;
            }
            if (iv->index >= f->intervals.size()) return -EINVAL;
            iv->type = V4L2_FRMIVAL_TYPE_DISCRETE;
            iv->discrete = f->intervals[iv->index];
            return 0;
        }
        case VIDIOC_G_FMT: {
            auto* f = static_cast<v4l2_format*>(arg);
            if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            f->fmt.pix = m_Format;
            return 0;
        }
        case VIDIOC_TRY_FMT:
            return tryFormat(static_cast<v4l2_format*>(arg));
        case VIDIOC_S_FMT: {
            auto* f = static_cast<v4l2_format*>(arg);
            if (!m_Buffers.empty()) return -EBUSY;
            const int rc = tryFormat(f);
            if (rc == 0) m_Format = f->fmt.pix;
            return rc;
        }
        case VIDIOC_G_PARM:
        case VIDIOC_S_PARM: {
            auto* p = static_cast<v4l2_streamparm*>(arg);
            if (p->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            if (request == VIDIOC_S_PARM && m_Config.timePerFrame) {
                const v4l2_fract want = p->parm.capture.timeperframe;
                const VirtualFormat* f = findFormat(m_Format.pixelformat);
                if (f && f->intervalType != V4L2_FRMIVAL_TYPE_DISCRETE && want.denominator &&
                    want.numerator) {
                    // Kept within the range (its steps are not enforced).
                    const v4l2_fract lo = f->intervalRange.min, hi = f->intervalRange.max;
                    const double w = double(want.numerator) / want.denominator;
                    m_Interval = w < double(lo.numerator) / lo.denominator   ? lo
                                 : w > double(hi.numerator) / hi.denominator ? hi
                                                                             : want;
                } else if (f && !f->intervals.empty() && want.denominator && want.numerator) {
                    // The nearest interval offered.
                    const double w = double(want.numerator) / want.denominator;
                    v4l2_fract best = f->intervals.front();
                    for (const v4l2_fract& iv : f->intervals) {
                        const double d = double(iv.numerator) / iv.denominator;
                        const double b = double(best.numerator) / best.denominator;
                        if (std::abs(d - w) < std::abs(b - w)) best = iv;
                    }
                    m_Interval = best;
                }
            }
            std::memset(&p->parm, 0, sizeof(p->parm));
            if (m_Config.timePerFrame) {
                p->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
                p->parm.capture.timeperframe = m_Interval;
            }
            return 0;
        }
        case VIDIOC_REQBUFS: {
            auto* r = static_cast<v4l2_requestbuffers*>(arg);
            if (r->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || r->memory != V4L2_MEMORY_MMAP) {
                return -EINVAL;
            }
            if (m_pOwner && m_pOwner != h) return -EBUSY;
            if (m_bStreaming) return -EBUSY;
            if (r->count == 0) {
                if (h->mapped() > 0) return -EBUSY;
                releaseBuffersLocked();
                return 0;
            }
            if (!m_Buffers.empty()) return -EBUSY;
            const uint32_t n = std::min(r->count, kMaxBuffers);
            for (uint32_t i = 0; i < n; ++i) {
                Buffer b;
                b.data.reset(new (std::nothrow) uint8_t[m_Format.sizeimage]);
                if (!b.data) {
                    releaseBuffersLocked();
                    return -ENOMEM;
                }
                b.info.index = i;
                b.info.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
                b.info.memory = V4L2_MEMORY_MMAP;
                b.info.length = m_Format.sizeimage;
                b.info.m.offset = i * 0x100000u;
                m_Buffers.push_back(std::move(b));
            }
            m_pOwner = h;
            r->count = n;
            return 0;
        }
        case VIDIOC_QUERYBUF:
        case VIDIOC_QBUF: {
            auto* b = static_cast<v4l2_buffer*>(arg);
            if (m_pOwner != h || b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE ||
                b->memory != V4L2_MEMORY_MMAP || b->index >= m_Buffers.size()) {
                return -EINVAL;
            }
            Buffer& buf = m_Buffers[b->index];
            if (request == VIDIOC_QBUF) {
                if (buf.queued || buf.done) return -EINVAL;
                if (buf.info.flags & V4L2_BUF_FLAG_DONE) ++m_nReturned;
                buf.queued = true;
                buf.info.flags = V4L2_BUF_FLAG_QUEUED | V4L2_BUF_FLAG_MAPPED;
                m_Queued.push_back(b->index);
                m_cv.notify_all();
            }
            *b = buf.info;
            return 0;
        }
        case VIDIOC_DQBUF: {
            auto* b = static_cast<v4l2_buffer*>(arg);
            if (m_pOwner != h || b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            if (!m_bStreaming) return -EINVAL;
            if (m_Done.empty()) return -EAGAIN;
            Buffer& buf = m_Buffers[m_Done.front()];
            m_Done.pop_front();
            buf.done = false;
            *b = buf.info;
            return 0;
        }
        case VIDIOC_STREAMON: {
            if (m_pOwner != h || m_Buffers.empty()) return -EINVAL;
            if (m_Config.streamOnFails) return -EIO;
            if (m_bStreaming) return 0;
            m_bStreaming = true;
            m_bGeneratorStop = false;
            if (m_Config.freeRunning && !m_Generator.joinable()) {
                m_Generator = std::thread([this] { generatorLoop(); });
            }
            return 0;
        }
        case VIDIOC_STREAMOFF:
            if (m_pOwner != h) return -EINVAL;
            stopStreamingLocked();
            return 0;
        case VIDIOC_ENUMINPUT: {
            auto* in = static_cast<v4l2_input*>(arg);
            if (in->index >= m_Config.inputs.size()) return -EINVAL;
            const VirtualInput& vi = m_Config.inputs[in->index];
            const uint32_t idx = in->index;
            std::memset(in, 0, sizeof(*in));
            in->index = idx;
            CopyName(in->name, sizeof(in->name), vi.name);
            in->type = vi.type;
            in->std = vi.std;
            in->capabilities = vi.capStd ? V4L2_IN_CAP_STD : 0;
            return 0;
        }
        case VIDIOC_G_INPUT:
            *static_cast<int*>(arg) = static_cast<int>(m_Input);
            return 0;
        case VIDIOC_S_INPUT: {
            const int i = *static_cast<int*>(arg);
            if (i < 0 || static_cast<size_t>(i) >= m_Config.inputs.size()) return -EINVAL;
            if (m_bStreaming) return -EBUSY;
            m_Input = static_cast<uint32_t>(i);
            const v4l2_std_id mask = m_Config.inputs[m_Input].std;
            if (!(m_Std & mask)) m_Std = mask & -mask;
            return 0;
        }
        case VIDIOC_ENUMSTD: {
            auto* s = static_cast<v4l2_standard*>(arg);
            const VirtualInput& vi = m_Config.inputs.at(m_Input);
            if (!vi.capStd) return -ENODATA;
            uint32_t k = 0;
            for (int bit = 0; bit < 64; ++bit) {
                const v4l2_std_id id = v4l2_std_id{1} << bit;
                if (!(vi.std & id)) continue;
                if (k++ == s->index) {
                    const uint32_t idx = s->index;
                    std::memset(s, 0, sizeof(*s));
                    s->index = idx;
                    s->id = id;
                    CopyName(s->name, sizeof(s->name), "std");
                    s->framelines = (id & V4L2_STD_525_60) ? 525 : 625;
                    return 0;
                }
            }
            return -EINVAL;
        }
        case VIDIOC_G_STD: {
            if (m_Config.inputs.empty() || !m_Config.inputs[m_Input].capStd) return -ENODATA;
            *static_cast<v4l2_std_id*>(arg) = m_Std;
            return 0;
        }
        case VIDIOC_S_STD: {
            if (m_Config.inputs.empty() || !m_Config.inputs[m_Input].capStd) return -ENODATA;
            const v4l2_std_id want = *static_cast<v4l2_std_id*>(arg) & m_Config.inputs[m_Input].std;
            if (!want) return -EINVAL;
            if (m_bStreaming || !m_Buffers.empty()) return -EBUSY;
            m_Std = want;
            if (m_Config.stdChangesSize) {
                m_Format.height = (want & V4L2_STD_525_60) ? 480 : 576;
                fillSizes(&m_Format);
            }
            return 0;
        }
        case VIDIOC_QUERYCTRL: {
            auto* q = static_cast<v4l2_queryctrl*>(arg);
            const VirtualControl* c = findControl(q->id);
            if (!c) return -EINVAL;
            const uint32_t id = q->id;
            std::memset(q, 0, sizeof(*q));
            q->id = id;
            q->type = c->type;
            CopyName(q->name, sizeof(q->name), "control");
            q->minimum = c->minimum;
            q->maximum = c->maximum;
            q->step = c->step;
            q->default_value = c->defaultValue;
            q->flags = c->disabled ? V4L2_CTRL_FLAG_DISABLED : 0;
            return 0;
        }
        case VIDIOC_QUERYMENU: {
            auto* m = static_cast<v4l2_querymenu*>(arg);
            const VirtualControl* c = findControl(m->id);
            if (!c || c->type != V4L2_CTRL_TYPE_MENU || int64_t{m->index} < c->minimum ||
                int64_t{m->index} > c->maximum) {
                return -EINVAL;
            }
            CopyName(m->name, sizeof(m->name), "item");
            return 0;
        }
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL: {
            auto* v = static_cast<v4l2_control*>(arg);
            for (size_t i = 0; i < m_Config.controls.size(); ++i) {
                const VirtualControl& c = m_Config.controls[i];
                if (c.id != v->id) continue;
                if (c.disabled) return -EINVAL;
                if (request == VIDIOC_G_CTRL) {
                    v->value = m_ControlValues[i];
                    return 0;
                }
                if (c.setFails) return -c.setErrno;
                if (v->value < c.minimum || v->value > c.maximum) return -ERANGE;
                for (size_t k = 0; k < m_Config.controls.size(); ++k) {
                    if (!c.companionId || m_Config.controls[k].id != c.companionId) continue;
                    const int32_t on = m_ControlValues[k];
                    const bool bAuto = c.companionId == V4L2_CID_EXPOSURE_AUTO
                                           ? on != V4L2_EXPOSURE_MANUAL
                                           : on != 0;
                    if (bAuto) return -EBUSY;
                }
                m_ControlValues[i] = v->value;
                return 0;
            }
            return -EINVAL;
        }
        default:
            return -ENOTTY;
    }
}
