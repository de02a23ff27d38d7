#include "mediagraph/file_source_filter.h"

#include <new>

#include "filterbase/create_unaggregated.h"
#include "filterbase/media_type.h"
#include "platform/com/com_runtime.h"
#include "platform/media/media_guids.h"
#include "platform/win/wide_text.h"

CFileSourceFilter::CFileSourceFilter(HRESULT* phr)
    : CBaseFilter("CFileSourceFilter", nullptr, &m_Lock, CLSID_PeloraFileSource, phr),
      m_Pin(this, &m_Lock, phr) {}

CFileSourceFilter::~CFileSourceFilter() = default;

HRESULT CFileSourceFilter::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    return CreateUnaggregated(pUnkOuter, riid, ppv, [](HRESULT* phr) {
        return new (std::nothrow) CFileSourceFilter(phr);
    });
}

HRESULT CFileSourceFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IFileSourceFilter)
        return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CFileSourceFilter::Load(LPCWSTR pszFileName, const AM_MEDIA_TYPE*) {
    if (!pszFileName) return E_POINTER;
    std::string strPath;
    if (!WideToUtf8(pszFileName, &strPath) || strPath.empty()) return E_INVALIDARG;
    CAutoLock lock(&m_Lock);
    if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!m_strFile.empty() || m_Decoder.IsOpen()) return VFW_E_WRONG_STATE;
    const HRESULT hr = m_Decoder.Open(strPath);
    if (FAILED(hr)) {
        m_Decoder.Close();
        return hr;
    }
    m_strFile = pszFileName;
    return S_OK;
}

HRESULT CFileSourceFilter::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) {
    if (!ppszFileName) return E_POINTER;
    *ppszFileName = nullptr;
    CAutoLock lock(&m_Lock);
    if (m_strFile.empty()) return E_FAIL;
    const size_t cb = (m_strFile.size() + 1) * sizeof(wchar_t);
    auto* pName = static_cast<LPOLESTR>(CoTaskMemAlloc(cb));
    if (!pName) return E_OUTOFMEMORY;
    std::copy(m_strFile.c_str(), m_strFile.c_str() + m_strFile.size() + 1, pName);
    if (pmt) {
        CMediaType mt;
        HRESULT hr = m_Pin.GetMediaType(0, &mt);
        if (SUCCEEDED(hr)) hr = CopyMediaType(pmt, &mt);
        if (FAILED(hr)) {
            CoTaskMemFree(pName);
            return hr;
        }
    }
    *ppszFileName = pName;
    return S_OK;
}

CBasePin* CFileSourceFilter::GetPin(int n) { return n == 0 ? &m_Pin : nullptr; }

HRESULT CFileSourceFilter::SetSyncSource(IReferenceClock* pClock) {
    const HRESULT hr = CBaseFilter::SetSyncSource(pClock);
    if (SUCCEEDED(hr)) m_Pin.SetStraightThrough(pClock == nullptr);
    return hr;
}
