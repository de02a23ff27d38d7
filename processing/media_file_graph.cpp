// The worker's real file graph: the filter graph manager (CLSID_FilterGraph)
// with a CGrabRenderer named "Renderer".
#include <memory>
#include <string>

#include "processing/file_graph.h"

#include "grab/grab_renderer.h"
#include "platform/com/com_ref.h"
#include "platform/com/com_runtime.h"
#include "mediagraph/media_classes.h"
#include "platform/media/graph_interfaces.h"
#include "platform/media/media_guids.h"
#include "platform/win/wide_text.h"
#include "platform/win/crit_sec.h"

namespace {

class CMediaFileGraph : public IFileGraph {
public:
    explicit CMediaFileGraph(void* hwndOwner) : m_hwndOwner(static_cast<HWND>(hwndOwner)) {}
    ~CMediaFileGraph() override {
        if (m_pControl) m_pControl->Stop();
        m_pEvent.Release();
        m_pSeeking.Release();
        m_pControl.Release();
        m_pGraph.Release();  // the last reference: the graph stops, disconnects and lets go of its
                             // filters
        m_pRenderer.Release();
    }

    HRESULT Open(const std::string& strPath, EOpenStep* pFailedStep) override {
        *pFailedStep = EOpenStep::CreateGraph;
        HRESULT hr = RegisterMediaClasses();
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(m_pGraph.Receive()));
        if (SUCCEEDED(hr)) hr = m_pGraph.QueryInto(IID_IMediaControl, &m_pControl);
        if (SUCCEEDED(hr)) hr = m_pGraph.QueryInto(IID_IMediaSeeking, &m_pSeeking);
        if (SUCCEEDED(hr)) hr = m_pGraph.QueryInto(IID_IMediaEventEx, &m_pEvent);
        if (FAILED(hr)) return hr;

        *pFailedStep = EOpenStep::AddRenderer;
        HRESULT hrRenderer = S_OK;
        m_pRenderer.Reset(new (std::nothrow) CGrabRenderer(m_hwndOwner, &hrRenderer), AddRefTag);
        if (!m_pRenderer) return E_OUTOFMEMORY;
        if (FAILED(hrRenderer)) return hrRenderer;
        hr = m_pGraph->AddFilter(m_pRenderer.Get(), L"Renderer");
        if (FAILED(hr)) return hr;

        *pFailedStep = EOpenStep::RenderFile;
        const std::wstring wstrPath = Utf8ToWide(strPath);
        hr = m_pGraph->RenderFile(wstrPath.c_str(), nullptr);
        if (FAILED(hr)) return hr;
        *pFailedStep = EOpenStep::None;
        return S_OK;
    }

    BITMAPINFO RendererFormat() const override {
        BITMAPINFO bmi{};
        if (m_pRenderer) m_pRenderer->GetFrameFormat(&bmi);
        return bmi;
    }
    REFERENCE_TIME RendererFrameDuration() const override {
        return m_pRenderer ? m_pRenderer->GetFrameDuration() : 0;
    }
    HRESULT IsFormatSupported(const GUID* pFormat) override {
        return m_pSeeking->IsFormatSupported(pFormat);
    }
    HRESULT SetTimeFormat(const GUID* pFormat) override {
        return m_pSeeking->SetTimeFormat(pFormat);
    }
    HRESULT GetDuration(LONGLONG* pDuration) override { return m_pSeeking->GetDuration(pDuration); }
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                         DWORD dwStopFlags) override {
        return m_pSeeking->SetPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags);
    }
    HRESULT GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override {
        return m_pSeeking->GetPositions(pCurrent, pStop);
    }
    HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                              const GUID* pSourceFormat) override {
        return m_pSeeking->ConvertTimeFormat(pTarget, pTargetFormat, Source, pSourceFormat);
    }
    HRESULT Run() override { return m_pControl->Run(); }
    HRESULT Stop() override { return m_pControl->Stop(); }
    HRESULT WaitForCompletion(LONG msTimeout, LONG* pEvCode) override {
        return m_pEvent->WaitForCompletion(msTimeout, pEvCode);
    }
    LONG GrabLatestFrame(BYTE* pDest, LONG cbDest, LONGLONG* pllPosition) override {
        if (!m_pRenderer) return 0;
        LONG cb = 0;
        LONGLONG llMedia = 0;
        HRESULT hrTime = E_FAIL;
        {
            // One frame for both calls: the frame lock is re-entrant. One
            // copy, straight from the held sample.
            CAutoLock lock(m_pRenderer->FrameLock());
            cb = m_pRenderer->CopyLatestTo(pDest, cbDest);
            if (cb > 0 && pllPosition) hrTime = m_pRenderer->GetLatestMediaTime(&llMedia);
        }
        // Outside the frame lock: the conversion goes upstream.
        if (hrTime == S_OK)
            m_pSeeking->ConvertTimeFormat(pllPosition, nullptr, llMedia, &TIME_FORMAT_MEDIA_TIME);
        return cb;
    }
    HRESULT SetFrameByFrame(bool bFrameByFrame) override {
        if (!m_pRenderer || !m_pGraph) return E_UNEXPECTED;
        CComRef<IMediaFilter> pFilter;
        HRESULT hr = m_pGraph.QueryInto(IID_IMediaFilter, &pFilter);
        if (FAILED(hr)) return hr;
        if (bFrameByFrame) {
            // Keep the graph's own clock for the way back.
            if (!m_bFrameByFrame) {
                m_pClock.Release();
                pFilter->GetSyncSource(m_pClock.Receive());
            }
            hr = pFilter->SetSyncSource(nullptr);
        } else if (m_bFrameByFrame) {
            hr = pFilter->SetSyncSource(m_pClock.Get());
            m_pClock.Release();
        }
        if (FAILED(hr)) return hr;
        m_bFrameByFrame = bFrameByFrame;
        m_pRenderer->ArmHandOff(bFrameByFrame);
        return S_OK;
    }
    HRESULT WaitForRenderedFrame(LONG msTimeout) override {
        if (!m_pRenderer) return E_UNEXPECTED;
        return m_pRenderer->WaitForRendered(&m_nSeenSerial,
                                            static_cast<DWORD>(msTimeout < 0 ? 0 : msTimeout));
    }
    HRESULT TakeFrame(BYTE* pDest, LONG cbDest, LONG msTimeout, LONG* pcbCopied) override {
        if (!m_pRenderer) return E_UNEXPECTED;
        return m_pRenderer->TakeFrame(pDest, cbDest,
                                      static_cast<DWORD>(msTimeout < 0 ? 0 : msTimeout), pcbCopied);
    }

private:
    HWND m_hwndOwner;
    CComRef<IGraphBuilder> m_pGraph;
    CComRef<IMediaControl> m_pControl;
    CComRef<IMediaSeeking> m_pSeeking;
    CComRef<IMediaEventEx> m_pEvent;
    CComRef<CGrabRenderer> m_pRenderer;  // taken at creation, released after the graph
    CComRef<IReferenceClock> m_pClock;   // the graph's clock while running frame by frame
    bool m_bFrameByFrame = false;
    ULONGLONG m_nSeenSerial = 0;  // the renderer's serial WaitForRenderedFrame saw last
};

}  // namespace

std::unique_ptr<IFileGraph> CreateMediaFileGraph(void* hwndOwner) {
    return std::make_unique<CMediaFileGraph>(hwndOwner);
}
