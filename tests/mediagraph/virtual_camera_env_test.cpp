// PELORA_CAPTURE=virtual (set for this test program) lists the virtual
// camera when no test registry is set, and it runs free at its frame rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "mediagraph/media_classes.h"
#include "mediagraph/preview_chain.h"
#include "platform/com/com_ref.h"
#include "platform/com/com_runtime.h"
#include "platform/media/capture_interfaces.h"
#include "support/live_objects.h"
#include "support/number_callback.h"
#include "support/watchdog.h"

namespace {

class VirtualCameraEnvTest : public pelora_test::LiveObjectsTest {};

TEST_F(VirtualCameraEnvTest, EnvironmentListsTheVirtualCameraAndItStreams) {
    ASSERT_EQ(RegisterMediaClasses(), S_OK);
    CoInitialize(nullptr);
    pelora_test::NumberCallback cb;
    {
        std::wstring name;
        CComRef<IBaseFilter> source = BindVideoInputDevice(0, &name);
        ASSERT_TRUE(source);
        EXPECT_EQ(name, L"Pelora Virtual Camera");
        EXPECT_FALSE(BindVideoInputDevice(1)) << "one camera only";
        SPreviewChain chain;
        ASSERT_EQ(chain.Build(source.Get(), &cb), S_OK);
        ASSERT_EQ(chain.control->Run(), S_OK);
        EXPECT_TRUE(pelora_test::WaitUntil([&] { return cb.calls.load() >= 3; }));
        EXPECT_EQ(chain.control->Stop(), S_OK);
        chain.Release();
    }
    // Each frame readable as the number the camera gave it, strictly rising
    // (a free-running camera may lose some).
    const std::vector<int64_t> numbers = cb.Numbers();
    ASSERT_FALSE(numbers.empty());
    EXPECT_GE(numbers.front(), 0);
    EXPECT_TRUE(std::adjacent_find(numbers.begin(), numbers.end(), std::greater_equal<>()) ==
                numbers.end());
    CoUninitialize();
}

}  // namespace
