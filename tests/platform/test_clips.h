// Generated clips for the tests of the file playback path: each clip is
// written once per test program into a temporary folder removed at exit.
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

inline SClipParams ClipParams(EClipFormat eFormat, int nWidth, int nHeight, int nFrames,
                              int nFps = 25, int nGop = 10) {
    SClipParams s;
    s.eFormat = eFormat;
    s.nWidth = nWidth;
    s.nHeight = nHeight;
    s.nFrames = nFrames;
    s.nFpsNum = nFps;
    s.nGop = nGop;
    return s;
}

class CClipCache {
public:
    static CClipCache& Get() {
        static CClipCache s_cache;
        return s_cache;
    }
    std::string Clip(const SClipParams& params) {
        const std::string strKey =
            std::string(ClipFormatName(params.eFormat)) + "_" + std::to_string(params.nWidth) +
            "x" + std::to_string(params.nHeight) + "_" + std::to_string(params.nFrames) + "_" +
            std::to_string(params.nFpsNum) + "_" + std::to_string(params.nGop);
        auto it = m_clips.find(strKey);
        if (it != m_clips.end()) return it->second;
        const std::string strPath = Path(strKey + ClipFormatExtension(params.eFormat));
        EXPECT_EQ(WriteClip(strPath, params), "") << strPath;
        return m_clips[strKey] = strPath;
    }
    std::string Clip(EClipFormat eFormat, int nWidth, int nHeight, int nFrames, int nFps = 25,
                     int nGop = 10) {
        return Clip(ClipParams(eFormat, nWidth, nHeight, nFrames, nFps, nGop));
    }
    // A path in the folder, for files a test writes itself.
    std::string Path(const std::string& strName) const { return (m_dir / strName).string(); }

private:
    CClipCache() {
        av_log_set_level(AV_LOG_QUIET);
        m_dir =
            std::filesystem::temp_directory_path() / ("pelora-clips-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
    }
    ~CClipCache() {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::filesystem::path m_dir;
    std::map<std::string, std::string> m_clips;
};

}  // namespace pelora_test
