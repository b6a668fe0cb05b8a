// Bitmap files and packed DIBs: files written by other programs, the public bitmap suite,
// hand-made headers for each refusal, RLE bounds, writing and the clipboard block.
#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "image/DIB.h"
#include "image/ImageTestSupport.h"

using namespace tilvorn;
using namespace tilvorn::test;
namespace fs = std::filesystem;

namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// A bitmap file with a 40-byte header; masks and table go between header and pixels.
std::vector<uint8_t> MakeFile(int width, int height, int bits, uint32_t compression, const std::vector<uint8_t>& extra,
                              const std::vector<uint8_t>& pixels, uint32_t colorsUsed = 0, uint32_t imageSize = 0) {
    std::vector<uint8_t> f(54, 0);
    f[0] = 'B';
    f[1] = 'M';
    Put32(f, 14, 40);
    Put32(f, 18, uint32_t(width));
    Put32(f, 22, uint32_t(height));
    Put16(f, 26, 1);
    Put16(f, 28, uint16_t(bits));
    Put32(f, 30, compression);
    Put32(f, 34, imageSize);
    Put32(f, 46, colorsUsed);
    f.insert(f.end(), extra.begin(), extra.end());
    Put32(f, 10, uint32_t(f.size()));
    f.insert(f.end(), pixels.begin(), pixels.end());
    Put32(f, 2, uint32_t(f.size()));
    return f;
}

std::vector<uint8_t> Masks(uint32_t r, uint32_t g, uint32_t b) {
    std::vector<uint8_t> m(12);
    Put32(m, 0, r);
    Put32(m, 4, g);
    Put32(m, 8, b);
    return m;
}

void LoadBytes(TDIB& dib, const std::vector<uint8_t>& bytes) {
    TCustomMemoryStream stream(bytes.data(), int64_t(bytes.size()));
    dib.LoadFromStream(stream);
}

std::vector<uint8_t> SaveBytes(TDIB& dib) {
    TMemoryStream stream;
    dib.SaveToStream(stream);
    return stream.Bytes();
}

}  // namespace

// ---- files written by other programs ----

namespace {
// 5- and 6-bit channels widen to 8 bits differently from tool to tool: compare the bits the
// file stores.
Colors StoredBits(Colors c, const TDIB& dib) {
    if (dib.BitCount() != 16) return c;
    const DIBPixelFormat& f = dib.CurrentPixelFormat();
    auto keep = [](int bits) { return uint8_t(0xFF << (8 - bits)); };
    for (TColor& p : c.pixels)
        p = RGBColor(ColorRed(p) & keep(f.RedBits), ColorGreen(p) & keep(f.GreenBits), ColorBlue(p) & keep(f.BlueBits));
    return c;
}

}  // namespace

struct FixtureCase {
    const char* file;
    int bitCount;
    bool compressed;
    bool sameAsSource;  // lossless copy of source.ppm (else compared with the peer tool only)
};

