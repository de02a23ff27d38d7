// platform/com: IUnknown, the base of every interface.
//
// Reference counting rules: a method that hands out an interface pointer
// (QueryInterface, and every "out" interface of other interfaces) adds one
// reference for the caller, who releases it. Objects are deleted on their
// last Release. No method lets an exception escape.
//
// The destructor is virtual only to keep the compiler's checks quiet for
// classes with virtual functions; objects are destroyed through Release,
// never by deleting an interface pointer.
// May include: the C++ standard library, platform/win, platform/com. No Qt.
#pragma once

#include "platform/com/guid.h"

inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual ~IUnknown() = default;
};
