// Still image readers and their conversion to the frame format, on bitmap
// files and CSV grids the tests write themselves.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/image_frame.h"
#include "app/image_readers.h"
#include "bitmap_file.h"

namespace {

using Bytes = std::vector<BYTE>;
using Bgr = std::array<BYTE, 3>;

// Packs pixel values into bitmap rows (each padded with 0xEE garbage that a
// reader must ignore). value(x, y) takes upright coordinates: y = 0 is the top.
Bytes PackRows(int nBits, int nW, int nH, bool bTopDown,
               const std::function<uint32_t(int, int)>& value) {
    const size_t nRow = static_cast<size_t>(((nW * nBits + 31) / 32) * 4);
    Bytes px(nRow * nH, 0xEE);
    for (int s = 0; s < nH; ++s) {
        BYTE* row = px.data() + s * nRow;
        const int y = bTopDown ? s : nH - 1 - s;
        if (nBits < 8) std::memset(row, 0, (nW * nBits + 7) / 8);
        for (int x = 0; x < nW; ++x) {
            const uint32_t v = value(x, y);
            if (nBits < 8) {  // the leftmost pixel in the high bits
                row[x * nBits / 8] |= static_cast<BYTE>(v << (8 - nBits - x * nBits % 8));
            } else {  // little-endian
                for (int i = 0; i < nBits / 8; ++i) row[x * nBits / 8 + i] = BYTE(v >> 8 * i);
            }
        }
    }
    return px;
}

Bytes MakeBmp(int nBits, int nW, int nH, const Bytes& table, const Bytes& pixels) {
    const std::string f = BitmapFile(nBits, nW, nH, std::string(table.begin(), table.end()),
                                     std::string(pixels.begin(), pixels.end()));
    return Bytes(f.begin(), f.end());
}

// A colour table of 2^bits entries, entry i = (blue, green, red, 0) from colour(i).
Bytes MakeTable(int nBits, const std::function<Bgr(int)>& colour) {
    Bytes t;
    for (int i = 0; i < (1 << nBits); ++i) {
        const Bgr c = colour(i);
        t.insert(t.end(), {c[0], c[1], c[2], 0});
    }
    return t;
}

template <class Data>
std::string WriteFile(const std::string& name, const Data& data) {
    // ctest runs the cases as processes side by side: the pid keeps their files apart.
    const std::string path = testing::TempDir() + "pelora_" + std::to_string(getpid()) + "_" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    return path;
}

// Reader outputs, preset so that a test can see they were left untouched.
struct Outputs {
    std::unique_ptr<BYTE[]> pHeader;
    INT nHeaderSize = -7;
    std::unique_ptr<BYTE[]> pPixels;
    INT nPixelSize = -7;
    BITMAPINFOHEADER Info() const {
        BITMAPINFOHEADER bih;
        std::memcpy(&bih, pHeader.get(), sizeof bih);
        return bih;
    }
    bool Untouched() const { return !pHeader && !pPixels && nHeaderSize == -7 && nPixelSize == -7; }
};

EImageStatus ReadBmpAt(const std::string& path, Outputs& out) {
    return ReadBmpImage(path, out.pHeader, out.nHeaderSize, out.pPixels, out.nPixelSize);
}
EImageStatus ReadBmp(const Bytes& file, Outputs& out) {
    return ReadBmpAt(WriteFile("t.bmp", file), out);
}

EImageStatus ReadCsv(const std::string& text, Outputs& out, const CanvasQuestion& ask = {}) {
    return ReadCsvImage(WriteFile("t.csv", text), out.pHeader, out.nHeaderSize, out.pPixels,
                        out.nPixelSize, ask);
}

// Grey level of upright pixel (x, y) of a CSV result (bottom-up, 4 bytes each).
BYTE CsvGrey(const Outputs& out, int x, int y) {
    const BITMAPINFOHEADER bih = out.Info();
    const BYTE* p =
        out.pPixels.get() + (static_cast<size_t>(bih.biHeight - 1 - y) * bih.biWidth + x) * 4;
    EXPECT_EQ(p[0], p[1]);
    EXPECT_EQ(p[0], p[2]);
    EXPECT_EQ(p[3], 0);
    return p[0];
}

std::string Grid(int nOx, int nOy, int nW, int nH, const std::vector<std::string>& rows) {
    std::string s = "originX=" + std::to_string(nOx) + ",oY=" + std::to_string(nOy) + "\n" +
                    "width=" + std::to_string(nW) + ",hh=" + std::to_string(nH) + "\n" +
                    "caption\n";
    for (const std::string& r : rows) s += r + "\n";
    return s;
}

// --- bitmap reader --------------------------------------------------------

TEST(ReadBmpImage, PixelsAreReadFromBfOffBitsAndTheirSizeComesFromBfSize) {
    // A gap after the colour table, and bytes beyond bfSize.
    const Bytes rows = PackRows(8, 4, 1, false, [](int x, int) { return 10u + x; });
    Bytes file = MakeBmp(8, 4, 1, MakeTable(8, [](int) { return Bgr{}; }), {});
    file.insert(file.end(), 6, 0x99);
    Put32(file, 10, static_cast<uint32_t>(file.size()));
    file.insert(file.end(), rows.begin(), rows.end());
    Put32(file, 2, static_cast<uint32_t>(file.size()));
    file.insert(file.end(), 100, 0x77);
    Outputs out;
    ASSERT_EQ(ReadBmp(file, out), EImageStatus::Ok);
    ASSERT_EQ(out.nPixelSize, 4);
    EXPECT_EQ(0, std::memcmp(out.pPixels.get(), rows.data(), 4));
}

TEST(ReadBmpImage, RefusesMalformedFilesAndLeavesOutputsUntouched) {
    const Bytes good = MakeBmp(8, 3, 2, MakeTable(8, [](int) { return Bgr{}; }),
                               PackRows(8, 3, 2, false, [](int, int) { return 0u; }));
    const auto with = [&](const std::function<void(Bytes&)>& change) {
        Bytes f = good;
        change(f);
        return f;
    };
    const struct {
        const char* what;
        Bytes file;
        EImageStatus expected;
    } cases[] = {
        {"shorter than its headers", Bytes(good.begin(), good.begin() + 50),
         EImageStatus::Truncated},
        {"colour table cut off", Bytes(good.begin(), good.begin() + 54 + 500),
         EImageStatus::Truncated},
        {"pixel data cut off", Bytes(good.begin(), good.end() - 1), EImageStatus::Truncated},
        // Claims 4 GiB in a short file: refused without allocating it.
        {"huge bfSize", with([](Bytes& f) { Put32(f, 2, 0xFFFFFFF0u); }), EImageStatus::Truncated},
        {"bfSize below bfOffBits", with([](Bytes& f) { Put32(f, 2, 1000); }),
         EImageStatus::BadOffset},
        {"bfOffBits inside the info header", with([](Bytes& f) { Put32(f, 10, 40); }),
         EImageStatus::BadOffset},
        {"bit count 12", with([](Bytes& f) { f[28] = 12; }), EImageStatus::BadBitCount},
        {"run-length compressed", with([](Bytes& f) { Put32(f, 30, 1); }),
         EImageStatus::Compressed},
        {"width 0", with([](Bytes& f) { Put32(f, 18, 0); }), EImageStatus::BadDimensions},
        {"width above the limit", with([](Bytes& f) { Put32(f, 18, 16385); }),
         EImageStatus::BadDimensions},
        {"height -2^31", with([](Bytes& f) { Put32(f, 22, 0x80000000u); }),
         EImageStatus::BadDimensions},
        {"rows need more than bfSize gives", with([](Bytes& f) { Put32(f, 22, 3); }),
         EImageStatus::PixelDataShort},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Outputs out;
        EXPECT_EQ(ReadBmp(c.file, out), c.expected);
        EXPECT_TRUE(out.Untouched());
    }
    Outputs out;
    EXPECT_EQ(ReadBmpAt(testing::TempDir() + "pelora_missing.bmp", out), EImageStatus::OpenFailed);
    EXPECT_TRUE(out.Untouched());
}

// --- CSV reader -----------------------------------------------------------

TEST(ReadCsvImage, CellsTakeTheLowEightBitsAndMissingCellsAndRowsAreZero) {
    Outputs out;
    // Beyond 32 bits a number saturates (INT_MAX, INT_MIN) instead of being
    // undefined; the surplus eleventh cell is ignored.
    ASSERT_EQ(
        ReadCsv(Grid(0, 0, 10, 3, {"-1,260,,256,300, 17,9x,abc,99999999999,-99999999999,7", "6"}),
                out),
        EImageStatus::Ok);
    EXPECT_EQ(out.nHeaderSize, 44);
    EXPECT_EQ(out.Info().biBitCount, 32);
    ASSERT_EQ(out.nPixelSize, 10 * 3 * 4);
    const BYTE expected[] = {255, 4, 0, 0, 44, 17, 9, 0, 255, 0};
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(CsvGrey(out, x, 0), expected[x]) << "cell " << x;
        EXPECT_EQ(CsvGrey(out, x, 1), x == 0 ? 6 : 0) << "cell " << x;
        EXPECT_EQ(CsvGrey(out, x, 2), 0) << "cell " << x;
    }
    Outputs more;  // rows beyond the height are ignored
    ASSERT_EQ(ReadCsv(Grid(0, 0, 2, 1, {"7,8", "9,9", "9,9"}), more), EImageStatus::Ok);
    EXPECT_EQ(more.nPixelSize, 2 * 1 * 4);
    EXPECT_EQ(CsvGrey(more, 0, 0), 7);
}

