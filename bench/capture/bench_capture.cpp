// bench_capture: frames per second and CPU per frame of the virtual camera
// at 640x480 YUYV and 1280x720 MJPG through the sample grabber's
// conversion, as the camera library's graph runs it.
//
// Two figures per format:
//   - graph: frames pumped one at a time through capture pin -> grabber
//     (conversion to packed BGR24, SampleCB) -> null renderer; the camera
//     paints each frame (including the JPEG encode for MJPG), so this is the
//     whole loop's rate, not a camera's.
//   - convert: CFrameConverter alone on one painted frame, the cost the
//     streaming thread pays per frame with a real camera.
// Prints figures only; nothing here asserts a speed.
//
//   bench_capture [--frames N]
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mediagraph/media_classes.h"
#include "mediagraph/preview_chain.h"
#include "platform/com/com_ref.h"
#include "platform/com/com_runtime.h"
#include "platform/ffmpeg/frame_converter.h"
#include "platform/ffmpeg/frame_pattern.h"
#include "platform/media/capture_interfaces.h"
#include "platform/v4l2/v4l2_catalogue.h"

namespace {

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

class CountingCallback final : public ISampleGrabberCB {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override {
        *ppv = this;
        return S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 2; }
    HRESULT SampleCB(double, IMediaSample*) override {
        ++frames;
        return S_OK;
    }
    HRESULT BufferCB(double, BYTE*, LONG) override { return E_NOTIMPL; }
    int frames = 0;  // streaming thread; read after Stop
};

void RunGraph(uint32_t fourcc, uint32_t w, uint32_t h, int nFrames) {
    VirtualCameraConfig cfg;
    cfg.card = "bench";
    VirtualFormat f;
    f.fourcc = fourcc;
    f.sizes.discrete = {{w, h}};
    cfg.formats = {f};
    cfg.fourcc = fourcc;
    cfg.width = w;
    cfg.height = h;
    auto painter = std::make_shared<CFramePainter>();
    auto cam = VirtualV4l2Device::create(
        cfg, [painter](uint32_t n, const SRawFrameLayout& l, uint8_t* p, size_t cap) {
            return painter->Paint(n, l, p, cap);
        });
    V4l2Catalogue::clearVirtual();
    V4l2Catalogue::registerVirtual(cam);

    CountingCallback cb;
    SPreviewChain chain;
    if (chain.Build(BindVideoInputDevice(0).Get(), &cb) != S_OK) {
        std::fprintf(stderr, "bench_capture: cannot connect\n");
        std::exit(1);
    }
    chain.control->Run();
    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    uint64_t handed = cam->returned();
    for (int i = 0; i < nFrames; ++i) {
        cam->emitFrames(1);
        cam->waitReturned(++handed, 5000);
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = CpuSeconds() - cpu0;
    chain.Release();
    std::printf("  graph:   %5d frames (%d to SampleCB), %7.1f frames/s, CPU %6.2f ms/frame\n",
                nFrames, cb.frames, nFrames / wall, cpu * 1000 / nFrames);
}

void RunConvert(uint32_t fourcc, uint32_t w, uint32_t h, int nFrames) {
    const SRawFrameLayout layout = MakeRawLayout(fourcc, w, h);
    std::vector<uint8_t> raw(layout.nSizeImage);
    CFramePainter painter;
    const size_t used = painter.Paint(1234, layout, raw.data(), raw.size());
    CFrameConverter conv;
    conv.Init(layout);
    std::vector<uint8_t> out(conv.OutputSize());
    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < nFrames; ++i) conv.Convert(raw.data(), used, out.data());
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = CpuSeconds() - cpu0;
    const bool bOk = ReadFrameNumber(out.data(), w, h) == 1234u;
    std::printf("  convert: %5d frames, %7.1f frames/s, CPU %6.2f ms/frame%s\n", nFrames,
                nFrames / wall, cpu * 1000 / nFrames, bOk ? "" : "  (WRONG PICTURE)");
}

}  // namespace

int main(int argc, char** argv) {
    int nFrames = 300;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0) nFrames = std::atoi(argv[++i]);
    }
    if (nFrames <= 0) nFrames = 300;
    RegisterMediaClasses();
    CoInitialize(nullptr);
    struct SCase {
        const char* name;
        uint32_t fourcc, w, h;
    };
    for (const SCase& c : {SCase{"640x480 YUYV", V4L2_PIX_FMT_YUYV, 640, 480},
                           SCase{"1280x720 MJPG", V4L2_PIX_FMT_MJPEG, 1280, 720}}) {
        std::printf("%s\n", c.name);
        RunGraph(c.fourcc, c.w, c.h, nFrames);
        RunConvert(c.fourcc, c.w, c.h, nFrames);
    }
    V4l2Catalogue::clearVirtual();
    CoUninitialize();
    return 0;
}
