// mediagraph: CSampleGrabber (CLSID_SampleGrabber), the filter between the
// capture pin and the null renderer that turns every camera frame into a
// packed bottom-up BGR24 frame and hands it to its callback.
//
// Contract:
// - Input: any video type whose subtype stands for a pixel code the frame
//   converter reads; the frame (W x H x 3 bytes, rows packed with no
//   padding) is made once at connection. Output: MEDIATYPE_Video /
//   MEDIASUBTYPE_RGB24 / FORMAT_VideoInfo at the same size, biSizeImage
//   W x H x 3.
// - Streaming thread (the capture pin's): Receive converts the frame (rows
//   read with the driver's bytesperline, which the capture sample carries),
//   keeps a copy when buffering is on, calls the callback's SampleCB with a
//   sample lent for the call (GetPointer: the packed frame,
//   GetActualDataLength: W x H x 3, ISampleCaptureTime: the capture time
//   the capture sample carried) and the seconds since the first frame,
//   then passes the frame on. Frames that cannot be converted are skipped.
// - SampleCB runs under m_CallbackLock, which SetCallback also takes: once
//   SetCallback(null) has returned, no SampleCB is running or will run. The
//   callback is never asked for an interface. The lock is recursive, so a
//   callback may detach itself.
// - GetCurrentBuffer: a null target asks for the size; no frame kept yet
//   answers VFW_E_WRONG_STATE; a target smaller than the frame E_OUTOFMEMORY;
//   it never writes more than the size given. Any thread (m_BufferLock).
// - Only SampleCB callbacks (mode 0); BufferCB (mode 1) answers E_NOTIMPL.
//   One-shot mode is not offered.
// Lock order: the filter lock, then m_CallbackLock, then m_BufferLock.
// May include: the C++ standard library, platform/, filterbase/. No Qt.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "filterbase/base_filter.h"
#include "filterbase/base_input_pin.h"
#include "filterbase/base_output_pin.h"
#include "mediagraph/frame_sample.h"
#include "platform/ffmpeg/frame_converter.h"
#include "platform/media/capture_interfaces.h"

class CSampleGrabber;

class CGrabberInputPin final : public CBaseInputPin {
public:
    CGrabberInputPin(CSampleGrabber* pFilter, CCritSec* pLock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT Receive(IMediaSample* pSample) override;

private:
    CSampleGrabber* const m_pGrabber;
};

class CGrabberOutputPin final : public CBaseOutputPin {
public:
    CGrabberOutputPin(CSampleGrabber* pFilter, CCritSec* pLock, HRESULT* phr);
    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override;

private:
    CSampleGrabber* const m_pGrabber;
};

class CSampleGrabber final : public CBaseFilter, public ISampleGrabber {
public:
    static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv);
    ~CSampleGrabber() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override;

    // ISampleGrabber
    HRESULT SetOneShot(BOOL OneShot) override;
    HRESULT SetMediaType(const AM_MEDIA_TYPE* pType) override;
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* pType) override;
    HRESULT SetBufferSamples(BOOL BufferThem) override;
    HRESULT GetCurrentBuffer(LONG* pBufferSize, LONG* pBuffer) override;
    HRESULT GetCurrentSample(IMediaSample** ppSample) override;
    HRESULT SetCallback(ISampleGrabberCB* pCallback, LONG WhichMethodToCallback) override;

private:
    friend class CGrabberInputPin;
    friend class CGrabberOutputPin;
    explicit CSampleGrabber(HRESULT* phr);

    // The packed output type at the input's size; under the filter lock.
    HRESULT OutputType(CMediaType* pmt) const;
    // Input connected (graph thread, filter lock): sizes the frame.
    HRESULT PrepareFrame(const CMediaType& mt);
    // Streaming thread.
    HRESULT OnSample(IMediaSample* pSample);

    CCritSec m_Lock;  // the filter lock
    CGrabberInputPin m_Input;
    CGrabberOutputPin m_Output;

    // Set at connection (filter lock, stopped); used by the streaming
    // thread while running.
    uint32_t m_nWidth = 0;
    uint32_t m_nHeight = 0;
    std::unique_ptr<uint8_t[]> m_pFrame;   // W x H x 3
    CFrameConverter m_Converter;           // streaming thread while running
    CFrameSample* m_pOutSample = nullptr;  // one reference; lent per frame

    std::recursive_mutex m_CallbackLock;      // the gate: guards m_pCallback
    ISampleGrabberCB* m_pCallback = nullptr;  // one reference

    std::atomic<bool> m_bBufferSamples{false};
    std::mutex m_BufferLock;      // guards m_Kept
    std::vector<uint8_t> m_Kept;  // the last frame, when buffering
};
