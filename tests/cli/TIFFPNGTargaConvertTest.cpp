// tilvorn-cli convert over TIFF, PNG and Targa files written by ImageMagick: the 24-bit picture
// it saves is the file laid on white paper, compared with ImageMagick flattening the same file
// onto white; unreadable files end with the reader's message.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/TestSupport.h"

namespace {

const std::string kCli = std::string(TILVORN_BINARY_DIR) + "/src/tilvorn-cli";
const std::string kConvert = "/usr/bin/convert";

std::string RunCli(const std::string& arguments, const std::string& dir, int& status) {
    const std::string outFile = dir + "/cli.out";
    status = tilvorn::test::Run(kCli + " " + arguments + " >" + outFile + " 2>&1");
    std::ifstream in(outFile);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Case {
    const char* Name;
    const char* Write;  // ImageMagick options and output prefix for the file
    const char* File;
};

class ConvertLaysOnWhite : public testing::TestWithParam<Case> {};

TEST_P(ConvertLaysOnWhite, MatchesImageMagickFlattened) {
    const Case& c = GetParam();
    if (!tilvorn::test::HaveTool(kConvert)) GTEST_SKIP() << "ImageMagick is not installed";
    const std::string dir = tilvorn::test::TempDir(std::string("cli-white-") + c.Name);
    const std::string file = dir + "/" + c.File;
    // Colours fading into transparency from left to right, over a gradient.
    ASSERT_EQ(0,
              tilvorn::test::Run(kConvert + " -size 29x17 gradient:red-blue -alpha set -channel A -fx 'i/w' " +
                                 c.Write + file + " 2>/dev/null"));
    int status = 0;
    const std::string out = RunCli("convert " + file + " " + dir + "/out.bmp", dir, status);
    ASSERT_EQ(0, status) << out;
    ASSERT_EQ(0,
              tilvorn::test::Run(kConvert + " " + file + " -background white -flatten -alpha off BMP3:" + dir +
                                 "/expected.bmp 2>/dev/null"));
    // Within one step per sample: the two round their compositing differently.
    EXPECT_EQ(0,
              tilvorn::test::Run("test $(/usr/bin/compare -metric AE -fuzz 1% " + dir + "/out.bmp " + dir +
                                 "/expected.bmp null: 2>&1) = 0"));
}

INSTANTIATE_TEST_SUITE_P(Formats, ConvertLaysOnWhite,
                         testing::Values(Case{"png_rgba", "", "in.png"}, Case{"tiff_rgba", "-compress zip ", "in.tif"},
                                         Case{"tiff_rgba16", "-depth 16 -compress none ", "in.tif"}),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.Name); });

TEST(ConvertReaderErrors, UnreadableFilesEndWithTheReadersMessage) {
    if (!tilvorn::test::HaveTool(kConvert) || !tilvorn::test::HaveTool("tiffcp"))
        GTEST_SKIP() << "ImageMagick or libtiff-tools is missing";
    const std::string dir = tilvorn::test::TempDir("cli-reader-errors");
    ASSERT_EQ(0,
              tilvorn::test::Run(kConvert + " -size 8x8 xc:red " + dir + "/plain.tif && tiffcp -c zstd " + dir +
                                 "/plain.tif " + dir + "/zstd.tif"));
    int status = 0;
    std::string out = RunCli("convert " + dir + "/zstd.tif " + dir + "/out.bmp", dir, status);
    EXPECT_NE(0, status);
    EXPECT_NE(std::string::npos,
              out.find("Cannot load image. The compression scheme is not supported for TIF/TIFF files."))
        << out;
    // A PNG file whose header chunk is damaged.
    ASSERT_EQ(0, tilvorn::test::Run(kConvert + " -size 8x8 xc:red " + dir + "/ok.png"));
    std::vector<unsigned char> bytes = tilvorn::test::ReadFileBytes(dir + "/ok.png");
    bytes[20] ^= 0x55;  // inside the width field of IHDR: the chunk's CRC no longer fits
    tilvorn::test::WriteFileBytes(dir + "/crc.png", bytes);
    out = RunCli("convert " + dir + "/crc.png " + dir + "/out.bmp", dir, status);
    EXPECT_NE(0, status);
    EXPECT_NE(std::string::npos, out.find("Cannot load image. CRC error found in PNG file.")) << out;
}

}  // namespace
