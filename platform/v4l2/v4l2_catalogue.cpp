#include "platform/v4l2/v4l2_catalogue.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace {

struct SVirtualSlot {
    std::string path;
    std::shared_ptr<VirtualV4l2Device> device;
};

std::mutex s_Lock;  // guards everything below
std::vector<SVirtualSlot> s_Registry;
std::shared_ptr<VirtualV4l2Device> s_EnvironmentCamera;
bool s_bEnvironmentRead = false;
uint64_t s_nNextVirtual = 0;
std::map<std::string, std::weak_ptr<V4l2DeviceNode>> s_Nodes;

std::string CardOf(const v4l2_capability& cap) {
    const char* p = reinterpret_cast<const char*>(cap.card);
    return std::string(p, strnlen(p, sizeof(cap.card)));
}

// The virtual device for a path, under s_Lock.
std::shared_ptr<VirtualV4l2Device> VirtualFor(const std::string& path) {
    for (const SVirtualSlot& s : s_Registry) {
        if (s.path == path) return s.device;
    }
    if (s_EnvironmentCamera && path == "virtual:env") return s_EnvironmentCamera;
    return nullptr;
}

std::unique_ptr<V4l2Io> OpenPath(const std::string& path, int* pErr) {
    std::shared_ptr<VirtualV4l2Device> dev;
    {
        std::lock_guard<std::mutex> lock(s_Lock);
        dev = VirtualFor(path);
    }
    if (dev) return dev->open(pErr);
    if (path.rfind("virtual:", 0) == 0) {
        *pErr = ENODEV;
        return nullptr;
    }
    return RealV4l2Io::open(path, pErr);
}

bool Query(V4l2Io& io, v4l2_capability* cap) {
    std::memset(cap, 0, sizeof(*cap));
    return io.ioctl(VIDIOC_QUERYCAP, cap) == 0;
}

}  // namespace

bool V4l2Catalogue::isCaptureNode(const v4l2_capability& cap) {
    const uint32_t caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING) &&
           !(caps & (V4L2_CAP_VIDEO_M2M | V4L2_CAP_VIDEO_M2M_MPLANE));
}

std::vector<V4l2DeviceEntry> V4l2Catalogue::scan() {
    std::vector<SVirtualSlot> candidates;
    {
        std::lock_guard<std::mutex> lock(s_Lock);
        if (!s_Registry.empty()) {
            candidates = s_Registry;
        } else if (s_EnvironmentCamera) {
            candidates.push_back({"virtual:env", s_EnvironmentCamera});
        }
    }
    if (candidates.empty()) {
        std::vector<std::pair<unsigned long, std::string>> real;
        if (DIR* d = opendir("/dev")) {
            while (dirent* e = readdir(d)) {
                const char* n = e->d_name;
                if (std::strncmp(n, "video", 5) != 0 || !n[5]) continue;
                char* end = nullptr;
                const unsigned long k = std::strtoul(n + 5, &end, 10);
                if (*end || !std::isdigit(static_cast<unsigned char>(n[5]))) continue;
                real.emplace_back(k, std::string("/dev/") + n);
            }
            closedir(d);
        }
        std::sort(real.begin(), real.end());
        for (auto& r : real) candidates.push_back({r.second, nullptr});
    }
    std::vector<V4l2DeviceEntry> entries;
    for (const SVirtualSlot& c : candidates) {
        int err = 0;
        std::unique_ptr<V4l2Io> io =
            c.device ? c.device->open(&err) : RealV4l2Io::open(c.path, &err);
        v4l2_capability cap;
        if (!io || !Query(*io, &cap) || !isCaptureNode(cap)) continue;
        entries.push_back({c.path, CardOf(cap), c.device});
    }
    return entries;
}

std::shared_ptr<V4l2DeviceNode> V4l2Catalogue::node(const std::string& path, int* pErr) {
    int err = 0;
    std::unique_lock<std::mutex> lock(s_Lock);
    if (auto it = s_Nodes.find(path); it != s_Nodes.end()) {
        if (auto node = it->second.lock()) return node;
    }
    lock.unlock();
    std::unique_ptr<V4l2Io> io = OpenPath(path, &err);
    if (!io) {
        if (pErr) *pErr = err ? err : ENODEV;
        return nullptr;
    }
    auto fresh = std::make_shared<V4l2DeviceNode>(path, std::move(io));
    lock.lock();
    // Another thread may have opened the same path meanwhile: keep its node.
    std::weak_ptr<V4l2DeviceNode>& slot = s_Nodes[path];
    if (auto node = slot.lock()) return node;
    slot = fresh;
    for (auto it = s_Nodes.begin(); it != s_Nodes.end();) {
        it = it->second.expired() ? s_Nodes.erase(it) : std::next(it);
    }
    return fresh;
}

std::string V4l2Catalogue::registerVirtual(std::shared_ptr<VirtualV4l2Device> device) {
    std::lock_guard<std::mutex> lock(s_Lock);
    std::string path = "virtual:" + std::to_string(s_nNextVirtual++);
    s_Registry.push_back({path, std::move(device)});
    return path;
}

void V4l2Catalogue::clearVirtual() {
    std::lock_guard<std::mutex> lock(s_Lock);
    s_Registry.clear();
}

void V4l2Catalogue::useEnvironment(
    const std::function<std::shared_ptr<VirtualV4l2Device>()>& makeDefault) {
    {
        std::lock_guard<std::mutex> lock(s_Lock);
        if (s_bEnvironmentRead) return;
        s_bEnvironmentRead = true;
    }
    const char* v = std::getenv("PELORA_CAPTURE");
    if (!v || std::strcmp(v, "virtual") != 0 || !makeDefault) return;
    std::shared_ptr<VirtualV4l2Device> cam = makeDefault();
    std::lock_guard<std::mutex> lock(s_Lock);
    s_EnvironmentCamera = std::move(cam);
}
