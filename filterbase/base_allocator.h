// filterbase: CBaseAllocator, the sample pool behind IMemAllocator (with the
// release callback of IMemAllocatorCallbackTemp).
//
// Contract:
// - Upstream (the output pin's streaming thread) pulls samples with
//   GetBuffer, fills them and pushes them downstream; whoever holds the last
//   reference of a sample (any thread) returns it with its Release, which
//   calls ReleaseBuffer. The graph thread negotiates (SetProperties), commits
//   and decommits.
// - The allocator is its own lock (it is a CCritSec) and guards the free
//   list, the counts, the flags and m_pNotify with it. Waiting, the notify
//   callback and the final self-release happen outside the lock.
// - Waiters: a thread that finds the pool empty registers in m_lWaiting
//   before leaving the lock, then waits on m_hSem; every return of a sample
//   and every decommit releases the semaphore by the number registered and
//   resets it. So, whenever the lock is free, registered waiters plus the
//   semaphore count equal the threads about to wait, and no wake-up is lost.
//   A no-wait GetBuffer never registers.
// - A committed allocator holds one reference on itself; it is dropped when
//   the decommit completes (at once, or at the return of the last sample
//   that was out). A decommit wakes every waiter with VFW_E_NOT_COMMITTED.
// - Properties change only while decommitted with every sample back.
// - The notify callback is called once per returned sample, after the lock,
//   with a reference taken under the lock (so SetNotify on another thread
//   cannot free it during the call). It runs on whichever thread releases
//   the sample, under that thread's locks (a renderer releases its pending
//   sample with both of its locks held): it must use leaf locks only.
#pragma once

#include "filterbase/media_sample.h"
#include "filterbase/unknown.h"
#include "platform/com/com_ref.h"
#include "platform/media/media_interfaces.h"
#include "platform/win/crit_sec.h"

class CBaseAllocator : public CUnknown, public IMemAllocatorCallbackTemp, public CCritSec {
public:
    // bEvent creates the semaphore that GetBuffer waits on (E_OUTOFMEMORY in
    // phr if it cannot be created); fEnableReleaseCallback exposes
    // IMemAllocatorCallbackTemp.
    CBaseAllocator(const char* pName, IUnknown* pUnk, HRESULT* phr, BOOL bEvent = TRUE,
                   BOOL fEnableReleaseCallback = FALSE);
    ~CBaseAllocator() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMemAllocator. The base SetProperties stores the request without
    // rounding the size.
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT Commit() override;
    HRESULT Decommit() override;
    HRESULT GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                      DWORD dwFlags) override;
    HRESULT ReleaseBuffer(IMediaSample* pBuffer) override;

    // IMemAllocatorCallbackTemp
    HRESULT SetNotify(IMemAllocatorNotifyCallbackTemp* pNotify) override;
    HRESULT GetFreeCount(LONG* plBuffersFree) override;

protected:
    // Releases the memory once every sample is back (called under the lock).
    virtual void Free() REQUIRES(this) = 0;
    // Creates the samples at commit (called under the lock). The base checks
    // the properties: VFW_E_SIZENOTSET when unset, S_FALSE when nothing
    // changed since the last allocation (keep the samples), S_OK otherwise.
    virtual HRESULT Alloc() REQUIRES(this);

    // The checks and storage of SetProperties; bRoundSize rounds the size up
    // so that size + prefix is a multiple of the alignment.
    HRESULT StoreProperties(const ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual,
                            bool bRoundSize);

    // The free list, linked through CMediaSample::m_pNext; under the lock.
    class CSampleList {
    public:
        CMediaSample* Head() const { return m_List; }
        int GetCount() const { return m_nOnList; }
        void Add(CMediaSample* pSample) {
            pSample->m_pNext = m_List;
            m_List = pSample;
            ++m_nOnList;
        }
        CMediaSample* RemoveHead() {
            CMediaSample* pSample = m_List;
            if (pSample) {
                m_List = pSample->m_pNext;
                pSample->m_pNext = nullptr;
                --m_nOnList;
            }
            return pSample;
        }

    private:
        CMediaSample* m_List = nullptr;
        int m_nOnList = 0;
    };

    // All guarded by the allocator's own lock (this CCritSec).
    CSampleList m_lFree GUARDED_BY(this);
    HANDLE m_hSem = nullptr;
    LONG m_lWaiting GUARDED_BY(this) = 0;
    LONG m_lCount GUARDED_BY(this) = 0;
    LONG m_lAllocated GUARDED_BY(this) = 0;
    LONG m_lSize GUARDED_BY(this) = 0;
    LONG m_lAlignment GUARDED_BY(this) = 0;
    LONG m_lPrefix GUARDED_BY(this) = 0;
    BOOL m_bChanged GUARDED_BY(this) = FALSE;
    BOOL m_bCommitted GUARDED_BY(this) = FALSE;
    BOOL m_bDecommitInProgress GUARDED_BY(this) = FALSE;
    CComRef<IMemAllocatorNotifyCallbackTemp> m_pNotify GUARDED_BY(this);
    const BOOL m_fEnableReleaseCallback;

private:
    // Wakes every registered waiter; under the lock.
    void NotifySample() REQUIRES(this);
};
