// The TIFF and EPS readers against files written by libtiff's tools, ImageMagick, Netpbm
// and Pillow, with ImageMagick or Pillow as the reference decoder, and against hand-made
// files for the cases no tool writes on purpose.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <zlib.h>

#include "core/Exceptions.h"
#include "core/Streams.h"
#include "formats/PeerDecoder.h"
#include "formats/TIFFBuilder.h"
#include "formats/TIFFImage.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

namespace fs = std::filesystem;
using test::BitmapPicture;
using test::PeerPicture;
using test::TIFFBuilder;

const char* const kNotSupported = "Cannot load image. The compression scheme is not supported for TIF/TIFF files.";

template <typename Reader = TTIFFGraphic>
BitmapPicture LoadFile(const std::string& path, Reader& reader) {
    TFileStream stream(path, FileMode::OpenRead);
    reader.ReadImage(stream);
    return test::PictureOf(reader);
}

BitmapPicture LoadBytes(const std::vector<uint8_t>& bytes, TTIFFGraphic& reader) {
    TCustomMemoryStream stream(bytes.data(), int64_t(bytes.size()));
    reader.ReadImage(stream);
    return test::PictureOf(reader);
}

std::vector<int> Greys(const BitmapPicture& picture) {
    std::vector<int> greys;
    for (size_t i = 0; i < picture.Rgba.size(); i += 4) greys.push_back(picture.Rgba[i]);
    return greys;
}

// --- files written by other tools -----------------------------------------------------------

// PillowOnWhite: Pillow's RGBA laid on white, as the picture shows transparency;
// ImageMagickSrgb: ImageMagick turning the samples into sRGB first (it writes CIE L*a*b*
// samples as they are into the files it is asked for).
enum class Reference { ImageMagick, Pillow, PillowOnWhite, ImageMagickSrgb };

struct ToolCase {
    const char* Name;
    const char* Command;  // {in} a 37 × 23 PPM picture, {tif} the same as plain TIFF, {out} the file to write
    int BitCount;
    Reference By;
    int Tolerance;
    bool CompareAlpha;
};

class TIFFFromTools : public testing::TestWithParam<ToolCase> {};

std::string PrepareTool(const ToolCase& c, std::string& out) {
    std::string dir = test::TempDir(std::string("tiff-") + c.Name);
    std::string in = dir + "/in.ppm", tif = dir + "/in.tif";
    out = dir + "/out.tif";
    if (test::Run("/usr/bin/convert -size 37x23 -seed 5 plasma:fractal -depth 8 " + in) != 0 ||
        test::Run("/usr/bin/convert " + in + " -compress none " + tif) != 0)
        return "could not make the picture";
    std::string command = c.Command;
    for (auto [key, value] : {std::pair<std::string, std::string>{"{in}", in}, {"{tif}", tif}, {"{out}", out}})
        for (size_t at; (at = command.find(key)) != std::string::npos;) command.replace(at, key.size(), value);
    return test::Run("(" + command + ") >/dev/null 2>&1") == 0 ? "" : "the tool failed: " + command;
}

bool HaveTools() {
    return test::HaveImageMagick() && test::HavePillow() && test::HaveTool("tiffcp") && test::HaveTool("tiff2bw");
}

PeerPicture OnWhite(PeerPicture picture) {
    for (size_t i = 0; i < picture.Rgba.size(); i += 4) {
        const uint32_t alpha = picture.Rgba[i + 3];
        for (size_t c = 0; c < 3; ++c)
            picture.Rgba[i + c] = uint16_t((picture.Rgba[i + c] * alpha + 65535u * (65535u - alpha) + 32767) / 65535);
        picture.Rgba[i + 3] = 65535;
    }
    return picture;
}

TEST_P(TIFFFromTools, MatchesTheReference) {
    const ToolCase& c = GetParam();
    if (!HaveTools()) GTEST_SKIP() << "ImageMagick, libtiff-tools or Pillow is missing";
    std::string out;
    ASSERT_EQ("", PrepareTool(c, out));
    TFileStream probe(out, FileMode::OpenRead);
    EXPECT_TRUE(TTIFFGraphic::ProbeStream(probe));
    TTIFFGraphic reader;
    BitmapPicture got = LoadFile(out, reader);
    EXPECT_EQ(c.BitCount, reader.BitCount());
    const std::string referenceFile = fs::exists(out + ".ref.tif") ? out + ".ref.tif" : out;
    PeerPicture reference = c.By == Reference::ImageMagick ? test::DecodeWithImageMagick(referenceFile)
        : c.By == Reference::ImageMagickSrgb ? test::DecodeWithImageMagick(referenceFile, "-colorspace sRGB")
                                             : test::DecodeWithPillow(referenceFile);
    ASSERT_TRUE(reference.Valid());
    if (c.By == Reference::PillowOnWhite) reference = OnWhite(reference);
    EXPECT_EQ("", test::ComparePictures(got, reference, c.Tolerance, c.CompareAlpha, [](uint16_t v) {
                  return test::ReduceTo8(v);
              }));
}

// The samples of an 8-bit CIE L*a*b* TIFF (as Pillow gives them: a* and b* as stored, signed
// bytes) written by libtiff's raw2tiff as 16-bit samples: the reference file of OUT.
#define LAB8_AS_16(IN, OUT)                                                     \
    "/usr/bin/python3 -c \"import struct; from PIL import Image; "              \
    "d = Image.open('" IN                                                       \
    "').tobytes(); s = lambda v: ((v ^ 128) - 128) * 256; "                     \
    "open('" OUT                                                                \
    ".raw', 'wb').write(b''.join(struct.pack('<Hhh', d[i] * 257, s(d[i + 1]), " \
    "s(d[i + 2])) for i in range(0, len(d), 3)))\" && "                         \
    "raw2tiff -d short -p cielab -b 3 -w 37 -l 23 " OUT ".raw " OUT ".ref.tif"

// Colour floats 0..1 as ImageMagick writes them (only with compression: it sets the predictor
// tag, which libtiff refuses for plain strips).
#define FLOAT_RGB                                                                                  \
    "/usr/bin/convert {in} -depth 32 -define quantum:format=floating-point -compress zip -define " \
    "tiff:predictor=3 {out}.src.tif"

const auto IM = Reference::ImageMagick;
const auto IMS = Reference::ImageMagickSrgb;
const auto PIL = Reference::Pillow;

