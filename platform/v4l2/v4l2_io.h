// platform/v4l2: the device boundary of the camera path.
//
// V4l2Io is everything the capture code asks of one open video node: the
// driver's ioctls, mapping and unmapping its buffers, and a wait for a
// ready buffer that a stop request can cut short. RealV4l2Io forwards these
// to the kernel; VirtualV4l2Device answers them as a driver does. Every line
// of the capture path above this boundary is the same for both.
//
// Contract:
// - ioctl answers 0 or a negative errno (-EAGAIN, -EINVAL, -EBUSY, -ENODEV
//   for an unplugged device...), never -EINTR.
// - map answers the buffer's memory or null; unmap takes what map gave.
// - waitReadable(ms) waits at most ms milliseconds for a buffer to become
//   ready; wake() from any thread ends a wait in progress (or the next one)
//   with Woken. Lost means the device is gone (POLLERR, ENODEV).
// - ioctl, waitReadable and wake may be called from two threads at once
//   (the streaming thread and a settings call); map/unmap only while the
//   buffers are not streaming.
// May include: the C++ standard library, platform/win, linux/videodev2.h.
// No Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class V4l2Io {
public:
    enum class WaitResult { Ready, Timeout, Woken, Lost };

    virtual ~V4l2Io() = default;
    virtual int ioctl(unsigned long request, void* arg) = 0;
    virtual void* map(size_t length, uint32_t offset) = 0;
    virtual void unmap(void* p, size_t length) = 0;
    virtual WaitResult waitReadable(int ms) = 0;
    virtual void wake() = 0;
};

// A real video node: the fd opened O_RDWR | O_NONBLOCK | O_CLOEXEC, ::ioctl,
// ::mmap, and poll on the fd plus an eventfd for wake().
class RealV4l2Io final : public V4l2Io {
public:
    // Opens the node; null and *pErr = errno on failure.
    static std::unique_ptr<RealV4l2Io> open(const std::string& path, int* pErr);
    ~RealV4l2Io() override;

    int ioctl(unsigned long request, void* arg) override;
    void* map(size_t length, uint32_t offset) override;
    void unmap(void* p, size_t length) override;
    WaitResult waitReadable(int ms) override;
    void wake() override;

private:
    RealV4l2Io(int fd, int wakeFd) : m_fd(fd), m_wakeFd(wakeFd) {}
    const int m_fd;
    const int m_wakeFd;
};
