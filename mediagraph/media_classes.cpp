#include "mediagraph/media_classes.h"

#include "mediagraph/file_source_filter.h"
#include "mediagraph/filter_graph.h"
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
    };
    for (const SClass& c : kClasses) {
        const HRESULT hr = CoRegisterInprocClass(*c.pClsid, c.pfnCreate);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}
