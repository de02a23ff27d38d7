// End-to-end tests of `pelora --headless`: the program is run as a user runs
// it, on clips the tests generate, and its output, files and exit code are
// checked.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tools/clip_writer.h"
#include "tools/frame_pattern.h"

namespace {

namespace fs = std::filesystem;

struct SRun {
    int nExit = -1;
    std::string strOut;
    std::string strErr;
    std::vector<std::string> Lines() const {
        std::vector<std::string> v;
        std::istringstream in(strOut);
        for (std::string s; std::getline(in, s);) v.push_back(s);
        return v;
    }
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs pelora with the arguments; standard output and error go to files.
SRun RunPelora(const std::vector<std::string>& args, const fs::path& dir) {
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    std::string strCmd = "'" PELORA_PATH "'";
    for (const std::string& a : args) strCmd += " '" + a + "'";
    strCmd += " >'" + out.string() + "' 2>'" + err.string() + "' </dev/null";
    const int nStatus = std::system(strCmd.c_str());
    SRun run;
    run.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    run.strOut = ReadFile(out);
    run.strErr = ReadFile(err);
    return run;
}

class HeadlessRunnerTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = fs::temp_directory_path() / ("pelora_headless_" + std::to_string(getpid()));
        fs::create_directories(s_dir);
        SClipParams params;
        params.eFormat = EClipFormat::AviMpeg4;
        params.nWidth = 96;
        params.nHeight = 64;
        params.nFrames = 24;
        params.nFpsNum = 24;
        ASSERT_EQ(WriteClip((s_dir / "clip.avi").string(), params), "");
        params.eFormat = EClipFormat::Mp4H264;
        params.nFrames = 12;
        ASSERT_EQ(WriteClip((s_dir / "clip.mp4").string(), params), "");
        std::ofstream(s_dir / "not_a_clip.avi") << "this is no video\n";
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }
    static fs::path s_dir;
};
fs::path HeadlessRunnerTest::s_dir;

const std::regex kPassLine(R"( *-?\d+\(count\) +\d+\.\d\d\(msec\))");
const std::regex kFrameLine(R"(-?\d+\(count\) -?\d+\.\d\d\(msec\) \d+\.\d\d\(msec\))");
const std::regex kPerFrame(R"(１フレームあたりの処理時間 \d+\.\d\dms)");
const std::regex kTotal(R"(総処理時間 \d+\.\d\d msec)");

TEST_F(HeadlessRunnerTest, BadCommandLinesExitTwoWithUsage) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--headless"}, {"--headless", "x.avi", "--bogus"},
          {"--headless", "x.avi", "--save-frame", "minus", "out.bmp"},
          {"--headless", "x.avi", "--save-frame", "3"}, {"--headless", "x.avi", "--plugin"},
          {"--headless", "x.avi", "--no-plugin", "--plugin", "p.so"}}) {
        const SRun run = RunPelora(args, s_dir);
        EXPECT_EQ(run.nExit, 2) << args.back();
        EXPECT_NE(run.strErr.find("usage: pelora --headless"), std::string::npos);
        EXPECT_TRUE(run.strOut.empty());
    }
}

#ifdef PELORA_HAVE_FILE_GRAPH

TEST_F(HeadlessRunnerTest, UnrenderableFileExitsNonZeroWithTheDialogMessage) {
    for (const char* pszFile : {"not_a_clip.avi", "missing.avi"}) {
        const SRun run = RunPelora({"--headless", (s_dir / pszFile).string(), "--no-plugin"}, s_dir);
        EXPECT_EQ(run.nExit, 1) << pszFile;
        EXPECT_NE(run.strErr.find("ファイルを開くことが出来ません"), std::string::npos) << run.strErr;
        EXPECT_TRUE(run.strOut.empty());
    }
}

TEST_F(HeadlessRunnerTest, RunPrintsTimingLinesAndTheStatisticsOfTheWholeClip) {
    for (const char* pszFile : {"clip.avi", "clip.mp4"}) {
        SCOPED_TRACE(pszFile);
        const int nFrames = std::string(pszFile) == "clip.avi" ? 24 : 12;
        const SRun run = RunPelora({"--headless", (s_dir / pszFile).string(), "--plugin", TAVRO_PATH}, s_dir);
        ASSERT_EQ(run.nExit, 0) << run.strErr;
        const std::vector<std::string> lines = run.Lines();
        ASSERT_GE(lines.size(), 5u);
        EXPECT_TRUE(std::regex_match(lines[0], kPassLine)) << lines[0];
        int nFrameLines = 0;
        size_t nStats = lines.size();
        for (size_t i = 0; i < lines.size(); ++i) {
            if (std::regex_match(lines[i], kFrameLine)) ++nFrameLines;
            if (lines[i].rfind("処理フレーム数", 0) == 0) nStats = i;
        }
        EXPECT_GT(nFrameLines, nFrames / 2);  // real time: a few frames may be skipped
        ASSERT_LT(nStats + 2, lines.size());
        EXPECT_EQ(lines[nStats], "処理フレーム数 " + std::to_string(nFrames) + " Frame");
        EXPECT_TRUE(std::regex_match(lines[nStats + 1], kPerFrame)) << lines[nStats + 1];
        EXPECT_TRUE(std::regex_match(lines[nStats + 2], kTotal)) << lines[nStats + 2];
        EXPECT_EQ(run.strErr.find("見つかりません"), std::string::npos);
    }
}

