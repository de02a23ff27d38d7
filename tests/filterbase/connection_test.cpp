// Connecting an output pin to an input pin, allocator negotiation between
// them, and the receive side's checks.
#include <gtest/gtest.h>

#include "filterbase/media_type.h"
#include "support/fake_sample.h"
#include "support/live_objects.h"
#include "support/test_event_sink.h"
#include "test_filters.h"

using namespace pelora_test;

namespace {

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
