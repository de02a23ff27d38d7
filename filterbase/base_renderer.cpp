#include "filterbase/base_renderer.h"

#include <cassert>
#include <cwchar>
#include <new>

#include "filterbase/renderer_input_pin.h"
#include "platform/media/media_guids.h"
#include "platform/win/int_math.h"
#include "platform/win/mm_timer.h"
#include "platform/win/time_services.h"

namespace {

// An end of stream closer than this is notified at once instead of by timer.
constexpr LONGLONG kMinTimerDelayMs = 50;
// Longest delay armed at once; the callback re-arms for the rest.
constexpr LONGLONG kMaxTimerDelayMs = 0x7FFFFFFF;
// One slice of the render wait; the wait repeats while nothing happens.
constexpr DWORD kRenderWaitSliceMs = 10000;

}  // namespace

CBaseRenderer::CBaseRenderer(REFCLSID RenderClass, const char* pName, IUnknown* pUnk, HRESULT* phr)
    : CBaseFilter(pName, pUnk, &m_InterfaceLock, RenderClass, phr) {
    if (!m_RenderEvent.IsValid() || !m_ThreadSignal.IsValid() || !m_evComplete.IsValid()) {
        if (phr && SUCCEEDED(*phr)) {
            *phr = E_OUTOFMEMORY;
        }
    }
}

CBaseRenderer::~CBaseRenderer() {
    // The most-derived destructor has normally done this already; repeating
    // it is harmless and covers classes that derive from us directly.
    ShutdownTimerAndAdvise();
    StopStreaming();
    ClearPendingSample();

    IQualityControl* pSink = nullptr;
    {
        CAutoLock lock(&m_RendererLock);
        pSink = m_pQSink;
        m_pQSink = nullptr;
    }
    if (pSink) {
        pSink->Release();
    }
    // The position object is aggregated by us: its lifetime is ours.
    delete m_pPosition.exchange(nullptr);
    delete m_pInputPin.exchange(nullptr);
}

HRESULT CBaseRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaPosition || riid == IID_IMediaSeeking) {
        return GetMediaPositionInterface(riid, ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

// ---------------------------------------------------------------------------
// Pins and the position object

int CBaseRenderer::GetPinCount() {
    if (!m_pInputPin.load()) {
        GetPin(0);
    }
    return m_pInputPin.load() ? 1 : 0;
}

CBasePin* CBaseRenderer::GetPin(int n) {
    CAutoLock lock(&m_ObjectCreationLock);
    if (n != 0) return nullptr;
    if (!m_pInputPin.load()) {
        HRESULT hr = S_OK;
        auto* pPin = new (std::nothrow) CRendererInputPin(this, &hr, L"In");
        if (pPin && FAILED(hr)) {
            delete pPin;
            pPin = nullptr;
        }
        m_pInputPin = pPin;
    }
    return m_pInputPin.load();
}

HRESULT CBaseRenderer::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (!ppPin) return E_POINTER;
    *ppPin = nullptr;
    if (!Id) return E_POINTER;
    if (std::wcscmp(Id, L"In") != 0) return VFW_E_NOT_FOUND;
    CBasePin* pPin = GetPin(0);
    if (!pPin) return VFW_E_NOT_FOUND;
    *ppPin = pPin;
    pPin->AddRef();
    return S_OK;
}

HRESULT CBaseRenderer::GetMediaPositionInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    CAutoLock lock(&m_ObjectCreationLock);
    if (CRendererPosPassThru* pPos = m_pPosition.load()) {
        return pPos->NonDelegatingQueryInterface(riid, ppv);
    }
    CBasePin* pPin = GetPin(0);
    if (!pPin) return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    auto* pPos =
        new (std::nothrow) CRendererPosPassThru("Renderer CPosPassThru", GetOwner(), &hr, pPin);
    if (!pPos) return E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete pPos;
        return E_NOINTERFACE;
    }
    m_pPosition = pPos;
    return pPos->NonDelegatingQueryInterface(riid, ppv);
}

// ---------------------------------------------------------------------------
// Hooks

void CBaseRenderer::OnReceiveFirstSample(IMediaSample*) {}
void CBaseRenderer::OnRenderStart(IMediaSample*) {}
void CBaseRenderer::OnRenderEnd(IMediaSample*) {}
HRESULT CBaseRenderer::OnStartStreaming() { return S_OK; }
HRESULT CBaseRenderer::OnStopStreaming() { return S_OK; }
void CBaseRenderer::OnWaitStart() {}
void CBaseRenderer::OnWaitEnd() {}
void CBaseRenderer::PrepareRender() {}
HRESULT CBaseRenderer::Active() { return S_OK; }
HRESULT CBaseRenderer::SetMediaType(const CMediaType*) { return S_OK; }

