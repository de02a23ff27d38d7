// The row stride of the public plug-in header, which the program, the
// decoder and every plug-in share: three bytes per pixel, padded to four, the
// same from C and from C++.
#include <gtest/gtest.h>

#include <cstdint>

#include "pelora/tavro_plugin.h"

extern "C" int64_t RowStrideSeenFromC(int32_t nWidth);

namespace {

TEST(PluginHeader, RowStrideCoversThreeBytesPerPixelPaddedToFour) {
    const struct {
        int32_t nWidth;
        int64_t nStride;
    } cases[] = {
        {1, 4},  {2, 8},      {3, 12},     {4, 12},                  // pad 1, 2, 3, 0
        {5, 16}, {640, 1920}, {641, 1924}, {INT32_MAX, 6442450944},  // 3 * W does not fit 32 bits
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TavroRowStride(c.nWidth), c.nStride) << c.nWidth;
        EXPECT_EQ(RowStrideSeenFromC(c.nWidth), c.nStride) << c.nWidth;
    }
}

}  // namespace
