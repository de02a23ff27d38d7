#include "tools/broken_clips.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include "tools/av_encode.h"

namespace {

std::string ReadWhole(const std::string& strPath, std::vector<char>* pData) {
    std::ifstream in(strPath, std::ios::binary);
    if (!in) return "cannot read " + strPath;
    pData->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return "";
}

std::string WriteWhole(const std::string& strPath, const char* pData, size_t cb) {
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    if (!out) return "cannot create " + strPath;
    out.write(pData, static_cast<std::streamsize>(cb));
    return out ? "" : "cannot write " + strPath;
}

}  // namespace

std::string WriteEmptyFile(const std::string& strPath) { return WriteWhole(strPath, nullptr, 0); }

std::string WriteTruncatedCopy(const std::string& strSource, const std::string& strPath,
                               int64_t llKeepBytes) {
    std::vector<char> data;
    if (std::string strErr = ReadWhole(strSource, &data); !strErr.empty()) return strErr;
    const size_t cbKeep =
        llKeepBytes <= 0 ? 0 : std::min(data.size(), static_cast<size_t>(llKeepBytes));
    return WriteWhole(strPath, data.data(), cbKeep);
}

std::string WriteCorruptedCopy(const std::string& strSource, const std::string& strPath,
                               int64_t llOffset, int64_t llLength, uint32_t nSeed) {
    std::vector<char> data;
    if (std::string strErr = ReadWhole(strSource, &data); !strErr.empty()) return strErr;
    uint32_t x = nSeed ? nSeed : 0x9E3779B9u;  // xorshift32 needs a non-zero state
    for (int64_t i = std::max<int64_t>(llOffset, 0);
         i < llOffset + llLength && i < static_cast<int64_t>(data.size()); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[static_cast<size_t>(i)] = static_cast<char>(x & 0xFF);
    }
    return WriteWhole(strPath, data.data(), data.size());
}

std::string WriteAudioOnlyClip(const std::string& strPath) {
    const bool bWav = strPath.size() >= 4 && strPath.compare(strPath.size() - 4, 4, ".wav") == 0;
    const char* pszMuxer = bWav ? "wav" : "mp4";
    const AVCodecID eCodec = bWav ? AV_CODEC_ID_PCM_S16LE : AV_CODEC_ID_AAC;
    const int nRate = 44100;

    AVFormatContext* pRawOut = nullptr;
    int nErr = avformat_alloc_output_context2(&pRawOut, nullptr, pszMuxer, strPath.c_str());
    if (nErr < 0 || !pRawOut) return std::string("no ") + pszMuxer + " muxer";
    std::unique_ptr<AVFormatContext, OutputDeleter> pOut(pRawOut);
    const AVCodec* pCodec = avcodec_find_encoder(eCodec);
    if (!pCodec) return "no audio encoder";
    AVStream* pStream = avformat_new_stream(pOut.get(), nullptr);
    std::unique_ptr<AVCodecContext, CodecContextDeleter> pEnc(avcodec_alloc_context3(pCodec));
    if (!pStream || !pEnc) return "out of memory";
    pEnc->sample_rate = nRate;
    pEnc->sample_fmt = bWav ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&pEnc->ch_layout, 1);
    pEnc->time_base = {1, nRate};
    if (!bWav) pEnc->bit_rate = 64000;
    if (pOut->oformat->flags & AVFMT_GLOBALHEADER) pEnc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    nErr = avcodec_open2(pEnc.get(), pCodec, nullptr);
    if (nErr < 0) return "cannot open the audio encoder: " + AvError(nErr);
    avcodec_parameters_from_context(pStream->codecpar, pEnc.get());
    pStream->time_base = pEnc->time_base;
    if (std::string strErr = OpenAndWriteHeader(pOut.get(), strPath); !strErr.empty()) {
        return strErr;
    }

    std::unique_ptr<AVFrame, FrameDeleter> pFrame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketDeleter> pPacket(av_packet_alloc());
    if (!pFrame || !pPacket) return "out of memory";
    const int nChunk = pEnc->frame_size > 0 ? pEnc->frame_size : 1024;
    for (int nDone = 0; nDone < nRate;) {
        const int nSamples = std::min(nChunk, nRate - nDone);
        av_frame_unref(pFrame.get());
        pFrame->format = pEnc->sample_fmt;
        pFrame->sample_rate = nRate;
        pFrame->nb_samples = bWav ? nSamples : nChunk;  // AAC takes full frames only
        av_channel_layout_copy(&pFrame->ch_layout, &pEnc->ch_layout);
        if (av_frame_get_buffer(pFrame.get(), 0) < 0) return "out of memory";
        for (int i = 0; i < pFrame->nb_samples; ++i) {
            const double v = std::sin(2.0 * M_PI * 440.0 * (nDone + i) / nRate) * 0.5;
            if (bWav) {
                reinterpret_cast<int16_t*>(pFrame->data[0])[i] = static_cast<int16_t>(v * 32767);
            } else {
                reinterpret_cast<float*>(pFrame->data[0])[i] = static_cast<float>(v);
            }
        }
        pFrame->pts = nDone;
        nDone += nSamples;
        if (std::string strErr =
                EncodeAndWrite(pEnc.get(), pFrame.get(), pOut.get(), pStream, pPacket.get());
            !strErr.empty()) {
            return strErr;
        }
    }
    return FlushAndFinish(pEnc.get(), pOut.get(), pStream, pPacket.get());
}
