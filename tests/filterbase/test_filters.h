// Small filters for the framework tests: a source with one CBaseOutputPin
// that offers a list of media types, a sink with CBaseInputPin pins that
// accepts what a predicate accepts, and a fake graph that records events.
#pragma once

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "filterbase/base_filter.h"
#include "filterbase/base_input_pin.h"
#include "filterbase/base_output_pin.h"
#include "filterbase/media_type.h"
#include "platform/com/com_ref.h"
#include "platform/media/graph_interfaces.h"

namespace pelora_test {

inline constexpr CLSID kClsidTestSource = {
    0x6D1E2A10, 0x3B4C, 0x4D5E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0x01}};
inline constexpr CLSID kClsidTestSink = {
    0x6D1E2A10, 0x3B4C, 0x4D5E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0x02}};

// A video type; bitCount and the subtype tell test types apart.
inline CMediaType MakeVideoType(const GUID& subtype, WORD bitCount,
                                const GUID& formatType = FORMAT_VideoInfo) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&formatType);
    VIDEOINFOHEADER vih{};
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = 4;
    vih.bmiHeader.biHeight = 2;
    vih.bmiHeader.biBitCount = bitCount;
    mt.SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof(vih));
    return mt;
}

inline bool IsSubtype(const CMediaType* pmt, const GUID& subtype) {
    return *pmt->Type() == MEDIATYPE_Video && *pmt->Subtype() == subtype;
}

// Event sink and graph in one, living on the test's stack (no counting).
class CFakeGraph : public IFilterGraph, public IMediaEventSink {
public:
    struct Event {
        LONG code;
        LONG_PTR param1;
        LONG_PTR param2;
    };

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IFilterGraph) {
            *ppv = static_cast<IFilterGraph*>(this);
        } else if (riid == IID_IMediaEventSink) {
            *ppv = static_cast<IMediaEventSink*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    HRESULT EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    HRESULT FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Reconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT Disconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT SetDefaultSyncSource() override { return E_NOTIMPL; }

    HRESULT Notify(LONG code, LONG_PTR p1, LONG_PTR p2) override {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Events.push_back({code, p1, p2});
        return S_OK;
    }
    std::vector<Event> Events() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Events;
    }

private:
    std::mutex m_Mutex;
    std::vector<Event> m_Events;
};

class CTestSinkFilter;

class CTestInputPin : public CBaseInputPin {
public:
    CTestInputPin(CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName)
        : CBaseInputPin("CTestInputPin", pFilter, pLock, phr, pName) {}

    HRESULT CheckMediaType(const CMediaType* pmt) override { return m_fnCheck(pmt); }
    HRESULT CompleteConnect(IPin* pPin) override {
        if (FAILED(m_hrCompleteConnect)) return m_hrCompleteConnect;
        return CBaseInputPin::CompleteConnect(pPin);
    }
    HRESULT BreakConnect() override {
        ++m_cBreakConnect;
        return CBaseInputPin::BreakConnect();
    }
    HRESULT GetAllocator(IMemAllocator** ppAllocator) override {
        if (!m_bOfferAllocator) return VFW_E_NO_ALLOCATOR;
        return CBaseInputPin::GetAllocator(ppAllocator);
    }
    HRESULT Receive(IMediaSample* pSample) override {
        const HRESULT hr = CBaseInputPin::Receive(pSample);
        if (hr == S_OK) {
            ++m_cReceived;
            if (m_bKeepSamples) {
                std::lock_guard<std::mutex> lock(m_KeptLock);
                pSample->AddRef();
                m_Kept.push_back(pSample);
            }
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
    void ReleaseKept() {
        std::vector<IMediaSample*> kept;
        {
            std::lock_guard<std::mutex> lock(m_KeptLock);
            kept.swap(m_Kept);
        }
        for (IMediaSample* p : kept) p->Release();
    }
    IMemAllocator* HeldAllocator() const { return m_pAllocator; }

    std::function<HRESULT(const CMediaType*)> m_fnCheck = [](const CMediaType* pmt) {
        return IsSubtype(pmt, MEDIASUBTYPE_RGB24) ? S_OK : S_FALSE;
    };
    HRESULT m_hrCompleteConnect = S_OK;
    bool m_bOfferAllocator = true;
    bool m_bKeepSamples = false;
    std::atomic<int> m_cReceived{0};
    std::atomic<int> m_cEndOfStream{0};
    std::atomic<int> m_cNewSegment{0};
    std::atomic<bool> m_bLastHadType{false};
    int m_cBreakConnect = 0;

private:
    std::mutex m_KeptLock;
    std::vector<IMediaSample*> m_Kept;
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
    HRESULT BreakConnect() override {
        ++m_cBreakConnect;
        return CBaseOutputPin::BreakConnect();
    }
    IMemInputPin* PeerInput() const { return m_pInputPin; }
    void BumpTypeVersion() { IncrementTypeVersion(); }

    std::vector<CMediaType> m_Types;
    ALLOCATOR_PROPERTIES m_Request{2, 64, 1, 0};
    HRESULT m_hrDecide = S_OK;
    int m_cBreakConnect = 0;
};

class CTestSourceFilter : public CBaseFilter {
public:
    CTestSourceFilter()
        : CBaseFilter("CTestSourceFilter", nullptr, &m_Lock, kClsidTestSource),
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