INSTANTIATE_TEST_SUITE_P(
    Writers, TIFFFromTools,
    testing::Values(
        ToolCase{"rgb_little_endian", "/usr/bin/convert {in} -endian LSB -compress none {out}", 24, IM, 0, false},
        ToolCase{"rgb_big_endian", "/usr/bin/convert {in} -endian MSB -compress none {out}", 24, IM, 0, false},
        ToolCase{"packbits", "tiffcp -c packbits -r 5 {tif} {out}", 24, IM, 0, false},
        ToolCase{"deflate", "tiffcp -c zip -r 4 {tif} {out}", 24, IM, 0, false},
        ToolCase{"deflate_predictor", "tiffcp -c zip:2 {tif} {out}", 24, IM, 0, false},
        ToolCase{"deflate_old_number",
                 "/usr/bin/python3 -c \"from PIL import Image; Image.open('{in}').save('{out}', "
                 "compression='tiff_deflate')\"",
                 24, PIL, 0, false},
        ToolCase{"jpeg_ycbcr", "tiffcp -c jpeg -r 16 {tif} {out}", 24, IM, 3, false},
        ToolCase{"jpeg_rgb", "tiffcp -c jpeg:r {tif} {out}", 24, IM, 3, false},
        ToolCase{"jpeg_grey", "tiff2bw {tif} {out}.grey.tif && tiffcp -c jpeg {out}.grey.tif {out}", 8, IM, 3, false},
        ToolCase{"planes_separate", "tiffcp -p separate -r 7 {tif} {out}", 24, IM, 0, false},
        ToolCase{"planes_separate_deflate", "tiffcp -p separate -c zip:2 {tif} {out}", 24, IM, 0, false},
        ToolCase{"rgb16_big_endian", "/usr/bin/convert {in} -depth 16 -endian MSB -compress none {out}", 24, IM, 1,
                 false},
        ToolCase{"rgb16_little_endian_predictor",
                 "/usr/bin/convert {in} -depth 16 -endian LSB -compress zip -define tiff:predictor=2 {out}", 24, IM, 1,
                 false},
        ToolCase{"rgba", "/usr/bin/convert {in} -alpha set -channel A -fx 'i/w' -compress none {out}", 32, IM, 0, true},
        ToolCase{"rgba16_deflate",
                 "/usr/bin/convert {in} -alpha set -channel A -fx 'j/h' -depth 16 -compress zip {out}", 32, IM, 1,
                 true},
        ToolCase{"grey", "/usr/bin/convert {in} -colorspace gray -compress none {out}", 8, IM, 0, false},
        ToolCase{"grey_tiff2bw", "tiff2bw {tif} {out}", 8, IM, 0, false},
        ToolCase{"grey16_big_endian", "/usr/bin/convert {in} -colorspace gray -depth 16 -endian MSB {out}", 8, IM, 1,
                 false},
        ToolCase{"grey4", "/usr/bin/convert {in} -colorspace gray -depth 4 -compress none {out}", 4, IM, 0, false},
        ToolCase{"grey2", "/usr/bin/convert {in} -colorspace gray -depth 2 -compress none {out}", 4, IM, 0, false},
        // Grey and indices with alpha become 32-bit pixels that keep their alpha.
        ToolCase{"grey_alpha",
                 "/usr/bin/convert {in} -colorspace gray -alpha set -channel A -fx 'i/w' -compress none {out}", 32, IM,
                 0, true},
        ToolCase{"grey_alpha16_big_endian_lzw",
                 "/usr/bin/convert {in} -colorspace gray -alpha set -channel A -fx 'j/h' -depth 16 -endian MSB "
                 "-compress lzw {out}",
                 32, IM, 1, true},
        // ImageMagick misreads grey and alpha in separate planes: the reference is the
        // interleaved file they were copied from.
        ToolCase{"grey_alpha_planes_separate",
                 "/usr/bin/convert {in} -colorspace gray -alpha set -channel A -fx 'i/w' -compress none {out}.ref.tif "
                 "&& tiffcp -p separate {out}.ref.tif {out}",
                 32, IM, 0, true},
        ToolCase{"palette_alpha",
                 "/usr/bin/convert {in} -alpha set -channel A -fx 'i/w' -colors 60 -type PaletteAlpha -compress none "
                 "{out}",
                 32, IM, 0, true},
        ToolCase{"palette_alpha4",
                 "/usr/bin/convert {in} -alpha set -channel A -fx 'j/h' -colors 12 -type PaletteAlpha -compress lzw "
                 "{out}",
                 32, IM, 0, true},
        ToolCase{"bilevel", "/usr/bin/convert {in} -monochrome -depth 1 -compress none {out}", 1, IM, 0, false},
        ToolCase{"bilevel_white_is_zero",
                 "ppmtopgm {in} | pamthreshold | pamtopnm > {out}.pbm && pnmtotiff -miniswhite {out}.pbm > {out}", 1,
                 IM, 0, false},
        ToolCase{"fax_modified_huffman",
                 "/usr/bin/python3 -c \"from PIL import Image; Image.open('{in}').convert('1').save('{out}', "
                 "compression='tiff_ccitt')\"",
                 1, PIL, 0, false},
        // libtiff writes word-aligned rows it cannot read back itself: the reference is the
        // same picture stored plainly.
        ToolCase{"fax_modified_huffman_words",
                 "/usr/bin/python3 -c \"from PIL import Image; im = Image.open('{in}').convert('1'); im.save('{out}', "
                 "compression='tiff_raw_16'); im.save('{out}.ref.tif')\"",
                 1, PIL, 0, false},
        ToolCase{"fax_group3",
                 "/usr/bin/python3 -c \"from PIL import Image; Image.open('{in}').convert('1').save('{out}', "
                 "compression='group3')\"",
                 1, PIL, 0, false},
        ToolCase{"fax_group3_tiffcp",
                 "/usr/bin/convert {in} -monochrome pbm:- | pnmtotiff > {out}.tmp && tiffcp -c g3:1d {out}.tmp {out}",
                 1, IM, 0, false},
        ToolCase{"fax_group3_reversed_bits",
                 "/usr/bin/convert {in} -monochrome pbm:- | pnmtotiff > {out}.tmp && tiffcp -c g3:1d -f lsb2msb "
                 "{out}.tmp {out}",
                 1, IM, 0, false},
        ToolCase{"palette8", "/usr/bin/convert {in} -colors 200 -type palette -compress none {out}", 8, IM, 0, false},
        ToolCase{"palette4", "/usr/bin/convert {in} -colors 16 -type palette -compress none {out}", 4, IM, 0, false},
        ToolCase{"palette8_big_endian",
                 "/usr/bin/convert {in} -colors 90 -type palette -endian MSB -compress none {out}", 8, IM, 0, false},
        ToolCase{"cmyk", "/usr/bin/convert {in} -colorspace CMYK -compress none {out}", 24, IM, 2, false},
        // Compared with the picture before it went to YCbCr: 8-bit luma and chroma lose a little.
        ToolCase{"ycbcr_pillow",
                 "/usr/bin/python3 -c \"from PIL import Image; Image.open('{in}').convert('YCbCr').save('{out}')\" && "
                 "cp {tif} {out}.ref.tif",
                 24, IM, 4, false},
        ToolCase{"netpbm", "pnmtotiff -packbits {in} > {out}", 24, IM, 0, false},
        ToolCase{"lzw", "tiffcp -c lzw {tif} {out}", 24, IM, 0, false},
        ToolCase{"lzw_predictor", "tiffcp -c lzw:2 -r 6 {tif} {out}", 24, IM, 0, false},
        ToolCase{"lzw_big_endian", "tiffcp -B -c lzw:2 {tif} {out}", 24, IM, 0, false},
        ToolCase{
            "lzw_pillow",
            "/usr/bin/python3 -c \"from PIL import Image; Image.open('{in}').save('{out}', compression='tiff_lzw')\"",
            24, PIL, 0, false},
        ToolCase{"lzw_grey", "tiff2bw {tif} {out}.grey.tif && tiffcp -c lzw:2 {out}.grey.tif {out}", 8, IM, 0, false},
        ToolCase{"lzw_palette", "/usr/bin/convert {in} -colors 60 -type palette -compress lzw {out}", 8, IM, 0, false},
        ToolCase{"lzw16_big_endian_predictor",
                 "/usr/bin/convert {in} -depth 16 -endian MSB -compress lzw -define tiff:predictor=2 {out}", 24, IM, 1,
                 false},
        ToolCase{"lzw16_little_endian_predictor",
                 "/usr/bin/convert {in} -depth 16 -endian LSB -compress lzw -define tiff:predictor=2 {out}", 24, IM, 1,
                 false},
        ToolCase{"lzw_planes_separate", "tiffcp -p separate -c lzw:2 {tif} {out}", 24, IM, 0, false},
        ToolCase{"fax_group4",
                 "/usr/bin/convert {in} -monochrome pbm:- | pnmtotiff > {out}.tmp && tiffcp -c g4 {out}.tmp {out}", 1,
                 IM, 0, false},
        ToolCase{"fax_group4_strips_reversed_bits",
                 "/usr/bin/convert {in} -monochrome pbm:- | pnmtotiff > {out}.tmp && tiffcp -c g4 -r 4 -f lsb2msb "
                 "{out}.tmp {out}",
                 1, IM, 0, false},
        ToolCase{"fax_group4_pillow",
                 "/usr/bin/python3 -c \"from PIL import Image; Image.open('{in}').convert('1').save('{out}', "
                 "compression='group4')\"",
                 1, PIL, 0, false},
        ToolCase{"fax_group3_2d",
                 "/usr/bin/convert {in} -monochrome pbm:- | pnmtotiff > {out}.tmp && tiffcp -c g3:2d {out}.tmp {out}",
                 1, IM, 0, false},
        ToolCase{"fax_group3_2d_fill_strips",
                 "/usr/bin/convert {in} -monochrome pbm:- | pnmtotiff > {out}.tmp && tiffcp -c g3:2d:fill -r 3 "
                 "{out}.tmp {out}",
                 1, IM, 0, false},
        ToolCase{"fax_group3_2d_netpbm", "/usr/bin/convert {in} -monochrome pbm:- | pnmtotiff -g3 -2d > {out}", 1, IM,
                 0, false},
        ToolCase{"fill_order_2_plain", "tiffcp -f lsb2msb {tif} {out}", 24, IM, 0, false},
        ToolCase{"fill_order_2_packbits", "tiffcp -f lsb2msb -c packbits {tif} {out}", 24, IM, 0, false},
        ToolCase{"fill_order_2_lzw", "tiffcp -f lsb2msb -c lzw:2 {tif} {out}", 24, IM, 0, false},
        ToolCase{"fill_order_2_bilevel",
                 "/usr/bin/convert {in} -monochrome pbm:- | pnmtotiff > {out}.tmp && tiffcp -f lsb2msb -c packbits "
                 "{out}.tmp {out}",
                 1, IM, 0, false},
        ToolCase{"tiles", "tiffcp -t -w 16 -l 16 {tif} {out}", 24, IM, 0, false},
        ToolCase{"tiles_lzw_predictor", "tiffcp -t -w 32 -l 16 -c lzw:2 {tif} {out}", 24, IM, 0, false},
        ToolCase{"tiles_deflate", "tiffcp -t -w 16 -l 48 -c zip:2 {tif} {out}", 24, IM, 0, false},
        ToolCase{"tiles_packbits_big_endian", "tiffcp -B -t -w 16 -l 16 -c packbits {tif} {out}", 24, IM, 0, false},
        ToolCase{"tiles_planes_separate", "tiffcp -p separate -t -w 16 -l 16 -c lzw {tif} {out}", 24, IM, 0, false},
        ToolCase{"tiles_group4",
                 "/usr/bin/convert {in} -monochrome pbm:- | pnmtotiff > {out}.tmp && tiffcp -t -w 16 -l 16 -c g4 "
                 "{out}.tmp {out}",
                 1, IM, 0, false},
        ToolCase{"tiles_rgb16",
                 "/usr/bin/convert {in} -depth 16 -compress none {out}.tmp.tif && tiffcp -t -w 16 -l 16 -c lzw:2 "
                 "{out}.tmp.tif {out}",
                 24, IM, 1, false},
        ToolCase{"integer32", "/usr/bin/convert {in} -depth 32 -compress none {out}", 24, IM, 1, false},
        ToolCase{"integer32_big_endian_lzw",
                 "/usr/bin/convert {in} -depth 32 -endian MSB -compress lzw -define tiff:predictor=2 {out}", 24, IM, 1,
                 false},
        // Floats 0..1 written by Pillow; the reference is the same grey picture in 8 bits.
        ToolCase{"float32",
                 "/usr/bin/python3 -c \"from PIL import Image; g = Image.open('{in}').convert('L'); "
                 "g.save('{out}.ref.tif'); g.convert('F').point(lambda v: v / 255.0).save('{out}')\"",
                 8, IM, 1, false},
        // Colour floats name their format once per sample; the floating-point predictor keeps
        // the bytes of each sample most significant first in either byte order of the file.
        ToolCase{"float32_rgb", FLOAT_RGB " && tiffcp -c none {out}.src.tif {out}", 24, IM, 1, false},
        ToolCase{"float32_rgb_predictor_deflate", FLOAT_RGB " && cp {out}.src.tif {out}", 24, IM, 1, false},
        ToolCase{"float32_big_endian_predictor_lzw", FLOAT_RGB " && tiffcp -B -c lzw:3 {out}.src.tif {out}", 24, IM, 1,
                 false},
        ToolCase{"float32_big_endian_predictor_deflate_strips",
                 FLOAT_RGB " && tiffcp -B -c zip:3 -r 5 {out}.src.tif {out}", 24, IM, 1, false},
        ToolCase{"float32_big_endian_plain", FLOAT_RGB " && tiffcp -B -c none {out}.src.tif {out}", 24, IM, 1, false},
        ToolCase{"cmyk16_big_endian",
                 "/usr/bin/convert {in} -colorspace CMYK -depth 16 -endian MSB -compress none {out}", 24, IM, 2, false},
        ToolCase{"cmyk16_little_endian",
                 "/usr/bin/convert {in} -colorspace CMYK -depth 16 -endian LSB -compress none {out}", 24, IM, 2, false},
        ToolCase{
            "rgba_associated",
            "/usr/bin/convert {in} -alpha set -channel A -fx 'i/w' -define tiff:alpha=associated -compress none {out}",
            32, Reference::PillowOnWhite, 1, false},
        // CIE L*a*b* of the D65 white shown as sRGB, as ImageMagick shows it. ImageMagick reads
        // a negative 8-bit a* or b* one too high (the byte less 255, not 256: up to 29 levels
        // off where a channel is near black), so the 8-bit files are compared with ImageMagick
        // reading their samples widened to 16 bits; there it takes a* and b* as the sample
        // over 257, not 256, which moves channels near black by 2 levels (3 once the samples
        // were 8 bits).
        ToolCase{"cielab16", "/usr/bin/convert {in} -colorspace Lab -depth 16 -compress none {out}", 24, IMS, 2, false},
        ToolCase{"cielab16_big_endian_lzw",
                 "/usr/bin/convert {in} -colorspace Lab -depth 16 -endian MSB -compress lzw {out}", 24, IMS, 2, false},
        ToolCase{"cielab16_alpha",
                 "/usr/bin/convert {in} -alpha set -channel A -fx 'i/w' -colorspace Lab -depth 16 -compress none {out}",
                 24, IMS, 2, false},
        ToolCase{"cielab8",
                 "/usr/bin/convert {in} -colorspace Lab -compress none {out} && " LAB8_AS_16("{out}", "{out}"), 24, IMS,
                 3, false},
        ToolCase{"cielab8_tiffcp_lzw",
                 "/usr/bin/convert {in} -colorspace Lab -compress none {out}.tmp.tif && tiffcp -c lzw:2 {out}.tmp.tif "
                 "{out} && " LAB8_AS_16("{out}.tmp.tif", "{out}"),
                 24, IMS, 3, false},
        ToolCase{"multi_page_first",
                 "/usr/bin/convert {in} \\( {in} -negate \\) \\( {in} -flip \\) -compress none {out}", 24, IM, 0,
                 false}),
    [](const testing::TestParamInfo<ToolCase>& info) { return std::string(info.param.Name); });

