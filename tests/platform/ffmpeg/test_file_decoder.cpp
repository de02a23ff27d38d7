// CFileDecoder on clips made by the clip generator: every container and codec
// the system plays, exact seeking, odd widths, broken files, stop requests,
// and an independent decoder (the ffmpeg command) as an oracle.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/ffmpeg/file_decoder.h"
#include "tools/broken_clips.h"
#include "tools/clip_writer.h"
#include "tools/frame_pattern.h"

namespace fs = std::filesystem;

namespace {

// One folder of generated clips per test program, made on first use and
// removed at exit.
class CClipCache {
public:
    static CClipCache& Get() {
        static CClipCache s_cache;
        return s_cache;
    }
    // Path of the clip these parameters describe, written once.
    std::string Clip(const SClipParams& params) {
        const std::string strKey = std::string(ClipFormatName(params.eFormat)) + "_" +
                                   std::to_string(params.nWidth) + "x" + std::to_string(params.nHeight) +
                                   "_" + std::to_string(params.nFrames) + "_" +
                                   std::to_string(params.nFpsNum) + "_" + std::to_string(params.nGop);
        auto it = m_clips.find(strKey);
        if (it != m_clips.end()) return it->second;
        const std::string strPath = (m_dir / (strKey + ClipFormatExtension(params.eFormat))).string();
        const std::string strErr = WriteClip(strPath, params);
        EXPECT_EQ(strErr, "") << strPath;
        m_clips[strKey] = strPath;
        return strPath;
    }
    std::string Path(const std::string& strName) const { return (m_dir / strName).string(); }

private:
    CClipCache() {
        av_log_set_level(AV_LOG_QUIET);
        m_dir = fs::temp_directory_path() / ("pelora-decoder-test-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
    }
    ~CClipCache() {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    fs::path m_dir;
    std::map<std::string, std::string> m_clips;
};

SClipParams Params(EClipFormat e, int w, int h, int nFrames, int nFps = 25, int nGop = 0) {
    SClipParams s;
    s.eFormat = e;
    s.nWidth = w;
    s.nHeight = h;
    s.nFrames = nFrames;
    s.nFpsNum = nFps;
    s.nFpsDen = 1;
    s.nGop = nGop;
    return s;
}

struct SRead {
    HRESULT hr;
    SDecodedFrameInfo info;
    int nPattern;
};

SRead Read(CFileDecoder& dec, std::vector<BYTE>& buf) {
    SRead r{};
    r.hr = dec.ReadFrame(buf.data(), buf.size(), &r.info);
    r.nPattern = r.hr == S_OK ? ReadFrameIndex(buf.data(), dec.GetWidth(), dec.GetHeight(), dec.GetStride())
                              : -1;
    return r;
}

std::string KindName(const ::testing::TestParamInfo<EClipFormat>& param) {
    std::string s = ClipFormatName(param.param);
    for (char& c : s) c = c == '-' ? '_' : c;
    return s;
}

// ---------------------------------------------------------------------------
// Every kind of clip decodes completely and in order.

class DecodesEveryKind : public ::testing::TestWithParam<EClipFormat> {};

TEST_P(DecodesEveryKind, WithRightGeometryTimingAndEveryFramesOwnIndex) {
    const int nFrames = 24;
    const std::string strPath = CClipCache::Get().Clip(Params(GetParam(), 96, 64, nFrames, 25, 10));
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(strPath), S_OK);
    EXPECT_EQ(dec.GetWidth(), 96);
    EXPECT_EQ(dec.GetHeight(), 64);
    EXPECT_EQ(dec.GetStride(), 288);
    EXPECT_EQ(dec.GetImageSize(), 288u * 64u);
    BITMAPINFOHEADER bih{};
    dec.GetBitmapHeader(&bih);
    EXPECT_EQ(bih.biBitCount, 24);
    EXPECT_EQ(bih.biHeight, 64);  // bottom-up
    EXPECT_EQ(bih.biSizeImage, 288u * 64u);
    EXPECT_EQ(dec.GetAvgTimePerFrame(), 400000);
    EXPECT_EQ(dec.GetFrameCount(), nFrames);
    EXPECT_EQ(dec.GetDuration(), nFrames * 400000LL);
    const bool bAvi = GetParam() == EClipFormat::AviMpeg4 || GetParam() == EClipFormat::AviMjpeg ||
                      GetParam() == EClipFormat::AviRaw;
    EXPECT_EQ(dec.IsAvi(), bAvi);

    std::vector<BYTE> buf(dec.GetImageSize());
    for (int i = 0; i < nFrames; ++i) {
        const SRead r = Read(dec, buf);
        ASSERT_EQ(r.hr, S_OK) << "frame " << i;
        EXPECT_EQ(r.nPattern, i);
        EXPECT_EQ(r.info.llIndex, i);
        EXPECT_EQ(r.info.rtTime, dec.FrameToTime(i)) << "frame " << i;
    }
    EXPECT_EQ(Read(dec, buf).hr, S_FALSE);
    EXPECT_EQ(Read(dec, buf).hr, S_FALSE) << "end of stream must stay the end";
    EXPECT_FALSE(dec.EndedOnError());
}

INSTANTIATE_TEST_SUITE_P(AllKinds, DecodesEveryKind,
                         ::testing::Values(EClipFormat::AviMpeg4, EClipFormat::AviMjpeg,
                                           EClipFormat::AviRaw, EClipFormat::Mp4H264,
                                           EClipFormat::AsfWmv2),
                         KindName);

// ---------------------------------------------------------------------------
// Widths whose rows need padding: rows padded with zeros, upright, and every
// byte of the image rewritten for every frame. 321 is odd (H.264 then codes
// 4:4:4); 322 and 326 are 4:2:0 widths where swscale's SIMD converters get
// the last pixels of a row wrong when given rows with no room to spare (the
// comparison with the ffmpeg command below catches that).

using SWidthCase = std::tuple<EClipFormat, int, int>;  // format, width, height
class PaddedRows : public ::testing::TestWithParam<SWidthCase> {};

std::string WidthCaseName(const ::testing::TestParamInfo<SWidthCase>& param) {
    std::string s = ClipFormatName(std::get<0>(param.param));
    for (char& c : s) c = c == '-' ? '_' : c;
    return s + "_" + std::to_string(std::get<1>(param.param)) + "x" + std::to_string(std::get<2>(param.param));
}

TEST_P(PaddedRows, ComeOutUprightWithZeroPadAndNoStaleBytes) {
    const int w = std::get<1>(GetParam()), h = std::get<2>(GetParam());
    const LONG nStride = (3 * w + 3) & ~3;
    const std::string strPath = CClipCache::Get().Clip(Params(std::get<0>(GetParam()), w, h, 3));
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(strPath), S_OK);
    ASSERT_EQ(dec.GetWidth(), w);
    ASSERT_EQ(dec.GetHeight(), h);
    ASSERT_EQ(dec.GetStride(), nStride);
    ASSERT_EQ(dec.GetImageSize(), static_cast<DWORD>(nStride * h));
    std::vector<BYTE> dirty(dec.GetImageSize() + 16, 0xCD);
    std::vector<BYTE> clean(dec.GetImageSize(), 0x00);
    ASSERT_EQ(dec.ReadFrame(dirty.data(), dec.GetImageSize(), nullptr), S_OK);
    ASSERT_EQ(dec.SeekToFrame(0), S_OK);
    ASSERT_EQ(dec.ReadFrame(clean.data(), clean.size(), nullptr), S_OK);
    for (LONG y = 0; y < h; ++y) {
        for (LONG x = 3 * w; x < nStride; ++x) ASSERT_EQ(dirty[y * nStride + x], 0) << "pad byte of row " << y;
    }
    EXPECT_TRUE(std::equal(clean.begin(), clean.end(), dirty.begin()))
        << "output depends on what the buffer held before: some bytes were not written";
    for (size_t i = dec.GetImageSize(); i < dirty.size(); ++i) ASSERT_EQ(dirty[i], 0xCD) << "wrote past the image";
    const SPatternReading r = ReadFramePattern(dirty.data(), w, h, nStride);
    EXPECT_EQ(r.eOrientation, EPatternOrientation::Upright);
    EXPECT_FALSE(r.bChannelsSwapped);
    EXPECT_EQ(r.nIndex, 0);
}

INSTANTIATE_TEST_SUITE_P(Widths, PaddedRows,
                         ::testing::Values(SWidthCase{EClipFormat::AviMpeg4, 321, 241},
                                           SWidthCase{EClipFormat::AviMpeg4, 322, 242},
                                           SWidthCase{EClipFormat::AviRaw, 321, 241},
                                           SWidthCase{EClipFormat::Mp4H264, 321, 241},
                                           SWidthCase{EClipFormat::Mp4H264, 326, 242}),
                         WidthCaseName);

// ---------------------------------------------------------------------------
// Exact seeking.

// Positions in random order, forward and backward single steps, and the last
// frame; each seek must deliver exactly that frame and then its successor.
void CheckSeekSequence(CFileDecoder& dec, bool bByFrame) {
    const LONGLONG n = dec.GetFrameCount();
    std::vector<LONGLONG> positions;
    std::mt19937 rng(1234);
    for (int i = 0; i < 12; ++i) positions.push_back(static_cast<LONGLONG>(rng() % n));
    for (LONGLONG p = 5; p < 12; ++p) positions.push_back(p);  // steps +1
    for (LONGLONG p = 30; p > 22; --p) positions.push_back(p);  // steps -1
    positions.push_back(n - 1);
    positions.push_back(0);
    positions.push_back(n - 1);
    for (LONGLONG p = n - 2; p >= 0; --p) positions.push_back(p);  // walk back over every GOP

    std::vector<BYTE> buf(dec.GetImageSize());
    for (LONGLONG p : positions) {
        const HRESULT hr = bByFrame ? dec.SeekToFrame(p) : dec.SeekToTime(dec.FrameToTime(p));
        ASSERT_EQ(hr, S_OK) << "seek to " << p;
        const SRead r = Read(dec, buf);
        ASSERT_EQ(r.hr, S_OK) << "read at " << p;
        EXPECT_EQ(r.nPattern, p) << "seek to " << p;
        EXPECT_EQ(r.info.llIndex, p);
        const SRead next = Read(dec, buf);
        if (p + 1 < n) {
            EXPECT_EQ(next.nPattern, p + 1) << "frame after " << p;
        } else {
            EXPECT_EQ(next.hr, S_FALSE) << "nothing after the last frame";
        }
    }
}

TEST(ExactSeek, AviByFrameIndexDeliversExactlyTheFrameAtThePosition) {
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(CClipCache::Get().Clip(Params(EClipFormat::AviMpeg4, 64, 48, 40, 30, 10))), S_OK);
    CheckSeekSequence(dec, true);
}

