// Allocator negotiation and pool bookkeeping, single-threaded.
#include <gtest/gtest.h>

#include <cstdint>

#include "filterbase/mem_allocator.h"
#include "platform/com/com_ref.h"
#include "platform/com/com_runtime.h"
#include "platform/media/media_guids.h"
#include "support/live_objects.h"

using pelora_test::LiveObjectsTest;

namespace {

class AllocatorTest : public LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        ASSERT_EQ(CMemAllocator::Create(m_pAlloc.Receive()), S_OK);
    }
    void TearDown() override {
        m_pAlloc.Release();
        LiveObjectsTest::TearDown();
    }
    HRESULT Set(LONG cBuffers, LONG cbBuffer, LONG cbAlign, LONG cbPrefix) {
        ALLOCATOR_PROPERTIES request{cBuffers, cbBuffer, cbAlign, cbPrefix};
        m_Actual = ALLOCATOR_PROPERTIES{-1, -1, -1, -1};
        return m_pAlloc->SetProperties(&request, &m_Actual);
    }
    CComRef<IMemAllocator> m_pAlloc;
    ALLOCATOR_PROPERTIES m_Actual{};
};

TEST_F(AllocatorTest, GrantsSizeRoundedSoThatSizePlusPrefixIsAligned) {
    ASSERT_EQ(Set(3, 1000, 1, 0), S_OK);
    EXPECT_EQ(m_Actual.cBuffers, 3);
    EXPECT_EQ(m_Actual.cbBuffer, 1000);
    ASSERT_EQ(Set(3, 1000, 16, 8), S_OK);
    EXPECT_EQ(m_Actual.cbBuffer, 1000);  // 1008 is a multiple of 16
    ASSERT_EQ(Set(3, 1000, 16, 10), S_OK);
    EXPECT_EQ(m_Actual.cbBuffer, 1014);  // 1010 mod 16 = 2
    EXPECT_EQ(m_Actual.cbAlign, 16);
    EXPECT_EQ(m_Actual.cbPrefix, 10);
    ALLOCATOR_PROPERTIES props{};
    ASSERT_EQ(m_pAlloc->GetProperties(&props), S_OK);
    EXPECT_EQ(props.cbBuffer, 1014);
}

TEST_F(AllocatorTest, AlignmentIsCheckedOnlyAgainstTheGranularity) {
    EXPECT_EQ(Set(3, 1000, 0, 0), VFW_E_BADALIGN);
    EXPECT_EQ(m_Actual.cBuffers, 0);  // the actual record is zeroed even on refusal
    EXPECT_EQ(Set(3, 1000, 3, 0), S_OK);
    EXPECT_EQ(Set(3, 1000, 65536, 0), S_OK);
    EXPECT_EQ(Set(3, 1000, 65537, 0), VFW_E_BADALIGN);
    EXPECT_EQ(Set(3, 1000, -16, 0), VFW_E_BADALIGN);
}

TEST_F(AllocatorTest, RefusesNullRecords) {
    ALLOCATOR_PROPERTIES props{1, 1, 1, 0};
    EXPECT_EQ(m_pAlloc->SetProperties(&props, nullptr), E_POINTER);
    EXPECT_EQ(m_pAlloc->SetProperties(nullptr, &props), E_POINTER);
}

TEST_F(AllocatorTest, RoundingNearTheLimitIsRefusedWithoutOverflow) {
    // 0x7FFFFFF8 + 10 rounded up to 16 passes 32 bits; 0x7FFFFFF0 + 10 does not.
    EXPECT_EQ(Set(1, 0x7FFFFFF8, 16, 10), E_OUTOFMEMORY);
    EXPECT_EQ(Set(1, 0x7FFFFFF0, 16, 10), S_OK);
    EXPECT_EQ(m_Actual.cbBuffer, 0x7FFFFFF6);
    EXPECT_EQ(Set(1, 0x7FFFFFFF, 16, 0x7FFFFFFF), E_OUTOFMEMORY);
    // A negative size is not rounded into a positive grant; commit refuses it.
    ASSERT_EQ(Set(1, -1000, 16, 8), S_OK);
    EXPECT_EQ(m_Actual.cbBuffer, -1000);
    EXPECT_EQ(m_pAlloc->Commit(), VFW_E_SIZENOTSET);
}

TEST_F(AllocatorTest, CommitRefusesUnsetOrOversizedPools) {
    EXPECT_EQ(m_pAlloc->Commit(), VFW_E_SIZENOTSET);  // nothing set
    ASSERT_EQ(Set(0, 1000, 1, 0), S_OK);
    EXPECT_EQ(m_pAlloc->Commit(), VFW_E_SIZENOTSET);
    ASSERT_EQ(Set(3, 0x40000000, 1, 0), S_OK);
    EXPECT_EQ(m_pAlloc->Commit(), E_OUTOFMEMORY);  // 3 GiB in total
    ASSERT_EQ(Set(1, 0x7FFFFFFF, 1, 1), S_OK);
    EXPECT_EQ(m_pAlloc->Commit(), E_OUTOFMEMORY);  // slot passes 32 bits
    // A refused commit leaves the pool decommitted.
    IMediaSample* pSample = nullptr;
    EXPECT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    EXPECT_EQ(pSample, nullptr);
}

