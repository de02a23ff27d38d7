// The filter and pin base: object identity and counting, filter-level
// answers, the pin and media type enumerators, connecting an output pin to
// an input pin with allocator negotiation between them, and the receive
// side's checks.
#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>
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

constexpr CLSID kClsidTypeListSource = {
    0x6D1E2A10, 0x3B4C, 0x4D5E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0x01}};
constexpr CLSID kClsidTestSink = {
    0x6D1E2A10, 0x3B4C, 0x4D5E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0x02}};

// A video type; bitCount and the subtype tell test types apart.
CMediaType MakeVideoType(const GUID& subtype, WORD bitCount) {
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

using FilterBaseTest = LiveObjectsTest;

TEST_F(FilterBaseTest, ObjectIdentityAndCountFollowTheOuterUnknown) {
    auto sink = MakeFilter<CTestSinkFilter>();
    EXPECT_EQ(CUnknown::ObjectsActive(), 2);  // the filter and its pin
    CComRef<IUnknown> unk1, unk2;
    ASSERT_EQ(sink->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unk1.Receive())), S_OK);
    CComRef<IPin> pin(sink->Pin(), AddRefTag);
    ASSERT_EQ(pin->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unk2.Receive())), S_OK);
    EXPECT_NE(unk1.Get(), unk2.Get());  // the pin is an object of its own
    const LONG lRef = sink->RefCount();
    pin->AddRef();  // a pin's references are its filter's
    EXPECT_EQ(sink->RefCount(), lRef + 1);
    pin->Release();
    CComRef<IMemAllocator> none;
    EXPECT_EQ(pin.QueryInto(IID_IMemAllocator, &none), E_NOINTERFACE);
}

TEST_F(FilterBaseTest, FilterLevelAnswersTruncateNamesAndNeverClaimFalseSuccess) {
    auto sink = MakeFilter<CTestSinkFilter>();
    REFERENCE_TIME t = 0;
    EXPECT_EQ(sink->StreamTime(t), VFW_E_NO_CLOCK);

    CTestEventSink graph;
    const std::wstring longName(200, L'x');
    ASSERT_EQ(sink->JoinFilterGraph(graph.Graph(), longName.c_str()), S_OK);
    FILTER_INFO info;
    ASSERT_EQ(sink->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(std::wcslen(info.achName), 127u);
    EXPECT_EQ(info.pGraph, graph.Graph());
    info.pGraph->Release();
    sink->AddPin(longName.c_str());
    PIN_INFO pinInfo;
    ASSERT_EQ(sink->Pin(1)->QueryPinInfo(&pinInfo), S_OK);
    EXPECT_EQ(std::wcslen(pinInfo.achName), 127u);
    pinInfo.pFilter->Release();

    // EC_COMPLETE names the filter in its second parameter.
    EXPECT_EQ(sink->NotifyEvent(EC_COMPLETE, S_OK, 1234), S_OK);
    ASSERT_EQ(graph.Events().size(), 1u);
    EXPECT_EQ(graph.Events()[0].param2,
              reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(sink.Get())));
    ASSERT_EQ(sink->JoinFilterGraph(nullptr, nullptr), S_OK);
    EXPECT_EQ(sink->NotifyEvent(EC_COMPLETE, S_OK, 0), E_NOTIMPL);  // no sink now

    EXPECT_EQ(sink->Register(), S_FALSE);  // no setup data
    EXPECT_EQ(sink->Unregister(), S_FALSE);
    const AMOVIESETUP_FILTER setup{&kClsidTestSink, L"sink", 0, 0, nullptr};
    sink->m_pSetup = &setup;
    EXPECT_EQ(sink->Register(), E_NOTIMPL);  // there is no mapper to register with
    EXPECT_EQ(sink->Unregister(), E_NOTIMPL);
}

class PinEnumeratorTest : public LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        m_Sink = MakeFilter<CTestSinkFilter>();
        m_Sink->AddPin(L"Second");
        ASSERT_EQ(m_Sink->EnumPins(m_Enum.Receive()), S_OK);
    }
    void TearDown() override {
        m_Enum.Release();
        m_Sink.Release();
        LiveObjectsTest::TearDown();
    }
    // Fetches up to n pins, releases them and returns how many came.
    ULONG FetchAndRelease(ULONG n, HRESULT* phr = nullptr, IPin** ppFirst = nullptr) {
        IPin* pins[8] = {};
        ULONG cFetched = 99;
        const HRESULT hr = m_Enum->Next(n, pins, &cFetched);
        if (phr) *phr = hr;
        if (ppFirst) *ppFirst = cFetched ? pins[0] : nullptr;
        for (ULONG i = 0; i < cFetched && i < 8; ++i) pins[i]->Release();
        return cFetched;
    }

    CComRef<CTestSinkFilter> m_Sink;
    CComRef<IEnumPins> m_Enum;
};

