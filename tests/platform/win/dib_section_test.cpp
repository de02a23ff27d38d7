// DIB sections: the pixel size comes from width, height and bit count, never
// from biSizeImage; invalid or oversized geometry is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "platform/win/dib_section.h"

namespace {

BITMAPINFO Header(LONG width, LONG height, WORD bitCount, DWORD sizeImage = 0) {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = bitCount;
    bmi.bmiHeader.biSizeImage = sizeImage;
    return bmi;
}

TEST(DibSectionTest, PixelsArePaddedRowsTimesHeightZeroFilledWhateverSizeImageSays) {
    // Width 321 pads each row to 964 bytes; biSizeImage says far too little.
    const BITMAPINFO bmi = Header(321, -241, 24, 16);
    void* pBits = nullptr;
    HBITMAP h = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0);
    ASSERT_NE(h, nullptr);
    ASSERT_NE(pBits, nullptr);
    EXPECT_EQ(DIBImageSize(321, -241, 24), 964 * 241);
    // Every byte is readable and zero (ASan checks the extent).
    const BYTE* p = static_cast<const BYTE*>(pBits);
    EXPECT_EQ(std::count(p, p + 964 * 241, 0), 964 * 241);
    EXPECT_TRUE(DeleteObject(h));
}

TEST(DibSectionTest, RefusesInvalidGeometryBitCountAndSizesBeyond32Bits) {
    const struct {
        const char* name;
        BITMAPINFO bmi;
    } cases[] = {
        {"width 0", Header(0, 10, 24)},
        {"7 bits", Header(10, 10, 7)},
        {"over 2 GiB", Header(30000, 30000, 24)},
        {"row over 2 GiB", Header(INT32_MAX, 1, 32)},
    };
    for (const auto& c : cases) {
        void* pBits = reinterpret_cast<void*>(1);
        EXPECT_EQ(CreateDIBSection(nullptr, &c.bmi, DIB_RGB_COLORS, &pBits, nullptr, 0), nullptr)
            << c.name;
        EXPECT_EQ(pBits, nullptr) << c.name;
    }
    EXPECT_EQ(DIBSectionsActive(), 0);
    // The size the grab renderer checks formats with never overflows.
    EXPECT_EQ(DIBImageSize(30000, 30000, 24), 90000LL * 30000);
    EXPECT_EQ(DIBImageSize(10, INT32_MIN, 24), -1);
}

}  // namespace
