// tests/app: bitmap files for the tests to write, and their header fields.
#pragma once

#include <cstdint>
#include <string>

inline uint32_t Get32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
    return v;
}
template <class Bytes>
void Put32(Bytes& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<typename Bytes::value_type>(v >> (8 * i));
}

// A bitmap file with consistent headers: the 40-byte info header, the colour
// table and the pixel rows (bottom row first) as given.
inline std::string BitmapFile(int nBits, int nWidth, int nHeight, const std::string& table,
                              const std::string& pixels) {
    std::string f(54, '\0');
    f[0] = 'B';
    f[1] = 'M';
    Put32(f, 2, static_cast<uint32_t>(54 + table.size() + pixels.size()));
    Put32(f, 10, static_cast<uint32_t>(54 + table.size()));
    Put32(f, 14, 40);
    Put32(f, 18, static_cast<uint32_t>(nWidth));
    Put32(f, 22, static_cast<uint32_t>(nHeight));
    f[26] = 1;
    f[28] = static_cast<char>(nBits);
    return f + table + pixels;
}