class WrittenByOthers : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(WrittenByOthers, DecodesToWhatThePeerToolReads) {
    const FixtureCase& c = GetParam();
    std::string path = DataPath(std::string("image/") + c.file);
    TDIB dib;
    dib.LoadFromFile(path);
    EXPECT_EQ(dib.BitCount(), c.bitCount);
    EXPECT_EQ(dib.IsCompressed(), c.compressed);
    EXPECT_EQ(dib.Width(), 7);
    EXPECT_EQ(dib.Height(), 5);
    Colors decoded = DecodedColors(dib);
    if (c.sameAsSource) {
        Colors source = ReadPPM(DataPath("image/source.ppm"));
        if (c.bitCount == 16) {
            // The writer rounded 8-bit values to 5 or 6 bits: each channel is within one step.
            ASSERT_EQ(decoded.pixels.size(), source.pixels.size());
            for (size_t i = 0; i < source.pixels.size(); ++i) {
                TColor d = decoded.pixels[i], s = source.pixels[i];
                EXPECT_LE(std::abs(ColorRed(d) - ColorRed(s)), 8) << i;
                EXPECT_LE(std::abs(ColorGreen(d) - ColorGreen(s)), 8) << i;
                EXPECT_LE(std::abs(ColorBlue(d) - ColorBlue(s)), 8) << i;
            }
        } else {
            EXPECT_EQ(decoded, source);
        }
    }
    if (!HavePeerTool()) GTEST_SKIP() << "/usr/bin/convert is not installed";
    EXPECT_EQ(StoredBits(decoded, dib), StoredBits(PeerDecode(path), dib));
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, WrittenByOthers,
    ::testing::Values(FixtureCase{"im-24.bmp", 24, false, true}, FixtureCase{"im-v5-24.bmp", 24, false, true},
                      FixtureCase{"im-32.bmp", 32, false, true}, FixtureCase{"im-565.bmp", 16, false, true},
                      FixtureCase{"im-555.bmp", 16, false, true}, FixtureCase{"im-os2-24.bmp", 24, false, true},
                      FixtureCase{"im-pal.bmp", 4, false, false}, FixtureCase{"im-rle8.bmp", 8, true, false},
                      FixtureCase{"im-1.bmp", 1, false, false}, FixtureCase{"pbm-24.bmp", 24, false, true},
                      FixtureCase{"pbm-4.bmp", 4, false, false}, FixtureCase{"pbm-8.bmp", 8, false, false},
                      FixtureCase{"pbm-os2-1.bmp", 1, false, false}, FixtureCase{"pbm-os2-4.bmp", 4, false, false},
                      FixtureCase{"pil-24.bmp", 24, false, true}, FixtureCase{"pil-8.bmp", 8, false, false},
                      FixtureCase{"topdown-24.bmp", 24, false, true}, FixtureCase{"clrused10-24.bmp", 24, false, true}),
    [](const auto& info) {
        std::string name = info.param.file;
        for (char& ch : name)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

TEST(BitmapFile, IndexedFixturesHoldTheFourSourceColours) {
    // The 4-colour source survives every indexed writer exactly.
    Colors source = ReadPPM(DataPath("image/source4.ppm"));
    for (const char* file : {"im-pal.bmp", "im-rle8.bmp", "pbm-4.bmp", "pbm-8.bmp", "pbm-os2-4.bmp"}) {
        TDIB dib;
        dib.LoadFromFile(DataPath(std::string("image/") + file));
        EXPECT_EQ(DecodedColors(dib), source) << file;
    }
}

// ---- the public bitmap suite ----

namespace {

std::vector<fs::path> SuiteFiles(const std::string& group) {
    std::vector<fs::path> files;
    std::string dir = CorpusPath("pillow/Tests/images/bmp/" + group);
    if (dir.empty() || !fs::is_directory(dir)) return files;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".bmp") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

TEST(BitmapSuite, GoodFilesDecodeAsThePeerToolReadsThem) {
    auto files = SuiteFiles("g");
    if (files.empty()) GTEST_SKIP() << "the bitmap suite of the corpus is missing";
    if (!HavePeerTool()) GTEST_SKIP() << "/usr/bin/convert is not installed";
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        TDIB dib;
        ASSERT_NO_THROW(dib.LoadFromFile(file.string()));
        Colors peer = PeerDecode(file.string());
        ASSERT_FALSE(peer.pixels.empty());
        EXPECT_EQ(StoredBits(DecodedColors(dib), dib), StoredBits(peer, dib));
    }
}

namespace {

// Each questionable or bad file of the suite: the text it is refused with, or "" when it is
// read (as the peer tool reads it where `peer` is set).
struct SuiteCase {
    const char* file;
    const char* message;
    bool peer;
};

void RunSuite(const std::string& group, const std::vector<SuiteCase>& cases) {
    auto files = SuiteFiles(group);
    if (files.empty()) GTEST_SKIP() << "the bitmap suite of the corpus is missing";
    EXPECT_EQ(files.size(), cases.size()) << "the suite changed";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::string path = CorpusPath("pillow/Tests/images/bmp/" + group + "/" + c.file);
        TDIB dib;
        std::string message;
        Colors ours;
        try {
            dib.LoadFromFile(path);
            ours = DecodedColors(dib);  // decoding must stay inside the picture and the data
        } catch (const Exception& e) {
            message = e.Message();
        }
        EXPECT_EQ(message, c.message);
        if (message.empty()) {
            EXPECT_EQ(ours.pixels.size(), size_t(dib.Width()) * size_t(dib.Height()));
            if (c.peer && HavePeerTool()) {
                EXPECT_EQ(StoredBits(ours, dib), StoredBits(PeerDecode(path), dib));
            }
        } else {
            EXPECT_TRUE(dib.Empty());
        }
    }
}

}  // namespace

TEST(BitmapSuite, QuestionableFilesDecodeOrFailWithTheirText) {
    RunSuite("q",
             {
                 {"pal1p1.bmp", "", true},
                 {"pal2.bmp", "Bitcount in invalid (2)", false},
                 {"pal4rletrns.bmp", "", false},  // skipped pixels: ours 0, the peer's transparent
                 {"pal8offs.bmp", "", true},  // pixels after a gap: the file header's offset
                 {"pal8os2sp.bmp", "", true},  // a colour table shorter than the bit count says
                 {"pal8os2v2-16.bmp", "DIB is invalid", false},
                 {"pal8os2v2.bmp", "DIB is invalid", false},
                 {"pal8oversizepal.bmp", "", false},
                 {"pal8rletrns.bmp", "", false},
                 {"rgb16-231.bmp", "PixelFormat in invalid", false},
                 {"rgb24jpeg.bmp", "Bitcount in invalid (0)", false},
                 {"rgb24largepal.bmp", "", true},
                 {"rgb24lprof.bmp", "", true},
                 {"rgb24png.bmp", "Bitcount in invalid (0)", false},
                 {"rgb24prof.bmp", "", true},
                 {"rgb32-111110.bmp", "PixelFormat in invalid", false},
                 {"rgb32bf-xbgr.bmp", "", true},
                 {"rgb32fakealpha.bmp", "", true},
                 {"rgb32h52.bmp", "", true},  // the masks are in the header's last 12 bytes
                 {"rgba16-4444.bmp", "PixelFormat in invalid", false},
                 {"rgba32.bmp", "", true},
                 {"rgba32abf.bmp", "DIB is invalid", false},
                 {"rgba32h56.bmp", "", true},  // and the alpha mask in the last 4
             });
}

TEST(BitmapSuite, BadFilesFailWithTheirTextOrDecodeWhatTheyCan) {
    RunSuite("b",
             {
                 {"badbitcount.bmp", "Bitcount in invalid (30000)", false},
                 {"badbitssize.bmp", "", true},  // a wrong image size field is not needed uncompressed
                 {"baddens1.bmp", "", true},
                 {"baddens2.bmp", "", true},
                 {"badfilesize.bmp", "", false},
                 {"badheadersize.bmp", "DIB is invalid", false},
                 {"badpalettesize.bmp", "", false},  // colours used far above 256: cut to 256
                 {"badplanes.bmp", "", false},
                 {"badrle.bmp", "", false},  // runs that leave the picture are clipped
                 {"badwidth.bmp", "DIB is invalid", false},
                 {"pal8badindex.bmp", "", false},
                 {"reallybig.bmp", "Stream read error", false},  // refused before any allocation
                 {"rletopdown.bmp", "", false},
                 {"shortfile.bmp", "Stream read error", false},
             });
}

// ---- header checks ----

TEST(BitmapFile, EmptyStreamChangesNothingAndFileHeaderAloneEmpties) {
    TDIB dib;
    dib.SetSize(3, 3, 24);
    TDIBStore* before = dib.Image();
    LoadBytes(dib, {});
    EXPECT_EQ(dib.Image(), before);
    std::vector<uint8_t> headerOnly = MakeFile(1, 1, 24, 0, {}, {});
    headerOnly.resize(14);
    LoadBytes(dib, headerOnly);
    EXPECT_TRUE(dib.Empty());
}

TEST(BitmapFile, RefusalsKeepTheOldPicture) {
    auto bad = [](std::vector<uint8_t> f, auto change) {
        change(f);
        return f;
    };
    std::vector<uint8_t> ok = MakeFile(2, 2, 24, 0, {}, std::vector<uint8_t>(16, 7));
    std::vector<uint8_t> truncatedMasks = MakeFile(1, 1, 16, 3, {}, {});
    truncatedMasks.resize(54 + 6);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;
    } cases[] = {
        {"short file header", std::vector<uint8_t>(ok.begin(), ok.begin() + 10), "DIB is invalid"},
        {"wrong type", bad(ok, [](auto& f) { f[0] = 'X'; }), "DIB is invalid"},
        {"short header size", std::vector<uint8_t>(ok.begin(), ok.begin() + 16), "DIB is invalid"},
        {"header size 64", bad(ok, [](auto& f) { Put32(f, 14, 64); }), "DIB is invalid"},
        {"header size 60", bad(ok, [](auto& f) { Put32(f, 14, 60); }), "DIB is invalid"},
        {"compression 4", bad(ok, [](auto& f) { Put32(f, 30, 4); }), "DIB is invalid"},
        {"RLE8 on 24 bits", bad(ok, [](auto& f) { Put32(f, 30, 1); }), "DIB is invalid"},
        {"negative width", bad(ok, [](auto& f) { Put32(f, 18, uint32_t(-2)); }), "DIB is invalid"},
        {"bit count 12", bad(ok, [](auto& f) { Put16(f, 28, 12); }), "Bitcount in invalid (12)"},
        {"bit count 2", bad(ok, [](auto& f) { Put16(f, 28, 2); }), "Bitcount in invalid (2)"},
        {"truncated header", std::vector<uint8_t>(ok.begin(), ok.begin() + 30), "Stream read error"},
        {"truncated pixels", std::vector<uint8_t>(ok.begin(), ok.end() - 1), "Stream read error"},
        {"huge size, few bytes",
         bad(ok,
             [](auto& f) {
                 Put32(f, 18, 60000);
                 Put32(f, 22, 60000);
             }),
         "Stream read error"},
        {"24-bit masks of 16 bits", MakeFile(1, 1, 24, 3, Masks(0xF800, 0x7E0, 0x1F), std::vector<uint8_t>(4)),
         "PixelFormat in invalid"},
        {"16-bit masks 8-8-8", MakeFile(1, 1, 16, 3, Masks(0xFF0000, 0xFF00, 0xFF), std::vector<uint8_t>(4)),
         "PixelFormat in invalid"},
        {"truncated masks", truncatedMasks, "Stream read error"},
        {"truncated table", MakeFile(1, 1, 8, 0, std::vector<uint8_t>(100), {}), "Stream read error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TDIB dib;
        dib.SetSize(1, 1, 8);
        TDIBStore* before = dib.Image();
        std::string message;
        try {
            LoadBytes(dib, c.bytes);
        } catch (const Exception& e) {
            message = e.Message();
        }
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(dib.Image(), before);
    }
}

TEST(BitmapFile, MasksAndTheirDefaults) {
    struct Case {
        const char* what;
        int bits;
        uint32_t compression;
        std::vector<uint8_t> masks;
        DIBPixelFormat format;
        std::vector<uint8_t> pixel;  // one pixel, row padded
        TColor color;
    } cases[] = {
        {"16 bits without masks", 16, 0, {}, pf555, {0x1F, 0x7C, 0, 0}, RGBColor(255, 0, 255)},
        {"16 bits 5-6-5", 16, 3, Masks(0xF800, 0x7E0, 0x1F), pf565, {0xE0, 0x07, 0, 0}, RGBColor(0, 255, 0)},
        // Channels at other places are moved to the standard positions, not misread.
        {"32 bits, red lowest",
         32,
         3,
         Masks(0xFF, 0xFF00, 0xFF0000),
         pf888,
         {0x10, 0x20, 0x30, 0},
         RGBColor(0x10, 0x20, 0x30)},
        {"32 bits, alpha lowest",
         32,
         3,
         Masks(0xFF000000, 0xFF0000, 0xFF00),
         pf888,
         {0x99, 0x10, 0x20, 0x30},
         RGBColor(0x30, 0x20, 0x10)},
        {"16 bits, blue on top", 16, 3, Masks(0x1F, 0x7E0, 0xF800), pf565, {0x1F, 0x00, 0, 0}, RGBColor(255, 0, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TDIB dib;
        LoadBytes(dib, MakeFile(1, 1, c.bits, c.compression, c.masks, c.pixel));
        EXPECT_EQ(dib.CurrentPixelFormat(), c.format);
        EXPECT_EQ(DecodedColors(dib).pixels.at(0), c.color);
    }
}

namespace {

// A one-pixel 32-bit file whose header of headerSize bytes carries the red, green, blue and
// alpha masks after its first 40 bytes.
std::vector<uint8_t> MaskedHeaderFile(uint32_t headerSize, uint32_t compression, const uint32_t (&masks)[4],
                                      const std::vector<uint8_t>& pixel) {
    std::vector<uint8_t> f = MakeFile(1, 1, 32, compression, std::vector<uint8_t>(headerSize - 40), pixel);
    Put32(f, 14, headerSize);
    for (size_t i = 0; i < 4 && 40 + 4 * i < headerSize; ++i) Put32(f, 54 + 4 * i, masks[i]);
    return f;
}

}  // namespace

// An alpha mask beside bit fields makes the fourth byte alpha, moved there from wherever the
// file keeps it; without bit fields, or with an alpha mask not a byte wide, it stays unused.
TEST(BitmapFile, AlphaMaskOfTheLaterHeaders) {
    struct Case {
        const char* what;
        uint32_t headerSize, compression;
        uint32_t masks[4];
        bool alpha;
        std::vector<uint8_t> pixel;  // blue, green, red, alpha once read
    } cases[] = {
        {"version 5, alpha on top", 124, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, true, {0x10, 0x20, 0x30, 0x80}},
        {"version 4, alpha lowest", 108, 3, {0xFF000000, 0xFF0000, 0xFF00, 0xFF}, true, {0x20, 0x30, 0x80, 0x10}},
        {"version 3, red lowest", 56, 3, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, true, {0x30, 0x20, 0x10, 0x80}},
        {"version 2, no alpha mask", 52, 3, {0xFF0000, 0xFF00, 0xFF, 0}, false, {0x10, 0x20, 0x30, 0x80}},
        {"version 5 without bit fields", 124, 0, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, false, {0x10, 0x20, 0x30, 0x80}},
        {"alpha mask of four bits", 124, 3, {0xFF0000, 0xFF00, 0xFF, 0xF0000000}, false, {0x10, 0x20, 0x30, 0x80}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TDIB dib;
        LoadBytes(dib, MaskedHeaderFile(c.headerSize, c.compression, c.masks, {0x10, 0x20, 0x30, 0x80}));
        EXPECT_EQ(dib.HasAlphaChannel(), c.alpha);
        const uint8_t* p = dib.ScanLine(0);
        EXPECT_EQ(std::vector<uint8_t>(p, p + (c.alpha ? 4 : 3)),
                  std::vector<uint8_t>(c.pixel.begin(), c.pixel.begin() + (c.alpha ? 4 : 3)));
        // A copy made on writing keeps the alpha.
        TDIB copy;
        copy.Assign(&dib);
        copy.ScanLine(0)[0] = 0;
        EXPECT_EQ(copy.HasAlphaChannel(), c.alpha);
    }
}

TEST(BitmapFile, ColoursUsedCountSkipsTheTableBeforeThePixels) {
    std::vector<uint8_t> table(40, 0xEE);
    TDIB dib;
    LoadBytes(dib, MakeFile(1, 1, 24, 0, table, {1, 2, 3, 0}, 10));
    EXPECT_EQ(DecodedColors(dib).pixels.at(0), RGBColor(3, 2, 1));
}

TEST(BitmapFile, ZeroWidthGivesEmptyPicture) {
    TDIB dib;
    dib.SetSize(2, 2, 8);
    LoadBytes(dib, MakeFile(0, 5, 24, 0, {}, {}));
    EXPECT_TRUE(dib.Empty());
}

// ---- RLE ----

namespace {

// A 4-bit or 8-bit RLE file (grey table) around the given data.
std::vector<uint8_t> RleFile(int width, int height, int bits, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> table;
    for (int i = 0; i < (1 << bits); ++i) table.insert(table.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
    return MakeFile(width, height, bits, bits == 8 ? 1 : 2, table, data, 0, uint32_t(data.size()));
}

std::vector<int> BottomRowIndices(TDIB& dib) {
    std::vector<int> v;
    const uint8_t* row = dib.ScanLine(dib.Height() - 1);
    for (int x = 0; x < dib.Width(); ++x)
        v.push_back(dib.BitCount() == 8 ? row[x] : (x & 1) ? row[x / 2] & 15 : row[x / 2] >> 4);
    return v;
}

}  // namespace

TEST(RLE, FourBitRunAlternatesNibbles) {
    TDIB dib;
    LoadBytes(dib, RleFile(3, 1, 4, {0x03, 0x12, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_TRUE(dib.IsCompressed());
    EXPECT_EQ(BottomRowIndices(dib), (std::vector<int>{1, 2, 1}));
    EXPECT_FALSE(dib.IsCompressed());
}

TEST(RLE, PictureStaysCompressedWhileDrawn) {
    TDIB dib;
    LoadBytes(dib, RleFile(4, 2, 8, {0x04, 0x80, 0x00, 0x00, 0x00, 0x04, 1, 2, 3, 4, 0x00, 0x01}));
    EXPECT_TRUE(dib.IsCompressed());
    TDIB target;
    target.SetSize(4, 2, 24);
    target.Canvas().Draw(0, 0, dib);
    EXPECT_TRUE(dib.IsCompressed());
    EXPECT_EQ(target.Canvas().GetPixel(0, 1), RGBColor(0x80, 0x80, 0x80));
    EXPECT_EQ(target.Canvas().GetPixel(3, 0), RGBColor(4, 4, 4));
    // Writing it back keeps the RLE data.
    std::vector<uint8_t> saved = SaveBytes(dib);
    EXPECT_EQ(saved.size(), size_t(14 + 40 + 1024 + 12));
    EXPECT_EQ(saved[30], 1);
    EXPECT_EQ(BottomRowIndices(dib), (std::vector<int>{0x80, 0x80, 0x80, 0x80}));
}

TEST(RLE, DataThatLeavesTheImageIsClipped) {
    struct Case {
        const char* what;
        int bits;
        std::vector<uint8_t> data;
        std::vector<int> bottom;  // expected bottom row
    } cases[] = {
        {"run longer than the row", 8, {0x09, 5, 0, 1}, {5, 5, 5}},
        {"absolute run longer than the row", 8, {0, 5, 1, 2, 3, 4, 5, 0, 0, 1}, {1, 2, 3}},
        {"delta past the right edge, then a run", 8, {0, 2, 10, 0, 2, 7, 0, 1}, {0, 0, 0}},
        {"delta past the top ends decoding", 8, {2, 4, 0, 2, 0, 9, 3, 6}, {4, 4, 0}},
        {"line ends past the top", 8, {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 3, 3}, {1, 0, 0}},
        {"no end-of-bitmap code", 8, {2, 9}, {9, 9, 0}},
        {"absolute run cut by the end of data", 8, {0, 6, 7, 8}, {7, 8, 0}},
        {"delta cut by the end of data", 8, {1, 3, 0, 2, 1}, {3, 0, 0}},
        {"4-bit run past the row", 4, {0x07, 0x45, 0, 1}, {4, 5, 4}},
        {"4-bit absolute run cut", 4, {0, 6, 0x12}, {1, 2, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TDIB dib;
        LoadBytes(dib, RleFile(3, 2, c.bits, c.data));
        EXPECT_EQ(BottomRowIndices(dib), c.bottom);
    }
}

TEST(RLE, DeltaMovesUpAndAcross) {
    TDIB dib;
    // Row 0 (bottom): 1 at x=0; delta (1, 1); row 1: 2 at x=2.
    LoadBytes(dib, RleFile(3, 2, 8, {1, 1, 0, 2, 1, 1, 1, 2, 0, 1}));
    dib.ScanLine(0);
    EXPECT_EQ(dib.ScanLine(1)[0], 1);
    EXPECT_EQ(dib.ScanLine(0)[2], 2);
    EXPECT_EQ(dib.ScanLine(0)[0], 0);  // never set: 0
}

TEST(RLE, ImageSizeZeroTakesTheRestOfTheFile) {
    std::vector<uint8_t> f = RleFile(2, 1, 8, {2, 9, 0, 1});
    Put32(f, 34, 0);
    TDIB dib;
    LoadBytes(dib, f);
    EXPECT_EQ(BottomRowIndices(dib), (std::vector<int>{9, 9}));
}

// ---- writing ----

TEST(BitmapFile, WrittenSizesAndOffsets) {
    struct Case {
        int bits;
        size_t size;
        uint32_t offset;
    } cases[] = {{24, 14 + 40 + 1200, 54}, {8, 14 + 1064 + 400, 1078}, {4, 14 + 104 + 200, 118},
                 {1, 14 + 48 + 80, 62},    {32, 14 + 52 + 1600, 66},   {16, 14 + 52 + 800, 66}};
    for (const auto& c : cases) {
        TDIB dib;
        dib.PixelFormat = c.bits == 16 ? pf565 : pf888;
        dib.SetSize(40, 10, c.bits);
        std::memset(dib.Pixels(), 0, size_t(dib.Size()));
        std::vector<uint8_t> f = SaveBytes(dib);
        EXPECT_EQ(f.size(), c.size) << c.bits;
        EXPECT_EQ(f[10] | f[11] << 8, int(c.offset));
        EXPECT_EQ(f[2] | f[3] << 8 | f[4] << 16, int(c.size));
    }
    TDIB empty;
    EXPECT_TRUE(SaveBytes(empty).empty());
}

TEST(BitmapFile, WrittenFilesReadBackAndThePeerToolAgrees) {
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        TDIB dib;
        dib.PixelFormat = bits == 16 ? pf565 : pf888;
        if (bits <= 8)
            for (int i = 0; i < 256; ++i) dib.ColorTable[size_t(i)] = {uint8_t(i * 7), uint8_t(255 - i), uint8_t(i), 0};
        dib.SetSize(9, 4, bits);
        for (int y = 0; y < 4; ++y) {
            uint8_t* row = dib.ScanLine(y);
            for (int i = 0; i < dib.RowBytes(); ++i) row[i] = uint8_t(i * 31 + y * 17);
        }
        Colors ours = DecodedColors(dib);
        std::string path = TempDir("written") + "/picture.bmp";
        dib.SaveToFile(path);
        TDIB back;
        back.LoadFromFile(path);
        EXPECT_EQ(back.BitCount(), bits);
        EXPECT_EQ(DecodedColors(back), ours);
        if (HavePeerTool() && bits != 16) {
            EXPECT_EQ(PeerDecode(path), ours);
        }
    }
}

TEST(BitmapFile, MissingFileFailsToOpen) {
    TDIB dib;
    EXPECT_THROW(dib.LoadFromFile("/nonexistent/picture.bmp"), EFOpenError);
}

// ---- the clipboard block ----

TEST(Clipboard, PackedDibThroughGlobalMemory) {
    int64_t blocksBefore = platform::GlobalLiveBlocks();
    TDIB dib;
    dib.SetSize(5, 3, 8);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) dib.ScanLine(y)[x] = uint8_t(10 * y + x);
    uint16_t format = 0;
    platform::HGLOBAL block = nullptr;
    HPALETTE palette = reinterpret_cast<HPALETTE>(1);
    dib.SaveToClipboardFormat(format, block, palette);
    EXPECT_EQ(format, CF_DIB);
    EXPECT_EQ(palette, nullptr);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(platform::GlobalSize(block), size_t(40 + 1024 + 24));
    TDIB back;
    back.LoadFromClipboardFormat(CF_DIB, block, nullptr);
    EXPECT_EQ(platform::GlobalLockCount(block), 0);
    EXPECT_EQ(DecodedColors(back), DecodedColors(dib));
    EXPECT_EQ(platform::GlobalFree(block), nullptr);
    EXPECT_EQ(platform::GlobalLiveBlocks(), blocksBefore);
}
