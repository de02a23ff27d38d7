// Feeds arbitrary bytes to the bitmap reader as a file, and every image it
// accepts on to the frame conversion.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "app/image_frame.h"
#include "app/image_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);  // libFuzzer calls it

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream file(std::string(reinterpret_cast<const char*>(data), size),
                            std::ios::in | std::ios::binary);
    std::unique_ptr<BYTE[]> pHeader, pPixels;
    INT nHeaderSize = 0, nPixelSize = 0;
    if (ReadBmpImage(file, pHeader, nHeaderSize, pPixels, nPixelSize) != EImageStatus::Ok) return 0;
    BITMAPINFO bmi;
    std::unique_ptr<BYTE[]> pFrame;
    INT nFrameSize = 0;
    if (ConvertImageToFrame(pHeader.get(), nHeaderSize, pPixels.get(), nPixelSize, bmi, pFrame,
                            nFrameSize) != EImageStatus::Ok) {
        __builtin_trap();  // the reader accepted what the conversion refuses
    }
    return 0;
}