TEST(ReadCsvImage, OnlyANonZeroOriginAsksAboutTheCanvasAndNoKeepsTheGrid) {
    const struct {
        const char* what;
        std::string text;
        bool bAsked;
        LONG nWidth, nHeight;
    } cases[] = {
        {"short first line: origin 0", "orig 5\nwidth=2,hh=1\ncaption\n1,2\n", false, 2, 1},
        {"origin 0 above the canvas size", Grid(0, 0, 600, 500, {}), false, 600, 500},
        {"origin (3, 0), answered No", Grid(3, 0, 2, 1, {"1,2"}), true, 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int nAsked = 0;
        Outputs out;
        ASSERT_EQ(ReadCsv(c.text, out, [&](const std::string&) { return ++nAsked, false; }),
                  EImageStatus::Ok);
        EXPECT_EQ(nAsked, c.bAsked ? 1 : 0);
        EXPECT_EQ(out.Info().biWidth, c.nWidth);
        EXPECT_EQ(out.Info().biHeight, c.nHeight);
        EXPECT_EQ(out.nPixelSize, c.nWidth * c.nHeight * 4);
    }
}

TEST(ReadCsvImage, YesPlacesTheGridOnACanvasFilledWithItsMean) {
    const auto yes = [](const std::string&) { return true; };
    Outputs out;
    // Mean of 10, 20, 30, 41 is 101 / 4 = 25 (remainder dropped).
    ASSERT_EQ(ReadCsv(Grid(510, 478, 2, 2, {"10,20", "30,41"}), out, yes), EImageStatus::Ok);
    ASSERT_EQ(out.Info().biWidth, 512);
    ASSERT_EQ(out.Info().biHeight, 480);
    ASSERT_EQ(out.nPixelSize, 512 * 480 * 4);
    const int expected[][3] = {{510, 478, 10}, {511, 478, 20}, {510, 479, 30},
                               {511, 479, 41}, {0, 0, 25},     {509, 479, 25}};
    for (const auto& [x, y, v] : expected) EXPECT_EQ(CsvGrey(out, x, y), v) << x << "," << y;

    // Partly beyond the right edge: the cut-off column is dropped.
    Outputs cut;
    ASSERT_EQ(ReadCsv(Grid(511, 0, 2, 1, {"100,200"}), cut, yes), EImageStatus::Ok);
    EXPECT_EQ(CsvGrey(cut, 511, 0), 100);
    EXPECT_EQ(CsvGrey(cut, 510, 0), 150);

    // Wholly outside: the mean everywhere.
    Outputs outside;
    ASSERT_EQ(ReadCsv(Grid(600, 0, 2, 1, {"0,201"}), outside, yes), EImageStatus::Ok);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 512; ++x) ASSERT_EQ(CsvGrey(outside, x, y), 100) << x << "," << y;
}