TEST_F(HeadlessRunnerTest, EveryFrameWritesOneCsvRowPerFrameInOrder) {
    const fs::path csv = s_dir / "frames.csv";
    const SRun run = RunPelora(
        {"--headless", (s_dir / "clip.avi").string(), "--every-frame", "--csv", csv.string(), "--no-plugin"}, s_dir);
    ASSERT_EQ(run.nExit, 0) << run.strErr;
    std::istringstream in(ReadFile(csv));
    std::string strLine;
    ASSERT_TRUE(std::getline(in, strLine));
    EXPECT_EQ(strLine, "frame,plugin_ms,interval_ms");
    const std::regex kRow(R"((\d+),\d+\.\d{3},\d+\.\d{3})");
    int nExpected = 0;
    while (std::getline(in, strLine)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(strLine, m, kRow)) << strLine;
        EXPECT_EQ(std::stoi(m[1]), nExpected);
        ++nExpected;
    }
    EXPECT_EQ(nExpected, 24);
    EXPECT_NE(run.strOut.find("skipped 0"), std::string::npos);
}

// The BMP's pixels, bottom-up as stored.
std::vector<uint8_t> BmpBits(const std::string& strBmp, int* pWidth, int* pHeight) {
    if (strBmp.size() < 54 || strBmp.compare(0, 2, "BM") != 0) return {};
    auto le32 = [&](size_t o) {
        return static_cast<int32_t>(static_cast<uint8_t>(strBmp[o]) | (static_cast<uint8_t>(strBmp[o + 1]) << 8) |
                                    (static_cast<uint8_t>(strBmp[o + 2]) << 16) |
                                    (static_cast<uint32_t>(static_cast<uint8_t>(strBmp[o + 3])) << 24));
    };
    *pWidth = le32(18);
    *pHeight = le32(22);
    const size_t nOffset = static_cast<size_t>(le32(10));
    return std::vector<uint8_t>(strBmp.begin() + static_cast<ptrdiff_t>(nOffset), strBmp.end());
}

TEST_F(HeadlessRunnerTest, SaveFrameWritesThatFrameUprightAndProcessed) {
    for (const char* pszFile : {"clip.avi", "clip.mp4"}) {
        SCOPED_TRACE(pszFile);
        const fs::path bmp = s_dir / "frame.bmp";
        SRun run = RunPelora({"--headless", (s_dir / pszFile).string(), "--save-frame", "7", bmp.string(),
                              "--no-plugin"}, s_dir);
        ASSERT_EQ(run.nExit, 0) << run.strErr;
        int nWidth = 0, nHeight = 0;
        std::vector<uint8_t> bits = BmpBits(ReadFile(bmp), &nWidth, &nHeight);
        ASSERT_EQ(nWidth, 96);
        ASSERT_EQ(nHeight, 64);
        ASSERT_EQ(bits.size(), 96u * 3 * 64);
        EXPECT_EQ(ReadFrameIndex(bits.data(), nWidth, nHeight, 96 * 3), 7);

        run = RunPelora({"--headless", (s_dir / pszFile).string(), "--save-frame", "7", bmp.string(),
                         "--plugin", TAVRO_PATH}, s_dir);
        ASSERT_EQ(run.nExit, 0) << run.strErr;
        const std::vector<uint8_t> processed = BmpBits(ReadFile(bmp), &nWidth, &nHeight);
        ASSERT_EQ(processed.size(), bits.size());
        EXPECT_NE(processed, bits);
        // Black and white only, grey rows included.
        for (uint8_t b : processed) ASSERT_TRUE(b == 0 || b == 255);
    }
}

TEST_F(HeadlessRunnerTest, MissingPluginIsReportedAndTheRunGoesOnUnprocessed) {
    const SRun run = RunPelora({"--headless", (s_dir / "clip.mp4").string(), "--plugin", "/nonexistent/Tavro.so"},
                               s_dir);
    EXPECT_EQ(run.nExit, 0);
    EXPECT_NE(run.strErr.find("Tavro.soが見つかりません"), std::string::npos);
    EXPECT_NE(run.strOut.find("処理フレーム数 12 Frame"), std::string::npos);
}

#endif  // PELORA_HAVE_FILE_GRAPH

}  // namespace
