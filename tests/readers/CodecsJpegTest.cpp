// The TIFF JPEG decoder over strips of files written by libtiff (tiffcp -c jpeg), checked
// against libtiff's own decoding (tiff2rgba), and its checks and error paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "core/Exceptions.h"
#include "readers/ImageReaders.h"
#include "readers/ReaderCodecs.h"
#include "readers/ReaderWarnings.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using Bytes = std::vector<uint8_t>;

/// Just enough of a TIFF reader to take out strips and tags of the fixtures.
struct TiffStrips {
    std::map<uint16_t, std::vector<uint32_t>> numbers;
    Bytes tables;
    std::vector<Bytes> strips;
};

TiffStrips ReadStrips(const std::string& path) {
    const Bytes file = test::ReadFileBytes(path);
    TiffStrips tiff;
    if (file.size() < 8) return tiff;
    const bool big = file[0] == 'M';
    auto u16 = [&](size_t at) {
        return big ? uint16_t(file[at] << 8 | file[at + 1]) : uint16_t(file[at + 1] << 8 | file[at]);
    };
    auto u32 = [&](size_t at) {
        return big ? uint32_t(u16(at)) << 16 | u16(at + 2) : uint32_t(u16(at + 2)) << 16 | u16(at);
    };
    const size_t ifd = u32(4);
    const uint16_t entries = u16(ifd);
    for (uint16_t i = 0; i < entries; ++i) {
        const size_t entry = ifd + 2 + 12 * size_t(i);
        const uint16_t tag = u16(entry), type = u16(entry + 2);
        const uint32_t count = u32(entry + 4);
        const size_t size = type == 3 ? 2 : type == 4 ? 4 : 1;
        const size_t at = count * size <= 4 ? entry + 8 : u32(entry + 8);
        if (tag == 347) {
            tiff.tables.assign(file.begin() + at, file.begin() + at + count);
            continue;
        }
        for (uint32_t v = 0; v < count; ++v)
            tiff.numbers[tag].push_back(size == 2 ? u16(at + 2 * v) : size == 4 ? u32(at + 4 * v) : file[at + v]);
    }
    const auto& offsets = tiff.numbers[273];
    const auto& counts = tiff.numbers[279];
    for (size_t s = 0; s < offsets.size() && s < counts.size(); ++s)
        tiff.strips.emplace_back(file.begin() + offsets[s], file.begin() + offsets[s] + counts[s]);
    return tiff;
}

/// A binary PPM's pixels, red first.
Bytes ReadPPM(const std::string& path, uint32_t& width, uint32_t& height) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> width >> height >> maxValue;
    in.get();
    Bytes pixels(size_t(width) * height * 3);
    in.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
    return pixels;
}

struct JpegFixture {
    const char* name;
    ColorModel model;
    uint8_t samples;
};

TImageProperties PropertiesFor(const TiffStrips& tiff, const JpegFixture& fixture) {
    TImageProperties p;
    p.ImageWidth = tiff.numbers.at(256)[0];
    p.ImageHeight = tiff.numbers.at(257)[0];
    p.Model = fixture.model;
    p.SampleBits = 8;
    p.SampleCount = fixture.samples;
    p.PixelBits = uint8_t(8 * fixture.samples);
    p.PlaneLayout = 1;
    p.LineBytes = p.ImageWidth * fixture.samples;
    p.StripRowCounts = {tiff.numbers.at(278)[0]};
    if (fixture.model == ColorModel::YCbCr)
        p.ChromaSubsampling = {2, 2};  // the TIFF default; tiffcp leaves the tag out
    p.JpegTableBytes = tiff.tables;
    return p;
}

/// The rows the bitmap should get: blue first for colour, one grey byte otherwise.
Bytes ExpectedRows(const std::string& reference, uint8_t samples) {
    uint32_t width = 0, height = 0;
    const Bytes rgb = ReadPPM(reference, width, height);
    Bytes rows;
    for (size_t i = 0; i < rgb.size(); i += 3) {
        if (samples == 1) {
            rows.push_back(rgb[i]);
        } else {
            rows.insert(rows.end(), {rgb[i + 2], rgb[i + 1], rgb[i]});
        }
    }
    return rows;
}

class JpegStrips : public testing::TestWithParam<JpegFixture> {};

