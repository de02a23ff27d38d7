// processing: IFileGraph, the worker's file graph: a filter graph manager
// with a grab renderer named "Renderer" into which a file has been rendered.
//
// The worker drives it with exactly the graph calls it needs (time format,
// duration, positions, run, stop, completion) and reads the renderer's
// connection format, frame duration and latest frame. CreateFileGraph makes
// the real one (CLSID_FilterGraph with a CGrabRenderer); tests substitute
// their own through SetFileGraphFactory.
//
// Threads: a graph object is used by one thread at a time (the dialog's GUI
// thread for the probe graph, the worker for its own graph).
// May include: the C++ standard library, platform/win, platform/com,
// platform/media. No Qt.
#pragma once

#include <memory>
#include <string>

#include "platform/com/guid.h"
#include "platform/media/media_guids.h"
#include "platform/media/media_types.h"
#include "platform/win/win_types.h"

class IFileGraph {
public:
    virtual ~IFileGraph() = default;

    // Creates the graph manager, adds a new grab renderer under "Renderer"
    // and renders strPath into it. The failure codes tell which step failed:
    // see EOpenStep.
    enum class EOpenStep { None, CreateGraph, AddRenderer, RenderFile };
    virtual HRESULT Open(const std::string& strPath, EOpenStep* pFailedStep) = 0;

    // The renderer's connection format (44 bytes; biSizeImage is the padded
    // image size) and its frame duration (100-ns units, may be 0).
    virtual BITMAPINFO RendererFormat() const = 0;
    virtual REFERENCE_TIME RendererFrameDuration() const = 0;

    // IMediaSeeking.
    virtual HRESULT IsFormatSupported(const GUID* pFormat) = 0;
    virtual HRESULT SetTimeFormat(const GUID* pFormat) = 0;
    virtual HRESULT GetDuration(LONGLONG* pDuration) = 0;
    virtual HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                 DWORD dwStopFlags) = 0;
    virtual HRESULT GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) = 0;
    // From TIME_FORMAT_SAMPLE (picture numbers in presentation order) to
    // media time this may read the whole file.
    virtual HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                      const GUID* pSourceFormat) = 0;
    // IMediaControl.
    virtual HRESULT Run() = 0;
    virtual HRESULT Stop() = 0;
    // IMediaEventEx: waits at most msTimeout for the run to complete.
    // S_OK and *pEvCode on completion, E_ABORT on time-out.
    virtual HRESULT WaitForCompletion(LONG msTimeout, LONG* pEvCode) = 0;

    // At most cbDest bytes of the renderer's latest frame into pDest, one
    // copy straight from the held sample (CGrabRenderer::CopyLatestTo under
    // the renderer's frame lock). The bytes copied; 0 when
    // the renderer holds no sample yet. When pllPosition is not null and
    // the copied frame has a media time, *pllPosition is set to it in the
    // time format in use (it may be ahead of a position read just before:
    // the renderer does not wait for the reader).
    virtual LONG GrabLatestFrame(BYTE* pDest, LONG cbDest, LONGLONG* pllPosition) = 0;

    // Hand-off with the renderer (graph stopped): bFrameByFrame = run
    // without a reference clock, each rendered frame held until TakeFrame
    // took it; false = the graph's clock again, nothing held.
    virtual HRESULT SetFrameByFrame(bool bFrameByFrame) = 0;
    // Waits up to msTimeout for a frame rendered after the one this call
    // saw last. S_OK, or E_ABORT on time-out.
    virtual HRESULT WaitForRenderedFrame(LONG msTimeout) = 0;
    // Frame by frame: waits up to msTimeout for the next frame, copies at
    // most cbDest bytes of it into pDest (*pcbCopied) and lets the stream
    // go on. S_OK; S_FALSE at the end of the stream (every frame taken);
    // E_ABORT on time-out.
    virtual HRESULT TakeFrame(BYTE* pDest, LONG cbDest, LONG msTimeout, LONG* pcbCopied) = 0;
};

// Makes a new, unopened graph. The owner handle (opaque, may be null) is
// the window the renderer invalidates after each rendered sample.
using PFNCREATEFILEGRAPH = std::unique_ptr<IFileGraph> (*)(void* hwndOwner);

// The real graph, or whatever SetFileGraphFactory installed.
std::unique_ptr<IFileGraph> CreateFileGraph(void* hwndOwner);
// The real graph: the filter graph manager with a CGrabRenderer
// (processing/media_file_graph.cpp).
std::unique_ptr<IFileGraph> CreateMediaFileGraph(void* hwndOwner);
// Replaces the factory (tests); null restores the real one. Not while a
// dialog or worker is being set up.
void SetFileGraphFactory(PFNCREATEFILEGRAPH pfnCreate);
