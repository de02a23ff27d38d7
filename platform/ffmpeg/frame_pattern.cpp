#include "platform/ffmpeg/frame_pattern.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kBits = 16;
constexpr uint8_t kPadByte = 0xEE;
constexpr size_t kSlack = 256;

uint32_t CeilDiv(uint32_t a, uint32_t b) { return a / b + (a % b ? 1 : 0); }

AVPixelFormat TargetFormat(DWORD c, bool* pSwap) {
    *pSwap = false;
    switch (c) {
        case MakeFourcc('Y', 'U', 'Y', 'V'):
            return AV_PIX_FMT_YUYV422;
        case MakeFourcc('Y', 'V', 'Y', 'U'):
            return AV_PIX_FMT_YVYU422;
        case MakeFourcc('U', 'Y', 'V', 'Y'):
            return AV_PIX_FMT_UYVY422;
        case MakeFourcc('G', 'R', 'E', 'Y'):
            return AV_PIX_FMT_GRAY8;
        case MakeFourcc('B', 'G', 'R', '3'):
            return AV_PIX_FMT_BGR24;
        case MakeFourcc('R', 'G', 'B', '3'):
            return AV_PIX_FMT_RGB24;
        case MakeFourcc('X', 'R', '2', '4'):
        case MakeFourcc('B', 'G', 'R', '4'):
            return AV_PIX_FMT_BGR0;
        case MakeFourcc('A', 'R', '2', '4'):
            return AV_PIX_FMT_BGRA;
        case MakeFourcc('R', 'G', 'B', 'P'):
            return AV_PIX_FMT_RGB565LE;
        case MakeFourcc('X', 'R', '1', '5'):
        case MakeFourcc('R', 'G', 'B', 'O'):
            return AV_PIX_FMT_RGB555LE;
        case MakeFourcc('Y', 'U', '1', '2'):
            return AV_PIX_FMT_YUV420P;
        case MakeFourcc('Y', 'V', '1', '2'):
            *pSwap = true;
            return AV_PIX_FMT_YUV420P;
        case MakeFourcc('N', 'V', '1', '2'):
            return AV_PIX_FMT_NV12;
        case MakeFourcc('N', 'V', '2', '1'):
            return AV_PIX_FMT_NV21;
        case MakeFourcc('Y', 'U', 'V', '9'):
            return AV_PIX_FMT_YUV410P;
        case MakeFourcc('Y', 'V', 'U', '9'):
            *pSwap = true;
            return AV_PIX_FMT_YUV410P;
        case MakeFourcc('Y', '4', '1', 'P'):
            return AV_PIX_FMT_YUV411P;
        case MakeFourcc('V', 'U', 'Y', 'A'):
            return AV_PIX_FMT_YUV444P;
        default:
            return AV_PIX_FMT_NONE;
    }
}

}  // namespace

CFramePainter::CFramePainter() = default;

CFramePainter::~CFramePainter() {
    sws_freeContext(m_pSws);
    avcodec_free_context(&m_pEncoder);
    av_frame_free(&m_pFrame);
    av_packet_free(&m_pPacket);
}

void CFramePainter::DrawBgr(uint32_t n, uint32_t w, uint32_t h, uint8_t* p) {
    const uint32_t nTop = h / 2;
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* row = p + size_t{y} * w * 3;
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t b, g, r;
            if (y < nTop) {
                const uint32_t cell = std::min<uint32_t>(x * kBits / w, kBits - 1);
                const bool bSet = (n >> (kBits - 1 - cell)) & 1u;
                b = g = r = bSet ? 255 : 0;
            } else if (x < w / 3) {
                b = 0, g = 0, r = 255;
            } else if (x >= w - w / 3) {
                b = 255, g = 0, r = 0;
            } else {
                b = g = r = 128;
            }
            row[3 * x] = b;
            row[3 * x + 1] = g;
            row[3 * x + 2] = r;
        }
    }
}