TEST(TIFFImage, UnsupportedCompressionsNameTheScheme) {
    // Old-style JPEG (6) and a number no writer uses are refused by name.
    for (uint32_t compression : {6u, 9u, 34712u}) {
        TIFFBuilder b;
        b.Short(256, 2).Short(257, 1).Short(258, 8).Short(259, compression).Short(262, 1).Long(279, 2);
        b.Strip({1, 2});
        TTIFFGraphic reader;
        try {
            LoadBytes(b.Build(), reader);
            ADD_FAILURE() << "loaded compression " << compression;
        } catch (const Exception& e) {
            EXPECT_EQ(kNotSupported, e.Message()) << compression;
        }
    }
}

TEST(TIFFImage, MultiPageFileReadsItsFirstPageAndCountsDirectories) {
    if (!HaveTools()) GTEST_SKIP() << "ImageMagick, libtiff-tools or Pillow is missing";
    std::string out;
    ASSERT_EQ(
        "",
        PrepareTool(
            ToolCase{"pages",
                     "/usr/bin/convert {in} \\( {in} -resize 20x10! \\) \\( {in} -resize 9x7! \\) -compress none {out}",
                     0, IM, 0, false},
            out));
    TTIFFGraphic reader;
    TFileStream stream(out, FileMode::OpenRead);
    reader.StartPosition = 0;
    struct Case {
        uint32_t Index;
        bool Found;
        uint32_t Width, Height;
    } cases[] = {{0, true, 37, 23}, {1, true, 20, 10}, {2, true, 9, 7}, {3, false, 0, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.Found, reader.ReadImageInfo(stream, c.Index)) << c.Index;
        if (c.Found) {
            EXPECT_EQ(c.Width, reader.Properties.ImageWidth);
            EXPECT_EQ(c.Height, reader.Properties.ImageHeight);
        }
    }
    stream.SetPosition(0);
    reader.ReadImage(stream);
    EXPECT_EQ(37, reader.Width());
}

