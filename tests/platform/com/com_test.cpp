#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/com/com_runtime.h"

namespace {

// {B1196BCB-5763-4272-9BDD-059AF2D11930}
constexpr CLSID kClsidProbe = {
    0xB1196BCB, 0x5763, 0x4272, {0x9B, 0xDD, 0x05, 0x9A, 0xF2, 0xD1, 0x19, 0x30}};

TEST(Guid, FieldsLieLittleEndianAndEveryByteTakesPartInTheComparison) {
    const uint8_t expected[16] = {0xCB, 0x6B, 0x19, 0xB1, 0x63, 0x57, 0x72, 0x42,
                                  0x9B, 0xDD, 0x05, 0x9A, 0xF2, 0xD1, 0x19, 0x30};
    EXPECT_EQ(std::memcmp(&kClsidProbe, expected, 16), 0);
    for (int i = 0; i < 16; ++i) {
        GUID g = kClsidProbe;
        reinterpret_cast<uint8_t*>(&g)[i] ^= 0x01;
        EXPECT_FALSE(g == kClsidProbe) << "byte " << i;
    }
}

// A minimal counted object for the runtime tests.
struct CountedObject : IUnknown {
    LONG m_cRef = 1;
    static inline int s_nDeleted = 0;
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_cRef; }
    ULONG Release() override {
        const LONG c = --m_cRef;
        if (c == 0) {
            ++s_nDeleted;
            delete this;
        }
        return c;
    }
};

HRESULT CreateCounted(IUnknown* pOuter, REFIID riid, void** ppv) {
    if (pOuter) return CLASS_E_NOAGGREGATION;
    auto* p = new CountedObject;
    HRESULT hr = p->QueryInterface(riid, ppv);
    p->Release();
    return hr;
}

TEST(ComRuntime, CreatesOnlyRegisteredClassesOnInitialisedThreads) {
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(kClsidProbe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &pv),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(pv, nullptr);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    EXPECT_EQ(CoCreateInstance(kClsidProbe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &pv),
              REGDB_E_CLASSNOTREG);
    // Initialisation is counted per thread: this thread's does not cover another.
    HRESULT hrOther = S_OK;
    std::thread([&] {
        hrOther = CoCreateInstance(kClsidProbe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &pv);
    }).join();
    EXPECT_EQ(hrOther, CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoRegisterInprocClass(kClsidProbe, &CreateCounted), S_OK);
    CountedObject::s_nDeleted = 0;
    ASSERT_EQ(CoCreateInstance(kClsidProbe, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &pv),
              S_OK);
    static_cast<IUnknown*>(pv)->Release();
    EXPECT_EQ(CountedObject::s_nDeleted, 1);
    // The creator's failure reaches the caller with a null result.
    EXPECT_EQ(CoCreateInstance(kClsidProbe, nullptr, CLSCTX_INPROC_SERVER, kClsidProbe, &pv),
              E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);
    CoUninitialize();
}

}  // namespace
