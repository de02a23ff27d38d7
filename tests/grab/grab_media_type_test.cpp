// Which media types the grab renderer accepts, and what it adopts from a
// type: the format block is read within its length, the geometry is
// validated before any size is computed, and a failed adoption changes
// nothing.
#include <climits>
#include <cstring>
#include <functional>
#include <string>
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

    // Adopts a 24-bit VIDEOINFOHEADER type of this size.
    void Adopt(LONG width, LONG height, REFERENCE_TIME avg = 400000) {
        VideoTypeSpec spec;
        spec.width = width;
        spec.height = height;
        spec.avgTimePerFrame = avg;
        CMediaType mt;
        MakeVideoType(spec, &mt);
        ASSERT_EQ(m_pRenderer->SetMediaType(&mt), S_OK);
    }

    BITMAPINFO Format() {
        BITMAPINFO bmi;
        std::memset(&bmi, 0x5A, sizeof(bmi));
        m_pRenderer->GetFrameFormat(&bmi);
        return bmi;
    }

    CGrabRenderer* m_pRenderer = nullptr;
};

struct TypeCase {
    const char* name;
    std::function<void(VideoTypeSpec&)> change;
};

// Every refused type is refused by CheckMediaType with S_FALSE exactly and
// by the pin's QueryAccept, and the accepted baseline passes both.
TEST_F(GrabMediaTypeTest, AcceptsOnlyFullBottomUpOrTopDownRgb24WithinTwoGiB) {
    const std::vector<TypeCase> refused = {
        {"BI_BITFIELDS", [](VideoTypeSpec& s) { s.compression = BI_BITFIELDS; }},
        {"32 bits", [](VideoTypeSpec& s) { s.bitCount = 32; }},
        {"RGB32 subtype", [](VideoTypeSpec& s) { s.subtype = MEDIASUBTYPE_RGB32; }},
        {"VideoInfo2", [](VideoTypeSpec& s) { s.format = FORMAT_VideoInfo2; }},
        {"audio major type", [](VideoTypeSpec& s) { s.major = MEDIATYPE_Audio; }},
        {"87-byte block", [](VideoTypeSpec& s) { s.cbFormat = 87; }},
        {"width 0", [](VideoTypeSpec& s) { s.width = 0; }},
        {"width -1", [](VideoTypeSpec& s) { s.width = -1; }},
        {"height 0", [](VideoTypeSpec& s) { s.height = 0; }},
        {"height INT32_MIN", [](VideoTypeSpec& s) { s.height = INT32_MIN; }},
        // 90000 x 30000 = 2.7e9 bytes; 24*W*H also overflows 32 bits.
        {"over 2 GiB", [](VideoTypeSpec& s) { s.width = s.height = 30000; }},
        {"over 2 GiB top-down", [](VideoTypeSpec& s) { s.width = 30000, s.height = -30000; }},
        // 2^31 - 1 pixels wide: the row alone exceeds 2 GiB.
        {"row over 2 GiB", [](VideoTypeSpec& s) { s.width = INT32_MAX, s.height = 1; }},
    };
    CGrabRendererInputPin* pPin = m_pRenderer->GrabInputPin();
    for (const TypeCase& c : refused) {
        VideoTypeSpec spec;
        c.change(spec);
        CMediaType mt;
        MakeVideoType(spec, &mt);
        EXPECT_EQ(m_pRenderer->CheckMediaType(&mt), S_FALSE) << c.name;
        EXPECT_EQ(pPin->QueryAccept(&mt), S_FALSE) << c.name;
    }

    const std::vector<TypeCase> accepted = {
        {"64x48", [](VideoTypeSpec&) {}},
        {"top-down", [](VideoTypeSpec& s) { s.height = -48; }},
        {"odd width", [](VideoTypeSpec& s) { s.width = 321, s.height = 241; }},
        {"biSizeImage 0", [](VideoTypeSpec& s) { s.sizeImage = 0; }},
        // 12 * 178956970 = 2147483640 bytes, just under the limit.
        {"largest", [](VideoTypeSpec& s) { s.width = 4, s.height = 178956970; }},
        {"longer block", [](VideoTypeSpec& s) { s.cbFormat = 200; }},
    };
    for (const TypeCase& c : accepted) {
        VideoTypeSpec spec;
        c.change(spec);
        CMediaType mt;
        MakeVideoType(spec, &mt);
        EXPECT_EQ(m_pRenderer->CheckMediaType(&mt), S_OK) << c.name;
        EXPECT_EQ(pPin->QueryAccept(&mt), S_OK) << c.name;
    }
}

