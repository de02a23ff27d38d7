#include "mediagraph/capture_graph_builder.h"

#include <new>
#include <vector>

#include "filterbase/create_unaggregated.h"
#include "platform/com/com_ref.h"

namespace {

// The first pin of the filter with this direction that answers riid (or
// any riid when null) and, when bUnconnected, has no peer; one reference.
CComRef<IPin> FindPin(IBaseFilter* pFilter, PIN_DIRECTION dir, const IID* pRiid,
                      bool bUnconnected) {
    CComRef<IEnumPins> pins;
    if (FAILED(pFilter->EnumPins(pins.Receive()))) return {};
    IPin* p = nullptr;
    while (pins->Next(1, &p, nullptr) == S_OK) {
        CComRef<IPin> pin(p, AdoptTag);
        PIN_DIRECTION d;
        if (FAILED(pin->QueryDirection(&d)) || d != dir) continue;
        if (bUnconnected) {
            CComRef<IPin> peer;
            if (SUCCEEDED(pin->ConnectedTo(peer.Receive())) && peer) continue;
        }
        if (pRiid) {
            CComRef<IUnknown> itf;
            if (FAILED(pin->QueryInterface(*pRiid, reinterpret_cast<void**>(itf.Receive())))) {
                continue;
            }
        }
        return pin;
    }
    return {};
}

}  // namespace

HRESULT CCaptureGraphBuilder::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    // Its construction cannot fail but for memory.
    return CreateUnaggregated(pUnkOuter, riid, ppv,
                              [](HRESULT*) { return new (std::nothrow) CCaptureGraphBuilder(); });
}

CCaptureGraphBuilder::~CCaptureGraphBuilder() {
    if (m_pGraph) m_pGraph->Release();
}

HRESULT CCaptureGraphBuilder::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_ICaptureGraphBuilder2) {
        return GetInterface(static_cast<ICaptureGraphBuilder2*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CCaptureGraphBuilder::SetFiltergraph(IGraphBuilder* pfg) {
    if (!pfg) return E_POINTER;
    pfg->AddRef();
    IGraphBuilder* pOld = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        pOld = m_pGraph;
        m_pGraph = pfg;
    }
    if (pOld) pOld->Release();
    return S_OK;
}

HRESULT CCaptureGraphBuilder::GetFiltergraph(IGraphBuilder** ppfg) {
    if (!ppfg) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_Lock);
    *ppfg = m_pGraph;
    if (!m_pGraph) return E_UNEXPECTED;
    m_pGraph->AddRef();
    return S_OK;
}

HRESULT CCaptureGraphBuilder::FindInterface(const GUID* pCategory, const GUID* pType,
                                            IBaseFilter* pf, REFIID riid, void** ppint) {
    if (!ppint) return E_POINTER;
    *ppint = nullptr;
    if (!pf) return E_POINTER;
    const bool bPinCategory =
        pCategory && (*pCategory == PIN_CATEGORY_CAPTURE || *pCategory == PIN_CATEGORY_PREVIEW);
    if (bPinCategory) {
        if (*pCategory == PIN_CATEGORY_PREVIEW) return E_NOINTERFACE;  // no preview pin here
        if (pType && *pType != MEDIATYPE_Video) return E_NOINTERFACE;
        CComRef<IPin> pin = FindPin(pf, PINDIR_OUTPUT, &IID_IAMStreamConfig, false);
        if (!pin) return E_NOINTERFACE;
        if (SUCCEEDED(pin->QueryInterface(riid, ppint))) return S_OK;
        return pf->QueryInterface(riid, ppint);
    }
    if (SUCCEEDED(pf->QueryInterface(riid, ppint))) return S_OK;
    for (PIN_DIRECTION dir : {PINDIR_OUTPUT, PINDIR_INPUT}) {
        CComRef<IPin> pin = FindPin(pf, dir, &riid, false);
        if (pin) return pin->QueryInterface(riid, ppint);
    }
    return E_NOINTERFACE;
}

HRESULT CCaptureGraphBuilder::RenderStream(const GUID* pCategory, const GUID* pType,
                                           IUnknown* pSource, IBaseFilter* pfCompressor,
                                           IBaseFilter* pfRenderer) {
    if (!pSource) return E_POINTER;
    if (pCategory && *pCategory != PIN_CATEGORY_CAPTURE && *pCategory != PIN_CATEGORY_PREVIEW) {
        return E_INVALIDARG;
    }
    if (pType && *pType != MEDIATYPE_Video) return E_INVALIDARG;
    CComRef<IGraphBuilder> graph;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        graph.Reset(m_pGraph, AddRefTag);
    }
    if (!graph) return E_UNEXPECTED;
    CComRef<IBaseFilter> source;
    if (FAILED(
            pSource->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(source.Receive())))) {
        return E_INVALIDARG;
    }
    CComRef<IPin> out = FindPin(source.Get(), PINDIR_OUTPUT, &IID_IAMStreamConfig, true);
    if (!out) return VFW_E_CANNOT_CONNECT;
    // Source -> intermediate (the grabber) -> renderer; either may be absent.
    std::vector<IBaseFilter*> chain;
    if (pfCompressor) chain.push_back(pfCompressor);
    if (pfRenderer) chain.push_back(pfRenderer);
    std::vector<CComRef<IPin>> made;  // output pins connected so far
    for (IBaseFilter* pNext : chain) {
        CComRef<IPin> in = FindPin(pNext, PINDIR_INPUT, nullptr, true);
        if (!in || FAILED(graph->ConnectDirect(out.Get(), in.Get(), nullptr))) {
            for (CComRef<IPin>& p : made) {
                CComRef<IPin> peer;
                if (SUCCEEDED(p->ConnectedTo(peer.Receive())) && peer)
                    graph->Disconnect(peer.Get());
                graph->Disconnect(p.Get());
            }
            return VFW_E_CANNOT_CONNECT;
        }
        made.push_back(out);
        if (pNext == chain.back()) break;
        out = FindPin(pNext, PINDIR_OUTPUT, nullptr, true);
        if (!out) return S_OK;  // nothing further to connect from
    }
    return S_OK;
}
