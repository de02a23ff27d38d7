#include "tools/clip_writer.h"

#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "tools/av_encode.h"
#include "tools/frame_pattern.h"

namespace {

struct SFormatInfo {
    EClipFormat eFormat;
    const char* pszName;
    const char* pszMuxer;
    const char* pszEncoder;
    const char* pszExtension;
};

constexpr SFormatInfo kFormats[] = {
    {EClipFormat::AviMpeg4, "avi-mpeg4", "avi", "mpeg4", ".avi"},
    {EClipFormat::AviMjpeg, "avi-mjpeg", "avi", "mjpeg", ".avi"},
    {EClipFormat::AviRaw, "avi-raw", "avi", "rawvideo", ".avi"},
    {EClipFormat::Mp4H264, "mp4-h264", "mp4", "libx264", ".mp4"},
    {EClipFormat::AviH264, "avi-h264", "avi", "libx264", ".avi"},
    {EClipFormat::AsfWmv2, "asf-wmv2", "asf", "wmv2", ".asf"},
};

const SFormatInfo& InfoOf(EClipFormat e) {
    for (const auto& f : kFormats) {
        if (f.eFormat == e) return f;
    }
    return kFormats[0];
}

struct SwsDeleter {
    void operator()(SwsContext* p) const { sws_freeContext(p); }
};
AVPixelFormat EncoderPixelFormat(const SClipParams& params) {
    switch (params.eFormat) {
        case EClipFormat::AviRaw:
            return AV_PIX_FMT_BGR24;
        case EClipFormat::AviMjpeg:
            return AV_PIX_FMT_YUVJ420P;
        case EClipFormat::Mp4H264:
        case EClipFormat::AviH264:
            // 4:2:0 needs even sizes in H.264; 4:4:4 takes any size.
            return (params.nWidth % 2 || params.nHeight % 2) ? AV_PIX_FMT_YUV444P
                                                             : AV_PIX_FMT_YUV420P;
        default:
            return AV_PIX_FMT_YUV420P;
    }
}

}  // namespace

const char* ClipFormatName(EClipFormat eFormat) { return InfoOf(eFormat).pszName; }

const char* ClipFormatExtension(EClipFormat eFormat) { return InfoOf(eFormat).pszExtension; }

bool ParseClipFormat(const std::string& strName, EClipFormat* pFormat) {
    for (const auto& f : kFormats) {
        if (strName == f.pszName) {
            if (pFormat) *pFormat = f.eFormat;
            return true;
        }
    }
    return false;
}

std::string CheckClipParams(const SClipParams& params) {
    if (params.nWidth < kPatternMinWidth || params.nHeight < kPatternMinHeight ||
        params.nWidth > 8192 || params.nHeight > 8192) {
        return "size must be from " + std::to_string(kPatternMinWidth) + "x" +
               std::to_string(kPatternMinHeight) + " to 8192x8192";
    }
    if (params.eFormat == EClipFormat::AsfWmv2 && (params.nWidth % 2 || params.nHeight % 2)) {
        return "asf-wmv2 needs an even width and height (the WMV2 encoder refuses odd sizes)";
    }
    if (params.nFrames < 1) return "frame count must be at least 1";
    if (params.nFpsNum <= 0 || params.nFpsDen <= 0 ||
        static_cast<double>(params.nFpsNum) / params.nFpsDen > 1000.0 ||
        static_cast<double>(params.nFpsNum) / params.nFpsDen < 0.1) {
        return "frame rate must be between 0.1 and 1000 frames per second";
    }
    if (params.nGop < 0) return "GOP size must not be negative";
    if (params.llBitRate < 0) return "bit rate must not be negative";
    if (params.nFirstIndex < 0) return "first index must not be negative";
    const bool bBFrameCodec = params.eFormat == EClipFormat::AviMpeg4 ||
                              params.eFormat == EClipFormat::Mp4H264 ||
                              params.eFormat == EClipFormat::AviH264;
    if (params.nBFrames < -1 || params.nBFrames > 16) return "B-frames must be from 0 to 16";
    if (params.nBFrames > 0 && !bBFrameCodec) {
        return "B-frames need avi-mpeg4, avi-h264 or mp4-h264";
    }
    if (params.nSlowFrom < 0) return "the slow part must not start before frame 0";
    if (params.nSlowFrom > 0 && params.eFormat != EClipFormat::Mp4H264) {
        return "a variable frame rate needs mp4-h264";
    }
    return "";
}