TEST(ReadCsvImage, RefusesZeroNegativeAndAbsurdSizesWithoutAskingAndTakesTheLimit) {
    Outputs largest;
    ASSERT_EQ(ReadCsv(Grid(0, 0, 16384, 1, {"7"}), largest), EImageStatus::Ok);
    EXPECT_EQ(CsvGrey(largest, 0, 0), 7);
    EXPECT_EQ(CsvGrey(largest, 16383, 0), 0);

    const std::string files[] = {
        Grid(1, 1, 0, 3, {"1"}),
        Grid(1, 1, 3, -1, {"1"}),
        Grid(1, 1, 16385, 1, {"1"}),
        Grid(1, 1, 1, 100000, {"1"}),
        "originX=0,oY=0\nsize\n",  // size line shorter than its label: 0 x 0
        "originX=0,oY=0\n",        // no size line at all
        "",
    };
    for (const std::string& text : files) {
        SCOPED_TRACE(text);
        int nAsked = 0;
        Outputs out;
        EXPECT_EQ(ReadCsv(text, out, [&](const std::string&) { return ++nAsked, true; }),
                  EImageStatus::BadCsvSize);
        EXPECT_EQ(nAsked, 0);
        EXPECT_TRUE(out.Untouched());
    }
}

// --- choosing the reader, messages ------------------------------------------

