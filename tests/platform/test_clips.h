// Generated clips for the tests of the file playback path (frames show
// their own index; nBFrames as in SClipParams): each clip is written once
// per test program into a temporary folder removed at exit.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include "tools/clip_writer.h"

namespace pelora_test {

class CClipCache {
public:
    static CClipCache& Get() {
        static CClipCache s_cache;
        return s_cache;
    }
    std::string Clip(EClipFormat eFormat, int nWidth, int nHeight, int nFrames, int nFps = 25,
                     int nGop = 10, int nBFrames = -1) {
        std::string& strPath = m_clips[std::string(ClipFormatName(eFormat)) + "_" +
                                       std::to_string(nWidth) + "x" + std::to_string(nHeight) +
                                       "_" + std::to_string(nFrames) + "_" + std::to_string(nFps) +
                                       "_" + std::to_string(nGop) + "_" + std::to_string(nBFrames)];
        if (strPath.empty()) {
            const SClipParams params{.eFormat = eFormat,
                                     .nWidth = nWidth,
                                     .nHeight = nHeight,
                                     .nFrames = nFrames,
                                     .nFpsNum = nFps,
                                     .nGop = nGop,
                                     .nBFrames = nBFrames};
            strPath = Path(std::to_string(m_clips.size()) + ClipFormatExtension(eFormat));
            EXPECT_EQ(WriteClip(strPath, params), "") << strPath;
        }
        return strPath;
    }
    // A path in the folder, for files a test writes itself.
    std::string Path(const std::string& strName) const { return (m_dir / strName).string(); }

private:
    CClipCache() {
        av_log_set_level(AV_LOG_QUIET);
        std::filesystem::create_directories(m_dir);
    }
    ~CClipCache() {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    const std::filesystem::path m_dir =
        std::filesystem::temp_directory_path() / ("pelora-clips-" + std::to_string(::getpid()));
    std::map<std::string, std::string> m_clips;  // key: the clip's parameters
};

}  // namespace pelora_test
