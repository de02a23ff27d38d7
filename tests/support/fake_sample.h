// A media sample owned by the test: a buffer of exactly GetSize() bytes (so
// AddressSanitizer sees any read past it), an actual length that may lie,
// optional times and media type. IMediaSample only, so receivers read it
// field by field. The reference count is tracked, never used to delete.
#pragma once

#include <atomic>
#include <vector>

#include "filterbase/media_type.h"
#include "platform/media/media_interfaces.h"

namespace pelora_test {

class CFakeSample : public IMediaSample {
public:
    explicit CFakeSample(LONG cbBuffer = 4)
        : m_Buffer(static_cast<size_t>(cbBuffer > 0 ? cbBuffer : 0)), m_lActual(cbBuffer) {}
    CFakeSample(REFERENCE_TIME tStart, REFERENCE_TIME tStop) : CFakeSample(4) {
        m_bTimes = true;
        m_tStart = tStart;
        m_tStop = tStop;
    }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IMediaSample) {
            *ppv = static_cast<IMediaSample*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return m_cRef.fetch_add(1) + 1; }
    ULONG Release() override { return m_cRef.fetch_sub(1) - 1; }
    LONG RefCount() const { return m_cRef.load(); }

    BYTE* Data() { return m_Buffer.data(); }
    void SetActual(LONG l) { m_lActual = l; }
    void SetType(const CMediaType* pType) { m_pType = pType; }

    HRESULT GetPointer(BYTE** pp) override {
        *pp = m_Buffer.data();
        return S_OK;
    }
    LONG GetSize() override { return static_cast<LONG>(m_Buffer.size()); }
    HRESULT GetTime(REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd) override {
        if (!m_bTimes) return VFW_E_SAMPLE_TIME_NOT_SET;
        *pStart = m_tStart;
        *pEnd = m_tStop;
        return S_OK;
    }
    HRESULT SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT IsSyncPoint() override { return S_OK; }
    HRESULT SetSyncPoint(BOOL) override { return E_NOTIMPL; }
    HRESULT IsPreroll() override { return S_FALSE; }
    HRESULT SetPreroll(BOOL) override { return E_NOTIMPL; }
    LONG GetActualDataLength() override { return m_lActual; }
    HRESULT SetActualDataLength(LONG l) override {
        m_lActual = l;
        return S_OK;
    }
    // A fresh task-allocated copy each time: the caller owns it.
    HRESULT GetMediaType(AM_MEDIA_TYPE** ppmt) override {
        *ppmt = m_pType ? CreateMediaType(m_pType) : nullptr;
        return m_pType ? S_OK : S_FALSE;
    }
    HRESULT SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT IsDiscontinuity() override { return S_FALSE; }
    HRESULT SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
    HRESULT GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
    HRESULT SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

private:
    std::atomic<LONG> m_cRef{0};
    std::vector<BYTE> m_Buffer;
    LONG m_lActual;
    bool m_bTimes = false;
    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = 0;
    const CMediaType* m_pType = nullptr;
};

}  // namespace pelora_test
