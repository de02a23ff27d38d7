// filterbase: CPosPassThru, the position and seeking object of a filter with
// one input pin: every IMediaSeeking and IMediaPosition call goes to the
// interface of the same name on the output pin connected to that input pin,
// found afresh on each call (E_NOTIMPL when unconnected or the peer lacks
// it).
//
// Contract:
// - Usually aggregated by its filter (pUnk = the filter's outer unknown), so
//   its lifetime is the filter's. It borrows the pin (no reference) and does
//   not touch it in its destructor.
// - Any thread (graph, application worker); no lock of its own, and it never
//   calls upstream while holding a lock.
// - SetRate/put_Rate with 0 are refused with E_INVALIDARG before passing on.
// - GetCurrentPosition is answered from GetMediaTime when that succeeds (the
//   renderer version knows the last rendered sample), otherwise passed on.
#pragma once

#include "filterbase/media_position.h"
#include "platform/media/media_interfaces.h"

class CPosPassThru : public CMediaPosition, public IMediaSeeking {
public:
    // A null pin writes E_POINTER to phr.
    CPosPassThru(const char* pName, IUnknown* pUnk, HRESULT* phr, IPin* pPin);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMediaSeeking
    HRESULT GetCapabilities(DWORD* pCapabilities) override;
    HRESULT CheckCapabilities(DWORD* pCapabilities) override;
    HRESULT IsFormatSupported(const GUID* pFormat) override;
    HRESULT QueryPreferredFormat(GUID* pFormat) override;
    HRESULT GetTimeFormat(GUID* pFormat) override;
    HRESULT IsUsingTimeFormat(const GUID* pFormat) override;
    HRESULT SetTimeFormat(const GUID* pFormat) override;
    HRESULT GetDuration(LONGLONG* pDuration) override;
    HRESULT GetStopPosition(LONGLONG* pStop) override;
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

    // IMediaPosition
    HRESULT get_Duration(REFTIME* plength) override;
    HRESULT put_CurrentPosition(REFTIME llTime) override;
    HRESULT get_CurrentPosition(REFTIME* pllTime) override;
    HRESULT get_StopTime(REFTIME* pllTime) override;
    HRESULT put_StopTime(REFTIME llTime) override;
    HRESULT get_PrerollTime(REFTIME* pllTime) override;
    HRESULT put_PrerollTime(REFTIME llTime) override;
    HRESULT put_Rate(double dRate) override;
    HRESULT get_Rate(double* pdRate) override;
    HRESULT CanSeekForward(LONG* pCanSeekForward) override;
    HRESULT CanSeekBackward(LONG* pCanSeekBackward) override;

protected:
    // The media times of the last rendered sample in the current time
    // format; E_FAIL when unknown (always, in this base).
    virtual HRESULT GetMediaTime(LONGLONG* pStartTime, LONGLONG* pEndTime);

    // The peer's interface with one reference, or E_NOTIMPL.
    HRESULT GetPeer(IMediaPosition** ppMP);
    HRESULT GetPeerSeeking(IMediaSeeking** ppMS);

private:
    IPin* m_pPin;  // borrowed: the filter's input pin
};
