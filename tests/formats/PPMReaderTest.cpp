#include <gtest/gtest.h>

#include <filesystem>

#include "core/Exceptions.h"
#include "formats/AllFormats.h"
#include "formats/PPMImage.h"
#include "formats/ReferencePixels.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using test::CorpusPath;
using test::DataPath;
using test::LoadWithPillow;
using test::PictureOf;
using test::SamePixels;

/// Reads a portable map held in a text.
void ReadText(TPPMGraphic& reader, const std::string& text) {
    TCustomMemoryStream stream(text.data(), int64_t(text.size()));
    reader.ReadImage(stream);
}

std::string ReadError(const std::string& text) {
    TPPMGraphic reader;
    try {
        ReadText(reader, text);
    } catch (const Exception& e) {
        return e.what();
    }
    return "no error";
}

struct TPpmCase {
    const char* File;
    const char* Reference;  // under tests/data/formats
    int BitCount;
};

class PPMFixtures : public ::testing::TestWithParam<TPpmCase> {};

TEST_P(PPMFixtures, DecodeToTheirReferencePicture) {
    TILVORN_REQUIRE_PILLOW();
    const TPpmCase& c = GetParam();
    RegisterStandardFormats();
    const std::string path = DataPath(std::string("formats/") + c.File);
    ASSERT_EQ(GlobalFormatRegistry().ClassForFile(path), &TPPMGraphic::Class());
    TPPMGraphic reader;
    reader.ReadImageFile(path);
    EXPECT_EQ(reader.BitCount(), c.BitCount);
    EXPECT_TRUE(SamePixels(LoadWithPillow(DataPath(std::string("formats/") + c.Reference)), PictureOf(reader), 0));
}

INSTANTIATE_TEST_SUITE_P(Files, PPMFixtures,
                         ::testing::Values(TPpmCase{"ppm/source-colours.ppm", "ppm/source-colours.ppm", 24},
                                           TPpmCase{"ppm/ppm-plain.ppm", "ppm/source-colours.ppm", 24},
                                           TPpmCase{"ppm/source-grey.pgm", "ppm/source-grey.pgm", 8},
                                           TPpmCase{"ppm/pgm-plain.pgm", "ppm/source-grey.pgm", 8},
                                           TPpmCase{"ppm/source-mono.pbm", "ppm/source-mono.pbm", 1},
                                           TPpmCase{"ppm/pbm-plain.pbm", "ppm/source-mono.pbm", 1},
                                           TPpmCase{"ppm/pbm-text.pbm", "ppm/pbm-text.pbm", 1}));

TEST(PPMCorpus, PillowFilesMatchPillow) {
    TILVORN_REQUIRE_PILLOW();
    for (const char* name : {"hopper.ppm", "hopper.pnm", "hopper_8bit.ppm", "hopper_8bit_plain.ppm", "hopper_8bit.pgm",
                             "hopper_8bit_plain.pgm", "hopper_1bit.pbm", "hopper_1bit_plain.pbm", "hopper_16bit.pgm",
                             "hopper_16bit_plain.pgm", "16_bit_binary.pgm"}) {
        const std::string path = CorpusPath(std::string("pillow/Tests/images/") + name);
        if (path.empty()) GTEST_SKIP() << "the picture corpus is not there";
        SCOPED_TRACE(name);
        TPPMGraphic reader;
        reader.ReadImageFile(path);
        EXPECT_TRUE(SamePixels(LoadWithPillow(path), PictureOf(reader), 1));
    }
}

TEST(PPMReader, CommentsMayStandBetweenTheHeaderNumbers) {
    TPPMGraphic reader;
    ReadText(reader, "P3\n# made by hand\n2 # width\n# two comment lines\n# in a row\n1\n255\n10 20 30  40 50 60\n");
    ASSERT_EQ(reader.BitCount(), 24);
    EXPECT_EQ(GetStorePixel(*reader.Image(), 0, 0), RGBColor(10, 20, 30));
    EXPECT_EQ(GetStorePixel(*reader.Image(), 1, 0), RGBColor(40, 50, 60));
}

