// platform/ffmpeg: CFileDecoder, the demuxing and decoding core of the file
// source filter.
//
// Opens a video file with libavformat, decodes its best video stream with
// libavcodec (codec threads on) and converts every picture through the
// shared frame converter (CFrameConverter, libswscale) to the frame layout
// the whole system uses: 24-bit BGR, bottom-up rows, each row padded with
// zero bytes to a multiple of 4 (stride = (3W + 3) & ~3, biSizeImage =
// H x stride). Times are in 100-ns units relative to the first
// frame of the stream, which has time 0 and index 0.
//
// Threads: one owner at a time. Open, Close, ReadFrame, SeekToTime,
// SeekToFrame and the getters are called by the file source filter, from
// its streaming thread (ReadFrame) and from its seek and state calls, always
// under the filter's lock, so never two at once. The only calls allowed from
// any other thread, at any time, are RequestStop/ClearStop/IsStopRequested:
// a stop request makes a running Open, ReadFrame or seek return E_ABORT at
// the next packet (the demuxer's blocking reads see it through FFmpeg's
// interrupt callback). To seek while the streaming thread is decoding, the
// filter calls RequestStop, waits for ReadFrame to return, seeks under its
// lock, then ClearStop. After an E_ABORT from ReadFrame the next ReadFrame
// resumes with the frame after the last one delivered; after an E_ABORT from
// a seek, the next ReadFrame first finishes that seek.
//
// Seeking is exact: a seek to time T makes the next ReadFrame deliver the
// frame whose presentation interval contains T (its start at or before T,
// the next frame's start after T), then the frames after it. How it gets
// there, cheapest first:
//   - the frame just delivered, or one of the few decoded frames kept behind
//     the read position (up to 16, within 32 MiB): handed out again, no
//     decoding (a repeated grab, a backward step);
//   - a short way ahead (no keyframe in between, or at most 12 frames):
//     decoding simply continues;
//   - otherwise: a demuxer seek to the keyframe at or before T (further back
//     if the demuxer lands after T), then decoding forward to T.
// A decode or read error in the middle of the file ends the stream
// (ReadFrame answers S_FALSE, EndedOnError() is true).
//
// May include: the C++ standard library, platform/win, include/pelora, FFmpeg.
// No Qt, no filter framework.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <memory>
#include <string>

#include "platform/ffmpeg/frame_converter.h"
#include "platform/ffmpeg/picture_pool.h"
#include "platform/win/win_types.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;

// What ReadFrame delivered.
struct SDecodedFrameInfo {
    // Presentation time, 100 ns, relative to the first frame; a container
    // time stamp within half a tick of FrameToTime(n) is reported as exactly that.
    REFERENCE_TIME rtTime = 0;
    LONGLONG llIndex = 0;    // frame number: rtTime in frame durations, rounded to nearest
    bool bKeyFrame = false;  // the decoder marked the picture as a keyframe
};

class CFileDecoder {
public:
    // Failure codes of Open besides E_ABORT (stop request), E_OUTOFMEMORY
    // and HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) for a missing file; in the
    // media platform's failure range, for the file source to pass on or map.
    static constexpr HRESULT HR_INVALID_FILE_FORMAT =
        MakeHr(0x8004022Fu);  // not a media file we can read
    static constexpr HRESULT HR_NO_VIDEO_STREAM = MakeHr(0x80040265u);  // nothing decodable to show
    static constexpr HRESULT HR_CANNOT_DECODE =
        MakeHr(0x80040266u);  // no decoder or no first frame

    CFileDecoder();
    ~CFileDecoder();
    CFileDecoder(const CFileDecoder&) = delete;
    CFileDecoder& operator=(const CFileDecoder&) = delete;

    // Opens strPath and decodes its first frame (kept for the first
    // ReadFrame). S_OK, or a failure code with the decoder closed; never
    // blocks on anything but the file itself and the stop request.
    HRESULT Open(const std::string& strPath);
    void Close();
    bool IsOpen() const { return m_pFormat != nullptr; }

