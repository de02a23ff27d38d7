// Fixture of the camera library tests: media classes registered, COM on
// the test thread, the library's console lines captured, virtual cameras
// listed instead of real ones, and no framework object left behind once
// the library object is gone.
#pragma once

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <memory>
#include <mutex>
#include <string>

#include "capture/video_input.h"
#include "mediagraph/media_classes.h"
#include "platform/com/com_runtime.h"
#include "platform/ffmpeg/frame_pattern.h"
#include "platform/v4l2/v4l2_catalogue.h"
#include "support/live_objects.h"
#include "support/virtual_cameras.h"

namespace pelora_test {

class CaptureLibraryTest : public LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        ASSERT_EQ(RegisterMediaClasses(), S_OK);
        CoInitialize(nullptr);
        VideoInput::setLogging(true);
        m_oldSink = VideoInput::setPrintSink([this](std::string_view text) {
            std::lock_guard<std::mutex> lock(m_printLock);
            m_printed.append(text);
        });
    }
    void TearDown() override {
        m_lib.reset();
        V4l2Catalogue::clearVirtual();
        VideoInput::setPrintSink(m_oldSink);
        VideoInput::setLogging(true);
        CoUninitialize();
        LiveObjectsTest::TearDown();
    }

    VideoInput& Lib() {
        if (!m_lib) m_lib = std::make_unique<VideoInput>();
        return *m_lib;
    }
    void DestroyLib() { m_lib.reset(); }

    std::string Printed() {
        std::lock_guard<std::mutex> lock(m_printLock);
        return m_printed;
    }
    void ClearPrinted() {
        std::lock_guard<std::mutex> lock(m_printLock);
        m_printed.clear();
    }
    size_t Count(const std::string& what) {
        const std::string all = Printed();
        size_t n = 0;
        for (size_t at = all.find(what); at != std::string::npos; at = all.find(what, at + 1)) ++n;
        return n;
    }

    static std::shared_ptr<VirtualV4l2Device> AddCamera(VirtualCameraConfig cfg) {
        return pelora_test::AddCamera(std::move(cfg));
    }
    // Emits k frames, each handed back by the streaming thread (so its
    // SampleCB has run) before the next.
    static void Emit(VirtualV4l2Device& cam, int k) {
        for (int i = 0; i < k; ++i) {
            const uint64_t target = cam.returned() + 1;
            cam.emitFrames(1);
            ASSERT_TRUE(cam.waitReturned(target, 5000));
        }
    }
    // The number painted into a delivered bottom-up BGR frame.
    static int64_t Number(const std::vector<unsigned char>& frame, int w, int h) {
        auto n = ReadFrameNumber(frame.data(), static_cast<uint32_t>(w), static_cast<uint32_t>(h));
        return n ? static_cast<int64_t>(*n) : -1;
    }
    // Asks the driver directly (a second handle, as another program would).
    static int DriverInput(VirtualV4l2Device& cam) {
        int err = 0;
        auto io = cam.open(&err);
        int input = -1;
        if (io) io->ioctl(VIDIOC_G_INPUT, &input);
        return input;
    }

private:
    std::unique_ptr<VideoInput> m_lib;
    CapturePrintSink m_oldSink;
    std::mutex m_printLock;  // guards m_printed
    std::string m_printed;
};

}  // namespace pelora_test