TEST(PPMReader, BinaryRasterStartsRightAfterTheLastHeaderLine) {
    // The first pixel's bytes look like white space and digits; none may be skipped.
    const std::string text = std::string("P6\n2 1\n255\n") + "\n5 " + "\t7\r";
    TPPMGraphic reader;
    ReadText(reader, text);
    EXPECT_EQ(GetStorePixel(*reader.Image(), 0, 0), RGBColor('\n', '5', ' '));
    EXPECT_EQ(GetStorePixel(*reader.Image(), 1, 0), RGBColor('\t', '7', '\r'));
}

TEST(PPMReader, HeaderNumbersOnTheMagicLineAreRead) {
    TPPMGraphic reader;
    ReadText(reader, "P2 3 1 255\n0 128 255\n");
    ASSERT_EQ(reader.Width(), 3);
    EXPECT_EQ(reader.ScanLine(0)[1], 128);
}

TEST(PPMReader, SmallMaximumIsScaledToTheFullRange) {
    TPPMGraphic reader;
    reader.ReadImageFile(DataPath("formats/ppm/pgm-max15.pgm"));
    const std::vector<uint8_t> bytes = test::ReadFileBytes(DataPath("formats/ppm/pgm-max15.pgm"));
    const size_t raster = bytes.size() - size_t(reader.Width()) * reader.Height();
    // A 4-bit grey map stored with maximum 15: each value v shows as v × 255 / 15 (rounded).
    for (int x = 0; x < reader.Width(); ++x)
        EXPECT_EQ(reader.ScanLine(1)[x], (bytes[raster + reader.Width() + x] * 255 + 7) / 15) << x;
    EXPECT_LE(*std::max_element(bytes.begin() + long(raster), bytes.end()), 15);
}

TEST(PPMReader, BitmapsPackEightPixelsAByteAndSetBitsAreBlack) {
    TPPMGraphic binary, plain;
    ReadText(binary, std::string("P4\n10 2\n") + "\xA5\xC0\x01\x40");
    ReadText(plain, "P1\n10 2\n1 0 1 0 0 1 0 1 1 1\n0 0 0 0 0 0 0 1\n0 1\n");
    for (TPPMGraphic* reader : {&binary, &plain}) {
        ASSERT_EQ(reader->BitCount(), 1);
        EXPECT_EQ(reader->ScanLine(0)[0], 0xA5);
        EXPECT_EQ(reader->ScanLine(0)[1] & 0xC0, 0xC0);
        EXPECT_EQ(reader->ScanLine(1)[0], 0x01);
        EXPECT_EQ(reader->ScanLine(1)[1] & 0xC0, 0x40);
        EXPECT_EQ(GetStorePixel(*reader->Image(), 0, 0), RGBColor(0, 0, 0));
        EXPECT_EQ(GetStorePixel(*reader->Image(), 1, 0), RGBColor(255, 255, 255));
    }
}

TEST(PPMReader, PlainBitmapDigitsNeedNoSeparators) {
    TPPMGraphic reader;
    ReadText(reader, "P1\n5 1\n10110\n");
    EXPECT_EQ(reader.ScanLine(0)[0] & 0xF8, 0xB0);
}

TEST(PPMReader, WideSamplesAreScaledToEightBits) {
    TPPMGraphic binary, plain;
    ReadText(binary, std::string("P5\n2 1\n65535\n\xFF\xFF\x80\x00", 17));
    ReadText(plain, "P2\n2 1\n1023\n1023 512\n");
    EXPECT_EQ(binary.ScanLine(0)[0], 255);
    EXPECT_EQ(binary.ScanLine(0)[1], 0x8000 * 255 / 65535);
    EXPECT_EQ(plain.ScanLine(0)[0], 255);
    EXPECT_EQ(plain.ScanLine(0)[1], 512 * 255 / 1023);
}

