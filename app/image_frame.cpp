#include "app/image_frame.h"

#include <cstring>

#include "pelora/tavro_plugin.h"

namespace {

// A 5-bit channel spread over 8 bits so that 31 becomes 255.
BYTE Expand5(unsigned v) { return static_cast<BYTE>((v << 3) | (v >> 2)); }

// Colour-table entry i as blue, green, red.
void PutTableEntry(const BYTE* pTable, unsigned i, BYTE* pDst) {
    pDst[0] = pTable[4 * i + 0];
    pDst[1] = pTable[4 * i + 1];
    pDst[2] = pTable[4 * i + 2];
}

// One source row of W pixels into one frame row (3 * W bytes).
void ConvertRow(const BYTE* pSrc, int nBitCount, const BYTE* pTable, INT nWidth, BYTE* pDst) {
    switch (nBitCount) {
        case 1:
            for (INT x = 0; x < nWidth; ++x) {
                PutTableEntry(pTable, (pSrc[x >> 3] >> (7 - (x & 7))) & 1u, pDst + 3 * x);
            }
            break;
        case 4:
            for (INT x = 0; x < nWidth; ++x) {
                const unsigned b = pSrc[x >> 1];
                PutTableEntry(pTable, (x & 1) ? (b & 0x0Fu) : (b >> 4), pDst + 3 * x);
            }
            break;
        case 8:
            for (INT x = 0; x < nWidth; ++x) PutTableEntry(pTable, pSrc[x], pDst + 3 * x);
            break;
        case 16:  // 5-5-5, little-endian words
            for (INT x = 0; x < nWidth; ++x) {
                const unsigned w = pSrc[2 * x] | (static_cast<unsigned>(pSrc[2 * x + 1]) << 8);
                pDst[3 * x + 0] = Expand5(w & 0x1Fu);
                pDst[3 * x + 1] = Expand5((w >> 5) & 0x1Fu);
                pDst[3 * x + 2] = Expand5((w >> 10) & 0x1Fu);
            }
            break;
        case 24:
            std::memcpy(pDst, pSrc, static_cast<size_t>(3) * nWidth);
            break;
        default:  // 32: blue, green, red, unused
            for (INT x = 0; x < nWidth; ++x) std::memcpy(pDst + 3 * x, pSrc + 4 * x, 3);
            break;
    }
}

}  // namespace

EImageStatus ConvertImageToFrame(const BYTE* pHeader, INT nHeaderSize, const BYTE* pPixels,
                                 INT nPixelSize, BITMAPINFO& bmiFrame,
                                 std::unique_ptr<BYTE[]>& pFrame, INT& nFrameSize) {
    if (pHeader == nullptr || pPixels == nullptr || nHeaderSize < 40)
        return EImageStatus::BadHeader;
    BITMAPINFOHEADER bih;
    std::memcpy(&bih, pHeader, sizeof bih);
    const EImageStatus layout = CheckBitmapLayout(bih, nHeaderSize, nPixelSize);
    if (layout != EImageStatus::Ok) return layout;

    // CheckBitmapLayout bounds both sides by kMaxImageSide, so every size
    // below fits 32 bits and the source rows lie inside nPixelSize.
    const INT nWidth = bih.biWidth;
    const bool bTopDown = bih.biHeight < 0;
    const INT nHeight = bTopDown ? -bih.biHeight : bih.biHeight;
    const int nBitCount = bih.biBitCount;
    const size_t nSrcStride = static_cast<size_t>(BitmapRowBytes(nWidth, nBitCount));
    const INT nStride = static_cast<INT>(TavroRowStride(nWidth));
    const INT nSize = nStride * nHeight;
    const BYTE* pTable = pHeader + 40;

    auto pNew = std::make_unique<BYTE[]>(static_cast<size_t>(nSize));  // padding stays 0
    for (INT k = 0; k < nHeight; ++k) {
        // Frame row k counts from the bottom; a top-down source stores the
        // bottom row last.
        const INT nSrcRow = bTopDown ? nHeight - 1 - k : k;
        ConvertRow(pPixels + nSrcRow * nSrcStride, nBitCount, pTable, nWidth,
                   pNew.get() + static_cast<size_t>(k) * nStride);
    }

    std::memset(&bmiFrame, 0, sizeof bmiFrame);
    bmiFrame.bmiHeader.biSize = 40;
    bmiFrame.bmiHeader.biWidth = nWidth;
    bmiFrame.bmiHeader.biHeight = nHeight;
    bmiFrame.bmiHeader.biPlanes = 1;
    bmiFrame.bmiHeader.biBitCount = 24;
    bmiFrame.bmiHeader.biCompression = BI_RGB;
    bmiFrame.bmiHeader.biSizeImage = static_cast<DWORD>(nSize);
    pFrame = std::move(pNew);
    nFrameSize = nSize;
    return EImageStatus::Ok;
}

EImageStatus LoadStillFrame(const std::string& path, EImageFileKind kind,
                            const CanvasQuestion& askCanvas, CStillFrame& frame) {
    std::unique_ptr<BYTE[]> pHeader;
    std::unique_ptr<BYTE[]> pPixels;
    INT nHeaderSize = 0;
    INT nPixelSize = 0;
    const EImageStatus read =
        kind == EImageFileKind::Bitmap
            ? ReadBmpImage(path, pHeader, nHeaderSize, pPixels, nPixelSize)
            : ReadCsvImage(path, pHeader, nHeaderSize, pPixels, nPixelSize, askCanvas);
    if (read != EImageStatus::Ok) return read;
    return ConvertImageToFrame(pHeader.get(), nHeaderSize, pPixels.get(), nPixelSize, frame.m_bmi,
                               frame.m_pBits, frame.m_nSize);
}
