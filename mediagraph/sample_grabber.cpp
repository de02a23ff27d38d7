#include "mediagraph/sample_grabber.h"

#include <cstring>
#include <new>

#include "filterbase/create_unaggregated.h"
#include "mediagraph/capture_formats.h"

namespace {

bool IsConvertibleType(const CMediaType& mt, uint32_t* pWidth, uint32_t* pHeight) {
    int64_t avg = 0;
    if (!ReadVideoInfo(mt, pWidth, pHeight, &avg)) return false;
    for (uint32_t code : FourccsForSubtype(mt.subtype)) {
        if (CFrameConverter::IsConvertible(code)) return true;
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Input pin

CGrabberInputPin::CGrabberInputPin(CSampleGrabber* pFilter, CCritSec* pLock, HRESULT* phr)
    : CBaseInputPin("CGrabberInputPin", pFilter, pLock, phr, L"Input"), m_pGrabber(pFilter) {}

HRESULT CGrabberInputPin::CheckMediaType(const CMediaType* pmt) {
    uint32_t w = 0, h = 0;
    return pmt && IsConvertibleType(*pmt, &w, &h) ? S_OK : S_FALSE;
}

HRESULT CGrabberInputPin::CompleteConnect(IPin* pReceivePin) {
    const HRESULT hr = CBaseInputPin::CompleteConnect(pReceivePin);
    if (FAILED(hr)) return hr;
    return m_pGrabber->PrepareFrame(m_mt);
}

HRESULT CGrabberInputPin::Receive(IMediaSample* pSample) {
    const HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    return m_pGrabber->OnSample(pSample);
}

// ---------------------------------------------------------------------------
// Output pin

CGrabberOutputPin::CGrabberOutputPin(CSampleGrabber* pFilter, CCritSec* pLock, HRESULT* phr)
    : CBaseOutputPin("CGrabberOutputPin", pFilter, pLock, phr, L"Output"), m_pGrabber(pFilter) {}

HRESULT CGrabberOutputPin::CheckConnect(IPin* pPin) {
    if (!m_pGrabber->m_Input.IsConnected()) return VFW_E_NOT_CONNECTED;
    return CBaseOutputPin::CheckConnect(pPin);
}

HRESULT CGrabberOutputPin::CheckMediaType(const CMediaType* pmt) {
    CMediaType mine;
    if (!pmt || FAILED(m_pGrabber->OutputType(&mine))) return S_FALSE;
    return pmt->majortype == MEDIATYPE_Video && pmt->subtype == MEDIASUBTYPE_RGB24 ? S_OK : S_FALSE;
}

HRESULT CGrabberOutputPin::GetMediaType(int iPosition, CMediaType* pmt) {
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return S_FALSE;  // one type only
    return m_pGrabber->OutputType(pmt);
}

HRESULT CGrabberOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) {
    // Frames are lent downstream from the grabber's own frame; the pool
    // only completes the connection.
    pProps->cBuffers = 1;
    pProps->cbBuffer = 1;
    ALLOCATOR_PROPERTIES actual{};
    return pAlloc->SetProperties(pProps, &actual);
}

// ---------------------------------------------------------------------------
// Filter

HRESULT CSampleGrabber::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    return CreateUnaggregated(pUnkOuter, riid, ppv,
                              [](HRESULT* phr) { return new (std::nothrow) CSampleGrabber(phr); });
}

CSampleGrabber::CSampleGrabber(HRESULT* phr)
    : CBaseFilter("CSampleGrabber", nullptr, &m_Lock, CLSID_SampleGrabber, phr),
      m_Input(this, &m_Lock, phr),
      m_Output(this, &m_Lock, phr) {
    m_pOutSample = new (std::nothrow) CFrameSample();
    if (m_pOutSample) {
        m_pOutSample->NonDelegatingAddRef();
    } else if (phr) {
        *phr = E_OUTOFMEMORY;
    }
}

CSampleGrabber::~CSampleGrabber() {
    SetCallback(nullptr, 0);
    if (m_pOutSample) m_pOutSample->NonDelegatingRelease();
}

HRESULT CSampleGrabber::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_ISampleGrabber) return GetInterface(static_cast<ISampleGrabber*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CSampleGrabber::GetPin(int n) {
    if (n == 0) return &m_Input;
    if (n == 1) return &m_Output;
    return nullptr;
}

HRESULT CSampleGrabber::OutputType(CMediaType* pmt) const {
    if (!m_Input.IsConnected() || !m_nWidth) return VFW_E_NOT_CONNECTED;
    pmt->InitMediaType();
    pmt->SetType(&MEDIATYPE_Video);
    pmt->SetSubtype(&MEDIASUBTYPE_RGB24);
    pmt->SetFormatType(&FORMAT_VideoInfo);
    const uint32_t nSize = m_nWidth * m_nHeight * 3;
    pmt->SetSampleSize(nSize);
    VIDEOINFOHEADER vih;
    std::memset(&vih, 0, sizeof(vih));
    int64_t avg = 0;
    uint32_t w = 0, h = 0;
    ReadVideoInfo(m_Input.CurrentMediaType(), &w, &h, &avg);
    vih.AvgTimePerFrame = avg;
    vih.rcSource = {0, 0, static_cast<LONG>(m_nWidth), static_cast<LONG>(m_nHeight)};
    vih.rcTarget = vih.rcSource;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = static_cast<LONG>(m_nWidth);
    vih.bmiHeader.biHeight = static_cast<LONG>(m_nHeight);
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 24;
    vih.bmiHeader.biSizeImage = nSize;
    return pmt->SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof(vih)) ? S_OK : E_OUTOFMEMORY;
}

