// Object identity and counting, media type helpers, filter-level calls and
// the position objects.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "filterbase/media_position.h"
#include "filterbase/media_type.h"
#include "filterbase/renderer_pos_pass_thru.h"
#include "support/live_objects.h"
#include "test_filters.h"

using namespace pelora_test;

namespace {

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
    CComRef<IMemInputPin> input;
    EXPECT_EQ(pin.QueryInto(IID_IMemInputPin, &input), S_OK);
    CComRef<IMemAllocator> none;
    EXPECT_EQ(pin.QueryInto(IID_IMemAllocator, &none), E_NOINTERFACE);
}

TEST_F(FilterBaseTest, MediaTypeCopiesOwnTheirFormatAndCompareByBytes) {
    CMediaType a = MakeVideoType(MEDIASUBTYPE_RGB24, 24);
    CMediaType b(a);
    EXPECT_TRUE(a == b);
    EXPECT_NE(a.Format(), b.Format());
    b.Format()[10] ^= 1;
    EXPECT_FALSE(a == b);
    AM_MEDIA_TYPE* pTask = CreateMediaType(&a);
    ASSERT_NE(pTask, nullptr);
    EXPECT_TRUE(CMediaType(*pTask) == a);
    DeleteMediaType(pTask);
    DeleteMediaType(nullptr);
    EXPECT_FALSE(a.IsPartiallySpecified());
    CMediaType partial;
    partial.SetType(&MEDIATYPE_Video);
    EXPECT_TRUE(partial.IsPartiallySpecified());
    EXPECT_TRUE(a.MatchesPartial(&partial));
    partial.SetSubtype(&MEDIASUBTYPE_RGB32);
    EXPECT_FALSE(a.MatchesPartial(&partial));
    a = b;
    EXPECT_TRUE(a == b);
}

TEST_F(FilterBaseTest, StreamTimeNeedsAClock) {
    auto sink = MakeFilter<CTestSinkFilter>();
    REFERENCE_TIME t = 0;
    EXPECT_EQ(sink->StreamTime(t), VFW_E_NO_CLOCK);
}

TEST_F(FilterBaseTest, FilterInfoTruncatesLongNamesAndAddsAGraphReference) {
    auto sink = MakeFilter<CTestSinkFilter>();
    CFakeGraph graph;
    const std::wstring longName(200, L'x');
    ASSERT_EQ(sink->JoinFilterGraph(&graph, longName.c_str()), S_OK);
    FILTER_INFO info;
    std::wmemset(info.achName, L'?', MAX_FILTER_NAME);
    ASSERT_EQ(sink->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(std::wcslen(info.achName), 127u);
    EXPECT_EQ(info.pGraph, static_cast<IFilterGraph*>(&graph));
    ASSERT_EQ(sink->JoinFilterGraph(nullptr, nullptr), S_OK);
    ASSERT_EQ(sink->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.achName[0], L'\0');
    EXPECT_EQ(info.pGraph, nullptr);
    EXPECT_EQ(sink->NotifyEvent(EC_COMPLETE, S_OK, 0), E_NOTIMPL);  // no sink now

    // Pin names truncate the same way.
    sink->AddPin(longName.c_str());
    PIN_INFO pinInfo;
    ASSERT_EQ(sink->Pin(1)->QueryPinInfo(&pinInfo), S_OK);
    EXPECT_EQ(std::wcslen(pinInfo.achName), 127u);
    EXPECT_EQ(pinInfo.dir, PINDIR_INPUT);
    pinInfo.pFilter->Release();
}

TEST_F(FilterBaseTest, CompletionEventNamesTheFilter) {
    auto sink = MakeFilter<CTestSinkFilter>();
    CFakeGraph graph;
    sink->JoinFilterGraph(&graph, L"sink");
    EXPECT_EQ(sink->NotifyEvent(EC_COMPLETE, S_OK, 1234), S_OK);
    EXPECT_EQ(sink->NotifyEvent(EC_ERRORABORT, E_FAIL, 5), S_OK);
    const auto events = graph.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].param2, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(sink.Get())));
    EXPECT_EQ(events[1].param2, 5);
}

TEST_F(FilterBaseTest, RegistrationNeverClaimsASuccessItDidNotHave) {
    auto sink = MakeFilter<CTestSinkFilter>();
    EXPECT_EQ(sink->Register(), S_FALSE);
    EXPECT_EQ(sink->Unregister(), S_FALSE);
    const AMOVIESETUP_FILTER setup{&kClsidTestSink, L"sink", 0, 0, nullptr};
    sink->m_pSetup = &setup;
    EXPECT_EQ(sink->Register(), E_NOTIMPL);
    EXPECT_EQ(sink->Unregister(), E_NOTIMPL);
}