TEST(TIFFImage, TilesOfEverySizeMatchTheStrippedPicture) {
    if (!HaveTools()) GTEST_SKIP() << "ImageMagick, libtiff-tools or Pillow is missing";
    std::string plain;
    ASSERT_EQ("", PrepareTool(ToolCase{"tile_base", "cp {tif} {out}", 0, IM, 0, false}, plain));
    TTIFFGraphic stripped;
    const BitmapPicture expected = LoadFile(plain, stripped);
    for (const char* size : {"-w 16 -l 16", "-w 48 -l 32", "-w 16 -l 8", "-w 256 -l 256"}) {
        SCOPED_TRACE(size);
        const std::string out = plain + ".tiles.tif";
        ASSERT_EQ(0, test::Run(std::string("tiffcp -t ") + size + " -c zip " + plain + " " + out));
        TTIFFGraphic reader;
        EXPECT_EQ(expected.Rgba, LoadFile(out, reader).Rgba);
        EXPECT_TRUE(reader.Properties.Flags.Contains(ImageFlag::Tiled));
    }
}

// The TIFF section of an EPS file cut out and read on its own gives the same picture.
void ExpectEpsShowsItsPreview(const std::string& eps, const std::string& scratch) {
    std::vector<unsigned char> bytes = test::ReadFileBytes(eps);
    ASSERT_GT(bytes.size(), 30u);
    const uint32_t offset = bytes[20] | bytes[21] << 8 | bytes[22] << 16 | uint32_t(bytes[23]) << 24;
    const uint32_t length = bytes[24] | bytes[25] << 8 | bytes[26] << 16 | uint32_t(bytes[27]) << 24;
    ASSERT_LE(uint64_t(offset) + length, bytes.size());
    test::WriteFileBytes(scratch, std::vector<unsigned char>(bytes.begin() + offset, bytes.begin() + offset + length));
    TFileStream probe(eps, FileMode::OpenRead);
    EXPECT_TRUE(TEPSGraphic::ProbeStream(probe));
    EXPECT_FALSE(TTIFFGraphic::ProbeStream(probe));
    TEPSGraphic reader;
    BitmapPicture fromEps = LoadFile(eps, reader);
    TTIFFGraphic tiff;
    EXPECT_EQ(LoadFile(scratch, tiff).Rgba, fromEps.Rgba);
    PeerPicture reference = test::DecodeWithImageMagick(scratch);
    ASSERT_TRUE(reference.Valid());
    EXPECT_EQ("", test::ComparePictures(fromEps, reference, 0, false, [](uint16_t v) { return test::ReduceTo8(v); }));
}

