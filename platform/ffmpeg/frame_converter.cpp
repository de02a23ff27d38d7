#include "platform/ffmpeg/frame_converter.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kExactFlags = SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;
constexpr int kCommandDefaultFlags = SWS_BICUBIC;
constexpr uint32_t kMaxSide = 16384;

// The swscale format of a pixel code read as it is laid out in memory, and
// whether its two chroma planes come V first (YV12, YVU9).
struct SAvMapping {
    AVPixelFormat fmt;
    bool bSwapChroma;
};

SAvMapping AvFormatOf(DWORD c) {
    switch (c) {
        case MakeFourcc('Y', 'U', 'Y', 'V'):
            return {AV_PIX_FMT_YUYV422, false};
        case MakeFourcc('Y', 'V', 'Y', 'U'):
            return {AV_PIX_FMT_YVYU422, false};
        case MakeFourcc('U', 'Y', 'V', 'Y'):
            return {AV_PIX_FMT_UYVY422, false};
        case MakeFourcc('G', 'R', 'E', 'Y'):
            return {AV_PIX_FMT_GRAY8, false};
        case MakeFourcc('B', 'G', 'R', '3'):
            return {AV_PIX_FMT_BGR24, false};
        case MakeFourcc('R', 'G', 'B', '3'):
            return {AV_PIX_FMT_RGB24, false};
        case MakeFourcc('X', 'R', '2', '4'):
        case MakeFourcc('B', 'G', 'R', '4'):
            return {AV_PIX_FMT_BGR0, false};
        case MakeFourcc('A', 'R', '2', '4'):
            return {AV_PIX_FMT_BGRA, false};
        case MakeFourcc('R', 'G', 'B', 'P'):
            return {AV_PIX_FMT_RGB565LE, false};
        case MakeFourcc('X', 'R', '1', '5'):
        case MakeFourcc('R', 'G', 'B', 'O'):
            return {AV_PIX_FMT_RGB555LE, false};
        case MakeFourcc('Y', 'U', '1', '2'):
            return {AV_PIX_FMT_YUV420P, false};
        case MakeFourcc('Y', 'V', '1', '2'):
            return {AV_PIX_FMT_YUV420P, true};
        case MakeFourcc('N', 'V', '1', '2'):
            return {AV_PIX_FMT_NV12, false};
        case MakeFourcc('N', 'V', '2', '1'):
            return {AV_PIX_FMT_NV21, false};
        case MakeFourcc('Y', 'U', 'V', '9'):
            return {AV_PIX_FMT_YUV410P, false};
        case MakeFourcc('Y', 'V', 'U', '9'):
            return {AV_PIX_FMT_YUV410P, true};
        // Unpacked here into planes first.
        case MakeFourcc('Y', '4', '1', 'P'):
            return {AV_PIX_FMT_YUV411P, false};
        case MakeFourcc('V', 'U', 'Y', 'A'):
            return {AV_PIX_FMT_YUV444P, false};
        default:
            return {AV_PIX_FMT_NONE, false};
    }
}

bool IsUnpackedHere(DWORD c) {
    return c == MakeFourcc('Y', '4', '1', 'P') || c == MakeFourcc('V', 'U', 'Y', 'A');
}

uint32_t CeilDiv(uint32_t a, uint32_t b) { return a / b + (a % b ? 1 : 0); }

}  // namespace

void CFrameConverter::SAvFreeDeleter::operator()(uint8_t* p) const { av_free(p); }

CFrameConverter::CFrameConverter() = default;

CFrameConverter::~CFrameConverter() { Reset(); }

void CFrameConverter::Reset() {
    sws_freeContext(m_pSws);
    m_pSws = nullptr;
    m_nSwsFormat = -1;
    m_nSwsWidth = m_nSwsHeight = 0;
    m_pWork.reset();
    m_cbWork = 0;
    avcodec_free_context(&m_pDecoder);
    av_packet_free(&m_pPacket);
    av_frame_free(&m_pFrame);
    m_Scratch.clear();
    m_Layout = SRawFrameLayout{};
    m_nOutWidth = m_nOutHeight = m_nOutStride = 0;
    m_bReady = m_bPictures = false;
}

bool CFrameConverter::IsConvertible(DWORD dwFourcc) {
    if (IsCompressedFourcc(dwFourcc)) return true;
    const SAvMapping m = AvFormatOf(dwFourcc);
    return m.fmt != AV_PIX_FMT_NONE && IsKnownRawFourcc(dwFourcc) && sws_isSupportedInput(m.fmt);
}

