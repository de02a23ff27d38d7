#include "tools/av_encode.h"

extern "C" {
#include <libavutil/error.h>
}

std::string AvError(int nErr) {
    char sz[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(nErr, sz, sizeof sz);
    return sz;
}

std::string OpenAndWriteHeader(AVFormatContext* pOut, const std::string& strPath) {
    int nErr = avio_open(&pOut->pb, strPath.c_str(), AVIO_FLAG_WRITE);
    if (nErr < 0) return "cannot create " + strPath + ": " + AvError(nErr);
    nErr = avformat_write_header(pOut, nullptr);
    if (nErr < 0) return "cannot write the header: " + AvError(nErr);
    return "";
}

std::string EncodeAndWrite(AVCodecContext* pEnc, AVFrame* pFrame, AVFormatContext* pOut,
                           AVStream* pStream, AVPacket* pPacket) {
    int nErr = avcodec_send_frame(pEnc, pFrame);
    if (nErr < 0) return "encoding failed: " + AvError(nErr);
    for (;;) {
        nErr = avcodec_receive_packet(pEnc, pPacket);
        if (nErr == AVERROR(EAGAIN) || nErr == AVERROR_EOF) return "";
        if (nErr < 0) return "encoding failed: " + AvError(nErr);
        av_packet_rescale_ts(pPacket, pEnc->time_base, pStream->time_base);
        pPacket->stream_index = pStream->index;
        nErr = av_interleaved_write_frame(pOut, pPacket);
        if (nErr < 0) return "writing failed: " + AvError(nErr);
    }
}

std::string FlushAndFinish(AVCodecContext* pEnc, AVFormatContext* pOut, AVStream* pStream,
                           AVPacket* pPacket) {
    if (std::string strErr = EncodeAndWrite(pEnc, nullptr, pOut, pStream, pPacket);
        !strErr.empty()) {
        return strErr;
    }
    const int nErr = av_write_trailer(pOut);
    return nErr < 0 ? "cannot finish the file: " + AvError(nErr) : "";
}