TEST(TIFFImage, EpsFilesShowTheirTiffPreview) {
    if (test::CorpusPath("pillow").empty()) GTEST_SKIP() << "the picture corpus is not there";
    if (!test::HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
    std::string dir = test::TempDir("eps-corpus");
    for (const char* name : {"1.eps", "binary_preview_map.eps", "illu10_preview.eps", "illuCS6_preview.eps"}) {
        SCOPED_TRACE(name);
        ExpectEpsShowsItsPreview(test::CorpusPath(std::string("pillow/Tests/images/eps/") + name),
                                 dir + "/" + name + ".tif");
    }
}

TEST(TIFFImage, EpsWithPreviewFarIntoTheFile) {
    if (!HaveTools()) GTEST_SKIP() << "ImageMagick, libtiff-tools or Pillow is missing";
    std::string out;
    ASSERT_EQ("", PrepareTool(ToolCase{"eps5000", "tiffcp -c packbits {tif} {out}", 0, IM, 0, false}, out));
    std::vector<unsigned char> tiff = test::ReadFileBytes(out);
    // Binary header, then PostScript text, then the TIFF section at offset 5000.
    std::vector<unsigned char> eps = {0xC5, 0xD0, 0xD3, 0xC6, 30, 0, 0, 0, 20,   0,    0, 0,
                                      0,    0,    0,    0,    0,  0, 0, 0, 0x88, 0x13, 0, 0};
    for (int shift : {0, 8, 16, 24}) eps.push_back(uint8_t(tiff.size() >> shift));
    eps.push_back(0xFF);
    eps.push_back(0xFF);
    std::string text = "%!PS-Adobe-3.0 EPSF-3.0\n";
    eps.insert(eps.end(), text.begin(), text.end());
    eps.resize(5000, ' ');
    eps.insert(eps.end(), tiff.begin(), tiff.end());
    std::string file = out + ".eps";
    test::WriteFileBytes(file, eps);
    ExpectEpsShowsItsPreview(file, out + ".cut.tif");
}

TEST(TIFFImage, EpsProbeNeedsTheBinaryHeaderAndAPreview) {
    struct Case {
        const char* What;
        std::vector<uint8_t> Bytes;
        bool Accepted;
    } cases[] = {
        {"preview right after the header",
         {0xC5, 0xD0, 0xD3, 0xC6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 30, 0, 0, 0, 10, 0, 0, 0, 0, 0},
         true},
        {"binary header with preview at 40",
         {0xC5, 0xD0, 0xD3, 0xC6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 10, 0, 0, 0, 0, 0},
         true},
        {"no preview",
         {0xC5, 0xD0, 0xD3, 0xC6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         false},
        {"plain PostScript",
         {'%', '!', 'P', 'S', '-', 'A', 'd', 'o', 'b',  'e', '-', '3', '.', '0', ' ',
          'E', 'P', 'S', 'F', '-', '3', '.', '0', '\n', 0,   0,   0,   0,   0,   0},
         false},
    };
    for (Case& c : cases) {
        c.Bytes.resize(64, 0);
        TCustomMemoryStream stream(c.Bytes.data(), int64_t(c.Bytes.size()));
        EXPECT_EQ(c.Accepted, TEPSGraphic::ProbeStream(stream)) << c.What;
        EXPECT_EQ(0, stream.Position());
    }
}

// --- the public corpus ------------------------------------------------------------------------

std::vector<std::string> CorpusTiffFiles() {
    std::vector<std::string> files;
    for (const char* folder : {"libtiff-pics", "libtiff-pics/depth", "tiff-images", "pillow/Tests/images",
                               "pillow/Tests/images/tiff_gray_2_4_bpp"}) {
        std::string dir = test::CorpusPath(folder);
        if (dir.empty() || !fs::is_directory(dir)) continue;
        for (const auto& entry : fs::directory_iterator(dir)) {
            std::string ext = entry.path().extension().string();
            if (entry.is_regular_file() && (ext == ".tif" || ext == ".tiff")) files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(TIFFImage, EveryCorpusFileLoadsOrFailsCleanly) {
    std::vector<std::string> files = CorpusTiffFiles();
    if (files.empty()) GTEST_SKIP() << "the picture corpus is not there";
    int loaded = 0;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        TTIFFGraphic reader;
        try {
            LoadFile(file, reader);
            ++loaded;
        } catch (const Exception& e) {
            EXPECT_FALSE(e.Message().empty());
        }
    }
    EXPECT_GE(loaded, int(files.size()) / 2);
}

TEST(TIFFImage, CorpusFilesMatchTheReference) {
    struct Case {
        const char* File;
        Reference By;
        int Tolerance;
    } cases[] = {
        {"libtiff-pics/g3test.tif", PIL, 0},  // Group 3, one-dimensional
        {"libtiff-pics/jello.tif", IM, 0},  // PackBits palette
        {"libtiff-pics/pc260001.tif", IM, 0},
        {"tiff-images/palette-1c-1b.tiff", IM, 0},
        {"tiff-images/palette-1c-4b.tiff", IM, 0},
        {"tiff-images/palette-1c-8b.tiff", IM, 0},
        {"tiff-images/minisblack-1c-8b.tiff", IM, 0},
        {"tiff-images/minisblack-1c-16b.tiff", IM, 1},
        {"tiff-images/miniswhite-1c-1b.tiff", IM, 0},
        {"tiff-images/rgb-3c-8b.tiff", IM, 0},
        {"tiff-images/rgb-3c-16b.tiff", IM, 1},
        {"tiff-images/cmyk-3c-8b.tiff", IM, 2},
        {"tiff-images/cmyk-3c-16b.tiff", IM, 2},
        {"tiff-images/no_rows_per_strip.tiff", IM, 0},
        {"tiff-images/issue_69_packbits.tiff", IM, 0},
        {"pillow/Tests/images/hopper.tif", IM, 0},
        {"pillow/Tests/images/16bit.MM.deflate.tif", IM, 1},
        {"pillow/Tests/images/16bit.deflate.tif", IM, 1},
        {"pillow/Tests/images/tiff_adobe_deflate.tif", IM, 0},
        {"pillow/Tests/images/tiff_strip_raw.tif", IM, 0},
        {"pillow/Tests/images/tiff_strip_planar_raw.tif", IM, 0},
        {"pillow/Tests/images/separate_planar_extra_samples.tiff", IM, 0},
        {"pillow/Tests/images/tiff_strip_ycbcr_jpeg_2x2_sampling.tif", IM, 3},
        {"pillow/Tests/images/tiff_strip_ycbcr_jpeg_1x1_sampling.tif", IM, 3},
        {"pillow/Tests/images/tiff_gray_2_4_bpp/hopper2.tif", IM, 0},
        {"pillow/Tests/images/tiff_gray_2_4_bpp/hopper4.tif", IM, 0},
    };
    if (CorpusTiffFiles().empty()) GTEST_SKIP() << "the picture corpus is not there";
    if (!test::HaveImageMagick() || !test::HavePillow()) GTEST_SKIP() << "ImageMagick or Pillow is missing";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.File);
        std::string path = test::CorpusPath(c.File);
        if (!fs::exists(path)) {
            ADD_FAILURE() << "missing from the corpus";
            continue;
        }
        TTIFFGraphic reader;
        BitmapPicture got;
        try {
            got = LoadFile(path, reader);
        } catch (const Exception& e) {
            ADD_FAILURE() << e.Message();
            continue;
        }
        PeerPicture reference = c.By == IM ? test::DecodeWithImageMagick(path) : test::DecodeWithPillow(path);
        if (!reference.Valid()) {
            ADD_FAILURE() << "the reference decoder could not read it";
            continue;
        }
        EXPECT_EQ("", test::ComparePictures(got, reference, c.Tolerance, reader.BitCount() == 32, [](uint16_t v) {
                      return test::ReduceTo8(v);
                  }));
    }
}

// ThunderScan: libtiff leaves out runs that reach the end of their row (those pixels stay 0),
// loses its way in the last strip (rows left 0), and shows this white-is-zero picture
// unreversed; all but those few pixels must agree.
TEST(TIFFImage, ThunderScanFileFromLibtiffPictures) {
    std::string path = test::CorpusPath("libtiff-pics/text.tif");
    if (path.empty()) GTEST_SKIP() << "the picture corpus is not there";
    if (!test::HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
    TTIFFGraphic reader;
    BitmapPicture got = LoadFile(path, reader);
    EXPECT_EQ(4, reader.BitCount());
    PeerPicture reference = test::DecodeWithImageMagick(path);
    ASSERT_TRUE(reference.Valid());
    ASSERT_EQ(got.Width, reference.Width);
    ASSERT_EQ(got.Height, reference.Height);
    size_t agree = 0;
    int rowsCompared = 0;
    for (int y = 0; y < got.Height; ++y) {
        bool unfilled = true;
        for (int x = 0; x < got.Width; ++x) unfilled = unfilled && reference.Pixel(x, y)[0] == 0;
        if (unfilled) continue;
        ++rowsCompared;
        for (int x = 0; x < got.Width; ++x) {
            if (got.Pixel(x, y)[0] == 255 - test::ReduceTo8(reference.Pixel(x, y)[0])) ++agree;
        }
    }
    EXPECT_GE(rowsCompared, 300);
    EXPECT_GT(agree, size_t(got.Width) * rowsCompared * 995 / 1000);
}

// --- hand-made files ---------------------------------------------------------------------------

// A 3 × 2 grey picture, one byte per pixel, in the given byte order and tag order.
TIFFBuilder GreyPicture(bool big, const std::vector<uint8_t>& pixels = {10, 20, 30, 40, 50, 60}) {
    TIFFBuilder b(big);
    b.Short(256, 3).Short(257, 2).Short(258, 8).Short(262, 1).Short(277, 1).Long(279, uint32_t(pixels.size()));
    b.Strip(pixels);
    return b;
}

TEST(TIFFImage, ByteOrderAndTagOrderDoNotChangeThePicture) {
    const std::vector<int> expected = {10, 20, 30, 40, 50, 60};
    for (bool big : {false, true}) {
        TTIFFGraphic sorted, unsorted;
        auto keep = GreyPicture(big).Short(259, 1);
        TIFFBuilder shuffled(big);
        shuffled.KeepOrder().Long(279, 6).Short(277, 1).Short(262, 1).Short(259, 1).Short(258, 8).Short(257, 2).Short(
            256, 3);
        shuffled.Strip({10, 20, 30, 40, 50, 60});
        EXPECT_EQ(expected, Greys(LoadBytes(keep.Build(), sorted))) << big;
        EXPECT_EQ(expected, Greys(LoadBytes(shuffled.Build(), unsorted))) << big;
    }
}

TEST(TIFFImage, DamagedDeflateStripsGiveWhatZlibDecodes) {
    // 16 × 8 grey pixels in one deflate strip, damaged three ways; the rows are what zlib
    // itself makes of each stream, and the rest of the picture stays black.
    std::vector<uint8_t> pixels(16 * 12);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7 + i / 16);
    auto deflated = [](const std::vector<uint8_t>& bytes) {
        uLongf size = compressBound(uLong(bytes.size()));
        std::vector<uint8_t> out(size);
        compress2(out.data(), &size, bytes.data(), uLong(bytes.size()), 9);
        out.resize(size);
        return out;
    };
    auto zlibRows = [](const std::vector<uint8_t>& stream) {
        std::vector<uint8_t> rows(16 * 8, 0);
        z_stream z{};
        inflateInit(&z);
        z.next_in = const_cast<Bytef*>(stream.data());
        z.avail_in = uInt(stream.size());
        z.next_out = rows.data();
        z.avail_out = uInt(rows.size());
        inflate(&z, Z_PARTIAL_FLUSH);
        inflateEnd(&z);
        return std::vector<int>(rows.begin(), rows.end());
    };
    const std::vector<uint8_t> picture(pixels.begin(), pixels.begin() + 16 * 8);
    std::vector<uint8_t> cut = deflated(picture);
    cut.resize(cut.size() / 2);
    std::vector<uint8_t> badCheck = deflated(picture);
    badCheck.back() ^= 0x5A;  // the Adler-32 sum no longer fits
    struct Case {
        const char* What;
        std::vector<uint8_t> Strip;
    };
    const Case cases[] = {
        {"cut in half", cut},
        {"wrong check sum", badCheck},
        {"more rows than the strip has", deflated(pixels)},
    };
    for (const Case& c : cases) {
        TIFFBuilder b;
        b.Short(256, 16).Short(257, 8).Short(258, 8).Short(259, 8).Short(262, 1).Short(277, 1).Short(278, 8);
        b.Long(279, uint32_t(c.Strip.size())).Strip(c.Strip);
        TTIFFGraphic reader;
        const std::vector<int> expected = zlibRows(c.Strip);
        EXPECT_EQ(Greys(LoadBytes(b.Build(), reader)), expected) << c.What;
        if (c.Strip.size() != cut.size()) {  // the whole picture is there
            EXPECT_EQ(expected, std::vector<int>(picture.begin(), picture.end())) << c.What;
        }
    }
}

TEST(TIFFImage, MissingCompressionTagMeansNoCompression) {
    TTIFFGraphic reader;
    EXPECT_EQ((std::vector<int>{10, 20, 30, 40, 50, 60}), Greys(LoadBytes(GreyPicture(false).Build(), reader)));
    EXPECT_EQ(CompressionKind::None, reader.Properties.Coding);
}

TEST(TIFFImage, RowsPerStripVariants) {
    struct Case {
        const char* What;
        std::vector<uint32_t> RowsPerStrip;
        std::vector<std::vector<uint8_t>> Strips;
    } cases[] = {
        {"missing", {}, {{10, 20, 30, 40, 50, 60}}},
        {"all ones", {0xFFFFFFFF}, {{10, 20, 30, 40, 50, 60}}},
        {"one row each", {1}, {{10, 20, 30}, {40, 50, 60}}},
        // The last strip holds more rows than the picture has: only the first is used.
        {"three rows a strip", {3}, {{10, 20, 30, 40, 50, 60, 99, 99, 99}}},
    };
    for (const Case& c : cases) {
        TIFFBuilder b;
        b.Short(256, 3).Short(257, 2).Short(258, 8).Short(259, 1).Short(262, 1);
        if (!c.RowsPerStrip.empty()) b.Integers(278, 4, c.RowsPerStrip);
        std::vector<uint32_t> counts;
        for (const auto& s : c.Strips) {
            b.Strip(s);
            counts.push_back(uint32_t(s.size()));
        }
        b.Integers(279, 4, counts);
        TTIFFGraphic reader;
        EXPECT_EQ((std::vector<int>{10, 20, 30, 40, 50, 60}), Greys(LoadBytes(b.Build(), reader))) << c.What;
    }
}

TEST(TIFFImage, StripByteCountsShorterThanStripOffsets) {
    // PackBits, two strips of one row; only the first strip has a byte count. The second is
    // read from what the file holds.
    TIFFBuilder b;
    b.Short(256, 3).Short(257, 2).Short(258, 8).Short(259, 32773).Short(262, 1).Short(278, 1);
    b.Integers(279, 4, {4});
    b.Strip({0x02, 10, 20, 30}).Strip({0xFE, 77});
    TTIFFGraphic reader;
    EXPECT_EQ((std::vector<int>{10, 20, 30, 77, 77, 77}), Greys(LoadBytes(b.Build(), reader)));
}

TEST(TIFFImage, StripCutShortByTheEndOfTheFile) {
    // Two rows announced, the file ends after the first row and one byte.
    TIFFBuilder b;
    b.Short(256, 3).Short(257, 3).Short(258, 8).Short(259, 1).Short(262, 1).Long(279, 9);
    b.Strip({10, 20, 30, 40});
    TTIFFGraphic reader;
    BitmapPicture got = LoadBytes(b.Build(), reader);
    std::vector<int> greys = Greys(got);
    EXPECT_EQ((std::vector<int>{10, 20, 30}), std::vector<int>(greys.begin(), greys.begin() + 3));
    EXPECT_EQ(40, greys[3]);  // the row the file begins is shown as far as it goes
}

TEST(TIFFImage, ColorMapOfMoreThan768ValuesUsesTheFirst256OfEachPlane) {
    // An 8-bit palette picture whose map claims 3 × 300 entries; index 1 must be the second
    // entry of each plane.
    std::vector<uint32_t> map(900, 0);
    map[1] = 0xFFFF;  // red of entry 1
    map[300 + 1] = 0x8080;  // green of entry 1
    map[600 + 1] = 0x0000;  // blue of entry 1
    map[600 + 299] = 0x1234;
    TIFFBuilder b;
    b.Short(256, 2).Short(257, 1).Short(258, 8).Short(259, 1).Short(262, 3).Long(279, 2);
    b.Integers(320, 3, map);
    b.Strip({1, 0});
    TTIFFGraphic reader;
    BitmapPicture got = LoadBytes(b.Build(), reader);
    EXPECT_EQ((std::vector<uint8_t>{255, 128, 0, 255, 0, 0, 0, 255}), got.Rgba);
}

TEST(TIFFImage, ThunderScanRowsOfOddWidthStartAfresh) {
    // Width 5, two rows, 4-bit grey. Row 0: raw 3, run of 2, raw 7, 3-bit delta +1.
    // Row 1 starts from 0: run of 2, raw 9, 2-bit deltas +1, -1 and a skip.
    TIFFBuilder b;
    b.Short(256, 5).Short(257, 2).Short(258, 4).Short(259, 32809).Short(262, 1).Long(279, 8);
    b.Strip({0xC3, 0x02, 0xC7, 0x8C, 0x02, 0xC9, 0x5E, 0x00});
    TTIFFGraphic reader;
    EXPECT_EQ((std::vector<int>{51, 51, 51, 119, 136, 0, 0, 153, 170, 153}), Greys(LoadBytes(b.Build(), reader)));
}

TEST(TIFFImage, PredictorOnGreyWithAlphaWorksTwoBytesBack) {
    // PackBits literal of 6 bytes: (10, 200) then differences (+5, +1) twice.
    TIFFBuilder b;
    b.Short(256, 3).Short(257, 1).Integers(258, 3, {8, 8}).Short(259, 32773).Short(262, 1).Short(277, 2);
    b.Short(317, 2).Short(338, 2).Long(279, 7);
    b.Strip({0x05, 10, 200, 5, 1, 5, 1});
    TTIFFGraphic reader;
    EXPECT_EQ((std::vector<int>{10, 15, 20}), Greys(LoadBytes(b.Build(), reader)));
}

TEST(TIFFImage, WhiteIsZeroBilevelIsBlackWhereTheSampleIsOne) {
    TIFFBuilder b;
    b.Short(256, 8).Short(257, 1).Short(258, 1).Short(259, 1).Short(262, 0).Long(279, 1);
    b.Strip({0xF0});
    TTIFFGraphic reader;
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 255, 255, 255, 255}), Greys(LoadBytes(b.Build(), reader)));
}

