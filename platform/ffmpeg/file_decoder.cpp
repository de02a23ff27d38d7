#include "platform/ffmpeg/file_decoder.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
}

#include "pelora/tavro_plugin.h"

namespace {

constexpr AVRational kHundredNs{1, 10000000};
constexpr DWORD ERROR_FILE_NOT_FOUND_CODE = 2;
// A seek this many frames ahead or fewer keeps decoding even when a
// keyframe lies in between: decoding a few frames costs less than a
// demuxer seek and the decode of a GOP start.
constexpr LONGLONG kForwardReachFrames = 12;
// Packets the decoder may swallow without producing a picture before the
// stream counts as broken (guards against endless undecodable input).
constexpr int kMaxPacketsWithoutFrame = 4096;
// Memory for decoded frames kept behind the current position (at least 2,
// at most 16 frames): 1920x1080 4:2:0 keeps 10.
constexpr size_t kRecentFramesBytes = 32u << 20;
// Demuxer seeks tried, each further back, before decoding from the start.
constexpr int kMaxSeekAttempts = 5;

}  // namespace

void CFileDecoder::SFrameDeleter::operator()(AVFrame* p) const { av_frame_free(&p); }

CFileDecoder::CFileDecoder() = default;

CFileDecoder::~CFileDecoder() { Close(); }

int CFileDecoder::InterruptCallback(void* pOpaque) {
    // Called by FFmpeg on the owner thread inside blocking I/O.
    return static_cast<const CFileDecoder*>(pOpaque)->m_bStopRequested.load() ? 1 : 0;
}

void CFileDecoder::Close() {
    m_strPath.clear();
    m_ahead.clear();
    m_recent.clear();
    m_nRecentMax = m_nRecentBudget = 1;
    m_Converter.Reset();
    av_packet_free(&m_pPacket);
    avcodec_free_context(&m_pCodec);
    m_pPictures.reset();
    avformat_close_input(&m_pFormat);
    m_nStream = -1;
    m_nWidth = m_nHeight = m_nStride = 0;
    m_rtAvgTimePerFrame = m_rtDuration = m_rtTolerance = 0;
    m_llFrameCount = 0;
    m_bAvi = false;
    m_rtLastDecoded = -1;
    m_llLastPacketDts = INT64_MIN;
    m_bDemuxEnd = m_bStreamEnd = m_bPastEnd = m_bResync = m_bEndedOnError = false;
    m_llDemuxerSeeks = 0;
}

