// The records exchanged through the media interfaces keep the byte layout that
// format blocks and property records are read with. Most checks are
// compile-time; the runtime ones check what a reader actually sees.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/media/graph_interfaces.h"
#include "platform/media/media_guids.h"
#include "platform/media/media_types.h"

static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4 && sizeof(DWORD) == 4);
static_assert(sizeof(BOOL) == 4 && sizeof(REFERENCE_TIME) == 8 && sizeof(WORD) == 2);
static_assert(sizeof(BITMAPINFOHEADER) == 40 && sizeof(BITMAPINFO) == 44);
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biCompression) == 16);
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == 20);
static_assert(offsetof(VIDEOINFOHEADER, AvgTimePerFrame) == 40);
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) == 48);
static_assert(offsetof(VIDEOINFOHEADER2, bmiHeader) == 72);
static_assert(sizeof(AM_SAMPLE2_PROPERTIES) == 64);
static_assert(offsetof(AM_SAMPLE2_PROPERTIES, pMediaType) == 40);
static_assert(offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer) == 48);
static_assert(offsetof(AM_SAMPLE2_PROPERTIES, cbBuffer) == 56);
static_assert(sizeof(ALLOCATOR_PROPERTIES) == 16 && sizeof(Quality) == 24);
static_assert(sizeof(FILTER_STATE) == 4 && sizeof(PIN_DIRECTION) == 4);

namespace {

TEST(Layouts, VideoInfoFormatBlockReadsAtFixedOffsets) {
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = 0x0102030405060708LL;
    vih.bmiHeader.biBitCount = 24;
    vih.bmiHeader.biCompression = BI_BITFIELDS;
    std::vector<uint8_t> block(sizeof(vih));
    std::memcpy(block.data(), &vih, sizeof(vih));
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    int64_t avg = 0;
    std::memcpy(&bitCount, block.data() + 62, 2);
    std::memcpy(&compression, block.data() + 64, 4);
    std::memcpy(&avg, block.data() + 40, 8);
    EXPECT_EQ(bitCount, 24);
    EXPECT_EQ(compression, BI_BITFIELDS);
    EXPECT_EQ(avg, 0x0102030405060708LL);

    VIDEOINFOHEADER2 vih2{};
    vih2.bmiHeader.biWidth = -321;
    int32_t width = 0;
    std::memcpy(&width, reinterpret_cast<const uint8_t*>(&vih2) + 72 + 4, 4);
    EXPECT_EQ(width, -321);
}

TEST(Layouts, NegativeHResultsAreFailuresAndSuccessCodesAreNot) {
    EXPECT_TRUE(FAILED(VFW_E_TYPE_NOT_ACCEPTED));
    EXPECT_LT(VFW_E_NO_CLOCK, 0);
    EXPECT_TRUE(SUCCEEDED(VFW_S_NO_STOP_TIME));
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_NE(S_FALSE, S_OK);
}

TEST(Guids, EveryMediaIdentifierIsUnique) {
    const GUID all[] = {IID_IUnknown,
                        IID_IDispatch,
                        IID_IPersist,
                        IID_IPin,
                        IID_IEnumPins,
                        IID_IEnumFilters,
                        IID_IEnumMediaTypes,
                        IID_IBaseFilter,
                        IID_IReferenceClock,
                        IID_IMediaFilter,
                        IID_IMediaSample,
                        IID_IMemAllocator,
                        IID_IMemInputPin,
                        IID_IFilterGraph,
                        IID_IMediaEventSink,
                        IID_IQualityControl,
                        IID_IGraphBuilder,
                        IID_IMediaControl,
                        IID_IMediaPosition,
                        IID_IMediaEvent,
                        IID_IMediaEventEx,
                        IID_IMediaSeeking,
                        IID_IMediaSample2,
                        IID_IQualProp,
                        IID_IAMovieSetup,
                        IID_IMemAllocatorCallbackTemp,
                        IID_IMemAllocatorNotifyCallbackTemp,
                        CLSID_FilterGraph,
                        CLSID_MemoryAllocator,
                        CLSID_SystemClock,
                        MEDIATYPE_Video,
                        MEDIATYPE_Audio,
                        MEDIATYPE_Stream,
                        MEDIASUBTYPE_RGB565,
                        MEDIASUBTYPE_RGB555,
                        MEDIASUBTYPE_RGB24,
                        MEDIASUBTYPE_RGB32,
                        MEDIASUBTYPE_YUY2,
                        MEDIASUBTYPE_MJPG,
                        MEDIASUBTYPE_NV12,
                        MEDIASUBTYPE_I420,
                        FORMAT_None,
                        FORMAT_VideoInfo,
                        FORMAT_VideoInfo2,
                        FORMAT_WaveFormatEx,
                        TIME_FORMAT_NONE,
                        TIME_FORMAT_FRAME,
                        TIME_FORMAT_FIELD,
                        TIME_FORMAT_BYTE,
                        TIME_FORMAT_SAMPLE,
                        TIME_FORMAT_MEDIA_TIME};
    const size_t n = sizeof(all) / sizeof(all[0]);
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = i + 1; j < n; ++j) {
            EXPECT_FALSE(all[i] == all[j]) << "identifiers " << i << " and " << j;
        }
    }
    EXPECT_TRUE(TIME_FORMAT_NONE == GUID_NULL);
}

}  // namespace
