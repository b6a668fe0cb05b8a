#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "formats/AllFormats.h"
#include "support/TestSupport.h"

using namespace tilvorn;

namespace {

const std::string kCli = std::string(TILVORN_BINARY_DIR) + "/src/tilvorn-cli";

struct CliResult {
    int status;
    std::string out;
};

CliResult RunCli(const std::string& arguments, const std::string& dir) {
    const std::string outFile = dir + "/cli.out";
    const int status = test::Run(kCli + " " + arguments + " >" + outFile + " 2>&1");
    std::ifstream in(outFile);
    std::stringstream text;
    text << in.rdbuf();
    return {status, text.str()};
}

bool ReaderBuiltIn(const std::string& className) {
    for (const TGraphicClass* c : AllReaderClasses())
        if (c->Name() == className) return true;
    return false;
}

/// A 3 x 2 picture written by ImageMagick under the given name and format prefix.
std::string MagickPicture(const std::string& dir, const std::string& name, const std::string& format) {
    const std::string path = dir + "/" + name;
    if (test::Run("/usr/bin/convert -size 3x2 xc:red -fill blue -draw 'point 1,1' " + format + path + " 2>/dev/null") !=
        0)
        return "";
    return path;
}

}  // namespace

TEST(CliInfo, NamesTheReaderChosenByContent) {
    if (!test::HaveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick's /usr/bin/convert is not installed";
    struct Case {
        const char* name;
        const char* format;
        const char* reader;
    };
    const Case cases[] = {
        {"seed.png", "", "TPNGGraphic"},
        {"seed.tif", "", "TTIFFGraphic"},
        {"seed.tga", "", "TTargaGraphic"},
        {"seed.pcx", "", "TPCXGraphic"},
        {"seed.ppm", "", "TPPMGraphic"},
        {"seed.sgi", "", "TSGIGraphic"},
        {"seed.psd", "", "TPSDGraphic"},
        {"tiff-named.bmp", "TIFF:", "TTIFFGraphic"},  // content first: a TIFF called .bmp
        {"png-named.jpg", "PNG:", "TPNGGraphic"},
    };
    const std::string dir = test::TempDir("cli_info");
    int checked = 0;
    for (const Case& c : cases) {
        if (!ReaderBuiltIn(c.reader)) continue;
        const std::string file = MagickPicture(dir, c.name, c.format);
        ASSERT_FALSE(file.empty()) << c.name;
        const CliResult r = RunCli("info " + file, dir);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(std::string("Reader: ") + c.reader + " (chosen by content)"), std::string::npos)
            << c.name << "\n"
            << r.out;
        EXPECT_NE(r.out.find("Width: 3\nHeight: 2\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("  ImageWidth: 3\n"), std::string::npos) << r.out;
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no format reader is built in yet";
}

TEST(CliInfo, FallsBackByExtension) {
    if (!test::HaveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick's /usr/bin/convert is not installed";
    const std::string dir = test::TempDir("cli_info_fallback");
    const std::string bmp = MagickPicture(dir, "plain.BMP", "BMP3:");
    const std::string gif = MagickPicture(dir, "anim.gif", "");
    ASSERT_FALSE(bmp.empty());
    CliResult r = RunCli("info " + bmp, dir);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Reader: none recognises the content\nBy extension: bitmap file\nWidth: 3\nHeight: 2\n"),
              std::string::npos)
        << r.out;
    r = RunCli("info " + gif, dir);
    EXPECT_NE(r.out.find("By extension: document"), std::string::npos) << r.out;
    r = RunCli("info " + dir + "/missing.png", dir);
    EXPECT_NE(r.status, 0);
    r = RunCli("info", dir);
    EXPECT_EQ(r.status, 2) << r.out;
}

TEST(CliConvert, ReadsThroughTheReadersAndKeepsBitmapsAsBefore) {
    if (!test::HaveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick's /usr/bin/convert is not installed";
    const std::string dir = test::TempDir("cli_convert_readers");
    const std::string bmp = MagickPicture(dir, "in.bmp", "BMP3:");
    ASSERT_EQ(RunCli("convert " + bmp + " " + dir + "/out.bmp", dir).status, 0);
    // ImageMagick reads our bitmap back as the same picture.
    EXPECT_EQ(test::Run("/usr/bin/compare -metric AE " + bmp + " " + dir + "/out.bmp null: 2>/dev/null"), 0);
    // Pictures that a reader takes come out as the same pixels. Targa is left out here:
    // ImageMagick 6 writes its rows top-first while marking them bottom-first, and reads them
    // back the same way; Pillow and Netpbm read such a file the other way up, as we do (the
    // Targa tests compare with them).
    struct Case {
        const char* name;
        const char* reader;
    };
    const Case cases[] = {
        {"in.png", "TPNGGraphic"}, {"in.ppm", "TPPMGraphic"}, {"in.pcx", "TPCXGraphic"}, {"in.sgi", "TSGIGraphic"}};
    int checked = 0;
    for (const Case& c : cases) {
        if (!ReaderBuiltIn(c.reader)) continue;
        const std::string in = MagickPicture(dir, c.name, "");
        const std::string out = in + ".bmp";
        const CliResult r = RunCli("convert " + in + " " + out, dir);
        ASSERT_EQ(r.status, 0) << c.name << "\n" << r.out;
        EXPECT_EQ(test::Run("/usr/bin/compare -metric AE " + in + " " + out + " null: 2>/dev/null"), 0) << c.name;
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no format reader is built in yet";
}