HRESULT CFileDecoder::Open(const std::string& strPath) {
    Close();
    m_strPath = strPath;
    // Only regular files: opening a FIFO blocks in open(2) until a writer
    // comes, where no stop request can reach it, and a device may never end.
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(strPath, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND_CODE);
    }
    if (ec || status.type() != std::filesystem::file_type::regular) return HR_INVALID_FILE_FORMAT;
    m_pFormat = avformat_alloc_context();
    if (!m_pFormat) return E_OUTOFMEMORY;
    m_pFormat->interrupt_callback.callback = &CFileDecoder::InterruptCallback;
    m_pFormat->interrupt_callback.opaque = this;
    // avformat_open_input frees the context on failure and nulls the pointer.
    int nErr = avformat_open_input(&m_pFormat, strPath.c_str(), nullptr, nullptr);
    if (nErr < 0) {
        Close();
        if (nErr == AVERROR(ENOENT)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND_CODE);
        if (nErr == AVERROR_EXIT) return E_ABORT;
        return HR_INVALID_FILE_FORMAT;
    }
    nErr = avformat_find_stream_info(m_pFormat, nullptr);
    if (nErr < 0) {
        Close();
        return nErr == AVERROR_EXIT ? E_ABORT : HR_INVALID_FILE_FORMAT;
    }

    const AVCodec* pDecoder = nullptr;
    m_nStream = av_find_best_stream(m_pFormat, AVMEDIA_TYPE_VIDEO, -1, -1, &pDecoder, 0);
    if (m_nStream < 0) {
        const bool bNoDecoder = m_nStream == AVERROR_DECODER_NOT_FOUND;
        Close();
        return bNoDecoder ? HR_CANNOT_DECODE : HR_NO_VIDEO_STREAM;
    }
    AVStream* pStream = m_pFormat->streams[m_nStream];
    if (pStream->disposition & AV_DISPOSITION_ATTACHED_PIC) {
        Close();  // a cover picture is not a video stream
        return HR_NO_VIDEO_STREAM;
    }
    // Only the video stream is demuxed: the others are skipped unread where
    // the container allows.
    for (unsigned i = 0; i < m_pFormat->nb_streams; ++i) {
        if (static_cast<int>(i) != m_nStream) m_pFormat->streams[i]->discard = AVDISCARD_ALL;
    }

    m_pCodec = avcodec_alloc_context3(pDecoder);
    m_pPacket = av_packet_alloc();
    if (!m_pCodec || !m_pPacket) {
        Close();
        return E_OUTOFMEMORY;
    }
    if (avcodec_parameters_to_context(m_pCodec, pStream->codecpar) < 0) {
        Close();
        return HR_CANNOT_DECODE;
    }
    m_pCodec->pkt_timebase = pStream->time_base;
    m_pPictures = std::make_unique<CPicturePool>();
    m_pPictures->Attach(m_pCodec);
    m_pCodec->thread_count = 0;  // one per core
    m_pCodec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(m_pCodec, pDecoder, nullptr) < 0) {
        Close();
        return HR_CANNOT_DECODE;
    }

    m_nTbNum = pStream->time_base.num;
    m_nTbDen = pStream->time_base.den;
    if (m_nTbNum <= 0 || m_nTbDen <= 0) {
        Close();
        return HR_INVALID_FILE_FORMAT;
    }
    AVRational fps = av_guess_frame_rate(m_pFormat, pStream, nullptr);
    if (fps.num <= 0 || fps.den <= 0 || av_q2d(fps) > 10000.0) fps = {25, 1};
    m_nFpsNum = fps.num;
    m_nFpsDen = fps.den;
    m_rtAvgTimePerFrame = av_rescale(10000000, fps.den, fps.num);
    m_bAvi = std::strcmp(m_pFormat->iformat->name, "avi") == 0;

    // Container time stamps may be rounded to a coarse tick (ASF counts in
    // milliseconds); a frame time within half a tick of the frame-rate grid
    // is put on the grid, so that frame n starts exactly at FrameToTime(n).
    const REFERENCE_TIME rtTick = av_rescale_q(1, pStream->time_base, kHundredNs);
    m_rtTolerance = std::min(rtTick / 2, m_rtAvgTimePerFrame / 4);

    // The first frame fixes time 0 and the output geometry. A file whose
    // first frame cannot be decoded fails here, not later on the stream.
    m_llStartPts = 0;
    SQueuedFrame first;
    const HRESULT hr = DecodeNext(&first);
    if (hr != S_OK) {
        Close();
        return hr == E_ABORT ? E_ABORT : HR_CANNOT_DECODE;
    }
    m_llStartPts = first.pFrame->best_effort_timestamp != AV_NOPTS_VALUE
                       ? first.pFrame->best_effort_timestamp
                       : 0;
    first.rtTime = 0;
    m_rtLastDecoded = 0;
    const int64_t llWidth = first.pFrame->width, llHeight = first.pFrame->height;
    const int64_t llStride = TavroRowStride(first.pFrame->width);
    if (llWidth <= 0 || llHeight <= 0 || llStride * llHeight > 0x7FFFFFFF) {
        Close();
        return HR_CANNOT_DECODE;
    }
    m_nWidth = static_cast<LONG>(llWidth);
    m_nHeight = static_cast<LONG>(llHeight);
    m_nStride = static_cast<LONG>(llStride);
    // The ffmpeg command's default conversion: a file's frames are the
    // ones that command makes of it.
    if (m_Converter.InitPictures(static_cast<uint32_t>(m_nWidth), static_cast<uint32_t>(m_nHeight),
                                 static_cast<uint32_t>(m_nStride),
                                 CFrameConverter::EQuality::CommandDefault) != S_OK) {
        Close();
        return HR_CANNOT_DECODE;
    }
    // Frames passed recently are kept for backward steps, within a memory
    // budget: a step back among them needs no demuxer seek and no decoding.
    const int nFrameBytes =
        av_image_get_buffer_size(static_cast<AVPixelFormat>(first.pFrame->format),
                                 first.pFrame->width, first.pFrame->height, 1);
    m_nRecentBudget =
        nFrameBytes > 0
            ? std::clamp<size_t>(kRecentFramesBytes / static_cast<size_t>(nFrameBytes), 2, 16)
            : 2;
    m_nRecentMax = m_nRecentBudget;
    m_ahead.push_back(std::move(first));

    // Duration from the stream (measured from its first frame), else from
    // the container; frame count from the stream header, else the duration.
    if (pStream->duration != AV_NOPTS_VALUE && pStream->duration > 0) {
        const int64_t llStart =
            pStream->start_time != AV_NOPTS_VALUE ? pStream->start_time : m_llStartPts;
        m_rtDuration = PtsToTime(llStart + pStream->duration);
    } else if (m_pFormat->duration != AV_NOPTS_VALUE && m_pFormat->duration > 0) {
        const int64_t llStartUs =
            m_pFormat->start_time != AV_NOPTS_VALUE ? m_pFormat->start_time : 0;
        const REFERENCE_TIME rtFirst =
            av_rescale_q(m_llStartPts, pStream->time_base, kHundredNs) - llStartUs * 10;
        m_rtDuration = m_pFormat->duration * 10 - std::max<REFERENCE_TIME>(rtFirst, 0);
    }
    if (pStream->nb_frames > 0) {
        m_llFrameCount = pStream->nb_frames;
        // An AVI holds one frame per chunk at a constant rate, so its frame
        // count fixes its length. Its stream duration does not: with B-frames
        // its packets carry only decode times, the pictures' times (and so
        // time 0) are those shifted by the decoder's reorder delay, and the
        // duration measured from the stream's start would end the stream
        // that many pictures early.
        if (m_rtDuration <= 0 || m_bAvi) m_rtDuration = FrameToTime(m_llFrameCount);
    } else if (m_rtDuration > 0) {
        m_llFrameCount = av_rescale_rnd(
            m_rtDuration, m_nFpsNum, static_cast<int64_t>(m_nFpsDen) * 10000000, AV_ROUND_NEAR_INF);
    }
    if (m_llFrameCount <= 0) m_llFrameCount = 1;
    if (m_rtDuration <= 0) m_rtDuration = m_rtAvgTimePerFrame;
    return S_OK;
}

