// platform/ffmpeg: CFrameConverter, one camera frame in its driver layout
// to the packed bottom-up BGR24 frame the sample grabber hands out.
//
// Input: any raw pixel code with a layout in platform/media/raw_frame_layout.h
// that swscale reads (and Y41P and VUYA, unpacked here first), or MJPG/JPEG
// through libavcodec's decoder. Rows are read with the layout's
// bytesperline, and never a byte past the bytesused given with the frame.
// Output: W x H pixels, 3 bytes each (blue, green, red), rows bottom-up and
// packed (3 x W bytes a row, no padding): exactly W x H x 3 bytes.
// YUV input is taken as BT.601 limited range (Y 16 is black, 235 white,
// U = V = 128 grey), JPEG as full range, as swscale and the JPEG decoder do.
//
// Threads: one owner at a time (the capture streaming thread while it runs,
// the graph thread while it does not). No locks inside.
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

    // Whether frames of this pixel code can be converted at all.
    static bool IsConvertible(DWORD dwFourcc);

    // Prepares for frames of this layout. S_OK; VFW_E_TYPE_NOT_ACCEPTED for a
    // code we cannot convert or a layout that does not hold (bytesperline
    // below the row, sizeimage below the planes), E_OUTOFMEMORY.
    HRESULT Init(const SRawFrameLayout& layout);
    const SRawFrameLayout& Layout() const { return m_Layout; }
    // Bytes of one converted frame (W x H x 3).
    size_t OutputSize() const { return size_t{m_Layout.nWidth} * m_Layout.nHeight * 3; }

    // Converts one frame of nBytesUsed valid bytes into pDst (OutputSize()
    // bytes). S_OK; S_FALSE for a raw frame shorter than the layout needs, a
    // compressed frame without its start and end markers (cut short) or one
    // that does not decode to the layout's size (pDst is then unspecified);
    // E_UNEXPECTED before Init.
    HRESULT Convert(const uint8_t* pSrc, size_t nBytesUsed, uint8_t* pDst);

private:
    HRESULT ConvertRaw(const uint8_t* pSrc, uint8_t* pDst);
    HRESULT ConvertCompressed(const uint8_t* pSrc, size_t nBytesUsed, uint8_t* pDst);
    // Scales planes of format nAvFormat into pDst (bottom-up BGR24).
    HRESULT Scale(int nAvFormat, const uint8_t* const* ppPlanes, const int* pStrides,
                  uint8_t* pDst);
    void Reset();

    SRawFrameLayout m_Layout;
    bool m_bReady = false;
    SwsContext* m_pSws = nullptr;  // for m_nSwsFormat
    int m_nSwsFormat = -1;
    AVCodecContext* m_pDecoder = nullptr;  // compressed codes only
    AVPacket* m_pPacket = nullptr;
    AVFrame* m_pFrame = nullptr;
    std::vector<uint8_t> m_Scratch;  // unpacked planes (Y41P, VUYA) or padded packet data
    static constexpr size_t kOutputSlack = 64;
    std::vector<uint8_t> m_Output;  // the converted frame, with slack after it
    std::vector<uint8_t> m_Input;   // a raw frame's copy, with slack after it
};
