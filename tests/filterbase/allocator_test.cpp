// The memory allocator and its samples. Blocking steps run on a helper
// thread; on a failure the pool is decommitted so that the helper can finish.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <future>
#include <limits>

#include "filterbase/media_type.h"
#include "filterbase/mem_allocator.h"
#include "platform/com/com_ref.h"
#include "platform/media/media_guids.h"
#include "support/live_objects.h"
#include "support/watchdog.h"

using namespace pelora_test;

namespace {

// Exposes the waiter count for the bookkeeping checks.
class CProbeAllocator : public CMemAllocator {
public:
    explicit CProbeAllocator(HRESULT* phr) : CMemAllocator("CProbeAllocator", nullptr, phr) {}
    LONG Waiting() {
        CAutoLock lock(this);
        return m_lWaiting;
    }
};

class AllocatorTest : public LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        HRESULT hr = S_OK;
        m_pProbe = new CProbeAllocator(&hr);
        ASSERT_EQ(hr, S_OK);
        m_pAlloc.Reset(static_cast<IMemAllocator*>(m_pProbe), AddRefTag);
    }
    void TearDown() override {
        m_pAlloc->Decommit();
        m_pAlloc.Release();
        LiveObjectsTest::TearDown();
    }
    HRESULT Set(LONG cBuffers, LONG cbBuffer, LONG cbAlign = 1, LONG cbPrefix = 0) {
        ALLOCATOR_PROPERTIES request{cBuffers, cbBuffer, cbAlign, cbPrefix};
        m_Actual = ALLOCATOR_PROPERTIES{-1, -1, -1, -1};
        return m_pAlloc->SetProperties(&request, &m_Actual);
    }
    void Commit(LONG cBuffers, LONG cbBuffer = 64) {
        ASSERT_EQ(Set(cBuffers, cbBuffer), S_OK);
        ASSERT_EQ(m_pAlloc->Commit(), S_OK);
    }
    IMediaSample* Get(DWORD dwFlags = 0) {
        IMediaSample* pSample = nullptr;
        EXPECT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, dwFlags), S_OK);
        return pSample;
    }
    // Starts a blocking GetBuffer on a helper thread.
    std::future<std::pair<HRESULT, IMediaSample*>> GetBufferAsync() {
        IMemAllocator* pAlloc = m_pAlloc.Get();
        return std::async(std::launch::async, [pAlloc] {
            IMediaSample* pSample = nullptr;
            const HRESULT hr = pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0);
            return std::make_pair(hr, pSample);
        });
    }
    // Waits (bounded) for a helper; on a time-out decommits so that it returns.
    template <class F>
    bool ReadySoon(F& future) {
        if (future.wait_for(kWatchdog) == std::future_status::ready) return true;
        m_pAlloc->Decommit();
        return false;
    }
    bool WaiterRegistered() {
        if (WaitUntil([&] { return m_pProbe->Waiting() == 1; })) return true;
        m_pAlloc->Decommit();
        return false;
    }

    CProbeAllocator* m_pProbe = nullptr;
    CComRef<IMemAllocator> m_pAlloc;
    ALLOCATOR_PROPERTIES m_Actual{};
};

TEST_F(AllocatorTest, SetPropertiesRoundsAlignsAndRefusesWithoutOverflow) {
    struct Case {
        LONG cbBuffer, cbAlign, cbPrefix;
        HRESULT hr;
        LONG granted;
    } cases[] = {
        {1000, 16, 8, S_OK, 1000},  // 1008 is a multiple of 16
        {1000, 16, 10, S_OK, 1014},
        {1000, 3, 0, S_OK, 1002},  // checked only against the granularity
        {1000, 65536, 0, S_OK, 65536},
        {1000, 0, 0, VFW_E_BADALIGN, 0},
        {0x7FFFFFF0, 16, 10, S_OK, 0x7FFFFFF6},
        {0x7FFFFFF8, 16, 10, E_OUTOFMEMORY, 0},  // rounded past 32 bits
        {-1000, 16, 8, S_OK, -1000},             // not rounded into a positive grant
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cbBuffer << " align " << c.cbAlign);
        EXPECT_EQ(Set(3, c.cbBuffer, c.cbAlign, c.cbPrefix), c.hr);
        EXPECT_EQ(m_Actual.cbBuffer, c.granted);
        if (c.hr == S_OK) {
            EXPECT_EQ(m_Actual.cBuffers, 3);
        }
    }
    EXPECT_EQ(m_pAlloc->SetProperties(nullptr, &m_Actual), E_POINTER);
}