void CFileDecoder::GetBitmapHeader(BITMAPINFOHEADER* pHeader) const {
    if (!pHeader) return;
    std::memset(pHeader, 0, sizeof *pHeader);
    pHeader->biSize = sizeof(BITMAPINFOHEADER);
    pHeader->biWidth = m_nWidth;
    pHeader->biHeight = m_nHeight;  // positive: bottom-up
    pHeader->biPlanes = 1;
    pHeader->biBitCount = 24;
    pHeader->biCompression = BI_RGB;
    pHeader->biSizeImage = GetImageSize();
}

REFERENCE_TIME CFileDecoder::FrameToTime(LONGLONG llFrame) const {
    return av_rescale_q(llFrame, AVRational{m_nFpsDen, m_nFpsNum}, kHundredNs);
}

LONGLONG CFileDecoder::TimeToFrame(REFERENCE_TIME rt) const {
    LONGLONG n = av_rescale_q_rnd(rt, kHundredNs, AVRational{m_nFpsDen, m_nFpsNum},
                                  static_cast<AVRounding>(AV_ROUND_DOWN));
    // FrameToTime rounds to nearest, so the floor may be one short.
    while (FrameToTime(n + 1) <= rt) ++n;
    while (n > 0 && FrameToTime(n) > rt) --n;
    return n;
}

REFERENCE_TIME CFileDecoder::PtsToTime(int64_t llPts) const {
    return av_rescale_q(llPts - m_llStartPts, AVRational{m_nTbNum, m_nTbDen}, kHundredNs);
}

REFERENCE_TIME CFileDecoder::SnapToGrid(REFERENCE_TIME rt) const {
    const REFERENCE_TIME rtGrid = FrameToTime(TimeToFrame(rt + m_rtTolerance));
    return (rt - rtGrid <= m_rtTolerance && rtGrid - rt <= m_rtTolerance) ? rtGrid : rt;
}

