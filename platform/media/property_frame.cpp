#include "platform/media/capture_interfaces.h"

HRESULT OleCreatePropertyFrame(HWND, UINT, UINT, LPCOLESTR, ULONG, IUnknown**, ULONG, const CLSID*,
                               LCID, DWORD, LPVOID) {
    return E_NOTIMPL;
}
