// filterbase: CBaseOutputPin, the base of output pins that push samples to a
// connected IMemInputPin (our file source and test sources).
//
// Contract:
// - Connection (graph thread, under m_pLock): CheckConnect asks the peer for
//   IMemInputPin; CompleteConnect negotiates the pool with DecideAllocator:
//   the input pin's allocator first (GetAllocator), else a CMemAllocator of
//   our own; the derived pin sizes it in DecideBufferSize (SetProperties),
//   and the input pin is told the choice with NotifyAllocator. The pin keeps
//   one reference on the pool and one on the peer's IMemInputPin until
//   BreakConnect.
// - Active (Pause from stopped) commits the pool; Inactive (Stop) decommits
//   it, which makes a streaming thread blocked in GetDeliveryBuffer return
//   VFW_E_NOT_COMMITTED: a source's streaming thread stops on that.
// - Streaming thread: GetDeliveryBuffer hands out a sample with one reference
//   that the caller owns; Deliver lends it to the input pin's Receive (the
//   caller still releases its own reference afterwards). DeliverEndOfStream,
//   DeliverBeginFlush/EndFlush and DeliverNewSegment pass those calls to the
//   connected pin; VFW_E_NOT_CONNECTED when there is none.
// - The peer and pool pointers change only while stopped, so the streaming
//   thread reads them without the lock.
#pragma once

#include "filterbase/base_pin.h"
#include "platform/com/com_ref.h"
#include "platform/media/media_interfaces.h"

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                   LPCWSTR pName);
    ~CBaseOutputPin() override;

    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    // Sets the pool's properties (count, size, alignment, prefix); pProps
    // holds the input pin's requirements (alignment at least 1).
    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) = 0;
    // Chooses the pool as described above; *ppAlloc gets one reference.
    virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc);
    // Our own pool when the input pin offers none that works.
    virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);

    // Streaming thread.
    virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime, DWORD dwFlags);
    virtual HRESULT Deliver(IMediaSample* pSample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    // These arrive on input pins only.
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    IMemAllocator* Allocator() const { return m_pAllocator.Get(); }

protected:
    CComRef<IMemAllocator> m_pAllocator;  // see the contract
    CComRef<IMemInputPin> m_pInputPin;    // see the contract
};