TEST_F(FilterBaseTest, FindPinMatchesTheNameExactly) {
    auto sink = MakeFilter<CTestSinkFilter>();
    IPin* pPin = nullptr;
    ASSERT_EQ(sink->FindPin(L"In", &pPin), S_OK);
    EXPECT_EQ(pPin, static_cast<IPin*>(sink->Pin()));
    pPin->Release();
    EXPECT_EQ(sink->FindPin(L"Input", &pPin), VFW_E_NOT_FOUND);
    EXPECT_EQ(pPin, nullptr);
    CLSID clsid{};
    EXPECT_EQ(sink->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(clsid == kClsidTestSink);
}

TEST_F(FilterBaseTest, StateChangesReachConnectedPinsOnly) {
    auto source = MakeFilter<CTestSourceFilter>();
    auto sink = MakeFilter<CTestSinkFilter>();
    source->Pin()->m_Types = {MakeVideoType(MEDIASUBTYPE_RGB24, 24)};
    // Unconnected: Pause does not try to commit a missing pool.
    EXPECT_EQ(source->Pause(), S_OK);
    EXPECT_EQ(source->Stop(), S_OK);
    ASSERT_EQ(source->Pin()->Connect(sink->Pin(), nullptr), S_OK);
    EXPECT_EQ(source->Run(1000), S_OK);  // pauses first, committing the pool
    FILTER_STATE fs = State_Stopped;
    EXPECT_EQ(source->GetState(0, &fs), S_OK);
    EXPECT_EQ(fs, State_Running);
    IMediaSample* pSample = nullptr;
    EXPECT_EQ(source->Pin()->GetDeliveryBuffer(&pSample, nullptr, nullptr, 0), S_OK);
    pSample->Release();
    EXPECT_EQ(source->Stop(), S_OK);
    EXPECT_EQ(source->Pin()->GetDeliveryBuffer(&pSample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    source->Pin()->Disconnect();
    sink->Pin()->Disconnect();
}

// An upstream pin with seeking in frames of 400,000 units (25 per second).
class CSeekingOutputPin : public CTestOutputPin, public IMediaSeeking {
public:
    CSeekingOutputPin(CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr)
        : CTestOutputPin(pFilter, pLock, phr) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
        return CTestOutputPin::NonDelegatingQueryInterface(riid, ppv);
    }
    static constexpr LONGLONG kFrame = 400000;
    bool InFrames() const { return m_Format == TIME_FORMAT_FRAME; }

    HRESULT GetCapabilities(DWORD*) override { return E_NOTIMPL; }
    HRESULT CheckCapabilities(DWORD*) override { return E_NOTIMPL; }
    HRESULT IsFormatSupported(const GUID*) override { return E_NOTIMPL; }
    HRESULT QueryPreferredFormat(GUID*) override { return E_NOTIMPL; }
    HRESULT GetTimeFormat(GUID* pFormat) override {
        *pFormat = m_Format;
        return S_OK;
    }
    HRESULT IsUsingTimeFormat(const GUID*) override { return E_NOTIMPL; }
    HRESULT SetTimeFormat(const GUID* pFormat) override {
        m_Format = *pFormat;
        return S_OK;
    }
    HRESULT GetDuration(LONGLONG*) override { return E_NOTIMPL; }
    HRESULT GetStopPosition(LONGLONG* pStop) override {
        *pStop = InFrames() ? 250 : 250 * kFrame;
        return S_OK;
    }
    HRESULT GetCurrentPosition(LONGLONG* pCurrent) override {
        *pCurrent = -1;  // marks "asked upstream"
        return S_OK;
    }
    HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                              const GUID* pSourceFormat) override {
        const GUID& to = pTargetFormat ? *pTargetFormat : m_Format;
        const GUID& from = pSourceFormat ? *pSourceFormat : m_Format;
        if (to == from) {
            *pTarget = Source;
        } else if (to == TIME_FORMAT_FRAME) {
            *pTarget = Source / kFrame;
        } else {
            *pTarget = Source * kFrame;
        }
        return S_OK;
    }
    HRESULT SetPositions(LONGLONG*, DWORD, LONGLONG*, DWORD) override { return E_NOTIMPL; }
    HRESULT GetPositions(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    HRESULT GetAvailable(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    HRESULT SetRate(double d) override {
        m_dRate = d;
        return S_OK;
    }
    HRESULT GetRate(double*) override { return E_NOTIMPL; }
    HRESULT GetPreroll(LONGLONG*) override { return E_NOTIMPL; }

    GUID m_Format = TIME_FORMAT_MEDIA_TIME;
    double m_dRate = 1.0;
};

class CSeekingSource : public CBaseFilter {
public:
    CSeekingSource()
        : CBaseFilter("CSeekingSource", nullptr, &m_Lock, kClsidTestSource),
          m_Pin(this, &m_Lock, &m_hr) {
        m_Pin.m_Types = {MakeVideoType(MEDIASUBTYPE_RGB24, 24)};
    }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_Pin : nullptr; }
    CCritSec m_Lock;
    HRESULT m_hr = S_OK;
    CSeekingOutputPin m_Pin;
};

class PositionTest : public LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        m_Source = MakeFilter<CSeekingSource>();
        m_Sink = MakeFilter<CTestSinkFilter>();
        HRESULT hr = S_OK;
        // Aggregated by the sink filter, as a renderer does.
        m_pPos = new CRendererPosPassThru("pos", m_Sink->GetOwner(), &hr, m_Sink->Pin());
        ASSERT_EQ(hr, S_OK);
        m_pSeeking = static_cast<IMediaSeeking*>(m_pPos);
    }
    void TearDown() override {
        delete m_pPos;  // the owner deletes an aggregated object
        m_Source->m_Pin.Disconnect();
        m_Sink->Pin()->Disconnect();
        m_Source.Release();
        m_Sink.Release();
        LiveObjectsTest::TearDown();
    }
    void Connect() { ASSERT_EQ(m_Source->m_Pin.Connect(m_Sink->Pin(), nullptr), S_OK); }

    CComRef<CSeekingSource> m_Source;
    CComRef<CTestSinkFilter> m_Sink;
    CRendererPosPassThru* m_pPos = nullptr;
    IMediaSeeking* m_pSeeking = nullptr;
};