std::string WriteClip(const std::string& strPath, const SClipParams& params) {
    if (std::string strBad = CheckClipParams(params); !strBad.empty()) return strBad;
    const SFormatInfo& info = InfoOf(params.eFormat);

    AVFormatContext* pRawOut = nullptr;
    int nErr = avformat_alloc_output_context2(&pRawOut, nullptr, info.pszMuxer, strPath.c_str());
    if (nErr < 0 || !pRawOut)
        return std::string("no ") + info.pszMuxer + " muxer: " + AvError(nErr);
    std::unique_ptr<AVFormatContext, OutputDeleter> pOut(pRawOut);

    const AVCodec* pCodec = avcodec_find_encoder_by_name(info.pszEncoder);
    if (!pCodec) return std::string("no ") + info.pszEncoder + " encoder in this FFmpeg";
    AVStream* pStream = avformat_new_stream(pOut.get(), nullptr);
    std::unique_ptr<AVCodecContext, CodecContextDeleter> pEnc(avcodec_alloc_context3(pCodec));
    if (!pStream || !pEnc) return "out of memory";

    const AVRational fps{params.nFpsNum, params.nFpsDen};
    pEnc->width = params.nWidth;
    pEnc->height = params.nHeight;
    pEnc->pix_fmt = EncoderPixelFormat(params);
    pEnc->time_base = av_inv_q(fps);
    pEnc->framerate = fps;
    pEnc->sample_aspect_ratio = {1, 1};
    pEnc->thread_count = 0;  // the encoder picks its own thread count
    if (params.nGop > 0) pEnc->gop_size = params.nGop;
    if (params.llBitRate > 0) pEnc->bit_rate = params.llBitRate;
    if (params.nBFrames >= 0) pEnc->max_b_frames = params.nBFrames;
    if (pOut->oformat->flags & AVFMT_GLOBALHEADER) pEnc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    int nQuality = 0;  // fixed quantiser for the MPEG-family encoders
    switch (params.eFormat) {
        case EClipFormat::Mp4H264:
        case EClipFormat::AviH264:
            av_opt_set(pEnc->priv_data, "preset", "veryfast", 0);
            if (params.llBitRate <= 0) av_opt_set(pEnc->priv_data, "crf", "20", 0);
            if (params.nGop > 0) {
                // Exactly one keyframe every nGop frames: no scene-cut keyframes.
                av_opt_set(pEnc->priv_data, "x264-params", "scenecut=0", 0);
                pEnc->keyint_min = params.nGop;
            }
            break;
        case EClipFormat::AviMpeg4:
        case EClipFormat::AviMjpeg:
        case EClipFormat::AsfWmv2:
            if (params.llBitRate <= 0) {
                nQuality = FF_QP2LAMBDA * 3;
                pEnc->flags |= AV_CODEC_FLAG_QSCALE;
                pEnc->global_quality = nQuality;
            }
            if (params.nGop > 0) av_opt_set_int(pEnc->priv_data, "sc_threshold", 1000000000, 0);
            break;
        case EClipFormat::AviRaw:
            break;
    }

    nErr = avcodec_open2(pEnc.get(), pCodec, nullptr);
    if (nErr < 0)
        return std::string("cannot open the ") + info.pszEncoder + " encoder: " + AvError(nErr);
    nErr = avcodec_parameters_from_context(pStream->codecpar, pEnc.get());
    if (nErr < 0) return "cannot set the stream parameters: " + AvError(nErr);
    pStream->time_base = pEnc->time_base;
    pStream->avg_frame_rate = fps;

    if (std::string strErr = OpenAndWriteHeader(pOut.get(), strPath); !strErr.empty()) {
        return strErr;
    }

    std::unique_ptr<AVFrame, FrameDeleter> pFrame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketDeleter> pPacket(av_packet_alloc());
    if (!pFrame || !pPacket) return "out of memory";
    pFrame->format = pEnc->pix_fmt;
    pFrame->width = params.nWidth;
    pFrame->height = params.nHeight;
    nErr = av_frame_get_buffer(pFrame.get(), 0);
    if (nErr < 0) return "out of memory";

    const int nStride = 3 * params.nWidth;
    std::vector<uint8_t> picture(static_cast<size_t>(nStride) * params.nHeight);
    // Same size, only the pixel format changes; the point sampler keeps the
    // block edges sharp in the chroma planes.
    std::unique_ptr<SwsContext, SwsDeleter> pSws(
        sws_getContext(params.nWidth, params.nHeight, AV_PIX_FMT_BGR24, params.nWidth,
                       params.nHeight, pEnc->pix_fmt, SWS_POINT, nullptr, nullptr, nullptr));
    if (!pSws) return "no pixel format conversion to the encoder's format";

    for (int i = 0; i < params.nFrames; ++i) {
        nErr = av_frame_make_writable(pFrame.get());
        if (nErr < 0) return "out of memory";
        DrawFramePattern(picture.data(), params.nWidth, params.nHeight, nStride,
                         params.nFirstIndex + i);
        const uint8_t* src[1] = {picture.data()};
        const int srcStride[1] = {nStride};
        sws_scale(pSws.get(), src, srcStride, 0, params.nHeight, pFrame->data, pFrame->linesize);
        // Past nSlowFrom every frame takes two ticks of the time base.
        pFrame->pts = (params.nSlowFrom > 0 && i > params.nSlowFrom) ? 2 * i - params.nSlowFrom : i;
        if (nQuality) pFrame->quality = nQuality;
        if (std::string strErr =
                EncodeAndWrite(pEnc.get(), pFrame.get(), pOut.get(), pStream, pPacket.get());
            !strErr.empty()) {
            return strErr;
        }
    }
    return FlushAndFinish(pEnc.get(), pOut.get(), pStream, pPacket.get());
}