TEST_F(GrabMediaTypeTest, RefusesMissingFormatBlockWithoutReadingIt) {
    CMediaType mt;
    MakeVideoType(VideoTypeSpec{}, &mt);
    mt.ResetFormatBuffer();
    EXPECT_EQ(m_pRenderer->CheckMediaType(&mt), S_FALSE);
    EXPECT_EQ(m_pRenderer->GrabInputPin()->QueryAccept(&mt), S_FALSE);
    // A length without a block.
    mt.cbFormat = sizeof(VIDEOINFOHEADER);
    EXPECT_EQ(m_pRenderer->CheckMediaType(&mt), S_FALSE);
    EXPECT_EQ(m_pRenderer->SetMediaType(&mt), S_OK);
    mt.cbFormat = 0;
    EXPECT_EQ(Format().bmiHeader.biWidth, 0);
}

TEST_F(GrabMediaTypeTest, TopDownFrameKeepsNegativeHeightAndAbsoluteGeometry) {
    Adopt(64, -48);
    EXPECT_EQ(m_pRenderer->GetFrameWidth(), 64);
    EXPECT_EQ(m_pRenderer->GetFrameHeight(), 48);
    const BITMAPINFO bmi = Format();
    EXPECT_EQ(bmi.bmiHeader.biHeight, -48);
    EXPECT_EQ(bmi.bmiHeader.biSizeImage, static_cast<DWORD>(PaddedSize(64, 48)));
    // The colour entry is cleared, not left from anywhere.
    EXPECT_EQ(bmi.bmiColors[0].rgbBlue + bmi.bmiColors[0].rgbGreen + bmi.bmiColors[0].rgbRed +
                  bmi.bmiColors[0].rgbReserved,
              0);
}

TEST_F(GrabMediaTypeTest, MissingOrShortImageSizeIsRaisedToPaddedSizeButNeverLowered) {
    VideoTypeSpec spec;
    spec.width = 321;
    spec.height = 241;
    spec.sizeImage = 0;
    CMediaType mt;
    MakeVideoType(spec, &mt);
    ASSERT_EQ(m_pRenderer->SetMediaType(&mt), S_OK);
    EXPECT_EQ(Format().bmiHeader.biSizeImage, 964u * 241u);

    // 3 * W * H, the unpadded size, is too small as well.
    spec.sizeImage = 3 * 321 * 241;
    MakeVideoType(spec, &mt);
    ASSERT_EQ(m_pRenderer->SetMediaType(&mt), S_OK);
    EXPECT_EQ(Format().bmiHeader.biSizeImage, 964u * 241u);

    spec.sizeImage = 300000;
    MakeVideoType(spec, &mt);
    ASSERT_EQ(m_pRenderer->SetMediaType(&mt), S_OK);
    EXPECT_EQ(Format().bmiHeader.biSizeImage, 300000u);
}

TEST_F(GrabMediaTypeTest, FrameDurationKeepsLow32BitsOfAvgTimePerFrame) {
    Adopt(64, 48, (REFERENCE_TIME{5} << 32) + 333667);
    EXPECT_EQ(m_pRenderer->GetFrameDuration(), 333667);
    // A legal 0 stays 0 (the worker must guard its division).
    Adopt(64, 48, 0);
    EXPECT_EQ(m_pRenderer->GetFrameDuration(), 0);
}

TEST_F(GrabMediaTypeTest, VideoInfo2HeaderIsReadAtByte72) {
    VideoTypeSpec spec;
    spec.format = FORMAT_VideoInfo2;
    spec.width = 100;
    spec.height = 50;
    spec.avgTimePerFrame = 666667;
    spec.fill = 0xEE;  // what would be read at byte 48 is nonsense
    CMediaType mt;
    MakeVideoType(spec, &mt);
    ASSERT_EQ(m_pRenderer->SetMediaType(&mt), S_OK);
    EXPECT_EQ(m_pRenderer->GetFrameWidth(), 100);
    EXPECT_EQ(m_pRenderer->GetFrameHeight(), 50);
    EXPECT_EQ(m_pRenderer->GetFrameDuration(), 666667);
    EXPECT_EQ(Format().bmiHeader.biSizeImage, static_cast<DWORD>(PaddedSize(100, 50)));
}

