// app: turns a still image read by ReadBmpImage or ReadCsvImage into the frame
// format every processing dialog works in (the format a video frame has):
// 24-bit pixels, blue-green-red, bottom-up rows, each row padded with zero to a
// multiple of 4 bytes, described by a 44-byte BITMAPINFO with
// biSizeImage = H * stride.
//
// Plain C++ (no Qt); callable on any thread. The header block and pixel buffer
// are checked again here, so a caller may hand over any pair of blocks.
// May include: the C++ standard library, include/pelora, platform/win and
// app/image_readers.h.
#pragma once

#include <memory>
#include <string>

#include "app/image_readers.h"
#include "platform/win/win_types.h"

// Converts 1-, 4- and 8-bit (through the colour table), 16-bit (5-5-5),
// 24-bit and 32-bit BI_RGB images, bottom-up or top-down, into a bottom-up
// 24-bit frame. bmiFrame receives the frame's format, pFrame H * stride bytes.
// On any result but Ok the outputs are untouched.
EImageStatus ConvertImageToFrame(const BYTE* pHeader, INT nHeaderSize, const BYTE* pPixels,
                                 INT nPixelSize, BITMAPINFO& bmiFrame,
                                 std::unique_ptr<BYTE[]>& pFrame, INT& nFrameSize);

// A still image in the frame format, ready to be a processing dialog's source.
struct CStillFrame {
    BITMAPINFO m_bmi{};               // 24-bit, bottom-up, biSizeImage = H * stride
    std::unique_ptr<BYTE[]> m_pBits;  // H * stride bytes
    INT m_nSize = 0;
};

// Reads path with the reader of its kind (askCanvas answers the CSV canvas
// question) and converts the image. On any result but Ok, frame is untouched;
// ImageReadMessage(kind, result, path) is the message to show.
EImageStatus LoadStillFrame(const std::string& path, EImageFileKind kind,
                            const CanvasQuestion& askCanvas, CStillFrame& frame);
