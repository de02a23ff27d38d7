#include "processing/file_frame_source.h"

#include <limits>
#include <utility>

#include "platform/com/com_runtime.h"
#include "platform/media/media_guids.h"
#include "platform/win/time_services.h"
#include "processing/frame_time.h"

CFileFrameSource::CFileFrameSource(std::string strPath, SeekMode nSeekMode)
    : m_strPath(std::move(strPath)), m_nSeekMode(nSeekMode) {}

HRESULT CFileFrameSource::ProbeFormat(void* hwndOwner, BITMAPINFO* pbmi, std::string* pstrMessage) {
    // The graph manager is created through COM on the calling thread.
    const HRESULT hrCo = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const HRESULT hr = ProbeFormatInitialised(hwndOwner, pbmi, pstrMessage);
    if (SUCCEEDED(hrCo)) CoUninitialize();
    return hr;
}

HRESULT CFileFrameSource::ProbeFormatInitialised(void* hwndOwner, BITMAPINFO* pbmi,
                                                 std::string* pstrMessage) {
    std::unique_ptr<IFileGraph> pProbe = CreateFileGraph(hwndOwner);
    if (!pProbe) {
        *pstrMessage = "フィルタ グラフ マネージャを生成することが出来ません";
        return E_FAIL;
    }
    IFileGraph::EOpenStep eStep = IFileGraph::EOpenStep::None;
    const HRESULT hr = pProbe->Open(m_strPath, &eStep);
    if (FAILED(hr)) {
        switch (eStep) {
            case IFileGraph::EOpenStep::CreateGraph:
                *pstrMessage = "フィルタ グラフ マネージャを生成することが出来ません";
                break;
            case IFileGraph::EOpenStep::AddRenderer:
                *pstrMessage = "グラフにグラブレンダーフィルタを追加することが出来ません";
                break;
            default:
                *pstrMessage = "ファイルを開くことが出来ません";
                break;
        }
        return hr;
    }
    *pbmi = pProbe->RendererFormat();
    return S_OK;
}

HRESULT CFileFrameSource::Open(void* hwndOwner, const CRunFlag& runFlag,
                               SFrameTimeline* pTimeline) {
    m_pRunFlag = &runFlag;
    m_pGraph = CreateFileGraph(hwndOwner);
    if (!m_pGraph) return E_FAIL;
    IFileGraph::EOpenStep eStep = IFileGraph::EOpenStep::None;
    HRESULT hr = m_pGraph->Open(m_strPath, &eStep);
    if (FAILED(hr)) return hr;

    const REFERENCE_TIME rtFrame = m_pGraph->RendererFrameDuration();
    // A duration of 0, a negative one or one that does not fit 32 bits
    // gives the fallback 1/30 s, so nothing divides by zero or wraps.
    const LONG nFrameDuration = (rtFrame > 0 && rtFrame <= std::numeric_limits<LONG>::max())
                                    ? static_cast<LONG>(rtFrame)
                                    : kFallbackFrameDuration;
    SFrameTimeline timeline;
    timeline.bSeekable = true;
    if (m_pGraph->IsFormatSupported(&TIME_FORMAT_FRAME) == S_OK) {
        hr = m_pGraph->SetTimeFormat(&TIME_FORMAT_FRAME);
        if (FAILED(hr)) return hr;
        timeline.nFrameStep = 1;
        m_bFrameFormat = true;
    } else {
        timeline.nFrameStep = nFrameDuration;
    }
    m_pGraph->GetDuration(&timeline.llDuration);
    timeline.dFramesPerSecond = FramesPerSecondOf(nFrameDuration);
    timeline.nFrameCount =
        FrameCountOf(timeline.llDuration, timeline.nFrameStep, timeline.dFramesPerSecond);
    *pTimeline = timeline;
    return S_OK;
}

