// PELORA_CAPTURE=virtual (set for this test program) lists the virtual
// camera when no test registry is set, and it runs free at its frame rate.
#include <gtest/gtest.h>

#include <atomic>

#include "mediagraph/media_classes.h"
#include "mediagraph/preview_chain.h"
#include "platform/com/com_ref.h"
#include "platform/com/com_runtime.h"
#include "platform/ffmpeg/frame_pattern.h"
#include "platform/media/capture_interfaces.h"
#include "support/live_objects.h"
#include "support/watchdog.h"

namespace {

class LastNumber final : public ISampleGrabberCB {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override {
        *ppv = this;
        return S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 2; }
    HRESULT SampleCB(double, IMediaSample* pSample) override {
        BYTE* p = nullptr;
        pSample->GetPointer(&p);
        auto n = ReadFrameNumber(p, 640, 480);
        if (n && static_cast<int64_t>(*n) > last.load())
            last = *n;
        else
            bad = true;
        return S_OK;
    }
    HRESULT BufferCB(double, BYTE*, LONG) override { return E_NOTIMPL; }
    std::atomic<int64_t> last{-1};
    std::atomic<bool> bad{false};
};

class VirtualCameraEnvTest : public pelora_test::LiveObjectsTest {};

TEST_F(VirtualCameraEnvTest, EnvironmentListsTheVirtualCameraAndItStreams) {
    ASSERT_EQ(RegisterMediaClasses(), S_OK);
    CoInitialize(nullptr);
    LastNumber cb;
    {
        std::wstring name;
        CComRef<IBaseFilter> source = BindVideoInputDevice(0, &name);
        ASSERT_TRUE(source);
        EXPECT_EQ(name, L"Pelora Virtual Camera");
        EXPECT_FALSE(BindVideoInputDevice(1)) << "one camera only";
        SPreviewChain chain;
        ASSERT_EQ(chain.Build(source.Get(), &cb), S_OK);
        ASSERT_EQ(chain.control->Run(), S_OK);
        EXPECT_TRUE(pelora_test::WaitUntil([&] { return cb.last.load() >= 3; }));
        EXPECT_EQ(chain.control->Stop(), S_OK);
        chain.Release();
    }
    EXPECT_FALSE(cb.bad.load());
    CoUninitialize();
}

}  // namespace
