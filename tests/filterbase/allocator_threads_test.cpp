// The sample pool under several threads: waiting, waking, decommit while
// samples are out, and the release callback swapped during releases.
// Every blocking step runs on a helper thread and is bounded by a watchdog;
// on a failure the pool is decommitted so that the helper can finish.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "filterbase/mem_allocator.h"
#include "platform/com/com_ref.h"
#include "support/live_objects.h"
#include "support/watchdog.h"

using pelora_test::kWatchdog;
using pelora_test::LiveObjectsTest;
using pelora_test::WaitUntil;

namespace {

// Exposes the waiter count and the reference count for the bookkeeping checks.
class CProbeAllocator : public CMemAllocator {
public:
    CProbeAllocator(HRESULT* phr) : CMemAllocator("CProbeAllocator", nullptr, phr) {}
    LONG Waiting() {
        CAutoLock lock(this);
        return m_lWaiting;
    }
    LONG RefCount() const { return m_cRef.load(); }
};

class PoolThreadsTest : public LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        HRESULT hr = S_OK;
        m_pProbe = new CProbeAllocator(&hr);
        ASSERT_EQ(hr, S_OK);
        m_pAlloc.Reset(static_cast<IMemAllocator*>(m_pProbe), AddRefTag);
    }
    void TearDown() override {
        if (m_pAlloc) m_pAlloc->Decommit();
        m_pAlloc.Release();
        LiveObjectsTest::TearDown();
    }
    void Commit(LONG cBuffers) {
        ALLOCATOR_PROPERTIES request{cBuffers, 64, 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        ASSERT_EQ(m_pAlloc->SetProperties(&request, &actual), S_OK);
        ASSERT_EQ(m_pAlloc->Commit(), S_OK);
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

    // Waits (bounded) for a helper's GetBuffer to finish; on a timeout the
    // pool is decommitted so that the helper returns and the test can fail.
    template <class F>
    bool ReadySoon(F& future) {
        if (future.wait_for(kWatchdog) == std::future_status::ready) return true;
        m_pAlloc->Decommit();
        return false;
    }

    // Waits (bounded) until one helper is registered as a waiter.
    bool WaiterRegistered() {
        if (WaitUntil([&] { return m_pProbe->Waiting() == 1; })) return true;
        m_pAlloc->Decommit();
        return false;
    }

    CProbeAllocator* m_pProbe = nullptr;
    CComRef<IMemAllocator> m_pAlloc;
};

TEST_F(PoolThreadsTest, NoWaitOnEmptyPoolFailsAtOnceAndLeavesNoPhantomWaiter) {
    Commit(1);
    IMediaSample* pHeld = nullptr;
    ASSERT_EQ(m_pAlloc->GetBuffer(&pHeld, nullptr, nullptr, 0), S_OK);
    for (int i = 0; i < 10; ++i) {
        IMediaSample* pSample = reinterpret_cast<IMediaSample*>(1);
        EXPECT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
        EXPECT_EQ(pSample, nullptr);
    }
    EXPECT_EQ(m_pProbe->Waiting(), 0);

    // A blocking caller still blocks, and gets exactly the returned sample.
    auto waiter = GetBufferAsync();
    ASSERT_TRUE(WaiterRegistered());
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(30)), std::future_status::timeout);
    pHeld->Release();
    ASSERT_TRUE(ReadySoon(waiter));
    auto [hr, pSample] = waiter.get();
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(pSample, pHeld);
    EXPECT_EQ(m_pProbe->Waiting(), 0);

    // No surplus wake-up is left over: the next waiter blocks again.
    auto second = GetBufferAsync();
    ASSERT_TRUE(WaiterRegistered());
    EXPECT_EQ(second.wait_for(std::chrono::milliseconds(30)), std::future_status::timeout);
    if (pSample) pSample->Release();
    ASSERT_TRUE(ReadySoon(second));
    auto [hr2, pSample2] = second.get();
    EXPECT_EQ(hr2, S_OK);
    if (pSample2) pSample2->Release();
}

TEST_F(PoolThreadsTest, DecommitWakesBlockedGetBufferWithNotCommitted) {
    Commit(1);
    IMediaSample* pHeld = nullptr;
    ASSERT_EQ(m_pAlloc->GetBuffer(&pHeld, nullptr, nullptr, 0), S_OK);
    auto waiter = GetBufferAsync();
    ASSERT_TRUE(WaiterRegistered());
    ASSERT_EQ(m_pAlloc->Decommit(), S_OK);
    ASSERT_TRUE(ReadySoon(waiter));
    auto [hr, pSample] = waiter.get();
    EXPECT_EQ(hr, VFW_E_NOT_COMMITTED);
    EXPECT_EQ(pSample, nullptr);
    pHeld->Release();
}