TEST_F(AllocatorTest, CommitAndPropertyChangesAreRefusedInTheWrongState) {
    EXPECT_EQ(m_pAlloc->Commit(), VFW_E_SIZENOTSET);  // nothing set
    ASSERT_EQ(Set(1, -1000, 16, 8), S_OK);
    EXPECT_EQ(m_pAlloc->Commit(), VFW_E_SIZENOTSET);
    ASSERT_EQ(Set(3, 0x40000000), S_OK);
    EXPECT_EQ(m_pAlloc->Commit(), E_OUTOFMEMORY);  // 3 GiB in total
    ASSERT_EQ(Set(1, 0x7FFFFFFF, 1, 1), S_OK);
    EXPECT_EQ(m_pAlloc->Commit(), E_OUTOFMEMORY);  // slot passes 32 bits
    IMediaSample* pNone = nullptr;
    EXPECT_EQ(m_pAlloc->GetBuffer(&pNone, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);

    Commit(2, 100);
    EXPECT_EQ(Set(2, 200), VFW_E_ALREADY_COMMITTED);
    IMediaSample* pSample = Get();
    ASSERT_EQ(m_pAlloc->Decommit(), S_OK);
    EXPECT_EQ(Set(2, 200), VFW_E_BUFFERS_OUTSTANDING);
    pSample->Release();
    EXPECT_EQ(Set(2, 200), S_OK);
}

TEST_F(AllocatorTest, NoWaitLeavesNoPhantomWaiterAndBlockedGetBufferWakesOnReleaseOrDecommit) {
    Commit(1);
    IMediaSample* pHeld = Get();
    for (int i = 0; i < 10; ++i) {
        IMediaSample* pSample = reinterpret_cast<IMediaSample*>(1);
        EXPECT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
        EXPECT_EQ(pSample, nullptr);
    }
    EXPECT_EQ(m_pProbe->Waiting(), 0);
    // Twice a blocking caller waits for a release, gets exactly that sample
    // and leaves no surplus wake-up; the third is woken by the decommit.
    for (int round = 0; round < 3; ++round) {
        auto waiter = GetBufferAsync();
        ASSERT_TRUE(WaiterRegistered());
        EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(30)), std::future_status::timeout);
        if (round < 2) {
            pHeld->Release();
        } else {
            ASSERT_EQ(m_pAlloc->Decommit(), S_OK);
        }
        ASSERT_TRUE(ReadySoon(waiter));
        auto [hr, pSample] = waiter.get();
        if (round < 2) {
            ASSERT_EQ(hr, S_OK);
            EXPECT_EQ(pSample, pHeld);
            pHeld = pSample;
        } else {
            EXPECT_EQ(hr, VFW_E_NOT_COMMITTED);
            EXPECT_EQ(pSample, nullptr);
        }
    }
    pHeld->Release();
}

