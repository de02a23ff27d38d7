// platform/com: the COM runtime calls the system makes, over our own
// in-process classes.
//
// - CoInitialize/CoInitializeEx/CoUninitialize count per thread: the first
//   successful call on a thread answers S_OK, later ones S_FALSE, and each
//   must be balanced by CoUninitialize.
// - CoCreateInstance creates a class registered with CoRegisterInprocClass
//   (components register their classes at start-up); the calling thread must
//   have initialised COM (CO_E_NOTINITIALIZED otherwise), an unknown class
//   answers REGDB_E_CLASSNOTREG.
// - Task memory is malloc/free.
// May include: the C++ standard library, platform/win, platform/com. No Qt.
#pragma once

#include <cstddef>

#include "platform/com/iunknown.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_ALL = 0x17;

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

HRESULT CoInitialize(LPVOID pReserved);
HRESULT CoInitializeEx(LPVOID pReserved, DWORD dwCoInit);
void CoUninitialize();

// Creates an object of the class, aggregated by pUnkOuter when given, and
// answers the interface riid with one reference in *ppv (null on failure).
using LPFNCREATEINSTANCE = HRESULT (*)(IUnknown* pUnkOuter, REFIID riid, void** ppv);

// Adds or replaces the creator of a class. E_POINTER for a null creator.
HRESULT CoRegisterInprocClass(REFCLSID rclsid, LPFNCREATEINSTANCE pfnCreate);
// S_OK when the class was registered, S_FALSE when it was not.
HRESULT CoUnregisterInprocClass(REFCLSID rclsid);

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv);

void* CoTaskMemAlloc(size_t cb);
void* CoTaskMemRealloc(void* pv, size_t cb);
void CoTaskMemFree(void* pv);