HRESULT CFileDecoder::PictureTime(LONGLONG llPicture, REFERENCE_TIME* prt) const {
    if (!prt) return E_POINTER;
    if (!IsOpen()) return E_UNEXPECTED;
    if (llPicture < 0) return E_INVALIDARG;
    if (m_bAvi) {
        if (llPicture >= m_llFrameCount) return S_FALSE;
        *prt = FrameToTime(llPicture);
        return S_OK;
    }
    struct SInputCloser {
        void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
    };
    AVFormatContext* pRaw = nullptr;
    if (avformat_open_input(&pRaw, m_strPath.c_str(), nullptr, nullptr) < 0) return E_FAIL;
    std::unique_ptr<AVFormatContext, SInputCloser> pFormat(pRaw);
    if (avformat_find_stream_info(pFormat.get(), nullptr) < 0 ||
        m_nStream >= static_cast<int>(pFormat->nb_streams)) {
        return E_FAIL;
    }
    for (unsigned i = 0; i < pFormat->nb_streams; ++i) {
        if (static_cast<int>(i) != m_nStream) pFormat->streams[i]->discard = AVDISCARD_ALL;
    }
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> pPacket(av_packet_alloc(),
                                                           [](AVPacket* p) { av_packet_free(&p); });
    if (!pPacket) return E_OUTOFMEMORY;
    // Presentation times from the first picture on (pictures before it are
    // never delivered); a stream without them counts at the frame rate.
    std::vector<int64_t> pts;
    bool bUntimed = false;
    while (av_read_frame(pFormat.get(), pPacket.get()) >= 0) {
        if (pPacket->stream_index == m_nStream && !(pPacket->flags & AV_PKT_FLAG_DISCARD)) {
            if (pPacket->pts == AV_NOPTS_VALUE)
                bUntimed = true;
            else if (pPacket->pts >= m_llStartPts)
                pts.push_back(pPacket->pts);
        }
        av_packet_unref(pPacket.get());
    }
    if (bUntimed) {
        if (llPicture >= m_llFrameCount) return S_FALSE;
        *prt = FrameToTime(llPicture);
        return S_OK;
    }
    if (llPicture >= static_cast<LONGLONG>(pts.size())) return S_FALSE;
    std::nth_element(pts.begin(), pts.begin() + llPicture, pts.end());
    *prt = SnapToGrid(PtsToTime(pts[static_cast<size_t>(llPicture)]));
    return S_OK;
}

int64_t CFileDecoder::TimeToPtsFloor(REFERENCE_TIME rt) const {
    const AVRational tb{m_nTbNum, m_nTbDen};
    int64_t llPts =
        m_llStartPts + av_rescale_q_rnd(rt, kHundredNs, tb, static_cast<AVRounding>(AV_ROUND_DOWN));
    while (PtsToTime(llPts + 1) <= rt) ++llPts;
    return llPts;
}

