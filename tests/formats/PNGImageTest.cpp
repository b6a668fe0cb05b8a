// The PNG reader against the PNG suite and files written by other programs, with
// ImageMagick's 16-bit decoding as the reference.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "core/Streams.h"
#include "formats/PNGImage.h"
#include "formats/PeerDecoder.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

namespace fs = std::filesystem;
using test::BitmapPicture;
using test::PeerPicture;

std::string SuitePath(const std::string& name = "") { return test::CorpusPath("pngsuite/png/" + name); }

std::vector<std::string> SuiteFiles() {
    std::vector<std::string> names;
    std::string dir = SuitePath();
    if (dir.empty() || !fs::is_directory(dir)) return names;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".png") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The table the reader builds for a file gamma g: (i / 255)^(1 / (g × 2.2)) × 255, nearest.
std::vector<int> GammaTable(float fileGamma) {
    std::vector<int> table(256);
    const double exponent = 1.0 / (double(fileGamma) * 2.2);
    for (int i = 0; i < 256; ++i) table[i] = int(std::nearbyint(std::pow(i / 255.0, exponent) * 255.0));
    return table;
}

struct Loaded {
    BitmapPicture Picture;
    int BitCount = 0;
    float Gamma = 1.0f;
    bool GammaInUse = false;
};

Loaded LoadPng(const std::string& path) {
    TPNGGraphic reader;
    TFileStream stream(path, FileMode::OpenRead);
    reader.ReadImage(stream);
    Loaded loaded;
    loaded.Picture = test::PictureOf(reader);
    loaded.BitCount = reader.BitCount();
    loaded.Gamma = reader.Properties.Gamma;
    loaded.GammaInUse = reader.Properties.Flags.Contains(ImageFlag::GammaInUse);
    return loaded;
}

std::string CompareWithReference(const std::string& path, const Loaded& loaded) {
    PeerPicture reference = test::DecodeWithImageMagick(path);
    if (!reference.Valid()) return "ImageMagick could not read the file";
    std::vector<int> table = GammaTable(loaded.Gamma);
    const bool gamma = loaded.GammaInUse;
    // Samples are reduced to 8 bits by 255 / 65535 and then, with gAMA, through the table.
    return test::ComparePictures(loaded.Picture, reference, gamma ? 2 : 1, loaded.BitCount == 32,
                                 [&](uint16_t v) { return gamma ? table[test::ReduceTo8(v)] : test::ReduceTo8(v); });
}

TEST(PNGImage, EveryValidSuiteFileMatchesTheReference) {
    std::vector<std::string> names = SuiteFiles();
    if (names.empty()) GTEST_SKIP() << "the PNG suite is not there";
    if (!test::HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
    int compared = 0;
    for (const std::string& name : names) {
        if (name[0] == 'x') continue;
        SCOPED_TRACE(name);
        TFileStream probe(SuitePath(name), FileMode::OpenRead);
        EXPECT_TRUE(TPNGGraphic::ProbeStream(probe));
        Loaded loaded = LoadPng(SuitePath(name));
        EXPECT_EQ("", CompareWithReference(SuitePath(name), loaded));
        ++compared;
    }
    EXPECT_GE(compared, 150);
}

TEST(PNGImage, BrokenSuiteFilesFailWithTheirMessages) {
    struct Case {
        const char* Name;
        const char* Message;
    } cases[] = {
        {"xs1n0g01.png", "Cannot load image. Invalid or unexpected PNG image format."},
        {"xs2n0g01.png", "Cannot load image. Invalid or unexpected PNG image format."},
        {"xs4n0g01.png", "Cannot load image. Invalid or unexpected PNG image format."},
        {"xs7n0g01.png", "Cannot load image. Invalid or unexpected PNG image format."},
        {"xcrn0g04.png", "Cannot load image. Invalid or unexpected PNG image format."},
        {"xlfn0g04.png", "Cannot load image. Invalid or unexpected PNG image format."},
        {"xhdn0g08.png", "Cannot load image. CRC error found in PNG file."},
        {"xcsn0g01.png", "Cannot load image. CRC error found in PNG file."},
        {"xc1n0g08.png", "Invalid color format in PNG file."},
        {"xc9n2c08.png", "Invalid color format in PNG file."},
        {"xd0n2c08.png", "Invalid color format in PNG file."},
        {"xd3n2c08.png", "Invalid color format in PNG file."},
        {"xd9n2c08.png", "Invalid color format in PNG file."},
        {"xdtn0g01.png", "Cannot load image. Invalid or unexpected PNG image format."},
    };
    if (SuiteFiles().empty()) GTEST_SKIP() << "the PNG suite is not there";
    size_t brokenInSuite = 0;
    for (const std::string& name : SuiteFiles()) brokenInSuite += name[0] == 'x';
    EXPECT_EQ(std::size(cases), brokenInSuite) << "every broken file of the suite is in the table";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TPNGGraphic reader;
        TFileStream stream(SuitePath(c.Name), FileMode::OpenRead);
        try {
            reader.ReadImage(stream);
            ADD_FAILURE() << "loaded without an error";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(c.Message, e.Message());
        }
    }
}