// ---------------------------------------------------------------------------
// State changes (graph thread)

HRESULT CBaseRenderer::Stop() {
    CAutoLock lock(&m_InterfaceLock);
    if (m_State == State_Stopped) return S_OK;
    CRendererInputPin* pPin = m_pInputPin.load();
    if (!pPin || !pPin->IsConnected()) {
        m_State = State_Stopped;
        return S_OK;
    }
    // Deactivates the pin, which clears the pending sample (Inactive).
    CBaseFilter::Stop();
    if (IMemAllocator* pAlloc = pPin->Allocator()) {
        pAlloc->Decommit();
    }
    SetRepaintStatus(TRUE);
    StopStreaming();
    SourceThreadCanWait(FALSE);
    ResetEndOfStream();
    CancelNotification();
    Ready();
    WaitForReceiveToComplete();
    return S_OK;
}

HRESULT CBaseRenderer::Pause() {
    CAutoLock lock(&m_InterfaceLock);
    const FILTER_STATE OldState = m_State;
    if (OldState == State_Paused) return CompleteStateChange(State_Paused);
    CRendererInputPin* pPin = m_pInputPin.load();
    if (!pPin || !pPin->IsConnected()) {
        m_State = State_Paused;
        return CompleteStateChange(State_Paused);
    }
    HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr)) return hr;
    SetRepaintStatus(TRUE);
    StopStreaming();
    SourceThreadCanWait(TRUE);
    CancelNotification();
    ResetEndOfStreamTimer();
    if (IMemAllocator* pAlloc = pPin->Allocator()) {
        hr = pAlloc->Commit();
        if (FAILED(hr)) {
            Ready();
            return hr;
        }
    }
    if (OldState == State_Stopped) {
        ClearPendingSample();
    }
    return CompleteStateChange(OldState);
}

HRESULT CBaseRenderer::Run(REFERENCE_TIME StartTime) {
    CAutoLock lock(&m_InterfaceLock);
    const FILTER_STATE OldState = m_State;
    if (OldState == State_Running) return S_OK;
    CRendererInputPin* pPin = m_pInputPin.load();
    if (!pPin || !pPin->IsConnected()) {
        NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
        m_State = State_Running;
        return S_OK;
    }
    Ready();
    // From stopped this pauses first (our Pause, through the virtual call).
    HRESULT hr = CBaseFilter::Run(StartTime);
    if (FAILED(hr)) return hr;
    SourceThreadCanWait(TRUE);
    SetRepaintStatus(FALSE);
    if (IMemAllocator* pAlloc = pPin->Allocator()) {
        hr = pAlloc->Commit();
        if (FAILED(hr)) {
            Ready();
            return hr;
        }
    }
    if (OldState == State_Stopped) {
        ClearPendingSample();
    }
    return StartStreaming();
}

HRESULT CBaseRenderer::GetState(DWORD dwMSecs, FILTER_STATE* State) {
    if (!State) return E_POINTER;
    // No filter lock here: the transition completes on the streaming thread,
    // which needs the interface lock to get there.
    const DWORD dwResult = WaitForSingleObject(m_evComplete, dwMSecs);
    *State = m_State.load();
    return dwResult == WAIT_TIMEOUT ? VFW_S_STATE_INTERMEDIATE : S_OK;
}

HRESULT CBaseRenderer::CompleteStateChange(FILTER_STATE OldState) {
    CRendererInputPin* pPin = m_pInputPin.load();
    if (!pPin || !pPin->IsConnected() || IsEndOfStream() ||
        (HaveCurrentSample() && OldState != State_Stopped)) {
        Ready();
        return S_OK;
    }
    NotReady();
    return S_FALSE;
}

HRESULT CBaseRenderer::SourceThreadCanWait(BOOL bCanWait) {
    if (bCanWait) {
        m_ThreadSignal.Reset();
    } else {
        m_ThreadSignal.Set();
    }
    return S_OK;
}