HRESULT CFileDecoder::DecodeNext(SQueuedFrame* pOut) {
    if (m_bStreamEnd) return S_FALSE;
    FramePtr pFrame(av_frame_alloc());
    if (!pFrame) return E_OUTOFMEMORY;
    int nPacketsWithoutFrame = 0;
    for (;;) {
        int nErr = avcodec_receive_frame(m_pCodec, pFrame.get());
        if (nErr == 0 && (pFrame->flags & AV_FRAME_FLAG_CORRUPT)) {
            // A picture the decoder knows to be damaged ends the stream.
            m_bStreamEnd = m_bEndedOnError = true;
            return S_FALSE;
        }
        if (nErr == 0) {
            const int64_t llPts = pFrame->best_effort_timestamp;
            REFERENCE_TIME rt;
            if (llPts != AV_NOPTS_VALUE) {
                rt = SnapToGrid(PtsToTime(llPts));
            } else if (m_rtLastDecoded >= 0) {
                // No time stamp: the frame after the last picture. The
                // decoder hands out the pictures it still holds when drained
                // at the end of the file without one (AVI packets with
                // B-frames carry only decode times).
                rt = FrameToTime(TimeToFrame(m_rtLastDecoded) + 1);
            } else {
                rt = 0;
                pOut->bTimeKnown = false;
            }
            m_rtLastDecoded = rt;
            pOut->pFrame = std::move(pFrame);
            pOut->rtTime = rt;
            return S_OK;
        }
        if (nErr == AVERROR_EOF) {
            m_bStreamEnd = true;
            return S_FALSE;
        }
        if (nErr != AVERROR(EAGAIN)) {
            // A broken picture in the middle of the file ends the stream.
            m_bStreamEnd = m_bEndedOnError = true;
            return S_FALSE;
        }
        if (m_bDemuxEnd) {  // drained and still asking for input: nothing more
            m_bStreamEnd = true;
            return S_FALSE;
        }
        if (m_bStopRequested.load()) return E_ABORT;
        if (++nPacketsWithoutFrame > kMaxPacketsWithoutFrame) {
            m_bStreamEnd = m_bEndedOnError = true;
            return S_FALSE;
        }
        nErr = av_read_frame(m_pFormat, m_pPacket);
        if (nErr == AVERROR_EXIT || (nErr < 0 && m_bStopRequested.load())) {
            // The read was cut short, so the demuxer may be mid-packet:
            // reposition after the last frame delivered before reading on.
            // (Inside a seek, the seek overrides this with its own target.)
            MarkResync(m_recent.empty() ? 0 : FrameToTime(TimeToFrame(m_recent.back().rtTime) + 1));
            return E_ABORT;
        }
        if (nErr < 0) {
            // End of file, or a read error that ends it early: let the decoder
            // hand out what it still holds.
            if (nErr != AVERROR_EOF) m_bEndedOnError = true;
            m_bDemuxEnd = true;
            avcodec_send_packet(m_pCodec, nullptr);
            continue;
        }
        if (m_pPacket->stream_index != m_nStream) {
            av_packet_unref(m_pPacket);
            continue;
        }
        if (m_pPacket->flags & AV_PKT_FLAG_CORRUPT) {
            // A packet cut short by the end of a truncated file, or flagged
            // damaged by the demuxer: the stream ends before it.
            av_packet_unref(m_pPacket);
            m_bEndedOnError = m_bDemuxEnd = true;
            avcodec_send_packet(m_pCodec, nullptr);
            continue;
        }
        if (m_pPacket->dts != AV_NOPTS_VALUE) m_llLastPacketDts = m_pPacket->dts;
        nErr = avcodec_send_packet(m_pCodec, m_pPacket);
        av_packet_unref(m_pPacket);
        if (nErr < 0 && nErr != AVERROR(EAGAIN)) {
            m_bStreamEnd = m_bEndedOnError = true;
            return S_FALSE;
        }
    }
}

HRESULT CFileDecoder::PeekNextTime(REFERENCE_TIME* prt) {
    if (!IsOpen()) return E_UNEXPECTED;
    if (!prt) return E_POINTER;
    const HRESULT hr = DecodeAhead();
    if (hr == S_OK) *prt = m_ahead.front().rtTime;
    return hr;
}

HRESULT CFileDecoder::DecodeAhead() {
    if (m_bResync) {
        // Finish what a stop request cut short: the interrupted seek, or the
        // position after the last frame delivered.
        const HRESULT hr = SeekDemuxer(m_rtResyncTo);
        if (hr != S_OK) return hr;
    }
    if (m_bPastEnd) return S_FALSE;
    if (m_ahead.empty()) {
        SQueuedFrame next;
        const HRESULT hr = DecodeNext(&next);
        if (hr != S_OK) return hr;
        m_ahead.push_back(std::move(next));
    }
    return S_OK;
}

HRESULT CFileDecoder::ReadFrame(BYTE* pDest, size_t cbDest, SDecodedFrameInfo* pInfo) {
    if (!IsOpen()) return E_UNEXPECTED;
    if (!pDest) return E_POINTER;
    if (cbDest < GetImageSize()) return E_INVALIDARG;
    const HRESULT hrAhead = DecodeAhead();
    if (hrAhead != S_OK) return hrAhead;
    SQueuedFrame frame = std::move(m_ahead.front());
    m_ahead.pop_front();
    const HRESULT hr = m_Converter.ConvertPicture(frame.pFrame.get(), pDest);
    if (FAILED(hr)) return hr;
    if (pInfo) {
        pInfo->rtTime = frame.rtTime;
        pInfo->llIndex = av_rescale_q_rnd(frame.rtTime, kHundredNs,
                                          AVRational{m_nFpsDen, m_nFpsNum}, AV_ROUND_NEAR_INF);
        pInfo->bKeyFrame = frame.pFrame->key_frame != 0;
    }
    PushRecent(std::move(frame));
    return S_OK;
}