TEST(TIFFImage, ResolutionAndSubsamplingInfo) {
    struct Case {
        bool Big;
        uint32_t Unit;
        float Dpi;
    } cases[] = {{false, 2, 100}, {false, 3, 254}, {true, 3, 254}, {true, 2, 100}};
    for (const Case& c : cases) {
        TIFFBuilder b(c.Big);
        b.Short(256, 2).Short(257, 2).Integers(258, 3, {8, 8, 8}).Short(259, 1).Short(262, 6).Short(277, 3);
        b.Rational(282, 100, 1).Rational(283, 200, 2).Short(296, c.Unit).Integers(530, 3, {2, 1}).Long(279, 12);
        b.Strip(std::vector<uint8_t>(12, 128));
        auto bytes = b.Build();
        TCustomMemoryStream stream(bytes.data(), int64_t(bytes.size()));
        TTIFFGraphic reader;
        reader.StartPosition = 0;
        ASSERT_TRUE(reader.ReadImageInfo(stream, 0));
        EXPECT_NEAR(c.Dpi, reader.Properties.DpiX, 1e-3);
        EXPECT_NEAR(c.Dpi, reader.Properties.DpiY, 1e-3);
        EXPECT_EQ(ColorModel::YCbCr, reader.Properties.Model);
        EXPECT_EQ((std::vector<uint8_t>{2, 1}),
                  std::vector<uint8_t>(reader.Properties.ChromaSubsampling.begin(),
                                       reader.Properties.ChromaSubsampling.end()))
            << "big-endian " << c.Big;
    }
}

