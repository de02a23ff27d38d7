// End-to-end tests of `pelora --headless`, run as a user runs it on clips,
// bitmaps and CSV grids the tests write.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <utility>
#include <string>
#include <vector>

#include "bitmap_file.h"
#include "tools/clip_writer.h"
#include "tools/frame_pattern.h"
#include "platform/ffmpeg/frame_pattern.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A 3x2 8-bit bitmap with a grey colour table; the bottom row (stored first)
// uses index 10, the top row index 200.
std::string PaletteBitmap() {
    std::string table;
    for (int i = 0; i < 256; ++i) table += {char(i), char(i), char(i), 0};
    return BitmapFile(8, 3, 2, table, std::string("\x0A\x0A\x0A\0\xC8\xC8\xC8\0", 8));
}

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

class HeadlessTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = fs::temp_directory_path() / ("pelora_headless_" + std::to_string(getpid()));
        fs::create_directories(s_dir);
        std::ofstream(s_dir / "grey.bmp", std::ios::binary) << PaletteBitmap();
        std::ofstream(s_dir / "short.bmp", std::ios::binary) << PaletteBitmap().substr(0, 300);
        std::ofstream(s_dir / "off.csv") << "origin: 600, y: 0\nsize: 2, y: 2\n-\n10,20\n30,40\n";
        std::ofstream(s_dir / "not_a_clip.avi") << "this is no video\n";
        const auto write = [](const char* pszName, SClipParams params) {  // 96x64 clips
            params.nWidth = 96;
            params.nHeight = 64;
            ASSERT_EQ(WriteClip((s_dir / pszName).string(), params), "") << pszName;
        };
        write("clip.avi", {.nFrames = 24, .nFpsNum = 24});
        write("clip.mp4", {.eFormat = EClipFormat::Mp4H264, .nFrames = 12, .nFpsNum = 24});
        // vfr.mp4: half the rate from frame 30; b.avi: B-frames.
        write("vfr.mp4", {.eFormat = EClipFormat::Mp4H264, .nFrames = 60, .nSlowFrom = 30});
        write("b.avi", {.nFrames = 100, .nFpsNum = 25, .nGop = 11, .nBFrames = 2});
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }

    // Runs `pelora --headless FILE args...`; standard output and error go to files.
    static SRun Run(const std::string& strFile, const std::vector<std::string>& args) {
        std::vector<std::string> all{"--headless"};
        if (!strFile.empty()) all.push_back((s_dir / strFile).string());
        all.insert(all.end(), args.begin(), args.end());
        return RunPelora(all);
    }
    // Runs `pelora args...` with no display at all, as on a server, or with
    // strDisplay as DISPLAY (a server that may not be there).
    static SRun RunPelora(const std::vector<std::string>& args,
                          const std::string& strDisplay = "") {
        const fs::path out = s_dir / "stdout.txt", err = s_dir / "stderr.txt";
        std::string strCmd =
            "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u PELORA_CAPTURE ";
        if (!strDisplay.empty()) strCmd += "DISPLAY='" + strDisplay + "' ";
        strCmd += "'" PELORA_PATH "'";
        for (const std::string& a : args) strCmd += " '" + a + "'";
        strCmd += " >'" + out.string() + "' 2>'" + err.string() + "' </dev/null";
        const int nStatus = std::system(strCmd.c_str());
        SRun run;
        run.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
        run.strOut = ReadFile(out);
        run.strErr = ReadFile(err);
        return run;
    }
    static std::string Path(const char* name) { return (s_dir / name).string(); }
    // The frame index a saved 96x64 bitmap shows (-2: not a 96x64 24-bit file).
    static int SavedIndex(const std::string& strPath) {
        const std::string bmp = ReadFile(strPath);
        if (bmp.size() != 54u + 96 * 3 * 64) return -2;
        return ReadFrameIndex(reinterpret_cast<const uint8_t*>(bmp.data()) + 54, 96, 64, 96 * 3);
    }

    static fs::path s_dir;
};
fs::path HeadlessTest::s_dir;

