// Pin and media type enumerators: refresh, out-of-sync answers, and the
// references they hand out.
#include <gtest/gtest.h>

#include "filterbase/media_type.h"
#include "support/live_objects.h"
#include "test_filters.h"

using namespace pelora_test;

namespace {

class EnumeratorTest : public LiveObjectsTest {
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

TEST_F(EnumeratorTest, ReturnsEveryPinOnceWithAReference) {
    const LONG lRef = m_Sink->RefCount();
    IPin* pins[3] = {};
    ULONG cFetched = 0;
    EXPECT_EQ(m_Enum->Next(3, pins, &cFetched), S_FALSE);
    ASSERT_EQ(cFetched, 2u);
    EXPECT_EQ(pins[0], static_cast<IPin*>(m_Sink->Pin(0)));
    EXPECT_EQ(pins[1], static_cast<IPin*>(m_Sink->Pin(1)));
    EXPECT_EQ(m_Sink->RefCount(), lRef + 2);
    pins[0]->Release();
    pins[1]->Release();
    EXPECT_EQ(m_Enum->Next(1, pins, nullptr), S_FALSE);
    EXPECT_EQ(m_Enum->Next(2, pins, nullptr), E_INVALIDARG);
    EXPECT_EQ(m_Enum->Next(1, nullptr, &cFetched), E_POINTER);
}

TEST_F(EnumeratorTest, ResetAfterAPinWasAddedReturnsTheNewPin) {
    EXPECT_EQ(FetchAndRelease(2), 2u);
    m_Sink->AddPin(L"Third");
    ASSERT_EQ(m_Enum->Reset(), S_OK);
    EXPECT_EQ(FetchAndRelease(8), 3u);
}

TEST_F(EnumeratorTest, WithoutResetItRefreshesButDoesNotRepeatPins) {
    EXPECT_EQ(FetchAndRelease(1), 1u);
    m_Sink->AddPin(L"Third");
    IPin* pFirst = nullptr;
    HRESULT hr = E_FAIL;
    // Two left that were never returned: "Second" and "Third".
    EXPECT_EQ(FetchAndRelease(8, &hr, &pFirst), 2u);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(pFirst, static_cast<IPin*>(m_Sink->Pin(1)));
}

TEST_F(EnumeratorTest, SkipAndCloneRefuseAfterThePinSetChanged) {
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

TEST_F(EnumeratorTest, MissingPinPartWayReleasesWhatWasHandedOut) {
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

class TypeSourceTest : public LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        m_Source = MakeFilter<CTestSourceFilter>();
        m_Source->Pin()->m_Types = {MakeVideoType(MEDIASUBTYPE_RGB32, 32),
                                    MakeVideoType(MEDIASUBTYPE_RGB24, 24)};
        ASSERT_EQ(m_Source->Pin()->EnumMediaTypes(m_Enum.Receive()), S_OK);
    }
    void TearDown() override {
        m_Enum.Release();
        m_Source.Release();
        LiveObjectsTest::TearDown();
    }
    CComRef<CTestSourceFilter> m_Source;
    CComRef<IEnumMediaTypes> m_Enum;
};

TEST_F(TypeSourceTest, HandsOutOwnedCopiesInThePinsOrder) {
    AM_MEDIA_TYPE* types[3] = {};
    ULONG cFetched = 0;
    EXPECT_EQ(m_Enum->Next(3, types, &cFetched), S_FALSE);
    ASSERT_EQ(cFetched, 2u);
    EXPECT_TRUE(CMediaType(*types[0]) == m_Source->Pin()->m_Types[0]);
    EXPECT_TRUE(CMediaType(*types[1]) == m_Source->Pin()->m_Types[1]);
    EXPECT_NE(types[0]->pbFormat, m_Source->Pin()->m_Types[0].pbFormat);
    DeleteMediaType(types[0]);
    DeleteMediaType(types[1]);
    EXPECT_EQ(m_Enum->Reset(), S_OK);
    EXPECT_EQ(m_Enum->Skip(0), S_OK);
    EXPECT_EQ(m_Enum->Skip(2), S_OK);
    EXPECT_EQ(m_Enum->Skip(1), S_FALSE);
}

TEST_F(TypeSourceTest, ChangedTypeListPutsTheEnumeratorOutOfSync) {
    m_Source->Pin()->BumpTypeVersion();
    AM_MEDIA_TYPE* pType = nullptr;
    EXPECT_EQ(m_Enum->Next(1, &pType, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(m_Enum->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
    IEnumMediaTypes* pClone = nullptr;
    EXPECT_EQ(m_Enum->Clone(&pClone), VFW_E_ENUM_OUT_OF_SYNC);
    ASSERT_EQ(m_Enum->Reset(), S_OK);
    ASSERT_EQ(m_Enum->Next(1, &pType, nullptr), S_OK);
    DeleteMediaType(pType);
}

}  // namespace