TEST_P(JpegStrips, DecodeAsLibtiffDoes) {
    const JpegFixture& fixture = GetParam();
    const std::string base = test::DataPath(std::string("codecs/jpeg_") + fixture.name);
    const TiffStrips tiff = ReadStrips(base + ".tif");
    ASSERT_GE(tiff.strips.size(), 2u);
    ASSERT_FALSE(tiff.tables.empty());
    TImageProperties properties = PropertiesFor(tiff, fixture);
    const Bytes expected = ExpectedRows(base + "_ref.ppm", fixture.samples);
    ASSERT_EQ(expected.size(), size_t(properties.LineBytes) * properties.ImageHeight);

    TTIFFJPEGDecoder decoder(properties);
    EXPECT_EQ(decoder.TableLength, tiff.tables.size());
    decoder.BeginDecompress();
    Bytes image;
    const uint32_t rowsPerStrip = properties.StripRowCounts[0];
    for (const Bytes& strip : tiff.strips) {
        const uint32_t rows = std::min(rowsPerStrip, properties.ImageHeight - properties.RowCursor);
        Bytes target(size_t(rows) * properties.LineBytes);
        TSourcePos source(strip.data(), strip.size());
        TDestPos dest(target.data(), target.size());
        decoder.Decompress(source, dest, int32_t(strip.size()), int32_t(target.size()));
        EXPECT_EQ(decoder.DataStart, strip.data());
        EXPECT_EQ(decoder.DataLength, strip.size());
        image.insert(image.end(), target.begin(), target.end());
        properties.RowCursor += rows;
    }
    decoder.EndDecompress();
    EXPECT_EQ(decoder.HSampling, fixture.model == ColorModel::YCbCr ? 2 : 1);
    EXPECT_EQ(decoder.ScanlineBytes, properties.LineBytes);
    ASSERT_EQ(image.size(), expected.size());
    size_t differing = 0;
    for (size_t i = 0; i < image.size(); ++i) differing += image[i] != expected[i];
    EXPECT_EQ(differing, 0u) << "of " << image.size() << " bytes";
}

const JpegFixture kFixtures[] = {
    {"ycbcr", ColorModel::YCbCr, 3},
    {"rgb", ColorModel::RGB, 3},
    {"gray", ColorModel::Gray, 1},
};

INSTANTIATE_TEST_SUITE_P(Libtiff, JpegStrips, testing::ValuesIn(kFixtures),
                         [](const auto& info) { return std::string(info.param.name); });

/// The first strip of the YCbCr fixture with its properties, for the error cases.
struct FirstStrip {
    TiffStrips tiff = ReadStrips(test::DataPath("codecs/jpeg_ycbcr.tif"));
    TImageProperties properties = PropertiesFor(tiff, kFixtures[0]);
    Bytes target = Bytes(size_t(16) * properties.LineBytes, 0xEE);

    void Decode(TTIFFJPEGDecoder& decoder, const Bytes& strip, int32_t unpacked) {
        TSourcePos source(strip.data(), strip.size());
        TDestPos dest(target.data(), target.size());
        decoder.Decompress(source, dest, int32_t(strip.size()), unpacked);
    }
};

std::string DecodeError(FirstStrip& first, const Bytes& strip, int32_t unpacked) {
    try {
        TTIFFJPEGDecoder decoder(first.properties);
        decoder.BeginDecompress();
        first.Decode(decoder, strip, unpacked);
        decoder.EndDecompress();
    } catch (const EReaderCodecs& e) {
        return "EReaderCodecs: " + e.Message();
    } catch (const EInvalidGraphic& e) {
        return "EInvalidGraphic: " + e.Message();
    }
    return "no error";
}

