// grab: CGrabRenderer, the video renderer at the end of the file graph. It
// draws nothing: it accepts 24-bit RGB video (RGB24, BI_RGB, in a
// VIDEOINFOHEADER), keeps the latest rendered frame and copies it on request
// into a frame buffer of its own, from which the processing worker copies it
// into the dialog's buffers. After every rendered sample it invalidates the
// owner window so that the dialog repaints.
//
// The processing dialog creates it directly (no class factory), adds it to
// its graph as "Renderer" and renders the file into it. The creator takes the
// first reference (AddRef); the filter deletes itself on the last Release.
//
// Frame keeping (decided by which pool upstream chose, see
// grab_renderer_input_pin.h):
// - Upstream uses our pool: DoRenderSample only swaps the held sample
//   (m_pLatestSample, one reference) and copies no pixels. The consumer
//   copies the held sample into the frame buffer with UpdateFrameBuffer and
//   then out with CopyFrameTo. Samples rendered in between are never copied.
//   The held sample stays across stop, flush and seek; it is dropped when
//   the connection breaks or upstream names another pool.
// - Upstream uses a pool of its own: DoRenderSample copies every sample into
//   the frame buffer on the streaming thread; nothing is held, and
//   CopyFrameTo copies nothing (the consumer relies on our pool).
//
// Hand-off to the consumer (m_mxHandOff): every rendered sample moves a
// serial and wakes the consumer, who waits for it (WaitForRendered) instead
// of polling the graph's position. With the hold armed (ArmHandOff(true), a
// run without a reference clock) each sample stays held until the consumer
// has taken it (TakeFrame copies it out): Render waits, before rendering a
// sample, until the one before was taken. Upstream so decodes the next frame
// while the consumer copies and works on this one, and no sample is ever
// passed over. The serial
// moves in Render, after the base registered the sample's position. Stop
// releases the hold (before the base's Stop takes the interface lock that
// the held streaming thread owns); it stays released until the next
// ArmHandOff. Positioning happens with the graph stopped, never while a
// sample is held.
//
// Frame buffer: a DIB section of stride x |height| bytes built from the
// connection's header by SetMediaType (stride = 3 * width padded to 4). A
// copy into it takes min(stride x |height|, the sample's actual length, the
// sample's buffer size) bytes: the whole padded image when the sample has
// it, and never past either end.
//
// Threads:
// - Graph thread: connection (CheckMediaType, SetMediaType, the pin's
//   allocator calls), state changes.
// - Upstream streaming thread: DoRenderSample (with the interface and
//   renderer locks held), and SetMediaType when a sample carries a new type.
// - Consumer thread (the processing worker, the dialog): UpdateFrameBuffer,
//   CopyFrameTo, the frame format and duration getters.
//
// Locks: interface lock -> renderer lock -> m_FrameLock, never in another
// order. m_mxHandOff is never held together with m_FrameLock, and the
// streaming thread waits on it (hold armed) with the interface and renderer
// locks held: the consumer takes neither of those to take a sample. m_FrameLock is re-entrant: a
// consumer may hold it (FrameLock()) around UpdateFrameBuffer and CopyFrameTo so that both see the
// same frame. Sample releases and InvalidateRect happen after leaving m_FrameLock; InvalidateRect
// never waits for the GUI thread. May include: the C++ standard library, platform/ and filterbase/.
// No Qt.
#pragma once

#include <condition_variable>

#include "filterbase/base_video_renderer.h"
#include "grab/grab_renderer_input_pin.h"
#include "platform/com/com_ref.h"
#include "platform/win/dib_section.h"
#include "platform/win/std_mutex.h"
#include "platform/win/window_handle.h"

// {B1196BCB-5763-4272-9BDD-059AF2D11930}
inline constexpr CLSID CLSID_GrabRenderer = {
    0xB1196BCB, 0x5763, 0x4272, {0x9B, 0xDD, 0x05, 0x9A, 0xF2, 0xD1, 0x19, 0x30}};

class CGrabRenderer : public CBaseVideoRenderer {
public:
    // hwndOwner is the window invalidated after each rendered sample (null:
    // none). Failures of the base classes, and E_OUTOFMEMORY when the pin's
    // pool cannot be built, are written to *phr.
    CGrabRenderer(HWND hwndOwner, HRESULT* phr);
    ~CGrabRenderer() override;

