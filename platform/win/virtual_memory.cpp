#include "platform/win/virtual_memory.h"

#include <malloc.h>
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

#if defined(__SANITIZE_ADDRESS__)
#define PELORA_EXACT_BLOCKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PELORA_EXACT_BLOCKS 1
#endif
#endif

namespace {

#ifndef PELORA_EXACT_BLOCKS
size_t RoundUp(size_t n, size_t unit) { return (n + unit - 1) / unit * unit; }

// The page before a block says which mapping holds it.
struct SBlockHeader {
    uint64_t llMagic;
    void* pMapping;
    size_t cbMapping;
};
constexpr uint64_t kBlockMagic = 0x6b636f6c426c7256ull;

// A fresh anonymous mapping: its pages are zero when first touched, so
// nothing is written up front, and pages the owner never touches (the spare
// buffers of a pool) never cost a fault or memory. The block starts on the
// alignment inside the mapping, one page after its header.
void* MapBlock(size_t cbSize, size_t cbAlign) {
    const size_t cbBlock = RoundUp(cbSize, cbAlign >= kHugePage ? kHugePage : kPageSize);
    if (cbBlock > SIZE_MAX - cbAlign - kPageSize) return nullptr;
    const size_t cbMapping = kPageSize + cbAlign + cbBlock;
    void* pMapping =
        mmap(nullptr, cbMapping, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pMapping == MAP_FAILED) return nullptr;
    const uintptr_t uBase = reinterpret_cast<uintptr_t>(pMapping);
    const uintptr_t uBlock = RoundUp(uBase + kPageSize, cbAlign);
    auto* pHeader = reinterpret_cast<SBlockHeader*>(uBlock - sizeof(SBlockHeader));
    *pHeader = SBlockHeader{kBlockMagic, pMapping, cbMapping};
    return reinterpret_cast<void*>(uBlock);
}
#endif

}  // namespace

LPVOID VirtualAlloc(LPVOID pAddress, size_t cbSize, DWORD flAllocationType, DWORD flProtect) {
    if (pAddress || cbSize == 0 || (flAllocationType & MEM_COMMIT) == 0 ||
        flProtect != PAGE_READWRITE) {
        return nullptr;
    }
    // More than a 47-bit address space can hold is never there (and a memory
    // checker would stop the process on it instead of answering null).
    if (cbSize > (size_t{1} << 47)) return nullptr;
    const bool bHuge = cbSize >= kHugePage;
    const size_t cbAlign = bHuge ? kHugePage : kAllocationGranularity;
#ifdef PELORA_EXACT_BLOCKS
    // Under the address checker: exactly the bytes asked for, from the
    // checked heap, so that a write past the block is reported. Only whole
    // huge pages inside it are advised.
    void* pBlock = nullptr;
    if (posix_memalign(&pBlock, cbAlign, cbSize) != 0) return nullptr;
    std::memset(pBlock, 0, cbSize);
    const size_t cbHuge = cbSize / kHugePage * kHugePage;
#else
    // The mapping runs to the end of the last huge page, so that the tail of
    // the block faults in as one huge page too (a 1080p frame's last 2.2 MB
    // would otherwise cost some 550 small faults).
    void* pBlock = MapBlock(cbSize, cbAlign);
    if (!pBlock) return nullptr;
    const size_t cbHuge = RoundUp(cbSize, kHugePage);
#endif
    // A kernel without huge pages (or with them switched off) keeps small
    // pages, which is no error.
    if (bHuge) madvise(pBlock, cbHuge, MADV_HUGEPAGE);
    return pBlock;
}

VirtualBlockPtr AllocateVirtualBlock(size_t cbSize) {
    return VirtualBlockPtr(static_cast<BYTE*>(
        VirtualAlloc(nullptr, cbSize == 0 ? 1 : cbSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)));
}

BOOL VirtualFree(LPVOID pAddress, size_t cbSize, DWORD dwFreeType) {
    if (!pAddress || cbSize != 0 || dwFreeType != MEM_RELEASE) return FALSE;
#ifdef PELORA_EXACT_BLOCKS
    std::free(pAddress);
    return TRUE;
#else
    const auto* pHeader = reinterpret_cast<const SBlockHeader*>(
        reinterpret_cast<uintptr_t>(pAddress) - sizeof(SBlockHeader));
    if (pHeader->llMagic != kBlockMagic) return FALSE;
    const SBlockHeader header = *pHeader;
    return munmap(header.pMapping, header.cbMapping) == 0 ? TRUE : FALSE;
#endif
}

void KeepFreedBlocksForReuse() {
    // Blocks below 32 MiB (the largest threshold the allocator takes) come
    // from the heap; freed memory at its top is returned only beyond 256 MiB.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
}
