// Cost of taking a sample from the pool and giving it back, the per-frame
// overhead of every connection: uncontended, and with a second thread
// waiting for buffers so that each return has to wake it.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "filterbase/mem_allocator.h"

namespace {

IMemAllocator* MakePool(LONG cBuffers) {
    IMemAllocator* pAlloc = nullptr;
    CMemAllocator::Create(&pAlloc);
    ALLOCATOR_PROPERTIES request{cBuffers, 640 * 480 * 3, 16, 0};
    ALLOCATOR_PROPERTIES actual{};
    pAlloc->SetProperties(&request, &actual);
    pAlloc->Commit();
    return pAlloc;
}

void BM_GetBufferRelease(benchmark::State& state) {
    IMemAllocator* pAlloc = MakePool(4);
    for (auto _ : state) {
        IMediaSample* pSample = nullptr;
        pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0);
        pSample->Release();
    }
    pAlloc->Decommit();
    pAlloc->Release();
}
BENCHMARK(BM_GetBufferRelease);

// One buffer shared by two threads: every hand-over goes through a wait.
void BM_HandOverBetweenThreads(benchmark::State& state) {
    IMemAllocator* pAlloc = MakePool(1);
    std::atomic<bool> bStop{false};
    std::thread other([&] {
        while (!bStop) {
            IMediaSample* pSample = nullptr;
            if (pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0) != S_OK) break;
            pSample->Release();
        }
    });
    for (auto _ : state) {
        IMediaSample* pSample = nullptr;
        pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0);
        pSample->Release();
    }
    bStop = true;
    pAlloc->Decommit();  // wakes the other thread if it waits
    other.join();
    pAlloc->Release();
}
BENCHMARK(BM_HandOverBetweenThreads)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