TEST(TIFFJPEGDecoder, RefusesStripsThatDoNotMatchTheImage) {
    struct Case {
        const char* name;
        void (*change)(TImageProperties&);
        int32_t unpackedRows;
        std::string expected;
    } cases[] = {
        {"width",
         [](TImageProperties& p) {
             p.ImageWidth += 1;
             p.LineBytes += 3;
         },
         16, "EReaderCodecs: Improper JPEG strip/tile size."},
        {"rows per strip", [](TImageProperties& p) { p.StripRowCounts = {8}; }, 16,
         "EReaderCodecs: Improper JPEG strip/tile size."},
        {"rows left", [](TImageProperties& p) { p.RowCursor = p.ImageHeight - 4; }, 16,
         "EReaderCodecs: Improper JPEG strip/tile size."},
        {"components", [](TImageProperties& p) { p.SampleCount = 4; }, 16,
         "EReaderCodecs: Improper JPEG component count."},
        {"separate planes", [](TImageProperties& p) { p.PlaneLayout = 2; }, 16,
         "EReaderCodecs: Improper JPEG component count."},
        {"precision", [](TImageProperties& p) { p.SampleBits = 16; }, 16,
         "EReaderCodecs: Improper JPEG data precision."},
        {"sampling",
         [](TImageProperties& p) {
             p.ChromaSubsampling = {2, 1};
         },
         16, "EReaderCodecs: Improper JPEG sampling factors."},
        {"no subsampling given", [](TImageProperties& p) { p.ChromaSubsampling.clear(); }, 16,
         "EReaderCodecs: Improper JPEG sampling factors."},
        {"fractional scanline", [](TImageProperties&) {}, -1, "EReaderCodecs: Fractional JPEG scanline unsupported."},
        {"tables with an image", [](TImageProperties& p) {}, 16, "EReaderCodecs: Bogus JPEG tables field."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirstStrip first;
        ASSERT_FALSE(first.tiff.strips.empty());
        c.change(first.properties);
        if (std::string(c.name) == "tables with an image") {
            // A whole JPEG image where the tables belong.
            Bytes image = first.tiff.tables;
            image.pop_back(), image.pop_back();  // its end-of-image marker
            const Bytes& strip = first.tiff.strips[0];
            image.insert(image.end(), strip.begin() + 2, strip.end());
            first.properties.JpegTableBytes = image;
        }
        const int32_t unpacked = c.unpackedRows < 0 ? int32_t(first.target.size()) - 1
                                                    : c.unpackedRows * int32_t(first.properties.LineBytes);
        EXPECT_EQ(DecodeError(first, first.tiff.strips[0], unpacked), c.expected);
    }
}

TEST(TIFFJPEGDecoder, LibraryErrorsBecomeInvalidGraphicWithTheirCode) {
    FirstStrip first;
    const Bytes notJpeg = {0x12, 0x34, 0x56, 0x78, 0x9A};
    EXPECT_EQ(DecodeError(first, notJpeg, 16 * int32_t(first.properties.LineBytes)),
              "EInvalidGraphic: JPEG error #" + std::to_string(JERR_NO_SOI));
    // Tables that are not JPEG at all fail in the library, before the tables check.
    first.properties.JpegTableBytes = {0xFF, 0xD8, 0xFF, 0x01};
    EXPECT_EQ(DecodeError(first, first.tiff.strips[0], 16 * int32_t(first.properties.LineBytes))
                  .rfind("EInvalidGraphic: JPEG error #", 0),
              0u);
}

TEST(TIFFJPEGDecoder, KeepsDecodingAfterAFailedStrip) {
    FirstStrip first;
    const int32_t unpacked = 16 * int32_t(first.properties.LineBytes);
    TTIFFJPEGDecoder decoder(first.properties);
    decoder.BeginDecompress();
    first.Decode(decoder, first.tiff.strips[0], unpacked);
    const Bytes good = first.target;
    std::fill(first.target.begin(), first.target.end(), 0);
    EXPECT_THROW(first.Decode(decoder, Bytes{0, 1, 2}, unpacked), EInvalidGraphic);
    first.Decode(decoder, first.tiff.strips[0], unpacked);
    EXPECT_EQ(first.target, good);
    decoder.EndDecompress();
    decoder.EndDecompress();  // a second end does nothing
}

TEST(TIFFJPEGDecoder, WarnsOnceAndEndsWhenTheDataRunOut) {
    struct TWarning {
        std::string text, caption;
    };
    struct {
        std::vector<TWarning> messages;
    } dialogs;
    ScopedReaderWarningHook hook([&](const std::string& text, const std::string& caption) {
        dialogs.messages.push_back({text, caption});
    });
    FirstStrip first;
    const int32_t unpacked = 16 * int32_t(first.properties.LineBytes);
    TTIFFJPEGDecoder decoder(first.properties);
    decoder.BeginDecompress();
    EXPECT_TRUE(dialogs.messages.empty()) << "the table stream ends without a warning";
    first.Decode(decoder, first.tiff.strips[0], unpacked);
    const Bytes whole = first.target;
    EXPECT_TRUE(dialogs.messages.empty());

    // Without its end-of-image marker the strip still decodes whole, after the warning.
    Bytes cut = first.tiff.strips[0];
    ASSERT_EQ(cut[cut.size() - 2], 0xFF);
    ASSERT_EQ(cut.back(), 0xD9);
    cut.resize(cut.size() - 2);
    std::fill(first.target.begin(), first.target.end(), 0xEE);
    first.Decode(decoder, cut, unpacked);  // no exception: decoding ends normally
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "JPEG decompression error. Unexpected end of input.");
    EXPECT_EQ(dialogs.messages[0].caption, "Warning");
    EXPECT_EQ(first.target, whole);

    // Cut in the middle of the scan: the rows are all written, the lost part as the library
    // fills it, and there is one warning more.
    cut.resize(cut.size() / 2);
    std::fill(first.target.begin(), first.target.end(), 0xEE);
    first.Decode(decoder, cut, unpacked);
    EXPECT_EQ(dialogs.messages.size(), 2u);
    EXPECT_LT(std::count(first.target.begin(), first.target.end(), 0xEE), 16);
    EXPECT_NE(first.target, whole);
    decoder.EndDecompress();
}

TEST(TIFFJPEGDecoder, NeverWritesPastASmallTarget) {
    FirstStrip first;
    const int32_t unpacked = 16 * int32_t(first.properties.LineBytes);
    // The reader asks for the whole strip but the buffer holds only five and a half rows.
    const size_t room = 5 * first.properties.LineBytes + first.properties.LineBytes / 2;
    auto target = std::make_unique<uint8_t[]>(room);
    TTIFFJPEGDecoder decoder(first.properties);
    decoder.BeginDecompress();
    TSourcePos source(first.tiff.strips[0].data(), first.tiff.strips[0].size());
    TDestPos dest(target.get(), room);
    decoder.Decompress(source, dest, int32_t(first.tiff.strips[0].size()), unpacked);
    first.Decode(decoder, first.tiff.strips[0], unpacked);
    EXPECT_TRUE(std::equal(target.get(), target.get() + room, first.target.begin()));
    decoder.EndDecompress();
}

}  // namespace
}  // namespace tilvorn
