// mediagraph: how V4L2 pixel codes and frame sizes appear as media types
// on the capture pin.
//
// - Subtypes are tried in a fixed order (RGB24, RGB32, RGB555, RGB565, YUY2,
//   YVYU, YUYV, IYUV, UYVY, YV12, YVU9, Y411, Y41P, Y211, AYUV, Y800, Y8,
//   GREY), each accepting the pixel codes listed in kSubtypeRows. A pixel
//   code is shown as the first row that accepts it; a code no row accepts
//   as its own FOURCC-form subtype.
// - A media type is MEDIATYPE_Video / subtype / FORMAT_VideoInfo with a
//   VIDEOINFOHEADER: width, +height, the code as biCompression (0 for
//   RGB24/RGB32/RGB555/RGB565), biSizeImage = the driver's sizeimage,
//   AvgTimePerFrame from the frame interval.
// Pure functions; any thread.
// May include: the C++ standard library, platform/, filterbase/. No Qt.
#pragma once

#include <cstdint>
#include <vector>

#include "filterbase/media_type.h"
#include "platform/media/raw_frame_layout.h"

struct SSubtypeRow {
    const GUID* pSubtype;
    std::vector<uint32_t> fourccs;  // in the order they are tried
};

// The 18 rows in trial order.
const std::vector<SSubtypeRow>& SubtypeRows();
// The subtype a pixel code is shown as.
GUID SubtypeForFourcc(uint32_t fourcc);
// The pixel codes a subtype may be set with, in trial order: the row's
// codes, or for a FOURCC-form subtype no row names, its own code.
std::vector<uint32_t> FourccsForSubtype(const GUID& subtype);

// Fills pmt (freed first) with the video type of a capture format.
HRESULT MakeCaptureMediaType(uint32_t fourcc, uint32_t width, uint32_t height, uint32_t sizeImage,
                             int64_t avgTimePerFrame, CMediaType* pmt);
// The width, height (its absolute value) and AvgTimePerFrame of a video
// type with a VIDEOINFOHEADER; false for anything else.
bool ReadVideoInfo(const AM_MEDIA_TYPE& mt, uint32_t* pWidth, uint32_t* pHeight,
                   int64_t* pAvgTimePerFrame);
