#include "app/image_readers.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <istream>
#include <string_view>
#include <vector>

#include "platform/win/dib_section.h"

const char* const kCanvasQuestion = "512×480画像にしますか？";

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
constexpr int kSpareBytes = 4;  // after the info header of a 16-bit-and-above block

uint32_t ReadLe32(const BYTE* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Reads exactly n bytes or reports how far it got.
bool ReadExactly(std::istream& file, void* pDest, std::streamsize n) {
    file.read(static_cast<char*>(pDest), n);
    return file.gcount() == n;
}

// atoi as the program has always read its numbers: leading blanks, an
// optional sign, digits up to the first other character; no digits give 0.
// A value beyond the 32-bit range saturates (as a 32-bit strtol does) instead
// of being undefined.
int AtoiText(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                               text[i] == '\v' || text[i] == '\f' || text[i] == '\r')) {
        ++i;
    }
    bool bNegative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        bNegative = text[i] == '-';
        ++i;
    }
    int64_t nValue = 0;
    const int64_t nLimit = static_cast<int64_t>(INT_MAX) + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        nValue = nValue * 10 + (text[i] - '0');
        if (nValue > nLimit) nValue = nLimit;
    }
    if (bNegative) return static_cast<int>(-nValue);  // -2^31 at the most
    return nValue > INT_MAX ? INT_MAX : static_cast<int>(nValue);
}

// One "label a,xxxb" line: skip the label, a = number up to the first comma,
// then skip that text, the comma and three more characters, b = the number in
// the rest. Characters are bytes, as the files were written in a single-byte
// or double-byte code page whose labels count in bytes.
std::pair<int, int> ParseNumberPair(const std::string& line, size_t nLabel) {
    if (line.size() < nLabel) return {0, 0};
    std::string_view rest(line);
    rest.remove_prefix(nLabel);
    const size_t nComma = rest.find(',');
    const std::string_view first = rest.substr(0, nComma);
    const int a = AtoiText(first);
    const size_t nSkip = first.size() + 1 + 3;
    const int b = nSkip < rest.size() ? AtoiText(rest.substr(nSkip)) : 0;
    return {a, b};
}