HRESULT CFrameConverter::Init(const SRawFrameLayout& layout) {
    Reset();
    if (!IsConvertible(layout.dwFourcc) || layout.nWidth == 0 || layout.nHeight == 0 ||
        layout.nWidth > kMaxSide || layout.nHeight > kMaxSide) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (IsCompressedFourcc(layout.dwFourcc)) {
        const AVCodec* pCodec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
        if (!pCodec) return VFW_E_TYPE_NOT_ACCEPTED;
        m_pDecoder = avcodec_alloc_context3(pCodec);
        m_pPacket = av_packet_alloc();
        m_pFrame = av_frame_alloc();
        if (!m_pDecoder || !m_pPacket || !m_pFrame) {
            Reset();
            return E_OUTOFMEMORY;
        }
        m_pDecoder->thread_count = 1;
        if (avcodec_open2(m_pDecoder, pCodec, nullptr) < 0) {
            Reset();
            return VFW_E_TYPE_NOT_ACCEPTED;
        }
    } else {
        if (layout.nBytesPerLine < MinBytesPerLine(layout.dwFourcc, layout.nWidth) ||
            layout.nBytesPerLine !=
                AlignBytesPerLine(layout.dwFourcc, layout.nWidth, layout.nBytesPerLine) ||
            layout.nSizeImage < RawSizeImage(layout.dwFourcc, layout.nWidth, layout.nHeight,
                                             layout.nBytesPerLine)) {
            return VFW_E_TYPE_NOT_ACCEPTED;
        }
        if (IsUnpackedHere(layout.dwFourcc)) {
            // Three planes of full height; 4:1:1 chroma is a quarter as wide.
            const size_t nChromaW = layout.dwFourcc == MakeFourcc('Y', '4', '1', 'P')
                                        ? CeilDiv(layout.nWidth, 4)
                                        : layout.nWidth;
            m_Scratch.resize(size_t{layout.nWidth} * layout.nHeight +
                             2 * nChromaW * layout.nHeight + kInputSlack);
        }
    }
    m_Layout = layout;
    m_nOutWidth = layout.nWidth;
    m_nOutHeight = layout.nHeight;
    m_nOutStride = 3 * layout.nWidth;  // packed
    m_nSwsFlags = kExactFlags;
    m_bReady = true;
    return S_OK;
}

HRESULT CFrameConverter::InitPictures(uint32_t nWidth, uint32_t nHeight, uint32_t nStride,
                                      EQuality quality) {
    Reset();
    if (nWidth == 0 || nHeight == 0 || nWidth > INT32_MAX / 4 || nHeight > INT32_MAX ||
        nStride < 3 * nWidth) {
        return E_INVALIDARG;
    }
    m_nOutWidth = nWidth;
    m_nOutHeight = nHeight;
    m_nOutStride = nStride;
    m_nSwsFlags = quality == EQuality::Exact ? kExactFlags : kCommandDefaultFlags;
    m_bReady = m_bPictures = true;
    return S_OK;
}

HRESULT CFrameConverter::ConvertPicture(const AVFrame* pPicture, uint8_t* pDst) {
    if (!m_bReady) return E_UNEXPECTED;
    if (!pPicture || !pDst) return E_POINTER;
    return Scale(pPicture->format, pPicture->width, pPicture->height, pPicture->data,
                 pPicture->linesize, pDst);
}

HRESULT CFrameConverter::Convert(const uint8_t* pSrc, size_t nBytesUsed, uint8_t* pDst) {
    if (!m_bReady || m_bPictures) return E_UNEXPECTED;
    if (!pSrc || !pDst) return E_POINTER;
    if (IsCompressedFourcc(m_Layout.dwFourcc)) return ConvertCompressed(pSrc, nBytesUsed, pDst);
    const uint32_t nNeeded =
        RawSizeImage(m_Layout.dwFourcc, m_Layout.nWidth, m_Layout.nHeight, m_Layout.nBytesPerLine);
    if (nBytesUsed < nNeeded) return S_FALSE;
    // swscale's readers may load a few bytes past a row's end: the frame is
    // read from a copy with room after it, never past the driver's bytes.
    m_Input.resize(size_t{nNeeded} + kInputSlack);
    std::memcpy(m_Input.data(), pSrc, nNeeded);
    std::memset(m_Input.data() + nNeeded, 0, kInputSlack);
    return ConvertRaw(m_Input.data(), pDst);
}

