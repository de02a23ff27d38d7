/*
 * Pelora processing plug-in interface.
 *
 * A plug-in is a shared library (Tavro.so) that exports one C function,
 * TavroFunc. Pelora calls it once for every frame it processes, from its
 * worker thread, one call at a time:
 *
 *     TavroFunc(output, input, format);
 *
 *  - input:  H * stride bytes of 24-bit pixels, bottom-up rows, blue-green-red
 *            byte order, each row padded with zero to four bytes;
 *            stride = 3*W + pad, pad = (4 - (3*W mod 4)) mod 4, as
 *            TavroRowStride(W) below computes it. Only read.
 *  - output: a distinct buffer of at least H * stride bytes, same layout; the
 *            plug-in should write all of it, padding bytes included.
 *  - format: the frame's 44-byte BITMAPINFO, passed by value
 *            (W = bmiHeader.biWidth, H = bmiHeader.biHeight, 24 bits).
 *
 * The result is ignored by Pelora (the plug-in delivered with Pelora returns 0
 * when it wrote the frame and -1 when it left the output untouched). A plug-in
 * must not let a C++ exception escape TavroFunc. Build with -fvisibility=hidden
 * and mark only TavroFunc with TAVRO_EXPORT so that it is the one exported
 * symbol; a plug-in source defines TAVRO_PLUGIN_IMPLEMENTATION before
 * including this header so that its definition is checked against the
 * prototype below.
 *
 * This header is plain C and has no dependency on anything of Pelora.
 */
#ifndef PELORA_TAVRO_PLUGIN_H
#define PELORA_TAVRO_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef PELORA_BITMAP_TYPES_DEFINED
#define PELORA_BITMAP_TYPES_DEFINED
/* Device-independent bitmap header: 40 bytes, fields at fixed offsets. */
typedef struct tagBITMAPINFOHEADER {
    uint32_t biSize;         /* 0:  40 */
    int32_t biWidth;         /* 4:  W in pixels */
    int32_t biHeight;        /* 8:  H in rows; positive = bottom-up */
    uint16_t biPlanes;       /* 12: 1 */
    uint16_t biBitCount;     /* 14: 24 */
    uint32_t biCompression;  /* 16: BI_RGB (0) */
    uint32_t biSizeImage;    /* 20: H * stride */
    int32_t biXPelsPerMeter; /* 24 */
    int32_t biYPelsPerMeter; /* 28 */
    uint32_t biClrUsed;      /* 32 */
    uint32_t biClrImportant; /* 36 */
} BITMAPINFOHEADER;

/* One colour-table entry: blue, green, red, reserved. */
typedef struct tagRGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
} RGBQUAD;

/* The frame format record: header plus one (unused, zero) colour entry. */
typedef struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO;

#define BI_RGB 0u
#define BI_BITFIELDS 3u
#endif /* PELORA_BITMAP_TYPES_DEFINED */

#ifdef __cplusplus
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14, "biBitCount at 14");
static_assert(offsetof(BITMAPINFOHEADER, biCompression) == 16, "biCompression at 16");
static_assert(offsetof(BITMAPINFOHEADER, biClrImportant) == 36, "biClrImportant at 36");
static_assert(sizeof(BITMAPINFO) == 44, "BITMAPINFO is 44 bytes");
#else
_Static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");
_Static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14, "biBitCount at 14");
_Static_assert(offsetof(BITMAPINFOHEADER, biCompression) == 16, "biCompression at 16");
_Static_assert(offsetof(BITMAPINFOHEADER, biClrImportant) == 36, "biClrImportant at 36");
_Static_assert(sizeof(BITMAPINFO) == 44, "BITMAPINFO is 44 bytes");
#endif

#define TAVRO_EXPORT __attribute__((visibility("default")))

/* The one export. The name Pelora looks up with dlsym. */
#define TAVRO_FUNC_NAME "TavroFunc"

/* The plug-in's file name, looked up next to the pelora executable. */
#define TAVRO_FILE_NAME "Tavro.so"

typedef int32_t (*TAVROFUNC)(uint8_t* pOutput, const uint8_t* pInput, BITMAPINFO bmi);

/* Bytes per row of a frame W pixels wide: 3*W rounded up to a multiple of
 * four. A frame is H times this; the bytes after the 3*W pixel bytes of a row
 * are padding. In 64 bits, so that no int32_t width overflows it. */
static inline int64_t TavroRowStride(int32_t nWidth) {
    return (3 * (int64_t)nWidth + 3) & ~(int64_t)3;
}

#ifdef TAVRO_PLUGIN_IMPLEMENTATION
/* The export itself, as a plug-in defines it (noexcept in C++: an exception
 * must not cross the C boundary). */
#ifdef __cplusplus
TAVRO_EXPORT int32_t TavroFunc(uint8_t* pOutput, const uint8_t* pInput, BITMAPINFO bmi) noexcept;
#else
TAVRO_EXPORT int32_t TavroFunc(uint8_t* pOutput, const uint8_t* pInput, BITMAPINFO bmi);
#endif
#endif

#ifdef __cplusplus
}
#endif

#endif /* PELORA_TAVRO_PLUGIN_H */
