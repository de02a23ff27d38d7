// platform/win: _beginthread, the run-time's start of a detached thread.
//
// The thread runs pfnStart(pArg) and ends when it returns; nobody joins it,
// so whatever it uses must stay alive on its own (the caller hands it
// references it owns). The stack size is accepted for the signature and
// ignored (0 means the default). Returns a non-zero value on success and
// (uintptr_t)-1 when no thread could be started.
// May include: the C++ standard library and platform/win only. No Qt.
#pragma once

#include <cstdint>

using PFN_BEGINTHREAD_START = void (*)(void* pArg);

uintptr_t _beginthread(PFN_BEGINTHREAD_START pfnStart, unsigned nStackSize, void* pArg);