HRESULT CFrameConverter::Scale(int nAvFormat, int nSrcWidth, int nSrcHeight,
                               const uint8_t* const* ppPlanes, const int* pStrides, uint8_t* pDst) {
    if (nSrcWidth <= 0 || nSrcHeight <= 0) return E_FAIL;
    const int w = static_cast<int>(m_nOutWidth);
    const int h = static_cast<int>(m_nOutHeight);
    if (!m_pSws || nAvFormat != m_nSwsFormat || nSrcWidth != m_nSwsWidth ||
        nSrcHeight != m_nSwsHeight) {
        sws_freeContext(m_pSws);
        m_pSws = sws_getContext(nSrcWidth, nSrcHeight, static_cast<AVPixelFormat>(nAvFormat), w, h,
                                AV_PIX_FMT_BGR24, m_nSwsFlags, nullptr, nullptr, nullptr);
        m_nSwsFormat = m_pSws ? nAvFormat : -1;
        m_nSwsWidth = nSrcWidth;
        m_nSwsHeight = nSrcHeight;
        if (!m_pSws) return E_FAIL;
    }
    const size_t nRowBytes = size_t{3} * m_nOutWidth;
    const size_t nPad = m_nOutStride - nRowBytes;
    if (nPad == 0 && m_nOutWidth % 16 == 0 && reinterpret_cast<uintptr_t>(pDst) % 16 == 0) {
        // Rows of whole groups of 16 pixels: swscale writes every pixel and
        // nothing past a row (at 8 it stores up to 8 pixels past the last
        // row when the height is even), so it writes the caller's rows directly,
        // bottom-up (the last row in memory first, with a negative stride).
        uint8_t* dst[4] = {pDst + size_t{m_nOutHeight - 1} * m_nOutStride, nullptr, nullptr,
                           nullptr};
        int dstStride[4] = {-static_cast<int>(m_nOutStride), 0, 0, 0};
        const int nRows = sws_scale(m_pSws, ppPlanes, pStrides, 0, nSrcHeight, dst, dstStride);
        return nRows == h ? S_OK : E_FAIL;
    }
    // Other widths: swscale writes top-down rows with room to spare (see the
    // header), then the rows are copied bottom-up into the caller's rows.
    const size_t nWorkStride = FFALIGN(nRowBytes + 64, 64);
    const size_t cbWork = nWorkStride * m_nOutHeight;
    if (m_cbWork < cbWork) {
        m_pWork.reset(static_cast<uint8_t*>(av_malloc(cbWork)));
        m_cbWork = m_pWork ? cbWork : 0;
        if (!m_pWork) return E_OUTOFMEMORY;
    }
    uint8_t* dst[4] = {m_pWork.get(), nullptr, nullptr, nullptr};
    int dstStride[4] = {static_cast<int>(nWorkStride), 0, 0, 0};
    const int nRows = sws_scale(m_pSws, ppPlanes, pStrides, 0, nSrcHeight, dst, dstStride);
    if (nRows != h) return E_FAIL;
    for (size_t y = 0; y < m_nOutHeight; ++y) {
        uint8_t* pRow = pDst + (m_nOutHeight - 1 - y) * m_nOutStride;
        std::memcpy(pRow, m_pWork.get() + y * nWorkStride, nRowBytes);
        if (nPad > 0) std::memset(pRow + nRowBytes, 0, nPad);
    }
    return S_OK;
}

