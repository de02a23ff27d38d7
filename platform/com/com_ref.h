// platform/com: CComRef<T>, an owning holder of one COM reference.
//
// How the reference is obtained is spelled out at construction:
//   CComRef<IPin> a(pPin, AddRefTag);  // borrowed pointer: take a new reference
//   CComRef<IPin> b(pPin, AdoptTag);   // we already own one reference: keep it
// Out parameters go through Receive(), which releases any held reference and
// hands out the slot: pFilter->EnumPins(pins.Receive()).
// May include: the C++ standard library, platform/win, platform/com. No Qt.
#pragma once

#include <utility>

#include "platform/com/iunknown.h"

struct AdoptRefTag_t {};
struct AddRefTag_t {};
inline constexpr AdoptRefTag_t AdoptTag{};
inline constexpr AddRefTag_t AddRefTag{};

template <class T>
class CComRef {
public:
    CComRef() = default;
    CComRef(T* p, AdoptRefTag_t) : m_p(p) {}
    CComRef(T* p, AddRefTag_t) : m_p(p) {
        if (m_p) m_p->AddRef();
    }
    CComRef(const CComRef& other) : CComRef(other.m_p, AddRefTag) {}
    CComRef(CComRef&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    CComRef& operator=(const CComRef& other) {
        if (this != &other) Reset(other.m_p, AddRefTag);
        return *this;
    }
    CComRef& operator=(CComRef&& other) noexcept {
        if (this != &other) {
            Release();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }
    ~CComRef() { Release(); }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    void Reset(T* p, AdoptRefTag_t) {
        T* pOld = std::exchange(m_p, p);
        if (pOld) pOld->Release();
    }
    void Reset(T* p, AddRefTag_t) {
        if (p) p->AddRef();
        Reset(p, AdoptTag);
    }
    void Release() { Reset(nullptr, AdoptTag); }

    // Gives up ownership: the caller now owns the reference.
    T* Detach() { return std::exchange(m_p, nullptr); }

    // For out parameters that hand us one reference.
    T** Receive() {
        Release();
        return &m_p;
    }

    // QueryInterface into another holder; the result owns its reference.
    template <class U>
    HRESULT QueryInto(REFIID riid, CComRef<U>* pOut) const {
        if (!m_p) return E_POINTER;
        return m_p->QueryInterface(riid, reinterpret_cast<void**>(pOut->Receive()));
    }

private:
    T* m_p = nullptr;
};