// Text mode on the platform the files come from drops the CR of a CRLF end.
bool GetTextLine(std::istream& file, std::string& line) {
    if (!std::getline(file, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// Cells of one grid row into dest[0 .. nWidth-1]: the text up to each comma,
// low 8 bits of its number; missing cells stay 0, surplus cells are ignored.
void ParseGridRow(const std::string& line, BYTE* pDest, int nWidth) {
    std::string_view rest(line);
    for (int c = 0; c < nWidth; ++c) {
        const size_t nComma = rest.find(',');
        pDest[c] =
            static_cast<BYTE>(static_cast<uint32_t>(AtoiText(rest.substr(0, nComma))) & 0xFF);
        if (nComma == std::string_view::npos) break;
        rest.remove_prefix(nComma + 1);
    }
}

}  // namespace

INT ColorTableSize(int nBitCount) { return nBitCount < 16 ? 4 << nBitCount : 0; }

int64_t BitmapRowBytes(int64_t nWidth, int nBitCount) {
    return ((nWidth * nBitCount + 31) / 32) * 4;
}

EImageStatus CheckBitmapLayout(const BITMAPINFOHEADER& bih, int64_t nHeaderSize,
                               int64_t nPixelSize) {
    if (!IsSupportedBitCount(bih.biBitCount)) return EImageStatus::BadBitCount;
    if (nHeaderSize < kInfoHeaderSize + ColorTableSize(bih.biBitCount)) {
        return EImageStatus::BadHeader;
    }
    // Bit fields need their masks, which the header block has no room for;
    // RLE and the embedded formats have no fixed row size.
    if (bih.biCompression != BI_RGB) return EImageStatus::Compressed;
    const int64_t nWidth = bih.biWidth;
    const int64_t nHeight = bih.biHeight < 0 ? -static_cast<int64_t>(bih.biHeight) : bih.biHeight;
    if (nWidth <= 0 || nHeight == 0 || nWidth > kMaxImageSide || nHeight > kMaxImageSide) {
        return EImageStatus::BadDimensions;
    }
    if (nPixelSize < BitmapRowBytes(nWidth, bih.biBitCount) * nHeight) {
        return EImageStatus::PixelDataShort;
    }
    return EImageStatus::Ok;
}

EImageStatus ReadBmpImage(std::string path, std::unique_ptr<BYTE[]>& pHeader, INT& nHeaderSize,
                          std::unique_ptr<BYTE[]>& pPixels, INT& nPixelSize) {
    std::ifstream file(path, std::ios::in | std::ios::binary);
    if (!file.is_open()) return EImageStatus::OpenFailed;
    return ReadBmpImage(file, pHeader, nHeaderSize, pPixels, nPixelSize);
}

EImageStatus ReadBmpImage(std::istream& file, std::unique_ptr<BYTE[]>& pHeader, INT& nHeaderSize,
                          std::unique_ptr<BYTE[]>& pPixels, INT& nPixelSize) {
    // The real length bounds every allocation below: a header may claim
    // anything, but nothing is allocated for bytes the file does not hold.
    if (!file.seekg(0, std::ios::end)) return EImageStatus::ReadFailed;
    const std::streamoff nFileLength = file.tellg();
    if (nFileLength < 0 || !file.seekg(0, std::ios::beg)) return EImageStatus::ReadFailed;

    BYTE fileHeader[kFileHeaderSize];
    BITMAPINFOHEADER bih;
    if (nFileLength < kFileHeaderSize + kInfoHeaderSize) return EImageStatus::Truncated;
    if (!ReadExactly(file, fileHeader, kFileHeaderSize) ||
        !ReadExactly(file, &bih, kInfoHeaderSize)) {
        return EImageStatus::ReadFailed;
    }
    const uint32_t bfSize = ReadLe32(fileHeader + 2);
    const uint32_t bfOffBits = ReadLe32(fileHeader + 10);

    if (!IsSupportedBitCount(bih.biBitCount)) return EImageStatus::BadBitCount;
    // Many programs write a larger info header (108 or 124 bytes) whose
    // first 40 bytes are this one: the colour table follows the whole
    // header, not byte 54. A smaller one is another layout altogether.
    if (bih.biSize < kInfoHeaderSize) return EImageStatus::OldInfoHeader;
    const int64_t nTableAt = kFileHeaderSize + static_cast<int64_t>(bih.biSize);
    const INT nTable = ColorTableSize(bih.biBitCount);
    const INT nBlock = kInfoHeaderSize + (nTable > 0 ? nTable : kSpareBytes);
    const int64_t nHeadersEnd = nTableAt + nTable;
    if (nFileLength < nHeadersEnd) return EImageStatus::Truncated;
    // Pixel data cannot start inside the file and info headers, and
    // bfSize - bfOffBits must not go negative. It may start inside the
    // 2^bits-entry table: a file with a shorter table (biClrUsed) keeps its
    // pixels there, and the entries it uses are still read right.
    if (bfOffBits < nTableAt || bfOffBits > bfSize) {
        return EImageStatus::BadOffset;
    }
    if (bfSize > nFileLength) return EImageStatus::Truncated;
    const int64_t nPixels = static_cast<int64_t>(bfSize) - bfOffBits;
    if (nPixels > INT_MAX) return EImageStatus::TooLarge;
    const EImageStatus layout = CheckBitmapLayout(bih, nBlock, nPixels);
    if (layout != EImageStatus::Ok) return layout;

    // The block holds the 40-byte header whatever the file had, so it says so.
    bih.biSize = kInfoHeaderSize;
    auto pNewHeader = std::make_unique<BYTE[]>(nBlock);  // zeroed: the spare bytes stay 0
    std::memcpy(pNewHeader.get(), &bih, kInfoHeaderSize);
    if (nTable > 0 && (!file.seekg(nTableAt, std::ios::beg) ||
                       !ReadExactly(file, pNewHeader.get() + kInfoHeaderSize, nTable))) {
        return EImageStatus::ReadFailed;
    }
    auto pNewPixels = std::make_unique<BYTE[]>(static_cast<size_t>(nPixels));
    if (!file.seekg(bfOffBits, std::ios::beg) ||
        !ReadExactly(file, pNewPixels.get(), static_cast<std::streamsize>(nPixels))) {
        return EImageStatus::ReadFailed;
    }

    pHeader = std::move(pNewHeader);
    nHeaderSize = nBlock;
    pPixels = std::move(pNewPixels);
    nPixelSize = static_cast<INT>(nPixels);
    return EImageStatus::Ok;
}

EImageStatus ReadCsvImage(std::string path, std::unique_ptr<BYTE[]>& pHeader, INT& nHeaderSize,
                          std::unique_ptr<BYTE[]>& pPixels, INT& nPixelSize,
                          const CanvasQuestion& askCanvas) {
    std::ifstream file(path);
    if (!file.is_open()) return EImageStatus::OpenFailed;
    return ReadCsvImage(file, pHeader, nHeaderSize, pPixels, nPixelSize, askCanvas);
}

EImageStatus ReadCsvImage(std::istream& file, std::unique_ptr<BYTE[]>& pHeader, INT& nHeaderSize,
                          std::unique_ptr<BYTE[]>& pPixels, INT& nPixelSize,
                          const CanvasQuestion& askCanvas, INT nMaxSide) {
    std::string line;
    std::pair<int, int> origin{0, 0};
    std::pair<int, int> size{0, 0};
    if (GetTextLine(file, line)) origin = ParseNumberPair(line, 8);
    if (GetTextLine(file, line)) size = ParseNumberPair(line, 6);
    GetTextLine(file, line);  // line 3: a caption, not used
    if (file.bad()) return EImageStatus::ReadFailed;

    const auto [nOriginX, nOriginY] = origin;
    const auto [nGridW, nGridH] = size;
    // Refused before the question: there is nothing to ask about a grid that
    // has no valid plane.
    if (nGridW <= 0 || nGridH <= 0 || nGridW > nMaxSide || nGridH > nMaxSide) {
        return EImageStatus::BadCsvSize;
    }

    bool bCanvas = false;
    if ((nOriginX != 0 || nOriginY != 0) && askCanvas) bCanvas = askCanvas(kCanvasQuestion);
    const int nW = bCanvas ? kCanvasWidth : nGridW;
    const int nH = bCanvas ? kCanvasHeight : nGridH;

    // Rows the file does not hold stay 0; rows beyond nGridH are never stored.
    std::vector<BYTE> grid(static_cast<size_t>(nGridW) * nGridH, 0);
    for (int r = 0; r < nGridH && GetTextLine(file, line); ++r) {
        ParseGridRow(line, grid.data() + static_cast<size_t>(r) * nGridW, nGridW);
    }
    if (file.bad()) return EImageStatus::ReadFailed;

    std::vector<BYTE> canvas;
    const std::vector<BYTE>* pGrey = &grid;
    if (bCanvas) {
        uint64_t nSum = 0;
        for (BYTE g : grid) nSum += g;
        const BYTE nMean = static_cast<BYTE>(nSum / grid.size());
        canvas.assign(static_cast<size_t>(nW) * nH, nMean);
        // The part of the grid inside the canvas, in canvas coordinates;
        // 64-bit because the origin may be anywhere in the 32-bit range.
        const int64_t x0 = std::max<int64_t>(0, nOriginX);
        const int64_t x1 = std::min<int64_t>(nW, static_cast<int64_t>(nOriginX) + nGridW);
        const int64_t y0 = std::max<int64_t>(0, nOriginY);
        const int64_t y1 = std::min<int64_t>(nH, static_cast<int64_t>(nOriginY) + nGridH);
        for (int64_t y = y0; y < y1 && x0 < x1; ++y) {
            std::memcpy(canvas.data() + y * nW + x0,
                        grid.data() + (y - nOriginY) * nGridW + (x0 - nOriginX),
                        static_cast<size_t>(x1 - x0));
        }
        pGrey = &canvas;
    }

    constexpr INT nBlock = kInfoHeaderSize + kSpareBytes;
    auto pNewHeader = std::make_unique<BYTE[]>(nBlock);
    BITMAPINFOHEADER bih{};
    bih.biSize = kInfoHeaderSize;
    bih.biWidth = nW;
    bih.biHeight = nH;
    bih.biPlanes = 1;
    bih.biBitCount = 32;
    bih.biCompression = BI_RGB;
    std::memcpy(pNewHeader.get(), &bih, kInfoHeaderSize);
    std::memset(pNewHeader.get() + kInfoHeaderSize, 0xCD, kSpareBytes);

    const size_t nRowBytes = static_cast<size_t>(nW) * 4;
    const size_t nBytes = nRowBytes * nH;  // at most 16384 * 16384 * 4 = 2^30
    auto pNewPixels = std::make_unique<BYTE[]>(nBytes);
    for (int k = 0; k < nH; ++k) {
        const BYTE* pSrc = pGrey->data() + static_cast<size_t>(nH - 1 - k) * nW;
        BYTE* pDst = pNewPixels.get() + static_cast<size_t>(k) * nRowBytes;
        for (int x = 0; x < nW; ++x) {
            pDst[4 * x + 0] = pSrc[x];
            pDst[4 * x + 1] = pSrc[x];
            pDst[4 * x + 2] = pSrc[x];
            pDst[4 * x + 3] = 0;
        }
    }

    pHeader = std::move(pNewHeader);
    nHeaderSize = nBlock;
    pPixels = std::move(pNewPixels);
    nPixelSize = static_cast<INT>(nBytes);
    return EImageStatus::Ok;
}

std::optional<EImageFileKind> ImageKindFromPath(const std::string& path) {
    const size_t nSlash = path.find_last_of('/');
    const size_t nDot = path.find_last_of('.');
    if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash)) {
        return std::nullopt;
    }
    const std::string ext = path.substr(nDot + 1);
    if (ext == "BMP" || ext == "bmp") return EImageFileKind::Bitmap;
    if (ext == "CSV" || ext == "csv") return EImageFileKind::Csv;
    return std::nullopt;
}

