#include <gtest/gtest.h>

#include "formats/CUTImage.h"
#include "image/DIB.h"
#include "support/TestSupport.h"

using namespace tilvorn;

namespace {

const std::string kCli = std::string(TILVORN_BINARY_DIR) + "/src/tilvorn-cli";

TEST(CliConvert, ReaderOptionOpensDrHaloPicturesWithTheirPalette) {
    const std::string dir = test::TempDir("cli_convert_cut");
    const std::string in = test::DataPath("formats/cut/cut-picture.cut");
    ASSERT_EQ(test::Run(kCli + " convert --reader cut " + in + " " + dir + "/out.bmp >/dev/null 2>&1"), 0);
    TDIB written;
    written.LoadFromFile(dir + "/out.bmp");
    TCUTGraphic direct;
    direct.ReadImageFile(in);
    ASSERT_EQ(written.Width(), direct.Width());
    ASSERT_EQ(written.Height(), direct.Height());
    ASSERT_EQ(written.BitCount(), 24);
    for (int y = 0; y < direct.Height(); ++y)
        for (int x = 0; x < direct.Width(); ++x)
            ASSERT_EQ(GetStorePixel(*written.Image(), x, y), GetStorePixel(*direct.Image(), x, y)) << x << "," << y;
    // The palette file gave colours, not the grey ramp.
    EXPECT_NE(GetStorePixel(*written.Image(), 1, 0),
              RGBColor(direct.ScanLine(0)[1], direct.ScanLine(0)[1], direct.ScanLine(0)[1]));
}

TEST(CliConvert, ReaderOptionNeedsARegisteredExtension) {
    const std::string dir = test::TempDir("cli_convert_noreader");
    const std::string in = test::DataPath("formats/cut/cut-picture.cut");
    EXPECT_NE(test::Run(kCli + " convert --reader xyz " + in + " " + dir + "/out.bmp >/dev/null 2>&1"), 0);
    EXPECT_NE(test::Run(kCli + " convert --reader cut " + in + " >/dev/null 2>&1"), 0);
}

}  // namespace
