// tilvorn-cli poster --pdf, the file read back with Poppler's tools.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "readers/JpegFile.h"
#include "image/DIB.h"
#include "cli/CliRun.h"
#include "support/TestSupport.h"

using namespace tilvorn;
using namespace tilvorn::test;

namespace {

using cli::Result;
using cli::Slurp;

Result Cli(const std::string& arguments) { return cli::Run(arguments, "poster-pdf-run"); }

bool HavePoppler() {
    return HaveTool("/usr/bin/pdfinfo") && HaveTool("/usr/bin/pdfimages") && HaveTool("/usr/bin/pdftoppm");
}

std::string Tool(const std::string& command, const std::string& dir) {
    EXPECT_EQ(test::Run(command + " > '" + dir + "/tool.txt' 2>&1"), 0) << command;
    return Slurp(dir + "/tool.txt");
}

std::string Field(const std::string& info, const std::string& name) {
    std::smatch m;
    std::regex line("(^|\n)" + name + ":\\s*([^\n]*)");
    return std::regex_search(info, m, line) ? m[2].str() : "";
}

// The image rows of pdfimages -list: page, type, width, height, colour, encoding.
struct ListedImage {
    int page = 0, width = 0, height = 0;
    std::string color, encoding;
};
std::vector<ListedImage> ListImages(const std::string& listing) {
    std::vector<ListedImage> images;
    std::istringstream in(listing);
    std::string line;
    std::getline(in, line);
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream f(line);
        ListedImage i;
        int num = 0, comp = 0, bpc = 0;
        std::string type;
        if (f >> i.page >> num >> type >> i.width >> i.height >> i.color >> comp >> bpc >> i.encoding)
            images.push_back(i);
    }
    return images;
}

// A P6 file as rows of RGB.
struct Ppm {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    int Red(int x, int y) const { return rgb[(size_t(y) * width + x) * 3]; }
};
Ppm ReadPpm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    Ppm p;
    std::string magic;
    int maximum = 0;
    in >> magic >> p.width >> p.height >> maximum;
    in.get();
    p.rgb.resize(size_t(p.width) * p.height * 3);
    in.read(reinterpret_cast<char*>(p.rgb.data()), std::streamsize(p.rgb.size()));
    EXPECT_EQ(magic, "P6");
    return p;
}

class PosterPdf : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HavePoppler() || !HaveTool("/usr/bin/convert")) GTEST_SKIP() << "Poppler's tools or ImageMagick missing";
        dir = TempDir("poster-pdf");
        jpeg = dir + "/pic.jpg";
        // A picture with detail everywhere, 4:2:0 JPEG (16 × 16 blocks).
        ASSERT_EQ(
            test::Run("/usr/bin/convert -size 240x180 gradient:red-blue \\( -size 240x180 pattern:checkerboard \\) "
                      "-compose multiply -composite -swirl 120 -sampling-factor 2x2 -quality 92 '" +
                      jpeg + "'"),
            0);
    }
    std::string dir, jpeg;
    // 100 × 80 mm sheets at 100 DPI, the poster 300 mm wide: 3.x × enlargement.
    const std::string layout = " --sheet 100x80 --dpi 100 --width 300 --overlaps 8,8 --margins 5,5";
};

TEST_F(PosterPdf, OnePagePerChosenSheetAtThePapersSizeWithTitleAndCreator) {
    const std::string pdf = dir + "/wall.pdf";
    Result r = Cli("poster '" + jpeg + "' --pdf '" + pdf + "' --pages 1,2,5,99" + layout);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(pdf), std::string::npos) << r.out;
    const std::string info = Tool("/usr/bin/pdfinfo '" + pdf + "'", dir);
    EXPECT_EQ(Field(info, "Pages"), "3");
    EXPECT_EQ(Field(info, "Title"), "pic.jpg poster");
    EXPECT_EQ(Field(info, "Creator"), "Tilvorn 2.16");
    double w = 0, h = 0;
    ASSERT_EQ(std::sscanf(Field(info, "Page size").c_str(), "%lf x %lf", &w, &h), 2) << info;
    EXPECT_NEAR(w, 100 * 72 / 25.4, 0.5);
    EXPECT_NEAR(h, 80 * 72 / 25.4, 0.5);
    // Nothing but the PDF stays in the folder (no temporary file).
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir))
        files += e.path().extension() == ".pdf" || e.path().extension() == ".part";
    EXPECT_EQ(files, 1);
}

TEST_F(PosterPdf, EachPageEmbedsOnlyItsPartOfTheJpegFileUnchanged) {
    const std::string pdf = dir + "/wall.pdf";
    ASSERT_EQ(Cli("poster '" + jpeg + "' --pdf '" + pdf + "'" + layout).status, 0);
    const std::string info = Tool("/usr/bin/pdfinfo '" + pdf + "'", dir);
    const int pages = std::stoi(Field(info, "Pages"));
    ASSERT_GT(pages, 3);
    std::vector<ListedImage> images = ListImages(Tool("/usr/bin/pdfimages -list '" + pdf + "'", dir));
    ASSERT_EQ(int(images.size()), pages);
    for (int i = 0; i < pages; ++i) {
        EXPECT_EQ(images[size_t(i)].page, i + 1);
        EXPECT_EQ(images[size_t(i)].encoding, "jpeg");
        EXPECT_LT(images[size_t(i)].width, 240);  // a part, never the whole picture
        EXPECT_LT(images[size_t(i)].height, 180);
    }

    // The parts decode to the picture's own pixels at a place on the 16-pixel block grid.
    ASSERT_EQ(test::Run("/usr/bin/pdfimages -j -f 2 -l 2 '" + pdf + "' '" + dir + "/part'"), 0);
    auto part = ReadJpegFile(dir + "/part-000.jpg");
    auto whole = ReadJpegFile(jpeg);
    double best = 1e9;
    for (int y0 = 0; y0 + part->Height() <= whole->Height(); y0 += 16)
        for (int x0 = 0; x0 + part->Width() <= whole->Width(); x0 += 16) {
            double sum = 0;
            int n = 0;
            for (int y = 8; y < part->Height() - 8; y += 3)
                for (int x = 8; x < part->Width() - 8; x += 3, ++n)
                    sum += std::abs(ColorGreen(GetStorePixel(*part->Image(), x, y)) -
                                    ColorGreen(GetStorePixel(*whole->Image(), x0 + x, y0 + y)));
            best = std::min(best, sum / n);
        }
    EXPECT_LT(best, 1.0);
}