SwsContext* CFramePainter::ContextFor(uint32_t w, uint32_t h, int nAvFormat, bool bFullRange) {
    if (!m_pSws || w != m_nSwsW || h != m_nSwsH || nAvFormat != m_nSwsFormat) {
        sws_freeContext(m_pSws);
        m_pSws = sws_getContext(static_cast<int>(w), static_cast<int>(h), AV_PIX_FMT_BGR24,
                                static_cast<int>(w), static_cast<int>(h),
                                static_cast<AVPixelFormat>(nAvFormat),
                                SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
        m_nSwsW = w, m_nSwsH = h, m_nSwsFormat = m_pSws ? nAvFormat : -1;
        if (m_pSws && bFullRange) {
            const int* coef = sws_getCoefficients(SWS_CS_ITU601);
            sws_setColorspaceDetails(m_pSws, coef, 1, coef, 1, 0, 1 << 16, 1 << 16);
        }
    }
    return m_pSws;
}

size_t CFramePainter::Paint(uint32_t n, const SRawFrameLayout& l, uint8_t* pDst, size_t nCapacity) {
    if (l.nWidth < 64 || l.nHeight < 16 || !pDst) return 0;
    m_Bgr.resize(size_t{l.nWidth} * l.nHeight * 3 + kSlack);
    DrawBgr(n, l.nWidth, l.nHeight, m_Bgr.data());
    if (IsCompressedFourcc(l.dwFourcc)) return PaintJpeg(l, pDst, nCapacity);

    const uint32_t nSize = RawSizeImage(l.dwFourcc, l.nWidth, l.nHeight, l.nBytesPerLine);
    bool bSwap = false;
    const AVPixelFormat fmt = TargetFormat(l.dwFourcc, &bSwap);
    if (fmt == AV_PIX_FMT_NONE || nSize == 0 || nSize > nCapacity) return 0;
    // Drawn into m_Raw, which has room for swscale's writes past a row's
    // end, then copied out.
    uint8_t* const pOut = pDst;
    m_Raw.resize(size_t{nSize} + kSlack);
    pDst = m_Raw.data();
    std::memset(pDst, kPadByte, nSize);
    SwsContext* pSws = ContextFor(l.nWidth, l.nHeight, fmt, false);
    if (!pSws) return 0;
    const uint8_t* src[4] = {m_Bgr.data(), nullptr, nullptr, nullptr};
    const int srcStride[4] = {static_cast<int>(l.nWidth * 3), 0, 0, 0};

    const bool bY41P = l.dwFourcc == MakeFourcc('Y', '4', '1', 'P');
    const bool bVuya = l.dwFourcc == MakeFourcc('V', 'U', 'Y', 'A');
    if (bY41P || bVuya) {
        // Through full-height planes, then packed by hand.
        const uint32_t cw = bY41P ? CeilDiv(l.nWidth, 4) : l.nWidth;
        m_Planes.assign(size_t{l.nWidth} * l.nHeight + 2 * size_t{cw} * l.nHeight + kSlack, 0);
        uint8_t* pY = m_Planes.data();
        uint8_t* pU = pY + size_t{l.nWidth} * l.nHeight;
        uint8_t* pV = pU + size_t{cw} * l.nHeight;
        uint8_t* dst[4] = {pY, pU, pV, nullptr};
        const int dstStride[4] = {static_cast<int>(l.nWidth), static_cast<int>(cw),
                                  static_cast<int>(cw), 0};
        sws_scale(pSws, src, srcStride, 0, static_cast<int>(l.nHeight), dst, dstStride);
        for (uint32_t y = 0; y < l.nHeight; ++y) {
            uint8_t* d = pDst + size_t{y} * l.nBytesPerLine;
            const uint8_t* sy = pY + size_t{y} * l.nWidth;
            const uint8_t* su = pU + size_t{y} * cw;
            const uint8_t* sv = pV + size_t{y} * cw;
            if (bY41P) {
                for (uint32_t x = 0; x < l.nWidth; x += 8) {
                    uint8_t* g = d + (x / 8) * 12;
                    auto Y = [&](uint32_t k) {
                        return x + k < l.nWidth ? sy[x + k] : sy[l.nWidth - 1];
                    };
                    const uint32_t c1 = std::min(x / 4 + 1, cw - 1);
                    g[0] = su[x / 4], g[1] = Y(0), g[2] = sv[x / 4], g[3] = Y(1);
                    g[4] = su[c1], g[5] = Y(2), g[6] = sv[c1], g[7] = Y(3);
                    g[8] = Y(4), g[9] = Y(5), g[10] = Y(6), g[11] = Y(7);
                }
            } else {
                for (uint32_t x = 0; x < l.nWidth; ++x) {
                    d[4 * x] = sv[x], d[4 * x + 1] = su[x], d[4 * x + 2] = sy[x],
                          d[4 * x + 3] = 255;
                }
            }
        }
        std::memcpy(pOut, pDst, nSize);
        return nSize;
    }

    SRawFrameLayout lay = l;
    SRawPlane planes[3];
    const int nPlanes = RawPlanes(lay, planes);
    uint8_t* dst[4] = {};
    int dstStride[4] = {};
    for (int i = 0; i < nPlanes; ++i) {
        dst[i] = pDst + planes[i].nOffset;
        dstStride[i] = static_cast<int>(planes[i].nStride);
    }
    if (bSwap) {
        std::swap(dst[1], dst[2]);
        std::swap(dstStride[1], dstStride[2]);
    }
    // swscale writes whole rows of the picture only; padding keeps kPadByte.
    sws_scale(pSws, src, srcStride, 0, static_cast<int>(l.nHeight), dst, dstStride);
    std::memcpy(pOut, pDst, nSize);
    return nSize;
}

size_t CFramePainter::PaintJpeg(const SRawFrameLayout& l, uint8_t* pDst, size_t nCapacity) {
    if (!m_pEncoder || m_nEncW != l.nWidth || m_nEncH != l.nHeight) {
        avcodec_free_context(&m_pEncoder);
        av_frame_free(&m_pFrame);
        const AVCodec* pCodec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
        if (!pCodec) return 0;
        m_pEncoder = avcodec_alloc_context3(pCodec);
        m_pFrame = av_frame_alloc();
        if (!m_pPacket) m_pPacket = av_packet_alloc();
        if (!m_pEncoder || !m_pFrame || !m_pPacket) return 0;
        m_pEncoder->width = static_cast<int>(l.nWidth);
        m_pEncoder->height = static_cast<int>(l.nHeight);
        m_pEncoder->pix_fmt = AV_PIX_FMT_YUVJ422P;
        m_pEncoder->time_base = AVRational{1, 30};
        m_pEncoder->flags |= AV_CODEC_FLAG_QSCALE;
        m_pEncoder->global_quality = FF_QP2LAMBDA * 3;
        m_pEncoder->thread_count = 1;
        if (avcodec_open2(m_pEncoder, pCodec, nullptr) < 0) {
            avcodec_free_context(&m_pEncoder);
            return 0;
        }
        m_pFrame->format = AV_PIX_FMT_YUVJ422P;
        m_pFrame->width = static_cast<int>(l.nWidth);
        m_pFrame->height = static_cast<int>(l.nHeight);
        if (av_frame_get_buffer(m_pFrame, 0) < 0) {
            avcodec_free_context(&m_pEncoder);
            return 0;
        }
        m_nEncW = l.nWidth, m_nEncH = l.nHeight;
    }
    if (av_frame_make_writable(m_pFrame) < 0) return 0;
    SwsContext* pSws = ContextFor(l.nWidth, l.nHeight, AV_PIX_FMT_YUVJ422P, true);
    if (!pSws) return 0;
    const uint8_t* src[4] = {m_Bgr.data(), nullptr, nullptr, nullptr};
    const int srcStride[4] = {static_cast<int>(l.nWidth * 3), 0, 0, 0};
    sws_scale(pSws, src, srcStride, 0, static_cast<int>(l.nHeight), m_pFrame->data,
              m_pFrame->linesize);
    m_pFrame->quality = m_pEncoder->global_quality;
    if (avcodec_send_frame(m_pEncoder, m_pFrame) < 0) return 0;
    if (avcodec_receive_packet(m_pEncoder, m_pPacket) < 0) return 0;
    size_t n = 0;
    if (static_cast<size_t>(m_pPacket->size) <= nCapacity) {
        n = static_cast<size_t>(m_pPacket->size);
        std::memcpy(pDst, m_pPacket->data, n);
    }
    av_packet_unref(m_pPacket);
    return n;
}

std::optional<uint32_t> ReadFrameNumber(const uint8_t* p, uint32_t w, uint32_t h,
                                        bool bMonochrome) {
    if (!p || w < 64 || h < 16) return std::nullopt;
    const size_t nRow = size_t{w} * 3;
    // Row y of the picture (top-down) is row h-1-y of the bottom-up frame.
    auto Pixel = [&](uint32_t x, uint32_t y) {
        return p + size_t{h - 1 - y} * nRow + size_t{x} * 3;
    };
    const uint32_t yBottom = h / 2 + h / 4;
    const uint8_t* red = Pixel(w / 6, yBottom);
    const uint8_t* blue = Pixel(w - w / 6 - 1, yBottom);
    if (bMonochrome) {
        // Luma of red is about 76, of blue about 29.
        if (!(red[1] > blue[1] + 25 && red[1] < 110 && blue[1] < 60)) return std::nullopt;
    } else if (!(red[2] > 180 && red[0] < 80 && blue[0] > 180 && blue[2] < 80)) {
        return std::nullopt;
    }
    uint32_t n = 0;
    for (int i = 0; i < kBits; ++i) {
        const uint32_t x = static_cast<uint32_t>((2 * i + 1) * uint64_t{w} / (2 * kBits));
        const uint8_t* c = Pixel(x, h / 4);
        const int sum = c[0] + c[1] + c[2];
        n = (n << 1) | (sum > 3 * 128 ? 1u : 0u);
    }
    return n;
}