TEST(ExactSeek, Mp4WithBFramesByMediaTimeDeliversExactlyTheFrameAtThePosition) {
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(CClipCache::Get().Clip(Params(EClipFormat::Mp4H264, 64, 48, 40, 30, 10))), S_OK);
    CheckSeekSequence(dec, false);
}

TEST(ExactSeek, AsfByMediaTimeDeliversExactlyTheFrameAtThePosition) {
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(CClipCache::Get().Clip(Params(EClipFormat::AsfWmv2, 64, 48, 40, 30, 10))), S_OK);
    CheckSeekSequence(dec, false);
}

TEST(ExactSeek, TimeInsideAFramesIntervalGivesThatFrame) {
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(CClipCache::Get().Clip(Params(EClipFormat::Mp4H264, 64, 48, 40, 30, 10))), S_OK);
    std::vector<BYTE> buf(dec.GetImageSize());
    for (LONGLONG p : {17LL, 3LL, 33LL, 9LL}) {
        for (REFERENCE_TIME rt : {dec.FrameToTime(p) + dec.GetAvgTimePerFrame() / 2, dec.FrameToTime(p + 1) - 1}) {
            ASSERT_EQ(dec.SeekToTime(rt), S_OK);
            EXPECT_EQ(Read(dec, buf).nPattern, p) << "time " << rt;
        }
    }
}

