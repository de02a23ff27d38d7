// app: still image readers for the image Open command and the headless runner.
//
// ReadBmpImage and ReadCsvImage read a Windows bitmap file or a CSV grid of
// grey values into a device-independent bitmap: a header block (a 40-byte
// BITMAPINFOHEADER followed by its colour table, or by four spare bytes) and a
// pixel buffer, both owned by the caller afterwards.
//
// The readers never trust the file: every size is checked against the file and
// against the image it describes before anything is allocated or copied, and a
// refused file leaves all four outputs untouched. The result says why a file
// was refused; ImageReadMessage turns that into the message the user sees.
//
// Plain C++ on purpose (no Qt): the GUI, the headless runner and the fuzzers
// all call the same code. The CSV reader asks its one question (whether to
// place the grid on a 512x480 canvas) through a callback; the GUI answers it
// with a message box, the headless runner from its command line.
// Called on whichever thread the caller likes; the readers share no state.
// May include: the C++ standard library and platform/win only.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "platform/win/win_types.h"

// Why a reader (or ConvertImageToFrame) refused an image.
enum class EImageStatus {
    Ok,
    OpenFailed,      // the file could not be opened
    ReadFailed,      // the file could not be read to the end of what it claims
    Truncated,       // the file is shorter than its headers or its bfSize say
    BadOffset,       // bfOffBits lies inside the file or info header, or beyond bfSize
    BadBitCount,     // biBitCount other than 1, 4, 8, 16, 24, 32
    Compressed,      // biCompression other than BI_RGB (RLE, bit fields, ...)
    BadDimensions,   // width or height zero, width negative, or a side above kMaxImageSide
    PixelDataShort,  // bfSize - bfOffBits is less than the rows of the image need
    TooLarge,        // the pixel data does not fit a 32-bit size
    BadHeader,       // a header block too short for its own colour table (conversion only)
    OldInfoHeader,   // an info header smaller than 40 bytes (the old 12-byte layout)
    BadCsvSize,      // CSV width or height zero, negative or above kMaxImageSide
};

enum class EImageFileKind { Bitmap, Csv };

// The largest width or height either reader accepts.
constexpr INT kMaxImageSide = 16384;

// Canvas of the CSV reader's "Yes" answer.
constexpr INT kCanvasWidth = 512;
constexpr INT kCanvasHeight = 480;

// The question the CSV reader asks when the grid's origin is not (0, 0).
extern const char* const kCanvasQuestion;  // "512×480画像にしますか？"

// Answers the canvas question: true = Yes (512x480 canvas), false = No (the
// grid at its own size). An empty function answers No.
using CanvasQuestion = std::function<bool(const std::string& question)>;

// Size of the colour table that follows the info header: 4 * 2^bits below 16
// bits, none above. bits must be one of 1, 4, 8, 16, 24, 32.
INT ColorTableSize(int nBitCount);

// Bytes of one pixel row of a bitmap: rows are padded to 4 bytes.
int64_t BitmapRowBytes(int64_t nWidth, int nBitCount);

// Checks that a header block and a pixel size describe an image the program
// can show: a supported bit count, BI_RGB, sane dimensions, a colour table
// inside the block, and enough pixel bytes for every row.
EImageStatus CheckBitmapLayout(const BITMAPINFOHEADER& bih, int64_t nHeaderSize,
                               int64_t nPixelSize);

// Reads a bitmap file. Header block: 48, 104 or 1064 bytes for 1, 4 or 8 bits
// (info header and colour table as stored), 44 bytes for 16 bits and more
// (info header and four zero bytes). Pixel buffer: the bfSize - bfOffBits
// bytes stored at bfOffBits, unchanged. On any result but Ok the outputs are
// untouched.
EImageStatus ReadBmpImage(std::string path, std::unique_ptr<BYTE[]>& pHeader, INT& nHeaderSize,
                          std::unique_ptr<BYTE[]>& pPixels, INT& nPixelSize);
// The same from an open binary stream (the fuzzer feeds memory through it).
EImageStatus ReadBmpImage(std::istream& file, std::unique_ptr<BYTE[]>& pHeader, INT& nHeaderSize,
                          std::unique_ptr<BYTE[]>& pPixels, INT& nPixelSize);

// Reads a CSV grid of grey levels into a 32-bit bottom-up bitmap (44-byte
// header block, W * H * 4 pixel bytes, first buffer row = last grid row). A
// grid whose origin is not (0, 0) is placed on a 512x480 canvas filled with
// its mean grey level when askCanvas answers Yes. Grid lines beyond the
// grid's height are ignored; missing lines and cells are 0.
EImageStatus ReadCsvImage(std::string path, std::unique_ptr<BYTE[]>& pHeader, INT& nHeaderSize,
                          std::unique_ptr<BYTE[]>& pPixels, INT& nPixelSize,
                          const CanvasQuestion& askCanvas);
// The same from an open stream. nMaxSide lowers the size limit (fuzzing only).
EImageStatus ReadCsvImage(std::istream& file, std::unique_ptr<BYTE[]>& pHeader, INT& nHeaderSize,
                          std::unique_ptr<BYTE[]>& pPixels, INT& nPixelSize,
                          const CanvasQuestion& askCanvas, INT nMaxSide = kMaxImageSide);

// The reader the image Open command uses for a path: "BMP"/"bmp" -> Bitmap,
// "CSV"/"csv" -> Csv, anything else (mixed case included) -> none.
std::optional<EImageFileKind> ImageKindFromPath(const std::string& path);

// Why the image was refused, one Japanese sentence.
std::string ImageStatusText(EImageStatus status);

// The whole message for the user, e.g.
// "ビットマップファイルを読み込めません: <path>\n<reason>".
std::string ImageReadMessage(EImageFileKind kind, EImageStatus status, const std::string& path);
