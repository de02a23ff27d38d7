// The record layouts are static_asserted where they are declared; here the
// result codes' signs and the identifiers' uniqueness.
#include <gtest/gtest.h>

#include <vector>

#include "platform/media/graph_interfaces.h"
#include "platform/media/media_guids.h"
#include "platform/media/media_types.h"

// Codes at or above 0x80000000 must be negative once converted, or FAILED()
// would take them for success; S_FALSE is a success that is not S_OK.
static_assert(FAILED(VFW_E_TYPE_NOT_ACCEPTED) && FAILED(VFW_E_NO_CLOCK));
static_assert(SUCCEEDED(VFW_S_NO_STOP_TIME) && SUCCEEDED(S_FALSE) && S_FALSE != S_OK);

namespace {

// Every producer and consumer of these identifiers is ours: a value written
// twice would make one interface or format answer for another.
TEST(Guids, EveryMediaIdentifierIsUnique) {
    // Grouped by kind; every identifier is compared with every other.
    const std::vector<std::vector<GUID>> groups = {
        {IID_IUnknown, IID_IDispatch, IID_IPersist, IID_IPin, IID_IEnumPins, IID_IEnumFilters},
        {IID_IEnumMediaTypes, IID_IBaseFilter, IID_IReferenceClock, IID_IMediaFilter},
        {IID_IMediaSample, IID_IMemAllocator, IID_IMemInputPin, IID_IFilterGraph},
        {IID_IMediaEventSink, IID_IQualityControl, IID_IGraphBuilder, IID_IMediaControl},
        {IID_IMediaPosition, IID_IMediaEvent, IID_IMediaEventEx, IID_IMediaSeeking},
        {IID_IMediaSample2, IID_IQualProp, IID_IAMovieSetup, IID_IMemAllocatorCallbackTemp},
        {IID_IMemAllocatorNotifyCallbackTemp},
        {CLSID_FilterGraph, CLSID_MemoryAllocator, CLSID_SystemClock},
        {MEDIATYPE_Video, MEDIATYPE_Audio, MEDIATYPE_Stream},
        {MEDIASUBTYPE_RGB565, MEDIASUBTYPE_RGB555, MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB32},
        {MEDIASUBTYPE_YUY2, MEDIASUBTYPE_MJPG, MEDIASUBTYPE_NV12, MEDIASUBTYPE_I420},
        {FORMAT_None, FORMAT_VideoInfo, FORMAT_VideoInfo2, FORMAT_WaveFormatEx},
        {TIME_FORMAT_NONE, TIME_FORMAT_FRAME, TIME_FORMAT_FIELD, TIME_FORMAT_BYTE},
        {TIME_FORMAT_SAMPLE, TIME_FORMAT_MEDIA_TIME},
    };
    std::vector<GUID> all;
    for (const auto& group : groups) all.insert(all.end(), group.begin(), group.end());
    for (size_t i = 0; i < all.size(); ++i) {
        for (size_t j = i + 1; j < all.size(); ++j) {
            EXPECT_FALSE(all[i] == all[j]) << "identifiers " << i << " and " << j;
        }
    }
    EXPECT_TRUE(TIME_FORMAT_NONE == GUID_NULL);
}

}  // namespace
