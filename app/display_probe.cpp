#include "app/display_probe.h"

#include <dlfcn.h>

bool XDisplayAnswers(const char* pszDisplay) {
    if (pszDisplay == nullptr || *pszDisplay == '\0') return false;
    void* pLib = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (pLib == nullptr) return true;
    using ConnectFn = void* (*)(const char*, int*);
    using HasErrorFn = int (*)(void*);
    using DisconnectFn = void (*)(void*);
    auto pConnect = reinterpret_cast<ConnectFn>(dlsym(pLib, "xcb_connect"));
    auto pHasError = reinterpret_cast<HasErrorFn>(dlsym(pLib, "xcb_connection_has_error"));
    auto pDisconnect = reinterpret_cast<DisconnectFn>(dlsym(pLib, "xcb_disconnect"));
    bool bAnswers = true;
    if (pConnect && pHasError && pDisconnect) {
        // xcb_connect never returns null: a failed connection is an object
        // in the error state, which is disconnected (freed) all the same.
        void* pConnection = pConnect(pszDisplay, nullptr);
        bAnswers = pHasError(pConnection) == 0;
        pDisconnect(pConnection);
    }
    dlclose(pLib);
    return bAnswers;
}