HRESULT CSampleGrabber::PrepareFrame(const CMediaType& mt) {
    uint32_t w = 0, h = 0;
    if (!IsConvertibleType(mt, &w, &h)) return VFW_E_TYPE_NOT_ACCEPTED;
    if (uint64_t{w} * h * 3 > 0x7FFFFFFFu) return VFW_E_TYPE_NOT_ACCEPTED;
    if (w != m_nWidth || h != m_nHeight || !m_pFrame) {
        m_pFrame.reset(new (std::nothrow) uint8_t[size_t{w} * h * 3]);
        if (!m_pFrame) return E_OUTOFMEMORY;
        m_nWidth = w;
        m_nHeight = h;
        std::lock_guard<std::mutex> lock(m_BufferLock);
        m_Kept.clear();
    }
    return S_OK;
}

HRESULT CSampleGrabber::OnSample(IMediaSample* pSample) {
    IRawFrameSample* pRaw = nullptr;
    if (FAILED(pSample->QueryInterface(IID_IRawFrameSample, reinterpret_cast<void**>(&pRaw)))) {
        return S_OK;  // not a camera frame: nothing to convert it with
    }
    SRawFrameLayout layout;
    pRaw->GetLayout(&layout);
    const double dSeconds = pRaw->GetSampleSeconds();
    pRaw->Release();
    // The capture time goes with the frame to the callback's sample.
    LONGLONG llCaptureCount = 0;
    ISampleCaptureTime* pTime = nullptr;
    if (SUCCEEDED(
            pSample->QueryInterface(IID_ISampleCaptureTime, reinterpret_cast<void**>(&pTime)))) {
        if (pTime->GetCaptureTime(&llCaptureCount) != S_OK) llCaptureCount = 0;
        pTime->Release();
    }
    BYTE* pData = nullptr;
    if (pSample->GetPointer(&pData) != S_OK || !pData) return S_OK;
    // A frame of another size than the connection's cannot be delivered
    // in the frame made for it.
    if (layout.nWidth != m_nWidth || layout.nHeight != m_nHeight) return S_OK;
    const SRawFrameLayout& cur = m_Converter.Layout();
    if (cur.dwFourcc != layout.dwFourcc || cur.nWidth != layout.nWidth ||
        cur.nHeight != layout.nHeight || cur.nBytesPerLine != layout.nBytesPerLine ||
        cur.nSizeImage != layout.nSizeImage) {
        if (m_Converter.Init(layout) != S_OK) return S_OK;
    }
    const LONG lLength = pSample->GetActualDataLength();
    if (lLength <= 0 ||
        m_Converter.Convert(pData, static_cast<size_t>(lLength), m_pFrame.get()) != S_OK) {
        return S_OK;  // a frame that does not convert is skipped
    }
    const size_t nSize = size_t{m_nWidth} * m_nHeight * 3;
    if (m_bBufferSamples) {
        std::lock_guard<std::mutex> lock(m_BufferLock);
        m_Kept.assign(m_pFrame.get(), m_pFrame.get() + nSize);
    }
    SRawFrameLayout packed = MakeRawLayout(MakeFourcc('B', 'G', 'R', '3'), m_nWidth, m_nHeight);
    m_pOutSample->SetFrame(m_pFrame.get(), static_cast<LONG>(nSize), packed, dSeconds,
                           llCaptureCount);
    {
        std::lock_guard<std::recursive_mutex> gate(m_CallbackLock);
        if (m_pCallback) m_pCallback->SampleCB(dSeconds, m_pOutSample);
    }
    if (m_Output.IsConnected()) m_Output.Deliver(m_pOutSample);
    return S_OK;
}

