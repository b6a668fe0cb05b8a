// tilvorn-cli poster --labels: the map sheet beside the JPEG sheets, the labels in the PDF.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/CliRun.h"
#include "image/DIB.h"
#include "readers/JpegFile.h"
#include "support/TestSupport.h"

using namespace tilvorn;
using namespace tilvorn::test;

namespace {

using cli::Result;
using cli::Slurp;

class PosterLabels : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("/usr/bin/pdftotext") || !HaveTool("/usr/bin/pdfinfo") || !HaveTool("/usr/bin/convert"))
            GTEST_SKIP() << "Poppler's tools or ImageMagick missing";
        dir = TempDir("poster-labels");
        picture = dir + "/pic.png";
        ASSERT_EQ(test::Run("/usr/bin/convert -size 300x180 xc:white '" + picture + "'"), 0);
    }
    Result Cli(const std::string& arguments) { return cli::Run(arguments, "poster-labels-run"); }
    std::string dir, picture;
    // 100 × 80 mm sheets at 100 DPI, 8 mm margins and overlaps, a poster 3 × 2 sheets.
    const std::string layout = " --sheet 100x80 --dpi 100 --width 180 --margins 8,8 --overlaps 8,8";
};

TEST_F(PosterLabels, OffByDefaultNoMapIsWritten) {
    Result r = Cli("poster '" + picture + "' --out '" + dir + "/plain'" + layout);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir + "/plain(map).JPG"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/plain(1;1).JPG"));
}

TEST_F(PosterLabels, TheMapSheetIsSavedBesideTheSheetsAndShowsTheGrid) {
    Result r = Cli("poster '" + picture + "' --labels --out '" + dir + "/wall'" + layout);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string map = dir + "/wall(map).JPG";
    ASSERT_TRUE(std::filesystem::exists(map)) << r.out;
    EXPECT_NE(r.out.find(map), std::string::npos);
    std::unique_ptr<TDIB> read = ReadJpegFile(map), first = ReadJpegFile(dir + "/wall(1;1).JPG");
    ASSERT_TRUE(read && first);
    TDIB& sheet = *read;
    EXPECT_EQ(sheet.Width(), first->Width());
    EXPECT_EQ(sheet.Height(), first->Height());
    // The picture is white: long dark columns are the outlines of the sheets' page windows.
    const int w = sheet.Width(), h = sheet.Height();
    std::vector<int> dark(size_t(w), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) dark[size_t(x)] += ColorGreen(GetStorePixel(*sheet.Image(), x, y)) < 100;
    int lines = 0;
    for (int x = 0; x < w; ++x)
        if (dark[size_t(x)] > h / 5 && (x == 0 || dark[size_t(x - 1)] <= h / 5)) ++lines;
    EXPECT_GE(lines, 4) << "three columns of sheets, outlined";
}

TEST_F(PosterLabels, ThePdfStartsWithTheMapAndCarriesTheLabelsAsText) {
    const std::string pdf = dir + "/wall.pdf";
    Result r = Cli("poster '" + picture + "' --labels --pdf '" + pdf + "'" + layout);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(test::Run("/usr/bin/pdfinfo '" + pdf + "' > '" + dir + "/info.txt'"), 0);
    EXPECT_NE(Slurp(dir + "/info.txt").find("Pages:           7"), std::string::npos) << Slurp(dir + "/info.txt");
    auto page = [&](int n) {
        const std::string text = dir + "/page.txt";
        EXPECT_EQ(test::Run("/usr/bin/pdftotext -f " + std::to_string(n) + " -l " + std::to_string(n) + " '" + pdf +
                            "' '" + text + "'"),
                  0);
        return Slurp(text);
    };
    const std::string map = page(1);
    for (const char* cell : {"(1;1)", "(3;1)", "(2;2)", "page 6"}) EXPECT_NE(map.find(cell), std::string::npos) << cell;
    const std::string first = page(2);
    EXPECT_NE(first.find("(1;1) page 1"), std::string::npos) << first;
    EXPECT_NE(first.find("→ (2;1)"), std::string::npos) << first;
    EXPECT_NE(first.find("↓ (1;2)"), std::string::npos) << first;
    const std::string middle = page(6);  // sheet 5, (2;2)
    EXPECT_NE(middle.find("← (1;2)"), std::string::npos) << middle;
    EXPECT_NE(middle.find("↑ (2;1)"), std::string::npos) << middle;
}

}  // namespace