TEST(PNGImage, DamagedFilesFromPillowNeverCrash) {
    const char* names[] = {"broken.png", "broken_data_stream.png", "truncated_image.png", "truncated_end_chunk.png"};
    if (test::CorpusPath("pillow").empty()) GTEST_SKIP() << "the picture corpus is not there";
    for (const char* name : names) {
        SCOPED_TRACE(name);
        TPNGGraphic reader;
        try {
            TFileStream stream(test::CorpusPath(std::string("pillow/Tests/images/") + name), FileMode::OpenRead);
            reader.ReadImage(stream);
            EXPECT_GT(reader.Width(), 0);
        } catch (const Exception& e) {
            EXPECT_FALSE(e.Message().empty());
        }
    }
}

TEST(PNGImage, GammaComesFromTheGamaChunk) {
    struct Case {
        const char* Name;
        float Gamma;
    } cases[] = {{"g03n2c08.png", 0.35f},
                 {"g04n0g16.png", 0.45f},
                 {"g10n3p04.png", 1.0f},
                 {"g25n2c08.png", 2.5f},
                 {"basn2c08.png", 1.0f}};
    if (SuiteFiles().empty()) GTEST_SKIP() << "the PNG suite is not there";
    for (const Case& c : cases) {
        TPNGGraphic reader;
        TFileStream stream(SuitePath(c.Name), FileMode::OpenRead);
        reader.StartPosition = 0;
        ASSERT_TRUE(reader.ReadImageInfo(stream, 0)) << c.Name;
        EXPECT_NEAR(c.Gamma, reader.Properties.Gamma, 1e-6) << c.Name;
    }
}

TEST(PNGImage, BitmapFormatsFollowColourTypeAndDepth) {
    struct Case {
        const char* Name;
        int BitCount;
    } cases[] = {{"basn0g01.png", 1},
                 {"basn0g02.png", 4},
                 {"basn0g04.png", 4},
                 {"basn0g08.png", 8},
                 {"basn0g16.png", 8},
                 {"basn2c08.png", 24},
                 {"basn2c16.png", 24},
                 {"basn3p01.png", 1},
                 {"basn3p02.png", 4},
                 {"basn3p04.png", 4},
                 {"basn3p08.png", 8},
                 // grey with alpha becomes 32 bits, so that its alpha can lay it on white
                 {"basn4a08.png", 32},
                 {"basn4a16.png", 32},
                 {"basn6a08.png", 32},
                 {"basn6a16.png", 32}};
    if (SuiteFiles().empty()) GTEST_SKIP() << "the PNG suite is not there";
    for (const Case& c : cases) EXPECT_EQ(c.BitCount, LoadPng(SuitePath(c.Name)).BitCount) << c.Name;
}

TEST(PNGImage, InterlacedAndPlainFilesGiveTheSamePicture) {
    if (SuiteFiles().empty()) GTEST_SKIP() << "the PNG suite is not there";
    for (const std::string& name : SuiteFiles()) {
        if (name.rfind("basi", 0) != 0 && !(name[0] == 's' && name[3] == 'i')) continue;
        std::string plain = name;
        plain[3] = 'n';
        EXPECT_EQ(LoadPng(SuitePath(plain)).Picture.Rgba, LoadPng(SuitePath(name)).Picture.Rgba) << name;
    }
}

// Hand-made files for the cases no suite file shows.
std::vector<uint8_t> Chunk(const char* type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out;
    for (int shift : {24, 16, 8, 0}) out.push_back(uint8_t(data.size() >> shift));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    crc = crc32(crc, data.data(), uInt(data.size()));
    for (int shift : {24, 16, 8, 0}) out.push_back(uint8_t(crc >> shift));
    return out;
}

