#include "filterbase/base_input_pin.h"

#include <cstring>

#include "filterbase/mem_allocator.h"
#include "platform/com/com_ref.h"

CBaseInputPin::CBaseInputPin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock,
                             HRESULT* phr, LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
    if (m_pAllocator) {
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    DeleteMediaType(m_pReceivedType);
}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** ppAllocator) {
    if (!ppAllocator) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (!m_pAllocator) {
        const HRESULT hr = CMemAllocator::Create(&m_pAllocator);
        if (FAILED(hr)) {
            *ppAllocator = nullptr;
            return hr;
        }
    }
    *ppAllocator = m_pAllocator;
    m_pAllocator->AddRef();
    return S_OK;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
    if (!pAllocator) return E_POINTER;
    CAutoLock lock(m_pLock);
    pAllocator->AddRef();
    IMemAllocator* pOld = m_pAllocator;
    m_pAllocator = pAllocator;
    if (pOld) pOld->Release();
    m_bReadOnly = bReadOnly != FALSE;
    return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT CBaseInputPin::CheckStreaming() {
    if (IsStopped()) return VFW_E_WRONG_STATE;
    if (m_bFlushing) return S_FALSE;
    if (m_bRunTimeError) return VFW_E_RUNTIME_ERROR;
    return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample* pSample) {
    if (!pSample) return E_POINTER;
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;

    // The previous sample's type copy is no longer referenced.
    DeleteMediaType(m_pReceivedType);
    m_pReceivedType = nullptr;

    IMediaSample2* pSample2 = nullptr;
    if (SUCCEEDED(
            pSample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&pSample2)))) {
        hr =
            pSample2->GetProperties(sizeof(m_SampleProps), reinterpret_cast<BYTE*>(&m_SampleProps));
        pSample2->Release();
        if (FAILED(hr)) return hr;
    } else {
        std::memset(&m_SampleProps, 0, sizeof(m_SampleProps));
        m_SampleProps.cbData = sizeof(m_SampleProps);
        m_SampleProps.dwTypeSpecificFlags = 0;
        m_SampleProps.dwStreamId = AM_STREAM_MEDIA;
        m_SampleProps.dwSampleFlags = 0;
        if (pSample->IsDiscontinuity() == S_OK) {
            m_SampleProps.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
        }
        if (pSample->IsPreroll() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_PREROLL;
        if (pSample->IsSyncPoint() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
        if (SUCCEEDED(pSample->GetTime(&m_SampleProps.tStart, &m_SampleProps.tStop))) {
            m_SampleProps.dwSampleFlags |= AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
        }
        if (pSample->GetMediaType(&m_pReceivedType) == S_OK) {
            m_SampleProps.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
            m_SampleProps.pMediaType = m_pReceivedType;
        } else {
            DeleteMediaType(m_pReceivedType);
            m_pReceivedType = nullptr;
        }
        pSample->GetPointer(&m_SampleProps.pbBuffer);
        m_SampleProps.lActual = pSample->GetActualDataLength();
        m_SampleProps.cbBuffer = pSample->GetSize();
    }

    if (m_SampleProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
        HRESULT hrCheck = E_POINTER;
        if (m_SampleProps.pMediaType) {
            HRESULT hrCopy = S_OK;
            const CMediaType cmt(*m_SampleProps.pMediaType, &hrCopy);
            hrCheck = FAILED(hrCopy) ? hrCopy : CheckMediaType(&cmt);
        }
        if (hrCheck != S_OK) {
            m_bRunTimeError = true;
            EndOfStream();
            m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
            return VFW_E_INVALIDMEDIATYPE;
        }
    }
    return S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                                       LONG* nSamplesProcessed) {
    if (!pSamples || !nSamplesProcessed) return E_POINTER;
    HRESULT hr = S_OK;
    *nSamplesProcessed = 0;
    while (nSamples-- > 0) {
        hr = Receive(pSamples[*nSamplesProcessed]);
        if (hr != S_OK) break;
        ++*nSamplesProcessed;
    }
    return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock() {
    int cOutputPins = 0;
    const int cPins = m_pFilter->GetPinCount();
    for (int c = 0; c < cPins; ++c) {
        CBasePin* pPin = m_pFilter->GetPin(c);
        if (!pPin) break;
        if (pPin->Direction() != PINDIR_OUTPUT) continue;
        IPin* pConnected = nullptr;
        if (FAILED(pPin->ConnectedTo(&pConnected))) continue;
        CComRef<IPin> peer(pConnected, AdoptTag);
        ++cOutputPins;
        CComRef<IMemInputPin> input;
        if (FAILED(peer.QueryInto(IID_IMemInputPin, &input))) return S_OK;
        if (input->ReceiveCanBlock() != S_FALSE) return S_OK;
    }
    // A filter without connected outputs (a renderer) can block.
    return cOutputPins == 0 ? S_OK : S_FALSE;
}

HRESULT CBaseInputPin::BeginFlush() {
    CAutoLock lock(m_pLock);
    m_bFlushing = true;
    return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
    CAutoLock lock(m_pLock);
    m_bFlushing = false;
    m_bRunTimeError = false;
    return S_OK;
}

HRESULT CBaseInputPin::Notify(IBaseFilter* pSender, Quality) { return pSender ? S_OK : E_POINTER; }

HRESULT CBaseInputPin::BreakConnect() {
    if (m_pAllocator) {
        const HRESULT hr = m_pAllocator->Decommit();
        if (FAILED(hr)) return hr;
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
    m_bRunTimeError = false;
    m_bFlushing = false;
    if (m_pAllocator) return m_pAllocator->Decommit();
    return S_OK;
}