TEST(ExactSeek, PositionAtOrPastTheEndIsEndOfStreamAndNegativeIsTheStart) {
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(CClipCache::Get().Clip(Params(EClipFormat::AviMpeg4, 64, 48, 40, 30, 10))), S_OK);
    std::vector<BYTE> buf(dec.GetImageSize());
    EXPECT_EQ(dec.SeekToTime(dec.GetDuration()), S_FALSE);
    EXPECT_EQ(Read(dec, buf).hr, S_FALSE);
    EXPECT_EQ(dec.SeekToFrame(40), S_FALSE);
    EXPECT_EQ(Read(dec, buf).hr, S_FALSE);
    ASSERT_EQ(dec.SeekToTime(-5000000), S_OK);
    EXPECT_EQ(Read(dec, buf).nPattern, 0);
    ASSERT_EQ(dec.SeekToFrame(39), S_OK);  // the end state is left by any seek
    EXPECT_EQ(Read(dec, buf).nPattern, 39);
}

TEST(ExactSeek, ShortForwardSeekRepeatedPositionAndBackStepAvoidTheDemuxer) {
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(CClipCache::Get().Clip(Params(EClipFormat::AviMpeg4, 64, 48, 40, 30, 100))), S_OK);
    std::vector<BYTE> buf(dec.GetImageSize());
    ASSERT_EQ(dec.SeekToFrame(5), S_OK);
    EXPECT_EQ(Read(dec, buf).nPattern, 5);
    const LONGLONG llSeeks = dec.GetDemuxerSeekCount();
    ASSERT_EQ(dec.SeekToFrame(5), S_OK);  // the frame just delivered, again
    EXPECT_EQ(Read(dec, buf).nPattern, 5);
    ASSERT_EQ(dec.SeekToFrame(6), S_OK);
    EXPECT_EQ(Read(dec, buf).nPattern, 6);
    ASSERT_EQ(dec.SeekToFrame(9), S_OK);
    EXPECT_EQ(Read(dec, buf).nPattern, 9);
    ASSERT_EQ(dec.SeekToFrame(35), S_OK);  // far ahead, but no keyframe in between
    EXPECT_EQ(Read(dec, buf).nPattern, 35);
    EXPECT_EQ(dec.GetDemuxerSeekCount(), llSeeks) << "forward seeks within reach must not reposition";
    for (LONGLONG p = 34; p >= 32; --p) {  // backward steps among the frames kept behind
        ASSERT_EQ(dec.SeekToFrame(p), S_OK);
        EXPECT_EQ(Read(dec, buf).nPattern, p);
        EXPECT_EQ(Read(dec, buf).nPattern, p + 1) << "the frames after a step back follow in order";
    }
    EXPECT_EQ(dec.GetDemuxerSeekCount(), llSeeks) << "a step back to a kept frame must not reposition";
    ASSERT_EQ(dec.SeekToFrame(2), S_OK);
    EXPECT_EQ(Read(dec, buf).nPattern, 2);
    EXPECT_GT(dec.GetDemuxerSeekCount(), llSeeks) << "a seek back past the kept frames must reposition";
}

