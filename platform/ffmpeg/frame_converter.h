// platform/ffmpeg: CFrameConverter, the one place that turns pictures into
// the system's bottom-up BGR24 frames: it sets swscale up, orders the rows
// and packs or pads them. Two users:
//
// - Camera frames (Init, Convert): one frame in its driver layout to the
//   packed frame the sample grabber hands out. Input: any raw pixel code
//   with a layout in platform/media/raw_frame_layout.h that swscale reads
//   (and Y41P and VUYA, unpacked here first), or MJPG/JPEG through
//   libavcodec's decoder. Rows are read with the layout's bytesperline, and
//   never a byte past the bytesused given with the frame. Output: W x H
//   pixels, rows packed (3 x W bytes a row, no padding): exactly W x H x 3
//   bytes. YUV input is taken as BT.601 limited range (Y 16 is black, 235
//   white, U = V = 128 grey), JPEG as full range, as swscale and the JPEG
//   decoder do.
// - Decoded pictures of the file decoder (InitPictures, ConvertPicture):
//   any size and pixel format libavcodec hands out, scaled to the output
//   size, rows padded to the stride asked (the pad bytes are zero), with
//   the ffmpeg command's default conversion, so a file's frames match what
//   that command makes of them.
//
// Every output is bottom-up (the picture's top row is the last row in
// memory), 3 bytes a pixel in blue, green, red order, and nothing is
// written past H x stride bytes. Rows of a width that is a multiple of 16
// pixels, unpadded, in a 16-byte aligned buffer are written by swscale in
// place. Other widths go through a buffer of its own with wide aligned
// rows, copied out after: its SIMD writers convert groups of pixels and,
// given tight rows, leave the last pixels of a row unconverted at some
// widths (322, 326, ...) or store a few bytes past a row's end.
//
// Threads: one owner at a time (the capture streaming thread while it runs,
// the graph thread while it does not; the file decoder's owner). No locks
// inside.
// May include: the C++ standard library, platform/win, platform/media,
// FFmpeg. No Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/media/raw_frame_layout.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

class CFrameConverter {
public:
    CFrameConverter();
    ~CFrameConverter();
    CFrameConverter(const CFrameConverter&) = delete;
    CFrameConverter& operator=(const CFrameConverter&) = delete;

    // How swscale computes the pixels.
    enum class EQuality {
        // Bilinear, accurate rounding, full chroma interpolation: known YUV
        // values give exact BGR values (camera frames).
        Exact,
        // Bicubic, as the ffmpeg command converts by default (file frames).
        CommandDefault,
    };

    // Whether frames of this pixel code can be converted at all.
    static bool IsConvertible(DWORD dwFourcc);

    // Prepares for frames of this layout. S_OK; VFW_E_TYPE_NOT_ACCEPTED for a
    // code we cannot convert or a layout that does not hold (bytesperline
    // below the row, sizeimage below the planes), E_OUTOFMEMORY.
    HRESULT Init(const SRawFrameLayout& layout);
    const SRawFrameLayout& Layout() const { return m_Layout; }
    // Bytes of one converted frame (H x stride: W x H x 3 for camera frames).
    size_t OutputSize() const { return size_t{m_nOutHeight} * m_nOutStride; }

    // Converts one frame of nBytesUsed valid bytes into pDst (OutputSize()
    // bytes). S_OK; S_FALSE for a raw frame shorter than the layout needs, a
    // compressed frame without its start and end markers (cut short) or one
    // that does not decode to the layout's size (pDst is then unspecified);
    // E_UNEXPECTED before Init.
    // E_UNEXPECTED before Init or after InitPictures.
    HRESULT Convert(const uint8_t* pSrc, size_t nBytesUsed, uint8_t* pDst);

    // Prepares for decoded pictures, scaled to nWidth x nHeight, each row
    // nStride bytes (at least 3 x nWidth). S_OK; E_INVALIDARG for an empty or
    // too large size or a short stride.
    HRESULT InitPictures(uint32_t nWidth, uint32_t nHeight, uint32_t nStride, EQuality quality);
    // Converts a decoded picture (any size and pixel format) into pDst
    // (OutputSize() bytes). S_OK; E_FAIL when swscale cannot convert it;
    // E_OUTOFMEMORY; E_UNEXPECTED before an Init.
    HRESULT ConvertPicture(const AVFrame* pPicture, uint8_t* pDst);

    // Frees the scaler, decoder and buffers; an Init comes before the next
    // conversion.
    void Reset();

private:
    HRESULT ConvertRaw(const uint8_t* pSrc, uint8_t* pDst);
    HRESULT ConvertCompressed(const uint8_t* pSrc, size_t nBytesUsed, uint8_t* pDst);
    // Scales an nSrcWidth x nSrcHeight picture of format nAvFormat into pDst
    // (the output size and stride, bottom-up BGR24).
    HRESULT Scale(int nAvFormat, int nSrcWidth, int nSrcHeight, const uint8_t* const* ppPlanes,
                  const int* pStrides, uint8_t* pDst);

    struct SAvFreeDeleter {
        void operator()(uint8_t* p) const;
    };

    SRawFrameLayout m_Layout;  // camera frames only
    bool m_bReady = false;
    bool m_bPictures = false;  // set up by InitPictures
    uint32_t m_nOutWidth = 0, m_nOutHeight = 0, m_nOutStride = 0;
    int m_nSwsFlags = 0;
    SwsContext* m_pSws = nullptr;  // for the source below
    int m_nSwsFormat = -1, m_nSwsWidth = 0, m_nSwsHeight = 0;
    std::unique_ptr<uint8_t, SAvFreeDeleter> m_pWork;  // swscale's top-down rows
    size_t m_cbWork = 0;
    AVCodecContext* m_pDecoder = nullptr;  // compressed codes only
    AVPacket* m_pPacket = nullptr;
    AVFrame* m_pFrame = nullptr;
    std::vector<uint8_t> m_Scratch;  // unpacked planes (Y41P, VUYA) or padded packet data
    static constexpr size_t kInputSlack = 64;
    std::vector<uint8_t> m_Input;  // a raw frame's copy, with slack after it
};
