// mediagraph: SPreviewChain, the smallest graph that streams a camera: its
// capture filter -> sample grabber (calling back with every sample) -> null
// renderer, made by class id and connected by the capture graph builder. The
// camera library builds its own (with the format and the crossbar set on the
// way); tools, benchmarks and tests that only need frames use this one.
//
// Threads: built, run and released on one thread (COM initialised there);
// the callback runs on the capture pin's streaming thread.
// May include: the C++ standard library, platform/, filterbase/, mediagraph/. No Qt.
#pragma once

#include <string>

#include "platform/com/com_ref.h"
#include "platform/media/capture_interfaces.h"

// The capture filter of the video input device at nIndex (from 0) in the
// device listing, and its friendly name in *pstrName when it has one; empty
// when there is no such device or it cannot be bound.
CComRef<IBaseFilter> BindVideoInputDevice(int nIndex, std::wstring* pstrName = nullptr);

struct SPreviewChain {
    CComRef<IGraphBuilder> graph;
    CComRef<ICaptureGraphBuilder2> builder;  // its graph is `graph`
    CComRef<IMediaControl> control;
    CComRef<IBaseFilter> source, grabFilter, renderer;
    CComRef<ISampleGrabber> grabber;  // on grabFilter

    // Creates the graph and the builder and adds pSource as "Camera" (the
    // caller may set the pin's format before Render).
    HRESULT Create(IBaseFilter* pSource);
    // Adds the grabber (calling pCallback's SampleCB) and the null renderer
    // and connects source -> grabber -> renderer on the pin of pCategory.
    HRESULT Render(ISampleGrabberCB* pCallback, const GUID* pCategory = &PIN_CATEGORY_PREVIEW);
    // Create and Render; the first failure.
    HRESULT Build(IBaseFilter* pSource, ISampleGrabberCB* pCallback,
                  const GUID* pCategory = &PIN_CATEGORY_PREVIEW);
    // Stops the graph, clears the callback and drops every reference.
    void Release();
};