TEST_F(PinEnumeratorTest, RefreshesOnResetOrNextWithoutRepeatingPins) {
    EXPECT_EQ(FetchAndRelease(1), 1u);
    m_Sink->AddPin(L"Third");
    // Not reset: the two never returned, "Second" and "Third".
    IPin* pFirst = nullptr;
    HRESULT hr = E_FAIL;
    EXPECT_EQ(FetchAndRelease(8, &hr, &pFirst), 2u);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(pFirst, static_cast<IPin*>(m_Sink->Pin(1)));
    m_Sink->AddPin(L"Fourth");
    ASSERT_EQ(m_Enum->Reset(), S_OK);
    EXPECT_EQ(FetchAndRelease(8), 4u);
    IPin* pin = nullptr;
    EXPECT_EQ(m_Enum->Next(2, &pin, nullptr), E_INVALIDARG);
}

TEST_F(PinEnumeratorTest, SkipAndCloneRefuseAfterThePinSetChanged) {
    EXPECT_EQ(m_Enum->Skip(1), S_OK);
    EXPECT_EQ(m_Enum->Skip(2), S_FALSE);  // only one left: position unchanged
    EXPECT_EQ(m_Enum->Skip(1), S_OK);
    CComRef<IEnumPins> clone;
    ASSERT_EQ(m_Enum->Clone(clone.Receive()), S_OK);
    m_Sink->AddPin(L"Third");
    EXPECT_EQ(m_Enum->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
    IEnumPins* pClone2 = reinterpret_cast<IEnumPins*>(1);
    EXPECT_EQ(m_Enum->Clone(&pClone2), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(pClone2, nullptr);
}

TEST_F(PinEnumeratorTest, MissingPinPartWayReleasesWhatWasHandedOut) {
    m_Sink->AddPin(L"Third");
    m_Enum->Reset();
    m_Sink->m_nMissingPin = 2;
    const LONG lRef = m_Sink->RefCount();
    IPin* pins[3] = {};
    ULONG cFetched = 99;
    EXPECT_EQ(m_Enum->Next(3, pins, &cFetched), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(cFetched, 0u);
    EXPECT_EQ(m_Sink->RefCount(), lRef);
    // Those pins count as not returned: they come again after the fault.
    m_Sink->m_nMissingPin = -1;
    m_Enum->Reset();
    EXPECT_EQ(FetchAndRelease(3), 3u);
}

TEST_F(FilterBaseTest, MediaTypeEnumeratorHandsOutCopiesAndNoticesAChangedList) {
    auto source = MakeFilter<CTypeListSource>();
    source->Pin()->m_Types = {MakeVideoType(MEDIASUBTYPE_RGB32, 32),
                              MakeVideoType(MEDIASUBTYPE_RGB24, 24)};
    CComRef<IEnumMediaTypes> types;
    ASSERT_EQ(source->Pin()->EnumMediaTypes(types.Receive()), S_OK);
    AM_MEDIA_TYPE* fetched[3] = {};
    ULONG cFetched = 0;
    EXPECT_EQ(types->Next(3, fetched, &cFetched), S_FALSE);
    ASSERT_EQ(cFetched, 2u);
    for (ULONG i = 0; i < 2; ++i) {
        EXPECT_TRUE(CMediaType(*fetched[i]) == source->Pin()->m_Types[i]);
        EXPECT_NE(fetched[i]->pbFormat, source->Pin()->m_Types[i].pbFormat);
        DeleteMediaType(fetched[i]);
    }
    source->Pin()->BumpTypeVersion();
    EXPECT_EQ(types->Next(1, fetched, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(types->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
    IEnumMediaTypes* pClone = nullptr;
    EXPECT_EQ(types->Clone(&pClone), VFW_E_ENUM_OUT_OF_SYNC);
    ASSERT_EQ(types->Reset(), S_OK);
    ASSERT_EQ(types->Next(1, fetched, nullptr), S_OK);
    DeleteMediaType(fetched[0]);
}

class ConnectionTest : public LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        m_Source = MakeFilter<CTypeListSource>();
        m_Sink = MakeFilter<CTestSinkFilter>();
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
    Out()->Disconnect();
    In()->Disconnect();

    // A partial template picks the matching upstream type.
    CMediaType partial;
    partial.SetType(&MEDIATYPE_Video);
    partial.SetSubtype(&MEDIASUBTYPE_RGB24);
    ASSERT_EQ(Out()->Connect(In(), &partial), S_OK);
    EXPECT_TRUE(In()->CurrentMediaType() == MakeVideoType(MEDIASUBTYPE_RGB24, 24));
}

TEST_F(ConnectionTest, RefusesConnectionChangesInTheWrongStateOrDirection) {
    ASSERT_EQ(m_Source->Pause(), S_OK);
    EXPECT_EQ(Connect(), VFW_E_NOT_STOPPED);
    ASSERT_EQ(m_Source->Stop(), S_OK);
    ASSERT_EQ(Connect(), S_OK);
    EXPECT_EQ(Connect(), VFW_E_ALREADY_CONNECTED);

    auto other = MakeFilter<CTypeListSource>();
    other->Pin()->m_Types = {MakeVideoType(MEDIASUBTYPE_RGB24, 24)};
    auto otherSink = MakeFilter<CTestSinkFilter>();
    EXPECT_EQ(other->Pin()->Connect(Out(), nullptr), VFW_E_INVALID_DIRECTION);
    EXPECT_FALSE(other->Pin()->IsConnected());
    const CMediaType mt = MakeVideoType(MEDIASUBTYPE_RGB24, 24);
    EXPECT_EQ(otherSink->Pin()->ReceiveConnection(In(), &mt), VFW_E_INVALID_DIRECTION);
    EXPECT_EQ(In()->ReceiveConnection(nullptr, &mt), E_POINTER);

    Pause();
    EXPECT_EQ(Out()->Disconnect(), VFW_E_NOT_STOPPED);
    Stop();
    EXPECT_EQ(Out()->Disconnect(), S_OK);
    EXPECT_EQ(Out()->Disconnect(), S_FALSE);

    // QueryAccept answers every failure of the check as S_FALSE.
    EXPECT_EQ(In()->QueryAccept(&mt), S_OK);
    In()->m_fnCheck = [](const CMediaType*) { return E_FAIL; };
    EXPECT_EQ(In()->QueryAccept(&mt), S_FALSE);
    EXPECT_EQ(In()->QueryAccept(nullptr), E_POINTER);
}

TEST_F(ConnectionTest, FailedAttemptLeavesBothPinsUnconnected) {
    struct Case {
        const char* what;
        HRESULT hrCheck, hrComplete, hrDecide, expected;
    } cases[] = {
        {"no acceptable type", E_FAIL, S_OK, S_OK, VFW_E_NO_ACCEPTABLE_TYPES},
        {"input refuses in CompleteConnect", S_OK, E_OUTOFMEMORY, S_OK, E_OUTOFMEMORY},
        {"allocator negotiation fails", S_OK, S_OK, E_OUTOFMEMORY, E_OUTOFMEMORY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        In()->m_fnCheck = [hr = c.hrCheck](const CMediaType*) { return hr; };
        In()->m_hrCompleteConnect = c.hrComplete;
        Out()->m_hrDecide = c.hrDecide;
        EXPECT_EQ(Connect(), c.expected);
        EXPECT_FALSE(Out()->IsConnected());
        EXPECT_FALSE(In()->IsConnected());
        EXPECT_EQ(Out()->PeerInput(), nullptr);
        EXPECT_EQ(Out()->Allocator(), nullptr);
        EXPECT_EQ(In()->HeldAllocator(), nullptr);
    }
}

TEST_F(ConnectionTest, OutputUsesTheInputPinsPoolOrItsOwnWithItsOwnSizes) {
    for (bool bOffer : {true, false}) {
        SCOPED_TRACE(bOffer ? "input offers a pool" : "output's own pool");
        In()->m_bOfferAllocator = bOffer;
        Out()->m_Request = ALLOCATOR_PROPERTIES{3, 1000, 16, 10};
        ASSERT_EQ(Connect(), S_OK);
        ASSERT_NE(Out()->Allocator(), nullptr);
        EXPECT_EQ(Out()->Allocator(), In()->HeldAllocator());  // announced to the input
        ALLOCATOR_PROPERTIES props{};
        Out()->Allocator()->GetProperties(&props);
        EXPECT_EQ(props.cBuffers, 3);
        EXPECT_EQ(props.cbBuffer, 1014);
        Out()->Disconnect();
        In()->Disconnect();
    }
}

TEST_F(ConnectionTest, StreamingCallsReachTheInputPin) {
    ASSERT_EQ(Connect(), S_OK);
    IMediaSample* pNone = nullptr;  // stopped: the pool is not committed
    EXPECT_EQ(Out()->GetDeliveryBuffer(&pNone, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    Pause();
    EXPECT_EQ(DeliverOne(), S_OK);
    EXPECT_EQ(In()->m_cReceived.load(), 1);
    EXPECT_EQ(Out()->DeliverNewSegment(0, 100, 1.0), S_OK);
    EXPECT_EQ(In()->m_cNewSegment.load(), 1);
    EXPECT_EQ(In()->CurrentStopTime(), 100);
    EXPECT_EQ(Out()->DeliverEndOfStream(), S_OK);
    EXPECT_EQ(In()->m_cEndOfStream.load(), 1);
    EXPECT_EQ(Out()->DeliverBeginFlush(), S_OK);
    EXPECT_EQ(DeliverOne(), S_FALSE);  // flushing
    EXPECT_EQ(Out()->DeliverEndFlush(), S_OK);
    EXPECT_EQ(DeliverOne(), S_OK);
    Stop();
    EXPECT_EQ(Out()->GetDeliveryBuffer(&pNone, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
}

TEST_F(ConnectionTest, ReceiveRefusesWhileStoppedAndNullArguments) {
    ASSERT_EQ(Connect(), S_OK);
    Pause();
    IMediaSample* pSample = nullptr;
    ASSERT_EQ(Out()->GetDeliveryBuffer(&pSample, nullptr, nullptr, 0), S_OK);
    m_Sink->Stop();
    EXPECT_EQ(In()->Receive(pSample), VFW_E_WRONG_STATE);
    EXPECT_EQ(In()->Receive(nullptr), E_POINTER);
    LONG cDone = -1;
    EXPECT_EQ(In()->ReceiveMultiple(&pSample, 1, nullptr), E_POINTER);
    EXPECT_EQ(In()->ReceiveMultiple(nullptr, 1, &cDone), E_POINTER);
    m_Sink->Pause();
    EXPECT_EQ(In()->ReceiveMultiple(&pSample, 1, &cDone), S_OK);
    EXPECT_EQ(cDone, 1);
    pSample->Release();
}

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
    EXPECT_EQ(DeliverOne(), VFW_E_RUNTIME_ERROR);
    In()->BeginFlush();
    In()->EndFlush();
    EXPECT_EQ(DeliverOne(), S_OK);

    EXPECT_EQ(DeliverOne(&refused), VFW_E_INVALIDMEDIATYPE);
    Stop();
    Pause();
    EXPECT_EQ(DeliverOne(), S_OK);
    // An accepted changed type passes and is visible to the derived pin.
    const CMediaType accepted = MakeVideoType(MEDIASUBTYPE_RGB24, 24);
    EXPECT_EQ(DeliverOne(&accepted), S_OK);
    EXPECT_TRUE(In()->m_bLastHadType.load());
}

// A sample with IMediaSample only is read field by field, and the pin owns
// the type copy GetMediaType hands it (freed, or LeakSanitizer objects).
TEST_F(ConnectionTest, PlainSampleTypeCopiesAreCheckedAndFreed) {
    ASSERT_EQ(Connect(), S_OK);
    Pause();
    const CMediaType accepted = MakeVideoType(MEDIASUBTYPE_RGB24, 24);
    const CMediaType refused = MakeVideoType(MEDIASUBTYPE_RGB32, 32);
    CFakeSample good, plain, bad;
    good.SetType(&accepted);
    bad.SetType(&refused);
    EXPECT_EQ(In()->Receive(&good), S_OK);
    EXPECT_TRUE(In()->m_bLastHadType.load());
    EXPECT_EQ(In()->Receive(&plain), S_OK);
    EXPECT_FALSE(In()->m_bLastHadType.load());
    EXPECT_EQ(In()->Receive(&bad), VFW_E_INVALIDMEDIATYPE);
    EXPECT_TRUE(In()->HasRunTimeError());
}

}  // namespace
}  // namespace pelora_test
