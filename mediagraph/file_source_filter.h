// mediagraph: CFileSourceFilter (CLSID_PeloraFileSource), the source filter
// that RenderFile creates for a video file through CoCreateInstance and
// opens with IFileSourceFilter::Load.
//
// The filter wraps a CFileDecoder; its only pin, CFileSourcePin, pushes the
// decoded frames downstream (see file_source_pin.h for streaming, seeking,
// threads and locks). Load opens the file once, while the filter is stopped
// and unconnected; a filter that was never loaded has a pin that offers no
// type, so it cannot be connected.
//
// May include: the C++ standard library, platform/, filterbase/. No Qt.
#pragma once

#include <string>

#include "filterbase/base_filter.h"
#include "mediagraph/file_source_pin.h"
#include "platform/ffmpeg/file_decoder.h"
#include "platform/media/graph_interfaces.h"

class CFileSourceFilter : public CBaseFilter, public IFileSourceFilter {
public:
    // Class creator for the COM registry (no aggregation); registered by
    // RegisterMediaClasses().
    static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv);
    ~CFileSourceFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IFileSourceFilter (graph thread). Load fails with the decoder's code
    // when the file has no decodable video stream or cannot be read
    // (missing, empty, truncated, corrupt), VFW_E_WRONG_STATE when a file
    // is already loaded and VFW_E_NOT_STOPPED while active.
    HRESULT Load(LPCWSTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
    HRESULT GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;

    // Graph thread, stopped. Without a clock the stream is read straight
    // through (a batch run): the decoder keeps no frames for backward steps.
    HRESULT SetSyncSource(IReferenceClock* pClock) override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    CFileSourcePin* Pin() { return &m_Pin; }
    CFileDecoder& Decoder() { return m_Decoder; }

private:
    explicit CFileSourceFilter(HRESULT* phr);

    CCritSec m_Lock;         // the filter lock; guards m_strFile
    CFileDecoder m_Decoder;  // declared before the pin, which uses it
    CFileSourcePin m_Pin;
    std::wstring m_strFile GUARDED_BY(m_Lock);  // the loaded file, empty until Load succeeds
};