TEST_F(PositionTest, UnconnectedPinAnswersNotImplemented) {
    LONGLONG ll = 0;
    EXPECT_EQ(m_pSeeking->GetStopPosition(&ll), E_NOTIMPL);
    EXPECT_EQ(m_pSeeking->GetCurrentPosition(&ll), E_NOTIMPL);
    EXPECT_EQ(m_pSeeking->SetRate(0.0), E_INVALIDARG);
}

TEST_F(PositionTest, CurrentPositionIsTheLastRenderedSampleOrUpstreams) {
    Connect();
    LONGLONG ll = 0;
    EXPECT_EQ(m_pSeeking->GetCurrentPosition(&ll), S_OK);
    EXPECT_EQ(ll, -1);  // nothing rendered yet: passed upstream
    EXPECT_EQ(m_pPos->GetMediaTime(&ll, nullptr), E_FAIL);
    m_pPos->RegisterMediaTime(800000, 1200000);
    EXPECT_EQ(m_pSeeking->GetCurrentPosition(&ll), S_OK);
    EXPECT_EQ(ll, 800000);
    m_Source->m_Pin.m_Format = TIME_FORMAT_FRAME;
    EXPECT_EQ(m_pSeeking->GetCurrentPosition(&ll), S_OK);
    EXPECT_EQ(ll, 2);  // frame 2
    m_pPos->ResetMediaTime();
    EXPECT_EQ(m_pSeeking->GetCurrentPosition(&ll), S_OK);
    EXPECT_EQ(ll, -1);
    EXPECT_EQ(m_pSeeking->SetRate(2.0), S_OK);
    EXPECT_EQ(m_Source->m_Pin.m_dRate, 2.0);
}

TEST_F(PositionTest, EndOfStreamMakesCurrentEqualStopInEveryFormat) {
    Connect();
    EXPECT_EQ(m_pPos->EOS(), E_FAIL);  // nothing rendered since the reset
    for (const GUID* pFormat : {&TIME_FORMAT_MEDIA_TIME, &TIME_FORMAT_FRAME}) {
        m_Source->m_Pin.m_Format = *pFormat;
        m_pPos->RegisterMediaTime(0, 1);
        ASSERT_EQ(m_pPos->EOS(), S_OK);
        LONGLONG llCurrent = 0, llStop = 0;
        ASSERT_EQ(m_pSeeking->GetCurrentPosition(&llCurrent), S_OK);
        ASSERT_EQ(m_pSeeking->GetStopPosition(&llStop), S_OK);
        EXPECT_EQ(llCurrent, llStop);
    }
}

TEST_F(PositionTest, TypeInformationFailsInsteadOfAnsweringNull) {
    IDispatch* pDispatch = static_cast<IMediaPosition*>(m_pPos);
    UINT cInfo = 0;
    EXPECT_EQ(pDispatch->GetTypeInfoCount(&cInfo), S_OK);
    EXPECT_EQ(cInfo, 1u);
    ITypeInfo* pInfo = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(pDispatch->GetTypeInfo(0, 0, &pInfo), E_NOTIMPL);
    EXPECT_EQ(pInfo, nullptr);
    EXPECT_EQ(pDispatch->GetTypeInfo(1, 0, &pInfo), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(pDispatch->GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr), E_NOTIMPL);
    EXPECT_EQ(pDispatch->Invoke(0, IID_NULL, 0, 0, nullptr, nullptr, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(pDispatch->Invoke(0, IID_IPin, 0, 0, nullptr, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

TEST_F(PositionTest, AggregatedObjectAnswersForItsOwner) {
    // QueryInterface through the position object reaches the filter.
    IBaseFilter* pFilter = nullptr;
    ASSERT_EQ(m_pSeeking->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&pFilter)),
              S_OK);
    EXPECT_EQ(pFilter, static_cast<IBaseFilter*>(m_Sink.Get()));
    pFilter->Release();
    const LONG lRef = m_Sink->RefCount();
    m_pSeeking->AddRef();
    EXPECT_EQ(m_Sink->RefCount(), lRef + 1);
    m_pSeeking->Release();
}

}  // namespace
