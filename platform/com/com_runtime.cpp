#include "platform/com/com_runtime.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

namespace {

// Number of unbalanced CoInitialize calls on this thread.
thread_local LONG t_cInitialized = 0;

struct ClassEntry {
    CLSID clsid;
    LPFNCREATEINSTANCE pfnCreate;
};

// The class registry; guarded by RegistryLock().
std::vector<ClassEntry>& Registry() {
    static std::vector<ClassEntry> s_Registry;
    return s_Registry;
}
std::mutex& RegistryLock() {
    static std::mutex s_Lock;
    return s_Lock;
}

}  // namespace

HRESULT CoInitialize(LPVOID pReserved) {
    return CoInitializeEx(pReserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(LPVOID, DWORD) { return t_cInitialized++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
    if (t_cInitialized > 0) --t_cInitialized;
}

HRESULT CoRegisterInprocClass(REFCLSID rclsid, LPFNCREATEINSTANCE pfnCreate) {
    if (!pfnCreate) return E_POINTER;
    try {
        std::lock_guard<std::mutex> lock(RegistryLock());
        for (ClassEntry& e : Registry()) {
            if (e.clsid == rclsid) {
                e.pfnCreate = pfnCreate;
                return S_OK;
            }
        }
        Registry().push_back({rclsid, pfnCreate});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CoUnregisterInprocClass(REFCLSID rclsid) {
    std::lock_guard<std::mutex> lock(RegistryLock());
    auto& reg = Registry();
    for (auto it = reg.begin(); it != reg.end(); ++it) {
        if (it->clsid == rclsid) {
            reg.erase(it);
            return S_OK;
        }
    }
    return S_FALSE;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (t_cInitialized == 0) return CO_E_NOTINITIALIZED;
    // Only in-process classes exist here.
    if ((dwClsContext & CLSCTX_INPROC) == 0) return REGDB_E_CLASSNOTREG;
    // An aggregated object must be asked for its IUnknown first.
    if (pUnkOuter && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    LPFNCREATEINSTANCE pfnCreate = nullptr;
    {
        std::lock_guard<std::mutex> lock(RegistryLock());
        for (const ClassEntry& e : Registry()) {
            if (e.clsid == rclsid) pfnCreate = e.pfnCreate;
        }
    }
    if (!pfnCreate) return REGDB_E_CLASSNOTREG;
    // The creator is called outside the registry lock: it may register or
    // create other classes itself.
    HRESULT hr = pfnCreate(pUnkOuter, riid, ppv);
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
}

void* CoTaskMemAlloc(size_t cb) { return std::malloc(cb); }
void* CoTaskMemRealloc(void* pv, size_t cb) { return std::realloc(pv, cb); }
void CoTaskMemFree(void* pv) { std::free(pv); }