TEST(TIFFImage, SubsampledYCbCrBlocksAreSpreadOverTheirPixels) {
    // 3 × 2, chroma subsampled 2 × 2: two blocks of four luma samples, Cb and Cr 128 (grey);
    // the second block reaches past the right edge.
    TIFFBuilder b;
    b.Short(256, 3).Short(257, 2).Integers(258, 3, {8, 8, 8}).Short(259, 1).Short(262, 6).Short(277, 3);
    b.Integers(530, 3, {2, 2}).Long(279, 12);
    b.Strip({10, 20, 30, 40, 128, 128, 50, 60, 70, 80, 128, 128});
    TTIFFGraphic reader;
    EXPECT_EQ((std::vector<int>{10, 20, 50, 30, 40, 70}), Greys(LoadBytes(b.Build(), reader)));
}

TEST(TIFFImage, CieLabGivesWhiteAndMidGrey) {
    // L* 255 is white; 128 (L* 50.2) the sRGB grey 119, in 8 and 16 bits alike.
    for (int bits : {8, 16}) {
        TIFFBuilder b;
        b.Short(256, 2).Short(257, 1).Integers(258, 3, {uint32_t(bits), uint32_t(bits), uint32_t(bits)});
        b.Short(259, 1).Short(262, 8).Short(277, 3).Long(279, uint32_t(bits * 6 / 8));
        if (bits == 8)
            b.Strip({255, 0, 0, 128, 0, 0});
        else
            b.Strip({255, 255, 0, 0, 0, 0, 128, 128, 0, 0, 0, 0});
        TTIFFGraphic reader;
        BitmapPicture got = LoadBytes(b.Build(), reader);
        EXPECT_EQ(255, got.Rgba[0]) << bits;
        EXPECT_NEAR(119, got.Rgba[4], 1) << bits;
    }
}