// ---------------------------------------------------------------------------
// Files that must fail to open, cleanly.

class BrokenFiles : public ::testing::Test {
protected:
    static std::string Source() { return CClipCache::Get().Clip(Params(EClipFormat::AviMpeg4, 64, 48, 30, 30, 10)); }
    static std::string Mp4Source() { return CClipCache::Get().Clip(Params(EClipFormat::Mp4H264, 64, 48, 30, 30, 10)); }
    // Opening fails, or the file opens and reads to a clean end with frames
    // that carry valid, increasing indices.
    static void ExpectFailsOrEndsCleanly(const std::string& strPath) {
        CFileDecoder dec;
        const HRESULT hr = dec.Open(strPath);
        if (FAILED(hr)) {
            EXPECT_FALSE(dec.IsOpen());
            return;
        }
        std::vector<BYTE> buf(dec.GetImageSize());
        int nRead = 0;
        HRESULT hrRead;
        while ((hrRead = dec.ReadFrame(buf.data(), buf.size(), nullptr)) == S_OK) {
            ASSERT_LT(++nRead, 1000) << "stream never ends";
        }
        EXPECT_EQ(hrRead, S_FALSE);
    }
};

TEST_F(BrokenFiles, MissingFileFailsWithFileNotFound) {
    CFileDecoder dec;
    EXPECT_EQ(dec.Open(CClipCache::Get().Path("no-such-file.avi")), HRESULT_FROM_WIN32(2));
    EXPECT_FALSE(dec.IsOpen());
    std::vector<BYTE> buf(64);
    EXPECT_EQ(dec.ReadFrame(buf.data(), buf.size(), nullptr), E_UNEXPECTED);
    EXPECT_EQ(dec.SeekToFrame(0), E_UNEXPECTED);
}

