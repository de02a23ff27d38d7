// tavro: TavroFunc and its three passes. See tavro.h for the plane layout.
//
// Speed without changing a single output bit. The luminance is the integer
// rule of luma_rule.h, equal to the truncated double-precision chain
// (0.299*r + 0.587*g) + 0.114*b for every colour, computed by the widest
// kernels this processor runs (pixel_kernels.h). The frame is walked in
// tiles of kTileRows rows by kTileCols columns: inside a tile the pixel
// arithmetic runs along contiguous rows, and the transposition between the
// tile and a plane moves square blocks through registers, so each column run
// of the plane is written (or read) in contiguous pieces instead of one byte
// every H bytes across the whole plane.

#define TAVRO_PLUGIN_IMPLEMENTATION
#include "tavro/tavro.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "pelora/tavro_plugin.h"
#include "tavro/pixel_kernels.h"

namespace tavro {

namespace {

// A tile is 32 x 512 = 16 KB and stays in the first-level cache. Wide tiles
// keep the input and output rows long enough for the hardware prefetcher;
// 32 rows make every piece of a plane run half a cache line, and the W lines
// those pieces fall in stay in the second-level cache from one band of rows
// to the next.
constexpr int64_t kTileRows = 32;
constexpr int64_t kTileCols = 512;

constexpr uint8_t kThreshold = 128;

}  // namespace

void ConvertToGrey(const uint8_t* pInput, uint8_t* pGrey, int32_t nWidth,
                   int32_t nHeight) noexcept {
    const int64_t nW = nWidth;
    const int64_t nH = nHeight;
    const int64_t nStride = TavroRowStride(nWidth);
    const CPixelKernels kernels = BestPixelKernels();
    // Tile row r holds source row i0 + nRows - 1 - r: column c of the tile is
    // then already in plane order (the last source row first).
    alignas(64) uint8_t abTile[kTileRows * kTileCols];
    for (int64_t i0 = 0; i0 < nH; i0 += kTileRows) {
        const int64_t nRows = std::min(kTileRows, nH - i0);
        for (int64_t j0 = 0; j0 < nW; j0 += kTileCols) {
            const int64_t nCols = std::min(kTileCols, nW - j0);
            // The next tile's input (the rest of these rows, or the start of
            // the next band) is touched ahead while this tile is converted:
            // the hardware prefetcher does not keep up with kTileRows short
            // row segments at once, and waiting for them took about a quarter
            // of this pass.
            const bool bLastInBand = j0 + kTileCols >= nW;
            const int64_t nNextI0 = bLastInBand ? i0 + kTileRows : i0;
            const int64_t nNextJ0 = bLastInBand ? 0 : j0 + kTileCols;
            const int64_t nNextRows = std::min(kTileRows, nH - nNextI0);
            const int64_t nNextBytes = 3 * std::min(kTileCols, nW - nNextJ0);
            for (int64_t r = 0; r < nRows; ++r) {
                if (r < nNextRows) {
                    const uint8_t* pNext = pInput + (nNextI0 + r) * nStride + 3 * nNextJ0;
                    for (int64_t n = 0; n < nNextBytes; n += 64) __builtin_prefetch(pNext + n);
                }
                kernels.m_pfnLuma(pInput + (i0 + nRows - 1 - r) * nStride + 3 * j0,
                                  abTile + r * kTileCols, nCols);
            }
            // Source row i0 + nRows - 1 is at index H - i0 - nRows of every run.
            kernels.m_pfnTranspose(abTile, kTileCols, pGrey + j0 * nH + (nH - i0 - nRows), nH,
                                   nRows, nCols);
        }
    }
}

void Binarize(const uint8_t* pGrey, uint8_t* pBilevel, int32_t nWidth, int32_t nHeight,
              uint8_t nThreshold) noexcept {
    // The W runs of H bytes lie back to back: one flat pass over W*H bytes.
    const int64_t nCount = static_cast<int64_t>(nWidth) * nHeight;
    for (int64_t k = 0; k < nCount; ++k) pBilevel[k] = pGrey[k] < nThreshold ? 0 : 255;
}

void ConvertToRgb24(const uint8_t* pBilevel, uint8_t* pOutput, int32_t nWidth,
                    int32_t nHeight) noexcept {
    const int64_t nW = nWidth;
    const int64_t nH = nHeight;
    const int64_t nStride = TavroRowStride(nWidth);
    const int64_t nPad = nStride - 3 * nW;
    const CPixelKernels kernels = BestPixelKernels();
    // Same tile layout as in ConvertToGrey: tile row r is output row
    // i0 + nRows - 1 - r.
    alignas(64) uint8_t abTile[kTileRows * kTileCols];
    for (int64_t i0 = 0; i0 < nH; i0 += kTileRows) {
        const int64_t nRows = std::min(kTileRows, nH - i0);
        for (int64_t j0 = 0; j0 < nW; j0 += kTileCols) {
            const int64_t nCols = std::min(kTileCols, nW - j0);
            kernels.m_pfnTranspose(pBilevel + j0 * nH + (nH - i0 - nRows), nH, abTile, kTileCols,
                                   nCols, nRows);
            for (int64_t r = 0; r < nRows; ++r) {
                kernels.m_pfnExpand(abTile + r * kTileCols,
                                    pOutput + (i0 + nRows - 1 - r) * nStride + 3 * j0, nCols);
            }
        }
        if (nPad > 0) {
            for (int64_t i = i0; i < i0 + nRows; ++i) {
                std::memset(pOutput + i * nStride + 3 * nW, 0, static_cast<size_t>(nPad));
            }
        }
    }
    OrderStreamedWrites();
}

}  // namespace tavro

// The export. Never throws: the scratch planes come from the non-throwing
// new, and nothing else here can fail. The output is written only when the
// planes were allocated; otherwise (and for a frame without pixels) it is left
// untouched and -1 is returned, which the viewer ignores.
extern "C" TAVRO_EXPORT int32_t TavroFunc(uint8_t* pOutput, const uint8_t* pInput,
                                          BITMAPINFO bmi) noexcept {
    const int32_t nWidth = bmi.bmiHeader.biWidth;
    const int32_t nHeight = bmi.bmiHeader.biHeight;
    if (nWidth <= 0 || nHeight <= 0 || pOutput == nullptr || pInput == nullptr) return -1;

    // At most (2^31 - 1)^2 bytes per plane: computed in 64 bits, never wraps.
    const uint64_t nPlane = static_cast<uint64_t>(nWidth) * static_cast<uint64_t>(nHeight);
    if (nPlane > SIZE_MAX / 2) return -1;
    // Both planes live in one block, the grey plane first, allocated and
    // freed by this call. One block rather than two: glibc's allocator hands
    // two freed blocks of W*H bytes back to the system after every call
    // (together they exceed its trim threshold, which follows the largest
    // block freed), so the next call page-faults them in again, about a
    // thousand faults for a 1920x1080 frame and ten milliseconds on a virtual
    // machine. A single block of twice the size stays in the heap.
    std::unique_ptr<uint8_t[]> pPlanes(new (std::nothrow) uint8_t[2 * nPlane]);
    if (!pPlanes) return -1;
    uint8_t* const pGrey = pPlanes.get();
    uint8_t* const pBilevel = pPlanes.get() + nPlane;

    tavro::ConvertToGrey(pInput, pGrey, nWidth, nHeight);
    tavro::Binarize(pGrey, pBilevel, nWidth, nHeight, tavro::kThreshold);
    tavro::ConvertToRgb24(pBilevel, pOutput, nWidth, nHeight);
    return 0;
}
