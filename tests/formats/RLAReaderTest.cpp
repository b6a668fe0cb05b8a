#include <cmath>
#include <filesystem>

#include <gtest/gtest.h>

#include "core/Exceptions.h"
#include "formats/AllFormats.h"
#include "formats/RLAImage.h"
#include "formats/ReaderChecks.h"
#include "formats/ReferencePixels.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using test::CorpusPath;
using test::DataPath;
using test::LoadWithPillow;
using test::PictureOf;
using test::SamePixels;

struct TRlaCase {
    const char* File;
    const char* Reference;  // under tests/data/formats
    int BitCount;
    bool BottomUp;
};

class RLAFixtures : public ::testing::TestWithParam<TRlaCase> {};

TEST_P(RLAFixtures, DecodeToTheirReferencePicture) {
    TILVORN_REQUIRE_PILLOW();
    const TRlaCase& c = GetParam();
    RegisterStandardFormats();
    const std::string path = DataPath(std::string("formats/") + c.File);
    ASSERT_EQ(GlobalFormatRegistry().ClassForFile(path), &TRLAGraphic::Class());
    TRLAGraphic reader;
    reader.ReadImageFile(path);
    EXPECT_EQ(reader.BitCount(), c.BitCount);
    EXPECT_EQ(reader.Properties.StoredBottomUp, c.BottomUp);
    EXPECT_FALSE(reader.Properties.Flags.Contains(ImageFlag::GammaInUse));
    EXPECT_TRUE(SamePixels(LoadWithPillow(DataPath(std::string("formats/") + c.Reference)), PictureOf(reader), 0,
                           c.BitCount == 32));
}

INSTANTIATE_TEST_SUITE_P(Files, RLAFixtures,
                         ::testing::Values(TRlaCase{"rla/rla-rgb-bottomup.rla", "ppm/source-colours.ppm", 24, true},
                                           TRlaCase{"rla/rla-rgb-topdown.rpf", "ppm/source-colours.ppm", 24, false},
                                           TRlaCase{"rla/rla-rgba-bottomup.rla", "psd/source-alpha.png", 32, true}));

TEST(RLAReader, GammaTwoPointTwoIsApplied) {
    TRLAGraphic plain, gamma;
    plain.ReadImageFile(DataPath("formats/rla/rla-rgb-bottomup.rla"));
    gamma.ReadImageFile(DataPath("formats/rla/rla-rgb-gamma22.rla"));
    EXPECT_FLOAT_EQ(gamma.Properties.Gamma, 2.2f);
    EXPECT_TRUE(gamma.Properties.Flags.Contains(ImageFlag::GammaInUse));
    for (int y = 0; y < plain.Height(); ++y)
        for (int x = 0; x < plain.Width(); ++x) {
            const TColor p = GetStorePixel(*plain.Image(), x, y), g = GetStorePixel(*gamma.Image(), x, y);
            for (auto [in, out] : {std::pair{ColorRed(p), ColorRed(g)}, std::pair{ColorBlue(p), ColorBlue(g)}}) {
                const double expected = std::pow(in / 255.0, 1.0 / (2.2 * 2.2)) * 255.0;
                EXPECT_NEAR(out, expected, 1.0) << x << "," << y;
            }
        }
}

TEST(RLAReader, XyzFilesLoadNothing) {
    TRLAGraphic reader;
    EXPECT_NO_THROW(reader.ReadImageFile(DataPath("formats/rla/rla-xyz.rla")));
    EXPECT_TRUE(reader.Empty());
    TFileStream stream(DataPath("formats/rla/rla-xyz.rla"), FileMode::OpenRead);
    EXPECT_TRUE(TRLAGraphic::ProbeStream(stream));
}

TEST(RLAReader, OtherChannelTypesFailAtTheConverter) {
    std::vector<uint8_t> data = test::ReadFileBytes(DataPath("formats/rla/rla-rgb-bottomup.rla"));
    std::copy_n("cmy", 3, data.begin() + 580);
    TCustomMemoryStream stream(data.data(), int64_t(data.size()));
    EXPECT_FALSE(TRLAGraphic::ProbeStream(stream));
    TRLAGraphic reader;
    try {
        reader.ReadImage(stream);
        ADD_FAILURE() << "read channel type cmy";
    } catch (const EColorConversionError& e) {
        EXPECT_STREQ(e.what(), "Color conversion failed. Could not find a proper method.");
    }
}

// The public files come in 8, 10 and 16 bits per channel of the same picture: the wider
// ones, reduced to 8 bits, must show what the 8-bit file shows.
TEST(RLACorpus, WideChannelsShowTheEightBitPicture) {
    const std::string dir = CorpusPath("oiio/rla");
    if (dir.empty()) GTEST_SKIP() << "the picture corpus is not there";
    for (const char* family : {"ginsu_rgb_nc", "ginsu_rgba_nc", "ginsu_a_nc", "imgmake_rgba_nc"}) {
        TRLAGraphic eight;
        eight.ReadImageFile(dir + "/" + family + "8.rla");
        EXPECT_EQ(eight.Width(), 512);
        EXPECT_FALSE(eight.Properties.Flags.Contains(ImageFlag::GammaInUse)) << "a gamma of 0 names none";
        for (const char* bits : {"10", "16"}) {
            const std::string name = std::string(family) + bits + ".rla";
            if (!std::filesystem::exists(dir + "/" + name)) continue;
            SCOPED_TRACE(name);
            TRLAGraphic wide;
            wide.ReadImageFile(dir + "/" + name);
            EXPECT_TRUE(SamePixels(PictureOf(eight), PictureOf(wide), 1, eight.BitCount() == 32));
        }
    }
    for (const char* broken : {"crash1.rla", "crash2.rla", "ginsu_rgb_ncf.rla"}) {
        TRLAGraphic reader;
        EXPECT_TRUE(test::ReadsOrFailsCleanly(reader, dir + "/" + broken)) << broken;
    }
}

}  // namespace
}  // namespace tilvorn