// An 8-bit RGB file of width × height pixels, rows of unfiltered bytes, with extra chunks
// placed before the image data.
std::vector<uint8_t> RgbPng(uint32_t width, uint32_t height, const std::vector<std::vector<uint8_t>>& extra,
                            uint8_t colorType = 2) {
    std::vector<uint8_t> raw;
    const uint32_t samples = colorType == 2 ? 3 : 1;
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        for (uint32_t x = 0; x < width * samples; ++x) raw.push_back(uint8_t(x * 7 + y * 31));
    }
    std::vector<uint8_t> packed(compressBound(uLong(raw.size())));
    uLongf packedSize = uLongf(packed.size());
    compress(packed.data(), &packedSize, raw.data(), uLong(raw.size()));
    packed.resize(packedSize);
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> ihdr = {0, 0, 0, uint8_t(width), 0, 0, 0, uint8_t(height), 8, colorType, 0, 0, 0};
    for (auto& part : {Chunk("IHDR", ihdr)}) file.insert(file.end(), part.begin(), part.end());
    for (const auto& chunk : extra) file.insert(file.end(), chunk.begin(), chunk.end());
    for (auto& part : {Chunk("IDAT", packed), Chunk("IEND", {})}) file.insert(file.end(), part.begin(), part.end());
    return file;
}

void LoadBytes(const std::vector<uint8_t>& bytes, TPNGGraphic& reader) {
    TCustomMemoryStream stream(bytes.data(), int64_t(bytes.size()));
    reader.ReadImage(stream);
}

