// platform/win: block memory with the Win32 allocation granularity.
//
// VirtualAlloc reserves and commits one zero-filled, read-write block whose
// base is aligned to the allocation granularity (65,536 bytes), so that any
// buffer alignment up to that granularity is honoured by the pool that carves
// its buffers out of the block. VirtualFree with MEM_RELEASE gives it back.
// May include: the C++ standard library and platform/win only. No Qt.
#pragma once

#include "platform/win/win_types.h"

constexpr DWORD MEM_COMMIT = 0x00001000u;
constexpr DWORD MEM_RESERVE = 0x00002000u;
constexpr DWORD MEM_DECOMMIT = 0x00004000u;
constexpr DWORD MEM_RELEASE = 0x00008000u;
constexpr DWORD PAGE_READWRITE = 0x04u;

struct SYSTEM_INFO {
    DWORD dwPageSize;
    DWORD dwAllocationGranularity;
};

void GetSystemInfo(SYSTEM_INFO* pInfo);

// Only MEM_COMMIT | MEM_RESERVE of a fresh block (pAddress null) is supported;
// anything else, a zero size or exhausted memory answers null.
LPVOID VirtualAlloc(LPVOID pAddress, size_t cbSize, DWORD flAllocationType, DWORD flProtect);
// Only MEM_RELEASE of a whole block (cbSize 0) is supported.
BOOL VirtualFree(LPVOID pAddress, size_t cbSize, DWORD dwFreeType);
