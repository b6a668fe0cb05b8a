// The Targa reader against files written by other programs, checked pixel by pixel with
// Pillow as the reference decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "core/Streams.h"
#include "formats/PeerDecoder.h"
#include "formats/ReaderChecks.h"
#include "formats/TargaImage.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

namespace fs = std::filesystem;
using test::BitmapPicture;
using test::PeerPicture;
using test::TCountingStream;

std::vector<std::string> TargaFilesIn(const std::string& folder) {
    std::vector<std::string> files;
    std::string dir = test::CorpusPath(folder);
    if (dir.empty() || !fs::is_directory(dir)) return files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::string ext = entry.path().extension().string();
        for (char& c : ext) c = char(std::tolower(c));
        if (ext == ".tga") files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

BitmapPicture LoadTarga(const std::string& path, TTargaGraphic& reader) {
    TFileStream stream(path, FileMode::OpenRead);
    reader.ReadImage(stream);
    return test::PictureOf(reader);
}

// Pillow widens 5-bit samples by 255 / 31 where the bitmap repeats the top bits: one step apart.
const int kTolerance = 1;

TEST(TargaImage, CorpusFilesMatchPillow) {
    std::vector<std::string> files;
    for (const char* folder :
         {"oiio/targa", "kimageformats/tga", "pillow/Tests/images/tga/common", "pillow/Tests/images"})
        for (auto& f : TargaFilesIn(folder)) files.push_back(f);
    if (files.empty()) GTEST_SKIP() << "the picture corpus is not there";
    if (!test::HavePillow()) GTEST_SKIP() << "Debian's python3-pil is not installed";
    int compared = 0;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        PeerPicture reference = test::DecodeWithPillow(file);
        TTargaGraphic reader;
        if (!reference.Valid()) {
            // A file Pillow refuses must not crash us either.
            EXPECT_TRUE(test::ReadsOrFailsCleanly(reader, file));
            continue;
        }
        TFileStream probe(file, FileMode::OpenRead);
        EXPECT_TRUE(TTargaGraphic::ProbeStream(probe));
        BitmapPicture got = LoadTarga(file, reader);
        // 15- and 16-bit map entries become 5-bit values shifted up by 3 (31 gives 248),
        // where Pillow widens them to the full range.
        std::vector<unsigned char> header = test::ReadFileBytes(file);
        const bool fiveBitMap = header.size() > 7 && header[1] == 1 && (header[7] == 15 || header[7] == 16);
        EXPECT_EQ("", test::ComparePictures(got, reference, kTolerance, reference.HasAlpha, [&](uint16_t v) {
                      return fiveBitMap ? test::ReduceTo8(v) >> 3 << 3 : test::ReduceTo8(v);
                  }));
        ++compared;
    }
    EXPECT_GE(compared, 40);
}

// Truevision's own sample files: the same picture in every image type and depth.
TEST(TargaImage, ConformanceFilesGiveTheirBitmapFormats) {
    struct Case {
        const char* File;
        int BitCount;
        CompressionKind Coding;
    } cases[] = {
        {"UBW8.TGA", 8, CompressionKind::None},   {"CBW8.TGA", 8, CompressionKind::RLE},
        {"UCM8.TGA", 8, CompressionKind::None},   {"CCM8.TGA", 8, CompressionKind::RLE},
        {"UTC16.TGA", 16, CompressionKind::None}, {"CTC16.TGA", 16, CompressionKind::RLE},
        {"UTC24.TGA", 24, CompressionKind::None}, {"CTC24.TGA", 24, CompressionKind::RLE},
        {"UTC32.TGA", 32, CompressionKind::None}, {"CTC32.TGA", 32, CompressionKind::RLE},
    };
    if (test::CorpusPath("oiio/targa").empty()) GTEST_SKIP() << "the picture corpus is not there";
    std::vector<BitmapPicture> pictures;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.File);
        TTargaGraphic reader;
        BitmapPicture picture = LoadTarga(test::CorpusPath(std::string("oiio/targa/") + c.File), reader);
        EXPECT_EQ(c.BitCount, reader.BitCount());
        EXPECT_EQ(c.Coding, reader.Properties.Coding);
        EXPECT_EQ(128, picture.Width);
        pictures.push_back(picture);
    }
    // Plain and run-length forms of each depth hold the same picture.
    for (size_t i = 0; i + 1 < pictures.size(); i += 2)
        EXPECT_EQ(pictures[i].Rgba, pictures[i + 1].Rgba) << cases[i].File;
}

