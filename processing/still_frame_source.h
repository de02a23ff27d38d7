// processing: CStillFrameSource, a still image held in memory as the
// worker's frame source (the image Open command's bitmaps and CSV grids).
//
// The image has no positions: the first acquire copies it into the worker's
// frame buffer, every later one finds it there already. Nothing runs on a
// thread of its own.
// Threads: as IFrameSource (processing/frame_source.h).
// May include: the C++ standard library, platform/win, processing core.
// No Qt.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "processing/frame_source.h"

class CStillFrameSource : public IFrameSource {
public:
    // The image's format and its cbBits bytes of bits (copied; null for
    // none, which the probe refuses).
    CStillFrameSource(const BITMAPINFO& bmi, const BYTE* pBits, size_t cbBits);

    HRESULT ProbeFormat(void* hwndOwner, BITMAPINFO* pbmi, std::string* pstrMessage) override;
    HRESULT Open(void* hwndOwner, const CRunFlag& runFlag, SFrameTimeline* pTimeline) override;
    // Copies the image (at most cbDest bytes) the first time, S_FALSE later.
    HRESULT AcquireAt(LONGLONG llPos, BYTE* pDest, DWORD cbDest) override;
    void ForgetPosition() override { m_bCopied = false; }
    // No stream: nothing plays.
    void StartStream(LONGLONG, LONGLONG) override {}
    LONGLONG StreamPosition() override { return 0; }
    void AcquireLatest(BYTE*, DWORD, LONGLONG*) override {}
    bool PicturePosition(LONG, LONGLONG*) override { return false; }
    HRESULT WaitForStreamFrame(DWORD) override { return E_ABORT; }
    void StopStream() override {}
    void StartFrameStream(LONGLONG, LONGLONG) override {}
    HRESULT TakeNextFrame(BYTE*, DWORD, DWORD) override { return S_FALSE; }
    void Close() override {}

private:
    const BITMAPINFO m_bmi;
    std::unique_ptr<BYTE[]> m_pBits;  // null when none was given
    const size_t m_cbBits;
    bool m_bCopied = false;  // worker thread: the frame buffer holds the image
};
