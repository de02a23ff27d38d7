#include "mediagraph/media_classes.h"

#include "mediagraph/capture_graph_builder.h"
#include "mediagraph/file_source_filter.h"
#include "mediagraph/filter_graph.h"
#include "mediagraph/null_renderer.h"
#include "mediagraph/sample_grabber.h"
#include "mediagraph/system_device_enum.h"
#include "platform/com/com_runtime.h"
#include "platform/media/media_guids.h"
#include "platform/media/system_clock.h"

HRESULT RegisterMediaClasses() {
    struct SClass {
        const CLSID* pClsid;
        LPFNCREATEINSTANCE pfnCreate;
    };
    static const SClass kClasses[] = {
        {&CLSID_FilterGraph, &CFilterGraph::CreateInstance},
        {&CLSID_SystemClock, &CSystemClock::CreateInstance},
        {&CLSID_PeloraFileSource, &CFileSourceFilter::CreateInstance},
        {&CLSID_SystemDeviceEnum, &CSystemDeviceEnum::CreateInstance},
        {&CLSID_CaptureGraphBuilder2, &CCaptureGraphBuilder::CreateInstance},
        {&CLSID_SampleGrabber, &CSampleGrabber::CreateInstance},
        {&CLSID_NullRenderer, &CNullRenderer::CreateInstance},
    };
    for (const SClass& c : kClasses) {
        const HRESULT hr = CoRegisterInprocClass(*c.pClsid, c.pfnCreate);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}
