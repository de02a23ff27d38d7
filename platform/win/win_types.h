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
using HANDLE = void*;
using LCID = uint32_t;

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
constexpr HRESULT E_ACCESSDENIED = MakeHr(0x80070005u);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHr(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHr(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHr(0x80040154u);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeHr(0x800401F0u);

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHr(0x80020001u);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MakeHr(0x8002802Bu);

// Media framework result codes. Each is defined here and nowhere else.
constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MakeHr(0x80040200u);
constexpr HRESULT VFW_E_INVALIDSUBTYPE = MakeHr(0x80040201u);
constexpr HRESULT VFW_E_NEED_OWNER = MakeHr(0x80040202u);
constexpr HRESULT VFW_E_ENUM_OUT_OF_SYNC = MakeHr(0x80040203u);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeHr(0x80040204u);
constexpr HRESULT VFW_E_FILTER_ACTIVE = MakeHr(0x80040205u);
constexpr HRESULT VFW_E_NO_TYPES = MakeHr(0x80040206u);
constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MakeHr(0x80040207u);
constexpr HRESULT VFW_E_INVALID_DIRECTION = MakeHr(0x80040208u);
constexpr HRESULT VFW_E_NOT_CONNECTED = MakeHr(0x80040209u);
constexpr HRESULT VFW_E_NO_ALLOCATOR = MakeHr(0x8004020Au);
constexpr HRESULT VFW_E_RUNTIME_ERROR = MakeHr(0x8004020Bu);
constexpr HRESULT VFW_E_BUFFER_NOTSET = MakeHr(0x8004020Cu);
constexpr HRESULT VFW_E_BUFFER_OVERFLOW = MakeHr(0x8004020Du);
constexpr HRESULT VFW_E_BADALIGN = MakeHr(0x8004020Eu);
constexpr HRESULT VFW_E_ALREADY_COMMITTED = MakeHr(0x8004020Fu);
constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = MakeHr(0x80040210u);
constexpr HRESULT VFW_E_NOT_COMMITTED = MakeHr(0x80040211u);
constexpr HRESULT VFW_E_SIZENOTSET = MakeHr(0x80040212u);
constexpr HRESULT VFW_E_NO_CLOCK = MakeHr(0x80040213u);
constexpr HRESULT VFW_E_NOT_FOUND = MakeHr(0x80040216u);
constexpr HRESULT VFW_E_CANNOT_CONNECT = MakeHr(0x80040217u);
constexpr HRESULT VFW_E_CANNOT_RENDER = MakeHr(0x80040218u);
constexpr HRESULT VFW_E_STATE_CHANGED = MakeHr(0x80040223u);
constexpr HRESULT VFW_E_NOT_STOPPED = MakeHr(0x80040224u);
constexpr HRESULT VFW_E_NOT_PAUSED = MakeHr(0x80040225u);
constexpr HRESULT VFW_E_NOT_RUNNING = MakeHr(0x80040226u);
constexpr HRESULT VFW_E_WRONG_STATE = MakeHr(0x80040227u);
constexpr HRESULT VFW_E_START_TIME_AFTER_END = MakeHr(0x80040228u);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeHr(0x8004022Au);
constexpr HRESULT VFW_E_SAMPLE_REJECTED = MakeHr(0x8004022Bu);
constexpr HRESULT VFW_E_TIMEOUT = MakeHr(0x8004022Eu);
constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = MakeHr(0x80040249u);
constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = MakeHr(0x80040251u);
constexpr HRESULT VFW_E_NO_TIME_FORMAT_SET = MakeHr(0x80040252u);
constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = MakeHr(0x80040265u);
constexpr HRESULT VFW_E_DUPLICATE_NAME = MakeHr(0x8004025Au);
constexpr HRESULT VFW_E_NOT_IN_GRAPH = MakeHr(0x8004025Fu);
constexpr HRESULT VFW_S_STATE_INTERMEDIATE = MakeHr(0x00040237u);
constexpr HRESULT VFW_S_NO_STOP_TIME = MakeHr(0x00040270u);
constexpr HRESULT VFW_S_DUPLICATE_NAME = MakeHr(0x0004022Du);
constexpr HRESULT VFW_S_CANT_CUE = MakeHr(0x00040268u);

// Graph event codes (IMediaEventSink::Notify). EC_COMPLETE carries the
// filter's IBaseFilter pointer in its second parameter.
constexpr LONG EC_COMPLETE = 0x01;
constexpr LONG EC_USERABORT = 0x02;
constexpr LONG EC_ERRORABORT = 0x03;
constexpr LONG EC_TIME = 0x04;
constexpr LONG EC_REPAINT = 0x05;
constexpr LONG EC_STREAM_ERROR_STOPPED = 0x06;
constexpr LONG EC_STREAM_ERROR_STILLPLAYING = 0x07;
constexpr LONG EC_ERROR_STILLPLAYING = 0x08;
constexpr LONG EC_VIDEO_SIZE_CHANGED = 0x0A;
constexpr LONG EC_QUALITY_CHANGE = 0x0B;
constexpr LONG EC_SHUTTING_DOWN = 0x0C;
constexpr LONG EC_CLOCK_CHANGED = 0x0D;
constexpr LONG EC_PAUSED = 0x0E;
constexpr LONG EC_WINDOW_DESTROYED = 0x15;

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

struct SIZE {
    LONG cx;
    LONG cy;
};
static_assert(sizeof(SIZE) == 8);

// 0x00BBGGRR, as GDI takes colours.
using COLORREF = DWORD;
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) |
           (static_cast<COLORREF>(b) << 16);
}
constexpr BYTE GetRValue(COLORREF c) { return static_cast<BYTE>(c & 0xFF); }
constexpr BYTE GetGValue(COLORREF c) { return static_cast<BYTE>((c >> 8) & 0xFF); }
constexpr BYTE GetBValue(COLORREF c) { return static_cast<BYTE>((c >> 16) & 0xFF); }
