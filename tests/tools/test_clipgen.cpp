// The clip generator: its command line, the clips it writes (rate, size,
// first index, keyframe interval) and the corrupted-copy helper.
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
        const std::string strCmd =
            std::string(PELORA_CLIPGEN) + " " + strArgs + " >/dev/null 2>" + strErrFile;
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

// Packet numbers of the keyframes, in file order.
std::vector<int> KeyframePackets(const std::string& strPath) {
    std::vector<int> keys;
    AVFormatContext* pFormat = nullptr;
    if (avformat_open_input(&pFormat, strPath.c_str(), nullptr, nullptr) < 0) return keys;
    AVPacket* pPacket = av_packet_alloc();
    for (int n = 0; av_read_frame(pFormat, pPacket) >= 0; ++n) {
        if (pPacket->flags & AV_PKT_FLAG_KEY) keys.push_back(n);
        av_packet_unref(pPacket);
    }
    av_packet_free(&pPacket);
    avformat_close_input(&pFormat);
    return keys;
}

TEST_F(ClipgenTest, BadArgumentsAndUnwritableClipsExitNonZeroWithAMessageAndWriteNothing) {
    const std::string strOut = " --out " + Path("x.avi");
    const std::string strSize = " --size 64x48 --frames 3 --fps 30";
    const std::string strGood = " --format avi-mpeg4" + strSize;
    struct {
        std::string strArgs;
        const char* pszMessage;
    } const cases[] = {
        {"", "--out"},
        {strOut + " --format avi-theora" + strSize, "unknown format"},
        {strOut + " --format avi-mpeg4 --size 16x16 --frames 3 --fps 30", "size must be"},
        {strOut + " --format asf-wmv2 --size 321x241 --frames 3 --fps 30", "even"},
        {strOut + " --format avi-mpeg4 --size 64x48 --frames 3x --fps 30", "frame count"},
        {strOut + strGood + " --colour red", "unknown option"},
        {strOut + strGood + " --gop", "needs a value"},
        {" --out /nonexistent-dir/x.avi" + strGood, "cannot create"},
    };
    for (const auto& c : cases) {
        std::string strErr;
        EXPECT_NE(RunClipgen(c.strArgs, &strErr), 0) << c.strArgs;
        EXPECT_NE(strErr.find(c.pszMessage), std::string::npos) << c.strArgs << " said: " << strErr;
    }
    EXPECT_FALSE(fs::exists(Path("x.avi")));
}

TEST_F(ClipgenTest, WritesTheRequestedRateSizeCountAndFirstIndex) {
    struct {
        std::string strArgs;
        int nWidth, nHeight, nFrames, nFirst;
        REFERENCE_TIME rtFrame;
    } const cases[] = {
        // The README's demo clip.
        {"--format avi-mpeg4 --size 320x240 --frames 15 --fps 30000/1001", 320, 240, 15, 0, 333667},
        {"--format mp4-h264 --size 64x48 --frames 4 --fps 30 --first-index 500 --bitrate 200k", 64,
         48, 4, 500, 333333},
    };
    for (const auto& c : cases) {
        const std::string strOut = Path("clip" + std::to_string(c.nWidth));
        ASSERT_EQ(RunClipgen("--out " + strOut + " " + c.strArgs), 0) << c.strArgs;
        CFileDecoder dec;
        ASSERT_EQ(dec.Open(strOut), S_OK);
        EXPECT_EQ(dec.GetWidth(), c.nWidth);
        EXPECT_EQ(dec.GetHeight(), c.nHeight);
        EXPECT_EQ(dec.GetFrameCount(), c.nFrames);
        EXPECT_EQ(dec.GetAvgTimePerFrame(), c.rtFrame);
        std::vector<BYTE> buf(dec.GetImageSize());
        for (int i = 0; i < c.nFrames; ++i) {
            ASSERT_EQ(dec.ReadFrame(buf.data(), buf.size(), nullptr), S_OK);
            EXPECT_EQ(ReadFrameIndex(buf.data(), c.nWidth, c.nHeight, dec.GetStride()),
                      c.nFirst + i);
        }
    }
}

TEST_F(ClipgenTest, GopOptionGivesExactlyOneKeyframeEveryGFrames) {
    for (const char* pszFormat : {"avi-mpeg4", "mp4-h264"}) {
        const std::string strOut = Path(std::string("gop-") + pszFormat);
        ASSERT_EQ(RunClipgen("--out " + strOut + " --format " + pszFormat +
                             " --size 64x48 --frames 23 --fps 25 --gop 7"),
                  0);
        // Packets are in decode order; with B-frames the keyframes still
        // lead their GOPs.
        EXPECT_EQ(KeyframePackets(strOut), (std::vector<int>{0, 7, 14, 21})) << pszFormat;
    }
}

// A corruption that missed its range would let the "damaged file" tests,
// which accept a clean end as well as a refusal, pass on an intact file.
TEST_F(ClipgenTest, CorruptedCopyChangesExactlyTheGivenRangeTheSameWayForTheSameSeed) {
    SClipParams params;
    params.eFormat = EClipFormat::AviMjpeg;
    params.nWidth = 64;
    params.nHeight = 48;
    params.nFrames = 5;
    const std::string strSource = Path("src.avi");
    ASSERT_EQ(WriteClip(strSource, params), "");
    const std::vector<char> src = ReadBytes(strSource);
    ASSERT_GT(src.size(), 2000u);

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
}

}  // namespace