struct ToolCase {
    const char* Name;
    const char* Command;  // {in} is a PPM picture, {out} the Targa file to write
    int BitCount;
};

class TargaFromTools : public testing::TestWithParam<ToolCase> {};

TEST_P(TargaFromTools, MatchesPillow) {
    const ToolCase& c = GetParam();
    if (!test::HaveImageMagick() || !test::HavePillow() || !test::HaveTool("ppmtotga"))
        GTEST_SKIP() << "ImageMagick, Netpbm or Pillow is missing";
    std::string dir = test::TempDir(std::string("targa-") + c.Name);
    std::string in = dir + "/in.ppm", out = dir + "/out.tga";
    // An odd width, so rows never end on a run-length packet boundary by luck.
    ASSERT_EQ(0, test::Run("/usr/bin/convert -size 37x23 -seed 7 plasma:fractal -depth 8 " + in));
    std::string command = c.Command;
    command.replace(command.find("{in}"), 4, in);
    command.replace(command.find("{out}"), 5, out);
    ASSERT_EQ(0, test::Run(command + " 2>/dev/null"));
    TTargaGraphic reader;
    BitmapPicture got = LoadTarga(out, reader);
    EXPECT_EQ(c.BitCount, reader.BitCount());
    PeerPicture reference = test::DecodeWithPillow(out);
    ASSERT_TRUE(reference.Valid());
    EXPECT_EQ("",
              test::ComparePictures(got, reference, kTolerance, false, [](uint16_t v) { return test::ReduceTo8(v); }));
}

INSTANTIATE_TEST_SUITE_P(
    Writers, TargaFromTools,
    testing::Values(ToolCase{"ppmtotga_rgb_rle", "ppmtotga -rgb {in} > {out}", 24},
                    ToolCase{"ppmtotga_rgb_plain", "ppmtotga -rgb -norle {in} > {out}", 24},
                    ToolCase{"ppmtotga_mono_rle", "ppmtopgm {in} | ppmtotga -mono > {out}", 8},
                    ToolCase{"ppmtotga_cmap_rle", "pnmquant 200 {in} | ppmtotga -cmap > {out}", 8},
                    ToolCase{"ppmtotga_cmap_plain", "pnmquant 16 {in} | ppmtotga -cmap -norle > {out}", 8},
                    ToolCase{"magick_rle", "/usr/bin/convert {in} -compress RLE {out}", 24},
                    ToolCase{"magick_rgba", "/usr/bin/convert {in} -alpha set -channel A -fx 'i/w' {out}", 32},
                    ToolCase{"magick_palette", "/usr/bin/convert {in} -colors 50 -type palette {out}", 8}),
    [](const testing::TestParamInfo<ToolCase>& info) { return std::string(info.param.Name); });

// Header bytes for hand-made files: id length, map type, image type, map first (2), map
// length (2), entry size, x, y (2 each), width, height (2 each), pixel size, descriptor.
std::vector<uint8_t> Header(uint8_t mapType, uint8_t imageType, uint16_t mapLength, uint8_t entrySize, uint16_t width,
                            uint16_t height, uint8_t pixelSize, uint8_t descriptor, uint8_t idLength = 0) {
    return {idLength,
            mapType,
            imageType,
            0,
            0,
            uint8_t(mapLength),
            uint8_t(mapLength >> 8),
            entrySize,
            0,
            0,
            0,
            0,
            uint8_t(width),
            uint8_t(width >> 8),
            uint8_t(height),
            uint8_t(height >> 8),
            pixelSize,
            descriptor};
}

