// tilvorn-cli convert and blur, run as the built program on files written by other tools.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "image/DIB.h"
#include "cli/CliRun.h"
#include "support/TestSupport.h"

using namespace tilvorn;
using namespace tilvorn::test;

namespace {

using cli::kCli;
using cli::Result;
using cli::Slurp;

Result Cli(const std::string& arguments) { return cli::Run(arguments, "cli-run"); }

std::string Fixture(const std::string& name) { return DataPath("image/" + name); }

// Colours of a bitmap file as our reader sees them, top row first.
std::vector<TColor> Colours(const std::string& path, int* bitCount = nullptr) {
    TDIB dib;
    dib.LoadFromFile(path);
    if (bitCount) *bitCount = dib.BitCount();
    dib.ScanLine(0);
    std::vector<TColor> colours;
    for (int y = 0; y < dib.Height(); ++y)
        for (int x = 0; x < dib.Width(); ++x) colours.push_back(GetStorePixel(*dib.Image(), x, y));
    return colours;
}

}  // namespace

TEST(CliConvert, KeepsPixelsAndBitDepthOfEveryVariant) {
    const char* files[] = {"im-1.bmp",      "im-pal.bmp",   "im-rle8.bmp",    "im-565.bmp",      "im-555.bmp",
                           "im-24.bmp",     "im-v5-24.bmp", "im-32.bmp",      "im-os2-24.bmp",   "pbm-os2-1.bmp",
                           "pbm-os2-4.bmp", "pbm-8.bmp",    "topdown-24.bmp", "clrused10-24.bmp"};
    std::string dir = TempDir("cli-convert");
    for (const char* file : files) {
        SCOPED_TRACE(file);
        std::string out = dir + "/" + file;
        Result r = Cli("convert '" + Fixture(file) + "' '" + out + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        int inBits = 0, outBits = 0;
        std::vector<TColor> in = Colours(Fixture(file), &inBits), written = Colours(out, &outBits);
        EXPECT_EQ(outBits, inBits);
        EXPECT_EQ(written, in);
        // The peer tool reads the written file as the same picture it reads the original as.
        if (HaveTool("/usr/bin/convert") && inBits != 16) {
            std::string a = dir + "/a.ppm", b = dir + "/b.ppm";
            ASSERT_EQ(tilvorn::test::Run("/usr/bin/convert '" + Fixture(file) + "' -alpha off " + a), 0);
            ASSERT_EQ(tilvorn::test::Run("/usr/bin/convert '" + out + "' -alpha off " + b), 0);
            EXPECT_EQ(ReadFileBytes(a), ReadFileBytes(b));
        }
    }
}

TEST(CliBlur, WritesTheBlurredPictureInTheAskedBitCount) {
    std::string dir = TempDir("cli-blur");
    struct Case {
        const char* file;
        int bitCount, radius;
    } cases[] = {{"im-24.bmp", 24, 1},  {"im-24.bmp", 8, 2},     {"pbm-8.bmp", 32, 3}, {"im-rle8.bmp", 4, 1},
                 {"im-565.bmp", 16, 1}, {"im-os2-24.bmp", 1, 1}, {"im-24.bmp", 24, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.bitCount) + " " + std::to_string(c.radius));
        std::string out = dir + "/out.bmp";
        Result r = Cli("blur '" + Fixture(c.file) + "' " + out + " " + std::to_string(c.bitCount) + " " +
                       std::to_string(c.radius));
        ASSERT_EQ(r.status, 0) << r.err;
        // The same blur in this process gives the same pixels.
        TDIB expected;
        expected.LoadFromFile(Fixture(c.file));
        if (c.bitCount == 16)
            expected.PixelFormat = expected.BitCount() == 16 ? expected.CurrentPixelFormat() : pf565;
        else
            expected.PixelFormat = pf888;
        expected.Blur(c.bitCount, c.radius);
        std::string mine = dir + "/mine.bmp";
        expected.SaveToFile(mine);
        int bits = 0;
        EXPECT_EQ(Colours(out, &bits), Colours(mine));
        EXPECT_EQ(bits, c.radius == 0 ? expected.BitCount() : c.bitCount);
    }
}

TEST(CliErrors, BadInputGivesTextOnStderrAndNonZeroExit) {
    std::string dir = TempDir("cli-errors");
    std::string notBmp = dir + "/not.bmp";
    WriteFileBytes(notBmp, {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    std::string truncated = dir + "/short.bmp";
    std::vector<unsigned char> bytes = ReadFileBytes(Fixture("im-24.bmp"));
    bytes.resize(bytes.size() - 10);
    WriteFileBytes(truncated, bytes);
    std::string in = "'" + Fixture("im-24.bmp") + "' ";
    struct Case {
        std::string arguments;
        int status;
        const char* text;
    } cases[] = {
        {"convert " + notBmp + " " + dir + "/o.bmp", 1, "DIB is invalid"},
        {"convert " + truncated + " " + dir + "/o.bmp", 1, "Stream read error"},
        {"convert " + dir + "/missing.bmp " + dir + "/o.bmp", 1, "missing.bmp"},
        {"convert " + in + dir + "/no/such/dir/o.bmp", 1, "o.bmp"},
        {"convert " + in, 2, "expects IN.bmp OUT.bmp"},
        {"blur " + in + dir + "/o.bmp 12 1", 1, "Bitcount in invalid (12)"},
        {"blur " + in + dir + "/o.bmp 8 two", 1, "'two' is not a valid integer value"},
        {"blur " + in + dir + "/o.bmp 8", 2, "expects IN.bmp OUT.bmp BITCOUNT RADIUS"},
        {"frobnicate", 2, "unknown verb 'frobnicate'"},
        {"", 2, "Usage: tilvorn-cli VERB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        Result r = Cli(c.arguments);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(CliHelp, ListsVerbsAndDescribesEach) {
    Result all = Cli("--help");
    EXPECT_EQ(all.status, 0);
    for (const char* verb : {"convert", "blur"}) {
        EXPECT_NE(all.out.find(std::string("  ") + verb), std::string::npos) << verb;
        Result one = Cli(std::string(verb) + " --help");
        EXPECT_EQ(one.status, 0);
        EXPECT_NE(one.out.find(std::string("Usage: tilvorn-cli ") + verb), std::string::npos);
    }
    EXPECT_NE(Cli("blur --help").out.find("BITCOUNT RADIUS"), std::string::npos);
}
