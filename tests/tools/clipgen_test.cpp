// The clip generator: its command line and the clips it writes (rate, size,
// first index).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "platform/ffmpeg/file_decoder.h"
#include "tools/frame_pattern.h"

namespace fs = std::filesystem;

namespace {

class ClipgenTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(m_dir); }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string Path(const std::string& s) const { return (m_dir / s).string(); }

    // Runs clipgen; returns its exit status, what it wrote on standard error in *pErr.
    static int RunClipgen(const std::string& strArgs, std::string* pErr = nullptr) {
        FILE* pPipe = ::popen((PELORA_CLIPGEN " " + strArgs + " 2>&1 >/dev/null").c_str(), "r");
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pPipe)) > 0;) {
            if (pErr) pErr->append(buffer, n);
        }
        const int nStatus = ::pclose(pPipe);
        return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }

    const fs::path m_dir =
        fs::temp_directory_path() / ("pelora-clipgen-test-" + std::to_string(::getpid()));
};

TEST_F(ClipgenTest, BadArgumentsAndUnwritableClipsExitNonZeroWithAMessageAndWriteNothing) {
    const std::string strOut = " --out " + Path("x.avi");
    const std::string strGood = " --format avi-mpeg4 --size 64x48 --frames 3 --fps 30";
    const struct {
        std::string strArgs;
        const char* pszMessage;
    } cases[] = {
        {strOut + " --format avi-theora --size 64x48 --frames 3 --fps 30", "unknown format"},
        {strOut + " --format asf-wmv2 --size 321x241 --frames 3 --fps 30", "even"},
        {" --out /nonexistent-dir/x.avi" + strGood, "cannot create"},
        {strOut + strGood + " --bframes 17", "B-frame count"},
        {strOut + " --format avi-mjpeg --size 64x48 --frames 3 --fps 30 --bframes 2",
         "B-frames need"},
    };
    for (const auto& c : cases) {
        std::string strErr;
        EXPECT_NE(RunClipgen(c.strArgs, &strErr), 0) << c.strArgs;
        EXPECT_NE(strErr.find(c.pszMessage), std::string::npos) << c.strArgs << " said: " << strErr;
    }
    EXPECT_FALSE(fs::exists(Path("x.avi")));
}

TEST_F(ClipgenTest, WritesTheRequestedRateSizeCountAndFirstIndex) {
    ASSERT_EQ(RunClipgen("--out " + Path("clip.mp4") +
                         " --format mp4-h264 --size 320x240 --frames 15 --fps 30000/1001"
                         " --first-index 500 --bitrate 200k"),
              0);
    CFileDecoder dec;
    ASSERT_EQ(dec.Open(Path("clip.mp4")), S_OK);
    EXPECT_EQ(dec.GetWidth(), 320);
    EXPECT_EQ(dec.GetHeight(), 240);
    EXPECT_EQ(dec.GetFrameCount(), 15);
    EXPECT_EQ(dec.GetAvgTimePerFrame(), 333667);
    std::vector<BYTE> buf(dec.GetImageSize());
    for (int i = 0; i < 15; ++i) {
        ASSERT_EQ(dec.ReadFrame(buf.data(), buf.size(), nullptr), S_OK);
        EXPECT_EQ(ReadFrameIndex(buf.data(), 320, 240, dec.GetStride()), 500 + i);
    }
}

// B-frame streams reorder pictures (the decoder holds some back), so the
// B-frame tests of the graph and the worker test what they mean to.
TEST_F(ClipgenTest, BFrameClipsReorderTheirPictures) {
    for (const char* pszFormat : {"avi-mpeg4", "avi-h264", "mp4-h264"}) {
        SCOPED_TRACE(pszFormat);
        const std::string strPath = Path(std::string("b.") + (pszFormat[0] == 'a' ? "avi" : "mp4"));
        ASSERT_EQ(RunClipgen("--out " + strPath + " --format " + pszFormat +
                             " --size 64x48 --frames 20 --fps 25 --bframes 2"),
                  0);
        AVFormatContext* pFormat = nullptr;
        ASSERT_EQ(avformat_open_input(&pFormat, strPath.c_str(), nullptr, nullptr), 0);
        ASSERT_GE(avformat_find_stream_info(pFormat, nullptr), 0);
        EXPECT_GT(pFormat->streams[0]->codecpar->video_delay, 0);
        avformat_close_input(&pFormat);
    }
}

}  // namespace