HRESULT CSampleGrabber::SetOneShot(BOOL OneShot) { return OneShot ? E_NOTIMPL : S_OK; }

HRESULT CSampleGrabber::SetMediaType(const AM_MEDIA_TYPE* pType) {
    if (!pType) return E_POINTER;
    const bool bFormatOk = pType->formattype == FORMAT_VideoInfo || pType->formattype == GUID_NULL;
    if (pType->majortype == MEDIATYPE_Video && pType->subtype == MEDIASUBTYPE_RGB24 && bFormatOk) {
        return S_OK;  // the only output this grabber makes
    }
    return VFW_E_INVALIDMEDIATYPE;
}

HRESULT CSampleGrabber::GetConnectedMediaType(AM_MEDIA_TYPE* pType) {
    if (!pType) return E_POINTER;
    CAutoLock lock(&m_Lock);
    CMediaType mt;
    const HRESULT hr = OutputType(&mt);
    if (FAILED(hr)) return hr;
    return CopyMediaType(pType, &mt);
}

HRESULT CSampleGrabber::SetBufferSamples(BOOL BufferThem) {
    m_bBufferSamples = BufferThem != FALSE;
    if (!BufferThem) {
        std::lock_guard<std::mutex> lock(m_BufferLock);
        m_Kept.clear();
    }
    return S_OK;
}

HRESULT CSampleGrabber::GetCurrentBuffer(LONG* pBufferSize, LONG* pBuffer) {
    if (!pBufferSize) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_BufferLock);
    if (m_Kept.empty()) return VFW_E_WRONG_STATE;
    const LONG lSize = static_cast<LONG>(m_Kept.size());
    if (!pBuffer) {
        *pBufferSize = lSize;
        return S_OK;
    }
    if (*pBufferSize < lSize) return E_OUTOFMEMORY;
    std::memcpy(pBuffer, m_Kept.data(), m_Kept.size());
    *pBufferSize = lSize;
    return S_OK;
}

HRESULT CSampleGrabber::GetCurrentSample(IMediaSample** ppSample) {
    if (!ppSample) return E_POINTER;
    *ppSample = nullptr;
    return E_NOTIMPL;
}

HRESULT CSampleGrabber::SetCallback(ISampleGrabberCB* pCallback, LONG WhichMethodToCallback) {
    if (WhichMethodToCallback == 1) return E_NOTIMPL;
    if (WhichMethodToCallback != 0) return E_INVALIDARG;
    ISampleGrabberCB* pOld = nullptr;
    {
        std::lock_guard<std::recursive_mutex> gate(m_CallbackLock);
        if (pCallback) pCallback->AddRef();
        pOld = m_pCallback;
        m_pCallback = pCallback;
    }
    if (pOld) pOld->Release();
    return S_OK;
}
