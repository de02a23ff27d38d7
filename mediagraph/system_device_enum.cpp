#include "mediagraph/system_device_enum.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "filterbase/create_unaggregated.h"
#include "mediagraph/capture_filter.h"
#include "mediagraph/virtual_camera.h"
#include "platform/win/wide_text.h"

namespace {

// Hands out a new object's interface; the object is deleted when that fails.
template <class T>
HRESULT HandOut(T* p, REFIID riid, void** ppv) {
    if (!p) return E_OUTOFMEMORY;
    p->NonDelegatingAddRef();
    const HRESULT hr = p->NonDelegatingQueryInterface(riid, ppv);
    p->NonDelegatingRelease();
    return hr;
}

}  // namespace

// ---------------------------------------------------------------------------

HRESULT CSystemDeviceEnum::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    // Its construction cannot fail but for memory.
    return CreateUnaggregated(pUnkOuter, riid, ppv,
                              [](HRESULT*) { return new (std::nothrow) CSystemDeviceEnum(); });
}

HRESULT CSystemDeviceEnum::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_ICreateDevEnum) return GetInterface(static_cast<ICreateDevEnum*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CSystemDeviceEnum::CreateClassEnumerator(REFCLSID clsidDeviceClass,
                                                 IEnumMoniker** ppEnumMoniker, DWORD) {
    if (!ppEnumMoniker) return E_POINTER;
    *ppEnumMoniker = nullptr;
    if (clsidDeviceClass != CLSID_VideoInputDeviceCategory) return S_FALSE;
    V4l2Catalogue::useEnvironment(&MakeDefaultVirtualCamera);
    std::vector<V4l2DeviceEntry> entries = V4l2Catalogue::scan();
    if (entries.empty()) return S_FALSE;
    return HandOut(new (std::nothrow) CEnumDeviceMonikers(std::move(entries), 0), IID_IEnumMoniker,
                   reinterpret_cast<void**>(ppEnumMoniker));
}

// ---------------------------------------------------------------------------

CEnumDeviceMonikers::CEnumDeviceMonikers(std::vector<V4l2DeviceEntry> entries, size_t nPos)
    : CUnknown("CEnumDeviceMonikers", nullptr), m_Entries(std::move(entries)), m_nPos(nPos) {}

HRESULT CEnumDeviceMonikers::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IEnumMoniker) return GetInterface(static_cast<IEnumMoniker*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CEnumDeviceMonikers::Next(ULONG celt, IMoniker** rgelt, ULONG* pceltFetched) {
    if (!rgelt || (celt > 1 && !pceltFetched)) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_Lock);
    ULONG n = 0;
    while (n < celt && m_nPos < m_Entries.size()) {
        IMoniker* p = nullptr;
        const HRESULT hr = HandOut(new (std::nothrow) CDeviceMoniker(m_Entries[m_nPos]),
                                   IID_IMoniker, reinterpret_cast<void**>(&p));
        if (FAILED(hr)) break;
        rgelt[n++] = p;
        ++m_nPos;
    }
    if (pceltFetched) *pceltFetched = n;
    return n == celt ? S_OK : S_FALSE;
}

HRESULT CEnumDeviceMonikers::Skip(ULONG celt) {
    std::lock_guard<std::mutex> lock(m_Lock);
    const size_t nLeft = m_Entries.size() - m_nPos;
    m_nPos += std::min<size_t>(celt, nLeft);
    return celt <= nLeft ? S_OK : S_FALSE;
}

HRESULT CEnumDeviceMonikers::Reset() {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_nPos = 0;
    return S_OK;
}

HRESULT CEnumDeviceMonikers::Clone(IEnumMoniker** ppenum) {
    if (!ppenum) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_Lock);
    return HandOut(new (std::nothrow) CEnumDeviceMonikers(m_Entries, m_nPos), IID_IEnumMoniker,
                   reinterpret_cast<void**>(ppenum));
}

// ---------------------------------------------------------------------------

CDeviceMoniker::CDeviceMoniker(V4l2DeviceEntry entry)
    : CUnknown("CDeviceMoniker", nullptr), m_Entry(std::move(entry)) {}

HRESULT CDeviceMoniker::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMoniker) return GetInterface(static_cast<IMoniker*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CDeviceMoniker::BindToObject(IBindCtx*, IMoniker*, REFIID riidResult, void** ppvResult) {
    if (!ppvResult) return E_POINTER;
    *ppvResult = nullptr;
    int err = 0;
    std::shared_ptr<V4l2DeviceNode> node = V4l2Catalogue::node(m_Entry.path, &err);
    if (!node) return CCaptureFilter::ErrnoToHr(err);
    SCaptureQuirks quirks;
    if (m_Entry.virtualDevice) {
        quirks.capsRecordSize = m_Entry.virtualDevice->config().capsRecordSize;
        quirks.runReportsFalseUntilFirstFrame =
            m_Entry.virtualDevice->config().runReportsFalseUntilFirstFrame;
    }
    HRESULT hr = S_OK;
    CCaptureFilter* pFilter = CCaptureFilter::Create(std::move(node), quirks, &hr);
    if (!pFilter) return hr;
    return HandOut(pFilter, riidResult, ppvResult);
}

HRESULT CDeviceMoniker::BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** ppvObj) {
    if (!ppvObj) return E_POINTER;
    *ppvObj = nullptr;
    if (m_Entry.virtualDevice && m_Entry.virtualDevice->config().propertyBagFails) return E_FAIL;
    return HandOut(new (std::nothrow) CDevicePropertyBag(m_Entry), riid, ppvObj);
}

// ---------------------------------------------------------------------------

CDevicePropertyBag::CDevicePropertyBag(V4l2DeviceEntry entry)
    : CUnknown("CDevicePropertyBag", nullptr), m_Entry(std::move(entry)) {}

HRESULT CDevicePropertyBag::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IPropertyBag) return GetInterface(static_cast<IPropertyBag*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CDevicePropertyBag::Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog*) {
    if (!pszPropName || !pVar) return E_POINTER;
    if (std::wcscmp(pszPropName, L"FriendlyName") != 0) return E_FAIL;
    if (m_Entry.virtualDevice && m_Entry.virtualDevice->config().nameReadFails) return E_FAIL;
    const std::wstring name = Utf8ToWide(m_Entry.card);
    BSTR b = SysAllocString(name.c_str());
    if (!b) return E_OUTOFMEMORY;
    VariantClear(pVar);
    pVar->vt = VT_BSTR;
    pVar->bstrVal = b;
    return S_OK;
}

HRESULT CDevicePropertyBag::Write(LPCOLESTR, VARIANT*) { return E_NOTIMPL; }
