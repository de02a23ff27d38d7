// The frame-numbered pattern: it must read back its own index through
// coding noise, and must refuse pictures that are flipped, mirrored, have
// swapped channels or mix two frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "tools/frame_pattern.h"

namespace {

struct SPicture {
    int w, h, stride;
    std::vector<uint8_t> bits;  // bottom-up, as decoders deliver
};

// Draws top-down and stores bottom-up with padded rows (pad bytes 0xEE).
SPicture Make(int w, int h, int nIndex) {
    SPicture p{w, h, (3 * w + 3) & ~3, {}};
    std::vector<uint8_t> top(static_cast<size_t>(3 * w) * h);
    DrawFramePattern(top.data(), w, h, 3 * w, nIndex);
    p.bits.assign(static_cast<size_t>(p.stride) * h, 0xEE);
    for (int y = 0; y < h; ++y) {
        std::copy_n(top.data() + static_cast<size_t>(y) * 3 * w, 3 * w,
                    p.bits.data() + static_cast<size_t>(h - 1 - y) * p.stride);
    }
    return p;
}

void FlipRows(SPicture& p) {
    for (int y = 0; y < p.h / 2; ++y) {
        std::swap_ranges(p.bits.begin() + y * p.stride, p.bits.begin() + y * p.stride + 3 * p.w,
                         p.bits.begin() + (p.h - 1 - y) * p.stride);
    }
}

void Mirror(SPicture& p) {
    for (int y = 0; y < p.h; ++y) {
        uint8_t* row = p.bits.data() + y * p.stride;
        for (int x = 0; x < p.w / 2; ++x)
            std::swap_ranges(row + 3 * x, row + 3 * x + 3, row + 3 * (p.w - 1 - x));
    }
}

void SwapRedBlue(SPicture& p) {
    for (int y = 0; y < p.h; ++y) {
        for (int x = 0; x < p.w; ++x)
            std::swap(p.bits[y * p.stride + 3 * x], p.bits[y * p.stride + 3 * x + 2]);
    }
}

TEST(FramePattern, ReadsBackEveryIndexModulo65536AtAnySizeAndThroughCodingNoise) {
    const int sizes[][2] = {{32, 20}, {33, 21}, {321, 241}, {640, 480}};
    for (const auto& s : sizes) {
        for (int nIndex : {0, 1, 7, 255, 256, 4095, 65535, 65536 + 12}) {
            const SPicture p = Make(s[0], s[1], nIndex);
            EXPECT_EQ(ReadFrameIndex(p.bits.data(), p.w, p.h, p.stride), nIndex % 65536)
                << s[0] << "x" << s[1];
        }
    }
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> noise(-40, 40);
    for (int nIndex = 0; nIndex < 300; nIndex += 7) {
        SPicture p = Make(96, 64, nIndex);
        for (uint8_t& b : p.bits) b = static_cast<uint8_t>(std::clamp(b + noise(rng), 0, 255));
        EXPECT_EQ(ReadFrameIndex(p.bits.data(), p.w, p.h, p.stride), nIndex);
    }
}

// A reader that took these for upright frames would hide a flipped, mirrored
// or channel-swapped decoder output.
TEST(FramePattern, FlippedMirroredRotatedAndChannelSwappedPicturesAreRecognisedAndRefused) {
    for (int nIndex : {0, 5, 180, 0xB4B4, 65535}) {
        SPicture p = Make(96, 64, nIndex);
        FlipRows(p);
        SPatternReading r = ReadFramePattern(p.bits.data(), p.w, p.h, p.stride);
        EXPECT_EQ(r.eOrientation, EPatternOrientation::UpsideDown);
        EXPECT_EQ(r.nIndex, nIndex);
        EXPECT_EQ(ReadFrameIndex(p.bits.data(), p.w, p.h, p.stride), -1);

        Mirror(p);
        r = ReadFramePattern(p.bits.data(), p.w, p.h, p.stride);
        EXPECT_EQ(r.eOrientation, EPatternOrientation::Rotated180);
        EXPECT_EQ(ReadFrameIndex(p.bits.data(), p.w, p.h, p.stride), -1);

        FlipRows(p);
        r = ReadFramePattern(p.bits.data(), p.w, p.h, p.stride);
        EXPECT_EQ(r.eOrientation, EPatternOrientation::Mirrored);
        EXPECT_FALSE(r.bChannelsSwapped) << "a mirror is not a channel swap";
        EXPECT_EQ(ReadFrameIndex(p.bits.data(), p.w, p.h, p.stride), -1);
    }
    SPicture p = Make(64, 48, 33);
    SwapRedBlue(p);
    const SPatternReading r = ReadFramePattern(p.bits.data(), p.w, p.h, p.stride);
    EXPECT_EQ(r.eOrientation, EPatternOrientation::Upright);
    EXPECT_TRUE(r.bChannelsSwapped);
    EXPECT_EQ(ReadFrameIndex(p.bits.data(), p.w, p.h, p.stride), -1);
}

TEST(FramePattern, PictureMadeOfTwoFramesIsRefused) {
    // Upper rows of frame a over lower rows of frame b, as a half-written
    // buffer would look, split at every row of the index bands.
    const int w = 64, h = 50, nBand = h / 5;
    // Pairs that differ in both index bytes (otherwise part of the picture is
    // the same in both and the mix may truly show one of them).
    const int pairs[][2] = {{0, 257}, {1, 258}, {300, 45}, {5, 0x1234}, {1000, 2000}, {65535, 0}};
    for (const auto& pr : pairs) {
        const SPicture pa = Make(w, h, pr[0]);
        const SPicture pb = Make(w, h, pr[1]);
        for (int nSplit = nBand + nBand / 2; nSplit <= 4 * nBand + nBand / 4; ++nSplit) {
            SPicture mix = pa;
            // Picture rows nSplit.. (memory rows 0..h-1-nSplit) from b.
            std::copy(pb.bits.begin(), pb.bits.begin() + pb.stride * (h - nSplit),
                      mix.bits.begin());
            EXPECT_EQ(ReadFrameIndex(mix.bits.data(), w, h, mix.stride), -1)
                << pr[0] << " over " << pr[1] << " split at row " << nSplit;
        }
    }
}

TEST(FramePattern, BlankOrUndersizedPicturesGiveMinusOneAndDrawingLeavesRowPaddingAlone) {
    std::vector<uint8_t> grey(96 * 3 * 64, 128);
    EXPECT_EQ(ReadFrameIndex(grey.data(), 96, 64, 96 * 3), -1);
    EXPECT_EQ(ReadFrameIndex(grey.data(), 16, 16, 48), -1);
    EXPECT_EQ(ReadFrameIndex(nullptr, 96, 64, 288), -1);
    EXPECT_EQ(ReadFrameIndex(grey.data(), 96, 64, 100), -1) << "stride shorter than a row";

    const int w = 33, h = 21, stride = 3 * w + 7;
    std::vector<uint8_t> top(static_cast<size_t>(stride) * h, 0xEE);
    DrawFramePattern(top.data(), w, h, stride, 9);
    for (int y = 0; y < h; ++y) {
        for (int i = 3 * w; i < stride; ++i) ASSERT_EQ(top[y * stride + i], 0xEE) << "row " << y;
    }
}

}  // namespace
