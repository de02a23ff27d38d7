// Feeds arbitrary text to the CSV reader, answering the canvas question from
// the input's first byte, and every image it accepts on to the frame
// conversion.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "app/image_frame.h"
#include "app/image_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);  // libFuzzer calls it

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Yes for one first byte in eight: a 512x480 canvas costs milliseconds
    // under the sanitizers, the rest of the parsing microseconds.
    const bool bYes = size > 0 && (data[0] & 7) == 1;
    std::istringstream file(std::string(reinterpret_cast<const char*>(data), size));
    std::unique_ptr<BYTE[]> pHeader, pPixels;
    INT nHeaderSize = 0, nPixelSize = 0;
    // A 16384 x 16384 grid is legal but costs a gigabyte per run; a small
    // limit keeps the fuzzer on the parsing, whose paths do not depend on it.
    constexpr INT kFuzzMaxSide = 64;
    if (ReadCsvImage(
            file, pHeader, nHeaderSize, pPixels, nPixelSize,
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
