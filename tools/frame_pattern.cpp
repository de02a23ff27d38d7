#include "tools/frame_pattern.h"

#include <cstring>

namespace {

constexpr int kBands = 5;
constexpr int kCells = 8;
constexpr uint8_t kMarker = 0xB4;  // 10110100: differs from its mirror 00101101
// A cell is read as black below kDark and white above kBright; anything in
// between is not a clean pattern cell.
constexpr int kDark = 90;
constexpr int kBright = 165;

struct SGeometry {
    int nBand;  // band height
    int nCell;  // cell width
};

SGeometry GeometryOf(int nWidth, int nHeight) { return {nHeight / kBands, nWidth / kCells}; }

void Fill(uint8_t* pTop, int nStride, int x0, int y0, int x1, int y1, uint8_t b, uint8_t g,
          uint8_t r) {
    for (int y = y0; y < y1; ++y) {
        uint8_t* p = pTop + static_cast<int64_t>(y) * nStride + 3 * x0;
        for (int x = x0; x < x1; ++x) {
            *p++ = b;
            *p++ = g;
            *p++ = r;
        }
    }
}

// Mean colour of the central half of a rectangle given in drawn (top-down,
// unmirrored) coordinates, read through an orientation.
struct SMean {
    int b, g, r;
    int Luma() const { return (b + g + r) / 3; }
};

class CPatternView {
public:
    CPatternView(const uint8_t* pBottomUp, int nWidth, int nHeight, int nStride, bool bFlipRows,
                 bool bMirror)
        : m_pBits(pBottomUp),
          m_nWidth(nWidth),
          m_nHeight(nHeight),
          m_nStride(nStride),
          m_bFlipRows(bFlipRows),
          m_bMirror(bMirror) {}

    SMean Mean(int x0, int y0, int x1, int y1) const {
        const int w = x1 - x0, h = y1 - y0;
        x0 += w / 4;
        x1 -= w / 4;
        y0 += h / 4;
        y1 -= h / 4;
        int64_t sb = 0, sg = 0, sr = 0, n = 0;
        for (int y = y0; y < y1; ++y) {
            // Drawn row y is memory row H-1-y in an upright bottom-up picture.
            const int nRow = m_bFlipRows ? y : m_nHeight - 1 - y;
            const uint8_t* pRow = m_pBits + static_cast<int64_t>(nRow) * m_nStride;
            for (int x = x0; x < x1; ++x) {
                const int nCol = m_bMirror ? m_nWidth - 1 - x : x;
                sb += pRow[3 * nCol];
                sg += pRow[3 * nCol + 1];
                sr += pRow[3 * nCol + 2];
                ++n;
            }
        }
        if (n == 0) return {0, 0, 0};
        return {static_cast<int>(sb / n), static_cast<int>(sg / n), static_cast<int>(sr / n)};
    }

private:
    const uint8_t* m_pBits;
    int m_nWidth, m_nHeight, m_nStride;
    bool m_bFlipRows, m_bMirror;
};

// Reads the byte of band nBand; false when a cell is neither dark nor bright.
bool ReadByte(const CPatternView& view, SGeometry geo, int nBand, uint8_t* pByte) {
    unsigned v = 0;
    for (int c = 0; c < kCells; ++c) {
        const int nLuma = view.Mean(c * geo.nCell, nBand * geo.nBand, (c + 1) * geo.nCell,
                                    (nBand + 1) * geo.nBand)
                              .Luma();
        if (nLuma > kBright) {
            v |= 0x80u >> c;
        } else if (nLuma >= kDark) {
            return false;
        }
    }
    *pByte = static_cast<uint8_t>(v);
    return true;
}

bool IsPure(SMean m, int nChannel) {
    const int v[3] = {m.b, m.g, m.r};
    for (int i = 0; i < 3; ++i) {
        if (i == nChannel ? v[i] <= kBright - 15 : v[i] >= kDark + 10) return false;
    }
    return true;
}

}  // namespace

uint8_t FramePatternCheckByte(int nIndex) {
    const unsigned lo = static_cast<unsigned>(nIndex) & 0xFFu;
    const unsigned hi = (static_cast<unsigned>(nIndex) >> 8) & 0xFFu;
    // One-to-one in each byte while the other is fixed (odd multipliers mod
    // 256), so changing either index byte alone always changes the check.
    return static_cast<uint8_t>(((lo * 0x1Du) + (hi * 0x3Bu)) ^ 0x5Au);
}

