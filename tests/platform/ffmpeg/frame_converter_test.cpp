// Camera frame conversion: every pixel code the virtual camera can deliver
// comes out as packed bottom-up BGR24 showing the frame's own number, with
// padded rows, odd sizes and short or broken frames handled.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include "platform/ffmpeg/frame_converter.h"
#include "platform/ffmpeg/frame_pattern.h"

namespace {

struct SCase {
    const char* name;
    DWORD fourcc;
    uint32_t w, h, padding;
};

// Odd heights for the 4:2:0 and 4:1:0 codes, width 322 (rows that would be
// padded to 968 if the output were not packed), and padded driver rows.
const SCase kCases[] = {
    {"YUYV", MakeFourcc('Y', 'U', 'Y', 'V'), 322, 240, 0},
    {"YUYV padded", MakeFourcc('Y', 'U', 'Y', 'V'), 320, 240, 64},
    {"YVYU", MakeFourcc('Y', 'V', 'Y', 'U'), 320, 240, 0},
    {"UYVY", MakeFourcc('U', 'Y', 'V', 'Y'), 320, 240, 32},
    {"GREY", MakeFourcc('G', 'R', 'E', 'Y'), 322, 120, 6},
    {"BGR3", MakeFourcc('B', 'G', 'R', '3'), 322, 120, 2},
    {"RGB3", MakeFourcc('R', 'G', 'B', '3'), 160, 120, 0},
    {"XR24", MakeFourcc('X', 'R', '2', '4'), 160, 120, 16},
    {"AR24", MakeFourcc('A', 'R', '2', '4'), 160, 120, 0},
    {"BGR4", MakeFourcc('B', 'G', 'R', '4'), 160, 120, 0},
    {"RGBP", MakeFourcc('R', 'G', 'B', 'P'), 160, 120, 8},
    {"XR15", MakeFourcc('X', 'R', '1', '5'), 160, 120, 0},
    {"RGBO", MakeFourcc('R', 'G', 'B', 'O'), 160, 120, 0},
    {"YU12 odd height", MakeFourcc('Y', 'U', '1', '2'), 322, 241, 0},
    {"YV12 padded", MakeFourcc('Y', 'V', '1', '2'), 320, 239, 32},
    {"NV12 odd height", MakeFourcc('N', 'V', '1', '2'), 320, 243, 0},
    {"NV21", MakeFourcc('N', 'V', '2', '1'), 320, 240, 16},
    {"YUV9 odd height", MakeFourcc('Y', 'U', 'V', '9'), 320, 242, 0},
    {"YVU9", MakeFourcc('Y', 'V', 'U', '9'), 322, 240, 0},
    {"Y41P", MakeFourcc('Y', '4', '1', 'P'), 320, 120, 12},
    {"VUYA", MakeFourcc('V', 'U', 'Y', 'A'), 160, 120, 0},
    {"MJPG", MakeFourcc('M', 'J', 'P', 'G'), 640, 480, 0},
    {"JPEG odd size", MakeFourcc('J', 'P', 'E', 'G'), 322, 241, 0},
};

TEST(FrameConverter, EveryCodeShowsItsFrameNumberUprightInBgrOrder) {
    CFramePainter painter;
    for (const SCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const SRawFrameLayout layout = MakeRawLayout(c.fourcc, c.w, c.h, c.padding);
        std::vector<uint8_t> raw(layout.nSizeImage);
        for (uint32_t n : {0u, 1u, 0xA5C3u, 0xFFFFu}) {
            const size_t used = painter.Paint(n, layout, raw.data(), raw.size());
            ASSERT_GT(used, 0u);
            CFrameConverter conv;
            ASSERT_EQ(conv.Init(layout), S_OK);
            ASSERT_EQ(conv.OutputSize(), size_t{c.w} * c.h * 3);
            // One guard byte past the packed frame must stay untouched.
            std::vector<uint8_t> out(conv.OutputSize() + 1, 0x5A);
            ASSERT_EQ(conv.Convert(raw.data(), used, out.data()), S_OK);
            EXPECT_EQ(out.back(), 0x5A);
            const bool bGrey = c.fourcc == MakeFourcc('G', 'R', 'E', 'Y');
            EXPECT_EQ(ReadFrameNumber(out.data(), c.w, c.h, bGrey), n);
        }
    }
}

TEST(FrameConverter, LimitedRangeYuvGivesExactBlackWhiteAndGrey) {
    // 64x2 YUYV: top row Y=235, bottom row Y=16, chroma neutral; one grey
    // macropixel (Y=126) in the top row.
    const uint32_t w = 64, h = 2;
    const SRawFrameLayout layout = MakeRawLayout(MakeFourcc('Y', 'U', 'Y', 'V'), w, h);
    std::vector<uint8_t> raw(layout.nSizeImage);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; x += 2) {
            uint8_t* m = &raw[y * layout.nBytesPerLine + x * 2];
            const uint8_t luma = y == 0 ? (x == 8 ? 126 : 235) : 16;
            m[0] = luma, m[1] = 128, m[2] = luma, m[3] = 128;
        }
    }
    CFrameConverter conv;
    ASSERT_EQ(conv.Init(layout), S_OK);
    std::vector<uint8_t> out(conv.OutputSize());
    ASSERT_EQ(conv.Convert(raw.data(), raw.size(), out.data()), S_OK);
    // Bottom-up: the picture's top row is the last row in memory.
    const uint8_t* top = &out[(h - 1) * w * 3];
    const uint8_t* bottom = &out[0];
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(top[3 * 0 + k], 255);
        EXPECT_EQ(bottom[3 * 5 + k], 0);
        EXPECT_NEAR(top[3 * 8 + k], 128, 1);
    }
}

