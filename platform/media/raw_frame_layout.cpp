#include "platform/media/raw_frame_layout.h"

#include <limits>

namespace {

enum class EKind { Unknown, Packed, Planar420, PlanarNv, Planar410, Compressed };

struct SKindInfo {
    EKind kind;
    uint32_t nBitsPerPixel;  // first plane, for Packed; 8 for the planar luma plane
};

SKindInfo KindOf(DWORD c) {
    switch (c) {
        case MakeFourcc('G', 'R', 'E', 'Y'):
            return {EKind::Packed, 8};
        case MakeFourcc('Y', 'U', 'Y', 'V'):
        case MakeFourcc('Y', 'V', 'Y', 'U'):
        case MakeFourcc('U', 'Y', 'V', 'Y'):
        case MakeFourcc('R', 'G', 'B', 'P'):
        case MakeFourcc('X', 'R', '1', '5'):
        case MakeFourcc('R', 'G', 'B', 'O'):
            return {EKind::Packed, 16};
        case MakeFourcc('B', 'G', 'R', '3'):
        case MakeFourcc('R', 'G', 'B', '3'):
            return {EKind::Packed, 24};
        case MakeFourcc('X', 'R', '2', '4'):
        case MakeFourcc('A', 'R', '2', '4'):
        case MakeFourcc('B', 'G', 'R', '4'):
        case MakeFourcc('V', 'U', 'Y', 'A'):
            return {EKind::Packed, 32};
        case MakeFourcc('Y', '4', '1', 'P'):
            return {EKind::Packed, 12};
        case MakeFourcc('Y', 'U', '1', '2'):
        case MakeFourcc('Y', 'V', '1', '2'):
            return {EKind::Planar420, 8};
        case MakeFourcc('N', 'V', '1', '2'):
        case MakeFourcc('N', 'V', '2', '1'):
            return {EKind::PlanarNv, 8};
        case MakeFourcc('Y', 'U', 'V', '9'):
        case MakeFourcc('Y', 'V', 'U', '9'):
            return {EKind::Planar410, 8};
        case MakeFourcc('M', 'J', 'P', 'G'):
        case MakeFourcc('J', 'P', 'E', 'G'):
            return {EKind::Compressed, 0};
        default:
            return {EKind::Unknown, 0};
    }
}

uint32_t CeilDiv(uint32_t a, uint32_t b) { return a / b + (a % b ? 1 : 0); }

}  // namespace

bool IsKnownRawFourcc(DWORD dwFourcc) {
    const EKind k = KindOf(dwFourcc).kind;
    return k != EKind::Unknown && k != EKind::Compressed;
}

bool IsCompressedFourcc(DWORD dwFourcc) { return KindOf(dwFourcc).kind == EKind::Compressed; }

uint32_t MinBytesPerLine(DWORD dwFourcc, uint32_t nWidth) {
    const SKindInfo info = KindOf(dwFourcc);
    switch (info.kind) {
        case EKind::Packed:
            if (dwFourcc == MakeFourcc('Y', '4', '1', 'P')) return CeilDiv(nWidth, 8) * 12;
            if (info.nBitsPerPixel == 16 && dwFourcc != MakeFourcc('R', 'G', 'B', 'P') &&
                dwFourcc != MakeFourcc('X', 'R', '1', '5') &&
                dwFourcc != MakeFourcc('R', 'G', 'B', 'O')) {
                return CeilDiv(nWidth, 2) * 4;  // 4:2:2 macropixels of two pixels
            }
            return nWidth * (info.nBitsPerPixel / 8);
        case EKind::Planar420:
        case EKind::PlanarNv:
        case EKind::Planar410:
            return AlignBytesPerLine(dwFourcc, nWidth, nWidth);
        default:
            return 0;
    }
}

uint32_t AlignBytesPerLine(DWORD dwFourcc, uint32_t nWidth, uint32_t nBytesPerLine) {
    const EKind k = KindOf(dwFourcc).kind;
    uint32_t nMin = nWidth;
    if (k == EKind::Packed) nMin = MinBytesPerLine(dwFourcc, nWidth);
    if (k == EKind::Compressed || k == EKind::Unknown) return 0;
    uint32_t n = nBytesPerLine < nMin ? nMin : nBytesPerLine;
    if (k == EKind::Planar420) n = (n + 1) & ~1u;
    if (k == EKind::Planar410) n = (n + 3) & ~3u;
    return n;
}

uint32_t RawSizeImage(DWORD dwFourcc, uint32_t nWidth, uint32_t nHeight, uint32_t nBytesPerLine) {
    uint64_t n = 0;
    const uint64_t bpl = nBytesPerLine;
    switch (KindOf(dwFourcc).kind) {
        case EKind::Packed:
            n = bpl * nHeight;
            break;
        case EKind::Planar420:
            n = bpl * nHeight + 2 * (bpl / 2) * CeilDiv(nHeight, 2);
            break;
        case EKind::PlanarNv:
            n = bpl * nHeight + bpl * CeilDiv(nHeight, 2);
            break;
        case EKind::Planar410:
            n = bpl * nHeight + 2 * (bpl / 4) * CeilDiv(nHeight, 4);
            break;
        case EKind::Compressed:
            // Worst case of a baseline JPEG is well under 3 bytes a pixel.
            n = uint64_t{nWidth} * nHeight * 3 + 4096;
            break;
        case EKind::Unknown:
            return 0;
    }
    return n > std::numeric_limits<uint32_t>::max() ? 0 : static_cast<uint32_t>(n);
}

SRawFrameLayout MakeRawLayout(DWORD dwFourcc, uint32_t nWidth, uint32_t nHeight,
                              uint32_t nPadding) {
    SRawFrameLayout l;
    l.dwFourcc = dwFourcc;
    l.nWidth = nWidth;
    l.nHeight = nHeight;
    if (!IsCompressedFourcc(dwFourcc)) {
        l.nBytesPerLine =
            AlignBytesPerLine(dwFourcc, nWidth, MinBytesPerLine(dwFourcc, nWidth) + nPadding);
    }
    l.nSizeImage = RawSizeImage(dwFourcc, nWidth, nHeight, l.nBytesPerLine);
    return l;
}

int RawPlanes(const SRawFrameLayout& l, SRawPlane* p) {
    const uint32_t bpl = l.nBytesPerLine;
    const size_t nLuma = size_t{bpl} * l.nHeight;
    switch (KindOf(l.dwFourcc).kind) {
        case EKind::Packed:
            p[0] = {0, bpl, l.nHeight};
            return 1;
        case EKind::Planar420: {
            const uint32_t rows = CeilDiv(l.nHeight, 2);
            p[0] = {0, bpl, l.nHeight};
            p[1] = {nLuma, bpl / 2, rows};
            p[2] = {nLuma + size_t{bpl / 2} * rows, bpl / 2, rows};
            return 3;
        }
        case EKind::PlanarNv:
            p[0] = {0, bpl, l.nHeight};
            p[1] = {nLuma, bpl, CeilDiv(l.nHeight, 2)};
            return 2;
        case EKind::Planar410: {
            const uint32_t rows = CeilDiv(l.nHeight, 4);
            p[0] = {0, bpl, l.nHeight};
            p[1] = {nLuma, bpl / 4, rows};
            p[2] = {nLuma + size_t{bpl / 4} * rows, bpl / 4, rows};
            return 3;
        }
        default:
            return 0;
    }
}
