// processing: CCameraFrameSource, a camera device of the capture library as
// the worker's frame source (the processing dialog of the USB camera, and
// the headless camera run), with the two helpers of the camera branch,
// BuildRgb24Format and CopyPackedRows.
//
// Orientation, end to end (the one place it is written down):
//   1. V4L2 delivers rows top-down.
//   2. The sample grabber's converter writes packed bottom-up BGR rows
//      (3 x W bytes each, no padding): the first row in memory is the
//      bottom of the picture.
//   3. GetPixels(index, dst, dstBytes, false, false) copies that frame as it
//      is (no swap, no flip) into the packed camera buffer.
//   4. CopyPackedRows keeps the row order while it pads each row to a
//      multiple of 4 bytes: the frame buffer is bottom-up BGR too.
//   5. The format (BuildRgb24Format) has biHeight > 0: bottom-up.
//   6. The painter draws bottom-up rows, so the picture shows upright.
//
// The source has no positions and is live: every pass asks the library
// whether device m_nDeviceIndex has a new frame and, when it has, takes it
// into the packed camera buffer; new frame or not, the camera buffer is then
// copied into the frame buffer (the pass processes and times the frame
// again). It never opens or closes the device: the application opens every
// camera at start-up and closes them at exit, after every worker has ended.
//
// Sizes: the camera buffer is sized from the frame format taken at probe
// time (W x H x 3) and filled with the sized GetPixels, which refuses a
// frame of any other size: a device reopened at another size meanwhile
// (the library's frozen-device watchdog) cannot overflow it; its frames are
// refused and the buffer keeps the last frame. With no device open at probe
// time the format is an empty 0 x 0 frame, no camera buffer exists and
// nothing is ever acquired (the source is then not live: no pass spins).
//
// Threads: as IFrameSource (processing/frame_source.h); the library calls
// run on the worker thread (the library's own lock order applies inside).
// May include: the C++ standard library, platform/win, capture/, processing
// core. No Qt.
#pragma once

#include <memory>
#include <string>

#include "processing/frame_source.h"

class VideoInput;

// The frame format record of a W x H camera frame: 24-bit, bottom-up
// (biHeight = H > 0), rows padded to 4 bytes, biSizeImage = H x stride.
// W or H not positive gives an empty 0 x 0 record.
BITMAPINFO BuildRgb24Format(LONG nWidth, LONG nHeight);

// Copies H packed rows of 3 x W bytes from pSource into rows padded to a
// multiple of 4 bytes at pDest, keeping their order. Pad bytes are not
// written.
void CopyPackedRows(LONG nWidth, BYTE* pDest, const BYTE* pSource, LONG nHeight);

class CCameraFrameSource : public IFrameSource {
public:
    // videoInput outlives the source (the application's library object).
    explicit CCameraFrameSource(VideoInput& videoInput, int nDeviceIndex = 0);

    // The device's frame size now (0 x 0 when it is not open); never fails.
    HRESULT ProbeFormat(void* hwndOwner, BITMAPINFO* pbmi, std::string* pstrMessage) override;
    // Allocates the camera buffer when the device is open and the probed
    // size is not empty. Live unless there is no buffer.
    HRESULT Open(void* hwndOwner, const CRunFlag& runFlag, SFrameTimeline* pTimeline) override;
    // S_OK: a new camera frame was taken; S_FALSE: none (the last one is
    // copied again). Either way the camera buffer is copied into pDest.
    HRESULT AcquireAt(LONGLONG llPos, BYTE* pDest, DWORD cbDest) override;
    void ForgetPosition() override {}
    // No stream: nothing plays.
    void StartStream(LONGLONG, LONGLONG) override {}
    LONGLONG StreamPosition() override { return 0; }
    void AcquireLatest(BYTE*, DWORD, LONGLONG*) override {}
    bool PicturePosition(LONG, LONGLONG*) override { return false; }
    HRESULT WaitForStreamFrame(DWORD) override { return E_ABORT; }
    void StopStream() override {}
    void StartFrameStream(LONGLONG, LONGLONG) override {}
    HRESULT TakeNextFrame(BYTE*, DWORD, DWORD) override { return S_FALSE; }
    // Frees the camera buffer.
    void Close() override;
    LONGLONG LastCaptureCount() const override { return m_llCaptureCount; }

private:
    VideoInput& m_videoInput;
    const int m_nDeviceIndex;
    // Probe (owner thread, before the worker starts), then read-only.
    LONG m_nWidth = 0;
    LONG m_nHeight = 0;
    // Worker thread only.
    std::unique_ptr<BYTE[]> m_pCameraBits;  // W x H x 3, packed; null without a device
    size_t m_cbCamera = 0;
    LONGLONG m_llCaptureCount = -1;  // the last new frame's capture time
};
