// filterbase: the media filter framework. Objects, filters and pins,
// enumerators, media types, allocators and samples, position pass-through;
// the renderer base builds on these. May include: the C++ standard library
// and platform/ (win, com, media). Never Qt.
//
// CUnknown: the non-delegating IUnknown of every framework object.
//
// Contract:
// - A new object has reference count 0; the creator takes the first
//   reference (usually through QueryInterface or AddRef of an interface).
//   The object deletes itself on its last NonDelegatingRelease; the count is
//   set to 1 first so that a destructor that hands out and drops a reference
//   to itself does not delete it twice.
// - Every interface of an object forwards QueryInterface, AddRef and Release
//   to the outer unknown (GetOwner()): the object itself when it is not
//   aggregated, otherwise the aggregating object, which then owns the
//   lifetime.
// - Counts use atomic operations; any thread may add or drop references.
// - ObjectsActive() is the process-wide number of live framework objects
//   (constructed and not yet destroyed); tests use it as the leak check.
#pragma once

#include <atomic>

#include "platform/com/iunknown.h"

struct INonDelegatingUnknown {
    virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG NonDelegatingAddRef() = 0;
    virtual ULONG NonDelegatingRelease() = 0;
    virtual ~INonDelegatingUnknown() = default;
};

// Declares the three IUnknown methods of a class with interfaces, forwarding
// to its outer unknown.
#define DECLARE_IUNKNOWN                                       \
    HRESULT QueryInterface(REFIID riid, void** ppv) override { \
        return GetOwner()->QueryInterface(riid, ppv);          \
    }                                                          \
    ULONG AddRef() override { return GetOwner()->AddRef(); }   \
    ULONG Release() override { return GetOwner()->Release(); }

class CUnknown : public INonDelegatingUnknown {
public:
    // pName describes the object for diagnostics; it is not copied and must
    // be a string literal or outlive the object. pUnk is the aggregating
    // object or null. CUnknown itself cannot fail; phr is left unchanged.
    CUnknown(const char* pName, IUnknown* pUnk);
    CUnknown(const char* pName, IUnknown* pUnk, HRESULT* phr);
    ~CUnknown() override;
    CUnknown(const CUnknown&) = delete;
    CUnknown& operator=(const CUnknown&) = delete;

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    IUnknown* GetOwner() const { return m_pUnknown; }
    const char* ObjectName() const { return m_pObjectName; }

    static LONG ObjectsActive() { return s_cActiveObjects.load(); }

protected:
    // A reference on the owner for a callback (another thread) that may
    // outlive every other reference; release it with GetOwner()->Release().
    // False, and no reference, while the count is 0: the object's final
    // release is under way and its destructor waits for such callbacks.
    bool TryAddRefOwner();

    // The reference count; starts at 0.
    std::atomic<LONG> m_cRef{0};

private:
    // The IUnknown of a non-aggregated object: routes to the non-delegating
    // methods, so that the object's own IUnknown identity is this member.
    class CNonDelegatingIUnknown : public IUnknown {
    public:
        explicit CNonDelegatingIUnknown(CUnknown* pOwner) : m_pOwner(pOwner) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) override {
            return m_pOwner->NonDelegatingQueryInterface(riid, ppv);
        }
        ULONG AddRef() override { return m_pOwner->NonDelegatingAddRef(); }
        ULONG Release() override { return m_pOwner->NonDelegatingRelease(); }

    private:
        CUnknown* m_pOwner;
    };

    const char* m_pObjectName;
    CNonDelegatingIUnknown m_NonDelegating{this};
    IUnknown* const m_pUnknown;  // outer unknown; never changes

    static inline std::atomic<LONG> s_cActiveObjects{0};
};

// Hands out pUnk as the answer of a QueryInterface, with a reference for the
// caller (taken through pUnk, so it reaches the outer unknown).
HRESULT GetInterface(IUnknown* pUnk, void** ppv);
