// platform/ffmpeg: the numbered test picture of the virtual camera, drawn in
// any pixel code the converter reads, and read back from a converted frame.
//
// Picture of frame n (W x H, W >= 64, H >= 16): the top half holds 16 cells
// side by side, one per bit of n mod 65536 (most significant first), white
// for 1 and black for 0; the bottom half is red on its left third, mid grey
// in the middle and blue on its right third. Reading checks the red and blue
// thirds first, so a frame that arrives upside down or with red and blue
// exchanged does not read as any number.
//
// CFramePainter keeps its conversion and encoder contexts between frames;
// one owner at a time (the virtual device calls it under its own lock).
// May include: the C++ standard library, platform/win, platform/media,
// FFmpeg. No Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/media/raw_frame_layout.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

class CFramePainter {
public:
    CFramePainter();
    ~CFramePainter();
    CFramePainter(const CFramePainter&) = delete;
    CFramePainter& operator=(const CFramePainter&) = delete;

    // Draws frame n in the layout into pDst (nCapacity bytes). Row padding
    // is filled with 0xEE, so a reader that ignores bytesperline sees it.
    // Returns the bytes used (sizeimage for raw codes, the JPEG's length for
    // MJPG/JPEG), or 0 when the layout cannot be drawn or does not fit.
    size_t Paint(uint32_t n, const SRawFrameLayout& layout, uint8_t* pDst, size_t nCapacity);

    // The picture of frame n as top-down BGR24 rows of 3 x W bytes.
    static void DrawBgr(uint32_t n, uint32_t nWidth, uint32_t nHeight, uint8_t* pTopDown);

private:
    size_t PaintJpeg(const SRawFrameLayout& layout, uint8_t* pDst, size_t nCapacity);
    SwsContext* ContextFor(uint32_t w, uint32_t h, int nAvFormat, bool bFullRange);

    std::vector<uint8_t> m_Bgr;     // the picture, top-down
    std::vector<uint8_t> m_Planes;  // planar intermediate for Y41P and VUYA
    std::vector<uint8_t> m_Raw;     // the raw frame before it is copied out
    SwsContext* m_pSws = nullptr;
    uint32_t m_nSwsW = 0, m_nSwsH = 0;
    int m_nSwsFormat = -1;
    AVCodecContext* m_pEncoder = nullptr;
    uint32_t m_nEncW = 0, m_nEncH = 0;
    AVFrame* m_pFrame = nullptr;
    AVPacket* m_pPacket = nullptr;
};

// The number shown by a packed bottom-up BGR24 frame (3 x W bytes a row),
// or nothing when the frame does not show the picture the right way up and
// in blue-green-red order. A frame from a grey-only code (bMonochrome) is
// checked for orientation only: its red third is lighter than its blue
// third.
std::optional<uint32_t> ReadFrameNumber(const uint8_t* pBottomUpBgr, uint32_t nWidth,
                                        uint32_t nHeight, bool bMonochrome = false);