    // --- For the consumer (processing worker or dialog), any thread. ---

    // Under m_FrameLock: copies the held sample into the frame buffer. The
    // sample stays held. Does nothing before the first sample, without a
    // frame buffer, or when upstream uses its own pool.
    void UpdateFrameBuffer();
    // Under m_FrameLock: when a sample is held, the frame buffer exists and
    // holds a copy, copies min(copy size, cbDest) bytes of it to pDest.
    // Returns the number of bytes copied (0: nothing copied).
    LONG CopyFrameTo(BYTE* pDest, LONG cbDest);
    // The connection's bitmap header and one zero colour entry (44 bytes);
    // biSizeImage is at least stride x |height|. All zero before the first
    // connection.
    void GetFrameFormat(BITMAPINFO* pbmi);
    // Low 32 bits of the format's AvgTimePerFrame (100 ns); 0 when unknown,
    // so a caller must not divide by it unchecked.
    LONG GetFrameDuration();
    LONG GetFrameWidth();
    // Absolute value of the header's height.
    LONG GetFrameHeight();
    // Bytes written by the last copy into the frame buffer (0 before).
    LONG GetFrameCopySize();
    // Whether a sample is held (our pool in use and a sample rendered).
    BOOL HasLatestSample();
    // Under m_FrameLock: copies the latest rendered frame straight into
    // pDest, at most min(cbDest, the frame's padded size, the sample's
    // actual length and buffer size) bytes: from the held sample (our
    // pool) or from the frame buffer (a foreign pool copied it there).
    // Returns the bytes copied (0: nothing rendered yet).
    LONG CopyLatestTo(BYTE* pDest, LONG cbDest);

    // --- Hand-off, consumer thread (graph stopped for ArmHandOff). ---

    // Starts a run's hand-off: bHold = each sample is held until taken.
    // Forgets an end of stream and counts every sample rendered before as
    // taken.
    void ArmHandOff(bool bHold) EXCLUDES(m_mxHandOff);
    // Lets a held streaming thread go and holds nothing until ArmHandOff
    // (any thread; Stop calls it).
    void ReleaseHandOff() EXCLUDES(m_mxHandOff);
    // Waits up to dwMs for a sample rendered after serial *pnSeen; S_OK and
    // *pnSeen moved to the newest serial, or E_ABORT on time-out.
    HRESULT WaitForRendered(ULONGLONG* pnSeen, DWORD dwMs) EXCLUDES(m_mxHandOff);
    // Waits up to dwMs for a sample not taken yet and copies it into pDest
    // (CopyLatestTo; *pcbCopied the bytes), then lets the streaming thread
    // go on. S_OK: taken; S_FALSE: the end of the stream came and every
    // sample was taken; E_ABORT: time-out.
    HRESULT TakeFrame(BYTE* pDest, LONG cbDest, DWORD dwMs, LONG* pcbCopied) EXCLUDES(m_mxHandOff);
    // Under m_FrameLock: the media start time (100 ns) of the held sample,
    // which is the frame the next UpdateFrameBuffer copies. S_OK; E_FAIL
    // when no sample is held, VFW_E_MEDIA_TIME_NOT_SET when it has none.
    HRESULT GetLatestMediaTime(LONGLONG* pllStart);
    // The frame lock, for a consumer that keeps one frame across several
    // calls. Take nothing else while holding it.
    CCritSec* FrameLock() { return &m_FrameLock; }
    HWND OwnerWindow() const { return m_hwndOwner; }
    CGrabRendererInputPin* GrabInputPin() { return &m_InputPin; }

    // --- Called by the framework. ---

