// filterbase: CMemAllocator, the memory-backed sample pool.
//
// All buffers of the pool live in one block reserved at commit (aligned to
// the 65,536-byte allocation granularity); slot i starts at i * slot size and
// its sample's data starts after the prefix. Slot size = size + prefix
// rounded up to the alignment. The block survives decommit (Free does
// nothing): a later commit with unchanged properties reuses the same samples
// and memory; changed properties reallocate everything. The destructor frees
// the block and the samples.
// Threads and locking as CBaseAllocator.
#pragma once

#include "filterbase/base_allocator.h"

class CMemAllocator : public CBaseAllocator {
public:
    CMemAllocator(const char* pName, IUnknown* pUnk, HRESULT* phr);
    ~CMemAllocator() override;

    // Rounds the size up so that size + prefix is a multiple of the
    // alignment (in 64 bits; a result above 0x7FFFFFFF is E_OUTOFMEMORY).
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;

    // Creates a pool with one reference in *ppAllocator (E_OUTOFMEMORY if it
    // cannot be created or its construction failed).
    static HRESULT Create(IMemAllocator** ppAllocator);
    // The class creator for CoCreateInstance(CLSID_MemoryAllocator, ...), for
    // code that registers it with CoRegisterInprocClass. An aggregated pool
    // must be asked for IID_IUnknown.
    static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv);

protected:
    void Free() REQUIRES(this) override;
    HRESULT Alloc() override;  // takes the lock again itself
    // Deletes the samples and the block; every sample must be back.
    void ReallyFree();

    BYTE* m_pBuffer GUARDED_BY(this) = nullptr;  // the block; under the allocator lock
};
