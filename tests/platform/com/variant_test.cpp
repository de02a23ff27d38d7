// Text variants as property bags hand them out: BSTR length and contents
// survive (embedded zeros included), and VariantClear frees and empties.
#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <thread>

#include "platform/com/variant.h"
#include "platform/win/begin_thread.h"
#include "support/watchdog.h"

namespace {

TEST(Variant, BstrKeepsLengthAndTextAndClearEmptiesTheVariant) {
    const wchar_t text[] = L"Pelora \u30ab\u30e1\u30e9";
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    ASSERT_NE(v.bstrVal, nullptr);
    EXPECT_EQ(SysStringLen(v.bstrVal), std::wcslen(text));
    EXPECT_STREQ(v.bstrVal, text);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(VariantClear(&v), S_OK);  // clearing twice is harmless

    const wchar_t withZero[] = {L'a', 0, L'b'};
    BSTR b = SysAllocStringLen(withZero, 3);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(b[2], L'b');
    EXPECT_EQ(b[3], 0);
    SysFreeString(b);
    SysFreeString(nullptr);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
}

TEST(BeginThread, RunsTheFunctionOnAnotherThread) {
    static std::atomic<std::thread::id> s_ran{};
    EXPECT_NE(_beginthread([](void*) { s_ran = std::this_thread::get_id(); }, 0, nullptr),
              static_cast<uintptr_t>(-1));
    ASSERT_TRUE(pelora_test::WaitUntil([] { return s_ran.load() != std::thread::id{}; }));
    EXPECT_NE(s_ran.load(), std::this_thread::get_id());
    EXPECT_EQ(_beginthread(nullptr, 0, nullptr), static_cast<uintptr_t>(-1));
}

}  // namespace
