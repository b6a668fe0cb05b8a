// Frames of every layout into the rows of the picture, chunk by chunk, without a scanner.
#include <gtest/gtest.h>

#include <cstring>

#include "core/Exceptions.h"
#include "sane/SaneFrames.h"
#include "sane/SaneTestSupport.h"

namespace tilvorn::sane {
namespace {

using test::sane::PixelsOf;

// Feeds bytes one at a time, so every line is split across writes.
void WriteBytewise(TSaneRows& rows, const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) rows.Write(&b, 1);
}

std::vector<uint8_t> Host16(std::initializer_list<uint16_t> samples) {
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), std::data(samples), bytes.size());
    return bytes;
}

struct FrameCase {
    const char* name;
    TSaneFrame frame;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> rgb;  // expected, top row first
};

class SaneFramesTest : public ::testing::TestWithParam<FrameCase> {};

TEST_P(SaneFramesTest, LinesBecomePixels) {
    const FrameCase& c = GetParam();
    TDIB picture;
    TSaneRows rows(picture);
    rows.BeginFrame(c.frame);
    WriteBytewise(rows, c.bytes);
    rows.EndFrame();
    EXPECT_EQ(PixelsOf(picture).rgb, c.rgb);
    EXPECT_EQ(picture.BitCount(), 24);
}

using F = TSaneFrameFormat;
INSTANTIATE_TEST_SUITE_P(Layouts, SaneFramesTest,
                         ::testing::Values(
                             // 1 = black; the padding bits of the line and its spare byte are not pixels.
                             FrameCase{"Gray1",
                                       {F::Gray, 1, 2, 3, 2},
                                       {0b10100000, 0xAA, 0b01011111, 0x00},
                                       {0x000000, 0xFFFFFF, 0x000000, 0xFFFFFF, 0x000000, 0xFFFFFF}},
                             FrameCase{"Gray8", {F::Gray, 8, 3, 2, 1}, {0x10, 0xF0, 0x77}, {0x101010, 0xF0F0F0}},
                             FrameCase{
                                 "Gray16", {F::Gray, 16, 4, 2, 1}, Host16({0x12FF, 0xAB01}), {0x121212, 0xABABAB}},
                             FrameCase{"RGB8", {F::RGB, 8, 6, 2, 1}, {1, 2, 3, 4, 5, 6}, {0x010203, 0x040506}},
                             FrameCase{"RGB16", {F::RGB, 16, 6, 1, 1}, Host16({0x1100, 0x22FF, 0x3380}), {0x112233}},
                             // A set bit in a colour frame is full intensity.
                             FrameCase{"RGB1", {F::RGB, 1, 1, 2, 1}, {0b10101100}, {0xFF00FF, 0x00FFFF}},
                             // Lines past the announced ones are dropped; missing ones stay white.
                             FrameCase{"MoreLines", {F::Gray, 8, 1, 1, 1}, {0x40, 0x50}, {0x404040}},
                             FrameCase{"FewerLines", {F::Gray, 8, 1, 1, 2}, {0x40}, {0x404040, 0xFFFFFF}}),
                         [](const ::testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.name); });

TEST(SaneFrames, ThreeFramesFillTheirChannels) {
    TDIB picture;
    TSaneRows rows(picture);
    const std::pair<F, uint8_t> frames[] = {{F::Green, 0x22}, {F::Blue, 0x33}, {F::Red, 0x11}};
    for (const auto& [format, value] : frames) {
        rows.BeginFrame({format, 8, 2, 2, 1});
        WriteBytewise(rows, {value, uint8_t(value + 1)});
        rows.EndFrame();
    }
    EXPECT_EQ(PixelsOf(picture).rgb, (std::vector<uint32_t>{0x112233, 0x122334}));
}

TEST(SaneFrames, UnknownHeightGrowsAndIsCut) {
    TDIB picture;
    TSaneRows rows(picture);
    rows.BeginFrame({F::Gray, 8, 1, 1, -1});
    std::vector<uint8_t> lines(150);
    for (size_t i = 0; i < lines.size(); ++i) lines[i] = uint8_t(i);
    rows.Write(lines.data(), lines.size());
    rows.EndFrame();
    ASSERT_EQ(picture.Height(), 150);
    const auto rgb = PixelsOf(picture).rgb;
    for (int y = 0; y < 150; ++y) ASSERT_EQ(rgb[y], uint32_t(y) * 0x010101) << "row " << y;

    // A second frame of unknown height fills the height of the first.
    rows.BeginFrame({F::Red, 8, 1, 1, -1});
    std::vector<uint8_t> red(200, 0xAB);
    rows.Write(red.data(), red.size());
    rows.EndFrame();
    EXPECT_EQ(picture.Height(), 150);
}

struct BadCase {
    const char* name;
    TSaneFrame first, second;
};

class SaneBadFrameTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(SaneBadFrameTest, IsRefused) {
    TDIB picture;
    TSaneRows rows(picture);
    const BadCase& c = GetParam();
    EXPECT_THROW(
        {
            rows.BeginFrame(c.first);
            if (c.second.pixelsPerLine) rows.BeginFrame(c.second);
        },
        EInvalidGraphic);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SaneBadFrameTest,
    ::testing::Values(BadCase{"LineTooShortForItsPixels", {F::RGB, 8, 5, 2, 1}, {}},
                      BadCase{"LineTooShortForItsBits", {F::Gray, 1, 1, 9, 1}, {}},
                      BadCase{"Depth4", {F::Gray, 4, 4, 8, 1}, {}}, BadCase{"NoPixels", {F::Gray, 8, 4, 0, 1}, {}},
                      BadCase{"NoLines", {F::Gray, 8, 4, 4, 0}, {}},
                      BadCase{"FramesOfOtherWidths", {F::Red, 8, 4, 4, 2}, {F::Green, 8, 4, 3, 2}},
                      BadCase{"FramesOfOtherHeights", {F::Red, 8, 4, 4, 2}, {F::Green, 8, 4, 4, 3}}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

TEST(SaneFrames, AFrameOfUnknownHeightWithoutLinesIsRefused) {
    TDIB picture;
    TSaneRows rows(picture);
    rows.BeginFrame({F::Gray, 8, 1, 1, -1});
    EXPECT_THROW(rows.EndFrame(), EInvalidGraphic);
}

}  // namespace
}  // namespace tilvorn::sane