HRESULT CBaseRenderer::StartStreaming() {
    CAutoLock lock(&m_RendererLock);
    if (m_bStreaming) return S_OK;
    m_bStreaming = TRUE;
    timeBeginPeriod(1);
    OnStartStreaming();
    if (!m_pMediaSample) {
        return SendEndOfStream();
    }
    // A held sample that cannot be scheduled is shown at once rather than
    // left waiting for an event that nothing will set.
    if (!ScheduleSample(m_pMediaSample)) {
        m_RenderEvent.Set();
    }
    return S_OK;
}

HRESULT CBaseRenderer::StopStreaming() {
    CAutoLock lock(&m_RendererLock);
    m_bEOSDelivered = FALSE;
    if (m_bStreaming) {
        m_bStreaming = FALSE;
        OnStopStreaming();
        timeEndPeriod(1);
    }
    return S_OK;
}

HRESULT CBaseRenderer::Inactive() {
    if (CRendererPosPassThru* pPos = m_pPosition.load()) {
        pPos->ResetMediaTime();
    }
    {
        CAutoLock lock(&m_RendererLock);
        m_bPositionHasTime = FALSE;
    }
    ClearPendingSample();
    return S_OK;
}

// ---------------------------------------------------------------------------
// Connection (graph thread, interface lock held by the pin's caller)

HRESULT CBaseRenderer::BreakConnect() {
    IQualityControl* pSink = nullptr;
    {
        CAutoLock lock(&m_RendererLock);
        pSink = m_pQSink;
        m_pQSink = nullptr;
    }
    if (pSink) pSink->Release();

    CRendererInputPin* pPin = m_pInputPin.load();
    if (!pPin || !pPin->IsConnected()) return S_FALSE;
    if (m_State != State_Stopped && !pPin->CanReconnectWhenActive()) {
        return VFW_E_NOT_STOPPED;
    }
    SetRepaintStatus(FALSE);
    ResetEndOfStream();
    ClearPendingSample();
    if (m_State == State_Running) {
        StopStreaming();
    }
    return S_OK;
}

HRESULT CBaseRenderer::CompleteConnect(IPin*) {
    if (m_State == State_Running) {
        const HRESULT hr = StartStreaming();
        if (FAILED(hr)) return hr;
        SetRepaintStatus(FALSE);
    } else {
        SetRepaintStatus(TRUE);
    }
    return S_OK;
}

// ---------------------------------------------------------------------------
// Receiving and scheduling (streaming thread)

HRESULT CBaseRenderer::PrepareReceive(IMediaSample* pMediaSample) {
    CAutoLock lock(&m_InterfaceLock);
    m_bInReceive = TRUE;
    CRendererInputPin* pPin = m_pInputPin.load();

    HRESULT hr = pPin->CheckAndReadSample(pMediaSample);
    if (hr != S_OK) {
        m_bInReceive = FALSE;
        return E_FAIL;
    }
    const AM_SAMPLE2_PROPERTIES* pProps = pPin->SampleProps();
    if ((pProps->dwSampleFlags & AM_SAMPLE_TYPECHANGED) && pProps->pMediaType) {
        HRESULT hrCopy = S_OK;
        const CMediaType mt(*pProps->pMediaType, &hrCopy);
        hr = FAILED(hrCopy) ? hrCopy : pPin->SetMediaType(&mt);
        if (FAILED(hr)) {
            m_bInReceive = FALSE;
            return hr;
        }
    }

    CAutoLock rlock(&m_RendererLock);
    if (m_pMediaSample || m_bEOS) {
        Ready();
        m_bInReceive = FALSE;
        return E_UNEXPECTED;
    }
    if (m_bStreaming && !ScheduleSample(pMediaSample)) {
        m_bInReceive = FALSE;
        return VFW_E_SAMPLE_REJECTED;
    }
    // The end of the stream is due at the last sample's stop time. A pooled
    // sample keeps the times of its earlier use, so only valid stamps count:
    // start + 1 without a stop time, and "at once" without any time.
    if (pProps->dwSampleFlags & AM_SAMPLE_STOPVALID) {
        m_SignalTime = pProps->tStop;
    } else if (pProps->dwSampleFlags & AM_SAMPLE_TIMEVALID) {
        m_SignalTime = SatAdd64(pProps->tStart, 1);
    } else {
        m_SignalTime = 0;
    }
    m_pMediaSample = pMediaSample;
    m_pMediaSample->AddRef();
    if (!m_bStreaming) {
        SetRepaintStatus(TRUE);
    }
    return S_OK;
}

