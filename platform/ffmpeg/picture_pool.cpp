#include "platform/ffmpeg/picture_pool.h"

#include <atomic>
#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "platform/win/virtual_memory.h"

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
// Plane starts are aligned for the widest SIMD loads FFmpeg uses, and each
// plane has room behind it for the over-reads of its motion compensation
// (FFmpeg's own buffers: 16 bytes plus the alignment).
constexpr size_t kPlaneAlign = 64;
constexpr size_t kPlaneSlack = 16 + kPlaneAlign;

size_t RoundUp(size_t n, size_t unit) { return (n + unit - 1) / unit * unit; }

void FreeBlock(void* /*pOpaque*/, uint8_t* pData) { VirtualFree(pData, 0, MEM_RELEASE); }

AVBufferRef* AllocateBlock(void* pOpaque, size_t cbSize) {
    auto* pData = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, cbSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!pData) return nullptr;
    AVBufferRef* pRef = av_buffer_create(pData, cbSize, FreeBlock, nullptr, 0);
    if (!pRef) {
        VirtualFree(pData, 0, MEM_RELEASE);
        return nullptr;
    }
    ++*static_cast<std::atomic<size_t>*>(pOpaque);
    return pRef;
}

}  // namespace

CPicturePool::~CPicturePool() {
    CStdMutexLock lock(&m_Lock);
    av_buffer_pool_uninit(&m_pPool);
}

void CPicturePool::Attach(AVCodecContext* pCodec) {
    pCodec->opaque = this;
    pCodec->get_buffer2 = &CPicturePool::GetBuffer;
#if LIBAVCODEC_VERSION_MAJOR < 60
    // Called on the decoding threads themselves (later versions always do);
    // otherwise every call would wait for a hand-off to the caller's thread.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    pCodec->thread_safe_callbacks = 1;
#pragma GCC diagnostic pop
#endif
}

bool CPicturePool::Layout(AVCodecContext* pCodec, const AVFrame* pFrame) {
    const AVPixFmtDescriptor* pDesc =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pFrame->format));
    if (!pDesc || (pDesc->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL |
                                   AV_PIX_FMT_FLAG_BITSTREAM)) != 0) {
        return false;
    }
    // As FFmpeg lays out its own pictures: the codec's padded dimensions,
    // then the width widened until every row length meets the alignment.
    int nWidth = pFrame->width, nHeight = pFrame->height;
    int anAlign[AV_NUM_DATA_POINTERS] = {};
    avcodec_align_dimensions2(pCodec, &nWidth, &nHeight, anAlign);
    int anLinesize[4] = {};
    for (int nTries = 0;; ++nTries) {
        if (nTries > 16 ||
            av_image_fill_linesizes(anLinesize, static_cast<AVPixelFormat>(pFrame->format),
                                    nWidth) < 0) {
            return false;
        }
        bool bAligned = true;
        for (int i = 0; i < 4; ++i) bAligned &= anAlign[i] <= 0 || anLinesize[i] % anAlign[i] == 0;
        if (bAligned) break;
        nWidth += nWidth & ~(nWidth - 1);
    }
    size_t acbPlane[4] = {};
    ptrdiff_t anLinesizes[4] = {anLinesize[0], anLinesize[1], anLinesize[2], anLinesize[3]};
    if (av_image_fill_plane_sizes(acbPlane, static_cast<AVPixelFormat>(pFrame->format), nHeight,
                                  anLinesizes) < 0) {
        return false;
    }
    size_t cbBlock = 0;
    int nPlanes = 0;
    for (int i = 0; i < 4 && acbPlane[i] > 0; ++i, ++nPlanes) {
        m_acbOffset[i] = cbBlock;
        cbBlock = RoundUp(cbBlock + acbPlane[i] + kPlaneSlack, kPlaneAlign);
    }
    if (nPlanes == 0 || cbBlock < kHugePage) return false;
    for (int i = 0; i < 4; ++i) m_anLinesize[i] = anLinesize[i];
    m_nPlanes = nPlanes;
    // Whole huge pages: a partly used last one would fault in 4 KiB at a time.
    m_cbBlock = RoundUp(cbBlock, kHugePage);
    return true;
}

int CPicturePool::GetBuffer(AVCodecContext* pCodec, AVFrame* pFrame, int nFlags) {
    return static_cast<CPicturePool*>(pCodec->opaque)->Get(pCodec, pFrame, nFlags);
}

int CPicturePool::Get(AVCodecContext* pCodec, AVFrame* pFrame, int nFlags) {
    if (pCodec->codec_type != AVMEDIA_TYPE_VIDEO || pCodec->hw_frames_ctx ||
        !(pCodec->codec->capabilities & AV_CODEC_CAP_DR1)) {
        return avcodec_default_get_buffer2(pCodec, pFrame, nFlags);
    }
    CStdMutexLock lock(&m_Lock);
    if (pFrame->format != m_nFormat || pFrame->width != m_nWidth || pFrame->height != m_nHeight) {
        // A new layout; pictures of the old one keep their pool until freed.
        av_buffer_pool_uninit(&m_pPool);
        m_nFormat = pFrame->format;
        m_nWidth = pFrame->width;
        m_nHeight = pFrame->height;
        m_bOwnBuffers = Layout(pCodec, pFrame);
        if (m_bOwnBuffers) {
            m_pPool = av_buffer_pool_init2(m_cbBlock, &m_nBlocks, AllocateBlock, nullptr);
            if (!m_pPool) {
                m_nFormat = -1;
                return AVERROR(ENOMEM);
            }
        }
    }
    if (!m_bOwnBuffers) {
        lock.Unlock();
        return avcodec_default_get_buffer2(pCodec, pFrame, nFlags);
    }

    pFrame->buf[0] = av_buffer_pool_get(m_pPool);
    if (!pFrame->buf[0]) return AVERROR(ENOMEM);
    for (int i = 0; i < m_nPlanes; ++i) {
        pFrame->data[i] = pFrame->buf[0]->data + m_acbOffset[i];
        pFrame->linesize[i] = m_anLinesize[i];
    }
    for (int i = m_nPlanes; i < AV_NUM_DATA_POINTERS; ++i) {
        pFrame->data[i] = nullptr;
        pFrame->linesize[i] = 0;
    }
    pFrame->extended_data = pFrame->data;
    return 0;
}
