// mediagraph: CNullRenderer (CLSID_NullRenderer), the end of the capture
// graph: one input pin that accepts RGB24 video and discards every sample
// after the usual streaming checks (none while stopped or flushing).
// Threads: Receive on the upstream streaming thread; everything else on the
// graph thread under the filter lock.
// May include: the C++ standard library, platform/, filterbase/. No Qt.
#pragma once

#include "filterbase/base_filter.h"
#include "filterbase/base_input_pin.h"

class CNullRenderer;

class CNullRendererPin final : public CBaseInputPin {
public:
    CNullRendererPin(CNullRenderer* pFilter, CCritSec* pLock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT Receive(IMediaSample* pSample) override;
};

class CNullRenderer final : public CBaseFilter {
public:
    static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv);

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_Pin : nullptr; }

private:
    explicit CNullRenderer(HRESULT* phr);

    CCritSec m_Lock;  // the filter lock
    CNullRendererPin m_Pin;
};
