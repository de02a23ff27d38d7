// tavro: TavroFunc and its three passes. See tavro.h for the plane layout.
//
// Speed without changing a single output bit: every pixel still goes through
// the double-precision chain (0.299*r + 0.587*g) + 0.114*b (built without
// floating-point contraction, so no fused multiply-add rounds differently),
// truncated toward zero, low 8 bits kept. What makes the passes fast is the
// traversal: the frame is walked in tiles of kTileRows rows by kTileCols
// columns. Inside a tile the pixel arithmetic runs along contiguous rows,
// where the compiler vectorises it (row_kernels.h), and the transposition
// between the tile and a plane moves 8 x 8 byte blocks, so each column run
// of the plane is written (or read) in contiguous pieces instead of one byte
// every H bytes across the whole plane.

#define TAVRO_PLUGIN_IMPLEMENTATION
#include "tavro/tavro.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "pelora/tavro_plugin.h"
#include "tavro/row_kernels.h"

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

// Swaps the bit fields selected by nMask in b with those nShift bits higher
// in a: one step of the 8 x 8 byte transposition.
inline void SwapFields(uint64_t& a, uint64_t& b, int nShift, uint64_t nMask) noexcept {
    const uint64_t t = ((a >> nShift) ^ b) & nMask;
    b ^= t;
    a ^= t << nShift;
}

// The swap steps treat byte k of an 8-byte load as bits 8k to 8k+7.
static_assert(std::endian::native == std::endian::little);

// pDst[c * nDstStride + r] = pSrc[r * nSrcStride + c] for r < nRows,
// c < nCols. Full 8 x 8 blocks go through 64-bit registers (three swap
// steps); the ragged edges byte by byte.
void TransposeBlock(const uint8_t* pSrc, int64_t nSrcStride, uint8_t* pDst, int64_t nDstStride,
                    int64_t nRows, int64_t nCols) noexcept {
    const int64_t nRows8 = nRows & ~int64_t{7};
    const int64_t nCols8 = nCols & ~int64_t{7};
    for (int64_t r = 0; r < nRows8; r += 8) {
        for (int64_t c = 0; c < nCols8; c += 8) {
            uint64_t x[8];
            for (int k = 0; k < 8; ++k) std::memcpy(&x[k], pSrc + (r + k) * nSrcStride + c, 8);
            for (int k = 0; k < 8; k += 2) SwapFields(x[k], x[k + 1], 8, 0x00FF00FF00FF00FFull);
            for (int k : {0, 1, 4, 5}) SwapFields(x[k], x[k + 2], 16, 0x0000FFFF0000FFFFull);
            for (int k = 0; k < 4; ++k) SwapFields(x[k], x[k + 4], 32, 0x00000000FFFFFFFFull);
            for (int k = 0; k < 8; ++k) std::memcpy(pDst + (c + k) * nDstStride + r, &x[k], 8);
        }
        for (int64_t c = nCols8; c < nCols; ++c) {
            for (int64_t k = r; k < r + 8; ++k) pDst[c * nDstStride + k] = pSrc[k * nSrcStride + c];
        }
    }
    for (int64_t c = 0; c < nCols; ++c) {
        for (int64_t r = nRows8; r < nRows; ++r)
            pDst[c * nDstStride + r] = pSrc[r * nSrcStride + c];
    }
}

}  // namespace

void ConvertToGrey(const uint8_t* pInput, uint8_t* pGrey, int32_t nWidth,
                   int32_t nHeight) noexcept {
    const int64_t nW = nWidth;
    const int64_t nH = nHeight;
    const int64_t nStride = TavroRowStride(nWidth);
    const CRowKernels kernels = BestRowKernels();
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
            TransposeBlock(abTile, kTileCols, pGrey + j0 * nH + (nH - i0 - nRows), nH, nRows,
                           nCols);
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
    const CRowKernels kernels = BestRowKernels();
    // Same tile layout as in ConvertToGrey: tile row r is output row
    // i0 + nRows - 1 - r.
    alignas(64) uint8_t abTile[kTileRows * kTileCols];
    for (int64_t i0 = 0; i0 < nH; i0 += kTileRows) {
        const int64_t nRows = std::min(kTileRows, nH - i0);
        for (int64_t j0 = 0; j0 < nW; j0 += kTileCols) {
            const int64_t nCols = std::min(kTileCols, nW - j0);
            TransposeBlock(pBilevel + j0 * nH + (nH - i0 - nRows), nH, abTile, kTileCols, nCols,
                           nRows);
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
