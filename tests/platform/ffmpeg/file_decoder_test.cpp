// CFileDecoder on generated clips: padded rows against an independent
// decoder (the ffmpeg command), damaged files, exact seeks and stop requests.
#include <gtest/gtest.h>

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

// Reads the next frame; returns the index it shows, -1 when there was none.
int Read(CFileDecoder& dec, std::vector<BYTE>& buf, HRESULT* phr = nullptr) {
    const HRESULT hr = dec.ReadFrame(buf.data(), buf.size(), nullptr);
    if (phr) *phr = hr;
    return hr == S_OK ? ReadFrameIndex(buf.data(), dec.GetWidth(), dec.GetHeight(), dec.GetStride())
                      : -1;
}

// The ffmpeg command's frames (a decoder independent of ours), bgr24 and top-down.
std::vector<uint8_t> FfmpegFrames(const std::string& strPath) {
    std::vector<uint8_t> out;
    const std::string strCmd = "ffmpeg -v error -i '" + strPath + "' -f rawvideo -pix_fmt bgr24 -";
    FILE* f = ::popen(strCmd.c_str(), "r");
    uint8_t chunk[65536];
    for (size_t n; f && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) {
        out.insert(out.end(), chunk, chunk + n);
    }
    if (f) ::pclose(f);
    return out;
}

// Padded rows: zero pad, nothing written past the image, every pixel as the
// ffmpeg command gives it. 321 is odd (H.264 codes 4:4:4); at 322 and 326
// (4:2:0) swscale's SIMD converters get a tight row's last pixels wrong.
TEST(PaddedRows, ComeOutWithZeroPadAndTheReferencePixels) {
    const struct {
        EClipFormat eFormat;
        int w, h;
    } cases[] = {{EClipFormat::AviMpeg4, 322, 242},
                 {EClipFormat::Mp4H264, 321, 241},
                 {EClipFormat::Mp4H264, 326, 242}};
    for (const auto& [eFormat, w, h] : cases) {
        SCOPED_TRACE(std::string(ClipFormatName(eFormat)) + " " + std::to_string(w));
        const int nFrames = 4;
        const LONG nStride = (3 * w + 3) & ~3;
        const std::string strPath = CClipCache::Get().Clip(eFormat, w, h, nFrames);
        CFileDecoder dec;
        ASSERT_EQ(dec.Open(strPath), S_OK);
        ASSERT_EQ(dec.GetStride(), nStride);
        ASSERT_EQ(dec.GetImageSize(), static_cast<DWORD>(nStride * h));
        const std::vector<uint8_t> ref = FfmpegFrames(strPath);  // top-down
        const size_t cbRow = 3 * w, cbFrame = cbRow * h;
        ASSERT_EQ(ref.size(), nFrames * cbFrame);
        // Filled with junk: every byte of the image must be written.
        std::vector<BYTE> frame(dec.GetImageSize() + 16, 0xCD);
        size_t nDiffering = 0;
        for (int i = 0; i < nFrames; ++i) {
            ASSERT_EQ(dec.ReadFrame(frame.data(), dec.GetImageSize(), nullptr), S_OK);
            for (LONG y = 0; y < h; ++y) {
                const uint8_t* pRef = ref.data() + i * cbFrame + y * cbRow;
                const BYTE* pOurs = frame.data() + (h - 1 - y) * nStride;  // bottom-up
                for (size_t x = 0; x < cbRow; ++x) nDiffering += pRef[x] != pOurs[x];
                for (LONG x = 3 * w; x < nStride; ++x) ASSERT_EQ(pOurs[x], 0) << "pad of row " << y;
            }
            for (size_t k = dec.GetImageSize(); k < frame.size(); ++k) ASSERT_EQ(frame[k], 0xCD);
        }
        EXPECT_EQ(nDiffering, 0u);
    }
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
    HRESULT hr = S_OK;
    for (int n = Read(dec, buf, &hr); hr == S_OK; n = Read(dec, buf, &hr)) {
        EXPECT_EQ(n, nFrames) << "intact frames in order, nothing of the cut one";
        ASSERT_LT(++nFrames, 100);
    }
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_GT(nFrames, 3);
    EXPECT_LT(nFrames, 30);

    // Damage in the header or the middle: either refused, or read to a clean end.
    const std::string strBad = CClipCache::Get().Path("bad.avi");
    for (const auto& [llOffset, llCount, nSeed] :
         {std::tuple{int64_t{0}, int64_t{4096}, 7u}, {cb / 3, cb / 4, 1u}, {cb / 3, cb / 4, 2u}}) {
        SCOPED_TRACE(nSeed);
        ASSERT_EQ(WriteCorruptedCopy(strSource, strBad, llOffset, llCount, nSeed), "");
        CFileDecoder bad;
        if (FAILED(bad.Open(strBad))) {
            EXPECT_FALSE(bad.IsOpen());
            continue;
        }
        std::vector<BYTE> image(bad.GetImageSize());
        int nRead = 0;
        for (Read(bad, image, &hr); hr == S_OK; Read(bad, image, &hr)) {
            ASSERT_LT(++nRead, 1000) << "stream never ends";
        }
        EXPECT_EQ(hr, S_FALSE);
    }
}

