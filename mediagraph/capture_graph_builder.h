// mediagraph: CCaptureGraphBuilder (CLSID_CaptureGraphBuilder2), the helper
// that finds a capture filter's interfaces and connects its stream.
//
// Contract:
// - SetFiltergraph keeps one reference on the graph; GetFiltergraph hands
//   out another (E_UNEXPECTED before one was set).
// - FindInterface works on a filter in no graph too (the settings
//   operations bind a fresh filter). With PIN_CATEGORY_CAPTURE it looks on
//   the filter's capture pin (an output pin offering IAMStreamConfig; a
//   media type other than MEDIATYPE_Video or null matches no pin), then on
//   the filter itself; PIN_CATEGORY_PREVIEW finds nothing (a V4L2 device
//   has one stream and no preview pin); LOOK_UPSTREAM_ONLY, LOOK_DOWNSTREAM_ONLY
//   or no category: the filter itself, then its pins.
// - RenderStream(PREVIEW or CAPTURE, Video or null, source, grabber,
//   renderer): connects the source's capture pin to the grabber's first
//   input pin and the grabber's first output pin to the renderer's first
//   input pin, directly through the graph (no tee, no converters: the
//   grabber converts). A connection that fails (a format the grabber
//   cannot convert) answers VFW_E_CANNOT_CONNECT and leaves no half
//   connection.
// Threads: the caller's; m_Lock guards m_pGraph.
// May include: the C++ standard library, platform/, filterbase/. No Qt.
#pragma once

#include <mutex>

#include "filterbase/unknown.h"
#include "platform/media/capture_interfaces.h"

class CCaptureGraphBuilder final : public CUnknown, public ICaptureGraphBuilder2 {
public:
    static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv);
    ~CCaptureGraphBuilder() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT SetFiltergraph(IGraphBuilder* pfg) override;
    HRESULT GetFiltergraph(IGraphBuilder** ppfg) override;
    HRESULT FindInterface(const GUID* pCategory, const GUID* pType, IBaseFilter* pf, REFIID riid,
                          void** ppint) override;
    HRESULT RenderStream(const GUID* pCategory, const GUID* pType, IUnknown* pSource,
                         IBaseFilter* pfCompressor, IBaseFilter* pfRenderer) override;

private:
    CCaptureGraphBuilder() : CUnknown("CCaptureGraphBuilder", nullptr) {}

    std::mutex m_Lock;                  // guards m_pGraph
    IGraphBuilder* m_pGraph = nullptr;  // one reference
};
