// Which media types the grab renderer accepts, and what it adopts from a
// type: the format block is read within its length, the geometry is
// validated before any size is computed, and a failed adoption changes
// nothing.
#include <climits>
#include <cstring>
#include <functional>
#include <vector>

#include "grab_fixture.h"

namespace pelora_test {
namespace {

class GrabMediaTypeTest : public LiveObjectsTest {
protected:
    void SetUp() override {
        LiveObjectsTest::SetUp();
        HRESULT hr = S_OK;
        m_pRenderer = new CGrabRenderer(nullptr, &hr);
        m_pRenderer->AddRef();
        ASSERT_EQ(hr, S_OK);
    }
    void TearDown() override {
        m_pRenderer->Release();
        EXPECT_EQ(DIBSectionsActive(), 0);
        LiveObjectsTest::TearDown();
    }
    HRESULT Adopt(const VideoTypeParams& params) {
        CMediaType mt;
        MakeVideoType(params, &mt);
        return m_pRenderer->SetMediaType(&mt);
    }
    BITMAPINFOHEADER Header() {
        BITMAPINFO bmi;
        m_pRenderer->GetFrameFormat(&bmi);
        return bmi.bmiHeader;
    }

    CGrabRenderer* m_pRenderer = nullptr;
};

using ParamsChange = std::function<void(VideoTypeParams&)>;

// Refused types get S_FALSE exactly from CheckMediaType and from the pin's
// QueryAccept; the size limit is the padded image (stride x |H|) in 64 bits.
TEST_F(GrabMediaTypeTest, AcceptsOnlyRgb24BiRgbWithValidGeometryUnderTwoGiB) {
    const std::vector<ParamsChange> refused = {
        [](VideoTypeParams& s) { s.compression = BI_BITFIELDS; },
        [](VideoTypeParams& s) { s.bitCount = 32; },
        [](VideoTypeParams& s) { s.subtype = MEDIASUBTYPE_RGB32; },
        [](VideoTypeParams& s) { s.format = FORMAT_VideoInfo2; },
        [](VideoTypeParams& s) { s.major = MEDIATYPE_Audio; },
        [](VideoTypeParams& s) { s.cbFormat = 87; },
        [](VideoTypeParams& s) { s.width = 0; },
        [](VideoTypeParams& s) { s.width = -1; },
        [](VideoTypeParams& s) { s.height = 0; },
        [](VideoTypeParams& s) { s.height = INT32_MIN; },
        [](VideoTypeParams& s) { s.width = 30000, s.height = -30000; },  // 2.7e9 bytes
        [](VideoTypeParams& s) { s.width = INT32_MAX, s.height = 1; },
    };
    const std::vector<ParamsChange> accepted = {
        [](VideoTypeParams&) {},
        [](VideoTypeParams& s) { s.height = -48; },
        [](VideoTypeParams& s) { s.width = 321, s.height = 241, s.sizeImage = 0; },
        [](VideoTypeParams& s) { s.width = 4, s.height = 178956970; },  // 2^31 - 8 bytes
        [](VideoTypeParams& s) { s.cbFormat = 200; },
    };
    CGrabRendererInputPin* pPin = m_pRenderer->GrabInputPin();
    for (size_t i = 0; i < refused.size() + accepted.size(); ++i) {
        const bool bAccept = i >= refused.size();
        VideoTypeParams params;
        (bAccept ? accepted[i - refused.size()] : refused[i])(params);
        CMediaType mt;
        MakeVideoType(params, &mt);
        const HRESULT expected = bAccept ? S_OK : S_FALSE;
        EXPECT_EQ(m_pRenderer->CheckMediaType(&mt), expected) << "case " << i;
        EXPECT_EQ(pPin->QueryAccept(&mt), expected) << "case " << i;
    }
    // No block at all, or a length without a block.
    CMediaType mt;
    MakeVideoType(VideoTypeParams{}, &mt);
    mt.ResetFormatBuffer();
    EXPECT_EQ(pPin->QueryAccept(&mt), S_FALSE);
    mt.cbFormat = sizeof(VIDEOINFOHEADER);
    EXPECT_EQ(m_pRenderer->CheckMediaType(&mt), S_FALSE);
    EXPECT_EQ(m_pRenderer->SetMediaType(&mt), S_OK);
    mt.cbFormat = 0;
    EXPECT_EQ(Header().biWidth, 0);
}

TEST_F(GrabMediaTypeTest, AdoptsHeaderGeometryAndLow32BitsOfFrameDuration) {
    VideoTypeParams params;
    params.height = -48;
    params.avgTimePerFrame = (REFERENCE_TIME{5} << 32) + 333667;
    ASSERT_EQ(Adopt(params), S_OK);
    EXPECT_EQ(m_pRenderer->GetFrameWidth(), 64);
    EXPECT_EQ(m_pRenderer->GetFrameHeight(), 48);
    EXPECT_EQ(Header().biHeight, -48);  // top-down stays top-down
    EXPECT_EQ(m_pRenderer->GetFrameDuration(), 333667);

    // VIDEOINFOHEADER2 keeps its header at byte 72; byte 48 holds nonsense.
    params = VideoTypeParams{};
    params.format = FORMAT_VideoInfo2;
    params.width = 100;
    params.height = 50;
    params.avgTimePerFrame = 0;  // legal: unknown rate
    params.fill = 0xEE;
    ASSERT_EQ(Adopt(params), S_OK);
    EXPECT_EQ(m_pRenderer->GetFrameWidth(), 100);
    EXPECT_EQ(m_pRenderer->GetFrameHeight(), 50);
    EXPECT_EQ(m_pRenderer->GetFrameDuration(), 0);
}

// Consumers size their buffers from biSizeImage, which BI_RGB may leave 0.
TEST_F(GrabMediaTypeTest, ImageSizeIsRaisedToPaddedSizeButNeverLowered) {
    const DWORD sizes[] = {0, 3 * 321 * 241, 300000};
    const DWORD expected[] = {964 * 241, 964 * 241, 300000};
    for (int i = 0; i < 3; ++i) {
        VideoTypeParams params;
        params.width = 321;
        params.height = 241;
        params.sizeImage = sizes[i];
        ASSERT_EQ(Adopt(params), S_OK);
        EXPECT_EQ(Header().biSizeImage, expected[i]);
    }
}

TEST_F(GrabMediaTypeTest, ShortBlocksAndOtherFormatTypesChangeNothing) {
    ASSERT_EQ(Adopt(VideoTypeParams{}), S_OK);
    const std::pair<GUID, ULONG> cases[] = {
        {FORMAT_VideoInfo, 87}, {FORMAT_VideoInfo2, 111}, {FORMAT_VideoInfo2, 88}, {GUID_NULL, 0}};
    for (const auto& [format, cbFormat] : cases) {
        VideoTypeParams params;
        params.format = format;
        params.cbFormat = cbFormat;
        params.width = 32;
        params.avgTimePerFrame = 1;
        EXPECT_EQ(Adopt(params), S_OK) << cbFormat;
        EXPECT_EQ(m_pRenderer->GetFrameWidth(), 64) << cbFormat;
        EXPECT_EQ(Header().biWidth, 64) << cbFormat;
        EXPECT_EQ(m_pRenderer->GetFrameDuration(), 400000) << cbFormat;
    }
}

// A frame buffer that cannot be created is a failure, and the renderer keeps
// the format, duration, buffer and copied frame it had: a consumer that sized
// its buffers from the format is never handed another frame size.
TEST_F(GrabMediaTypeTest, FailedFrameBufferReportsOutOfMemoryAndKeepsOldState) {
    GrabGraph graph(IdleSource(64, 48));
    CGrabRenderer* pRenderer = graph.Renderer();
    graph.Run();
    const LONG cb = PaddedSize(64, 48);
    ASSERT_EQ(graph.DeliverFrame(7, cb), S_OK);
    pRenderer->UpdateFrameBuffer();
    BITMAPINFO before;
    pRenderer->GetFrameFormat(&before);

    // Both skip CheckMediaType (VIDEOINFOHEADER2): 120000 x 40000 bytes, and
    // a bit count no buffer can be made for.
    VideoTypeParams huge;
    huge.format = FORMAT_VideoInfo2;
    huge.width = huge.height = 40000;
    VideoTypeParams oddBits;
    oddBits.format = FORMAT_VideoInfo2;
    oddBits.bitCount = 7;
    for (VideoTypeParams params : {huge, oddBits}) {
        params.avgTimePerFrame = 1;
        CMediaType mt;
        MakeVideoType(params, &mt);
        EXPECT_EQ(pRenderer->SetMediaType(&mt), E_OUTOFMEMORY);
        BITMAPINFO after;
        pRenderer->GetFrameFormat(&after);
        EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
        EXPECT_EQ(pRenderer->GetFrameDuration(), 400000);
        EXPECT_EQ(DIBSectionsActive(), 1);
        std::vector<BYTE> dest(static_cast<size_t>(cb));
        ASSERT_EQ(pRenderer->CopyFrameTo(dest.data(), cb), cb);
        EXPECT_TRUE(IsFramePattern(dest.data(), dest.size()));
        EXPECT_EQ(FrameIndex(dest.data()), 7u);
    }
}

}  // namespace
}  // namespace pelora_test
