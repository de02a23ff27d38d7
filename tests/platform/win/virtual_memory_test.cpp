#include <gtest/gtest.h>

#include <cstdint>

#include "platform/win/virtual_memory.h"

TEST(VirtualMemory, BlockIsZeroedAlignedToTheGranularityAndBadRequestsFail) {
    SYSTEM_INFO si{};
    GetSystemInfo(&si);
    EXPECT_EQ(si.dwAllocationGranularity, 65536u);
    auto* p = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, 70000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 65536, 0u);
    size_t nNonZero = 0;
    for (size_t i = 0; i < 70000; ++i) nNonZero += p[i] != 0;
    EXPECT_EQ(nNonZero, 0u);
    p[69999] = 1;  // the whole requested size is writable
    EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));

    EXPECT_EQ(VirtualAlloc(nullptr, SIZE_MAX, MEM_COMMIT, PAGE_READWRITE), nullptr);
}
