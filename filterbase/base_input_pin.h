// filterbase: CBaseInputPin, the base of input pins (IPin and IMemInputPin):
// the allocator side (which pool the upstream output pin fills) and the
// receive side (the checks every delivered sample passes).
//
// Contract:
// - Allocator side, graph thread, under the filter lock (m_pLock): the
//   upstream output pin asks GetAllocator (we offer a CMemAllocator of our
//   own unless a derived pin offers another), sets its properties and then
//   names the pool it chose with NotifyAllocator; the pin keeps one
//   reference on it until BreakConnect, which decommits and releases it.
// - Receive side, upstream streaming thread: upstream pushes samples with
//   Receive; the pin borrows the sample for the call (a pin that keeps it
//   takes its own reference). Receive reads the sample's properties into
//   m_SampleProps (valid until the next Receive on the same thread) and
//   checks a changed media type with CheckMediaType. A refused type is a
//   run-time error: EndOfStream, EC_ERRORABORT to the graph, and every later
//   sample answers VFW_E_RUNTIME_ERROR until EndFlush or Inactive.
// - BeginFlush/EndFlush come on the thread that flushes (upstream); they take
//   m_pLock to change the flushing flag.
// - Inactive (graph thread, from Stop) clears the run-time error and the
//   flushing state and decommits the pool, which wakes an upstream thread
//   blocked in GetBuffer.
// - Flags shared between the streaming and graph threads are atomic.
#pragma once

#include <atomic>

#include "filterbase/base_pin.h"
#include "platform/media/media_interfaces.h"

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                  LPCWSTR pName);
    ~CBaseInputPin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMemInputPin
    HRESULT GetAllocator(IMemAllocator** ppAllocator) override;
    HRESULT NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                            LONG* nSamplesProcessed) override;
    HRESULT ReceiveCanBlock() override;

    // IPin flushing
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    // IQualityControl: S_OK for a sender, nothing else happens.
    HRESULT Notify(IBaseFilter* pSender, Quality q) override;

    // VFW_E_WRONG_STATE when stopped, S_FALSE while flushing,
    // VFW_E_RUNTIME_ERROR after a run-time error, S_OK otherwise.
    virtual HRESULT CheckStreaming();

    HRESULT BreakConnect() override;
    HRESULT Inactive() override;

    BOOL IsReadOnly() const { return m_bReadOnly; }
    BOOL IsFlushing() const { return m_bFlushing; }
    BOOL HasRunTimeError() const { return m_bRunTimeError; }
    // The properties read by the last Receive; streaming thread only.
    AM_SAMPLE2_PROPERTIES* SampleProps() { return &m_SampleProps; }

protected:
    IMemAllocator* m_pAllocator = nullptr;  // one reference; under m_pLock
    bool m_bReadOnly = false;               // under m_pLock
    std::atomic<bool> m_bFlushing{false};   // written under m_pLock
    // Properties of the sample being received; streaming thread only.
    AM_SAMPLE2_PROPERTIES m_SampleProps{};

private:
    // A type copy that m_SampleProps.pMediaType points at when the sample
    // has no IMediaSample2; freed at the next Receive or with the pin.
    AM_MEDIA_TYPE* m_pReceivedType = nullptr;
};