void DrawFramePattern(uint8_t* pBgrTopDown, int nWidth, int nHeight, int nStride, int nIndex) {
    if (!pBgrTopDown || nWidth < kPatternMinWidth || nHeight < kPatternMinHeight ||
        nStride < 3 * nWidth) {
        return;
    }
    const SGeometry geo = GeometryOf(nWidth, nHeight);
    const unsigned idx = static_cast<unsigned>(nIndex) & 0xFFFFu;
    Fill(pBgrTopDown, nStride, 0, 0, nWidth, nHeight, 128, 128, 128);
    const int nThird = nWidth / 3;
    Fill(pBgrTopDown, nStride, 0, 0, nThird, geo.nBand, 0, 0, 255);
    Fill(pBgrTopDown, nStride, nThird, 0, 2 * nThird, geo.nBand, 0, 255, 0);
    Fill(pBgrTopDown, nStride, 2 * nThird, 0, 3 * nThird, geo.nBand, 255, 0, 0);
    const uint8_t bytes[4] = {static_cast<uint8_t>(idx), kMarker, static_cast<uint8_t>(idx >> 8),
                              FramePatternCheckByte(static_cast<int>(idx))};
    for (int nRow = 0; nRow < 4; ++nRow) {
        for (int c = 0; c < kCells; ++c) {
            const uint8_t v = (bytes[nRow] & (0x80u >> c)) ? 255 : 0;
            Fill(pBgrTopDown, nStride, c * geo.nCell, (nRow + 1) * geo.nBand, (c + 1) * geo.nCell,
                 (nRow + 2) * geo.nBand, v, v, v);
        }
    }
}

SPatternReading ReadFramePattern(const uint8_t* pBgrBottomUp, int nWidth, int nHeight,
                                 int nStride) {
    SPatternReading result;
    if (!pBgrBottomUp || nWidth < kPatternMinWidth || nHeight < kPatternMinHeight ||
        nStride < 3 * nWidth) {
        return result;
    }
    const SGeometry geo = GeometryOf(nWidth, nHeight);
    struct {
        EPatternOrientation e;
        bool bFlip, bMirror;
    } const orientations[] = {
        {EPatternOrientation::Upright, false, false},
        {EPatternOrientation::UpsideDown, true, false},
        {EPatternOrientation::Mirrored, false, true},
        {EPatternOrientation::Rotated180, true, true},
    };
    for (const auto& o : orientations) {
        const CPatternView view(pBgrBottomUp, nWidth, nHeight, nStride, o.bFlip, o.bMirror);
        uint8_t bytes[4];
        bool bClean = true;
        for (int i = 0; i < 4 && bClean; ++i) bClean = ReadByte(view, geo, i + 1, &bytes[i]);
        if (!bClean || bytes[1] != kMarker) continue;
        const int nIndex = (bytes[2] << 8) | bytes[0];
        if (bytes[3] != FramePatternCheckByte(nIndex)) continue;
        // The strip's left third is red and its right third blue as drawn.
        const int nThird = nWidth / 3;
        const SMean left = view.Mean(0, 0, nThird, geo.nBand);
        const SMean mid = view.Mean(nThird, 0, 2 * nThird, geo.nBand);
        const SMean right = view.Mean(2 * nThird, 0, 3 * nThird, geo.nBand);
        if (!IsPure(mid, 1)) continue;
        bool bSwapped;
        if (IsPure(left, 2) && IsPure(right, 0)) {
            bSwapped = false;
        } else if (IsPure(left, 0) && IsPure(right, 2)) {
            bSwapped = true;
        } else {
            continue;
        }
        result.nIndex = nIndex;
        result.eOrientation = o.e;
        result.bChannelsSwapped = bSwapped;
        return result;
    }
    return result;
}

int ReadFrameIndex(const uint8_t* pBgrBottomUp, int nWidth, int nHeight, int nStride) {
    const SPatternReading r = ReadFramePattern(pBgrBottomUp, nWidth, nHeight, nStride);
    if (r.eOrientation != EPatternOrientation::Upright || r.bChannelsSwapped) return -1;
    return r.nIndex;
}