HRESULT CBaseRenderer::Receive(IMediaSample* pSample) {
    HRESULT hr = PrepareReceive(pSample);
    if (FAILED(hr)) {
        // A dropped sample is not an error for upstream.
        return hr == VFW_E_SAMPLE_REJECTED ? S_OK : hr;
    }

    if (m_State == State_Paused) {
        PrepareRender();
        // Leave the receive stretch so that a state change can proceed.
        m_bInReceive = FALSE;
        {
            CAutoLock lock(&m_InterfaceLock);
            if (m_State == State_Stopped) return S_OK;
            CAutoLock rlock(&m_RendererLock);
            // A flush that ran in the gap cleared the sample and re-armed
            // m_ThreadSignal: completing the pause or waiting for a render
            // time now would strand this thread until Stop.
            if (m_pInputPin.load()->IsFlushing() || !m_pMediaSample) return S_OK;
            m_bInReceive = TRUE;
            OnReceiveFirstSample(pSample);
        }
        Ready();
    }

    hr = WaitForRenderTime();
    if (FAILED(hr)) {
        m_bInReceive = FALSE;
        return S_OK;
    }

    PrepareRender();
    m_bInReceive = FALSE;
    CAutoLock lock(&m_InterfaceLock);
    if (m_State == State_Stopped) return S_OK;
    CAutoLock rlock(&m_RendererLock);
    Render(m_pMediaSample);
    ClearPendingSample();
    SendEndOfStream();
    CancelNotification();
    return S_OK;
}

HRESULT CBaseRenderer::WaitForRenderTime() {
    const HANDLE hWait[2] = {m_ThreadSignal, m_RenderEvent};
    OnWaitStart();
    DWORD dwResult = WAIT_TIMEOUT;
    while (dwResult == WAIT_TIMEOUT) {
        dwResult = WaitForMultipleObjects(2, hWait, FALSE, kRenderWaitSliceMs);
    }
    OnWaitEnd();
    // m_dwAdvise is left alone: the advise has fired (Unadvise answers
    // S_FALSE for it) and CancelNotification clears it under the renderer
    // lock. Clearing it here could wipe out a newer advise that a Pause and
    // Run made while this thread was waking up, and that advise would then
    // never be cancelled.
    return dwResult == WAIT_OBJECT_0 + 1 ? S_OK : VFW_E_STATE_CHANGED;
}

BOOL CBaseRenderer::ScheduleSample(IMediaSample* pMediaSample) {
    if (!pMediaSample) return FALSE;
    REFERENCE_TIME StartSample = 0;
    REFERENCE_TIME EndSample = 0;
    const HRESULT hr = GetSampleTimes(pMediaSample, &StartSample, &EndSample);
    if (FAILED(hr)) return FALSE;
    if (hr == S_OK) {
        m_RenderEvent.Set();
        return TRUE;
    }
    IReferenceClock* pClock = m_pClock;
    if (!pClock) return FALSE;
    DWORD_PTR dwCookie = 0;
    if (FAILED(pClock->AdviseTime(m_tStart, StartSample, m_RenderEvent, &dwCookie))) {
        return FALSE;
    }
    // Never lose an advise: one still outstanding here is cancelled.
    const DWORD_PTR dwOld = m_dwAdvise.exchange(dwCookie);
    if (dwOld) pClock->Unadvise(dwOld);
    return TRUE;
}

HRESULT CBaseRenderer::GetSampleTimes(IMediaSample* pMediaSample, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime) {
    if (FAILED(pMediaSample->GetTime(pStartTime, pEndTime))) {
        return S_OK;  // no time stamps: render at once
    }
    if (*pEndTime < *pStartTime) return VFW_E_START_TIME_AFTER_END;
    if (!m_pClock) return S_OK;
    return ShouldDrawSampleNow(pMediaSample, pStartTime, pEndTime);
}

HRESULT CBaseRenderer::ShouldDrawSampleNow(IMediaSample*, REFERENCE_TIME*, REFERENCE_TIME*) {
    return S_FALSE;
}

HRESULT CBaseRenderer::Render(IMediaSample* pMediaSample) {
    if (!pMediaSample) return S_FALSE;
    if (!m_bStreaming) return S_FALSE;
    OnRenderStart(pMediaSample);
    DoRenderSample(pMediaSample);
    OnRenderEnd(pMediaSample);
    // The position is that of the last sample rendered, never of one still
    // waiting for its time (both locks are held here).
    if (CRendererPosPassThru* pPos = m_pPosition.load()) {
        if (SUCCEEDED(pPos->RegisterMediaTime(pMediaSample))) {
            m_bPositionHasTime = TRUE;
        }
    }
    return S_OK;
}

