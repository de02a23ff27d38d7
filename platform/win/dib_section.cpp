#include "platform/win/dib_section.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <new>

// The handle is the address of this record.
struct HBITMAP__ {
    void* pBits;  // calloc'ed pixels, freed by DeleteObject
    size_t cbBits;
};

namespace {

std::atomic<LONG> g_cDIBSections{0};

constexpr LONGLONG kMaxImageSize = 0x7FFFFFFF;

}  // namespace

LONGLONG DIBStride(LONG width, WORD bitCount) {
    if (width <= 0 || !IsSupportedBitCount(bitCount)) return -1;
    // At most 2^31 * 32 bits: no overflow in 64 bits.
    const LONGLONG stride = ((static_cast<LONGLONG>(width) * bitCount + 31) / 32) * 4;
    return stride > kMaxImageSize ? -1 : stride;
}

LONGLONG DIBImageSize(LONG width, LONG height, WORD bitCount) {
    if (height == 0 || height == INT32_MIN) return -1;
    const LONGLONG stride = DIBStride(width, bitCount);
    if (stride < 0) return -1;
    const LONGLONG rows = height < 0 ? -static_cast<LONGLONG>(height) : height;
    return stride * rows;  // both below 2^31: fits in 64 bits
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection,
                         DWORD) {
    if (ppvBits) *ppvBits = nullptr;
    if (!pbmi || usage != DIB_RGB_COLORS || hSection) return nullptr;
    const BITMAPINFOHEADER& bih = pbmi->bmiHeader;
    const LONGLONG cb = DIBImageSize(bih.biWidth, bih.biHeight, bih.biBitCount);
    if (cb <= 0 || cb > kMaxImageSize) return nullptr;

    auto* pSection = new (std::nothrow) HBITMAP__{nullptr, static_cast<size_t>(cb)};
    if (!pSection) return nullptr;
    pSection->pBits = std::calloc(1, static_cast<size_t>(cb));
    if (!pSection->pBits) {
        delete pSection;
        return nullptr;
    }
    g_cDIBSections.fetch_add(1);
    if (ppvBits) *ppvBits = pSection->pBits;
    return pSection;
}

BOOL DeleteObject(HBITMAP hBitmap) {
    if (!hBitmap) return FALSE;
    std::free(hBitmap->pBits);
    delete hBitmap;
    g_cDIBSections.fetch_sub(1);
    return TRUE;
}

LONG DIBSectionsActive() { return g_cDIBSections.load(); }
