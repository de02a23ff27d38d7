// Object identity and counting, filter-level answers, and the pin and media
// type enumerators (copies compared byte by byte).
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "filterbase/media_type.h"
#include "support/live_objects.h"
#include "support/test_event_sink.h"
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

}  // namespace
