// filterbase: CBasePin, the base of every pin (IPin and IQualityControl), and
// the connection protocol by which an output pin and an input pin agree on a
// media type.
//
// Contract:
// - The output pin connects: Connect -> AgreeMediaType -> AttemptConnection
//   -> the input pin's ReceiveConnection. Both run under their filter's lock
//   (m_pLock), the output side's first. A failed attempt calls BreakConnect
//   and leaves the pin unconnected.
// - A pin has no lifetime of its own: its references are its filter's.
// - m_Connected holds one reference on the peer. It changes only under
//   m_pLock, and only while the filter is stopped (unless the pin may
//   reconnect while active). ConnectedTo (position queries call it from any
//   thread) reads it and adds the caller's reference under m_pLock, so the
//   callers must not hold a lock that is taken after m_pLock. IsConnected and
//   GetConnected read it without the lock and without a reference: only for
//   the graph thread and for streaming threads while the filter is active,
//   when nothing can disconnect it.
// - CheckMediaType answers exactly S_OK to accept; any other answer refuses.
// - Called on the graph thread: connection, Active/Inactive/Run (from the
//   filter's state changes), QueryPinInfo and the like. NewSegment, EndOfStream
//   and the flush calls come on the upstream streaming thread.
#pragma once

#include <atomic>

#include "filterbase/base_filter.h"
#include "filterbase/media_type.h"
#include "filterbase/unknown.h"
#include "platform/media/media_interfaces.h"
#include "platform/win/crit_sec.h"

class CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    // pName is copied; a copy that cannot be made writes E_OUTOFMEMORY to phr.
    CBasePin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
             LPCWSTR pName, PIN_DIRECTION dir);
    ~CBasePin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // References go to the owning filter.
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    // IPin
    HRESULT Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    HRESULT ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** pPin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    HRESULT QueryPinInfo(PIN_INFO* pInfo) override;
    HRESULT QueryDirection(PIN_DIRECTION* pPinDir) override;
    HRESULT QueryId(LPWSTR* Id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    HRESULT QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    HRESULT EndOfStream() override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // IQualityControl
    HRESULT Notify(IBaseFilter* pSender, Quality q) override;
    // Stores the sink without a reference; under m_pLock.
    HRESULT SetSink(IQualityControl* piqc) override;

    // Added operations, called by the framework on the graph thread.
    virtual LONG GetMediaTypeVersion();
    virtual HRESULT Active();
    virtual HRESULT Inactive();
    virtual HRESULT Run(REFERENCE_TIME tStart);
    virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
    // Stores the agreed type in m_mt.
    virtual HRESULT SetMediaType(const CMediaType* pmt);
    // Refuses a peer of the same direction.
    virtual HRESULT CheckConnect(IPin* pPin);
    // Undoes what the connection prepared; called on every failed attempt and
    // on Disconnect.
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* pReceivePin);
    // The preferred type at iPosition: S_OK, or S_FALSE/VFW_S_NO_MORE_ITEMS
    // style answers past the end. The base proposes none (E_UNEXPECTED).
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);

    BOOL IsConnected() const { return m_Connected != nullptr; }
    // The peer, without a reference.
    IPin* GetConnected() const { return m_Connected; }
    BOOL IsStopped() const { return m_pFilter->IsStopped(); }
    const CMediaType& CurrentMediaType() const { return m_mt; }
    LPCWSTR Name() const { return m_pName; }
    PIN_DIRECTION Direction() const { return m_dir; }
    BOOL CanReconnectWhenActive() const { return m_bCanReconnectWhenActive; }
    void SetReconnectWhenActive(bool bCanReconnect) { m_bCanReconnectWhenActive = bCanReconnect; }
    REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
    REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
    double CurrentRate() const { return m_dRate; }

protected:
    // Media type list changed: outstanding type enumerators go out of sync.
    void IncrementTypeVersion() { m_TypeVersion.fetch_add(1); }

    HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt);
    HRESULT TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum);
    HRESULT AttemptConnection(IPin* pReceivePin, const CMediaType* pmt);
    // Breaks the connection and drops the peer; S_FALSE when not connected.
    HRESULT DisconnectInternal();

    WCHAR* m_pName = nullptr;     // owned, fixed after construction
    IPin* m_Connected = nullptr;  // one reference; see the contract above
    PIN_DIRECTION m_dir;
    CCritSec* m_pLock;                         // the filter's lock
    std::atomic<bool> m_bRunTimeError{false};  // streaming and graph threads
    bool m_bCanReconnectWhenActive = false;
    bool m_bTryMyTypesFirst = false;
    CBaseFilter* m_pFilter;
    IQualityControl* m_pQSink GUARDED_BY(m_pLock) = nullptr;  // no reference; under m_pLock
    std::atomic<LONG> m_TypeVersion{1};
    CMediaType m_mt;  // type of the connection; under m_pLock
    // Values of the last NewSegment; upstream streaming thread only.
    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = 0x7FFFFFFFFFFFFFFFLL;
    double m_dRate = 1.0;
};

// Copies a pin or filter name into a fixed field of cchField units,
// truncating and always terminating. A null source gives an empty name.
void CopyNameField(WCHAR* pField, size_t cchField, LPCWSTR pSource);
