// The HEIF reader against files heif-enc writes, compared with heif-convert's reading of them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "core/Streams.h"
#include "formats/AllFormats.h"
#include "formats/HEIFImage.h"
#include "formats/ReferencePixels.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using test::PictureOf;
using test::SamePixels;

bool HaveHeifTools() {
    return test::HaveTool("heif-enc") && test::HaveTool("heif-convert") && test::HaveTool("/usr/bin/convert");
}

struct THeifCase {
    const char* Name;
    const char* Source;  // ImageMagick's making of the PNG heif-enc reads, up to the output's prefix
    const char* Encoder;  // heif-enc's switches
    const char* Suffix;
    int BitCount;
};

class HEIFFromHeifEnc : public ::testing::TestWithParam<THeifCase> {};

TEST_P(HEIFFromHeifEnc, MatchHeifConvert) {
    if (!HaveHeifTools()) GTEST_SKIP() << "libheif-examples or ImageMagick is missing";
    const THeifCase& c = GetParam();
    const std::string dir = test::TempDir(std::string("heif-") + c.Name);
    const std::string file = dir + "/picture" + c.Suffix, shown = dir + "/shown.png";
    ASSERT_EQ(0, test::Run("/usr/bin/convert " + std::string(c.Source) + dir + "/in.png"));
    ASSERT_EQ(0,
              test::Run("heif-enc " + std::string(c.Encoder) + " " + dir + "/in.png -o " + file + " >/dev/null 2>&1"));
    ASSERT_EQ(0, test::Run("heif-convert " + file + " " + shown + " >/dev/null 2>&1"));

    RegisterStandardFormats();
    ASSERT_EQ(GlobalFormatRegistry().ClassForFile(file), &THEIFGraphic::Class());
    THEIFGraphic reader;
    reader.ReadImageFile(file);
    EXPECT_EQ(reader.BitCount(), c.BitCount);
    EXPECT_EQ(reader.Properties.HasAlphaChannel, c.BitCount == 32);
    const test::TRgbaPicture reference = test::LoadWithImageMagick(shown);
    ASSERT_FALSE(reference.Empty());
    EXPECT_TRUE(SamePixels(reference, PictureOf(reader), 2, c.BitCount == 32));
}

INSTANTIATE_TEST_SUITE_P(
    Files, HEIFFromHeifEnc,
    ::testing::Values(THeifCase{"heic", "-size 61x43 -seed 5 plasma:fractal -depth 8 PNG24:", "-q 90", ".heic", 24},
                      THeifCase{"avif", "-size 61x43 -seed 5 plasma:fractal -depth 8 PNG24:", "-A -q 90", ".avif", 24},
                      THeifCase{"heic_alpha",
                                "-size 61x43 gradient:red-blue \\( -size 43x61 gradient:black-white -rotate 90 \\) "
                                "-alpha off -compose copy_opacity -composite -depth 8 PNG32:",
                                "-q 90", ".heic", 32},
                      THeifCase{"avif_lossless", "-size 61x43 -seed 5 plasma:fractal -depth 8 PNG24:", "-A -L", ".avif",
                                24}),
    [](const ::testing::TestParamInfo<THeifCase>& info) { return std::string(info.param.Name); });

/// An ftyp box of the given major brand followed by the given compatible brands.
std::string FtypBox(const std::string& major, const std::string& compatible) {
    const uint32_t size = uint32_t(16 + compatible.size());
    std::string box = {char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
    return box + "ftyp" + major + std::string(4, '\0') + compatible + std::string(8, '\0');
}

TEST(HEIFReader, TheFtypBrandsDecide) {
    struct TCase {
        std::string Bytes;
        bool Heif;
    };
    for (const TCase& c : {TCase{FtypBox("heic", "mif1heic"), true}, TCase{FtypBox("avif", "mif1miaf"), true},
                           TCase{FtypBox("mif1", "heix"), true}, TCase{FtypBox("msf1", "hevc"), true},
                           TCase{FtypBox("isom", "iso2avc1mp41"), false},  // a video
                           TCase{FtypBox("mp42", "isomavif"), true},  // a compatible brand counts
                           TCase{"\0\0\0\x18"
                                 "free" +
                                     std::string(20, 'a'),
                                 false}}) {
        TCustomMemoryStream stream(c.Bytes.data(), int64_t(c.Bytes.size()));
        EXPECT_EQ(THEIFGraphic::ProbeStream(stream), c.Heif) << c.Bytes.substr(8, 4);
        EXPECT_EQ(stream.Position(), 0);
    }
}

TEST(HEIFReader, FilesLibheifCannotDecodeGetAClearMessage) {
    const std::string prefix = "Cannot load image. The HEIF image cannot be decoded: ";
    std::vector<std::string> files = {FtypBox("heic", "mif1heic")};  // nothing after its ftyp
    if (HaveHeifTools()) {
        const std::string dir = test::TempDir("heif-cut");
        ASSERT_EQ(0, test::Run("/usr/bin/convert -size 61x43 -seed 5 plasma:fractal -depth 8 " + dir + "/in.png"));
        ASSERT_EQ(0, test::Run("heif-enc -q 90 " + dir + "/in.png -o " + dir + "/a.heic >/dev/null 2>&1"));
        const std::vector<uint8_t> whole = test::ReadFileBytes(dir + "/a.heic");
        files.emplace_back(whole.begin(), whole.begin() + long(whole.size() / 2));
    }
    for (const std::string& bytes : files) {
        THEIFGraphic reader;
        TCustomMemoryStream stream(bytes.data(), int64_t(bytes.size()));
        try {
            reader.ReadImage(stream);
            ADD_FAILURE() << "a broken file read without an error";
        } catch (const Exception& e) {
            const std::string text = e.what();
            EXPECT_EQ(text.substr(0, prefix.size()), prefix);
            EXPECT_GT(text.size(), prefix.size() + 2) << "libheif's reason is named";
        }
        EXPECT_TRUE(reader.Empty());
    }
}

}  // namespace
}  // namespace tilvorn
