// tools: the FFmpeg helpers the clip writers (clip_writer.cpp,
// broken_clips.cpp) share: error text, owning deleters for the FFmpeg
// objects, and the encode-and-write step. Internal to pelora_cliptools.
#pragma once

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

// FFmpeg's text for an error code.
std::string AvError(int nErr);

struct CodecContextDeleter {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
// Closes the output file (if opened) and frees the muxer context.
struct OutputDeleter {
    void operator()(AVFormatContext* p) const {
        if (p->pb && !(p->oformat->flags & AVFMT_NOFILE)) avio_closep(&p->pb);
        avformat_free_context(p);
    }
};

// Opens strPath for pOut and writes the file's header (the streams must be
// set up). Answers "" or the failure.
std::string OpenAndWriteHeader(AVFormatContext* pOut, const std::string& strPath);

// Sends one frame (or the flush request, pFrame null) and writes every packet
// the encoder hands back into pStream of pOut. Answers "" or the failure.
std::string EncodeAndWrite(AVCodecContext* pEnc, AVFrame* pFrame, AVFormatContext* pOut,
                           AVStream* pStream, AVPacket* pPacket);

// Flushes the encoder into pStream and writes the file's trailer. Answers ""
// or the failure.
std::string FlushAndFinish(AVCodecContext* pEnc, AVFormatContext* pOut, AVStream* pStream,
                           AVPacket* pPacket);
