// Connecting an output pin to an input pin, allocator negotiation between
// them, and the receive side's checks.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "filterbase/media_type.h"
#include "support/live_objects.h"
#include "support/watchdog.h"
#include "test_filters.h"

using namespace pelora_test;

namespace {

class ConnectionTest : public LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        m_Source = MakeFilter<CTestSourceFilter>();
        m_Sink = MakeFilter<CTestSinkFilter>();
        m_Source->Pin()->m_Types = {MakeVideoType(MEDIASUBTYPE_RGB32, 32),
                                    MakeVideoType(MEDIASUBTYPE_RGB24, 24),
                                    MakeVideoType(MEDIASUBTYPE_RGB24, 25)};
        m_Source->JoinFilterGraph(&m_Graph, L"source");
        m_Sink->JoinFilterGraph(&m_Graph, L"sink");
    }
    void TearDown() override {
        m_Source->Stop();
        m_Sink->Stop();
        m_Sink->Pin()->ReleaseKept();
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
    IMediaSample* GetSample() {
        IMediaSample* pSample = nullptr;
        EXPECT_EQ(Out()->GetDeliveryBuffer(&pSample, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
        return pSample;
    }
    // Delivers one sample, optionally carrying a media type.
    HRESULT DeliverOne(const CMediaType* pType = nullptr) {
        IMediaSample* pSample = GetSample();
        if (!pSample) return E_FAIL;
        if (pType) pSample->SetMediaType(const_cast<CMediaType*>(pType));
        const HRESULT hr = Out()->Deliver(pSample);
        pSample->Release();
        return hr;
    }

    CFakeGraph m_Graph;
    CComRef<CTestSourceFilter> m_Source;
    CComRef<CTestSinkFilter> m_Sink;
};

TEST_F(ConnectionTest, ChoosesTheFirstUpstreamTypeTheInputAccepts) {
    ASSERT_EQ(Connect(), S_OK);
    CMediaType mt;
    ASSERT_EQ(In()->ConnectionMediaType(&mt), S_OK);
    EXPECT_TRUE(mt == MakeVideoType(MEDIASUBTYPE_RGB24, 24));
    EXPECT_TRUE(In()->CurrentMediaType() == Out()->CurrentMediaType());
    IPin* pPeer = nullptr;
    ASSERT_EQ(In()->ConnectedTo(&pPeer), S_OK);
    EXPECT_EQ(pPeer, static_cast<IPin*>(Out()));
    pPeer->Release();
}

TEST_F(ConnectionTest, FullySpecifiedTypeIsTheOnlyOneTried) {
    const CMediaType refused = MakeVideoType(MEDIASUBTYPE_RGB32, 32);
    EXPECT_EQ(Out()->Connect(In(), &refused), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_FALSE(Out()->IsConnected());
    // A partial template picks the matching upstream type.
    CMediaType partial;
    partial.SetType(&MEDIATYPE_Video);
    partial.SetSubtype(&MEDIASUBTYPE_RGB24);
    ASSERT_EQ(Out()->Connect(In(), &partial), S_OK);
}

TEST_F(ConnectionTest, RefusesSecondConnectionAndSameDirectionPeers) {
    ASSERT_EQ(Connect(), S_OK);
    EXPECT_EQ(Connect(), VFW_E_ALREADY_CONNECTED);
    auto other = MakeFilter<CTestSourceFilter>();
    other->Pin()->m_Types = {MakeVideoType(MEDIASUBTYPE_RGB24, 24)};
    auto otherSink = MakeFilter<CTestSinkFilter>();
    EXPECT_EQ(other->Pin()->Connect(Out(), nullptr), VFW_E_INVALID_DIRECTION);
    EXPECT_FALSE(other->Pin()->IsConnected());
    const CMediaType mt = MakeVideoType(MEDIASUBTYPE_RGB24, 24);
    EXPECT_EQ(otherSink->Pin()->ReceiveConnection(In(), &mt), VFW_E_INVALID_DIRECTION);
    EXPECT_EQ(In()->ReceiveConnection(nullptr, &mt), E_POINTER);
}

TEST_F(ConnectionTest, ConnectionChangesOnlyWhileStopped) {
    ASSERT_EQ(m_Source->Pause(), S_OK);
    EXPECT_EQ(Connect(), VFW_E_NOT_STOPPED);
    ASSERT_EQ(m_Source->Stop(), S_OK);
    ASSERT_EQ(Connect(), S_OK);
    Pause();
    EXPECT_EQ(Out()->Disconnect(), VFW_E_NOT_STOPPED);
    m_Source->Stop();
    m_Sink->Stop();
    EXPECT_EQ(Out()->Disconnect(), S_OK);
    EXPECT_EQ(Out()->Disconnect(), S_FALSE);
}

TEST_F(ConnectionTest, FailedAttemptLeavesBothPinsUnconnected) {
    In()->m_fnCheck = [](const CMediaType*) { return E_FAIL; };
    EXPECT_EQ(Connect(), VFW_E_NO_ACCEPTABLE_TYPES);
    EXPECT_FALSE(Out()->IsConnected());
    EXPECT_FALSE(In()->IsConnected());
    EXPECT_GE(Out()->m_cBreakConnect, 1);
    EXPECT_EQ(Out()->PeerInput(), nullptr);

    // The input refuses in CompleteConnect: the output undoes its side.
    In()->m_fnCheck = [](const CMediaType*) { return S_OK; };
    In()->m_hrCompleteConnect = E_OUTOFMEMORY;
    EXPECT_EQ(Connect(), E_OUTOFMEMORY);  // specific failures are reported
    EXPECT_FALSE(Out()->IsConnected());
    EXPECT_FALSE(In()->IsConnected());
    EXPECT_GE(In()->m_cBreakConnect, 1);
}

TEST_F(ConnectionTest, InputIsDisconnectedWhenAllocatorNegotiationFails) {
    Out()->m_hrDecide = E_OUTOFMEMORY;
    EXPECT_EQ(Connect(), E_OUTOFMEMORY);
    EXPECT_FALSE(Out()->IsConnected());
    EXPECT_FALSE(In()->IsConnected());
    EXPECT_EQ(Out()->Allocator(), nullptr);
    EXPECT_EQ(In()->HeldAllocator(), nullptr);
}

TEST_F(ConnectionTest, QueryAcceptAnswersFailuresAsSFalse) {
    const CMediaType rgb24 = MakeVideoType(MEDIASUBTYPE_RGB24, 24);
    EXPECT_EQ(In()->QueryAccept(&rgb24), S_OK);
    In()->m_fnCheck = [](const CMediaType*) { return E_FAIL; };
    EXPECT_EQ(In()->QueryAccept(&rgb24), S_FALSE);
    EXPECT_EQ(In()->QueryAccept(nullptr), E_POINTER);
}

TEST_F(ConnectionTest, OutputUsesTheInputPinsPoolWithItsOwnSizes) {
    Out()->m_Request = ALLOCATOR_PROPERTIES{3, 1000, 16, 10};
    ASSERT_EQ(Connect(), S_OK);
    ASSERT_NE(Out()->Allocator(), nullptr);
    EXPECT_EQ(Out()->Allocator(), In()->HeldAllocator());
    ALLOCATOR_PROPERTIES props{};
    Out()->Allocator()->GetProperties(&props);
    EXPECT_EQ(props.cBuffers, 3);
    EXPECT_EQ(props.cbBuffer, 1014);
}

TEST_F(ConnectionTest, OutputFallsBackToItsOwnPoolAndAnnouncesIt) {
    In()->m_bOfferAllocator = false;
    ASSERT_EQ(Connect(), S_OK);
    ASSERT_NE(Out()->Allocator(), nullptr);
    EXPECT_EQ(Out()->Allocator(), In()->HeldAllocator());
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
}

TEST_F(ConnectionTest, ReceiveRefusesWhileStoppedAndNullArguments) {
    ASSERT_EQ(Connect(), S_OK);
    Pause();
    IMediaSample* pSample = GetSample();
    ASSERT_NE(pSample, nullptr);
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
    // A flush clears the error.
    In()->BeginFlush();
    In()->EndFlush();
    EXPECT_EQ(DeliverOne(), S_OK);
    // So does deactivation.
    EXPECT_EQ(DeliverOne(&refused), VFW_E_INVALIDMEDIATYPE);
    m_Sink->Stop();
    m_Source->Stop();
    Pause();
    EXPECT_EQ(DeliverOne(), S_OK);
    // An accepted changed type passes and is visible to the derived pin.
    const CMediaType accepted = MakeVideoType(MEDIASUBTYPE_RGB24, 24);
    EXPECT_EQ(DeliverOne(&accepted), S_OK);
    EXPECT_TRUE(In()->m_bLastHadType.load());
}

// A sample with only IMediaSample: the pin reads it field by field and owns
// the type copy it gets from GetMediaType (freed, or LeakSanitizer objects).
class CPlainSample : public IMediaSample {
public:
    explicit CPlainSample(const CMediaType* pType) : m_pType(pType) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IMediaSample) {
            *ppv = static_cast<IMediaSample*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetPointer(BYTE** pp) override {
        *pp = m_Data;
        return S_OK;
    }
    LONG GetSize() override { return sizeof(m_Data); }
    HRESULT GetTime(REFERENCE_TIME* s, REFERENCE_TIME* e) override {
        *s = 10;
        *e = 20;
        return S_OK;
    }
    HRESULT SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT IsSyncPoint() override { return S_OK; }
    HRESULT SetSyncPoint(BOOL) override { return E_NOTIMPL; }
    HRESULT IsPreroll() override { return S_FALSE; }
    HRESULT SetPreroll(BOOL) override { return E_NOTIMPL; }
    LONG GetActualDataLength() override { return 4; }
    HRESULT SetActualDataLength(LONG) override { return E_NOTIMPL; }
    HRESULT GetMediaType(AM_MEDIA_TYPE** pp) override {
        *pp = m_pType ? CreateMediaType(m_pType) : nullptr;
        return m_pType ? S_OK : S_FALSE;
    }
    HRESULT SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT IsDiscontinuity() override { return S_FALSE; }
    HRESULT SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
    HRESULT GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
    HRESULT SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

private:
    const CMediaType* m_pType;
    BYTE m_Data[8] = {};
};

TEST_F(ConnectionTest, PlainSampleTypeCopiesAreCheckedAndFreed) {
    ASSERT_EQ(Connect(), S_OK);
    Pause();
    const CMediaType accepted = MakeVideoType(MEDIASUBTYPE_RGB24, 24);
    const CMediaType refused = MakeVideoType(MEDIASUBTYPE_RGB32, 32);
    CPlainSample good(&accepted);
    CPlainSample plain(nullptr);
    CPlainSample bad(&refused);
    EXPECT_EQ(In()->Receive(&good), S_OK);
    EXPECT_TRUE(In()->m_bLastHadType.load());
    EXPECT_EQ(In()->Receive(&plain), S_OK);
    EXPECT_FALSE(In()->m_bLastHadType.load());
    EXPECT_EQ(In()->Receive(&good), S_OK);
    EXPECT_EQ(In()->Receive(&bad), VFW_E_INVALIDMEDIATYPE);
    EXPECT_TRUE(In()->HasRunTimeError());
}

TEST_F(ConnectionTest, StopWakesASourceBlockedOnAFullPool) {
    Out()->m_Request = ALLOCATOR_PROPERTIES{1, 64, 1, 0};
    ASSERT_EQ(Connect(), S_OK);
    In()->m_bKeepSamples = true;  // the sink holds every sample it gets
    Pause();
    auto streamer = std::async(std::launch::async, [this] {
        HRESULT hr = S_OK;
        while (hr == S_OK) {
            IMediaSample* pSample = nullptr;
            hr = Out()->GetDeliveryBuffer(&pSample, nullptr, nullptr, 0);
            if (hr != S_OK) break;
            hr = Out()->Deliver(pSample);
            pSample->Release();
        }
        return hr;
    });
    ASSERT_TRUE(WaitUntil([&] { return In()->m_cReceived.load() == 1; }));
    // The source is now blocked waiting for a free buffer; stopping the sink
    // decommits the pool and releases it.
    m_Sink->Stop();
    const bool bReturned = streamer.wait_for(kWatchdog) == std::future_status::ready;
    if (!bReturned) In()->ReleaseKept();  // unblock before failing
    ASSERT_TRUE(bReturned);
    EXPECT_EQ(streamer.get(), VFW_E_NOT_COMMITTED);
}

}  // namespace