    // S_OK only for MEDIATYPE_Video / MEDIASUBTYPE_RGB24 / FORMAT_VideoInfo
    // with a full VIDEOINFOHEADER, 24 bits, BI_RGB, width > 0, height not 0
    // (negative: top-down) and a padded image of at most 0x7FFFFFFF bytes;
    // S_FALSE otherwise (E_POINTER for null).
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    // Adopts the type's bitmap header (at byte 48 of a VIDEOINFOHEADER,
    // byte 72 of a VIDEOINFOHEADER2) and frame duration, and a new frame
    // buffer. Other format types, and blocks too short for their layout,
    // change nothing (S_OK). When the frame buffer cannot be created nothing
    // changes and the answer is E_OUTOFMEMORY.
    HRESULT SetMediaType(const CMediaType* pmt) override;
    // Streaming thread, interface and renderer locks held. Always S_OK.
    HRESULT DoRenderSample(IMediaSample* pMediaSample)
        REQUIRES(m_InterfaceLock, m_RendererLock) override;
    // Streaming thread, both locks held: with the hold armed, waits until
    // the consumer took the sample before (or the hold was released); then
    // the base's Render, and the serial moves.
    HRESULT Render(IMediaSample* pMediaSample) REQUIRES(m_InterfaceLock, m_RendererLock) override;
    // Releases the hand-off first, so that a held streaming thread lets go
    // of the interface lock the base's Stop needs.
    HRESULT Stop() override;
    // Streaming thread: marks the end of the stream for TakeFrame.
    HRESULT EndOfStream() override;

    // Drops the held sample (swapped out under m_FrameLock, released after
    // it). Called by the pin on disconnection and for a foreign pool.
    void ReleaseLatestSample();

protected:
    // For tests: the pin's pool comes from pfnCreateAllocator.
    CGrabRenderer(HWND hwndOwner, HRESULT* phr, PFN_CREATE_GRAB_ALLOCATOR pfnCreateAllocator);

private:
    // m_FrameLock held. Copies the sample into the frame buffer (bounded as
    // described above) and sets m_cbFrame to the bytes copied.
    void CopySampleToFrame(IMediaSample* pSample) REQUIRES(m_FrameLock);

    const HWND m_hwndOwner;  // fixed at construction

    // m_FrameLock guards every field below it up to m_InputPin, and every
    // byte of the frame buffer.
    CCritSec m_FrameLock;
    BYTE* m_pFrameBuffer GUARDED_BY(m_FrameLock) = nullptr;  // pixels of m_hFrameBitmap, or null
    HBITMAP m_hFrameBitmap GUARDED_BY(m_FrameLock) =
        nullptr;  // owned; deleted when replaced and at the end
    LONG m_cbFrameBuffer GUARDED_BY(m_FrameLock) = 0;  // stride x |height|: the buffer's size
    BITMAPINFO m_bmiFrame GUARDED_BY(m_FrameLock){};   // the adopted header, colour entry zero
    LONG m_nFrameWidth GUARDED_BY(m_FrameLock) = 0;
    LONG m_nFrameHeight GUARDED_BY(m_FrameLock) = 0;    // absolute value
    LONG m_cbFrame GUARDED_BY(m_FrameLock) = 0;         // bytes of the last copy into the buffer
    LONG m_tFrameDuration GUARDED_BY(m_FrameLock) = 0;  // low 32 bits of AvgTimePerFrame
    CComRef<IMediaSample> m_pLatestSample GUARDED_BY(m_FrameLock);

    // Streaming thread, under the renderer lock: DoRenderSample ran inside
    // the current Render call.
    bool m_bRenderedInCall GUARDED_BY(m_RendererLock) = false;

    // m_mxHandOff guards the hand-off fields; m_cvHandOff is signalled when
    // any of them changes. Serials count rendered samples and never go back.
    CStdMutex m_mxHandOff;
    std::condition_variable m_cvHandOff;
    ULONGLONG m_nRendered GUARDED_BY(m_mxHandOff) = 0;  // serial of the last rendered sample
    ULONGLONG m_nTaken GUARDED_BY(m_mxHandOff) =
        0;  // serial of the last sample taken (or armed past)
    bool m_bHold GUARDED_BY(m_mxHandOff) = false;  // Render waits until the sample before is taken
    bool m_bReleased GUARDED_BY(m_mxHandOff) = false;     // no waiting until the next arm
    bool m_bEndOfStream GUARDED_BY(m_mxHandOff) = false;  // EndOfStream arrived since the last arm

    // The filter's only pin, part of this object (the base's pin pointer
    // is set to it and cleared before the base destructor runs).
    CGrabRendererInputPin m_InputPin;
};
