// platform/win: window handles and InvalidateRect.
//
// There are no native windows below the GUI. A GUI window that other
// threads must be able to repaint registers itself here and gets an opaque
// HWND; code without Qt (the grab renderer, the worker core) keeps that
// handle and calls InvalidateRect on it from any thread.
//
// Contract:
// - RegisterWindowHandle (GUI thread) stores a plain callback and its
//   context under a fresh handle. Handles are never reused, so a handle kept
//   after its window closed can never reach another window.
// - InvalidateRect may be called on any thread, with any other locks held.
//   It calls the window's callback on the calling thread and returns when
//   the callback returns. The callback must only mark the window for a
//   repaint (e.g. post a queued repaint to the GUI thread) and return at
//   once: it must not wait for the GUI thread, take locks that may be held
//   by a caller of InvalidateRect, or call back into this registry.
// - A null, unknown or unregistered handle is a no-op (FALSE).
// - UnregisterWindowHandle (GUI thread, before the window's context dies)
//   removes the handle; when it returns, the callback is neither running
//   nor ever called again for that handle. It waits only for callbacks in
//   progress, which return at once by the rule above.
// - Lock: one registry lock (shared for InvalidateRect and IsWindow,
//   exclusive for registering and unregistering). It is a leaf except for
//   the callback, which runs under the shared lock.
// May include: the C++ standard library and platform/win only. No Qt.
#pragma once

#include "platform/win/win_types.h"

struct HWND__;
using HWND = HWND__*;

// Called by InvalidateRect with the context given at registration.
using PFN_WINDOW_REPAINT = void (*)(void* pContext);

// A new handle for a window, or null if pfnRepaint is null or out of memory.
HWND RegisterWindowHandle(PFN_WINDOW_REPAINT pfnRepaint, void* pContext);
// Removes the handle; null and unknown handles are ignored.
void UnregisterWindowHandle(HWND hWnd);
// TRUE while the handle is registered.
BOOL IsWindow(HWND hWnd);
// Asks the window to repaint. The rectangle and the erase flag are accepted
// for the platform's signature; the whole window is always repainted.
// TRUE when a registered window was asked, FALSE for a null or closed one.
BOOL InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase);
