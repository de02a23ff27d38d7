#include "platform/win/virtual_memory.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr DWORD kPageSize = 4096;
constexpr DWORD kAllocationGranularity = 65536;
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
    // aligned_alloc wants a size that is a multiple of the alignment.
    const size_t cbRounded = (cbSize + kAllocationGranularity - 1) / kAllocationGranularity *
                             size_t{kAllocationGranularity};
    if (cbRounded < cbSize) return nullptr;  // wrapped
    void* pBlock = std::aligned_alloc(kAllocationGranularity, cbRounded);
    if (pBlock) std::memset(pBlock, 0, cbRounded);
    return pBlock;
}

BOOL VirtualFree(LPVOID pAddress, size_t cbSize, DWORD dwFreeType) {
    if (!pAddress || cbSize != 0 || dwFreeType != MEM_RELEASE) return FALSE;
    std::free(pAddress);
    return TRUE;
}
