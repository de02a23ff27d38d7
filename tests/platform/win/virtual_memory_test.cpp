#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "platform/win/virtual_memory.h"

TEST(VirtualMemory, BlockIsZeroedAlignedToTheGranularityAndBadRequestsFail) {
    SYSTEM_INFO si{};
    GetSystemInfo(&si);
    EXPECT_EQ(si.dwAllocationGranularity, 65536u);
    // A small block, and a 1920x1080 frame's (huge pages, 2 MiB aligned).
    for (const size_t cb : {size_t{70000}, size_t{6220800}}) {
        SCOPED_TRACE(cb);
        auto* p = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, cb, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % (cb >= (2u << 20) ? (2u << 20) : 65536), 0u);
        EXPECT_EQ(std::count(p, p + cb, 0), static_cast<std::ptrdiff_t>(cb));
        std::fill(p, p + cb, uint8_t{0xAB});  // the whole requested size is writable
        EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
        // A block of the same size after a release is zero again.
        auto* q = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, cb, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        ASSERT_NE(q, nullptr);
        EXPECT_EQ(std::count(q, q + cb, 0), static_cast<std::ptrdiff_t>(cb));
        EXPECT_TRUE(VirtualFree(q, 0, MEM_RELEASE));
    }
    EXPECT_EQ(VirtualAlloc(nullptr, SIZE_MAX, MEM_COMMIT, PAGE_READWRITE), nullptr);
    // The owning form gives an empty request one byte.
    const VirtualBlockPtr pEmpty = AllocateVirtualBlock(0);
    ASSERT_NE(pEmpty, nullptr);
    EXPECT_EQ(pEmpty[0], 0);
}