HRESULT CFrameConverter::ConvertRaw(const uint8_t* pSrc, uint8_t* pDst) {
    const SRawFrameLayout& l = m_Layout;
    const SAvMapping m = AvFormatOf(l.dwFourcc);
    const int w = static_cast<int>(l.nWidth);
    const int h = static_cast<int>(l.nHeight);
    const uint8_t* planes[4] = {};
    int strides[4] = {};
    if (IsUnpackedHere(l.dwFourcc)) {
        const bool bY41P = l.dwFourcc == MakeFourcc('Y', '4', '1', 'P');
        const uint32_t cw = bY41P ? CeilDiv(l.nWidth, 4) : l.nWidth;
        uint8_t* pY = m_Scratch.data();
        uint8_t* pU = pY + size_t{l.nWidth} * l.nHeight;
        uint8_t* pV = pU + size_t{cw} * l.nHeight;
        for (uint32_t y = 0; y < l.nHeight; ++y) {
            const uint8_t* s = pSrc + size_t{y} * l.nBytesPerLine;
            uint8_t* dy = pY + size_t{y} * l.nWidth;
            uint8_t* du = pU + size_t{y} * cw;
            uint8_t* dv = pV + size_t{y} * cw;
            if (bY41P) {
                // 8 pixels in 12 bytes: U0 Y0 V0 Y1 U4 Y2 V4 Y3 Y4 Y5 Y6 Y7.
                for (uint32_t x = 0; x < l.nWidth; x += 8) {
                    const uint8_t* g = s + (x / 8) * 12;
                    const uint8_t ys[8] = {g[1], g[3], g[5], g[7], g[8], g[9], g[10], g[11]};
                    for (uint32_t k = 0; k < 8 && x + k < l.nWidth; ++k) dy[x + k] = ys[k];
                    du[x / 4] = g[0];
                    dv[x / 4] = g[2];
                    if (x / 4 + 1 < cw) {
                        du[x / 4 + 1] = g[4];
                        dv[x / 4 + 1] = g[6];
                    }
                }
            } else {
                // V U Y A per pixel.
                for (uint32_t x = 0; x < l.nWidth; ++x) {
                    dv[x] = s[4 * x];
                    du[x] = s[4 * x + 1];
                    dy[x] = s[4 * x + 2];
                }
            }
        }
        planes[0] = pY;
        planes[1] = pU;
        planes[2] = pV;
        strides[0] = static_cast<int>(l.nWidth);
        strides[1] = strides[2] = static_cast<int>(cw);
        return Scale(m.fmt, w, h, planes, strides, pDst);
    }
    SRawPlane p[3];
    const int n = RawPlanes(l, p);
    for (int i = 0; i < n; ++i) {
        planes[i] = pSrc + p[i].nOffset;
        strides[i] = static_cast<int>(p[i].nStride);
    }
    if (m.bSwapChroma) {
        std::swap(planes[1], planes[2]);
        std::swap(strides[1], strides[2]);
    }
    return Scale(m.fmt, w, h, planes, strides, pDst);
}

HRESULT CFrameConverter::ConvertCompressed(const uint8_t* pSrc, size_t nBytesUsed, uint8_t* pDst) {
    if (nBytesUsed < 4 || nBytesUsed > m_Layout.nSizeImage + size_t{1} * 1024 * 1024) {
        return S_FALSE;
    }
    // A frame cut short (the device lost data) has no end-of-image marker;
    // the decoder would show it with its bottom missing, so it is dropped.
    // Cameras may pad after the marker: it is looked for from the end.
    if (pSrc[0] != 0xFF || pSrc[1] != 0xD8) return S_FALSE;
    bool bEnd = false;
    for (size_t i = nBytesUsed - 1; i >= 3 && !bEnd; --i) {
        bEnd = pSrc[i] == 0xD9 && pSrc[i - 1] == 0xFF;
    }
    if (!bEnd) return S_FALSE;
    // The decoder may read a little past the packet: hand it a padded copy,
    // so the device buffer is never read beyond bytesused.
    m_Scratch.resize(nBytesUsed + AV_INPUT_BUFFER_PADDING_SIZE);
    std::memcpy(m_Scratch.data(), pSrc, nBytesUsed);
    std::memset(m_Scratch.data() + nBytesUsed, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    av_packet_unref(m_pPacket);
    m_pPacket->data = m_Scratch.data();
    m_pPacket->size = static_cast<int>(nBytesUsed);
    if (avcodec_send_packet(m_pDecoder, m_pPacket) < 0) {
        avcodec_flush_buffers(m_pDecoder);
        return S_FALSE;
    }
    const int rc = avcodec_receive_frame(m_pDecoder, m_pFrame);
    m_pPacket->data = nullptr;
    m_pPacket->size = 0;
    if (rc < 0) return S_FALSE;
    HRESULT hr = S_FALSE;
    if (m_pFrame->width == static_cast<int>(m_Layout.nWidth) &&
        m_pFrame->height == static_cast<int>(m_Layout.nHeight)) {
        hr = ConvertPicture(m_pFrame, pDst);
    }
    av_frame_unref(m_pFrame);
    return hr;
}
