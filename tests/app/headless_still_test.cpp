// `pelora --headless` on still images: run as a user runs it, on bitmaps and
// CSV grids the tests write; output, saved frames and exit codes checked.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct SRun {
    int nExit = -1;
    std::string strOut;
    std::string strErr;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

SRun RunPelora(const std::vector<std::string>& args, const fs::path& dir) {
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    std::string strCmd = "'" PELORA_PATH "' --headless";
    for (const std::string& a : args) strCmd += " '" + a + "'";
    strCmd += " >'" + out.string() + "' 2>'" + err.string() + "' </dev/null";
    const int nStatus = std::system(strCmd.c_str());
    SRun run;
    run.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    run.strOut = ReadFile(out);
    run.strErr = ReadFile(err);
    return run;
}

uint32_t Get32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
    return v;
}
void Put32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// A 3x2 8-bit bitmap with a grey colour table; row 0 of the file (the bottom
// row) uses index 10, row 1 (the top) index 200.
std::string PaletteBitmap() {
    std::string f(54 + 1024 + 8, '\0');
    f[0] = 'B';
    f[1] = 'M';
    Put32(f, 2, static_cast<uint32_t>(f.size()));
    Put32(f, 10, 54 + 1024);
    Put32(f, 14, 40);
    Put32(f, 18, 3);
    Put32(f, 22, 2);
    f[26] = 1;
    f[28] = 8;
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c) f[54 + 4 * i + c] = static_cast<char>(i);
    for (int x = 0; x < 3; ++x) {
        f[54 + 1024 + x] = 10;
        f[54 + 1024 + 4 + x] = static_cast<char>(200);
    }
    return f;
}

class HeadlessStillTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = fs::temp_directory_path() / ("pelora_still_" + std::to_string(getpid()));
        fs::create_directories(s_dir);
        std::ofstream(s_dir / "grey.bmp", std::ios::binary) << PaletteBitmap();
        std::ofstream(s_dir / "off.csv") << "origin: 600, y: 0\nsize: 2, y: 2\n-\n10,20\n30,40\n";
        std::string shortBmp = PaletteBitmap();
        shortBmp.resize(300);
        std::ofstream(s_dir / "short.bmp", std::ios::binary) << shortBmp;
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }
    static fs::path s_dir;
};
fs::path HeadlessStillTest::s_dir;

const std::regex kPassLine(R"( *\d+\(count\) +\d+\.\d\d\(msec\)\n)");

TEST_F(HeadlessStillTest, BitmapIsSavedUprightAsTheFrameWithoutThePlugin) {
    const fs::path out = s_dir / "out.bmp";
    const SRun run = RunPelora(
        {(s_dir / "grey.bmp").string(), "--no-plugin", "--save-frame", "0", out.string()}, s_dir);
    ASSERT_EQ(run.nExit, 0) << run.strErr;
    EXPECT_TRUE(std::regex_match(run.strOut, kPassLine)) << run.strOut;
    const std::string bmp = ReadFile(out);
    ASSERT_EQ(bmp.size(), 54u + 2 * 12);  // 3 pixels * 3 bytes, padded to 12
    EXPECT_EQ(Get32(bmp, 18), 3u);
    EXPECT_EQ(Get32(bmp, 22), 2u);  // bottom-up: the stored rows show upright
    EXPECT_EQ(static_cast<uint8_t>(bmp[28]), 24);
    EXPECT_EQ(static_cast<uint8_t>(bmp[54]), 10);        // bottom row first
    EXPECT_EQ(static_cast<uint8_t>(bmp[54 + 12]), 200);  // then the top row
}

TEST_F(HeadlessStillTest, PluginTurnsTheImageBlackAndWhite) {
    const fs::path out = s_dir / "bw.bmp";
    const SRun run = RunPelora(
        {(s_dir / "grey.bmp").string(), "--plugin", TAVRO_PATH, "--save-frame", "0", out.string()},
        s_dir);
    ASSERT_EQ(run.nExit, 0) << run.strErr;
    const std::string bmp = ReadFile(out);
    ASSERT_EQ(bmp.size(), 54u + 24);
    EXPECT_EQ(static_cast<uint8_t>(bmp[54]), 0);
    EXPECT_EQ(static_cast<uint8_t>(bmp[54 + 12]), 255);
}

TEST_F(HeadlessStillTest, CsvWithAnOriginTakesItsOwnSizeUnlessCanvasSaysYes) {
    const fs::path out = s_dir / "grid.bmp";
    SRun run = RunPelora(
        {(s_dir / "off.csv").string(), "--no-plugin", "--save-frame", "0", out.string()}, s_dir);
    ASSERT_EQ(run.nExit, 0) << run.strErr;
    std::string bmp = ReadFile(out);
    EXPECT_EQ(Get32(bmp, 18), 2u);
    EXPECT_EQ(Get32(bmp, 22), 2u);
    EXPECT_EQ(static_cast<uint8_t>(bmp[54]), 30);  // the last grid row is the bottom row

    run = RunPelora({(s_dir / "off.csv").string(), "--no-plugin", "--canvas", "--save-frame", "0",
                     out.string()},
                    s_dir);
    ASSERT_EQ(run.nExit, 0) << run.strErr;
    bmp = ReadFile(out);
    EXPECT_EQ(Get32(bmp, 18), 512u);
    EXPECT_EQ(Get32(bmp, 22), 480u);
    EXPECT_EQ(static_cast<uint8_t>(bmp[54]), 25);  // grid outside the canvas: its mean
}

TEST_F(HeadlessStillTest, RefusedImagesAndWrongOptionsExitNonZero) {
    SRun run = RunPelora({(s_dir / "short.bmp").string(), "--no-plugin"}, s_dir);
    EXPECT_EQ(run.nExit, 1);
    EXPECT_NE(run.strErr.find("ビットマップファイルを読み込めません"), std::string::npos)
        << run.strErr;
    EXPECT_TRUE(run.strOut.empty());

    run = RunPelora({(s_dir / "grey.bmp").string(), "--no-plugin", "--save-frame", "1",
                     (s_dir / "x.bmp").string()},
                    s_dir);
    EXPECT_EQ(run.nExit, 2);
    EXPECT_FALSE(fs::exists(s_dir / "x.bmp"));
    run = RunPelora({(s_dir / "grey.bmp").string(), "--canvas"}, s_dir);
    EXPECT_EQ(run.nExit, 2);
    run = RunPelora({(s_dir / "grey.bmp").string(), "--no-plugin", "--save-frame", "0",
                     (s_dir / "no/such/dir/x.bmp").string()},
                    s_dir);
    EXPECT_EQ(run.nExit, 1);
}

}  // namespace