    // Geometry of the delivered frames (fixed at Open; a stream that changes
    // size later is scaled to it).
    LONG GetWidth() const { return m_nWidth; }
    LONG GetHeight() const { return m_nHeight; }
    LONG GetStride() const { return m_nStride; }
    DWORD GetImageSize() const {
        return static_cast<DWORD>(m_nStride) * static_cast<DWORD>(m_nHeight);
    }
    // 24-bit BI_RGB bottom-up header of the delivered frames.
    void GetBitmapHeader(BITMAPINFOHEADER* pHeader) const;

    // Frame duration from the stream's frame rate, rounded to 100 ns.
    REFERENCE_TIME GetAvgTimePerFrame() const { return m_rtAvgTimePerFrame; }
    // Length of the stream from its first frame, 100 ns.
    REFERENCE_TIME GetDuration() const { return m_rtDuration; }
    LONGLONG GetFrameCount() const { return m_llFrameCount; }
    // True for AVI files: the only kind for which frame numbers are offered
    // as a time format.
    bool IsAvi() const { return m_bAvi; }

    // Start time of frame llFrame at the stream's frame rate, and the frame
    // whose interval contains rt; TimeToFrame(FrameToTime(n)) == n.
    REFERENCE_TIME FrameToTime(LONGLONG llFrame) const;
    LONGLONG TimeToFrame(REFERENCE_TIME rt) const;

    // The start time of picture llPicture (from 0, counted in presentation
    // order from the first picture) in *prt: S_OK; S_FALSE when the stream
    // has no such picture; E_INVALIDARG for a negative number; E_FAIL when
    // the file cannot be read again. In an AVI (one frame per chunk at a
    // constant rate) picture n is frame n; other containers keep each
    // picture's own time, which with a variable frame rate is not n frame
    // durations: their packets are read once more, with a demuxer of the
    // call's own. So it touches none of the decoder's mutable state and may
    // be called from any thread while the owner decodes; it reads the whole
    // stream (no decoding).
    HRESULT PictureTime(LONGLONG llPicture, REFERENCE_TIME* prt) const;

    // Converts the next frame into pDest (cbDest >= GetImageSize()).
    // S_OK: a frame was written and *pInfo (if not null) describes it.
    // S_FALSE: end of stream (also after a mid-file decode error or after a
    // seek at or past the duration). E_ABORT: stop requested. E_POINTER,
    // E_INVALIDARG: bad buffer. E_UNEXPECTED: not open.
    HRESULT ReadFrame(BYTE* pDest, size_t cbDest, SDecodedFrameInfo* pInfo);
    // The presentation time of the frame the next ReadFrame delivers, in
    // *prt, decoding it when needed but not converting it, so that a reader
    // that stops before it (a segment's stop) pays no conversion and leaves
    // it decoded for the next segment. S_OK; otherwise what ReadFrame would
    // answer (S_FALSE end of stream, E_ABORT stop request, E_UNEXPECTED).
    HRESULT PeekNextTime(REFERENCE_TIME* prt);

    // Positions the stream so that the next ReadFrame delivers the frame at
    // rt (negative times mean 0). S_OK; S_FALSE when rt is at or past the
    // duration (ReadFrame then answers end of stream); E_ABORT on a stop
    // request (the next ReadFrame, after ClearStop, finishes the seek);
    // E_UNEXPECTED when not open; E_FAIL when the file cannot be positioned.
    HRESULT SeekToTime(REFERENCE_TIME rt);
    // The same for a frame number: the frame at FrameToTime(llFrame); S_FALSE
    // for llFrame >= GetFrameCount().
    HRESULT SeekToFrame(LONGLONG llFrame);

    // How many frames passed are kept behind the read position: bKeep =
    // the memory budget's worth (the default, for backward steps), false =
    // only the last two (a stream read straight through, where nobody steps
    // back: holding more only makes the codec allocate more pictures). Takes
    // effect with the next frame passed.
    void KeepRecentFrames(bool bKeep) { m_nRecentMax = bKeep ? m_nRecentBudget : 2; }

    // Any thread, any time.
    void RequestStop() { m_bStopRequested.store(true); }
    void ClearStop() { m_bStopRequested.store(false); }
    bool IsStopRequested() const { return m_bStopRequested.load(); }