// Errors go to standard error, one line and a pointer to --help.
TEST_F(HeadlessTest, BadCommandLinesExitTwo) {
    const std::vector<std::vector<std::string>> lines = {
        {"--headless", "x.avi", "--bogus"},
        {"--headless", "x.avi", "--csv"},
        {"--headless", "x.avi", "--no-plugin=yes"},
        {"--headless", "x.avi", "--play"},
        {"--headless", "x.avi", "y.avi"},
        {"--headless"},
        {"--every-frame", "x.avi"},
        {"--headless", "--camera", "x.avi"},
        {"--headless", "x.avi", "--frames", "3"},
        {"--headless", "--camera", "--frames", "0"},
        {"--headless", "--camera", "--frames", "3", "--seconds", "1"},
        {"--headless", "--camera", "--seconds", "-1"},
        {"--headless", "--camera", "--every-frame"}};
    for (const std::vector<std::string>& args : lines) {
        SCOPED_TRACE(args.back());
        const SRun run = RunPelora(args);
        EXPECT_EQ(run.nExit, 2);
        EXPECT_TRUE(run.strOut.empty());
        EXPECT_TRUE(std::regex_search(run.strErr, std::regex("^pelora: .+\nTry 'pelora --help'")))
            << run.strErr;
    }
    // Still images: no frame but frame 0, and no canvas question for a bitmap.
    EXPECT_EQ(Run("grey.bmp", {"--no-plugin", "--save-frame", "1", Path("x.bmp")}).nExit, 2);
    EXPECT_EQ(Run("grey.bmp", {"--canvas"}).nExit, 2);
}

// --help and --version answer wherever they stand and need no display.
TEST_F(HeadlessTest, HelpAndVersionWorkAnywhereWithoutADisplay) {
    const std::vector<std::vector<std::string>> lines = {
        {"--help"},
        {"--headless", "--help"},
        {"x.avi", "--bogus", "--help"},
        {"--version"},
        {"--headless", "x.avi", "--version"},
    };
    for (const std::vector<std::string>& args : lines) {
        SCOPED_TRACE(args.front() + " ... " + args.back());
        const SRun run = RunPelora(args);
        EXPECT_EQ(run.nExit, 0);
        EXPECT_TRUE(run.strErr.empty()) << run.strErr;
        if (args.back() == "--version") {
            EXPECT_TRUE(std::regex_match(run.strOut, std::regex("pelora \\d+\\.\\d+\\.\\d+\n")))
                << run.strOut;
            continue;
        }
        // An option of each mode: the window's, a file run's, a camera run's.
        for (const char* pszOption : {"--play", "--every-frame", "--seconds=S"})
            EXPECT_NE(run.strOut.find(pszOption), std::string::npos) << pszOption;
    }
}

// The window without a display, or with a DISPLAY nobody answers on: one
// line saying how to run without one, exit 2 (not an abort in the toolkit).
TEST_F(HeadlessTest, WindowWithoutADisplaySaysHowToRunHeadless) {
    const std::pair<std::string, std::vector<std::string>> runs[] = {
        {"", {}}, {":4093", {Path("clip.avi"), "--play"}}};
    for (const auto& [strDisplay, args] : runs) {
        const SRun run = RunPelora(args, strDisplay);
        EXPECT_EQ(run.nExit, 2) << strDisplay;
        EXPECT_TRUE(run.strOut.empty());
        EXPECT_TRUE(std::regex_match(run.strErr,
                                     std::regex("pelora: no display[^\n]*--headless FILE[^\n]*\n")))
            << run.strErr;
    }
}

