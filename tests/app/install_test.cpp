// The installed program as a plug-in author meets it: `cmake --install`, and
// the README's example plug-in built with its own command, run by it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/clip_writer.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs a shell command; its output goes to LOG, which a failure shows.
int Shell(const std::string& strCmd, const fs::path& log) {
    const int nStatus = std::system((strCmd + " >'" + log.string() + "' 2>&1 </dev/null").c_str());
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

// The first ```cpp block after `marker` in the README, and the build command
// shown after it (the indented `g++ ...` lines, continuations joined).
struct SReadmePlugin {
    std::string strSource;
    std::string strBuildCommand;
};
SReadmePlugin ReadmePlugin(const std::string& readme, const std::string& marker) {
    SReadmePlugin plugin;
    size_t at = readme.find(marker);
    if (at == std::string::npos) return plugin;
    const size_t begin = readme.find("```cpp\n", at);
    const size_t end = begin == std::string::npos ? begin : readme.find("```", begin + 7);
    if (end == std::string::npos) return plugin;
    plugin.strSource = readme.substr(begin + 7, end - begin - 7);
    at = readme.find("    g++ ", end);
    while (at != std::string::npos) {
        const size_t eol = readme.find('\n', at);
        std::string line = readme.substr(at, eol - at);
        line.erase(0, line.find_first_not_of(' '));
        const bool bContinues = !line.empty() && line.back() == '\\';
        if (bContinues) line.pop_back();
        plugin.strBuildCommand += line;
        at = bContinues && eol != std::string::npos ? eol + 1 : std::string::npos;
    }
    return plugin;
}

class InstallTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = fs::temp_directory_path() / ("pelora_install_" + std::to_string(getpid()));
        fs::create_directories(s_dir);
        s_nInstall = Shell("'" PELORA_CMAKE "' --install '" PELORA_BUILD_DIR "' --prefix '" +
                               Prefix().string() + "'",
                           s_dir / "install.log");
        s_strClipError = WriteClip((s_dir / "clip.avi").string(),
                                   {.nWidth = 96, .nHeight = 64, .nFrames = 6, .nFpsNum = 24});
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }

    void SetUp() override {
        ASSERT_EQ(s_nInstall, 0) << ReadFile(s_dir / "install.log");
        ASSERT_EQ(s_strClipError, "");
    }

    static fs::path Prefix() { return s_dir / "prefix"; }
    static fs::path InstalledPelora() { return Prefix() / PELORA_INSTALL_BINDIR / "pelora"; }

    // The installed pelora saves frame 3 of the clip, with no PELORA_PLUGIN set.
    static std::string SaveFrame(const std::string& strOptions, const char* pszName) {
        const fs::path bmp = s_dir / pszName, log = s_dir / (std::string(pszName) + ".log");
        const int nExit = Shell("env -u PELORA_PLUGIN '" + InstalledPelora().string() +
                                    "' --headless '" + (s_dir / "clip.avi").string() +
                                    "' --save-frame 3 '" + bmp.string() + "' " + strOptions,
                                log);
        EXPECT_EQ(nExit, 0) << ReadFile(log);
        EXPECT_EQ(ReadFile(log).find("見つかりません"), std::string::npos) << ReadFile(log);
        return ReadFile(bmp);
    }

    static fs::path s_dir;
    static int s_nInstall;
    static std::string s_strClipError;
};
fs::path InstallTest::s_dir;
int InstallTest::s_nInstall = -1;
std::string InstallTest::s_strClipError;

TEST_F(InstallTest, ReadmePluginBuiltWithPkgConfigTurnsFramesIntoTheirNegative) {
    const SReadmePlugin plugin = ReadmePlugin(ReadFile(PELORA_SOURCE_DIR "/README.md"),
                                              "turns every frame into its negative");
    ASSERT_NE(plugin.strSource.find("TavroFunc"), std::string::npos);
    ASSERT_EQ(plugin.strBuildCommand.rfind("g++ ", 0), 0u) << plugin.strBuildCommand;
    ASSERT_NE(plugin.strBuildCommand.find("pkg-config --cflags pelora-plugin"), std::string::npos)
        << plugin.strBuildCommand;
    const fs::path work = s_dir / "plugin";
    fs::create_directories(work);
    std::ofstream(work / "negative.cpp") << plugin.strSource;

    // The README's command with this build's compiler; only the installed
    // copy is on pkg-config's path.
    const std::string strCmd = "cd '" + work.string() + "' && export PKG_CONFIG_PATH='" +
                               (Prefix() / PELORA_INSTALL_LIBDIR / "pkgconfig").string() +
                               "' && '" PELORA_CXX "' " + plugin.strBuildCommand.substr(4);
    ASSERT_EQ(Shell(strCmd, s_dir / "plugin.log"), 0) << strCmd << "\n"
                                                      << ReadFile(s_dir / "plugin.log");
    const fs::path so = work / "Tavro.so";
    ASSERT_TRUE(fs::exists(so));

    const std::string plain = SaveFrame("--no-plugin", "plain.bmp");
    const std::string negative = SaveFrame("--plugin '" + so.string() + "'", "negative.bmp");
    ASSERT_EQ(plain.size(), 54u + 96 * 3 * 64);
    ASSERT_EQ(negative.size(), plain.size());
    EXPECT_EQ(negative.substr(0, 54), plain.substr(0, 54));
    for (size_t i = 54; i < plain.size(); ++i)
        ASSERT_EQ(static_cast<uint8_t>(negative[i]), 255 - static_cast<uint8_t>(plain[i])) << i;
}

TEST_F(InstallTest, InstalledProgramFindsTheInstalledTavro) {
    // Nothing next to the installed pelora: Tavro.so comes from lib/pelora.
    // Its frames are black and white.
    ASSERT_FALSE(fs::exists(InstalledPelora().parent_path() / "Tavro.so"));
    ASSERT_TRUE(fs::exists(Prefix() / PELORA_INSTALL_LIBDIR / "pelora" / "Tavro.so"));
    const std::string frame = SaveFrame("", "delivered.bmp");
    ASSERT_EQ(frame.size(), 54u + 96 * 3 * 64);
    for (size_t i = 54; i < frame.size(); ++i)
        ASSERT_TRUE(frame[i] == 0 || frame[i] == '\xFF') << "byte " << i;
}

}  // namespace
