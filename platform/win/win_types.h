// platform/win: the Win32 scalar types, result codes and bitmap records the
// system is written against, with the exact widths it relies on.
//
// LONG/ULONG/DWORD are exactly 32 bits here (never `long`, which is 64-bit on
// this platform); every binary record the system fixes is static_asserted.
// May include: the C++ standard library and include/pelora only. No Qt.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pelora/tavro_plugin.h"  // BITMAPINFOHEADER, RGBQUAD, BITMAPINFO

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using ULONG = uint32_t;
using UINT = uint32_t;
using LONG = int32_t;
using INT = int32_t;
using BOOL = int32_t;
using HRESULT = int32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using REFERENCE_TIME = int64_t;
using LONG_PTR = intptr_t;
using ULONG_PTR = uintptr_t;
using DWORD_PTR = uintptr_t;
using UINT_PTR = uintptr_t;
using WCHAR = wchar_t;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPVOID = void*;
using PVOID = void*;

static_assert(sizeof(LONG) == 4 && sizeof(DWORD) == 4 && sizeof(ULONG) == 4);
static_assert(sizeof(BOOL) == 4 && sizeof(HRESULT) == 4 && sizeof(REFERENCE_TIME) == 8);

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

constexpr DWORD INFINITE = 0xFFFFFFFFu;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// Result codes at or above 0x80000000 are unsigned literals in C++; each is
// converted once here so that comparisons and FAILED() see a negative value.
constexpr HRESULT MakeHr(uint32_t code) { return static_cast<HRESULT>(code); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHr(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeHr(0x80004002u);
constexpr HRESULT E_POINTER = MakeHr(0x80004003u);
constexpr HRESULT E_ABORT = MakeHr(0x80004004u);
constexpr HRESULT E_FAIL = MakeHr(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeHr(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = MakeHr(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeHr(0x80070057u);
constexpr HRESULT E_HANDLE = MakeHr(0x80070006u);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHr(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHr(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHr(0x80040154u);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeHr(0x800401F0u);

// Failure codes built from a system error number (ERROR_xxx), as the
// platform's HRESULT_FROM_WIN32 does.
constexpr HRESULT HRESULT_FROM_WIN32(DWORD err) {
    return err == 0 ? S_OK : MakeHr((err & 0x0000FFFFu) | 0x80070000u);
}

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
static_assert(sizeof(RECT) == 16);

struct POINT {
    LONG x;
    LONG y;
};

// 0x00BBGGRR, as GDI takes colours.
using COLORREF = DWORD;
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) |
           (static_cast<COLORREF>(b) << 16);
}
constexpr BYTE GetRValue(COLORREF c) { return static_cast<BYTE>(c & 0xFF); }
constexpr BYTE GetGValue(COLORREF c) { return static_cast<BYTE>((c >> 8) & 0xFF); }
constexpr BYTE GetBValue(COLORREF c) { return static_cast<BYTE>((c >> 16) & 0xFF); }