TEST_F(BrokenFiles, FifoAndFolderAreRefusedWithoutBlocking) {
    const std::string strFifo = CClipCache::Get().Path("pipe.avi");
    ASSERT_EQ(::mkfifo(strFifo.c_str(), 0600), 0);
    CFileDecoder dec;
    EXPECT_EQ(dec.Open(strFifo), CFileDecoder::HR_INVALID_FILE_FORMAT) << "a FIFO with no writer";
    EXPECT_EQ(dec.Open(CClipCache::Get().Path("")), CFileDecoder::HR_INVALID_FILE_FORMAT) << "a folder";
    EXPECT_FALSE(dec.IsOpen());
}

TEST_F(BrokenFiles, EmptyAndHeaderTruncatedAndHeaderCorruptedFilesFailToOpen) {
    const std::string strEmpty = CClipCache::Get().Path("empty.avi");
    ASSERT_EQ(WriteEmptyFile(strEmpty), "");
    const std::string strShort = CClipCache::Get().Path("short.avi");
    ASSERT_EQ(WriteTruncatedCopy(Source(), strShort, 200), "");
    const std::string strShortMp4 = CClipCache::Get().Path("short.mp4");
    ASSERT_EQ(WriteTruncatedCopy(Mp4Source(), strShortMp4, static_cast<int64_t>(fs::file_size(Mp4Source()) / 2)), "");
    const std::string strGarbage = CClipCache::Get().Path("garbage.avi");
    ASSERT_EQ(WriteCorruptedCopy(Source(), strGarbage, 0, static_cast<int64_t>(fs::file_size(Source())), 7), "");
    for (const std::string& s : {strEmpty, strShort, strShortMp4, strGarbage}) {
        CFileDecoder dec;
        const HRESULT hr = dec.Open(s);
        EXPECT_TRUE(FAILED(hr)) << s;
        EXPECT_FALSE(dec.IsOpen()) << s;
    }
}

TEST_F(BrokenFiles, AudioOnlyFilesFailWithNoVideoStream) {
    for (const char* pszName : {"tone.wav", "tone.mp4"}) {
        const std::string strPath = CClipCache::Get().Path(pszName);
        ASSERT_EQ(WriteAudioOnlyClip(strPath), "");
        CFileDecoder dec;
        EXPECT_EQ(dec.Open(strPath), CFileDecoder::HR_NO_VIDEO_STREAM) << pszName;
    }
}

TEST_F(BrokenFiles, DamagedHeaderOrMiddleOpensOrFailsButNeverHangsOrCrashes) {
    const auto cb = static_cast<int64_t>(fs::file_size(Source()));
    const std::string strBadHeader = CClipCache::Get().Path("bad-header.avi");
    ASSERT_EQ(WriteCorruptedCopy(Source(), strBadHeader, 0, 4096, 7), "");
    ExpectFailsOrEndsCleanly(strBadHeader);
    const std::string strHalf = CClipCache::Get().Path("half.avi");
    ASSERT_EQ(WriteTruncatedCopy(Source(), strHalf, cb / 2), "");
    ExpectFailsOrEndsCleanly(strHalf);
    for (uint32_t nSeed = 1; nSeed <= 4; ++nSeed) {
        const std::string strBad = CClipCache::Get().Path("bad-middle-" + std::to_string(nSeed) + ".avi");
        ASSERT_EQ(WriteCorruptedCopy(Source(), strBad, cb / 3, cb / 4, nSeed), "");
        ExpectFailsOrEndsCleanly(strBad);
    }
}

TEST_F(BrokenFiles, TruncatedAviPlaysWhatItHasThenEnds) {
    const auto cb = static_cast<int64_t>(fs::file_size(Source()));
    const std::string strHalf = CClipCache::Get().Path("half-play.avi");
    ASSERT_EQ(WriteTruncatedCopy(Source(), strHalf, cb / 2), "");
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(strHalf), S_OK);
    std::vector<BYTE> buf(dec.GetImageSize());
    int nFrames = 0;
    SRead r;
    while ((r = Read(dec, buf)).hr == S_OK) {
        EXPECT_EQ(r.nPattern, nFrames) << "intact frames in order, nothing of the cut one";
        ++nFrames;
        ASSERT_LT(nFrames, 100);
    }
    EXPECT_EQ(r.hr, S_FALSE);
    EXPECT_TRUE(dec.EndedOnError()) << "the cut packet is an error, not the end of the file";
    EXPECT_GT(nFrames, 3);
    EXPECT_LT(nFrames, 30);
}

