// The filter and pin base: connecting an output pin to an input pin with
// allocator negotiation between them, and the receive side's checks.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <vector>

#include "filterbase/base_filter.h"
#include "filterbase/base_input_pin.h"
#include "filterbase/base_output_pin.h"
#include "filterbase/media_type.h"
#include "platform/com/com_ref.h"
#include "platform/media/media_guids.h"
#include "support/fake_sample.h"
#include "support/live_objects.h"
#include "support/test_event_sink.h"

namespace pelora_test {
namespace {

constexpr CLSID kClsidOnePinFilter = {
    0x6D1E2A10, 0x3B4C, 0x4D5E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0x01}};

// A video type; bitCount and the subtype tell test types apart.
CMediaType MakeVideoType(const GUID& subtype, WORD bitCount) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    VIDEOINFOHEADER vih{};
    vih.bmiHeader.biBitCount = bitCount;
    mt.SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof(vih));
    return mt;
}

class CTestInputPin : public CBaseInputPin {
public:
    CTestInputPin(CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr)
        : CBaseInputPin("CTestInputPin", pFilter, pLock, phr, L"In") {}

    HRESULT CheckMediaType(const CMediaType* pmt) override { return m_fnCheck(pmt); }
    HRESULT Receive(IMediaSample* pSample) override {
        const HRESULT hr = CBaseInputPin::Receive(pSample);
        if (hr == S_OK) {
            m_bLastHadType = (m_SampleProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) != 0 &&
                             m_SampleProps.pMediaType != nullptr;
        }
        return hr;
    }
    HRESULT EndOfStream() override {
        ++m_cEndOfStream;
        return S_OK;
    }
    IMemAllocator* HeldAllocator() const { return m_pAllocator; }

    std::function<HRESULT(const CMediaType*)> m_fnCheck = [](const CMediaType* pmt) {
        return *pmt->Subtype() == MEDIASUBTYPE_RGB24 ? S_OK : S_FALSE;
    };
    std::atomic<int> m_cEndOfStream{0};
    std::atomic<bool> m_bLastHadType{false};
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
        if (iPosition < 0 || iPosition >= static_cast<int>(m_Types.size())) return S_FALSE;
        int nFailAt = iPosition;
        if (m_nOutOfMemoryOnceAt.compare_exchange_strong(nFailAt, -1)) return E_OUTOFMEMORY;
        *pmt = m_Types[static_cast<size_t>(iPosition)];
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES*) override {
        if (FAILED(m_hrDecide)) return m_hrDecide;
        ALLOCATOR_PROPERTIES actual{};
        return pAlloc->SetProperties(&m_Request, &actual);
    }
    IMemInputPin* PeerInput() const { return m_pInputPin.Get(); }

    std::vector<CMediaType> m_Types;
    std::atomic<int> m_nOutOfMemoryOnceAt{-1};  // the type copy at this position fails once
    ALLOCATOR_PROPERTIES m_Request{2, 64, 1, 0};
    HRESULT m_hrDecide = S_OK;
};

// A filter with one pin of the given class.
template <class TPin>
class COnePinFilter : public CBaseFilter {
public:
    COnePinFilter()
        : CBaseFilter("COnePinFilter", nullptr, &m_Lock, kClsidOnePinFilter),
          m_Pin(this, &m_Lock, &m_hrPin) {}

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_Pin : nullptr; }
    TPin* Pin() { return &m_Pin; }

private:
    CCritSec m_Lock;
    HRESULT m_hrPin = S_OK;
    TPin m_Pin;
};
using CTypeListSource = COnePinFilter<CTestOutputPin>;
using CTestSinkFilter = COnePinFilter<CTestInputPin>;

class ConnectionTest : public LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        m_Source.Reset(new CTypeListSource, AddRefTag);
        m_Sink.Reset(new CTestSinkFilter, AddRefTag);
        m_Source->Pin()->m_Types = {MakeVideoType(MEDIASUBTYPE_RGB32, 32),
                                    MakeVideoType(MEDIASUBTYPE_RGB24, 24),
                                    MakeVideoType(MEDIASUBTYPE_RGB24, 25)};
        m_Source->JoinFilterGraph(m_Graph.Graph(), L"source");
        m_Sink->JoinFilterGraph(m_Graph.Graph(), L"sink");
    }
    void TearDown() override {
        Stop();
        Out()->Disconnect();
        In()->Disconnect();
        m_Source.Release();
        m_Sink.Release();
        LiveObjectsTest::TearDown();
    }
    CTestOutputPin* Out() { return m_Source->Pin(); }
    CTestInputPin* In() { return m_Sink->Pin(); }
    HRESULT Connect() { return Out()->Connect(In(), nullptr); }
    // Both filters paused: the output pin commits the pool.
    void Pause() {
        ASSERT_EQ(m_Sink->Pause(), S_OK);
        ASSERT_EQ(m_Source->Pause(), S_OK);
    }
    void Stop() {
        m_Sink->Stop();
        m_Source->Stop();
    }
    // Delivers one pool sample, optionally carrying a media type.
    HRESULT DeliverOne(const CMediaType* pType = nullptr) {
        IMediaSample* pSample = nullptr;
        if (Out()->GetDeliveryBuffer(&pSample, nullptr, nullptr, AM_GBF_NOWAIT) != S_OK) {
            return E_FAIL;
        }
        if (pType) pSample->SetMediaType(const_cast<CMediaType*>(pType));
        const HRESULT hr = Out()->Deliver(pSample);
        pSample->Release();
        return hr;
    }

    CTestEventSink m_Graph;
    CComRef<CTypeListSource> m_Source;
    CComRef<CTestSinkFilter> m_Sink;
};