HRESULT CFileFrameSource::AcquireAt(LONGLONG p, BYTE* pDest, DWORD cbDest) {
    if (!m_pGraph) return E_UNEXPECTED;
    if (p == m_llLastSeekPosition) return S_FALSE;
    LONGLONG llCurrent = p;
    LONGLONG llStop = (m_nSeekMode == SEEK_POLL) ? p + 10000 : p;
    if (FAILED(m_pGraph->SetPositions(&llCurrent, AM_SEEKING_AbsolutePositioning, &llStop,
                                      AM_SEEKING_AbsolutePositioning))) {
        m_llLastSeekPosition = kNoSeek;
        return E_FAIL;
    }
    m_pGraph->Run();
    const LONGLONG llWanted = llStop;
    const ULONGLONG ullDeadline = GetTickCount64() + kSeekTimeoutMs;
    bool bArrived = false;
    if (m_nSeekMode == SEEK_POLL) {
        while (Running() && GetTickCount64() < ullDeadline) {
            LONGLONG llNow = 0, llStopNow = 0;
            m_pGraph->GetPositions(&llNow, &llStopNow);
            // The graph ends its stop at the end of the stream: a position
            // whose 1 ms of slack reaches past the last frame arrives there.
            if (llNow == std::min(llWanted, llStopNow)) {
                bArrived = true;
                break;
            }
            // Between polls, sleep on the graph's completion (the end of the
            // segment is what brings current to stop), so the poll wakes as
            // soon as the frame is there without spinning.
            LONG lEvent = 0;
            if (m_pGraph->WaitForCompletion(5, &lEvent) != E_ABORT) Sleep(1);
        }
    } else {
        while (Running() && GetTickCount64() < ullDeadline) {
            LONG lEvent = 0;
            const HRESULT hrWait = m_pGraph->WaitForCompletion(50, &lEvent);
            if (hrWait == S_OK) {
                bArrived = true;
                break;
            }
            if (hrWait != E_ABORT) break;  // not running, or aborted: no frame to wait for
        }
    }
    if (!bArrived && Running() && GetTickCount64() >= ullDeadline) {
        // A graph that never gets there: given up once, and not tried again
        // until the position changes (the worker says so on its status line).
        m_llLastSeekPosition = p;
        return VFW_E_TIMEOUT;
    }
    if (!bArrived) {
        // Not there (stopping, or the graph stopped running): try again on
        // the next pass.
        m_llLastSeekPosition = kNoSeek;
        return E_ABORT;
    }
    m_llLastSeekPosition = p;
    m_pGraph->GrabLatestFrame(pDest, static_cast<LONG>(cbDest), nullptr);
    return S_OK;
}

void CFileFrameSource::StartStream(LONGLONG llFrom, LONGLONG llStop) {
    m_pGraph->SetPositions(&llFrom, AM_SEEKING_AbsolutePositioning, &llStop,
                           AM_SEEKING_AbsolutePositioning);
    m_pGraph->Run();
}

LONGLONG CFileFrameSource::StreamPosition() {
    LONGLONG llCurrent = 0, llStopNow = 0;
    m_pGraph->GetPositions(&llCurrent, &llStopNow);
    return llCurrent;
}

void CFileFrameSource::AcquireLatest(BYTE* pDest, DWORD cbDest, LONGLONG* pllPosition) {
    m_pGraph->GrabLatestFrame(pDest, static_cast<LONG>(cbDest), pllPosition);
}

bool CFileFrameSource::PicturePosition(LONG nPicture, LONGLONG* pllPosition) {
    if (!m_pGraph || m_bFrameFormat) return false;
    return m_pGraph->ConvertTimeFormat(pllPosition, &TIME_FORMAT_MEDIA_TIME, nPicture,
                                       &TIME_FORMAT_SAMPLE) == S_OK;
}

HRESULT CFileFrameSource::WaitForStreamFrame(DWORD dwMs) {
    return m_pGraph->WaitForRenderedFrame(static_cast<LONG>(dwMs));
}

void CFileFrameSource::StopStream() {
    if (!m_pGraph) return;
    m_pGraph->Stop();
    if (m_bFrameStream) {
        // Seeks wait for the clocked graph to complete; nothing is held.
        m_pGraph->SetFrameByFrame(false);
        m_bFrameStream = false;
    }
}

void CFileFrameSource::StartFrameStream(LONGLONG llFrom, LONGLONG llStop) {
    m_pGraph->Stop();
    m_llLastSeekPosition = kNoSeek;
    m_ullLastFrameTick = GetTickCount64();
    m_bFrameStream = SUCCEEDED(m_pGraph->SetFrameByFrame(true));
    // From the stop on there is no frame: the stream is over at once
    // (running it would render the last frame again).
    m_bFrameStreamEmpty = llFrom >= llStop;
    if (m_bFrameStreamEmpty) return;
    m_pGraph->SetPositions(&llFrom, AM_SEEKING_AbsolutePositioning, &llStop,
                           AM_SEEKING_AbsolutePositioning);
    m_pGraph->Run();
}

HRESULT CFileFrameSource::TakeNextFrame(BYTE* pDest, DWORD cbDest, DWORD dwMs) {
    if (!m_pGraph || !m_bFrameStream) return E_UNEXPECTED;
    if (m_bFrameStreamEmpty) return S_FALSE;
    LONG cbCopied = 0;
    const HRESULT hr =
        m_pGraph->TakeFrame(pDest, static_cast<LONG>(cbDest), static_cast<LONG>(dwMs), &cbCopied);
    if (hr == S_OK || hr == S_FALSE) {
        m_ullLastFrameTick = GetTickCount64();
        return hr;
    }
    return GetTickCount64() - m_ullLastFrameTick > kFrameStreamTimeoutMs ? E_FAIL : E_ABORT;
}

void CFileFrameSource::Close() {
    // Stopped and released on the worker, so that the graph's streaming
    // threads are gone before the owner frees anything.
    if (m_pGraph) {
        m_pGraph->Stop();
        m_pGraph.reset();
    }
    m_pRunFlag = nullptr;
}
