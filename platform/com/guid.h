// platform/com: GUID, the 16-byte identifier of interfaces, classes, media
// types and formats.
//
// Constants are written from the string form into the fields, e.g.
// {B1196BCB-5763-4272-9BDD-059AF2D11930} is
// {0xB1196BCB, 0x5763, 0x4272, {0x9B, 0xDD, 0x05, 0x9A, 0xF2, 0xD1, 0x19, 0x30}};
// never from a byte array in string order. GUIDs compare as 16 raw bytes.
// May include: the C++ standard library and platform/win only. No Qt.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/win/win_types.h"

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);
static_assert(offsetof(GUID, Data1) == 0 && offsetof(GUID, Data2) == 4);
static_assert(offsetof(GUID, Data3) == 6 && offsetof(GUID, Data4) == 8);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_NULL = GUID_NULL;
inline constexpr CLSID CLSID_NULL = GUID_NULL;