TEST_F(PosterPdf, APdfOfAJpegPictureStaysUnderTwiceItsFile) {
    const std::string big = dir + "/big.jpg", pdf = dir + "/big.pdf";
    ASSERT_EQ(test::Run("/usr/bin/convert -seed 7 -size 1200x900 plasma:fractal -quality 90 '" + big + "'"), 0);
    ASSERT_EQ(Cli("poster '" + big + "' --pdf '" + pdf + "' --width 600").status, 0);  // A4, 3 × 2 sheets
    EXPECT_LE(std::filesystem::file_size(pdf), 2 * std::filesystem::file_size(big));
}

TEST_F(PosterPdf, PagesShowTheSheetsWindowAndGuideLines) {
    const std::string pdf = dir + "/wall.pdf";
    Result r = Cli("poster '" + jpeg + "' --pdf '" + pdf + "' --out '" + dir + "/wall' --pages 2" + layout);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(test::Run("/usr/bin/pdftoppm -r 100 -singlefile '" + pdf + "' '" + dir + "/page'"), 0);
    Ppm page = ReadPpm(dir + "/page.ppm");
    auto sheet = ReadJpegFile(dir + "/wall(2;1).JPG");
    ASSERT_NEAR(page.width, sheet->Width(), 1);
    ASSERT_NEAR(page.height, sheet->Height(), 1);
    const int w = std::min(page.width, sheet->Width()), h = std::min(page.height, sheet->Height());
    // Dark and light where the sheet is, within the renderers' differences.
    int dark = 0, agree = 0;
    double sum = 0;
    int n = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int a = page.Red(x, y), b = ColorRed(GetStorePixel(*sheet->Image(), x, y));
            sum += std::abs(a - b);
            ++n;
            if (b < 60) {
                ++dark;
                agree += a < 128;
            }
        }
    EXPECT_LT(sum / n, 12.0);
    ASSERT_GT(dark, 0);
    EXPECT_GT(double(agree) / dark, 0.9);
    // The guide lines in the margin strip above the page window, as on the sheet.
    const int strip = 2;
    for (int x = 0; x < w; ++x) {
        const bool line = ColorRed(GetStorePixel(*sheet->Image(), x, strip)) < 128;
        if (!line) continue;
        const int darkest = std::min(
            {page.Red(std::max(x - 1, 0), strip), page.Red(x, strip), page.Red(std::min(x + 1, w - 1), strip)});
        EXPECT_LT(darkest, 160) << x;
    }
}

TEST_F(PosterPdf, OtherPicturesGoLosslessAndGreySettingGivesGreyPages) {
    const std::string png = dir + "/pic.png";
    ASSERT_EQ(test::Run("/usr/bin/convert '" + jpeg + "' '" + png + "'"), 0);
    const std::string pdf = dir + "/grey.pdf";
    ASSERT_EQ(Cli("poster '" + png + "' --pdf '" + pdf + "' --pages 1 --depth 8" + layout).status, 0);
    std::vector<ListedImage> images = ListImages(Tool("/usr/bin/pdfimages -list '" + pdf + "'", dir));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].encoding, "image");
    EXPECT_EQ(images[0].color, "gray");
    const std::string jpegGrey = dir + "/jgrey.pdf";
    ASSERT_EQ(Cli("poster '" + jpeg + "' --pdf '" + jpegGrey + "' --pages 1 --depth 8" + layout).status, 0);
    images = ListImages(Tool("/usr/bin/pdfimages -list '" + jpegGrey + "'", dir));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].encoding, "jpeg");
    EXPECT_EQ(images[0].color, "gray");
}

TEST_F(PosterPdf, AFailureNamesTheSystemsReasonAndLeavesNoFile) {
    Result r = Cli("poster '" + jpeg + "' --pdf /nonexistent-dir/wall.pdf" + layout);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists("/nonexistent-dir/wall.pdf"));
    // A folder where the file's name is taken by a folder: the rename fails, no part stays.
    std::filesystem::create_directory(dir + "/taken.pdf");
    std::filesystem::create_directory(dir + "/taken.pdf/x");
    r = Cli("poster '" + jpeg + "' --pdf '" + dir + "/taken.pdf'" + layout);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot create file"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir + "/taken.pdf.part"));
}

TEST_F(PosterPdf, EnlargeOptionIsCheckedAndBlocksStayAsTheyWere) {
    Result bad = Cli("poster '" + jpeg + "' --out /tmp/x --enlarge bicubic" + layout);
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("bicubic"), std::string::npos);
    Result smooth = Cli("poster '" + jpeg + "' --out '" + dir + "/s' --pages 1" + layout);
    Result blocks = Cli("poster '" + jpeg + "' --out '" + dir + "/b' --enlarge blocks --pages 1" + layout);
    ASSERT_EQ(smooth.status, 0);
    ASSERT_EQ(blocks.status, 0);
    EXPECT_NE(Slurp(dir + "/s(1;1).JPG"), Slurp(dir + "/b(1;1).JPG"));
}

}  // namespace
