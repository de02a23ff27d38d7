// CFileDecoder on clips made by the clip generator: padded rows against an
// independent decoder (the ffmpeg command), seeking within reach, broken
// files and stop requests. Geometry, timing and exact seeks of every kind of
// clip are checked through the filter graph (tests/platform/media).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "platform/ffmpeg/file_decoder.h"
#include "platform/test_clips.h"
#include "tools/broken_clips.h"
#include "tools/frame_pattern.h"

namespace fs = std::filesystem;
using pelora_test::CClipCache;

namespace {

struct SRead {
    HRESULT hr;
    SDecodedFrameInfo info;
    int nPattern;
};

SRead Read(CFileDecoder& dec, std::vector<BYTE>& buf) {
    SRead r{};
    r.hr = dec.ReadFrame(buf.data(), buf.size(), &r.info);
    r.nPattern = r.hr == S_OK
                     ? ReadFrameIndex(buf.data(), dec.GetWidth(), dec.GetHeight(), dec.GetStride())
                     : -1;
    return r;
}

// ---------------------------------------------------------------------------
// Widths whose rows need padding: zero pad bytes, every byte of the image
// rewritten, and every pixel equal to the ffmpeg command's output. 321 is
// odd (H.264 then codes 4:4:4); 322 and 326 are 4:2:0 widths where swscale's
// SIMD converters get the last pixels of a row wrong when given rows with no
// room to spare.

using SWidthCase = std::tuple<EClipFormat, int, int>;  // format, width, height
class PaddedRows : public ::testing::TestWithParam<SWidthCase> {};

std::string WidthCaseName(const ::testing::TestParamInfo<SWidthCase>& param) {
    std::string s = ClipFormatName(std::get<0>(param.param));
    for (char& c : s) c = c == '-' ? '_' : c;
    return s + "_" + std::to_string(std::get<1>(param.param)) + "x" +
           std::to_string(std::get<2>(param.param));
}

// The ffmpeg command's frames, bgr24 and top-down; empty without the command.
std::vector<uint8_t> FfmpegFrames(const std::string& strPath) {
    std::vector<uint8_t> out;
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) return out;
    const std::string strCmd = "ffmpeg -v error -i '" + strPath + "' -f rawvideo -pix_fmt bgr24 -";
    FILE* f = ::popen(strCmd.c_str(), "r");
    if (!f) return out;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.insert(out.end(), chunk, chunk + n);
    ::pclose(f);
    return out;
}

TEST_P(PaddedRows, ComeOutUprightWithZeroPadNoStaleBytesAndTheReferencePixels) {
    const int w = std::get<1>(GetParam()), h = std::get<2>(GetParam()), nFrames = 4;
    const LONG nStride = (3 * w + 3) & ~3;
    const std::string strPath = CClipCache::Get().Clip(std::get<0>(GetParam()), w, h, nFrames);
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(strPath), S_OK);
    ASSERT_EQ(dec.GetStride(), nStride);
    ASSERT_EQ(dec.GetImageSize(), static_cast<DWORD>(nStride * h));
    std::vector<BYTE> dirty(dec.GetImageSize() + 16, 0xCD);
    std::vector<BYTE> clean(dec.GetImageSize(), 0x00);
    ASSERT_EQ(dec.ReadFrame(dirty.data(), dec.GetImageSize(), nullptr), S_OK);
    ASSERT_EQ(dec.SeekToFrame(0), S_OK);
    ASSERT_EQ(dec.ReadFrame(clean.data(), clean.size(), nullptr), S_OK);
    for (LONG y = 0; y < h; ++y) {
        for (LONG x = 3 * w; x < nStride; ++x) ASSERT_EQ(dirty[y * nStride + x], 0) << "row " << y;
    }
    EXPECT_TRUE(std::equal(clean.begin(), clean.end(), dirty.begin()))
        << "output depends on what the buffer held before: some bytes were not written";
    for (size_t i = dec.GetImageSize(); i < dirty.size(); ++i) ASSERT_EQ(dirty[i], 0xCD);
    const SPatternReading r = ReadFramePattern(dirty.data(), w, h, nStride);
    EXPECT_EQ(r.eOrientation, EPatternOrientation::Upright);
    EXPECT_FALSE(r.bChannelsSwapped);
    EXPECT_EQ(r.nIndex, 0);

    const std::vector<uint8_t> ref = FfmpegFrames(strPath);
    if (ref.empty()) GTEST_SKIP() << "no ffmpeg command";
    const size_t cbRow = 3 * w, cbFrame = cbRow * h;
    ASSERT_EQ(ref.size(), nFrames * cbFrame);
    size_t nDiffering = 0;
    for (int i = 0; i < nFrames; ++i) {
        if (i > 0) {
            ASSERT_EQ(dec.ReadFrame(clean.data(), clean.size(), nullptr), S_OK);
        }
        for (size_t y = 0; y < static_cast<size_t>(h); ++y) {
            const uint8_t* pRef = ref.data() + i * cbFrame + y * cbRow;  // top-down
            const BYTE* pOurs = clean.data() + (h - 1 - y) * nStride;    // bottom-up
            for (size_t x = 0; x < cbRow; ++x) nDiffering += pRef[x] != pOurs[x];
        }
    }
    EXPECT_EQ(nDiffering, 0u);
}