TEST(FrameConverter, RefusesCodesLayoutsAndFramesItCannotRead) {
    CFrameConverter conv;
    std::vector<uint8_t> out(320 * 240 * 3);
    EXPECT_FALSE(CFrameConverter::IsConvertible(MakeFourcc('H', '2', '6', '4')));
    EXPECT_EQ(conv.Init(MakeRawLayout(MakeFourcc('H', '2', '6', '4'), 320, 240)),
              VFW_E_TYPE_NOT_ACCEPTED);
    SRawFrameLayout l = MakeRawLayout(MakeFourcc('Y', 'U', 'Y', 'V'), 320, 240);
    l.nBytesPerLine = 320;  // shorter than a row
    EXPECT_EQ(conv.Init(l), VFW_E_TYPE_NOT_ACCEPTED);
    l = MakeRawLayout(MakeFourcc('Y', 'U', '1', '2'), 320, 240);
    l.nSizeImage -= 1;  // chroma planes would run past the frame
    EXPECT_EQ(conv.Init(l), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(conv.Convert(out.data(), 16, out.data()), E_UNEXPECTED);  // no layout taken

    CFramePainter painter;
    const SRawFrameLayout yuyv = MakeRawLayout(MakeFourcc('Y', 'U', 'Y', 'V'), 320, 240, 16);
    std::vector<uint8_t> raw(yuyv.nSizeImage);
    ASSERT_EQ(painter.Paint(7, yuyv, raw.data(), raw.size()), raw.size());
    ASSERT_EQ(conv.Init(yuyv), S_OK);
    EXPECT_EQ(conv.Convert(raw.data(), raw.size() - 1, out.data()), S_FALSE);
    EXPECT_EQ(conv.Convert(raw.data(), raw.size(), out.data()), S_OK);

    const SRawFrameLayout mjpg = MakeRawLayout(MakeFourcc('M', 'J', 'P', 'G'), 320, 240);
    std::vector<uint8_t> jpeg(mjpg.nSizeImage);
    const size_t used = painter.Paint(7, mjpg, jpeg.data(), jpeg.size());
    ASSERT_GT(used, 100u);
    ASSERT_EQ(conv.Init(mjpg), S_OK);
    EXPECT_EQ(conv.Convert(jpeg.data(), 0, out.data()), S_FALSE);
    EXPECT_EQ(conv.Convert(jpeg.data(), used / 2, out.data()), S_FALSE);  // cut short
    std::vector<uint8_t> garbage(4096, 0x42);
    EXPECT_EQ(conv.Convert(garbage.data(), garbage.size(), out.data()), S_FALSE);
    // A JPEG of another size than the layout's is not delivered either.
    const SRawFrameLayout small = MakeRawLayout(MakeFourcc('M', 'J', 'P', 'G'), 160, 120);
    const size_t usedSmall = painter.Paint(7, small, jpeg.data(), jpeg.size());
    EXPECT_EQ(conv.Convert(jpeg.data(), usedSmall, out.data()), S_FALSE);
    // The decoder recovers for the next good frame.
    const size_t again = painter.Paint(9, mjpg, jpeg.data(), jpeg.size());
    ASSERT_EQ(conv.Convert(jpeg.data(), again, out.data()), S_OK);
    EXPECT_EQ(ReadFrameNumber(out.data(), 320, 240), 9u);
}

// A decoded picture whose top half is white (Y 235) and bottom half black
// (Y 16), chroma neutral.
AVFrame* HalfWhitePicture(AVPixelFormat fmt, int w, int h) {
    AVFrame* p = av_frame_alloc();
    p->format = fmt;
    p->width = w;
    p->height = h;
    if (av_frame_get_buffer(p, 0) < 0) av_frame_free(&p);
    if (!p) return nullptr;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(fmt);
    for (int plane = 0; plane < 3 && p->data[plane]; ++plane) {
        const int rows = plane == 0 ? h : AV_CEIL_RSHIFT(h, d->log2_chroma_h);
        for (int y = 0; y < rows; ++y) {
            const uint8_t v = plane > 0 ? 128 : (y < h / 2 ? 235 : 16);
            std::memset(p->data[plane] + y * p->linesize[plane], v, p->linesize[plane]);
        }
    }
    return p;
}

// The file decoder's pictures: scaled, bottom-up, every pixel of every row
// converted (swscale's SIMD writers skip a tight row's last pixels at widths
// off a multiple of 8), pad bytes zero, nothing written past the frame.
TEST(FrameConverter, DecodedPicturesAreConvertedToTheLastPixelBottomUpWithZeroPadding) {
    using Q = CFrameConverter::EQuality;
    struct SPicture {
        const char* name;
        AVPixelFormat fmt;
        int srcW, srcH;
        uint32_t w, h;
        Q quality;
    };
    const SPicture kPictures[] = {
        {"yuv420p 322 wide", AV_PIX_FMT_YUV420P, 322, 240, 322, 240, Q::CommandDefault},
        {"yuv420p 326 wide, odd height", AV_PIX_FMT_YUV420P, 326, 121, 326, 121, Q::CommandDefault},
        {"yuv422p exact", AV_PIX_FMT_YUV422P, 330, 64, 330, 64, Q::Exact},
        {"scaled up", AV_PIX_FMT_YUV420P, 160, 120, 322, 240, Q::CommandDefault},
        {"nv12 scaled down", AV_PIX_FMT_NV12, 640, 480, 318, 238, Q::CommandDefault},
        // Multiples of 16 pixels are written in place; 856 (a multiple of 8
        // only) at an even height is where swscale stores past the last row.
        {"yuv420p 1920 wide", AV_PIX_FMT_YUV420P, 1920, 1080, 1920, 1080, Q::CommandDefault},
        {"yuv420p 856 wide, even height", AV_PIX_FMT_YUV420P, 856, 480, 856, 480,
         Q::CommandDefault},
        {"yuv422p 336 wide exact", AV_PIX_FMT_YUV422P, 336, 62, 336, 62, Q::Exact},
        {"nv12 scaled to 640", AV_PIX_FMT_NV12, 500, 300, 640, 480, Q::CommandDefault},
    };
    for (const SPicture& c : kPictures) {
        SCOPED_TRACE(c.name);
        AVFrame* pic = HalfWhitePicture(c.fmt, c.srcW, c.srcH);
        ASSERT_NE(pic, nullptr);
        const uint32_t stride = (3 * c.w + 3) & ~3u;
        CFrameConverter conv;
        ASSERT_EQ(conv.InitPictures(c.w, c.h, stride, c.quality), S_OK);
        ASSERT_EQ(conv.OutputSize(), size_t{stride} * c.h);
        // 16 guard bytes before the frame (keeping its alignment), 1 after.
        std::vector<uint8_t> buffer(conv.OutputSize() + 17, 0x5A);
        uint8_t* const out = buffer.data() + 16;
        ASSERT_EQ(conv.ConvertPicture(pic, out), S_OK);
        // A destination off the 16-byte grid takes the copying path: both
        // paths give the same bytes.
        std::vector<uint8_t> shifted(conv.OutputSize() + 1);
        ASSERT_EQ(conv.ConvertPicture(pic, shifted.data() + 1), S_OK);
        EXPECT_TRUE(std::equal(out, out + conv.OutputSize(), shifted.data() + 1));
        av_frame_free(&pic);
        EXPECT_EQ(buffer.back(), 0x5A);
        EXPECT_TRUE(
            std::all_of(buffer.begin(), buffer.begin() + 16, [](uint8_t b) { return b == 0x5A; }));
        int nWrong = 0, nPadWrong = 0;
        for (uint32_t row = 0; row < c.h; ++row) {
            const uint32_t pictureRow = c.h - 1 - row;
            // The rows next to the edge are filtered across it.
            if (pictureRow + 3 >= c.h / 2 && pictureRow <= c.h / 2 + 3) continue;
            const int expected = pictureRow < c.h / 2 ? 255 : 0;
            const uint8_t* p = &out[size_t{row} * stride];
            // Bicubic without accurate rounding may miss white by a few.
            for (uint32_t x = 0; x < 3 * c.w; ++x) nWrong += std::abs(p[x] - expected) > 8;
            for (uint32_t x = 3 * c.w; x < stride; ++x) nPadWrong += p[x] != 0;
        }
        EXPECT_EQ(nWrong, 0);
        EXPECT_EQ(nPadWrong, 0);
    }
}

TEST(FramePattern, UpsideDownOrSwappedFramesDoNotRead) {
    const uint32_t w = 128, h = 64;
    std::vector<uint8_t> topDown(w * h * 3);
    CFramePainter::DrawBgr(0x1234, w, h, topDown.data());
    std::vector<uint8_t> bottomUp(topDown.size());
    for (uint32_t y = 0; y < h; ++y) {
        std::copy_n(&topDown[y * w * 3], w * 3, &bottomUp[(h - 1 - y) * w * 3]);
    }
    EXPECT_EQ(ReadFrameNumber(bottomUp.data(), w, h), 0x1234u);
    EXPECT_EQ(ReadFrameNumber(topDown.data(), w, h), std::nullopt);
    for (size_t i = 0; i < bottomUp.size(); i += 3) std::swap(bottomUp[i], bottomUp[i + 2]);
    EXPECT_EQ(ReadFrameNumber(bottomUp.data(), w, h), std::nullopt);
}

}  // namespace
