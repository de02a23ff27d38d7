// The clip generator: its command line, the clips it writes (rate, size,
// first index) and the corrupted-copy helper.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/ffmpeg/file_decoder.h"
#include "tools/broken_clips.h"
#include "tools/clip_writer.h"
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

std::vector<char> ReadBytes(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(ClipgenTest, BadArgumentsAndUnwritableClipsExitNonZeroWithAMessageAndWriteNothing) {
    const std::string strOut = " --out " + Path("x.avi");
    const std::string strGood = " --format avi-mpeg4 --size 64x48 --frames 3 --fps 30";
    const struct {
        std::string strArgs;
        const char* pszMessage;
    } cases[] = {
        {strGood, "--out"},
        {strOut + " --format avi-theora --size 64x48 --frames 3 --fps 30", "unknown format"},
        {strOut + " --format asf-wmv2 --size 321x241 --frames 3 --fps 30", "even"},
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

// A corruption that missed its range would let the "damaged file" tests,
// which accept a clean end as well as a refusal, pass on an intact file.
TEST_F(ClipgenTest, CorruptedCopyChangesExactlyTheGivenRangeTheSameWayForTheSameSeed) {
    const SClipParams params{
        .eFormat = EClipFormat::AviMjpeg, .nWidth = 64, .nHeight = 48, .nFrames = 5};
    ASSERT_EQ(WriteClip(Path("src.avi"), params), "");
    const std::vector<char> src = ReadBytes(Path("src.avi"));
    ASSERT_GT(src.size(), 2000u);
    ASSERT_EQ(WriteCorruptedCopy(Path("src.avi"), Path("bad1"), 500, 300, 42), "");
    ASSERT_EQ(WriteCorruptedCopy(Path("src.avi"), Path("bad2"), 500, 300, 42), "");
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