HRESULT CBaseRenderer::CancelNotification() {
    const DWORD_PTR dwAdvise = m_dwAdvise.exchange(0);
    if (dwAdvise) {
        if (IReferenceClock* pClock = m_pClock) {
            // After Unadvise returns the clock never sets the event for it,
            // so the reset below cannot be undone by a late signal.
            pClock->Unadvise(dwAdvise);
        }
    }
    m_RenderEvent.Reset();
    return dwAdvise ? S_OK : S_FALSE;
}

HRESULT CBaseRenderer::ClearPendingSample() {
    IMediaSample* pSample = nullptr;
    {
        CAutoLock lock(&m_RendererLock);
        pSample = m_pMediaSample;
        m_pMediaSample = nullptr;
    }
    // Released after our own lock, but the callers from Receive, BeginFlush
    // and Stop hold the interface lock (Receive and BeginFlush the renderer
    // lock too): the last release returns the sample to its pool and may run
    // the allocator's release callback under them (see the header).
    if (pSample) pSample->Release();
    return S_OK;
}

BOOL CBaseRenderer::HaveCurrentSample() {
    CAutoLock lock(&m_RendererLock);
    return m_pMediaSample != nullptr;
}

IMediaSample* CBaseRenderer::GetCurrentSample() {
    CAutoLock lock(&m_RendererLock);
    if (m_pMediaSample) m_pMediaSample->AddRef();
    return m_pMediaSample;
}

void CBaseRenderer::WaitForReceiveToComplete() {
    // Only the streaming thread clears the flag, and it never waits for a
    // lock while it is set without first being released by m_ThreadSignal.
    while (m_bInReceive.load()) {
        Sleep(1);
    }
}

void CBaseRenderer::SetRepaintStatus(BOOL bRepaint) {
    CAutoLock lock(&m_RendererLock);
    m_bRepaintStatus = bRepaint;
}

BOOL CBaseRenderer::GetRepaintStatus() {
    CAutoLock lock(&m_RendererLock);
    return m_bRepaintStatus;
}

// ---------------------------------------------------------------------------
// Flushing (from the pin, both locks held)

HRESULT CBaseRenderer::BeginFlush() {
    if (m_State == State_Paused) {
        NotReady();
    }
    SourceThreadCanWait(FALSE);
    CancelNotification();
    ClearPendingSample();
    WaitForReceiveToComplete();
    return S_OK;
}

HRESULT CBaseRenderer::EndFlush() {
    if (CRendererPosPassThru* pPos = m_pPosition.load()) {
        pPos->ResetMediaTime();
    }
    m_bPositionHasTime = FALSE;
    return SourceThreadCanWait(TRUE);
}

// ---------------------------------------------------------------------------
// End of stream

BOOL CBaseRenderer::IsEndOfStream() {
    CAutoLock lock(&m_RendererLock);
    return m_bEOS;
}

BOOL CBaseRenderer::IsEndOfStreamDelivered() {
    CAutoLock lock(&m_RendererLock);
    return m_bEOSDelivered;
}

HRESULT CBaseRenderer::EndOfStream() {
    if (m_State == State_Stopped) return S_OK;
    CAutoLock lock(&m_RendererLock);
    m_bEOS = TRUE;
    // With a sample pending, the end is signalled after it is rendered.
    if (m_pMediaSample) return S_OK;
    Ready();
    if (m_bStreaming) {
        SendEndOfStream();
    }
    return S_OK;
}

HRESULT CBaseRenderer::SendEndOfStream() {
    CAutoLock lock(&m_RendererLock);
    if (!m_bEOS || m_bEOSDelivered || m_EndOfStreamTimer.load() != 0) return S_OK;
    IReferenceClock* pClock = m_pClock;
    if (!pClock) return NotifyEndOfStream();

    REFERENCE_TIME tNow = 0;
    if (FAILED(pClock->GetTime(&tNow))) return NotifyEndOfStream();
    // Saturating: extreme stamps neither overflow nor wrap into the past.
    const LONGLONG llDelay = SatSub64(SatAdd64(m_tStart, m_SignalTime), tNow) / 10000;
    if (llDelay < kMinTimerDelayMs) return NotifyEndOfStream();

    const UINT uDelay = static_cast<UINT>(llDelay > kMaxTimerDelayMs ? kMaxTimerDelayMs : llDelay);
    const UINT uTimer =
        timeSetEvent(uDelay, 10, &CBaseRenderer::EndOfStreamTimerProc,
                     reinterpret_cast<DWORD_PTR>(this), TIME_ONESHOT | TIME_KILL_SYNCHRONOUS);
    if (uTimer == 0) return NotifyEndOfStream();
    m_EndOfStreamTimer = uTimer;
    return S_OK;
}

