// The clip generator: its command line, the clip description it refuses, the keyframe
// interval and frame rate it writes, and the damaged-file helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include "platform/ffmpeg/file_decoder.h"
#include "tools/broken_clips.h"
#include "tools/clip_writer.h"
#include "tools/frame_pattern.h"

namespace fs = std::filesystem;

namespace {

class ClipgenTest : public ::testing::Test {
protected:
    void SetUp() override {
        av_log_set_level(AV_LOG_QUIET);
        m_dir = fs::temp_directory_path() /
                ("pelora-clipgen-test-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    std::string Path(const std::string& s) const { return (m_dir / s).string(); }

    // Runs clipgen with arguments; returns its exit status, stderr in *pErr.
    int RunClipgen(const std::string& strArgs, std::string* pErr = nullptr) const {
        const std::string strErrFile = Path("stderr.txt");
        const std::string strCmd = std::string(PELORA_CLIPGEN) + " " + strArgs + " >/dev/null 2>" + strErrFile;
        const int nStatus = std::system(strCmd.c_str());
        if (pErr) {
            std::ifstream in(strErrFile);
            pErr->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }

    fs::path m_dir;
};

std::vector<char> ReadBytes(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Indices of the keyframes among the video packets, in file order.
std::vector<int> KeyframePackets(const std::string& strPath) {
    std::vector<int> keys;
    AVFormatContext* pFormat = nullptr;
    if (avformat_open_input(&pFormat, strPath.c_str(), nullptr, nullptr) < 0) return keys;
    AVPacket* pPacket = av_packet_alloc();
    int n = 0;
    while (av_read_frame(pFormat, pPacket) >= 0) {
        if (pPacket->flags & AV_PKT_FLAG_KEY) keys.push_back(n);
        ++n;
        av_packet_unref(pPacket);
    }
    av_packet_free(&pPacket);
    avformat_close_input(&pFormat);
    return keys;
}

TEST_F(ClipgenTest, BadArgumentsExitNonZeroWithAMessage) {
    const std::string strOut = Path("x.avi");
    const std::string strGood = " --format avi-mpeg4 --size 64x48 --frames 3 --fps 30";
    struct {
        std::string strArgs;
        const char* pszMessage;
    } const cases[] = {
        {"", "--out"},
        {"--out " + strOut + " --format avi-theora --size 64x48 --frames 3 --fps 30", "unknown format"},
        {"--out " + strOut + " --format avi-mpeg4 --size 64by48 --frames 3 --fps 30", "not WxH"},
        {"--out " + strOut + " --format avi-mpeg4 --size 16x16 --frames 3 --fps 30", "size must be"},
        {"--out " + strOut + " --format avi-mpeg4 --size 64x48 --frames 3x --fps 30", "frame count"},
        {"--out " + strOut + " --format avi-mpeg4 --size 64x48 --frames 3 --fps fast", "frame rate"},
        {"--out " + strOut + strGood + " --bitrate -5", "bit rate"},
        {"--out " + strOut + strGood + " --colour red", "unknown option"},
        {"--out " + strOut + strGood + " --gop", "needs a value"},
        {"--out " + strOut + " --format avi-mpeg4 --size 64x48 --fps 30", "--frames"},
    };
    for (const auto& c : cases) {
        std::string strErr;
        EXPECT_NE(RunClipgen(c.strArgs, &strErr), 0) << c.strArgs;
        EXPECT_NE(strErr.find(c.pszMessage), std::string::npos) << c.strArgs << " said: " << strErr;
    }
    EXPECT_FALSE(fs::exists(strOut)) << "nothing is written for bad arguments";
    std::string strErr;
    EXPECT_NE(RunClipgen("--out /nonexistent-dir/x.avi" + strGood, &strErr), 0);
    EXPECT_NE(strErr.find("cannot create"), std::string::npos) << strErr;
}

TEST_F(ClipgenTest, ParamsTheEncodersCannotWriteAreRefusedBeforeWriting) {
    SClipParams params;
    EXPECT_EQ(CheckClipParams(params), "");
    params.nWidth = 31;
    EXPECT_NE(CheckClipParams(params).find("size must be"), std::string::npos);
    params = SClipParams{};
    params.nHeight = 9000;
    EXPECT_NE(CheckClipParams(params).find("size must be"), std::string::npos);
    params = SClipParams{};
    params.eFormat = EClipFormat::AsfWmv2;
    params.nWidth = 321;
    EXPECT_NE(CheckClipParams(params).find("even"), std::string::npos);
    params.eFormat = EClipFormat::Mp4H264;  // odd sizes go to 4:4:4
    EXPECT_EQ(CheckClipParams(params), "");
    params = SClipParams{};
    params.nFrames = 0;
    EXPECT_NE(CheckClipParams(params).find("frame count"), std::string::npos);
    params = SClipParams{};
    params.nFpsDen = 0;
    EXPECT_NE(CheckClipParams(params).find("frame rate"), std::string::npos);
    params = SClipParams{};
    params.nGop = -1;
    EXPECT_NE(CheckClipParams(params).find("GOP"), std::string::npos);
    EXPECT_NE(WriteClip(Path("never.avi"), params), "");
    EXPECT_FALSE(fs::exists(Path("never.avi")));
}

TEST_F(ClipgenTest, WritesTheDemoClipInterfaceWithTheRequestedRateSizeAndCount) {
    const std::string strOut = Path("demo.avi");
    ASSERT_EQ(RunClipgen("--out " + strOut + " --format avi-mpeg4 --size 320x240 --frames 15 --fps 30000/1001"), 0);
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(strOut), S_OK);
    EXPECT_EQ(dec.GetWidth(), 320);
    EXPECT_EQ(dec.GetHeight(), 240);
    EXPECT_EQ(dec.GetFrameCount(), 15);
    EXPECT_EQ(dec.GetAvgTimePerFrame(), 333667);
    std::vector<BYTE> buf(dec.GetImageSize());
    ASSERT_EQ(dec.SeekToFrame(14), S_OK);
    ASSERT_EQ(dec.ReadFrame(buf.data(), buf.size(), nullptr), S_OK);
    EXPECT_EQ(ReadFrameIndex(buf.data(), 320, 240, dec.GetStride()), 14);
}

TEST_F(ClipgenTest, GopOptionGivesExactlyOneKeyframeEveryGFrames) {
    for (const char* pszFormat : {"avi-mpeg4", "mp4-h264"}) {
        const std::string strOut = Path(std::string("gop-") + pszFormat);
        ASSERT_EQ(RunClipgen("--out " + strOut + " --format " + pszFormat +
                             " --size 64x48 --frames 23 --fps 25 --gop 7"),
                  0);
        // Packets are in decode order; with B-frames the keyframes still
        // lead their GOPs, so their packet numbers are 0, 7, 14, 21.
        EXPECT_EQ(KeyframePackets(strOut), (std::vector<int>{0, 7, 14, 21})) << pszFormat;
    }
}

TEST_F(ClipgenTest, FirstIndexAndBitRateOptionsAreHonoured) {
    const std::string strOut = Path("offset.mp4");
    ASSERT_EQ(RunClipgen("--out " + strOut +
                         " --format mp4-h264 --size 64x48 --frames 4 --fps 30 --first-index 500 --bitrate 200k"),
              0);
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(strOut), S_OK);
    std::vector<BYTE> buf(dec.GetImageSize());
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(dec.ReadFrame(buf.data(), buf.size(), nullptr), S_OK);
        EXPECT_EQ(ReadFrameIndex(buf.data(), 64, 48, dec.GetStride()), 500 + i);
    }
}

TEST_F(ClipgenTest, BrokenFileHelpersDamageExactlyWhatTheySay) {
    SClipParams params;
    params.eFormat = EClipFormat::AviMjpeg;
    params.nWidth = 64;
    params.nHeight = 48;
    params.nFrames = 5;
    const std::string strSource = Path("src.avi");
    ASSERT_EQ(WriteClip(strSource, params), "");
    const std::vector<char> src = ReadBytes(strSource);
    ASSERT_GT(src.size(), 2000u);

    ASSERT_EQ(WriteEmptyFile(Path("empty")), "");
    EXPECT_EQ(fs::file_size(Path("empty")), 0u);

    ASSERT_EQ(WriteTruncatedCopy(strSource, Path("trunc"), 1000), "");
    const std::vector<char> trunc = ReadBytes(Path("trunc"));
    ASSERT_EQ(trunc.size(), 1000u);
    EXPECT_TRUE(std::equal(trunc.begin(), trunc.end(), src.begin()));

    ASSERT_EQ(WriteCorruptedCopy(strSource, Path("bad1"), 500, 300, 42), "");
    ASSERT_EQ(WriteCorruptedCopy(strSource, Path("bad2"), 500, 300, 42), "");
    const std::vector<char> bad = ReadBytes(Path("bad1"));
    ASSERT_EQ(bad.size(), src.size());
    EXPECT_EQ(bad, ReadBytes(Path("bad2"))) << "same seed, same file";
    EXPECT_TRUE(std::equal(bad.begin(), bad.begin() + 500, src.begin()));
    EXPECT_TRUE(std::equal(bad.begin() + 800, bad.end(), src.begin() + 800));
    int nChanged = 0;
    for (int i = 500; i < 800; ++i) nChanged += bad[i] != src[i];
    EXPECT_GT(nChanged, 250);

    EXPECT_NE(WriteTruncatedCopy(Path("missing"), Path("t2"), 10), "");
}

TEST_F(ClipgenTest, AudioOnlyClipsHaveOneAudioStreamAndNoVideo) {
    for (const char* pszName : {"a.wav", "a.mp4"}) {
        ASSERT_EQ(WriteAudioOnlyClip(Path(pszName)), "") << pszName;
        AVFormatContext* pFormat = nullptr;
        ASSERT_EQ(avformat_open_input(&pFormat, Path(pszName).c_str(), nullptr, nullptr), 0);
        ASSERT_GE(avformat_find_stream_info(pFormat, nullptr), 0);
        ASSERT_EQ(pFormat->nb_streams, 1u) << pszName;
        EXPECT_EQ(pFormat->streams[0]->codecpar->codec_type, AVMEDIA_TYPE_AUDIO);
        EXPECT_GT(pFormat->duration, 900000) << "about a second of sound";
        avformat_close_input(&pFormat);
    }
}

}  // namespace
