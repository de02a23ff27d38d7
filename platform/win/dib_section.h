// platform/win: device-independent bitmap sections, the pixel memory that a
// BITMAPINFO describes.
//
// CreateDIBSection allocates zero-filled pixels of stride x |biHeight| bytes,
// stride = ((biWidth * biBitCount + 31) / 32) * 4. The size is computed from
// the header's width, height and bit count only, never from biSizeImage,
// which a BI_RGB header may leave 0 or set to anything. A negative height (a
// top-down image) is accepted and allocates the same size. The call fails
// (null handle, *ppvBits null) for a null header, a width <= 0, a height of 0
// or INT32_MIN, a bit count other than 1, 4, 8, 16, 24 or 32, a usage other
// than DIB_RGB_COLORS, a file-mapping section, a size above 0x7FFFFFFF bytes
// (sample and copy lengths in the media framework are 32-bit) or a failed
// allocation.
//
// DeleteObject frees a section and its pixels; null is allowed. The pixels
// are valid from creation until DeleteObject; who may read them meanwhile is
// the owner's business (the grab renderer guards its own with a lock).
// Any thread may create and delete sections; the functions keep no shared
// state except the live-section counter.
// May include: the C++ standard library and platform/win only. No Qt.
#pragma once

#include "platform/win/win_types.h"

struct HDC__;
using HDC = HDC__*;  // device contexts do not exist here; always null
struct HBITMAP__;
using HBITMAP = HBITMAP__*;

constexpr UINT DIB_RGB_COLORS = 0;

// The bit counts a BI_RGB bitmap may have: 1, 4, 8, 16, 24, 32.
inline bool IsSupportedBitCount(int nBitCount) {
    return nBitCount == 1 || nBitCount == 4 || nBitCount == 8 || nBitCount == 16 ||
           nBitCount == 24 || nBitCount == 32;
}

// Bytes per row of a DIB of this width and bit count (rows padded to 4
// bytes), or -1 when width or bit count are not valid or the row would not
// fit in 32 bits.
LONGLONG DIBStride(LONG width, WORD bitCount);
// stride x |height| in 64 bits, or -1 when the geometry is not valid.
LONGLONG DIBImageSize(LONG width, LONG height, WORD bitCount);

HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits,
                         HANDLE hSection, DWORD offset);
BOOL DeleteObject(HBITMAP hBitmap);

// Sections created and not yet deleted in this process (a leak check for
// tests, like CUnknown::ObjectsActive).
LONG DIBSectionsActive();