TEST(PPMReader, ErrorsNameTheFormat) {
    struct TCase {
        const char* Text;
        const char* Error;
    };
    for (const TCase& c :
         {TCase{"Q6\n1 1\n255\nabc", "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."},
          TCase{"P6\n2 2\n255\nabcdefghi", "Stream read error in PPM file."},
          TCase{"P3\n2 1\n255\n1 2 3 4 5", "Stream read error in PPM file."},
          TCase{"P4\n9 3\n\x01\x02", "Stream read error in PPM file."},
          TCase{"P5\n60000 60000\n255\n", "Stream read error in PPM file."}}) {
        EXPECT_EQ(ReadError(c.Text), c.Error) << c.Text;
    }
}

TEST(PPMReader, UnknownTypeDigitLoadsNothing) {
    TPPMGraphic reader;
    ReadText(reader, "P8\nWIDTH 2\nHEIGHT 2\n");
    EXPECT_TRUE(reader.Empty());
    TCustomMemoryStream stream("P8 whatever", 11);
    EXPECT_FALSE(TPPMGraphic::ProbeStream(stream));
    // "P7 332" starts an XV thumbnail, not an arbitrary map, whose magic ends its line.
    TCustomMemoryStream thumbnail("P7 332\n#XVVERSION", 18);
    EXPECT_FALSE(TPPMGraphic::ProbeStream(thumbnail));
    TCustomMemoryStream p6("P6 whatever", 11);
    EXPECT_TRUE(TPPMGraphic::ProbeStream(p6));
    EXPECT_EQ(p6.Position(), 0);
}

// Arbitrary maps written by Netpbm, each against ImageMagick's reading of the same file.
struct TPamCase {
    const char* Name;
    const char* Command;  // writes {out} in a folder holding rgb.ppm, grey.pgm and alpha.pgm
    int BitCount;
    bool Alpha;
};

class PAMFromNetpbm : public ::testing::TestWithParam<TPamCase> {};

TEST_P(PAMFromNetpbm, MatchImageMagick) {
    const TPamCase& c = GetParam();
    if (!test::HaveTool("pamstack") || !test::HaveTool("pamtopam") || !test::HaveTool("/usr/bin/convert"))
        GTEST_SKIP() << "Netpbm or ImageMagick is missing";
    const std::string dir = test::TempDir(std::string("pam-") + c.Name);
    std::string command = std::string("cd ") + dir +
        " && /usr/bin/convert -size 37x23 gradient:red-blue -depth 8 rgb.ppm"
        " && /usr/bin/convert -size 37x23 gradient:white-black -depth 8 grey.pgm"
        " && /usr/bin/convert -size 23x37 gradient:black-white -rotate 90 -depth 8 alpha.pgm && " +
        c.Command;
    const std::string out = dir + "/out.pam";
    for (size_t at; (at = command.find("{out}")) != std::string::npos;) command.replace(at, 5, out);
    ASSERT_EQ(test::Run("(" + command + ") >/dev/null 2>&1"), 0) << command;

    RegisterStandardFormats();
    ASSERT_EQ(GlobalFormatRegistry().ClassForFile(out), &TPPMGraphic::Class());
    TPPMGraphic reader;
    reader.ReadImageFile(out);
    EXPECT_EQ(reader.BitCount(), c.BitCount);
    EXPECT_EQ(reader.Properties.HasAlphaChannel, c.Alpha);
    // ImageMagick shows the alpha of maxima other than 255 and 65535 inverted: there Netpbm
    // itself brings the file to 8 bits first ({out}.ref.pam).
    const std::string referenceFile = std::filesystem::exists(out + ".ref.pam") ? out + ".ref.pam" : out;
    const test::TRgbaPicture reference = test::LoadWithImageMagick(referenceFile);
    ASSERT_FALSE(reference.Empty());
    EXPECT_TRUE(SamePixels(reference, PictureOf(reader), 1, c.Alpha));
}

