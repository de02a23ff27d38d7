// Feeds arbitrary text to the CSV reader, answering the canvas question with
// the input's first byte, and every image it accepts on to the frame
// conversion.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "app/image_frame.h"
#include "app/image_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool bYes = size > 0 && (data[0] & 1);
    std::istringstream file(std::string(reinterpret_cast<const char*>(data), size));
    std::unique_ptr<BYTE[]> pHeader, pPixels;
    INT nHeaderSize = 0, nPixelSize = 0;
    // A 16384 x 16384 grid is legal but costs a gigabyte per run; a smaller
    // limit keeps the fuzzer on the parsing, which does not depend on it.
    constexpr INT kFuzzMaxSide = 1024;
    if (ReadCsvImage(file, pHeader, nHeaderSize, pPixels, nPixelSize,
                     [bYes](const std::string&) { return bYes; }, kFuzzMaxSide) != EImageStatus::Ok) {
        return 0;
    }
    BITMAPINFO bmi;
    std::unique_ptr<BYTE[]> pFrame;
    INT nFrameSize = 0;
    if (ConvertImageToFrame(pHeader.get(), nHeaderSize, pPixels.get(), nPixelSize, bmi, pFrame,
                            nFrameSize) != EImageStatus::Ok) {
        __builtin_trap();
    }
    return 0;
}
