#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "platform/v4l2/v4l2_io.h"

// Only this file talks to a real device; no machine of ours has one, so it
// is kept to the plain system calls the boundary names.

std::unique_ptr<RealV4l2Io> RealV4l2Io::open(const std::string& path, int* pErr) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (pErr) *pErr = errno;
        return nullptr;
    }
    const int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        if (pErr) *pErr = errno;
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<RealV4l2Io>(new RealV4l2Io(fd, wakeFd));
}

RealV4l2Io::~RealV4l2Io() {
    ::close(m_wakeFd);
    ::close(m_fd);
}

int RealV4l2Io::ioctl(unsigned long request, void* arg) {
    for (;;) {
        if (::ioctl(m_fd, request, arg) == 0) return 0;
        if (errno != EINTR) return -errno;
    }
}

void* RealV4l2Io::map(size_t length, uint32_t offset) {
    void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, offset);
    return p == MAP_FAILED ? nullptr : p;
}

void RealV4l2Io::unmap(void* p, size_t length) {
    if (p) ::munmap(p, length);
}

V4l2Io::WaitResult RealV4l2Io::waitReadable(int ms) {
    pollfd fds[2] = {{m_fd, POLLIN | POLLPRI, 0}, {m_wakeFd, POLLIN, 0}};
    const int rc = ::poll(fds, 2, ms);
    if (rc == 0) return WaitResult::Timeout;
    if (rc < 0) return errno == EINTR ? WaitResult::Timeout : WaitResult::Lost;
    if (fds[1].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof(count));
        return WaitResult::Woken;
    }
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return WaitResult::Lost;
    return WaitResult::Ready;
}

void RealV4l2Io::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof(one));
}