HRESULT CFileDecoder::SeekToFrame(LONGLONG llFrame) {
    if (!IsOpen()) return E_UNEXPECTED;
    if (llFrame >= m_llFrameCount) {
        m_ahead.clear();
        m_bPastEnd = true;
        return S_FALSE;
    }
    return SeekToTime(FrameToTime(std::max<LONGLONG>(llFrame, 0)));
}

HRESULT CFileDecoder::SeekToTime(REFERENCE_TIME rt) {
    if (!IsOpen()) return E_UNEXPECTED;
    rt = std::max<REFERENCE_TIME>(rt, 0);
    if (rt >= m_rtDuration) {
        m_ahead.clear();
        m_bPastEnd = true;
        return S_FALSE;
    }
    if (!m_bResync && !m_bPastEnd) {
        const bool bBeforeNext = !m_ahead.empty() && !StartsBy(m_ahead.front().rtTime, rt);
        if (bBeforeNext) {
            // Behind the next frame: served from the frames passed recently
            // (the last one delivered, a backward step) if they reach back.
            if (!m_recent.empty() && StartsBy(m_recent.front().rtTime, rt)) {
                RewindTo(rt);
                return S_OK;
            }
        } else if (WithinForwardReach(rt)) {
            const HRESULT hr = DecodeForwardTo(rt);
            if (FAILED(hr)) {
                MarkResync(rt);  // frames were consumed: finish through the demuxer
                return hr;
            }
            if (!m_recent.empty() && StartsBy(m_recent.front().rtTime, rt)) {
                RewindTo(rt);
                return S_OK;
            }
        }
    }
    return SeekDemuxer(rt);
}

bool CFileDecoder::WithinForwardReach(REFERENCE_TIME rt) const {
    // Where decoding stands: the next frame to deliver, else the last one.
    REFERENCE_TIME rtHere;
    if (!m_ahead.empty()) {
        rtHere = m_ahead.front().rtTime;
    } else if (!m_recent.empty()) {
        rtHere = m_recent.back().rtTime;
    } else {
        return false;
    }
    if (TimeToFrame(rt) - TimeToFrame(rtHere) <= kForwardReachFrames) return true;
    // Further ahead: keep decoding only if a demuxer seek would land on a
    // keyframe we have already passed.
    const AVStream* pStream = m_pFormat->streams[m_nStream];
    const AVIndexEntry* pEntry = avformat_index_get_entry_from_timestamp(
        const_cast<AVStream*>(pStream), TimeToPtsFloor(rt), AVSEEK_FLAG_BACKWARD);
    return pEntry && m_llLastPacketDts != INT64_MIN && pEntry->timestamp <= m_llLastPacketDts;
}

HRESULT CFileDecoder::DecodeForwardTo(REFERENCE_TIME rt) {
    // Passes every frame that starts by rt into the recent frames; stops with
    // the first frame that starts after rt at the head of m_ahead, or at the
    // end of the stream (then the last frame holds rt).
    for (;;) {
        if (m_ahead.empty()) {
            SQueuedFrame next;
            const HRESULT hr = DecodeNext(&next);
            if (hr == S_FALSE) return S_OK;
            if (hr != S_OK) return hr;
            m_ahead.push_back(std::move(next));
        }
        if (!StartsBy(m_ahead.front().rtTime, rt)) return S_OK;
        PushRecent(std::move(m_ahead.front()));
        m_ahead.pop_front();
    }
}

void CFileDecoder::PushRecent(SQueuedFrame frame) {
    m_recent.push_back(std::move(frame));
    while (m_recent.size() > m_nRecentMax) m_recent.pop_front();
}

void CFileDecoder::RewindTo(REFERENCE_TIME rt) {
    // Precondition: m_recent.front() starts by rt and every frame ahead
    // starts after it. Hands back, in order, the recent frames from the one
    // at rt on, so the next ReadFrame delivers it.
    while (!m_recent.empty()) {
        const bool bAtRt = StartsBy(m_recent.back().rtTime, rt);
        m_ahead.push_front(std::move(m_recent.back()));
        m_recent.pop_back();
        if (bAtRt) return;
    }
}