INSTANTIATE_TEST_SUITE_P(Widths, PaddedRows,
                         ::testing::Values(SWidthCase{EClipFormat::AviMpeg4, 321, 241},
                                           SWidthCase{EClipFormat::AviMpeg4, 322, 242},
                                           SWidthCase{EClipFormat::AviRaw, 321, 241},
                                           SWidthCase{EClipFormat::Mp4H264, 321, 241},
                                           SWidthCase{EClipFormat::Mp4H264, 326, 242}),
                         WidthCaseName);

// ---------------------------------------------------------------------------
// Seeking. Exact frames at any position are checked through the graph for
// every kind of clip; here how the decoder gets there.

TEST(Seek, ShortForwardSeekRepeatedPositionAndBackStepAvoidTheDemuxer) {
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(CClipCache::Get().Clip(EClipFormat::AviMpeg4, 64, 48, 40, 30, 100)), S_OK);
    std::vector<BYTE> buf(dec.GetImageSize());
    ASSERT_EQ(dec.SeekToFrame(5), S_OK);
    EXPECT_EQ(Read(dec, buf).nPattern, 5);
    const LONGLONG llSeeks = dec.GetDemuxerSeekCount();
    for (LONGLONG p : {5, 6, 9, 35}) {  // again, +1, +3, far ahead but no keyframe in between
        ASSERT_EQ(dec.SeekToFrame(p), S_OK);
        EXPECT_EQ(Read(dec, buf).nPattern, p);
    }
    EXPECT_EQ(dec.GetDemuxerSeekCount(), llSeeks) << "forward seeks within reach reposition";
    for (LONGLONG p = 34; p >= 32; --p) {  // back among the frames kept behind
        ASSERT_EQ(dec.SeekToFrame(p), S_OK);
        EXPECT_EQ(Read(dec, buf).nPattern, p);
        EXPECT_EQ(Read(dec, buf).nPattern, p + 1);
    }
    EXPECT_EQ(dec.GetDemuxerSeekCount(), llSeeks) << "a step back to a kept frame repositions";
    ASSERT_EQ(dec.SeekToFrame(2), S_OK);
    EXPECT_EQ(Read(dec, buf).nPattern, 2);
    EXPECT_GT(dec.GetDemuxerSeekCount(), llSeeks);
}

// ---------------------------------------------------------------------------
// Broken files. Empty, truncated, corrupt and audio-only files are refused
// through RenderFile in the graph tests; here what only the decoder sees.

TEST(BrokenFiles, MissingFileFifoAndFolderFailWithoutBlocking) {
    CFileDecoder dec;
    EXPECT_EQ(dec.Open(CClipCache::Get().Path("no-such-file.avi")), HRESULT_FROM_WIN32(2));
    std::vector<BYTE> buf(64);
    EXPECT_EQ(dec.ReadFrame(buf.data(), buf.size(), nullptr), E_UNEXPECTED);
    EXPECT_EQ(dec.SeekToFrame(0), E_UNEXPECTED);
    const std::string strFifo = CClipCache::Get().Path("pipe.avi");
    ASSERT_EQ(::mkfifo(strFifo.c_str(), 0600), 0);
    EXPECT_EQ(dec.Open(strFifo), CFileDecoder::HR_INVALID_FILE_FORMAT) << "a FIFO with no writer";
    EXPECT_EQ(dec.Open(CClipCache::Get().Path("")), CFileDecoder::HR_INVALID_FILE_FORMAT);
    EXPECT_FALSE(dec.IsOpen());
    const std::string strAudio = CClipCache::Get().Path("tone.wav");
    ASSERT_EQ(WriteAudioOnlyClip(strAudio), "");
    EXPECT_EQ(dec.Open(strAudio), CFileDecoder::HR_NO_VIDEO_STREAM);
}

