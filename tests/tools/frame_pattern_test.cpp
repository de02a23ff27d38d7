// The frame-numbered pattern: it must read back its own index through
// coding noise, and must refuse pictures that are flipped, mirrored, have
// swapped channels or mix two frames (each would hide a decoder fault).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "tools/frame_pattern.h"

namespace {

struct SPicture {
    int w, h, stride;
    std::vector<uint8_t> bits;  // bottom-up, as decoders deliver
    int Index() const { return ReadFrameIndex(bits.data(), w, h, stride); }
    SPatternReading Reading() const { return ReadFramePattern(bits.data(), w, h, stride); }
};

// Draws top-down and stores bottom-up with padded rows (pad bytes 0xEE).
SPicture Make(int w, int h, int nIndex) {
    SPicture p{w, h, (3 * w + 3) & ~3, {}};
    std::vector<uint8_t> top(static_cast<size_t>(3 * w) * h);
    DrawFramePattern(top.data(), w, h, 3 * w, nIndex);
    p.bits.assign(static_cast<size_t>(p.stride) * h, 0xEE);
    for (int y = 0; y < h; ++y) {
        std::copy_n(&top[y * 3 * w], 3 * w, &p.bits[(h - 1 - y) * p.stride]);
    }
    return p;
}

// The picture with its rows and/or the pixels of each row in reverse order.
SPicture Turned(const SPicture& p, bool bRows, bool bColumns) {
    SPicture t = p;
    for (int y = 0; y < p.h; ++y) {
        for (int x = 0; x < p.w; ++x) {
            const int ySource = bRows ? p.h - 1 - y : y, xSource = bColumns ? p.w - 1 - x : x;
            std::copy_n(&p.bits[ySource * p.stride + 3 * xSource], 3,
                        &t.bits[y * p.stride + 3 * x]);
        }
    }
    return t;
}

TEST(FramePattern, ReadsBackEveryIndexModulo65536AtAnySizeAndThroughCodingNoise) {
    for (const auto& [w, h] : {std::pair{32, 20}, {33, 21}, {640, 480}}) {
        for (int nIndex : {0, 255, 256, 65535, 65536 + 12}) {
            EXPECT_EQ(Make(w, h, nIndex).Index(), nIndex % 65536) << w << "x" << h;
        }
    }
    std::mt19937 rng(99);  // coding noise
    std::uniform_int_distribution<int> noise(-40, 40);
    for (int nIndex = 0; nIndex < 300; nIndex += 7) {
        SPicture p = Make(96, 64, nIndex);
        for (uint8_t& b : p.bits) b = static_cast<uint8_t>(std::clamp(b + noise(rng), 0, 255));
        EXPECT_EQ(p.Index(), nIndex);
    }
}

TEST(FramePattern, FlippedMirroredRotatedAndChannelSwappedPicturesAreRecognisedAndRefused) {
    const struct {
        bool bRows, bColumns;
        EPatternOrientation eOrientation;
    } turns[] = {{true, false, EPatternOrientation::UpsideDown},
                 {false, true, EPatternOrientation::Mirrored},
                 {true, true, EPatternOrientation::Rotated180}};
    for (const auto& t : turns) {
        const SPicture p = Turned(Make(96, 64, 0xB4B4), t.bRows, t.bColumns);
        EXPECT_EQ(p.Reading().eOrientation, t.eOrientation);
        EXPECT_EQ(p.Reading().nIndex, 0xB4B4);
        EXPECT_FALSE(p.Reading().bChannelsSwapped) << "a mirror is not a channel swap";
        EXPECT_EQ(p.Index(), -1);
    }
    SPicture p = Make(64, 48, 33);  // 64 pixels: rows need no padding
    for (size_t k = 0; k < p.bits.size(); k += 3) std::swap(p.bits[k], p.bits[k + 2]);
    EXPECT_EQ(p.Reading().eOrientation, EPatternOrientation::Upright);
    EXPECT_TRUE(p.Reading().bChannelsSwapped);
    EXPECT_EQ(p.Index(), -1);
}

TEST(FramePattern, PictureMadeOfTwoFramesBlankOrUndersizedIsRefused) {
    // Upper rows of frame a over lower rows of frame b, as a half-written
    // buffer would look, split at every row of the index bands. The pairs
    // differ in both index bytes (otherwise the mix may truly show one of them).
    const int w = 64, h = 50, nBand = h / 5;
    for (const auto& [a, b] : {std::pair{0, 257}, {5, 0x1234}, {65535, 0}}) {
        const SPicture pb = Make(w, h, b);
        for (int nSplit = nBand + nBand / 2; nSplit <= 4 * nBand + nBand / 4; ++nSplit) {
            SPicture mix = Make(w, h, a);
            // Picture rows nSplit.. (memory rows 0..h-1-nSplit) from b.
            std::copy_n(pb.bits.begin(), pb.stride * (h - nSplit), mix.bits.begin());
            EXPECT_EQ(mix.Index(), -1) << a << " over " << b << " split at row " << nSplit;
        }
    }
    // An index found in a blank picture would let a test take an empty frame for frame 0.
    std::vector<uint8_t> grey(96 * 3 * 64, 128);
    EXPECT_EQ(ReadFrameIndex(grey.data(), 96, 64, 96 * 3), -1);
    EXPECT_EQ(ReadFrameIndex(grey.data(), 16, 16, 48), -1);
}

}  // namespace