TEST(PoolLifetime, LastExternalReferenceBeforeLastSampleFreesEverythingOnce) {
    ASSERT_EQ(CUnknown::ObjectsActive(), 0);
    IMemAllocator* pAlloc = nullptr;
    ASSERT_EQ(CMemAllocator::Create(&pAlloc), S_OK);
    ALLOCATOR_PROPERTIES request{2, 64, 1, 0};
    ALLOCATOR_PROPERTIES actual{};
    ASSERT_EQ(pAlloc->SetProperties(&request, &actual), S_OK);
    ASSERT_EQ(pAlloc->Commit(), S_OK);
    IMediaSample* pA = nullptr;
    IMediaSample* pB = nullptr;
    ASSERT_EQ(pAlloc->GetBuffer(&pA, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(pAlloc->GetBuffer(&pB, nullptr, nullptr, 0), S_OK);
    pAlloc->Decommit();  // completes at the last release
    pAlloc->Release();   // the commit reference keeps it alive
    EXPECT_EQ(std::async(std::launch::async, [pA] { return pA->Release(); }).get(), 0u);
    EXPECT_EQ(CUnknown::ObjectsActive(), 1);
    // Deletes the allocator and both samples from inside this Release.
    EXPECT_EQ(pB->Release(), 0u);
    EXPECT_EQ(CUnknown::ObjectsActive(), 0);
}

constexpr LONG kSize = 100;  // of the samples' buffers

TEST_F(AllocatorTest, SampleTimesAndLengthsStayWithinTheirBounds) {
    Commit(1, kSize);
    CComRef<IMediaSample> pSample(Get(), AdoptTag);
    REFERENCE_TIME tStart = 0, tStop = 0, t = 5000;
    ASSERT_EQ(pSample->SetTime(&t, nullptr), S_OK);
    EXPECT_EQ(pSample->GetTime(&tStart, &tStop), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(tStop, 5001);
    t = std::numeric_limits<REFERENCE_TIME>::max();
    pSample->SetTime(&t, nullptr);
    EXPECT_EQ(pSample->GetTime(&tStart, &tStop), VFW_S_NO_STOP_TIME);
    EXPECT_GE(tStop, tStart);  // start + 1 does not overflow at the top

    // Media time differences beyond 32 bits (300 s) survive.
    LONGLONG llStart = 1000, llStop = 1000 + 3'000'000'000LL;
    EXPECT_EQ(pSample->GetMediaTime(&llStart, &llStop), VFW_E_MEDIA_TIME_NOT_SET);
    ASSERT_EQ(pSample->SetMediaTime(&llStart, &llStop), S_OK);
    LONGLONG a = 0, b = 0;
    ASSERT_EQ(pSample->GetMediaTime(&a, &b), S_OK);
    EXPECT_EQ(b - a, 3'000'000'000LL);

    EXPECT_EQ(pSample->SetActualDataLength(kSize), S_OK);
    EXPECT_EQ(pSample->SetActualDataLength(kSize + 1), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(pSample->SetActualDataLength(-1), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(pSample->GetActualDataLength(), kSize);
}

// The receive side reads a sample's type and times through this record; a
// sample back in the pool must not bring them into its next use.
TEST_F(AllocatorTest, SamplePropertiesRoundTripAndAreForgottenInThePool) {
    Commit(1, kSize);
    IMediaSample* pSample = Get();
    CComRef<IMediaSample2> pSample2;
    ASSERT_EQ(
        pSample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(pSample2.Receive())),
        S_OK);
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    REFERENCE_TIME tStart = 100, tStop = 200;
    ASSERT_EQ(pSample->SetTime(&tStart, &tStop), S_OK);
    ASSERT_EQ(pSample->SetMediaType(&mt), S_OK);
    ASSERT_EQ(pSample->SetActualDataLength(40), S_OK);
    AM_SAMPLE2_PROPERTIES out;
    std::memset(&out, 0xCC, sizeof(out));
    ASSERT_EQ(pSample2->GetProperties(sizeof(out), reinterpret_cast<BYTE*>(&out)), S_OK);
    EXPECT_EQ(
        out.dwSampleFlags & (AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID | AM_SAMPLE_TYPECHANGED),
        AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID | AM_SAMPLE_TYPECHANGED);
    EXPECT_EQ(out.lActual, 40);
    EXPECT_EQ(out.tStop, 200);
    ASSERT_NE(out.pMediaType, nullptr);
    EXPECT_NE(out.pMediaType, static_cast<AM_MEDIA_TYPE*>(&mt));  // the sample's own copy
    EXPECT_TRUE(CMediaType(*out.pMediaType) == mt);

    pSample2.Release();
    pSample->Release();
    IMediaSample* pSame = Get();  // the pool's only sample again
    ASSERT_EQ(pSame, pSample);
    AM_MEDIA_TYPE* pType = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_EQ(pSame->GetMediaType(&pType), S_FALSE);
    EXPECT_EQ(pType, nullptr);
    EXPECT_EQ(pSame->GetTime(&tStart, &tStop), VFW_E_SAMPLE_TIME_NOT_SET);
    pSame->Release();
}

}  // namespace
