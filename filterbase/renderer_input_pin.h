// filterbase: CRendererInputPin, the input pin of CBaseRenderer: it forwards
// the pin-level calls to its renderer.
//
// Contract:
// - Constructed with the renderer's m_InterfaceLock as its lock; the pin's
//   references are the renderer's.
// - Receive (upstream streaming thread) forwards to the renderer; a failure
//   that is not explained by a stop, a flush or an earlier error
//   is a run-time error: EC_ERRORABORT to the graph, EC_COMPLETE if the
//   stream was running, and every later sample is refused until EndFlush or
//   Inactive. The pin looks only after the renderer has given up the
//   interface lock, so a flush or stop may have come and gone meanwhile;
//   m_nStreamingChanges tells it that one did, and that the refusal was
//   its doing.
// - EndOfStream, BeginFlush and EndFlush take the interface lock, then the
//   renderer lock. BeginFlush resets the end of stream (and kills its timer)
//   after leaving the renderer lock.
// - QueryId answers "In", the id FindPin accepts.
#pragma once

#include <atomic>

#include "filterbase/base_input_pin.h"
#include "filterbase/base_renderer.h"

class CRendererInputPin : public CBaseInputPin {
public:
    CRendererInputPin(CBaseRenderer* pRenderer, HRESULT* phr, LPCWSTR Name);

    // IPin
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT QueryId(LPWSTR* Id) override;

    // IMemInputPin
    HRESULT Receive(IMediaSample* pSample) override;

    // Pin operations, forwarded to the renderer.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;

    // For the renderer (streaming thread): the base pin's checks of a
    // received sample; SampleProps() then holds what they read.
    HRESULT CheckAndReadSample(IMediaSample* pSample) { return CBaseInputPin::Receive(pSample); }
    // The negotiated pool, without a reference (graph thread, interface lock).
    IMemAllocator* Allocator() const { return m_pAllocator; }

protected:
    CBaseRenderer* const m_pRenderer;
    // Bumped by BeginFlush, EndFlush, Active and Inactive, under the
    // interface lock; read by Receive (streaming thread) before and after
    // the renderer's Receive.
    std::atomic<unsigned> m_nStreamingChanges{0};
};