TEST_F(AllocatorTest, PropertiesAreFrozenWhileCommittedOrSamplesAreOut) {
    ASSERT_EQ(Set(2, 100, 1, 0), S_OK);
    ASSERT_EQ(m_pAlloc->Commit(), S_OK);
    EXPECT_EQ(Set(2, 200, 1, 0), VFW_E_ALREADY_COMMITTED);
    IMediaSample* pSample = nullptr;
    ASSERT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(m_pAlloc->Decommit(), S_OK);
    EXPECT_EQ(Set(2, 200, 1, 0), VFW_E_BUFFERS_OUTSTANDING);
    pSample->Release();
    EXPECT_EQ(Set(2, 200, 1, 0), S_OK);
}

TEST_F(AllocatorTest, BuffersHonourTheAlignmentAndPrefix) {
    ASSERT_EQ(Set(3, 1000, 4096, 0), S_OK);
    ASSERT_EQ(m_pAlloc->Commit(), S_OK);
    IMediaSample* samples[3] = {};
    for (auto& p : samples) {
        ASSERT_EQ(m_pAlloc->GetBuffer(&p, nullptr, nullptr, 0), S_OK);
        BYTE* pData = nullptr;
        ASSERT_EQ(p->GetPointer(&pData), S_OK);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(pData) % 4096, 0u);
        EXPECT_EQ(p->GetSize(), 4096);   // 1000 rounded up to the alignment
        pData[p->GetSize() - 1] = 0xAB;  // the whole buffer is writable
    }
    for (auto* p : samples) p->Release();
    m_pAlloc->Decommit();

    ASSERT_EQ(Set(1, 100, 16, 16), S_OK);
    ASSERT_EQ(m_pAlloc->Commit(), S_OK);
    IMediaSample* pSample = nullptr;
    ASSERT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);
    BYTE* pData = nullptr;
    pSample->GetPointer(&pData);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pData) % 16, 0u);
    pData[-16] = 1;  // the prefix lies inside the block
    pSample->Release();
    m_pAlloc->Decommit();
}

TEST_F(AllocatorTest, RecommitWithUnchangedPropertiesReusesTheSamples) {
    ASSERT_EQ(Set(1, 100, 1, 0), S_OK);
    ASSERT_EQ(m_pAlloc->Commit(), S_OK);
    IMediaSample* pFirst = nullptr;
    ASSERT_EQ(m_pAlloc->GetBuffer(&pFirst, nullptr, nullptr, 0), S_OK);
    BYTE* pData = nullptr;
    pFirst->GetPointer(&pData);
    pFirst->Release();
    ASSERT_EQ(m_pAlloc->Decommit(), S_OK);
    ASSERT_EQ(m_pAlloc->Commit(), S_OK);
    IMediaSample* pAgain = nullptr;
    ASSERT_EQ(m_pAlloc->GetBuffer(&pAgain, nullptr, nullptr, 0), S_OK);
    BYTE* pDataAgain = nullptr;
    pAgain->GetPointer(&pDataAgain);
    EXPECT_EQ(pAgain, pFirst);
    EXPECT_EQ(pDataAgain, pData);
    pAgain->Release();
    m_pAlloc->Decommit();
}

TEST_F(AllocatorTest, FreeCountFollowsSamplesInAndOut) {
    ASSERT_EQ(Set(2, 10, 1, 0), S_OK);
    CComRef<IMemAllocatorCallbackTemp> callback;
    ASSERT_EQ(m_pAlloc.QueryInto(IID_IMemAllocatorCallbackTemp, &callback), S_OK);
    LONG lFree = -1;
    ASSERT_EQ(callback->GetFreeCount(&lFree), S_OK);
    EXPECT_EQ(lFree, 2);  // agreed but not yet created
    ASSERT_EQ(m_pAlloc->Commit(), S_OK);
    IMediaSample* pSample = nullptr;
    ASSERT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);
    callback->GetFreeCount(&lFree);
    EXPECT_EQ(lFree, 1);
    pSample->Release();
    callback->GetFreeCount(&lFree);
    EXPECT_EQ(lFree, 2);
    EXPECT_EQ(callback->GetFreeCount(nullptr), E_POINTER);
    m_pAlloc->Decommit();
}

TEST_F(LiveObjectsTest, MemoryAllocatorClassCanBeCreatedThroughTheRegistry) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(CoRegisterInprocClass(CLSID_MemoryAllocator, &CMemAllocator::CreateInstance), S_OK);
    IMemAllocator* pAlloc = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMemAllocator, reinterpret_cast<void**>(&pAlloc)),
              S_OK);
    ASSERT_NE(pAlloc, nullptr);
    EXPECT_EQ(CUnknown::ObjectsActive(), 1);
    pAlloc->Release();
    IMediaSample* pWrong = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMediaSample, reinterpret_cast<void**>(&pWrong)),
              E_NOINTERFACE);
    EXPECT_EQ(pWrong, nullptr);
    CoUnregisterInprocClass(CLSID_MemoryAllocator);
    CoUninitialize();
}

}  // namespace