TEST_F(PoolThreadsTest, DecommitWithSamplesOutCompletesAtTheLastRelease) {
    Commit(2);
    const LONG lRefBefore = m_pProbe->RefCount();  // includes the commit reference
    IMediaSample* pA = nullptr;
    IMediaSample* pB = nullptr;
    ASSERT_EQ(m_pAlloc->GetBuffer(&pA, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(m_pAlloc->GetBuffer(&pB, nullptr, nullptr, 0), S_OK);
    BYTE* pDataA = nullptr;
    pA->GetPointer(&pDataA);
    ASSERT_EQ(m_pAlloc->Decommit(), S_OK);
    EXPECT_EQ(m_pProbe->RefCount(), lRefBefore);
    std::thread([pA] { pA->Release(); }).join();
    EXPECT_EQ(m_pProbe->RefCount(), lRefBefore);
    std::thread([pB] { pB->Release(); }).join();
    EXPECT_EQ(m_pProbe->RefCount(), lRefBefore - 1);  // commit reference dropped
    // The memory stays: a new commit hands out the same buffers.
    ASSERT_EQ(m_pAlloc->Commit(), S_OK);
    IMediaSample* pAgain = nullptr;
    ASSERT_EQ(m_pAlloc->GetBuffer(&pAgain, nullptr, nullptr, 0), S_OK);
    BYTE* pData = nullptr;
    pAgain->GetPointer(&pData);
    EXPECT_TRUE(pAgain == pA || pAgain == pB);
    pAgain->Release();
    EXPECT_NE(pDataA, nullptr);
}

TEST_F(PoolThreadsTest, CommitDuringDecommitInProgressKeepsTheSamples) {
    Commit(1);
    IMediaSample* pSample = nullptr;
    ASSERT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(m_pAlloc->Decommit(), S_OK);
    ASSERT_EQ(m_pAlloc->Commit(), S_OK);  // cancels the pending decommit
    pSample->Release();
    IMediaSample* pAgain = nullptr;
    ASSERT_EQ(m_pAlloc->GetBuffer(&pAgain, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    EXPECT_EQ(pAgain, pSample);
    pAgain->Release();
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
    pAlloc->Decommit();
    pAlloc->Release();  // the commit reference keeps it alive
    EXPECT_EQ(CUnknown::ObjectsActive(), 1);
    EXPECT_EQ(pA->Release(), 0u);
    EXPECT_EQ(CUnknown::ObjectsActive(), 1);
    // Deletes the allocator and both samples from inside this Release.
    EXPECT_EQ(pB->Release(), 0u);
    EXPECT_EQ(CUnknown::ObjectsActive(), 0);
}

// A release callback that notices calls after its death.
class CNotifyProbe : public IMemAllocatorNotifyCallbackTemp {
public:
    static inline std::atomic<int> s_cCallsOnDead{0};
    static inline std::atomic<int> s_cCalls{0};
    HRESULT QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++m_cRef); }
    ULONG Release() override {
        const LONG c = --m_cRef;
        if (c == 0) {
            m_dwMagic = 0;
            delete this;
        }
        return static_cast<ULONG>(c);
    }
    HRESULT NotifyRelease() override {
        if (m_dwMagic != kAlive) ++s_cCallsOnDead;
        ++s_cCalls;
        return S_OK;
    }

private:
    static constexpr DWORD kAlive = 0x600DF00D;
    std::atomic<LONG> m_cRef{1};
    std::atomic<DWORD> m_dwMagic{kAlive};
};

TEST_F(PoolThreadsTest, NotifyCallbackSwappedDuringReleasesIsNeverUsedAfterRelease) {
    Commit(4);
    CComRef<IMemAllocatorCallbackTemp> callback;
    ASSERT_EQ(m_pAlloc.QueryInto(IID_IMemAllocatorCallbackTemp, &callback), S_OK);
    CNotifyProbe::s_cCallsOnDead = 0;
    CNotifyProbe::s_cCalls = 0;
    std::atomic<bool> bStop{false};
    std::vector<std::thread> streamers;
    for (int t = 0; t < 2; ++t) {
        streamers.emplace_back([&] {
            while (!bStop) {
                IMediaSample* pSample = nullptr;
                if (m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, AM_GBF_NOWAIT) == S_OK) {
                    pSample->Release();
                }
            }
        });
    }
    for (int i = 0; i < 5000; ++i) {
        auto* pNotify = new CNotifyProbe;
        callback->SetNotify(pNotify);
        pNotify->Release();  // the pool holds the only reference now
    }
    EXPECT_TRUE(WaitUntil([] { return CNotifyProbe::s_cCalls.load() > 0; }));
    bStop = true;
    for (auto& t : streamers) t.join();
    callback->SetNotify(nullptr);
    EXPECT_EQ(CNotifyProbe::s_cCallsOnDead.load(), 0);
    LONG lFree = 0;
    callback->GetFreeCount(&lFree);
    EXPECT_EQ(lFree, 4);
}

TEST_F(PoolThreadsTest, ManyThreadsSharingASmallPoolLoseNoSampleAndNoWakeUp) {
    Commit(2);
    std::atomic<int> cDone{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                IMediaSample* pSample = nullptr;
                if (m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0) != S_OK) return;
                pSample->Release();
            }
            ++cDone;
        });
    }
    const bool bFinished = WaitUntil([&] { return cDone.load() == 4; }, std::chrono::seconds(20));
    if (!bFinished) m_pAlloc->Decommit();  // free any stuck thread before failing
    for (auto& t : threads) t.join();
    EXPECT_TRUE(bFinished);
    EXPECT_EQ(m_pProbe->Waiting(), 0);
}

}  // namespace
