#include "mediagraph/capture_formats.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cstring>

const std::vector<SSubtypeRow>& SubtypeRows() {
    static const std::vector<SSubtypeRow> kRows = {
        {&MEDIASUBTYPE_RGB24, {V4L2_PIX_FMT_BGR24, V4L2_PIX_FMT_RGB24}},
        {&MEDIASUBTYPE_RGB32, {V4L2_PIX_FMT_XBGR32, V4L2_PIX_FMT_ABGR32, V4L2_PIX_FMT_BGR32}},
        {&MEDIASUBTYPE_RGB555, {V4L2_PIX_FMT_XRGB555, V4L2_PIX_FMT_RGB555}},
        {&MEDIASUBTYPE_RGB565, {V4L2_PIX_FMT_RGB565}},
        {&MEDIASUBTYPE_YUY2, {V4L2_PIX_FMT_YUYV}},
        {&MEDIASUBTYPE_YVYU, {V4L2_PIX_FMT_YVYU}},
        {&MEDIASUBTYPE_YUYV, {V4L2_PIX_FMT_YUYV}},
        {&MEDIASUBTYPE_IYUV, {V4L2_PIX_FMT_YUV420}},
        {&MEDIASUBTYPE_UYVY, {V4L2_PIX_FMT_UYVY}},
        {&MEDIASUBTYPE_YV12, {V4L2_PIX_FMT_YVU420}},
        {&MEDIASUBTYPE_YVU9, {V4L2_PIX_FMT_YVU410}},
        {&MEDIASUBTYPE_Y411, {}},
        {&MEDIASUBTYPE_Y41P, {V4L2_PIX_FMT_Y41P}},
        {&MEDIASUBTYPE_Y211, {}},
        {&MEDIASUBTYPE_AYUV, {V4L2_PIX_FMT_VUYA32}},
        {&MEDIASUBTYPE_Y800, {V4L2_PIX_FMT_GREY}},
        {&MEDIASUBTYPE_Y8, {}},
        {&MEDIASUBTYPE_GREY, {V4L2_PIX_FMT_GREY}},
    };
    return kRows;
}

GUID SubtypeForFourcc(uint32_t fourcc) {
    for (const SSubtypeRow& row : SubtypeRows()) {
        for (uint32_t c : row.fourccs) {
            if (c == fourcc) return *row.pSubtype;
        }
    }
    return FourccSubtype(fourcc);
}

std::vector<uint32_t> FourccsForSubtype(const GUID& subtype) {
    for (const SSubtypeRow& row : SubtypeRows()) {
        if (*row.pSubtype == subtype) return row.fourccs;
    }
    if (IsFourccSubtype(subtype)) return {subtype.Data1};
    return {};
}

HRESULT MakeCaptureMediaType(uint32_t fourcc, uint32_t width, uint32_t height, uint32_t sizeImage,
                             int64_t avgTimePerFrame, CMediaType* pmt) {
    pmt->InitMediaType();
    const GUID subtype = SubtypeForFourcc(fourcc);
    pmt->SetType(&MEDIATYPE_Video);
    pmt->SetSubtype(&subtype);
    pmt->SetFormatType(&FORMAT_VideoInfo);
    pmt->SetSampleSize(sizeImage);
    pmt->SetTemporalCompression(IsCompressedFourcc(fourcc));
    VIDEOINFOHEADER vih;
    std::memset(&vih, 0, sizeof(vih));
    vih.AvgTimePerFrame = avgTimePerFrame;
    vih.rcSource = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    vih.rcTarget = vih.rcSource;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = static_cast<LONG>(width);
    vih.bmiHeader.biHeight = static_cast<LONG>(height);
    vih.bmiHeader.biPlanes = 1;
    const bool bRgb = subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32 ||
                      subtype == MEDIASUBTYPE_RGB555 || subtype == MEDIASUBTYPE_RGB565;
    vih.bmiHeader.biCompression = bRgb ? 0 : subtype.Data1;
    // Bits a pixel of the packed minimal layout carry (24 for codes without
    // a fixed layout, such as compressed ones).
    const uint64_t nPixels = uint64_t{width} * height;
    const uint32_t nMinSize = RawSizeImage(fourcc, width, height, MinBytesPerLine(fourcc, width));
    vih.bmiHeader.biBitCount = static_cast<WORD>(
        IsKnownRawFourcc(fourcc) && nPixels ? uint64_t{nMinSize} * 8 / nPixels : 24);
    vih.bmiHeader.biSizeImage = sizeImage;
    vih.dwBitRate = avgTimePerFrame > 0
                        ? static_cast<DWORD>(std::min<uint64_t>(
                              uint64_t{sizeImage} * 8 * 10000000 / avgTimePerFrame, 0xFFFFFFFFu))
                        : 0;
    if (!pmt->SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof(vih))) return E_OUTOFMEMORY;
    return S_OK;
}

bool ReadVideoInfo(const AM_MEDIA_TYPE& mt, uint32_t* pWidth, uint32_t* pHeight,
                   int64_t* pAvgTimePerFrame) {
    if (mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo || !mt.pbFormat ||
        mt.cbFormat < sizeof(VIDEOINFOHEADER)) {
        return false;
    }
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, mt.pbFormat, sizeof(vih));
    if (vih.bmiHeader.biWidth <= 0 || vih.bmiHeader.biHeight == 0 ||
        vih.bmiHeader.biHeight == INT32_MIN) {
        return false;
    }
    *pWidth = static_cast<uint32_t>(vih.bmiHeader.biWidth);
    *pHeight = static_cast<uint32_t>(vih.bmiHeader.biHeight < 0 ? -vih.bmiHeader.biHeight
                                                                : vih.bmiHeader.biHeight);
    *pAvgTimePerFrame = vih.AvgTimePerFrame;
    return true;
}