void CBaseRenderer::EndOfStreamTimerProc(UINT uID, UINT, DWORD_PTR dwUser, DWORD_PTR, DWORD_PTR) {
    reinterpret_cast<CBaseRenderer*>(dwUser)->TimerCallback(uID);
}

void CBaseRenderer::TimerCallback(UINT uID) {
    // Our own reference for the callback: the event sink may drop the last
    // other one inside NotifyEvent. The object then goes at the Release
    // below, on this thread and after our last access, instead of inside
    // the lock (where ShutdownTimerAndAdvise would wait for this very
    // callback forever).
    IUnknown* const pOwner = GetOwner();
    const bool bHeld = TryAddRefOwner();
    m_cTimerCallbacks.fetch_add(1);
    {
        CAutoLock lock(&m_RendererLock);
        // Only the timer that is still armed acts; a killed or replaced
        // one that fired meanwhile does nothing.
        if (uID != 0 && m_EndOfStreamTimer.load() == uID) {
            m_EndOfStreamTimer = 0;
            SendEndOfStream();  // notifies, or re-arms for the rest of a long delay
        }
    }
    // The last access to this object: ShutdownTimerAndAdvise waits for it.
    m_cTimerCallbacks.fetch_sub(1);
    if (bHeld) pOwner->Release();
}

HRESULT CBaseRenderer::NotifyEndOfStream() {
    CAutoLock lock(&m_RendererLock);
    if (!m_bStreaming) return S_OK;
    // An armed timer keeps its id (it is cleared by its own callback or
    // killed by ResetEndOfStream/ShutdownTimerAndAdvise); with the end
    // delivered its callback does nothing.
    if (CRendererPosPassThru* pPos = m_pPosition.load()) {
        if (m_bPositionHasTime && m_bEOSStopValid) {
            pPos->RegisterMediaTime(m_llEOSStop, m_llEOSStop);
        }
    }
    m_bEOSDelivered = TRUE;
    NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    return S_OK;
}

void CBaseRenderer::ResetEndOfStreamTimer() {
    assert(!m_RendererLock.IsOwnedByCurrentThread());
    UINT uTimer = 0;
    {
        CAutoLock lock(&m_RendererLock);
        uTimer = m_EndOfStreamTimer.exchange(0);
    }
    // Outside the lock: the callback takes it, and the kill waits for a
    // callback in progress.
    if (uTimer) timeKillEvent(uTimer);
}

HRESULT CBaseRenderer::ResetEndOfStream() {
    ResetEndOfStreamTimer();
    CAutoLock lock(&m_RendererLock);
    m_bEOS = FALSE;
    m_bEOSDelivered = FALSE;
    m_SignalTime = 0;
    return S_OK;
}

void CBaseRenderer::PrefetchEndOfStreamPosition() {
    // Upstream takes its own filter lock, which comes before ours.
    assert(!m_InterfaceLock.IsOwnedByCurrentThread() && !m_RendererLock.IsOwnedByCurrentThread());
    CRendererPosPassThru* pPos = m_pPosition.load();
    if (!pPos) return;
    LONGLONG llStop = 0;
    const BOOL bValid = SUCCEEDED(pPos->GetStopPositionInMediaTime(&llStop));
    CAutoLock lock(&m_RendererLock);
    m_llEOSStop = llStop;
    m_bEOSStopValid = bValid;
}

void CBaseRenderer::ShutdownTimerAndAdvise() {
    ResetEndOfStreamTimer();
    // A callback that cleared its own id (it fired and re-armed nothing) may
    // still be on its way out.
    while (m_cTimerCallbacks.load() != 0) {
        Sleep(1);
    }
    const DWORD_PTR dwAdvise = m_dwAdvise.exchange(0);
    if (dwAdvise) {
        if (IReferenceClock* pClock = m_pClock) pClock->Unadvise(dwAdvise);
    }
}