TEST(TIFFImage, ProbeAndBadHeaders) {
    struct Case {
        const char* What;
        std::vector<uint8_t> Bytes;
        bool Probe;
        const char* Message;
    } cases[] = {
        {"version 43",
         {'I', 'I', 43, 0, 8, 0, 0, 0, 0, 0, 0, 0},
         false,
         "Cannot load image. Invalid or unexpected TIF/TIFF image format."},
        // A directory beyond the end, or cut off, is a damaged TIFF, told as such.
        {"directory beyond the end",
         {'M', 'M', 0, 42, 0, 0, 1, 0, 0, 0, 0, 0},
         true,
         "Cannot load image. Invalid or unexpected TIF/TIFF image format."},
        {"directory cut off",
         {'I', 'I', 42, 0, 8, 0, 0, 0, 9, 0, 0, 1, 3, 0, 1, 0, 0, 0, 4, 0, 0, 0, 1, 1},
         true,
         "Cannot load image. Invalid or unexpected TIF/TIFF image format."},
        {"width 0",
         {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0, 1, 3, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         true,
         "Cannot load image. Invalid or unexpected TIF/TIFF image format."},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.What);
        TCustomMemoryStream stream(c.Bytes.data(), int64_t(c.Bytes.size()));
        EXPECT_EQ(c.Probe, TTIFFGraphic::ProbeStream(stream));
        TTIFFGraphic reader;
        try {
            reader.ReadImage(stream);
            ADD_FAILURE() << "loaded";
        } catch (const Exception& e) {
            EXPECT_EQ(c.Message, e.Message());
        }
    }
}

}  // namespace
}  // namespace tilvorn