// A transport stream has no index: a demuxer seek searches the file and may
// land on the second keyframe when asked for the first. Every frame of the
// first two groups, reached from far ahead, must be the one read in order.
TEST(ExactSeek, ReachesTheFirstFramesOfAStreamWithoutAnIndex) {
    const std::string strPath = CClipCache::Get().Path("no-index.ts");
    const std::string strCmd =
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 40 "
        "-c:v mpeg2video -g 12 -bf 2 -q:v 4 '" +
        strPath + "'";
    ASSERT_EQ(std::system(strCmd.c_str()), 0);
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(strPath), S_OK);
    std::vector<std::vector<BYTE>> inOrder;
    for (std::vector<BYTE> frame(dec.GetImageSize());
         dec.ReadFrame(frame.data(), frame.size(), nullptr) == S_OK;) {
        inOrder.push_back(frame);
    }
    ASSERT_EQ(inOrder.size(), 40u);
    std::vector<BYTE> frame(dec.GetImageSize());
    for (LONGLONG llFrame = 0; llFrame < 24; ++llFrame) {
        ASSERT_EQ(dec.SeekToFrame(36), S_OK);
        ASSERT_EQ(dec.SeekToFrame(llFrame), S_OK);
        ASSERT_EQ(dec.ReadFrame(frame.data(), frame.size(), nullptr), S_OK);
        EXPECT_TRUE(frame == inOrder[llFrame]) << "frame " << llFrame;
    }
}

TEST(StopRequest, AbortsReadSeekAndOpenAndReadingResumesAfterTheLastFrameDelivered) {
    const std::string strPath = CClipCache::Get().Clip(EClipFormat::Mp4H264, 64, 48, 40, 30);
    CFileDecoder dec;
    dec.RequestStop();
    EXPECT_EQ(dec.Open(strPath), E_ABORT);
    EXPECT_FALSE(dec.IsOpen());
    dec.ClearStop();
    ASSERT_EQ(dec.Open(strPath), S_OK);
    std::vector<BYTE> buf(dec.GetImageSize());
    for (int i = 0; i < 6; ++i) ASSERT_EQ(Read(dec, buf), i);
    dec.RequestStop();
    int nLast = 5;
    HRESULT hr = S_OK;
    for (int n = Read(dec, buf, &hr); hr == S_OK; n = Read(dec, buf, &hr)) nLast = n;
    EXPECT_EQ(hr, E_ABORT) << "decoded frames may drain, but no new packet is read";
    dec.ClearStop();
    EXPECT_EQ(Read(dec, buf), nLast + 1);
    dec.RequestStop();
    EXPECT_EQ(dec.SeekToFrame(30), E_ABORT);
    dec.ClearStop();
    EXPECT_EQ(Read(dec, buf), 30) << "the interrupted seek is finished by the next read";
    EXPECT_EQ(Read(dec, buf), 31);
}

// Looking at the next frame's time neither consumes nor skips it, and the
// frames around the read position are reached again without a demuxer seek.
TEST(PeekNextTime, LeavesTheFrameForTheNextReadAndStepsBothWaysWithoutADemuxerSeek) {
    for (EClipFormat eFormat : {EClipFormat::Mp4H264, EClipFormat::AviMpeg4}) {
        SCOPED_TRACE(ClipFormatName(eFormat));
        const std::string strPath = CClipCache::Get().Clip(eFormat, 64, 48, 30, 25, 8);
        CFileDecoder dec;
        ASSERT_EQ(dec.Open(strPath), S_OK);
        std::vector<BYTE> buf(dec.GetImageSize());
        for (int i = 0; i < 7; ++i) ASSERT_EQ(Read(dec, buf), i);
        REFERENCE_TIME rt = -1;
        ASSERT_EQ(dec.PeekNextTime(&rt), S_OK);
        EXPECT_EQ(rt, dec.FrameToTime(7));
        ASSERT_EQ(dec.PeekNextTime(&rt), S_OK);
        EXPECT_EQ(rt, dec.FrameToTime(7)) << "a second look sees the same frame";
        const LONGLONG llSeeks = dec.GetDemuxerSeekCount();
        // Across the keyframe at 8 and back.
        const int steps[] = {7, 8, 9, 8, 7, 6, 7, 8};
        for (int n : steps) {
            ASSERT_EQ(dec.SeekToFrame(n), S_OK);
            ASSERT_EQ(dec.PeekNextTime(&rt), S_OK);
            EXPECT_EQ(rt, dec.FrameToTime(n));
            EXPECT_EQ(Read(dec, buf), n);
        }
        EXPECT_EQ(dec.GetDemuxerSeekCount(), llSeeks);
        // Read straight through, only the last two frames stay: a step back
        // past them seeks the demuxer and still lands exactly.
        dec.KeepRecentFrames(false);
        for (int n = 9; n < 14; ++n) ASSERT_EQ(Read(dec, buf), n);
        ASSERT_EQ(dec.SeekToFrame(12), S_OK);
        EXPECT_EQ(Read(dec, buf), 12);
        EXPECT_EQ(dec.GetDemuxerSeekCount(), llSeeks);
        ASSERT_EQ(dec.SeekToFrame(10), S_OK);
        EXPECT_EQ(Read(dec, buf), 10);
        EXPECT_EQ(dec.GetDemuxerSeekCount(), llSeeks + 1);
        dec.KeepRecentFrames(true);
        ASSERT_EQ(dec.SeekToFrame(29), S_OK);
        EXPECT_EQ(Read(dec, buf), 29);
        EXPECT_EQ(dec.PeekNextTime(&rt), S_FALSE) << "nothing after the last frame";
    }
}

}  // namespace
