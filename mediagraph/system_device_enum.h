// mediagraph: CSystemDeviceEnum (CLSID_SystemDeviceEnum) and the objects it
// hands out for the video input category: CEnumDeviceMonikers
// (IEnumMoniker), CDeviceMoniker (IMoniker) and CDevicePropertyBag
// (IPropertyBag).
//
// Contract:
// - CreateClassEnumerator(CLSID_VideoInputDeviceCategory) takes a snapshot
//   of the device catalogue when it is called (V4l2Catalogue::scan: the
//   nodes are opened for QUERYCAP and closed again) and answers S_OK with
//   an enumerator over it, or S_FALSE and no enumerator when there is no
//   device (or for any other category). The first call reads
//   PELORA_CAPTURE (the virtual camera for machines without one).
// - A moniker's property bag never fails for a listed device (so counts and
//   indices agree), unless a virtual camera is set up to fail; it answers
//   "FriendlyName" with the card name (UTF-8 decoded to wide text) as a
//   VT_BSTR; "Description" and other names are absent (E_FAIL).
// - BindToObject(IID_IBaseFilter) gives a capture filter over the node
//   shared for the device's path (ENOENT/ENODEV: VFW_E_NOT_FOUND; EACCES:
//   E_ACCESSDENIED).
// Threads: any; the objects hold only their snapshot entry.
// May include: the C++ standard library, platform/, filterbase/. No Qt.
#pragma once

#include <vector>

#include "filterbase/unknown.h"
#include "platform/media/capture_interfaces.h"
#include "platform/v4l2/v4l2_catalogue.h"

class CSystemDeviceEnum final : public CUnknown, public ICreateDevEnum {
public:
    static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT CreateClassEnumerator(REFCLSID clsidDeviceClass, IEnumMoniker** ppEnumMoniker,
                                  DWORD dwFlags) override;

private:
    CSystemDeviceEnum() : CUnknown("CSystemDeviceEnum", nullptr) {}
};

class CEnumDeviceMonikers final : public CUnknown, public IEnumMoniker {
public:
    CEnumDeviceMonikers(std::vector<V4l2DeviceEntry> entries, size_t nPos);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT Next(ULONG celt, IMoniker** rgelt, ULONG* pceltFetched) override;
    HRESULT Skip(ULONG celt) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumMoniker** ppenum) override;

private:
    const std::vector<V4l2DeviceEntry> m_Entries;
    std::mutex m_Lock;  // guards m_nPos
    size_t m_nPos;
};

class CDeviceMoniker final : public CUnknown, public IMoniker {
public:
    explicit CDeviceMoniker(V4l2DeviceEntry entry);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT BindToObject(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riidResult,
                         void** ppvResult) override;
    HRESULT BindToStorage(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riid, void** ppvObj) override;

private:
    const V4l2DeviceEntry m_Entry;
};

class CDevicePropertyBag final : public CUnknown, public IPropertyBag {
public:
    explicit CDevicePropertyBag(V4l2DeviceEntry entry);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) override;
    HRESULT Write(LPCOLESTR pszPropName, VARIANT* pVar) override;

private:
    const V4l2DeviceEntry m_Entry;
};