void CFileDecoder::ResetStreamState() {
    avcodec_flush_buffers(m_pCodec);
    m_ahead.clear();
    m_recent.clear();
    m_bDemuxEnd = m_bStreamEnd = m_bPastEnd = m_bResync = m_bEndedOnError = false;
    m_llLastPacketDts = INT64_MIN;
    m_rtLastDecoded = -1;
}

HRESULT CFileDecoder::SeekDemuxer(REFERENCE_TIME rt) {
    // Seek to the keyframe at or before rt; if the demuxer lands after rt
    // (index by decode time, B-frames, coarse index), try again further back,
    // and finally from the start of the stream.
    const int64_t llTarget = TimeToPtsFloor(rt);
    const int64_t llSecond = av_rescale_q(1, AVRational{1, 1}, AVRational{m_nTbNum, m_nTbDen});
    int64_t llBack = 0;
    for (int nAttempt = 0; nAttempt <= kMaxSeekAttempts; ++nAttempt) {
        const bool bFromStart = nAttempt == kMaxSeekAttempts || llTarget - llBack <= m_llStartPts;
        const int64_t llSeek = bFromStart ? m_llStartPts : llTarget - llBack;
        if (m_bStopRequested.load()) {
            MarkResync(rt);
            return E_ABORT;
        }
        ++m_llDemuxerSeeks;
        int nErr = av_seek_frame(m_pFormat, m_nStream, llSeek, AVSEEK_FLAG_BACKWARD);
        if (nErr < 0 && bFromStart) nErr = av_seek_frame(m_pFormat, -1, 0, AVSEEK_FLAG_BYTE);
        ResetStreamState();
        if (nErr < 0) {
            if (bFromStart) {
                MarkResync(rt);
                return E_FAIL;
            }
            llBack = std::max<int64_t>(2 * llBack, llSecond);
            continue;
        }
        SQueuedFrame first;
        HRESULT hr = DecodeNext(&first);
        if (FAILED(hr)) {
            MarkResync(rt);
            return hr;
        }
        if (bFromStart && hr == S_OK && first.bTimeKnown && !StartsBy(first.rtTime, rt) &&
            !(m_pFormat->iformat->flags & AVFMT_NO_BYTE_SEEK)) {
            // A stream without an index (MPEG-TS) is searched by time stamp,
            // and the search can land on a later keyframe even for the
            // start: read from the first byte instead.
            nErr = av_seek_frame(m_pFormat, -1, 0, AVSEEK_FLAG_BYTE);
            ResetStreamState();
            if (nErr < 0) {
                MarkResync(rt);
                return E_FAIL;
            }
            first = SQueuedFrame{};
            hr = DecodeNext(&first);
            if (FAILED(hr)) {
                MarkResync(rt);
                return hr;
            }
        }
        if (hr != S_OK && bFromStart) {
            m_bPastEnd = true;  // not even the start decodes any more
            return S_FALSE;
        }
        if (hr != S_OK || (!bFromStart && (!first.bTimeKnown || !StartsBy(first.rtTime, rt)))) {
            // Landed after rt, on a picture whose time cannot be told (an
            // AVI keyframe found by its decode time may be shown after rt,
            // and when it is the last picture it comes only from draining,
            // without a time stamp), or on nothing decodable: further back,
            // at least as far as the overshoot.
            llBack = std::max<int64_t>(2 * llBack, llSecond);
            if (hr == S_OK) {
                llBack = std::max<int64_t>(
                    llBack, TimeToPtsFloor(first.rtTime) - llTarget + llBack + llSecond);
            }
            continue;
        }
        m_ahead.push_back(std::move(first));
        hr = DecodeForwardTo(rt);
        if (FAILED(hr)) {
            MarkResync(rt);
            return hr;
        }
        if (!m_recent.empty()) RewindTo(rt);  // empty only when rt precedes the first frame
        return S_OK;
    }
    MarkResync(rt);
    return E_FAIL;
}

void CFileDecoder::MarkResync(REFERENCE_TIME rt) {
    m_bResync = true;
    m_rtResyncTo = rt;
}
