// tilvorn-cli poster given settings that leave no poster to make: each is refused with a
// message naming the value and its limit, before any sheet is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/CliRun.h"
#include "support/TestSupport.h"

using namespace tilvorn;
using namespace tilvorn::test;

namespace {

cli::Result Poster(const std::string& options, const std::string& dir) {
    return cli::Run("poster '" + DataPath("app/rgb.jpg") + "' --out '" + dir + "/wall' " + options, "hostile-run");
}

size_t FilesIn(const std::string& dir) {
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) n += entry.is_regular_file();
    return n;
}

TEST(PosterRefusals, SettingsThatLeaveNoPosterNameTheirLimit) {
    struct Case {
        std::string options;
        int status;
        std::string text;
    } cases[] = {
        {"--margins 200,200", 1,
         "The left and right margins of 200 mm leave nothing of a sheet 210 mm wide; each must be less than 105 mm."},
        {"--margins 10,150", 1,
         "The top and bottom margins of 150 mm leave nothing of a sheet 297 mm high; each must be less than 148.5 mm."},
        {"--overlaps 300,300", 1,
         "An overlap of 300 mm across leaves no step from sheet to sheet; it must be less than the 208 mm the margins "
         "leave of the sheet."},
        {"--sheet 5x5", 1,
         "An overlap of 5 mm across leaves no step from sheet to sheet; it must be less than the 3 mm"},
        {"--width 100000000", 1, "sheets; at most 2147483647 sheets can be made."},
        {"--width 2147483647", 1, "has too many printer pixels"},
        {"--width 2147483647", 1, "the width may be at most 181"},
        {"--dpi 99999", 2, "--dpi: 99999 is out of range; it must be between 1 and 2400"},
        {"--width 99999999999", 2,
         "--width: 99999999999 is out of range; it must be between -2147483648 and 2147483647"},
        {"--width 600 --pages abc", 1, "--pages: 'abc' names no page of the poster, whose pages are 1 to 6"},
        {"--width 600 --pages 0", 1, "--pages: '0' names no page of the poster"},
        {"--width 600 --pages 3-1", 1, "--pages: '3-1' names no page of the poster"},
        {"--width 600 --pages 99", 1, "--pages: '99' names no page of the poster"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const std::string dir = TempDir("hostile-refusal");
        cli::Result r = Poster(c.options, dir);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
        EXPECT_EQ(FilesIn(dir), 0u) << "a refusal writes no sheet";
    }
}

TEST(PosterRefusals, DroppedPageListItemsAreNamedAndTheRestWritten) {
    const std::string dir = TempDir("hostile-pages");
    cli::Result r = Poster("--width 600 --dpi 30 --pages 1,abc,99,6", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("--pages: 'abc' names no page of the poster's 6; left out"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--pages: '99' names no page of the poster's 6; left out"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir + "/wall(1;1).JPG"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/wall(3;2).JPG"));
    EXPECT_EQ(FilesIn(dir), 2u);
}

TEST(PosterRefusals, HugeRangeIsWalkedRangeByRange) {
    const std::string dir = TempDir("hostile-range");
    cli::Result r = Poster("--width 600 --dpi 30 --pages 1-2000000000", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FilesIn(dir), 6u);
    EXPECT_TRUE(r.err.empty()) << r.err;
}

}  // namespace

namespace {

cli::Result PosterOf(const std::string& picture, const std::string& dir) {
    return cli::Run("poster '" + picture + "' --out '" + dir + "/wall'", "hostile-picture-run");
}

TEST(PictureRefusals, AFolderGivenAsThePictureIsNamedAsAFolder) {
    const std::string dir = TempDir("hostile-folder");
    const std::string folder = dir + "/photos.jpg";
    std::filesystem::create_directories(folder);
    cli::Result r = PosterOf(folder, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot open file \"" + folder + "\". It is a folder, not a picture file."), std::string::npos)
        << r.err;
}

TEST(PictureRefusals, ACutOffFileIsNamedAndSaidToEndEarly) {
    if (!HaveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    const std::string dir = TempDir("hostile-cut-off");
    // Pictures written by ImageMagick, then cut to their first 400 bytes: the header still
    // declares all the pixels.
    for (const char* name : {"cut.bmp", "cut.tga"}) {
        const std::string whole = dir + "/whole-" + name, cut = dir + "/" + name;
        ASSERT_EQ(test::Run("/usr/bin/convert -size 64x48 gradient:red-blue '" + whole + "'"), 0);
        ASSERT_EQ(test::Run("head -c 400 '" + whole + "' > '" + cut + "'"), 0);
        cli::Result r = PosterOf(cut, dir);
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_NE(r.err.find("Cannot read file \"" + cut + "\": it ends early ("), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir + "/wall(1;1).JPG")) << name << ": a sheet was written";
    }
}

}  // namespace
