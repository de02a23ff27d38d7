#include "platform/win/wide_text.h"

#include <cstdint>

std::wstring Utf8ToWide(const std::string& str) {
    std::wstring w;
    size_t i = 0;
    while (i < str.size()) {
        const unsigned char b0 = static_cast<unsigned char>(str[i]);
        int n = 0;
        char32_t cp = b0;
        if (b0 >= 0x80) {
            if ((b0 >> 5) == 6)
                n = 1, cp = b0 & 0x1F;
            else if ((b0 >> 4) == 14)
                n = 2, cp = b0 & 0x0F;
            else if ((b0 >> 3) == 30)
                n = 3, cp = b0 & 0x07;
            else
                n = -1;
        }
        bool bOk = n >= 0 && i + n < str.size();
        for (int k = 1; bOk && k <= n; ++k) {
            const unsigned char b = static_cast<unsigned char>(str[i + k]);
            bOk = (b & 0xC0) == 0x80;
            cp = (cp << 6) | (b & 0x3F);
        }
        w.push_back(bOk ? static_cast<wchar_t>(cp) : L'\xFFFD');
        i += bOk ? static_cast<size_t>(n) + 1 : 1;
    }
    return w;
}

bool WideToUtf8(LPCWSTR pWide, std::string* pOut) {
    pOut->clear();
    for (; *pWide; ++pWide) {
        const uint32_t c = static_cast<uint32_t>(*pWide);
        if (c < 0x80) {
            pOut->push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            pOut->push_back(static_cast<char>(0xC0 | (c >> 6)));
            pOut->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            if (c >= 0xD800 && c < 0xE000) return false;
            pOut->push_back(static_cast<char>(0xE0 | (c >> 12)));
            pOut->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            pOut->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x110000) {
            pOut->push_back(static_cast<char>(0xF0 | (c >> 18)));
            pOut->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            pOut->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            pOut->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            return false;
        }
    }
    return true;
}
