// CPicturePool: large pictures decode into its blocks with codec frame
// threads on, picture for picture the same as into FFmpeg's own buffers;
// small ones keep the default buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

#include "platform/ffmpeg/picture_pool.h"
#include "platform/test_clips.h"

using pelora_test::CClipCache;

namespace {

using Picture = std::vector<uint8_t>;

// Every picture of the clip's video stream, planes packed; decoded with
// three frame threads, into pPool's buffers when given.
std::vector<Picture> DecodeAll(const std::string& strPath, CPicturePool* pPool) {
    std::vector<Picture> pictures;
    AVFormatContext* pFormat = nullptr;
    if (avformat_open_input(&pFormat, strPath.c_str(), nullptr, nullptr) < 0) return pictures;
    const AVCodec* pDecoder = nullptr;
    const int nStream =
        avformat_find_stream_info(pFormat, nullptr) < 0
            ? -1
            : av_find_best_stream(pFormat, AVMEDIA_TYPE_VIDEO, -1, -1, &pDecoder, 0);
    AVCodecContext* pCodec = nStream < 0 ? nullptr : avcodec_alloc_context3(pDecoder);
    AVPacket* pPacket = av_packet_alloc();
    AVFrame* pFrame = av_frame_alloc();
    if (pCodec && avcodec_parameters_to_context(pCodec, pFormat->streams[nStream]->codecpar) >= 0) {
        pCodec->thread_count = 3;
        pCodec->thread_type = FF_THREAD_FRAME;
        if (pPool) pPool->Attach(pCodec);
        if (avcodec_open2(pCodec, pDecoder, nullptr) >= 0) {
            const auto fnDrain = [&] {
                while (avcodec_receive_frame(pCodec, pFrame) >= 0) {
                    const auto eFormat = static_cast<AVPixelFormat>(pFrame->format);
                    Picture picture(static_cast<size_t>(
                        av_image_get_buffer_size(eFormat, pFrame->width, pFrame->height, 1)));
                    av_image_copy_to_buffer(picture.data(), static_cast<int>(picture.size()),
                                            pFrame->data, pFrame->linesize, eFormat, pFrame->width,
                                            pFrame->height, 1);
                    pictures.push_back(std::move(picture));
                    av_frame_unref(pFrame);
                }
            };
            while (av_read_frame(pFormat, pPacket) >= 0) {
                if (pPacket->stream_index == nStream) avcodec_send_packet(pCodec, pPacket);
                av_packet_unref(pPacket);
                fnDrain();
            }
            avcodec_send_packet(pCodec, nullptr);
            fnDrain();
        }
    }
    av_frame_free(&pFrame);
    av_packet_free(&pPacket);
    avcodec_free_context(&pCodec);  // before the pool goes
    avformat_close_input(&pFormat);
    return pictures;
}

}  // namespace

TEST(PicturePool, LargePicturesDecodeIntoItsBlocksAsIntoTheDefaultBuffers) {
    // H.264 with B-frames (4:2:0), odd-sized H.264 (4:4:4), MPEG-4 in AVI;
    // a small picture keeps the default buffers.
    const struct {
        EClipFormat eFormat;
        int w, h;
        bool bBlocks;
    } cases[] = {{EClipFormat::Mp4H264, 1920, 1080, true},
                 {EClipFormat::Mp4H264, 1281, 721, true},
                 {EClipFormat::AviMpeg4, 1920, 1080, true},
                 {EClipFormat::Mp4H264, 640, 480, false}};
    for (const auto& [eFormat, w, h, bBlocks] : cases) {
        SCOPED_TRACE(std::string(ClipFormatName(eFormat)) + " " + std::to_string(w));
        const std::string strPath = CClipCache::Get().Clip(eFormat, w, h, 12, 25, 10, 2);
        const std::vector<Picture> want = DecodeAll(strPath, nullptr);
        ASSERT_EQ(want.size(), 12u);
        CPicturePool pool;
        EXPECT_TRUE(DecodeAll(strPath, &pool) == want);
        EXPECT_EQ(pool.BlocksAllocated() > 0, bBlocks);
    }
}