std::string LoadError(const std::vector<uint8_t>& bytes) {
    TPNGGraphic reader;
    try {
        LoadBytes(bytes, reader);
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

TEST(PNGImage, ChunksByTheirKind) {
    struct Case {
        const char* What;
        std::vector<std::vector<uint8_t>> Extra;
        uint8_t ColorType;
        const char* Message;
    } cases[] = {
        {"unknown ancillary chunk", {Chunk("zzZz", {1, 2, 3})}, 2, ""},
        {"unknown critical chunk",
         {Chunk("CRIT", {1, 2, 3})},
         2,
         "Cannot load PNG image. Unexpected but critical chunk detected."},
        {"palette of 10 bytes",
         {Chunk("PLTE", std::vector<uint8_t>(10, 1))},
         3,
         "Cannot load image. Palette in PNG file is invalid."},
        {"tRNS with a wrong CRC",
         {[] {
             auto c = Chunk("tRNS", {0, 1, 0, 2, 0, 3});
             c.back() ^= 1;
             return c;
         }()},
         2,
         "Cannot load image. CRC error found in PNG file."},
    };
    for (const Case& c : cases) EXPECT_EQ(c.Message, LoadError(RgbPng(5, 3, c.Extra, c.ColorType))) << c.What;
}

TEST(PNGImage, TransparentColourOfAnRgbFile) {
    TPNGGraphic reader;
    LoadBytes(RgbPng(4, 2, {Chunk("tRNS", {0, 10, 0, 20, 0, 30})}), reader);
    EXPECT_EQ(10 + 20 * 256 + 30 * 65536, reader.TransparentColorValue());
    TPNGGraphic plain;
    LoadBytes(RgbPng(4, 2, {}), plain);
    EXPECT_EQ(-1, plain.TransparentColorValue());
}

// Every pixel the file's tRNS colour makes transparent shows the bitmap's transparent colour,
// also when gAMA changed the colours drawn.
TEST(PNGImage, TransparentPixelsOfSuiteFilesShowTheTransparentColour) {
    if (SuiteFiles().empty()) GTEST_SKIP() << "the PNG suite is not there";
    if (!test::HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
    int files = 0;
    for (const std::string& name : SuiteFiles()) {
        if (name[0] != 't' || name[4] == '3') continue;  // tRNS files of grey and RGB types
        SCOPED_TRACE(name);
        TPNGGraphic reader;
        TFileStream stream(SuitePath(name), FileMode::OpenRead);
        reader.ReadImage(stream);
        PeerPicture reference = test::DecodeWithImageMagick(SuitePath(name));
        ASSERT_TRUE(reference.Valid());
        if (!reader.Transparent) continue;
        ++files;
        BitmapPicture got = test::PictureOf(reader);
        int transparent = 0;
        for (int y = 0; y < got.Height; ++y)
            for (int x = 0; x < got.Width; ++x) {
                if (reference.Pixel(x, y)[3] != 0) continue;
                ++transparent;
                const uint8_t* p = got.Pixel(x, y);
                EXPECT_EQ(reader.TransparentColor, RGBColor(p[0], p[1], p[2])) << x << "," << y;
            }
        EXPECT_GT(transparent, 0);
    }
    EXPECT_GE(files, 4);
}

TEST(PNGImage, CompressionMethodOtherThanDeflateIsNotSupported) {
    auto bytes = RgbPng(2, 2, {});
    // IHDR data starts at 16; the compression method is its 11th byte; fix the CRC after it.
    bytes[16 + 10] = 1;
    uLong crc = crc32(0, &bytes[12], 17);
    for (int i = 0; i < 4; ++i) bytes[29 + i] = uint8_t(crc >> (24 - 8 * i));
    EXPECT_EQ("Cannot load image. The compression scheme is not supported for PNG files.", LoadError(bytes));
}

// A file cut inside its image data shows the rows it holds; the rest stay white.
TEST(PNGImage, TruncatedFileKeepsTheRowsItHolds) {
    if (SuiteFiles().empty()) GTEST_SKIP() << "the PNG suite is not there";
    std::vector<unsigned char> whole = test::ReadFileBytes(SuitePath("basn2c08.png"));
    Loaded full = LoadPng(SuitePath("basn2c08.png"));
    for (size_t cut : {whole.size() / 2, size_t(120), whole.size() - 20}) {
        SCOPED_TRACE(cut);
        std::vector<uint8_t> bytes(whole.begin(), whole.begin() + long(cut));
        TPNGGraphic reader;
        LoadBytes(bytes, reader);
        BitmapPicture got = test::PictureOf(reader);
        ASSERT_EQ(32, got.Width);
        int sameRows = 0, whiteRows = 0;
        for (int y = 0; y < 32; ++y) {
            bool same = std::equal(got.Pixel(0, y), got.Pixel(0, y) + 32 * 4, full.Picture.Pixel(0, y));
            bool white = std::all_of(got.Pixel(0, y), got.Pixel(0, y) + 32 * 4, [](uint8_t v) { return v == 255; });
            sameRows += same;
            whiteRows += white && !same;
            EXPECT_TRUE(same || white || y == sameRows) << "row " << y;
        }
        EXPECT_GE(sameRows + whiteRows, 31);
        if (cut < whole.size() / 2 + 1) {
            EXPECT_LT(sameRows, 32);
        }
    }
}

struct ToolCase {
    const char* Name;
    const char* Command;  // {in} a PPM picture, {out} the PNG to write
};

class PNGFromTools : public testing::TestWithParam<ToolCase> {};

TEST_P(PNGFromTools, MatchesTheReference) {
    const ToolCase& c = GetParam();
    if (!test::HaveImageMagick() || !test::HaveTool("pnmtopng")) GTEST_SKIP() << "ImageMagick or Netpbm is missing";
    std::string dir = test::TempDir(std::string("png-") + c.Name);
    std::string in = dir + "/in.ppm", out = dir + "/out.png";
    ASSERT_EQ(0, test::Run("/usr/bin/convert -size 37x23 -seed 3 plasma:fractal -depth 8 " + in));
    std::string command = c.Command;
    command.replace(command.find("{in}"), 4, in);
    command.replace(command.find("{out}"), 5, out);
    ASSERT_EQ(0, test::Run(command + " 2>/dev/null"));
    EXPECT_EQ("", CompareWithReference(out, LoadPng(out)));
}

INSTANTIATE_TEST_SUITE_P(
    Writers, PNGFromTools,
    testing::Values(ToolCase{"pnmtopng", "pnmtopng {in} > {out}"},
                    ToolCase{"pnmtopng_interlaced", "pnmtopng -interlace {in} > {out}"},
                    ToolCase{"pnmtopng_grey16", "ppmtopgm {in} | pnmdepth 65535 | pnmtopng -interlace > {out}"},
                    ToolCase{"pnmtopng_palette", "pnmquant 7 {in} | pnmtopng > {out}"},
                    ToolCase{"magick_rgba16", "/usr/bin/convert {in} -alpha set -channel A -fx 'j/h' -depth 16 {out}"},
                    ToolCase{"magick_grey2", "/usr/bin/convert {in} -colorspace gray -depth 2 PNG8:{out}"}),
    [](const testing::TestParamInfo<ToolCase>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace tilvorn
