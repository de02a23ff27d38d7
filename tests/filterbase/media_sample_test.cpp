// Media sample: times, lengths and the property record (64 bytes here).
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "filterbase/media_sample.h"
#include "filterbase/media_type.h"
#include "filterbase/mem_allocator.h"
#include "platform/com/com_ref.h"
#include "support/live_objects.h"
#include "test_filters.h"

using pelora_test::LiveObjectsTest;

namespace {

constexpr LONG kSize = 100;

class SampleTest : public LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        ASSERT_EQ(CMemAllocator::Create(m_pAlloc.Receive()), S_OK);
        ALLOCATOR_PROPERTIES request{2, kSize, 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        ASSERT_EQ(m_pAlloc->SetProperties(&request, &actual), S_OK);
        ASSERT_EQ(m_pAlloc->Commit(), S_OK);
        IMediaSample* pSample = nullptr;
        ASSERT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);
        m_pSample.Reset(pSample, AdoptTag);
        ASSERT_EQ(m_pSample.QueryInto(IID_IMediaSample2, &m_pSample2), S_OK);
    }
    void TearDown() override {
        m_pSample2.Release();
        m_pSample.Release();
        if (m_pAlloc) m_pAlloc->Decommit();
        m_pAlloc.Release();
        LiveObjectsTest::TearDown();
    }
    // A property record of cb bytes with cbData = cb.
    HRESULT SetProps(const AM_SAMPLE2_PROPERTIES& props, DWORD cb) {
        AM_SAMPLE2_PROPERTIES copy = props;
        copy.cbData = cb;
        return m_pSample2->SetProperties(cb, reinterpret_cast<const BYTE*>(&copy));
    }

    CComRef<IMemAllocator> m_pAlloc;
    CComRef<IMediaSample> m_pSample;
    CComRef<IMediaSample2> m_pSample2;
};

