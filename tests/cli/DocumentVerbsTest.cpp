// tilvorn-cli opening documents: a PDF page written by Pillow, a GIF written by ImageMagick,
// and a file nothing can draw, run through the built program.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "image/DIB.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

const std::string kCli = std::string(TILVORN_BINARY_DIR) + "/src/tilvorn-cli";

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool IsDark(const std::uint8_t* bgr) { return bgr[0] < 100 && bgr[1] < 100 && bgr[2] < 100; }

TEST(CliDocuments, ConvertDrawsDocumentsAtTheWindowsSizes) {
    std::string dir = test::TempDir("cli-documents");
    bool pillow = test::Run("/usr/bin/python3 -c 'import PIL' 2>/dev/null") == 0;
    if (!pillow || !test::HaveTool("/usr/bin/convert")) GTEST_SKIP() << "Pillow or ImageMagick is not installed";
    // A 200 x 100 page at 96 dpi and a 40 x 30 GIF, each with a black box.
    std::ofstream(dir + "/make.py") << "from PIL import Image, ImageDraw\n"
                                       "im = Image.new('RGB', (200, 100), 'white')\n"
                                       "ImageDraw.Draw(im).rectangle([20, 10, 59, 39], fill='black')\n"
                                       "im.save('" +
            dir + "/box.pdf', resolution=96.0)\n";
    ASSERT_EQ(test::Run("/usr/bin/python3 " + dir + "/make.py"), 0);
    ASSERT_EQ(
        test::Run("/usr/bin/convert -size 40x30 xc:white -fill black -draw 'rectangle 10,5 19,14' " + dir + "/box.gif"),
        0);
    struct Case {
        const char* name;
        int width, height;
        int insideX, insideY, outsideX, outsideY;
    };
    for (Case c : {Case{"box.pdf", 1200, 600, 240, 150, 600, 300}, Case{"box.gif", 40, 30, 15, 10, 30, 20}}) {
        SCOPED_TRACE(c.name);
        std::string out = dir + "/" + c.name + ".bmp";
        ASSERT_EQ(test::Run(kCli + " convert " + dir + "/" + c.name + " " + out + " 2>" + dir + "/err"), 0)
            << Slurp(dir + "/err");
        TDIB picture;
        picture.LoadFromFile(out);
        EXPECT_EQ(picture.Width(), c.width);
        EXPECT_EQ(picture.Height(), c.height);
        EXPECT_EQ(picture.BitCount(), 24);
        EXPECT_TRUE(IsDark(picture.ScanLine(c.insideY) + 3 * c.insideX));
        EXPECT_FALSE(IsDark(picture.ScanLine(c.outsideY) + 3 * c.outsideX));
    }
}

// Text in a picture needs Qt's fonts, which a program without a window must set up itself.
TEST(CliDocuments, SvgWithTextIsDrawn) {
    std::string dir = test::TempDir("cli-svg");
    std::ofstream(dir + "/words.svg") << "<svg xmlns='http://www.w3.org/2000/svg' width='120' height='40'>"
                                         "<rect width='120' height='40' fill='white'/>"
                                         "<text x='5' y='32' font-size='30'>MMMM</text></svg>";
    ASSERT_EQ(test::Run(kCli + " convert " + dir + "/words.svg " + dir + "/words.bmp 2>" + dir + "/err"), 0)
        << Slurp(dir + "/err");
    TDIB picture;
    picture.LoadFromFile(dir + "/words.bmp");
    ASSERT_EQ(picture.Width(), 120);
    ASSERT_EQ(picture.Height(), 40);
    int dark = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 120; ++x) dark += IsDark(picture.ScanLine(y) + 3 * x);
    EXPECT_GT(dark, 50);
}

TEST(CliDocuments, FileNothingCanDrawGivesItsMessage) {
    std::string dir = test::TempDir("cli-no-renderer");
    std::ofstream(dir + "/noise.xyz") << "\x01\x02 no picture at all";
    int status = test::Run(kCli + " convert " + dir + "/noise.xyz " + dir + "/o.bmp 2>" + dir + "/err");
    EXPECT_EQ(status, 1);
    EXPECT_NE(Slurp(dir + "/err").find("Cannot open \"noise.xyz\": nothing installed here can draw this kind of file."),
              std::string::npos)
        << Slurp(dir + "/err");
}

}  // namespace
}  // namespace tilvorn
