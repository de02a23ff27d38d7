#include "mediagraph/preview_chain.h"

#include "platform/com/com_runtime.h"

namespace {

template <class T>
HRESULT CreateByClass(REFCLSID clsid, REFIID iid, CComRef<T>* pOut) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                            reinterpret_cast<void**>(pOut->Receive()));
}

}  // namespace

CComRef<IBaseFilter> BindVideoInputDevice(int nIndex, std::wstring* pstrName) {
    CComRef<ICreateDevEnum> devEnum;
    CComRef<IEnumMoniker> monikers;
    if (CreateByClass(CLSID_SystemDeviceEnum, IID_ICreateDevEnum, &devEnum) != S_OK ||
        devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0) !=
            S_OK) {
        return {};
    }
    CComRef<IMoniker> moniker;
    for (int i = 0; i <= nIndex; ++i) {
        moniker.Release();
        if (monikers->Next(1, moniker.Receive(), nullptr) != S_OK) return {};
    }
    CComRef<IPropertyBag> bag;
    if (pstrName && SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                                     reinterpret_cast<void**>(bag.Receive())))) {
        VARIANT v;
        VariantInit(&v);
        if (bag->Read(L"FriendlyName", &v, nullptr) == S_OK) *pstrName = v.bstrVal;
        VariantClear(&v);
    }
    CComRef<IBaseFilter> filter;
    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                          reinterpret_cast<void**>(filter.Receive()));
    return filter;
}

HRESULT SPreviewChain::Create(IBaseFilter* pSource) {
    if (!pSource) return E_POINTER;
    HRESULT hr = CreateByClass(CLSID_FilterGraph, IID_IGraphBuilder, &graph);
    if (SUCCEEDED(hr))
        hr = CreateByClass(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, &builder);
    if (SUCCEEDED(hr)) hr = builder->SetFiltergraph(graph.Get());
    if (SUCCEEDED(hr)) hr = graph.QueryInto(IID_IMediaControl, &control);
    if (FAILED(hr)) return hr;
    source.Reset(pSource, AddRefTag);
    return graph->AddFilter(pSource, L"Camera");
}

HRESULT SPreviewChain::Render(ISampleGrabberCB* pCallback, const GUID* pCategory) {
    HRESULT hr = CreateByClass(CLSID_SampleGrabber, IID_IBaseFilter, &grabFilter);
    if (SUCCEEDED(hr)) hr = graph->AddFilter(grabFilter.Get(), L"Sample Grabber");
    if (SUCCEEDED(hr)) hr = grabFilter.QueryInto(IID_ISampleGrabber, &grabber);
    if (SUCCEEDED(hr)) hr = grabber->SetCallback(pCallback, 0);
    if (SUCCEEDED(hr)) hr = CreateByClass(CLSID_NullRenderer, IID_IBaseFilter, &renderer);
    if (SUCCEEDED(hr)) hr = graph->AddFilter(renderer.Get(), L"NullRenderer");
    if (FAILED(hr)) return hr;
    return builder->RenderStream(pCategory, &MEDIATYPE_Video, source.Get(), grabFilter.Get(),
                                 renderer.Get());
}

HRESULT SPreviewChain::Build(IBaseFilter* pSource, ISampleGrabberCB* pCallback,
                             const GUID* pCategory) {
    const HRESULT hr = Create(pSource);
    return FAILED(hr) ? hr : Render(pCallback, pCategory);
}

void SPreviewChain::Release() {
    if (control) control->Stop();
    if (grabber) grabber->SetCallback(nullptr, 0);
    control.Release();
    grabber.Release();
    renderer.Release();
    grabFilter.Release();
    source.Release();
    builder.Release();
    graph.Release();
}