TEST_F(GrabMediaTypeTest, ShortBlocksAndOtherFormatTypesChangeNothing) {
    Adopt(64, 48, 400000);
    struct Case {
        const char* name;
        GUID format;
        ULONG cbFormat;
    };
    const Case cases[] = {
        {"VideoInfo 87 bytes", FORMAT_VideoInfo, 87},
        {"VideoInfo2 111 bytes", FORMAT_VideoInfo2, 111},
        {"VideoInfo2 88 bytes", FORMAT_VideoInfo2, 88},
        {"unknown format type", GUID_NULL, 0},
    };
    for (const Case& c : cases) {
        VideoTypeSpec spec;
        spec.format = c.format;
        spec.width = 32;
        spec.height = 24;
        spec.avgTimePerFrame = 1;
        spec.cbFormat = c.cbFormat;
        CMediaType mt;
        MakeVideoType(spec, &mt);
        EXPECT_EQ(m_pRenderer->SetMediaType(&mt), S_OK) << c.name;
        EXPECT_EQ(m_pRenderer->GetFrameWidth(), 64) << c.name;
        EXPECT_EQ(m_pRenderer->GetFrameDuration(), 400000) << c.name;
        EXPECT_EQ(Format().bmiHeader.biWidth, 64) << c.name;
    }
}

// A frame buffer that cannot be created is a failure, and the renderer keeps
// the format, duration, buffer and copied frame it had: a consumer that sized
// its buffers from the format is never handed a different frame size.
TEST_F(GrabMediaTypeTest, FailedFrameBufferReportsOutOfMemoryAndKeepsOldState) {
    GrabGraph graph(IdleSource(64, 48));
    CGrabRenderer* pRenderer = graph.Renderer();
    graph.Run();
    const LONG cb = PaddedSize(64, 48);
    ASSERT_EQ(graph.DeliverFrame(7, cb), S_OK);
    pRenderer->UpdateFrameBuffer();
    BITMAPINFO before;
    pRenderer->GetFrameFormat(&before);
    const LONG nBuffersBefore = DIBSectionsActive();

    // Both reach the buffer creation without CheckMediaType: a geometry of
    // 120000 x 40000 bytes, and an unsupported bit count.
    VideoTypeSpec huge;
    huge.format = FORMAT_VideoInfo2;
    huge.width = huge.height = 40000;
    huge.avgTimePerFrame = 1;
    VideoTypeSpec oddBits;
    oddBits.format = FORMAT_VideoInfo2;
    oddBits.bitCount = 7;
    oddBits.width = 16;
    oddBits.avgTimePerFrame = 1;
    for (const VideoTypeSpec& spec : {huge, oddBits}) {
        CMediaType mt;
        MakeVideoType(spec, &mt);
        EXPECT_EQ(pRenderer->SetMediaType(&mt), E_OUTOFMEMORY);
        BITMAPINFO after;
        pRenderer->GetFrameFormat(&after);
        EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
        EXPECT_EQ(pRenderer->GetFrameDuration(), 400000);
        EXPECT_EQ(pRenderer->GetFrameWidth(), 64);
        EXPECT_EQ(pRenderer->GetFrameHeight(), 48);
        EXPECT_EQ(DIBSectionsActive(), nBuffersBefore);
        std::vector<BYTE> dest(static_cast<size_t>(cb));
        ASSERT_EQ(pRenderer->CopyFrameTo(dest.data(), cb), cb);
        EXPECT_EQ(FrameIndex(dest.data()), 7u);
        EXPECT_TRUE(IsFramePattern(dest.data(), dest.size()));
    }
}

// The connection refuses a type the renderer cannot adopt and stays
// unconnected; a later acceptable type connects.
TEST_F(GrabMediaTypeTest, ConnectionOffersAreFilteredByType) {
    SourceOptions options = IdleSource();
    options.sizes = {{0, 48}, {-1, 48}, {321, 241}};
    GrabGraph graph(options);
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(graph.Pin()->ConnectionMediaType(&mt), S_OK);
    VIDEOINFOHEADER vih;
    ASSERT_GE(mt.cbFormat, sizeof(vih));
    std::memcpy(&vih, mt.pbFormat, sizeof(vih));
    FreeMediaType(mt);
    EXPECT_EQ(vih.bmiHeader.biWidth, 321);
    EXPECT_EQ(graph.Renderer()->GetFrameWidth(), 321);
    EXPECT_EQ(graph.Renderer()->GetFrameHeight(), 241);
}

}  // namespace
}  // namespace pelora_test