INSTANTIATE_TEST_SUITE_P(
    Tuples, PAMFromNetpbm,
    ::testing::Values(
        TPamCase{"rgb", "pamtopam < rgb.ppm > {out}", 24, false},
        TPamCase{"grey", "pamtopam < grey.pgm > {out}", 8, false},
        TPamCase{"grey_alpha", "pamstack -tupletype=GRAYSCALE_ALPHA grey.pgm alpha.pgm > {out}", 32, true},
        TPamCase{"rgb_alpha", "pamstack -tupletype=RGB_ALPHA rgb.ppm alpha.pgm > {out}", 32, true},
        TPamCase{"rgb16", "pamdepth 65535 rgb.ppm | pamtopam > {out}", 24, false},
        TPamCase{"grey16", "pamdepth 65535 grey.pgm | pamtopam > {out}", 8, false},
        TPamCase{"rgb_alpha16", "pamstack -tupletype=RGB_ALPHA rgb.ppm alpha.pgm | pamdepth 65535 > {out}", 32, true},
        TPamCase{"grey_alpha_max1000",
                 "pamstack -tupletype=GRAYSCALE_ALPHA grey.pgm alpha.pgm | pamdepth 1000 > {out}"
                 " && pamdepth 255 {out} > {out}.ref.pam",
                 32, true}),
    [](const ::testing::TestParamInfo<TPamCase>& info) { return std::string(info.param.Name); });

TEST(PAMReader, HeaderLinesMayCarryCommentsAndComeInAnyOrder) {
    TPPMGraphic reader;
    ReadText(reader,
             std::string("P7\n# made by hand\nTUPLTYPE RGB_ALPHA\nMAXVAL 255\nDEPTH 4\n\nHEIGHT 1\nWIDTH 2\nENDHDR\n") +
                 "\x0A\x14\x1E\x80" + "\x28\x32\x3C\xFF");
    ASSERT_EQ(reader.BitCount(), 32);
    const uint8_t* row = reader.ScanLine(0);
    EXPECT_EQ(std::vector<uint8_t>(row, row + 8), (std::vector<uint8_t>{30, 20, 10, 128, 60, 50, 40, 255}));
}

TEST(PAMReader, BlackAndWhiteTuplesAreZeroForBlack) {
    TPPMGraphic reader;
    ReadText(reader,
             std::string("P7\nWIDTH 2\nHEIGHT 1\nDEPTH 1\nMAXVAL 1\nTUPLTYPE BLACKANDWHITE\nENDHDR\n\x00\x01", 69));
    ASSERT_EQ(reader.BitCount(), 8);
    EXPECT_EQ(GetStorePixel(*reader.Image(), 0, 0), RGBColor(0, 0, 0));
    EXPECT_EQ(GetStorePixel(*reader.Image(), 1, 0), RGBColor(255, 255, 255));
}

TEST(PAMReader, HeadersThatNameNoPictureAreRefused) {
    const std::string invalid = "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format.";
    for (const char* header : {
             "WIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE GRAYSCALE\n",  // depth not the type's
             "WIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\n",  // five samples a pixel
             "WIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nTUPLTYPE COLORMAP\n",  // not a picture
             "WIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 65536\n",  // beyond 16 bits
             "WIDTH 0\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\n",  // no pixels
             "WIDTH x1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\n",  // not a number
             "WIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nCOLOUR 3\n",  // unknown keyword
         }) {
        EXPECT_EQ(ReadError(std::string("P7\n") + header + "ENDHDR\nabcd"), invalid) << header;
    }
    // A header cut off before ENDHDR and a raster shorter than the header asks for.
    EXPECT_EQ(ReadError("P7\nWIDTH 2\nHEIGHT 2\n"), "Stream read error in PPM file.");
    EXPECT_EQ(ReadError("P7\nWIDTH 2\nHEIGHT 2\nDEPTH 4\nMAXVAL 65535\nENDHDR\n0123456789"),
              "Stream read error in PPM file.");
}

}  // namespace
}  // namespace tilvorn
