// tilvorn-cli poster, run as the built program.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "readers/JpegFile.h"
#include "poster/Sources.h"
#include "image/DIB.h"
#include "cli/CliRun.h"
#include "support/TestSupport.h"

using namespace tilvorn;
using namespace tilvorn::test;

namespace {

using cli::kCli;
using cli::Result;
using cli::Slurp;

Result Cli(const std::string& arguments) { return cli::Run(arguments, "poster-run"); }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(PosterVerb, PrintsTheLayoutThenTheFilesItWrote) {
    std::string dir = TempDir("poster-out");
    // 64 × 48 picture, 600 mm wide on A4 at 300 DPI: 1 mm margins, 5 mm overlaps.
    Result r = Cli("poster '" + DataPath("app/rgb.jpg") + "' --out '" + dir + "/wall' --width 600 --pages 1,5");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 13u) << r.out;
    std::vector<std::string> expected = {"columns=3", "rows=2", "pages=6", "poster_mm=600x450", "poster_px=7086x5314",
                                         "sheet_px=2480x3508", "margins_px=11x11", "overlaps_px=59x59",
                                         "scale_x=3543:32", "scale_y=2657:24",
                                         // 64 picture pixels over 600 mm of paper
                                         "picture_dpi=3"};
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << i;
    EXPECT_EQ(lines[11], dir + "/wall(1;1).JPG");
    EXPECT_EQ(lines[12], dir + "/wall(2;2).JPG");
    auto sheet = ReadJpegFile(lines[12]);
    EXPECT_EQ(sheet->Width(), 2480);
    EXPECT_EQ(sheet->Height(), 3508);
    EXPECT_TRUE(r.err.empty()) << r.err;  // not a terminal: no progress
}

TEST(PosterVerb, OptionsChangeTheLayoutInTheWindowsOrder) {
    struct Case {
        std::string options;
        std::vector<std::string> wanted;  // lines that must appear
    } cases[] = {
        {"--width 100", {"columns=1", "rows=1", "poster_mm=100x75"}},
        {"--sheet A4L --dpi 100", {"sheet_px=1169x827"}},
        {"--sheet 100x50 --dpi 100 --width 300", {"sheet_px=394x197", "poster_mm=300x225"}},
        {"--width 300 --no-keep-scale --height 100", {"poster_mm=300x100", "rows=1"}},
        {"--width 300 --margins 10,20 --overlaps 0,0", {"margins_px=118x236", "overlaps_px=0x0"}},
        {"--width 300 --split width", {"columns=2", "poster_mm=399x299"}},
        {"--printer PDF --width 300", {"sheet_px=2479x3508", "margins_px=59x59"}},
    };
    for (const Case& c : cases) {
        Result r = Cli("poster '" + DataPath("app/rgb.jpg") + "' --out /tmp/unused --dry-run " + c.options);
        ASSERT_EQ(r.status, 0) << c.options << "\n" << r.err;
        std::vector<std::string> lines = Lines(r.out);
        EXPECT_EQ(lines.size(), 11u) << c.options;
        for (const std::string& w : c.wanted)
            EXPECT_NE(std::find(lines.begin(), lines.end(), w), lines.end()) << c.options << ": " << w << "\n" << r.out;
    }
}

TEST(PosterVerb, BadInputEndsWithTheErrorsText) {
    struct Case {
        std::string arguments;
        int status;
        std::string text;
    } cases[] = {
        {"poster /nonexistent/p.jpg --out /tmp/x", 1, "/nonexistent/p.jpg"},
        {"poster '" + DataPath("app/rgb.jpg") + "'", 2, "--out"},
        {"poster '" + DataPath("app/rgb.jpg") + "' --out /tmp/x --split diagonal", 2, "diagonal"},
        {"poster '" + DataPath("app/rgb.jpg") + "' --out /tmp/x --depth 16", 2, "--depth"},
        {"poster '" + DataPath("app/rgb.jpg") + "' --out /tmp/x --height 50", 2, "--no-keep-scale"},
        {"poster '" + DataPath("app/rgb.jpg") + "' --out /nonexistent/dir/x --width 100", 1, "Cannot create file"},
    };
    for (const Case& c : cases) {
        Result r = Cli(c.arguments);
        EXPECT_EQ(r.status, c.status) << c.arguments;
        EXPECT_NE(r.err.find(c.text), std::string::npos) << c.arguments << "\n" << r.err;
    }
}

TEST(PosterVerb, HelpDescribesEveryOption) {
    Result r = Cli("poster --help");
    ASSERT_EQ(r.status, 0);
    for (const char* option :
         {"--out", "--width", "--height", "--keep-scale", "--no-keep-scale", "--split", "--sheet", "--dpi", "--printer",
          "--margins", "--overlaps", "--pages", "--depth", "--dry-run", "--pdf", "--enlarge", "picture_dpi"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST(ConvertVerb, ReadsJpegFiles) {
    std::string out = TempDir("convert-jpeg") + "/out.bmp";
    Result r = Cli("convert '" + DataPath("app/grey.jpg") + "' '" + out + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    TDIB dib;
    dib.LoadFromFile(out);
    EXPECT_EQ(dib.Width(), 64);
    EXPECT_EQ(dib.BitCount(), 24);
}

}  // namespace
