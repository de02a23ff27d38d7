#include "platform/win/virtual_memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {
constexpr DWORD kPageSize = 4096;
constexpr DWORD kAllocationGranularity = 65536;
// Blocks of this size or more start on a huge-page boundary and ask for huge
// pages: a first touch of fresh memory faults in 4 KiB pages otherwise, and a
// 1080p frame's 1,500 faults cost milliseconds each time a graph starts.
constexpr size_t kHugePage = size_t{2} << 20;
}  // namespace

void GetSystemInfo(SYSTEM_INFO* pInfo) {
    if (!pInfo) return;
    pInfo->dwPageSize = kPageSize;
    pInfo->dwAllocationGranularity = kAllocationGranularity;
}

LPVOID VirtualAlloc(LPVOID pAddress, size_t cbSize, DWORD flAllocationType, DWORD flProtect) {
    if (pAddress || cbSize == 0 || (flAllocationType & MEM_COMMIT) == 0 ||
        flProtect != PAGE_READWRITE) {
        return nullptr;
    }
    // More than a 47-bit address space can hold is never there (and a memory
    // checker would stop the process on it instead of answering null).
    if (cbSize > (size_t{1} << 47)) return nullptr;
    // Exactly the bytes asked for (no rounding up to the granularity), so
    // that a memory checker sees a write past the block.
    const bool bHuge = cbSize >= kHugePage;
    void* pBlock = nullptr;
    if (posix_memalign(&pBlock, bHuge ? kHugePage : kAllocationGranularity, cbSize) != 0) {
        return nullptr;
    }
    // Only whole huge pages inside the block are advised; a kernel without
    // them (or with them switched off) keeps small pages, which is no error.
    if (bHuge) madvise(pBlock, cbSize / kHugePage * kHugePage, MADV_HUGEPAGE);
    std::memset(pBlock, 0, cbSize);
    return pBlock;
}

VirtualBlockPtr AllocateVirtualBlock(size_t cbSize) {
    return VirtualBlockPtr(static_cast<BYTE*>(
        VirtualAlloc(nullptr, cbSize == 0 ? 1 : cbSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)));
}

BOOL VirtualFree(LPVOID pAddress, size_t cbSize, DWORD dwFreeType) {
    if (!pAddress || cbSize != 0 || dwFreeType != MEM_RELEASE) return FALSE;
    std::free(pAddress);
    return TRUE;
}