TEST(ImageKindFromPath, TakesOnlyTheFourExtensionSpellings) {
    EXPECT_EQ(ImageKindFromPath("/a/PHOTO.BMP"), EImageFileKind::Bitmap);
    EXPECT_EQ(ImageKindFromPath("data.csv"), EImageFileKind::Csv);
    EXPECT_EQ(ImageKindFromPath("Photo.Bmp"), std::nullopt);
    EXPECT_EQ(ImageKindFromPath("/dir.bmp/file"), std::nullopt);
}

// --- conversion to the frame format -----------------------------------------

// Pixel values per bit depth, with the colour each upright pixel must come
// out as.
struct DepthCase {
    int bits;
    Bytes table;
    std::function<uint32_t(int, int)> value;
    std::function<Bgr(int, int)> expected;
};

std::vector<DepthCase> DepthCases() {
    std::vector<DepthCase> cases;
    const auto tableColour = [](int i) {
        return Bgr{BYTE(i * 7 + 1), BYTE(255 - i), BYTE(i ^ 0x5A)};
    };
    for (int bits : {1, 4, 8}) {
        const int nMask = (1 << bits) - 1;
        const auto index = [nMask](int x, int y) {
            return static_cast<uint32_t>((x * 5 + y * 11 + 1) & nMask);
        };
        cases.push_back(
            {bits, MakeTable(bits, tableColour), index, [index, tableColour](int x, int y) {
                 return tableColour(static_cast<int>(index(x, y)));
             }});
    }
    // 5-5-5: white, red, green, blue, black, mid grey (16 -> 132).
    static const uint16_t words[6] = {0x7FFF, 0x7C00, 0x03E0, 0x001F, 0x0000, 0x4210};
    static const Bgr colours[6] = {{255, 255, 255}, {0, 0, 255}, {0, 255, 0},
                                   {255, 0, 0},     {0, 0, 0},   {132, 132, 132}};
    cases.push_back({16,
                     {},
                     [](int x, int y) { return uint32_t{words[(y * 3 + x) % 6]}; },
                     [](int x, int y) { return colours[(y * 3 + x) % 6]; }});
    const auto rgb = [](int x, int y) {
        return static_cast<uint32_t>(0x102030 * (x + 1) + 0x050607 * y);
    };
    const auto bgrOf = [rgb](int x, int y) {
        const uint32_t v = rgb(x, y);
        return Bgr{BYTE(v), BYTE(v >> 8), BYTE(v >> 16)};
    };
    cases.push_back({24, {}, rgb, bgrOf});
    cases.push_back({32, {}, [rgb](int x, int y) { return rgb(x, y) | 0xAB000000u; }, bgrOf});
    return cases;
}

EImageStatus Convert(const Outputs& out, CStillFrame& frame) {
    return ConvertImageToFrame(out.pHeader.get(), out.nHeaderSize, out.pPixels.get(),
                               out.nPixelSize, frame.m_bmi, frame.m_pBits, frame.m_nSize);
}

void ExpectFrame(const CStillFrame& frame, int nW, int nH,
                 const std::function<Bgr(int, int)>& expected) {
    const INT nStride = (3 * nW + 3) / 4 * 4;
    const BITMAPINFOHEADER& bih = frame.m_bmi.bmiHeader;
    EXPECT_EQ(bih.biWidth, nW);
    EXPECT_EQ(bih.biHeight, nH);
    EXPECT_EQ(bih.biBitCount, 24);
    EXPECT_EQ(bih.biSizeImage, static_cast<DWORD>(nH * nStride));
    ASSERT_EQ(frame.m_nSize, nH * nStride);
    for (int k = 0; k < nH; ++k) {
        const BYTE* row = frame.m_pBits.get() + k * nStride;
        for (int x = 0; x < nW; ++x) {
            const Bgr want = expected(x, nH - 1 - k);  // row k counts from the bottom
            EXPECT_EQ((Bgr{row[3 * x], row[3 * x + 1], row[3 * x + 2]}), want)
                << "x " << x << " row " << k;
        }
        for (int p = 3 * nW; p < nStride; ++p) EXPECT_EQ(row[p], 0) << "padding of row " << k;
    }
}