    // True when the stream ended on a read or decode error rather than at
    // the end of the file.
    bool EndedOnError() const { return m_bEndedOnError; }
    // Number of demuxer seeks made so far (how often a seek could not simply
    // continue decoding); for tests and statistics.
    LONGLONG GetDemuxerSeekCount() const { return m_llDemuxerSeeks; }

private:
    struct SFrameDeleter {
        void operator()(AVFrame* p) const;
    };
    using FramePtr = std::unique_ptr<AVFrame, SFrameDeleter>;
    struct SQueuedFrame {
        FramePtr pFrame;
        REFERENCE_TIME rtTime = 0;
        // False for a picture without a time stamp decoded before any other
        // since the last seek: its time (0) is a guess, right only at the
        // start of the stream.
        bool bTimeKnown = true;
    };

    static int InterruptCallback(void* pOpaque);

    HRESULT DecodeNext(SQueuedFrame* pOut);
    // Makes m_ahead's front the frame the next ReadFrame delivers (finishing
    // a seek a stop request cut short). S_OK, or ReadFrame's answer.
    HRESULT DecodeAhead();
    HRESULT DecodeForwardTo(REFERENCE_TIME rt);
    void PushRecent(SQueuedFrame frame);
    void RewindTo(REFERENCE_TIME rt);
    HRESULT SeekDemuxer(REFERENCE_TIME rt);
    bool WithinForwardReach(REFERENCE_TIME rt) const;
    static bool StartsBy(REFERENCE_TIME rtFrame, REFERENCE_TIME rt) { return rtFrame <= rt; }
    void ResetStreamState();
    void MarkResync(REFERENCE_TIME rt);
    REFERENCE_TIME PtsToTime(int64_t llPts) const;
    // A time within the tolerance of a frame's start on the rate's grid
    // becomes that start.
    REFERENCE_TIME SnapToGrid(REFERENCE_TIME rt) const;
    int64_t TimeToPtsFloor(REFERENCE_TIME rt) const;

    // Everything below belongs to the owner thread (see the header comment);
    // only m_bStopRequested is shared.
    std::string m_strPath;  // as opened; fixed after Open
    AVFormatContext* m_pFormat = nullptr;
    AVCodecContext* m_pCodec = nullptr;
    // The decoder's picture buffers; outlives m_pCodec, one per Open.
    std::unique_ptr<CPicturePool> m_pPictures;
    CFrameConverter m_Converter;  // decoded pictures to the delivered frames; set up at Open
    AVPacket* m_pPacket = nullptr;
    int m_nStream = -1;
    int m_nTbNum = 1, m_nTbDen = 1;         // stream time base
    int m_nFpsNum = 25, m_nFpsDen = 1;      // frame rate
    int64_t m_llStartPts = 0;               // pts of the first frame (time 0)
    int64_t m_llLastPacketDts = INT64_MIN;  // of the last packet sent to the decoder

    LONG m_nWidth = 0, m_nHeight = 0, m_nStride = 0;
    REFERENCE_TIME m_rtAvgTimePerFrame = 0;
    REFERENCE_TIME m_rtDuration = 0;
    REFERENCE_TIME m_rtTolerance =
        0;  // half a container tick: time stamps this close snap to the grid
    LONGLONG m_llFrameCount = 0;
    bool m_bAvi = false;

    // Decoded frames in presentation order, split at the read position:
    // m_recent ends with the last frame delivered or passed by a seek (at
    // most m_nRecentMax kept), m_ahead starts with the next to deliver.
    // Together they are consecutive frames of the stream.
    std::deque<SQueuedFrame> m_recent;
    std::deque<SQueuedFrame> m_ahead;
    size_t m_nRecentMax = 1;
    size_t m_nRecentBudget = 1;           // m_nRecentMax for backward steps, set at Open
    REFERENCE_TIME m_rtLastDecoded = -1;  // for frames without a time stamp
    bool m_bDemuxEnd = false;             // demuxer exhausted, decoder being drained
    bool m_bStreamEnd = false;            // nothing more will come out of the decoder
    bool m_bPastEnd = false;              // positioned at or past the duration
    bool m_bResync = false;               // a stop request cut a read or seek short ...
    REFERENCE_TIME m_rtResyncTo = 0;      // ... and the next ReadFrame seeks here first
    bool m_bEndedOnError = false;
    LONGLONG m_llDemuxerSeeks = 0;

    std::atomic<bool> m_bStopRequested{false};  // any thread; read by the interrupt callback
};