TEST_F(SampleTest, StartTimeAloneAnswersStartPlusOneAndNoStopTime) {
    REFERENCE_TIME tStart = 0, tStop = 0;
    EXPECT_EQ(m_pSample->GetTime(&tStart, &tStop), VFW_E_SAMPLE_TIME_NOT_SET);
    REFERENCE_TIME t = 5000;
    ASSERT_EQ(m_pSample->SetTime(&t, nullptr), S_OK);
    EXPECT_EQ(m_pSample->GetTime(&tStart, &tStop), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(tStart, 5000);
    EXPECT_EQ(tStop, 5001);
    t = std::numeric_limits<REFERENCE_TIME>::max();  // no overflow at the top
    m_pSample->SetTime(&t, nullptr);
    EXPECT_EQ(m_pSample->GetTime(&tStart, &tStop), VFW_S_NO_STOP_TIME);
    EXPECT_GE(tStop, tStart);
    REFERENCE_TIME t1 = 10, t2 = 20;
    m_pSample->SetTime(&t1, &t2);
    EXPECT_EQ(m_pSample->GetTime(&tStart, &tStop), S_OK);
    EXPECT_EQ(tStop, 20);
    m_pSample->SetTime(nullptr, nullptr);
    EXPECT_EQ(m_pSample->GetTime(&tStart, &tStop), VFW_E_SAMPLE_TIME_NOT_SET);
}

TEST_F(SampleTest, ActualLengthMayNotPassTheBuffer) {
    EXPECT_EQ(m_pSample->SetActualDataLength(kSize), S_OK);
    EXPECT_EQ(m_pSample->GetActualDataLength(), kSize);
    EXPECT_EQ(m_pSample->SetActualDataLength(kSize + 1), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(m_pSample->SetActualDataLength(-1), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(m_pSample->GetActualDataLength(), kSize);
}

TEST_F(SampleTest, MediaTimesKeepDifferencesBeyond32Bits) {
    LONGLONG llStart = 1000, llStop = 1000 + 3'000'000'000LL;  // 300 s in 100 ns
    EXPECT_EQ(m_pSample->GetMediaTime(&llStart, &llStop), VFW_E_MEDIA_TIME_NOT_SET);
    ASSERT_EQ(m_pSample->SetMediaTime(&llStart, &llStop), S_OK);
    LONGLONG a = 0, b = 0;
    ASSERT_EQ(m_pSample->GetMediaTime(&a, &b), S_OK);
    EXPECT_EQ(a, 1000);
    EXPECT_EQ(b, 1000 + 3'000'000'000LL);
    EXPECT_EQ(m_pSample->SetMediaTime(&llStart, nullptr), E_POINTER);
}

TEST_F(SampleTest, ShortRecordCannotSetLengthOutsideTheBuffer) {
    AM_SAMPLE2_PROPERTIES props{};
    props.lActual = kSize + 1;
    EXPECT_EQ(SetProps(props, 16), E_INVALIDARG);
    props.lActual = -5;
    EXPECT_EQ(SetProps(props, 16), E_INVALIDARG);
    EXPECT_EQ(m_pSample->GetActualDataLength(), 0);  // nothing stored
    props.lActual = kSize;
    EXPECT_EQ(SetProps(props, 16), S_OK);
    EXPECT_EQ(m_pSample->GetActualDataLength(), kSize);
}

TEST_F(SampleTest, RefusesFlagsThatTheRecordCannotBackUp) {
    AM_SAMPLE2_PROPERTIES props{};
    props.dwSampleFlags = 0x200;  // outside the settable flags
    EXPECT_EQ(SetProps(props, sizeof(props)), E_INVALIDARG);
    props.dwSampleFlags = 0x20;  // media time valid is not settable
    EXPECT_EQ(SetProps(props, sizeof(props)), E_INVALIDARG);
    // Start or stop marked valid without the times in the record or the sample.
    props.dwSampleFlags = AM_SAMPLE_TIMEVALID;
    EXPECT_EQ(SetProps(props, 24), E_INVALIDARG);
    props.dwSampleFlags = AM_SAMPLE_STOPVALID;
    EXPECT_EQ(SetProps(props, 24), E_INVALIDARG);
    props.dwSampleFlags = AM_SAMPLE_TYPECHANGED;
    props.pMediaType = nullptr;
    EXPECT_EQ(SetProps(props, sizeof(props)), E_POINTER);
    props.dwSampleFlags = 0;
    props.pbBuffer = reinterpret_cast<BYTE*>(&props);  // not the sample's buffer
    EXPECT_EQ(SetProps(props, sizeof(props)), E_INVALIDARG);
    props.pbBuffer = nullptr;
    props.cbBuffer = kSize + 1;
    EXPECT_EQ(SetProps(props, sizeof(props)), E_INVALIDARG);
    props.cbBuffer = 0;
    EXPECT_EQ(SetProps(props, sizeof(props) + 1), E_INVALIDARG);  // cbData too large
    EXPECT_EQ(m_pSample2->SetProperties(sizeof(props), nullptr), E_POINTER);
    EXPECT_EQ(m_pSample2->SetProperties(3, nullptr), S_OK);  // too short to matter
    // The times already set make the valid flags acceptable in a short record.
    REFERENCE_TIME t1 = 1, t2 = 2;
    m_pSample->SetTime(&t1, &t2);
    props.dwSampleFlags = AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
    EXPECT_EQ(SetProps(props, 24), S_OK);
}

TEST_F(SampleTest, PropertiesRoundTripIncludingAnAttachedType) {
    CMediaType mt = pelora_test::MakeVideoType(MEDIASUBTYPE_RGB24, 24);
    AM_SAMPLE2_PROPERTIES props{};
    props.dwTypeSpecificFlags = 7;
    props.dwSampleFlags =
        AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID | AM_SAMPLE_TYPECHANGED;
    props.lActual = 40;
    props.tStart = 100;
    props.tStop = 200;
    props.dwStreamId = 3;
    props.pMediaType = &mt;
    props.cbBuffer = kSize;
    ASSERT_EQ(SetProps(props, sizeof(props)), S_OK);

    AM_SAMPLE2_PROPERTIES out;
    std::memset(&out, 0xCC, sizeof(out));
    ASSERT_EQ(m_pSample2->GetProperties(sizeof(out), reinterpret_cast<BYTE*>(&out)), S_OK);
    EXPECT_EQ(out.cbData, sizeof(out));
    EXPECT_EQ(out.dwTypeSpecificFlags, 7u);
    EXPECT_EQ(out.dwSampleFlags, props.dwSampleFlags);
    EXPECT_EQ(out.lActual, 40);
    EXPECT_EQ(out.tStart, 100);
    EXPECT_EQ(out.tStop, 200);
    EXPECT_EQ(out.dwStreamId, 3u);
    ASSERT_NE(out.pMediaType, nullptr);
    EXPECT_NE(out.pMediaType, static_cast<AM_MEDIA_TYPE*>(&mt));  // the sample's own copy
    EXPECT_TRUE(CMediaType(*out.pMediaType) == mt);
    EXPECT_EQ(out.cbBuffer, kSize);
    // Padding bytes are zero, not stack contents.
    const BYTE* pb = reinterpret_cast<const BYTE*>(&out);
    for (size_t i = 36; i < 40; ++i) EXPECT_EQ(pb[i], 0) << i;
    for (size_t i = 60; i < 64; ++i) EXPECT_EQ(pb[i], 0) << i;
    AM_MEDIA_TYPE* pCopy = nullptr;
    EXPECT_EQ(m_pSample->GetMediaType(&pCopy), S_OK);
    DeleteMediaType(pCopy);
}

TEST_F(SampleTest, GetPropertiesWritesOnlyTheBytesAskedFor) {
    BYTE buffer[sizeof(AM_SAMPLE2_PROPERTIES) + 8];
    std::memset(buffer, 0xCC, sizeof(buffer));
    EXPECT_EQ(m_pSample2->GetProperties(0, buffer), S_OK);
    EXPECT_EQ(buffer[0], 0xCC);
    EXPECT_EQ(m_pSample2->GetProperties(4, nullptr), E_POINTER);
    ASSERT_EQ(m_pSample2->GetProperties(4, buffer), S_OK);
    DWORD cbData = 0;
    std::memcpy(&cbData, buffer, 4);
    EXPECT_EQ(cbData, 4u);
    EXPECT_EQ(buffer[4], 0xCC);
    ASSERT_EQ(m_pSample2->GetProperties(sizeof(buffer), buffer), S_OK);
    std::memcpy(&cbData, buffer, 4);
    EXPECT_EQ(cbData, sizeof(AM_SAMPLE2_PROPERTIES));  // capped at the record
    EXPECT_EQ(buffer[sizeof(AM_SAMPLE2_PROPERTIES)], 0xCC);
}

TEST_F(SampleTest, ReturnToPoolClearsPerUseState) {
    CMediaType mt = pelora_test::MakeVideoType(MEDIASUBTYPE_RGB24, 24);
    m_pSample->SetDiscontinuity(TRUE);
    m_pSample->SetSyncPoint(TRUE);
    ASSERT_EQ(m_pSample->SetMediaType(&mt), S_OK);
    IMediaSample* pRaw = m_pSample.Get();
    m_pSample2.Release();
    m_pSample.Release();
    // Both buffers are free; take them until this one comes back.
    IMediaSample* pA = nullptr;
    IMediaSample* pB = nullptr;
    ASSERT_EQ(m_pAlloc->GetBuffer(&pA, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(m_pAlloc->GetBuffer(&pB, nullptr, nullptr, 0), S_OK);
    IMediaSample* pSame = pA == pRaw ? pA : pB;
    ASSERT_EQ(pSame, pRaw);
    EXPECT_EQ(pSame->IsDiscontinuity(), S_FALSE);
    EXPECT_EQ(pSame->IsSyncPoint(), S_FALSE);
    AM_MEDIA_TYPE* pType = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_EQ(pSame->GetMediaType(&pType), S_FALSE);
    EXPECT_EQ(pType, nullptr);
    pA->Release();
    pB->Release();
}

TEST_F(SampleTest, AnswersOnlyItsOwnInterfaces) {
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(m_pSample->QueryInterface(IID_IMemAllocator, &pv), E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);
}

}  // namespace
