// mediagraph: CFileSourcePin, the only (output) pin of CFileSourceFilter.
//
// The filter wraps a CFileDecoder and pushes its frames downstream:
// MEDIATYPE_Video / MEDIASUBTYPE_RGB24 / FORMAT_VideoInfo, bottom-up BGR rows
// padded to 4 bytes (biSizeImage = H x stride), AvgTimePerFrame from the
// stream rate. Audio streams are ignored.
//
// Contract:
// - Streaming: Pause from stopped (the pin's Active) starts the pin's own
//   streaming thread. It sends NewSegment(start, stop, 1.0), then for every
//   frame takes a sample from the downstream allocator, decodes into it and
//   delivers it with its times relative to the segment start (the first
//   frame of a segment starts at 0 even when the seek fell inside it) and its
//   absolute position as the sample's media time (100 ns). The first frame
//   of a segment is always delivered, so a stop equal to the start still
//   shows the frame at that position (a start at or past the end shows the
//   last frame); after it, a frame that starts at or
//   after the stop position ends the segment with EndOfStream. The end of
//   the file, and a read or decode error in the middle of it, also end the
//   stream with EndOfStream. The thread then ends; the filter stays active.
// - Seeking: IMediaSeeking on the output pin. SetPositions with a new
//   current position on an active filter flushes downstream (BeginFlush),
//   stops the streaming thread, EndFlush, and starts a new thread for the
//   new segment; the decoder decides whether the seek continues decoding
//   (a short way forward) or goes through the demuxer. A new stop alone is
//   picked up by the running thread. Seeks are exact (the frame whose
//   interval contains the position), except that a media time that is a
//   whole multiple k of AvgTimePerFrame means frame k even where the rounded
//   frame duration puts it a few units before frame k's start (30 fps: frame
//   k is addressed as k x 333333). Time formats: media time for every file,
//   TIME_FORMAT_FRAME for AVI files only. Rate 1.0 only. ConvertTimeFormat
//   also takes TIME_FORMAT_SAMPLE as its source format (never as a format
//   to set): picture n in presentation order, at its own time, which in a
//   file with a variable frame rate is not n frame durations. That
//   conversion reads the file's packets once more with a demuxer of its own
//   (CFileDecoder::PictureTime), so call it from the graph's client thread,
//   never with a lock held.
// - Threads and locks: m_Lock is the filter lock (state changes and
//   connection, graph thread). m_ThreadLock serialises starting and stopping
//   the streaming thread (Active, Inactive, SetPositions). m_SeekLock is a
//   leaf lock over the segment and the time format: the renderer calls
//   GetStopPosition, ConvertTimeFormat, GetTimeFormat and the like with its
//   own locks held, and these take nothing else and never call downstream.
//   The decoder's mutable state belongs to the streaming thread while it
//   runs and to whoever holds m_ThreadLock while it does not; its geometry
//   and timing getters are fixed after Open and read anywhere.
// - Every wait of the streaming thread sees its stop request: the decoder's
//   reads through its stop flag, the buffer wait by polling in short slices,
//   a blocked Receive by the downstream renderer's Stop or flush. Stop the
//   renderer before this filter (the graph stops renderers first).
//
// May include: the C++ standard library, platform/, filterbase/. No Qt.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "filterbase/base_output_pin.h"
#include "platform/ffmpeg/file_decoder.h"
#include "platform/win/std_mutex.h"

class CFileSourceFilter;

class CFileSourcePin : public CBaseOutputPin, public IMediaSeeking {
public:
    CFileSourcePin(CFileSourceFilter* pFilter, CCritSec* pLock, HRESULT* phr);
    ~CFileSourcePin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // Connection (graph thread, filter lock held).
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override;
    // State (graph thread, filter lock held): start and stop streaming.
    HRESULT Active() override;
    HRESULT Inactive() override;

    // IMediaSeeking: any thread; see the contract for the locks.
    HRESULT GetCapabilities(DWORD* pCapabilities) override;
    HRESULT CheckCapabilities(DWORD* pCapabilities) override;
    HRESULT IsFormatSupported(const GUID* pFormat) override;
    HRESULT QueryPreferredFormat(GUID* pFormat) override;
    HRESULT GetTimeFormat(GUID* pFormat) override;
    HRESULT IsUsingTimeFormat(const GUID* pFormat) override;
    HRESULT SetTimeFormat(const GUID* pFormat) override;
    HRESULT GetDuration(LONGLONG* pDuration) override;
    HRESULT GetStopPosition(LONGLONG* pStop) override;
    // The start of the current segment: never ahead of what was rendered
    // (the renderer answers itself once it has rendered a frame).
    HRESULT GetCurrentPosition(LONGLONG* pCurrent) override;
    HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                              const GUID* pSourceFormat) override;
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                         DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    HRESULT GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    HRESULT SetRate(double dRate) override;
    HRESULT GetRate(double* pdRate) override;
    HRESULT GetPreroll(LONGLONG* pllPreroll) override;

    // Any thread: the next segment is read straight through (no clock, no
    // backward steps), so the decoder keeps no frames behind it.
    void SetStraightThrough(bool bStraight) { m_bStraightThrough.store(bStraight); }

    // Statistics for tests: samples delivered and EndOfStreams sent since
    // the filter was made.
    LONGLONG SamplesDelivered() const { return m_llDelivered.load(); }
    LONGLONG EndOfStreamsSent() const { return m_llEndOfStreams.load(); }

private:
    void StartThread() REQUIRES(m_ThreadLock);  // thread not running
    void StopThread() REQUIRES(m_ThreadLock);   // joins
    void ThreadProc(REFERENCE_TIME rtStart);
    // Where the decoder seeks for a segment starting at rtStart (media time).
    REFERENCE_TIME SeekTarget(REFERENCE_TIME rtStart) const;
    // Waits for a free sample, in short slices that see the stop request.
    HRESULT WaitForBuffer(IMediaSample** ppSample);
    // Between a time format and media time (m_SeekLock not needed: the
    // decoder's timing is fixed after Open).
    bool ToMedia(const GUID& format, LONGLONG llValue, LONGLONG* pMedia) const;
    bool FromMedia(const GUID& format, LONGLONG llMedia, LONGLONG* pValue) const;
    bool IsSupported(const GUID& format) const;

    CFileSourceFilter* const m_pSource;
    CFileDecoder& m_Decoder;  // the filter's; see the contract for who may touch it

    CStdMutex m_ThreadLock;  // serialises thread start/stop; guards m_Thread, m_bActive
    std::thread m_Thread GUARDED_BY(m_ThreadLock);
    bool m_bActive GUARDED_BY(m_ThreadLock) = false;
    std::atomic<bool> m_bStopThread{false};  // set under m_ThreadLock, read by the thread
    CStdMutex m_StopWaitLock;                // leaf: pairs with m_cvStop
    std::condition_variable m_cvStop;        // wakes the buffer wait on a stop request

    mutable CStdMutex m_SeekLock;                         // leaf: guards the three fields below
    REFERENCE_TIME m_rtStart GUARDED_BY(m_SeekLock) = 0;  // segment start, media time
    REFERENCE_TIME m_rtStop GUARDED_BY(m_SeekLock) = 0;   // segment stop, media time
    GUID m_TimeFormat GUARDED_BY(m_SeekLock);

    std::atomic<bool> m_bStraightThrough{false};  // read by the thread at each segment start
    std::atomic<LONGLONG> m_llDelivered{0};
    std::atomic<LONGLONG> m_llEndOfStreams{0};
};
