#include "filterbase/base_allocator.h"

#include <utility>

#include "platform/win/virtual_memory.h"
#include "platform/win/win_sync.h"

CBaseAllocator::CBaseAllocator(const char* pName, IUnknown* pUnk, HRESULT* phr, BOOL bEvent,
                               BOOL fEnableReleaseCallback)
    : CUnknown(pName, pUnk), m_fEnableReleaseCallback(fEnableReleaseCallback) {
    if (bEvent) {
        m_hSem = CreateSemaphore(nullptr, 0, 0x7FFFFFFF, nullptr);
        if (!m_hSem && phr) *phr = E_OUTOFMEMORY;
    }
}

CBaseAllocator::~CBaseAllocator() {
    if (m_hSem) CloseHandle(m_hSem);
    m_pNotify.Release();
}

HRESULT CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMemAllocator) {
        return GetInterface(static_cast<IMemAllocator*>(this), ppv);
    }
    if (riid == IID_IMemAllocatorCallbackTemp && m_fEnableReleaseCallback) {
        return GetInterface(static_cast<IMemAllocatorCallbackTemp*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                      ALLOCATOR_PROPERTIES* pActual) {
    return StoreProperties(pRequest, pActual, false);
}

HRESULT CBaseAllocator::StoreProperties(const ALLOCATOR_PROPERTIES* pRequest,
                                        ALLOCATOR_PROPERTIES* pActual, bool bRoundSize) {
    if (!pActual || !pRequest) return E_POINTER;
    *pActual = ALLOCATOR_PROPERTIES{};
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    // Alignment 0 is refused; beyond that only the bits against the
    // granularity are checked, so any alignment up to it passes (even 3).
    if (pRequest->cbAlign == 0 ||
        ((static_cast<DWORD>(pRequest->cbAlign) - 1) & si.dwAllocationGranularity) != 0) {
        return VFW_E_BADALIGN;
    }
    CAutoLock lock(this);
    if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
    if (m_lFree.GetCount() < m_lAllocated) return VFW_E_BUFFERS_OUTSTANDING;

    LONG lSize = pRequest->cbBuffer;
    if (bRoundSize && pRequest->cbBuffer >= 0 && pRequest->cbPrefix >= 0 && pRequest->cbAlign > 1) {
        // In 64 bits: size + prefix and the rounded size may pass 32 bits.
        const int64_t llAlign = pRequest->cbAlign;
        const int64_t llRemainder =
            (int64_t{pRequest->cbBuffer} + int64_t{pRequest->cbPrefix}) % llAlign;
        if (llRemainder != 0) {
            const int64_t llSize = int64_t{pRequest->cbBuffer} + (llAlign - llRemainder);
            if (llSize > 0x7FFFFFFF) return E_OUTOFMEMORY;
            lSize = static_cast<LONG>(llSize);
        }
    }
    m_lCount = pRequest->cBuffers;
    m_lSize = lSize;
    m_lAlignment = pRequest->cbAlign;
    m_lPrefix = pRequest->cbPrefix;
    m_bChanged = TRUE;
    pActual->cBuffers = m_lCount;
    pActual->cbBuffer = m_lSize;
    pActual->cbAlign = m_lAlignment;
    pActual->cbPrefix = m_lPrefix;
    return S_OK;
}

HRESULT CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps) {
    if (!pProps) return E_POINTER;
    CAutoLock lock(this);
    pProps->cBuffers = m_lCount;
    pProps->cbBuffer = m_lSize;
    pProps->cbAlign = m_lAlignment;
    pProps->cbPrefix = m_lPrefix;
    return S_OK;
}

HRESULT CBaseAllocator::Alloc() {
    if (m_lCount <= 0 || m_lSize <= 0 || m_lAlignment <= 0) return VFW_E_SIZENOTSET;
    return m_bChanged ? S_OK : S_FALSE;
}

HRESULT CBaseAllocator::Commit() {
    CAutoLock lock(this);
    if (m_bCommitted) return S_OK;
    m_bCommitted = TRUE;
    if (m_bDecommitInProgress) {
        // The samples still exist and the commit reference is still held.
        m_bDecommitInProgress = FALSE;
        return S_OK;
    }
    const HRESULT hr = Alloc();
    if (FAILED(hr)) {
        m_bCommitted = FALSE;
        return hr;
    }
    // The commit reference, dropped when the decommit completes.
    AddRef();
    return S_OK;
}

HRESULT CBaseAllocator::Decommit() {
    bool bRelease = false;
    {
        CAutoLock lock(this);
        if (m_bCommitted || m_bDecommitInProgress) {
            m_bCommitted = FALSE;
            if (m_lFree.GetCount() < m_lAllocated) {
                m_bDecommitInProgress = TRUE;
            } else {
                m_bDecommitInProgress = FALSE;
                Free();
                bRelease = true;
            }
            // Blocked GetBuffer calls wake and fail with VFW_E_NOT_COMMITTED.
            NotifySample();
        }
    }
    if (bRelease) Release();
    return S_OK;
}

void CBaseAllocator::NotifySample() {
    if (m_lWaiting != 0 && m_hSem) {
        ReleaseSemaphore(m_hSem, m_lWaiting, nullptr);
        m_lWaiting = 0;
    }
}

HRESULT CBaseAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME*, REFERENCE_TIME*,
                                  DWORD dwFlags) {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = nullptr;
    CMediaSample* pSample = nullptr;
    for (;;) {
        {
            CAutoLock lock(this);
            if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
            pSample = m_lFree.RemoveHead();
            if (!pSample) {
                // Without a semaphore there is nothing to wait on.
                if ((dwFlags & AM_GBF_NOWAIT) || !m_hSem) return VFW_E_TIMEOUT;
                ++m_lWaiting;
            }
        }
        if (pSample) break;
        // Woken by a returned sample or a decommit; infinite by design, since
        // Decommit (stop) always wakes every registered waiter.
        WaitForSingleObject(m_hSem, INFINITE);
    }
    pSample->m_cRef = 1;
    *ppBuffer = pSample;
    return S_OK;
}

HRESULT CBaseAllocator::ReleaseBuffer(IMediaSample* pBuffer) {
    if (!pBuffer) return E_POINTER;
    bool bRelease = false;
    IMemAllocatorNotifyCallbackTemp* pNotify = nullptr;
    {
        CAutoLock lock(this);
        m_lFree.Add(static_cast<CMediaSample*>(pBuffer));
        NotifySample();
        if (m_bDecommitInProgress && m_lFree.GetCount() == m_lAllocated) {
            Free();
            m_bDecommitInProgress = FALSE;
            bRelease = true;
        }
        pNotify = m_pNotify.Get();
        if (pNotify) pNotify->AddRef();
    }
    if (pNotify) {
        pNotify->NotifyRelease();
        pNotify->Release();
    }
    // May delete this allocator: nothing is touched afterwards.
    if (bRelease) Release();
    return S_OK;
}

HRESULT CBaseAllocator::SetNotify(IMemAllocatorNotifyCallbackTemp* pNotify) {
    CComRef<IMemAllocatorNotifyCallbackTemp> pOld;
    {
        CAutoLock lock(this);
        pOld = std::move(m_pNotify);
        m_pNotify.Reset(pNotify, AddRefTag);
    }
    // Released outside the lock: its release may call back into us.
    pOld.Release();
    return S_OK;
}

HRESULT CBaseAllocator::GetFreeCount(LONG* plBuffersFree) {
    if (!plBuffersFree) return E_POINTER;
    CAutoLock lock(this);
    *plBuffersFree = m_lCount - m_lAllocated + m_lFree.GetCount();
    return S_OK;
}