// ---------------------------------------------------------------------------
// Stop requests.

TEST(StopRequest, AbortsReadAndOpenAndReadingResumesAfterTheLastFrameDelivered) {
    const std::string strPath = CClipCache::Get().Clip(Params(EClipFormat::Mp4H264, 64, 48, 40, 30, 10));
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
    r = Read(dec, buf);
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.nPattern, nLast + 1) << "reading resumes right after the last frame delivered";
    dec.RequestStop();
    EXPECT_EQ(dec.SeekToFrame(30), E_ABORT);
    dec.ClearStop();
    EXPECT_EQ(Read(dec, buf).nPattern, 30) << "the interrupted seek is finished by the next read";
    EXPECT_EQ(Read(dec, buf).nPattern, 31);
}

TEST(StopRequest, FromAnotherThreadEndsALongDecodingLoop) {
    const std::string strPath = CClipCache::Get().Clip(Params(EClipFormat::AviMpeg4, 64, 48, 40, 30, 10));
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(strPath), S_OK);
    std::vector<BYTE> buf(dec.GetImageSize());
    std::atomic<int> nFrames{0};
    std::thread stopper([&] {
        while (nFrames.load() < 3) std::this_thread::yield();
        dec.RequestStop();
    });
    HRESULT hr = S_OK;
    // Loop over the clip again and again until the stop request arrives.
    for (int i = 0; i < 100000 && hr != E_ABORT; ++i) {
        hr = dec.ReadFrame(buf.data(), buf.size(), nullptr);
        if (hr == S_OK) nFrames.fetch_add(1);
        if (hr == S_FALSE) hr = dec.SeekToFrame(0);
    }
    stopper.join();
    EXPECT_EQ(hr, E_ABORT);
}

// ---------------------------------------------------------------------------
// Independent decoder: the ffmpeg command's bgr24 output, top-down.

bool HaveFfmpegCommand() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

std::vector<uint8_t> FfmpegFrames(const std::string& strPath) {
    std::vector<uint8_t> out;
    const std::string strCmd = "ffmpeg -v error -i '" + strPath + "' -f rawvideo -pix_fmt bgr24 -";
    FILE* f = ::popen(strCmd.c_str(), "r");
    if (!f) return out;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.insert(out.end(), chunk, chunk + n);
    ::pclose(f);
    return out;
}

class MatchesFfmpegCommand : public ::testing::TestWithParam<SWidthCase> {};

TEST_P(MatchesFfmpegCommand, EveryPixelOfEveryFrame) {
    if (!HaveFfmpegCommand()) GTEST_SKIP() << "no ffmpeg command";
    const int w = std::get<1>(GetParam()), h = std::get<2>(GetParam());
    const std::string strPath = CClipCache::Get().Clip(Params(std::get<0>(GetParam()), w, h, 6));
    const std::vector<uint8_t> ref = FfmpegFrames(strPath);
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(strPath), S_OK);
    const size_t cbRow = 3 * w, cbFrame = cbRow * h;
    ASSERT_EQ(ref.size(), 6 * cbFrame);
    std::vector<BYTE> buf(dec.GetImageSize());
    int nMaxDiff = 0;
    size_t nDiffering = 0;
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(dec.ReadFrame(buf.data(), buf.size(), nullptr), S_OK);
        for (size_t y = 0; y < static_cast<size_t>(h); ++y) {
            const uint8_t* pRef = ref.data() + i * cbFrame + y * cbRow;     // top-down
            const BYTE* pOurs = buf.data() + (h - 1 - y) * dec.GetStride();  // bottom-up
            for (size_t x = 0; x < cbRow; ++x) {
                const int d = std::abs(int{pRef[x]} - int{pOurs[x]});
                nMaxDiff = std::max(nMaxDiff, d);
                nDiffering += d != 0;
            }
        }
    }
    EXPECT_EQ(nMaxDiff, 0) << nDiffering << " bytes differ";
}

INSTANTIATE_TEST_SUITE_P(Widths, MatchesFfmpegCommand,
                         ::testing::Values(SWidthCase{EClipFormat::AviMpeg4, 321, 241},
                                           SWidthCase{EClipFormat::AviMpeg4, 322, 242},
                                           SWidthCase{EClipFormat::Mp4H264, 326, 242}),
                         WidthCaseName);

}  // namespace