// A video is classified as the video command does: MPEG is refused.
TEST_F(HeadlessTest, FilesThatCannotBeShownExitOneWithTheirMessage) {
    fs::copy_file(s_dir / "clip.avi", s_dir / "clip.mpg", fs::copy_options::overwrite_existing);
    const struct {
        const char* file;
        const char* message;
    } cases[] = {
        {"short.bmp", "ビットマップファイルを読み込めません"},
        {"not_a_clip.avi", "ファイルを開くことが出来ません"},
        {"clip.mpg", "現在MPEG2形式のファイルはサポートされていません"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const SRun run = Run(c.file, {"--no-plugin"});
        EXPECT_EQ(run.nExit, 1);
        EXPECT_NE(run.strErr.find(c.message), std::string::npos) << run.strErr;
        EXPECT_TRUE(run.strOut.empty());
    }
    const SRun run = Run("grey.bmp", {"--no-plugin", "--save-frame", "0", Path("no/such/x.bmp")});
    EXPECT_EQ(run.nExit, 1);
}

// A still image is saved upright, its pass timed as a clip's is.
TEST_F(HeadlessTest, CsvWithAnOriginTakesItsOwnSizeUnlessCanvasSaysYes) {
    const std::string out = Path("grid.bmp");
    SRun run = Run("off.csv", {"--no-plugin", "--save-frame", "0", out});
    ASSERT_EQ(run.nExit, 0) << run.strErr;
    EXPECT_TRUE(std::regex_match(run.strOut, std::regex(R"( *\d+\(count\) +\d+\.\d\d\(msec\)\n)")))
        << run.strOut;
    std::string bmp = ReadFile(out);
    EXPECT_EQ(Get32(bmp, 18), 2u);
    EXPECT_EQ(Get32(bmp, 22), 2u);
    EXPECT_EQ(bmp[54], 30);  // the last grid row is the bottom row

    run = Run("off.csv", {"--no-plugin", "--canvas", "--save-frame", "0", out});
    ASSERT_EQ(run.nExit, 0) << run.strErr;
    bmp = ReadFile(out);
    EXPECT_EQ(Get32(bmp, 18), 512u);
    EXPECT_EQ(Get32(bmp, 22), 480u);
}

TEST_F(HeadlessTest, RunPrintsTimingLinesAndStatisticsAndGoesOnWithoutAMissingPlugin) {
    const std::regex kPassLine(R"( *-?\d+\(count\) +\d+\.\d\d\(msec\))");
    const std::regex kFrameLine(R"(-?\d+\(count\) -?\d+\.\d\d\(msec\) \d+\.\d\d\(msec\))");
    const struct {
        const char* file;
        int nFrames;
        const char* plugin;
    } cases[] = {{"clip.avi", 24, TAVRO_PATH}, {"clip.mp4", 12, "/nonexistent/Tavro.so"}};
    for (const auto& [pszFile, nFrames, pszPlugin] : cases) {
        SCOPED_TRACE(pszFile);
        const SRun run = Run(pszFile, {"--plugin", pszPlugin});
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
        // The statistics, then the distribution of the run.
        const std::string kFigures =
            R"( min (\d+\.\d\d) / median \d+\.\d\d / p90 \d+\.\d\d / p99 \d+\.\d\d / max \d+\.\d\d \(ms\))";
        const std::string kStats[] = {"処理フレーム数 " + std::to_string(nFrames) + " Frame",
                                      R"(１フレームあたりの処理時間 \d+\.\d\dms)",
                                      R"(総処理時間 \d+\.\d\d msec)",
                                      "plug-in" + kFigures,
                                      "interval" + kFigures,
                                      R"(late \d+ / skipped \d+ frames)"};
        ASSERT_LE(nStats + std::size(kStats), lines.size());
        for (size_t i = 0; i < std::size(kStats); ++i)
            EXPECT_TRUE(std::regex_match(lines[nStats + i], std::regex(kStats[i])))
                << lines[nStats + i];
        const bool bMissing = std::string(pszPlugin) != TAVRO_PATH;
        EXPECT_EQ(run.strErr.find("Tavro.soが見つかりません") != std::string::npos, bMissing);
    }
}

// Every frame in order is the worker's (its tests); here the CSV and the summary.
TEST_F(HeadlessTest, EveryFrameWritesOneCsvRowPerFrameInOrder) {
    const std::string csv = Path("frames.csv");
    const SRun run = Run("clip.mp4", {"--every-frame", "--csv=" + csv, "--no-plugin"});
    ASSERT_EQ(run.nExit, 0) << run.strErr;
    std::istringstream in(ReadFile(csv));
    std::string strLine;
    ASSERT_TRUE(std::getline(in, strLine));
    EXPECT_EQ(strLine, "frame,plugin_ms,interval_ms");
    const std::regex kRow(R"((\d+),\d+\.\d{3},\d+\.\d{3})");
    int nExpected = 0;
    for (std::smatch m; std::getline(in, strLine); ++nExpected) {
        ASSERT_TRUE(std::regex_match(strLine, m, kRow)) << strLine;
        EXPECT_EQ(std::stoi(m[1]), nExpected);
    }
    EXPECT_EQ(nExpected, 12);
    // No clock: no frame is late.
    EXPECT_NE(run.strOut.find("\nlate 0 / skipped 0 frames\n"), std::string::npos) << run.strOut;
}

// --save-frame N is the N-th picture in presentation order, upright, whatever
// the container: past the change of rate of a variable-rate MP4 (where the
// dialog's time-based numbering differs), the last picture of an AVI with
// B-frames, and an MP4 named ".Mp4" (grabbed as an AVI is). That the saved
// picture is the processed one is the install tests'.
TEST_F(HeadlessTest, SaveFrameTakesTheNthPictureInPresentationOrder) {
    fs::copy_file(s_dir / "clip.mp4", s_dir / "clip.Mp4", fs::copy_options::overwrite_existing);
    const struct {
        const char* file;
        int nPicture;
    } cases[] = {{"clip.avi", 7},  {"vfr.mp4", 31}, {"vfr.mp4", 59},
                 {"clip.mp4", 11}, {"b.avi", 99},   {"clip.Mp4", 7}};
    for (const auto& [pszFile, nPicture] : cases) {
        SCOPED_TRACE(std::string(pszFile) + " " + std::to_string(nPicture));
        const std::string out = Path("picture.bmp");
        const SRun run =
            Run(pszFile, {"--no-plugin", "--save-frame", std::to_string(nPicture), out});
        ASSERT_EQ(run.nExit, 0) << run.strErr;
        EXPECT_EQ(SavedIndex(out), nPicture);
    }
}

// A headless camera run: a timing line per new camera frame, then the
// summary; the CSV has a row per pass, and only passes with a new frame have a
// latency. The library's lines go to standard error, none with --quiet-camera.
TEST_F(HeadlessTest, CameraRunPrintsALinePerNewFrameThenTheSummary) {
    const std::string strCsv = Path("camera.csv");
    const SRun run = RunPelora({"--headless", "--virtual-camera", "--camera", "--frames", "12",
                                "--csv", strCsv, "--plugin", TAVRO_PATH});
    ASSERT_EQ(run.nExit, 0) << run.strErr;
    const std::vector<std::string> lines = run.Lines();
    ASSERT_EQ(lines.size(), 12u + 5u) << run.strOut;
    for (size_t i = 0; i < 12; ++i)
        EXPECT_TRUE(
            std::regex_match(lines[i], std::regex(" *\\d+\\(count\\) +\\d+\\.\\d\\d\\(msec\\)")))
            << lines[i];
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[12], m,
                                 std::regex("# camera: 12 new frames in (\\d+) passes \\((\\d+) "
                                            "repeated\\), [0-9.]+ s, [0-9.]+ passes/s")))
        << lines[12];
    const long lPasses = std::stol(m[1]);
    EXPECT_EQ(std::stol(m[2]), lPasses - 12);
    const char* kSummary[] = {"# plug-in min ", "# frame interval min ", "# latency min ",
                              "# camera frame rate "};
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(lines[13 + i].rfind(kSummary[i], 0), 0u) << lines[13 + i];
    EXPECT_NE(run.strErr.find("SETUP: Device is setup and ready to capture."), std::string::npos);

    std::ifstream csv(strCsv);
    std::string strRow;
    std::getline(csv, strRow);
    EXPECT_EQ(strRow, "pass,new_frame,plugin_ms,pass_ms,latency_ms");
    long lRows = 0, lNew = 0;
    while (std::getline(csv, strRow)) {
        ++lRows;
        ASSERT_TRUE(
            std::regex_match(strRow, m, std::regex("(\\d+),([01]),[0-9.]+,[0-9.]+,([0-9.]*)")))
            << strRow;
        EXPECT_EQ(std::stol(m[1]), lRows);
        const bool bNew = m[2] == "1";
        lNew += bNew;
        EXPECT_EQ(bNew, !m[3].str().empty()) << strRow;
    }
    EXPECT_EQ(lRows, lPasses);
    EXPECT_EQ(lNew, 12);

    // --save-frame: the N-th new camera frame, unprocessed and upright.
    const SRun quiet =
        RunPelora({"--headless", "--virtual-camera", "--camera", "--frames", "4", "--no-plugin",
                   "--quiet-camera", "--save-frame", "2", Path("camera.bmp")});
    EXPECT_EQ(quiet.nExit, 0);
    EXPECT_EQ(quiet.strErr, "");
    const std::string bmp = ReadFile(Path("camera.bmp"));
    ASSERT_EQ(bmp.size(), 54u + 640u * 480u * 3u);
    const std::optional<uint32_t> n =
        ReadFrameNumber(reinterpret_cast<const uint8_t*>(bmp.data() + 54), 640, 480);
    ASSERT_TRUE(n.has_value());
    EXPECT_GE(*n, 2u);
}

// No camera: exit 1 with one line on standard error and nothing on standard output.
TEST_F(HeadlessTest, CameraRunWithoutACameraExitsOne) {
    for (const auto& entry : fs::directory_iterator("/dev"))
        if (entry.path().filename().string().rfind("video", 0) == 0)
            GTEST_SKIP() << "this machine has video devices";
    const SRun run = RunPelora({"--headless", "--camera", "--quiet-camera"});
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.strOut, "");
    EXPECT_EQ(run.strErr, "pelora: no camera found (try --virtual-camera)\n");
}

}  // namespace