// The same file with a larger info header (as many programs write): the
// colour table follows the whole header.
Bytes WithInfoHeaderSize(Bytes f, uint32_t nSize) {
    const uint32_t nOff = static_cast<uint32_t>(f[10] | f[11] << 8 | f[12] << 16 | f[13] << 24);
    f.insert(f.begin() + 54, nSize - 40, 0x77);
    Put32(f, 14, nSize);
    Put32(f, 10, nOff + nSize - 40);
    Put32(f, 2, static_cast<uint32_t>(f.size()));
    return f;
}

TEST(ReadBmpImage, ShortColourTableStillGivesTheColoursItHolds) {
    // 8 bits with a 16-entry table: the pixels start where entry 16 would be.
    const auto grey = [](int i) { return Bgr{BYTE(i), BYTE(2 * i), BYTE(3 * i)}; };
    Bytes file = MakeBmp(8, 16, 70, MakeTable(4, grey),
                         PackRows(8, 16, 70, false, [](int x, int) { return uint32_t(x); }));
    Put32(file, 46, 16);  // biClrUsed
    Outputs out;
    ASSERT_EQ(ReadBmp(file, out), EImageStatus::Ok);
    EXPECT_EQ(out.nHeaderSize, 1064);
    CStillFrame frame;
    ASSERT_EQ(Convert(out, frame), EImageStatus::Ok);
    ExpectFrame(frame, 16, 70, [&](int x, int) { return grey(x); });
}

TEST(ReadBmpImage, InfoHeadersTooSmallOrOverlappingThePixelsAreRefused) {
    const Bytes v5 =
        WithInfoHeaderSize(MakeBmp(8, 2, 2, MakeTable(8, [](int) { return Bgr{}; }),
                                   PackRows(8, 2, 2, false, [](int, int) { return 0u; })),
                           124);
    const struct {
        size_t at;  // the header field changed
        uint32_t value;
        EImageStatus eWant;
    } refused[] = {
        {10, 14 + 100, EImageStatus::BadOffset},  // pixels inside the larger header
        {14, static_cast<uint32_t>(v5.size()), EImageStatus::Truncated},
        {14, 12, EImageStatus::OldInfoHeader},
    };
    for (const auto& r : refused) {
        Bytes file(v5);
        Put32(file, r.at, r.value);
        Outputs out;
        EXPECT_EQ(ReadBmp(file, out), r.eWant);
        EXPECT_TRUE(out.Untouched());
    }
}

// Widths 1..9 walk through every row padding and every bit position of a
// 1-bit or 4-bit byte; a larger info header moves the colour table and pixels.
TEST(ConvertImageToFrame, GivesTheHeaderBlockAndTheRightPixelsForEveryBitDepthWidthAndRowOrder) {
    for (const DepthCase& c : DepthCases()) {
        for (int nW = 1; nW <= 9; ++nW) {
            for (bool bTopDown : {false, true}) {
                for (uint32_t nInfo : {40u, 124u}) {
                    SCOPED_TRACE(testing::Message()
                                 << c.bits << " bits, width " << nW << ", top-down " << bTopDown
                                 << ", header " << nInfo);
                    Bytes file =
                        MakeBmp(c.bits, nW, 2, c.table, PackRows(c.bits, nW, 2, bTopDown, c.value));
                    if (bTopDown) Put32(file, 22, static_cast<uint32_t>(-2));
                    if (nInfo != 40) file = WithInfoHeaderSize(file, nInfo);
                    Outputs out;
                    ASSERT_EQ(ReadBmp(file, out), EImageStatus::Ok);
                    // The 40-byte info header and the whole colour table, else 4 zero bytes.
                    ASSERT_EQ(out.nHeaderSize, c.bits < 16 ? 40 + (4 << c.bits) : 44);
                    EXPECT_EQ(out.Info().biSize, 40u);
                    EXPECT_EQ(0, std::memcmp(out.pHeader.get() + 4, file.data() + 18, 36));
                    if (c.bits >= 16) {
                        EXPECT_EQ(0, std::memcmp(out.pHeader.get() + 40, "\0\0\0\0", 4));
                    }
                    CStillFrame frame;
                    ASSERT_EQ(Convert(out, frame), EImageStatus::Ok);
                    ExpectFrame(frame, nW, 2, c.expected);
                }
            }
        }
    }
}

}  // namespace
