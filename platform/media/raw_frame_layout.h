// platform/media: where the bytes of one raw camera frame are, for every
// four-character pixel code the capture path handles.
//
// A frame is described as the driver reports it: pixel code, width, height,
// bytesperline (bytes of one row of the first plane, padding included) and
// sizeimage (bytes the whole frame needs). Planar codes keep their chroma
// planes right after the luma plane with rows of bytesperline / 2 (4:2:0),
// bytesperline / 4 (4:1:0) or bytesperline (NV12/NV21); chroma plane
// heights round up, so odd heights keep their last chroma row. Compressed
// codes (MJPG, JPEG) have bytesperline 0 and a sizeimage that bounds one
// compressed frame.
// Both the virtual camera (to lay frames out) and the frame converter (to
// read them) use these numbers, so the two cannot disagree.
// May include: the C++ standard library, platform/win, platform/com. No Qt.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/media/media_guids.h"

struct SRawFrameLayout {
    DWORD dwFourcc = 0;
    uint32_t nWidth = 0;
    uint32_t nHeight = 0;
    uint32_t nBytesPerLine = 0;  // first plane; 0 for compressed codes
    uint32_t nSizeImage = 0;
};

struct SRawPlane {
    size_t nOffset = 0;  // from the start of the frame
    uint32_t nStride = 0;
    uint32_t nRows = 0;
};

// The pixel codes with a known layout.
bool IsKnownRawFourcc(DWORD dwFourcc);
bool IsCompressedFourcc(DWORD dwFourcc);
// The smallest bytesperline for a row of nWidth pixels (0 when unknown or
// compressed).
uint32_t MinBytesPerLine(DWORD dwFourcc, uint32_t nWidth);
// The driver's bytesperline rounded so that chroma planes keep whole bytes
// (even for 4:2:0, a multiple of 4 for 4:1:0); at least MinBytesPerLine.
uint32_t AlignBytesPerLine(DWORD dwFourcc, uint32_t nWidth, uint32_t nBytesPerLine);
// The bytes a frame needs with this bytesperline (for compressed codes a
// generous bound on one frame). 0 when unknown or when it would not fit 32
// bits.
uint32_t RawSizeImage(DWORD dwFourcc, uint32_t nWidth, uint32_t nHeight, uint32_t nBytesPerLine);
// A complete layout with minimal rows plus nPadding bytes per row.
SRawFrameLayout MakeRawLayout(DWORD dwFourcc, uint32_t nWidth, uint32_t nHeight,
                              uint32_t nPadding = 0);
// The planes of a raw layout (1 to 3); 0 for compressed or unknown codes.
// Plane 1 is the first chroma plane in memory order.
int RawPlanes(const SRawFrameLayout& layout, SRawPlane* pPlanes);