std::string ImageStatusText(EImageStatus status) {
    switch (status) {
        case EImageStatus::Ok:
            return "正常に読み込みました。";
        case EImageStatus::OpenFailed:
            return "ファイルを開けません。";
        case EImageStatus::ReadFailed:
            return "ファイルの読み込み中にエラーが発生しました。";
        case EImageStatus::Truncated:
            return "ファイルがヘッダーの示す長さより短くなっています。";
        case EImageStatus::BadOffset:
            return "画素データの位置 (bfOffBits) がヘッダーの中またはファイルサイズ (bfSize) "
                   "の外を指しています。";
        case EImageStatus::BadBitCount:
            return "1・4・8・16・24・32ビット以外の色深度には対応していません。";
        case EImageStatus::Compressed:
            return "圧縮形式やビットフィールド形式 (BI_RGB 以外) "
                   "のビットマップには対応していません。";
        case EImageStatus::BadDimensions:
            return "画像の幅または高さが不正です (1～16384画素)。";
        case EImageStatus::PixelDataShort:
            return "画素データが画像の大きさに足りません。";
        case EImageStatus::TooLarge:
            return "画素データが大きすぎます。";
        case EImageStatus::BadHeader:
            return "ヘッダーがカラーテーブルの分だけの長さを持っていません。";
        case EImageStatus::OldInfoHeader:
            return "40バイトより短い情報ヘッダー (旧形式) のビットマップには対応していません。";
        case EImageStatus::BadCsvSize:
            return "CSVファイルの画像サイズが不正です (幅・高さとも1～16384)。";
    }
    return "不明なエラーです。";
}

std::string ImageReadMessage(EImageFileKind kind, EImageStatus status, const std::string& path) {
    const char* pszHead = kind == EImageFileKind::Bitmap ? "ビットマップファイルを読み込めません: "
                                                         : "CSVファイルを読み込めません: ";
    return pszHead + path + "\n" + ImageStatusText(status);
}