bool Probe(std::vector<uint8_t> bytes) {
    bytes.resize(std::max<size_t>(bytes.size(), 40), 0);
    TCustomMemoryStream stream(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(0);
    bool answer = TTargaGraphic::ProbeStream(stream);
    EXPECT_EQ(0, stream.Position());
    return answer;
}

TEST(TargaImage, ProbeAcceptsFilesWithoutMapWhateverTheirEntrySize) {
    struct Case {
        uint8_t MapType, ImageType, EntrySize, PixelSize;
        bool Accepted;
    } cases[] = {
        {0, 2, 0, 24, true},  // true colour as Pillow, Netpbm and Truevision write it
        {0, 3, 0, 8, true},   {0, 10, 7, 32, true}, {1, 1, 24, 8, true},  {1, 9, 16, 8, true},
        {1, 1, 0, 8, false},  // a colour map needs an entry size
        {1, 1, 20, 8, false}, {0, 4, 0, 24, false}, {0, 2, 0, 12, false}, {2, 2, 24, 24, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.Accepted, Probe(Header(c.MapType, c.ImageType, 2, c.EntrySize, 4, 4, c.PixelSize, 0)))
            << int(c.MapType) << " " << int(c.ImageType) << " " << int(c.EntrySize) << " " << int(c.PixelSize);
    // 18 bytes and nothing more is not enough.
    auto bytes = Header(0, 2, 0, 0, 1, 1, 24, 0);
    TCustomMemoryStream exact(bytes.data(), int64_t(bytes.size()));
    EXPECT_FALSE(TTargaGraphic::ProbeStream(exact));
}

std::vector<uint8_t> Load(const std::vector<uint8_t>& bytes, TTargaGraphic& reader, int64_t* endPosition = nullptr) {
    TCustomMemoryStream stream(bytes.data(), int64_t(bytes.size()));
    reader.ReadImage(stream);
    if (endPosition) *endPosition = stream.Position();
    BitmapPicture picture = test::PictureOf(reader);
    return picture.Rgba;
}

// Runs that cross the end of a row carry on in the next row and never write past it.
TEST(TargaImage, RunCrossingRowEndContinuesOnNextRow) {
    // 3 × 2 grey, top-left origin: one run of 4 pixels of 10, then a raw packet of 2.
    auto bytes = Header(0, 11, 0, 0, 3, 2, 8, 0x20);
    for (uint8_t b : {0x83, 10, 0x01, 20, 30}) bytes.push_back(b);
    TTargaGraphic reader;
    int64_t end = 0;
    auto rgba = Load(bytes, reader, &end);
    std::vector<int> greys;
    for (size_t i = 0; i < rgba.size(); i += 4) greys.push_back(rgba[i]);
    EXPECT_EQ((std::vector<int>{10, 10, 10, 10, 20, 30}), greys);
    EXPECT_EQ(int64_t(bytes.size()), end);  // right after the last packet used
}

TEST(TargaImage, RawPacketCrossingTheLastRowIsClipped) {
    // 2 × 1 true colour; one raw packet claims 3 pixels: the third is never written.
    auto bytes = Header(0, 10, 0, 0, 2, 1, 24, 0x20);
    for (uint8_t b : {0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9}) bytes.push_back(b);
    TTargaGraphic reader;
    auto rgba = Load(bytes, reader);
    EXPECT_EQ((std::vector<uint8_t>{3, 2, 1, 255, 6, 5, 4, 255}), rgba);
}

TEST(TargaImage, OriginAndImageIdDoNotChangeThePicture) {
    // 2 × 2 true colour stored bottom-up, and the same stored top-down with a 20-byte ID.
    const std::vector<uint8_t> bottomRow = {1, 1, 1, 2, 2, 2}, topRow = {3, 3, 3, 4, 4, 4};
    auto bottomUp = Header(0, 2, 0, 0, 2, 2, 24, 0);
    bottomUp.insert(bottomUp.end(), bottomRow.begin(), bottomRow.end());
    bottomUp.insert(bottomUp.end(), topRow.begin(), topRow.end());
    auto topDown = Header(0, 2, 0, 0, 2, 2, 24, 0x20, 20);
    topDown.insert(topDown.end(), 20, 'x');
    topDown.insert(topDown.end(), topRow.begin(), topRow.end());
    topDown.insert(topDown.end(), bottomRow.begin(), bottomRow.end());
    TTargaGraphic a, b;
    auto first = Load(bottomUp, a);
    EXPECT_EQ(first, Load(topDown, b));
    EXPECT_EQ(3, first[0]);  // the first stored row of a bottom-up file is the bottom row
}

TEST(TargaImage, SixteenBitMapEntriesAndBlackAndWhiteMaps) {
    // Colour-mapped 1 × 1 with two 15- or 16-bit entries (two bytes each either way); the
    // pixel uses entry 1 = 7FFF: white 248.
    for (uint8_t entrySize : {15, 16}) {
        auto mapped = Header(1, 1, 2, entrySize, 1, 1, 8, 0);
        for (uint8_t b : {0x00, 0x00, 0xFF, 0x7F, 0x01}) mapped.push_back(b);
        TTargaGraphic reader;
        EXPECT_EQ((std::vector<uint8_t>{248, 248, 248, 255}), Load(mapped, reader)) << int(entrySize);
    }
    // A black-and-white file that carries a colour map: the map is stepped over, the grey
    // palette used.
    auto grey = Header(1, 3, 2, 24, 1, 1, 8, 0);
    for (uint8_t b : {9, 9, 9, 9, 9, 9, 0x80}) grey.push_back(b);
    TTargaGraphic greyReader;
    EXPECT_EQ((std::vector<uint8_t>{128, 128, 128, 255}), Load(grey, greyReader));
}

TEST(TargaImage, PlainRowsCutShortRaiseTheReadError) {
    auto bytes = Header(0, 2, 0, 0, 4, 4, 24, 0);
    bytes.resize(bytes.size() + 20, 7);
    TTargaGraphic reader;
    EXPECT_THROW(Load(bytes, reader), EReadError);
    // Run-length data that end early leave the rest black, without an error.
    auto rle = Header(0, 10, 0, 0, 4, 4, 24, 0x20);
    for (uint8_t b : {0x81, 50, 60, 70}) rle.push_back(b);
    TTargaGraphic rleReader;
    auto rgba = Load(rle, rleReader);
    EXPECT_EQ(70, rgba[0]);
    EXPECT_EQ(70, rgba[4]);
    EXPECT_EQ(0, rgba[8]);
}

TEST(TargaImage, CutOffRunLengthFileReadsNoMoreThanTheWholeFile) {
    if (!test::HaveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is missing";
    const std::string file = test::TempDir("targa-cut") + "/whole.tga";
    ASSERT_EQ(0, test::Run("/usr/bin/convert -size 400x300 -seed 3 plasma:fractal -depth 8 -compress RLE " + file));
    const std::vector<uint8_t> whole = test::ReadFileBytes(file);
    const std::vector<uint8_t> half(whole.begin(), whole.begin() + long(whole.size() / 2));

    TCountingStream wholeStream(whole), halfStream(half);
    TTargaGraphic wholeReader, halfReader;
    wholeReader.ReadImage(wholeStream);
    halfReader.ReadImage(halfStream);
    ASSERT_EQ(wholeReader.Properties.Coding, CompressionKind::RLE);
    ASSERT_EQ(halfReader.Width(), 400);
    ASSERT_EQ(halfReader.Height(), 300);
    // Once the cut is reached the stream is not asked again, byte after byte.
    EXPECT_LE(halfStream.Calls, wholeStream.Calls);
    EXPECT_LE(halfStream.Bytes, wholeStream.Bytes);
    // The rows the half file holds are the whole file's.
    const int bottomRow = halfReader.Height() - 1;  // stored bottom up: the first rows read
    EXPECT_EQ(0, std::memcmp(halfReader.ScanLine(bottomRow), wholeReader.ScanLine(bottomRow), 400 * 3));
}

}  // namespace
}  // namespace tilvorn
