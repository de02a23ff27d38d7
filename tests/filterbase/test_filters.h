// Small filters for the filter and pin base tests: a source with one
// CBaseOutputPin that offers a list of media types, and a sink with
// CBaseInputPin pins that accepts what a predicate accepts.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "filterbase/base_filter.h"
#include "filterbase/base_input_pin.h"
#include "filterbase/base_output_pin.h"
#include "filterbase/media_type.h"
#include "platform/com/com_ref.h"
#include "platform/media/media_guids.h"

namespace pelora_test {

inline constexpr CLSID kClsidTypeListSource = {
    0x6D1E2A10, 0x3B4C, 0x4D5E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0x01}};
inline constexpr CLSID kClsidTestSink = {
    0x6D1E2A10, 0x3B4C, 0x4D5E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0x02}};

// A video type; bitCount and the subtype tell test types apart.
inline CMediaType MakeVideoType(const GUID& subtype, WORD bitCount) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    VIDEOINFOHEADER vih{};
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = 4;
    vih.bmiHeader.biHeight = 2;
    vih.bmiHeader.biBitCount = bitCount;
    mt.SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof(vih));
    return mt;
}

class CTestInputPin : public CBaseInputPin {
public:
    CTestInputPin(CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName)
        : CBaseInputPin("CTestInputPin", pFilter, pLock, phr, pName) {}

    HRESULT CheckMediaType(const CMediaType* pmt) override { return m_fnCheck(pmt); }
    HRESULT CompleteConnect(IPin* pPin) override {
        if (FAILED(m_hrCompleteConnect)) return m_hrCompleteConnect;
        return CBaseInputPin::CompleteConnect(pPin);
    }
    HRESULT GetAllocator(IMemAllocator** ppAllocator) override {
        if (!m_bOfferAllocator) return VFW_E_NO_ALLOCATOR;
        return CBaseInputPin::GetAllocator(ppAllocator);
    }
    HRESULT Receive(IMediaSample* pSample) override {
        const HRESULT hr = CBaseInputPin::Receive(pSample);
        if (hr == S_OK) {
            ++m_cReceived;
            m_bLastHadType = (m_SampleProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) != 0 &&
                             m_SampleProps.pMediaType != nullptr;
        }
        return hr;
    }
    HRESULT EndOfStream() override {
        ++m_cEndOfStream;
        return S_OK;
    }
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override {
        ++m_cNewSegment;
        return CBaseInputPin::NewSegment(tStart, tStop, dRate);
    }
    IMemAllocator* HeldAllocator() const { return m_pAllocator; }

    std::function<HRESULT(const CMediaType*)> m_fnCheck = [](const CMediaType* pmt) {
        return *pmt->Subtype() == MEDIASUBTYPE_RGB24 ? S_OK : S_FALSE;
    };
    HRESULT m_hrCompleteConnect = S_OK;
    bool m_bOfferAllocator = true;
    std::atomic<int> m_cReceived{0};
    std::atomic<int> m_cEndOfStream{0};
    std::atomic<int> m_cNewSegment{0};
    std::atomic<bool> m_bLastHadType{false};
};

class CTestSinkFilter : public CBaseFilter {
public:
    CTestSinkFilter() : CBaseFilter("CTestSinkFilter", nullptr, &m_Lock, kClsidTestSink) {
        AddPin(L"In");
    }
    ~CTestSinkFilter() override { m_Pins.clear(); }

    int GetPinCount() override { return static_cast<int>(m_Pins.size()); }
    CBasePin* GetPin(int n) override {
        if (n < 0 || n >= GetPinCount() || n == m_nMissingPin) return nullptr;
        return m_Pins[static_cast<size_t>(n)].get();
    }
    CTestInputPin* Pin(int n = 0) { return m_Pins[static_cast<size_t>(n)].get(); }
    void AddPin(LPCWSTR pName) {
        HRESULT hr = S_OK;
        m_Pins.push_back(std::make_unique<CTestInputPin>(this, &m_Lock, &hr, pName));
        IncrementPinVersion();
    }
    LONG RefCount() const { return m_cRef.load(); }
    const AMOVIESETUP_FILTER* GetSetupData() override { return m_pSetup; }

    int m_nMissingPin = -1;  // GetPin answers null for this index
    const AMOVIESETUP_FILTER* m_pSetup = nullptr;

private:
    CCritSec m_Lock;
    std::vector<std::unique_ptr<CTestInputPin>> m_Pins;
};

class CTestOutputPin : public CBaseOutputPin {
public:
    CTestOutputPin(CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr)
        : CBaseOutputPin("CTestOutputPin", pFilter, pLock, phr, L"Out") {}

    HRESULT CheckMediaType(const CMediaType* pmt) override {
        for (const CMediaType& mt : m_Types) {
            if (mt == *pmt) return S_OK;
        }
        return S_FALSE;
    }
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override {
        if (iPosition < 0) return E_INVALIDARG;
        if (iPosition >= static_cast<int>(m_Types.size())) return S_FALSE;
        *pmt = m_Types[static_cast<size_t>(iPosition)];
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES*) override {
        if (FAILED(m_hrDecide)) return m_hrDecide;
        ALLOCATOR_PROPERTIES actual{};
        return pAlloc->SetProperties(&m_Request, &actual);
    }
    IMemInputPin* PeerInput() const { return m_pInputPin; }
    void BumpTypeVersion() { IncrementTypeVersion(); }

    std::vector<CMediaType> m_Types;
    ALLOCATOR_PROPERTIES m_Request{2, 64, 1, 0};
    HRESULT m_hrDecide = S_OK;
};

class CTypeListSource : public CBaseFilter {
public:
    CTypeListSource()
        : CBaseFilter("CTypeListSource", nullptr, &m_Lock, kClsidTypeListSource),
          m_Pin(this, &m_Lock, &m_hrPin) {}

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_Pin : nullptr; }
    CTestOutputPin* Pin() { return &m_Pin; }

private:
    CCritSec m_Lock;
    HRESULT m_hrPin = S_OK;
    CTestOutputPin m_Pin;
};

template <class T>
CComRef<T> MakeFilter() {
    return CComRef<T>(new T, AddRefTag);
}

}  // namespace pelora_test
