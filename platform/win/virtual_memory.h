// platform/win: block memory with the Win32 allocation granularity.
//
// VirtualAlloc reserves and commits one zero-filled, read-write block whose
// base is aligned to the allocation granularity (65,536 bytes; 2 MiB for
// blocks of 2 MiB or more, which ask for huge pages), so that any
// buffer alignment up to that granularity is honoured by the pool that carves
// its buffers out of the block. VirtualFree with MEM_RELEASE gives it back.
// A block is a fresh mapping of its own, zero without being written, so pages
// nobody touches cost neither time nor memory; under the address checker it
// is an exact-size heap block instead, so that a write past it is reported.
// May include: the C++ standard library and platform/win only. No Qt.
#pragma once

#include <cstddef>
#include <memory>

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

// Frame-size buffers: a block of VirtualAlloc owned like a unique_ptr (zero
// filled, huge pages from 2 MiB on), given back with VirtualFree.
struct SVirtualBlockDeleter {
    void operator()(BYTE* p) const {
        if (p) VirtualFree(p, 0, MEM_RELEASE);
    }
};
using VirtualBlockPtr = std::unique_ptr<BYTE[], SVirtualBlockDeleter>;
// cbSize bytes (a block of 1 byte for 0), or null when memory is exhausted.
VirtualBlockPtr AllocateVirtualBlock(size_t cbSize);

// Keeps the heap's freed blocks in the process for reuse, up to a few
// hundred MiB, instead of handing every freed block of more than 128 KiB back
// to the system: a first touch of fresh memory costs about a millisecond per
// MiB on a virtual machine, and opening a video frees and allocates many
// frame-size blocks (the format probe's decoder, then the worker's). Call
// once, at start-up, before other threads exist.
void KeepFreedBlocksForReuse();