TEST_F(ConnectionTest, ChoosesTheFirstUpstreamTypeTheInputAccepts) {
    const CMediaType refused = MakeVideoType(MEDIASUBTYPE_RGB32, 32);
    EXPECT_EQ(Out()->Connect(In(), &refused), VFW_E_TYPE_NOT_ACCEPTED);  // the only one tried
    EXPECT_FALSE(Out()->IsConnected());

    ASSERT_EQ(Connect(), S_OK);
    CMediaType mt;
    ASSERT_EQ(In()->ConnectionMediaType(&mt), S_OK);
    EXPECT_TRUE(mt == MakeVideoType(MEDIASUBTYPE_RGB24, 24));
    EXPECT_TRUE(In()->CurrentMediaType() == Out()->CurrentMediaType());
}

TEST_F(ConnectionTest, FailedAttemptLeavesBothPinsUnconnected) {
    struct Case {
        const char* what;
        HRESULT hrCheck, hrDecide, expected;
    } cases[] = {
        {"no acceptable type", E_FAIL, S_OK, VFW_E_NO_ACCEPTABLE_TYPES},
        {"allocator negotiation fails", S_OK, E_OUTOFMEMORY, E_OUTOFMEMORY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        In()->m_fnCheck = [hr = c.hrCheck](const CMediaType*) { return hr; };
        Out()->m_hrDecide = c.hrDecide;
        EXPECT_EQ(Connect(), c.expected);
        EXPECT_FALSE(Out()->IsConnected());
        EXPECT_FALSE(In()->IsConnected());
        EXPECT_EQ(Out()->PeerInput(), nullptr);
        EXPECT_EQ(Out()->Allocator(), nullptr);
        EXPECT_EQ(In()->HeldAllocator(), nullptr);
    }
}

// Pool samples carry their type in the property record; a sample with
// IMediaSample only is read field by field, and the pin owns the type copy
// GetMediaType hands it (freed, or LeakSanitizer objects).
TEST_F(ConnectionTest, RefusedTypeInSampleAbortsUntilFlushOrStop) {
    ASSERT_EQ(Connect(), S_OK);
    Pause();
    const CMediaType refused = MakeVideoType(MEDIASUBTYPE_RGB32, 32);
    EXPECT_EQ(DeliverOne(&refused), VFW_E_INVALIDMEDIATYPE);
    EXPECT_EQ(In()->m_cEndOfStream.load(), 1);
    const auto events = m_Graph.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].code, EC_ERRORABORT);
    EXPECT_EQ(events[0].param1, VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(DeliverOne(), VFW_E_RUNTIME_ERROR);
    In()->BeginFlush();
    In()->EndFlush();
    EXPECT_EQ(DeliverOne(), S_OK);

    const CMediaType accepted = MakeVideoType(MEDIASUBTYPE_RGB24, 24);
    CFakeSample good, plain, bad;
    good.SetType(&accepted);
    bad.SetType(&refused);
    EXPECT_EQ(In()->Receive(&good), S_OK);
    EXPECT_TRUE(In()->m_bLastHadType.load());
    EXPECT_EQ(In()->Receive(&plain), S_OK);
    EXPECT_FALSE(In()->m_bLastHadType.load());
    EXPECT_EQ(In()->Receive(&bad), VFW_E_INVALIDMEDIATYPE);
    EXPECT_TRUE(In()->HasRunTimeError());
    Stop();
    EXPECT_EQ(In()->Receive(&plain), VFW_E_WRONG_STATE);
    Pause();
    EXPECT_EQ(DeliverOne(), S_OK);
}

TEST_F(ConnectionTest, ConnectedToWaitsForADisconnectInProgress) {
    // Unlocked, it could add its reference to a peer the Disconnect has
    // just released (position queries call it from any thread).
    ASSERT_EQ(Connect(), S_OK);
    std::future<std::pair<HRESULT, IPin*>> peer;
    {
        CAutoLock lock(m_Sink->GetLock());  // as a Disconnect on the graph thread holds it
        peer = std::async(std::launch::async, [this] {
            IPin* pPeer = nullptr;
            const HRESULT hr = In()->ConnectedTo(&pPeer);
            return std::make_pair(hr, pPeer);
        });
        EXPECT_EQ(peer.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
        ASSERT_EQ(In()->Disconnect(), S_OK);
    }
    const auto [hr, pPeer] = peer.get();
    EXPECT_EQ(hr, VFW_E_NOT_CONNECTED);
    EXPECT_EQ(pPeer, nullptr);
    if (pPeer) pPeer->Release();
}

TEST_F(ConnectionTest, TypeEnumeratorFailsOnATypeItCannotCopyAndSkipsNone) {
    Out()->m_nOutOfMemoryOnceAt = 1;
    IEnumMediaTypes* pEnum = nullptr;
    ASSERT_EQ(Out()->EnumMediaTypes(&pEnum), S_OK);
    AM_MEDIA_TYPE* types[3] = {};
    ULONG nFetched = 99;
    EXPECT_EQ(pEnum->Next(3, types, &nFetched), E_OUTOFMEMORY);
    EXPECT_EQ(nFetched, 0u);
    for (AM_MEDIA_TYPE* pmt : types) DeleteMediaType(pmt);  // nothing, when it changed nothing
    ASSERT_EQ(pEnum->Next(3, types, &nFetched), S_OK);      // the retry gets all three, in order
    ASSERT_EQ(nFetched, 3u);
    for (size_t i = 0; i < 3; ++i) {
        HRESULT hrCopy = S_OK;
        EXPECT_TRUE(CMediaType(*types[i], &hrCopy) == Out()->m_Types[i]) << i;
        DeleteMediaType(types[i]);
    }
    pEnum->Release();
}

}  // namespace
}  // namespace pelora_test
