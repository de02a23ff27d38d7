// tools: damaged and unsuitable files for the failure tests of the file
// source: empty, truncated, corrupted and audio-only files.
//
// Each function returns "" on success, else an error message. Any thread.
// May include: the C++ standard library and FFmpeg. No Qt.
#pragma once

#include <cstdint>
#include <string>

// A file of zero bytes.
std::string WriteEmptyFile(const std::string& strPath);

// The first llKeepBytes bytes of strSource (all of it if it is shorter).
std::string WriteTruncatedCopy(const std::string& strSource, const std::string& strPath,
                               int64_t llKeepBytes);

// A copy of strSource with llLength bytes from llOffset replaced by
// pseudo-random bytes from nSeed (the same seed gives the same file).
std::string WriteCorruptedCopy(const std::string& strSource, const std::string& strPath,
                               int64_t llOffset, int64_t llLength, uint32_t nSeed);

// A file with one audio stream and no video: a 1 s 440 Hz tone, as PCM in a
// WAV file when strPath ends in ".wav", else as AAC in an MP4 file.
std::string WriteAudioOnlyClip(const std::string& strPath);