TEST(BrokenFiles, DamagedFilesOpenAndEndCleanlyOrFailButNeverHangOrCrash) {
    const std::string strSource = CClipCache::Get().Clip(EClipFormat::AviMpeg4, 64, 48, 30, 30);
    const auto cb = static_cast<int64_t>(fs::file_size(strSource));
    // A cut in the middle: the intact frames in order, then an end on error.
    const std::string strHalf = CClipCache::Get().Path("half.avi");
    ASSERT_EQ(WriteTruncatedCopy(strSource, strHalf, cb / 2), "");
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(strHalf), S_OK);
    std::vector<BYTE> buf(dec.GetImageSize());
    int nFrames = 0;
    SRead r;
    while ((r = Read(dec, buf)).hr == S_OK) {
        EXPECT_EQ(r.nPattern, nFrames) << "intact frames in order, nothing of the cut one";
        ASSERT_LT(++nFrames, 100);
    }
    EXPECT_EQ(r.hr, S_FALSE);
    EXPECT_TRUE(dec.EndedOnError()) << "the cut packet is an error, not the end of the file";
    EXPECT_GT(nFrames, 3);
    EXPECT_LT(nFrames, 30);

    // Damage in the header or the middle: either refused, or read to a clean end.
    std::vector<std::string> damaged;
    damaged.push_back(CClipCache::Get().Path("bad-header.avi"));
    ASSERT_EQ(WriteCorruptedCopy(strSource, damaged.back(), 0, 4096, 7), "");
    for (uint32_t nSeed = 1; nSeed <= 4; ++nSeed) {
        damaged.push_back(CClipCache::Get().Path("bad-middle-" + std::to_string(nSeed) + ".avi"));
        ASSERT_EQ(WriteCorruptedCopy(strSource, damaged.back(), cb / 3, cb / 4, nSeed), "");
    }
    for (const std::string& strPath : damaged) {
        CFileDecoder bad;
        if (FAILED(bad.Open(strPath))) {
            EXPECT_FALSE(bad.IsOpen());
            continue;
        }
        std::vector<BYTE> image(bad.GetImageSize());
        int nRead = 0;
        HRESULT hr;
        while ((hr = bad.ReadFrame(image.data(), image.size(), nullptr)) == S_OK) {
            ASSERT_LT(++nRead, 1000) << "stream never ends: " << strPath;
        }
        EXPECT_EQ(hr, S_FALSE) << strPath;
    }
}

// ---------------------------------------------------------------------------
// Stop requests.

TEST(StopRequest, AbortsReadSeekAndOpenAndReadingResumesAfterTheLastFrameDelivered) {
    const std::string strPath = CClipCache::Get().Clip(EClipFormat::Mp4H264, 64, 48, 40, 30);
    CFileDecoder dec;
    dec.RequestStop();
    EXPECT_EQ(dec.Open(strPath), E_ABORT);
    EXPECT_FALSE(dec.IsOpen());
    dec.ClearStop();
    ASSERT_EQ(dec.Open(strPath), S_OK);
    std::vector<BYTE> buf(dec.GetImageSize());
    for (int i = 0; i < 6; ++i) ASSERT_EQ(Read(dec, buf).nPattern, i);
    dec.RequestStop();
    int nLast = 5;
    SRead r{};
    for (int i = 0; i < 100 && (r = Read(dec, buf)).hr == S_OK; ++i) nLast = r.nPattern;
    EXPECT_EQ(r.hr, E_ABORT) << "decoded frames may drain, but no new packet is read";
    dec.ClearStop();
    EXPECT_EQ(Read(dec, buf).nPattern, nLast + 1);
    dec.RequestStop();
    EXPECT_EQ(dec.SeekToFrame(30), E_ABORT);
    dec.ClearStop();
    EXPECT_EQ(Read(dec, buf).nPattern, 30) << "the interrupted seek is finished by the next read";
    EXPECT_EQ(Read(dec, buf).nPattern, 31);
}

}  // namespace
