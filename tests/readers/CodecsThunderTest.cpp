// The ThunderScan decoder: raw pixels, runs, two- and three-bit deltas, and lines that each
// start from a fresh delta base in bytes of their own.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "readers/ReaderCodecs.h"

namespace tilvorn {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t U = 0xEE;  // a target byte the decoder must not touch

struct ThunderCase {
    std::string name;
    int32_t lineLength;
    int32_t pixelsPerLine;  // -1: two per byte
    Bytes coded;
    int32_t unpackedSize;
    Bytes expected;  // the whole target afterwards
};

std::ostream& operator<<(std::ostream& out, const ThunderCase& c) { return out << c.name; }

class ThunderLines : public testing::TestWithParam<ThunderCase> {};

TEST_P(ThunderLines, DecodeToFourBitPixels) {
    const ThunderCase& c = GetParam();
    auto coded = std::make_unique<uint8_t[]>(c.coded.size() + 1);
    std::copy(c.coded.begin(), c.coded.end(), coded.get());
    auto target = std::make_unique<uint8_t[]>(c.expected.size() + 1);
    std::fill_n(target.get(), c.expected.size(), U);
    TThunderDecoder decoder(c.lineLength, c.pixelsPerLine);
    TSourcePos source(coded.get(), c.coded.size());
    TDestPos dest(target.get(), c.expected.size());
    decoder.Decompress(source, dest, int32_t(c.coded.size()), c.unpackedSize);
    EXPECT_EQ(Bytes(target.get(), target.get() + c.expected.size()), c.expected);
    EXPECT_EQ(source.Pos, coded.get());
    EXPECT_EQ(dest.Pos, target.get());
}

const ThunderCase kCases[] = {
    // raw 5 then raw 7
    {"TwoRawPixels", 1, -1, {0xC5, 0xC7}, 1, {0x57}},
    // raw 5, then a run of three more
    {"RunAfterOddPixel", 2, -1, {0xC5, 0x03}, 2, {0x55, 0x55}},
    // raw 5 and 6, then a run of three: the last pixel stands alone in the high half
    {"OddRunAfterEvenPixels", 3, -1, {0xC5, 0xC6, 0x03}, 3, {0x56, 0x66, 0x60}},
    // a run of 0 changes nothing
    {"EmptyRun", 1, -1, {0xC5, 0x00, 0xC7}, 1, {0x57}},
    // raw 8, deltas +1, -1 and a skipped field
    {"TwoBitDeltas", 2, -1, {0xC8, 0x5E}, 2, {0x89, 0x80}},
    // raw 4, deltas +2 and -3; a skipped field, then +1
    {"ThreeBitDeltas", 2, -1, {0xC4, 0x95, 0xA1}, 2, {0x46, 0x34}},
    // deltas wrap within four bits
    {"DeltasWrap", 1, -1, {0xCF, 0x51}, 1, {0xF0}},
    // each line starts from delta base 0 in its own bytes
    {"LinesRestartTheDeltaBase", 2, -1, {0xC1, 0xC2, 0xC3, 0xC4, 0x55, 0xC7}, 4, {0x12, 0x34, 0x12, 0x37}},
    // a run longer than its line is cut at the line's end; the next line is not touched by it
    {"RunCutAtLineEnd", 2, -1, {0xC9, 0x3F, 0xC1, 0xC2}, 4, {0x99, 0x99, 0x12, U}},
    // lines of three pixels in two bytes each
    {"OddWidthLines", 2, 3, {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6}, 4, {0x12, 0x30, 0x45, 0x60}},
    // UnpackedSize ends the decoding even with data left
    {"UnpackedSizeEnds", 1, -1, {0xC1, 0xC2, 0xC3, 0xC4}, 1, {0x12, U}},
    // the target ends before UnpackedSize
    {"TargetEnds", 1, -1, {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6}, 10, {0x12, 0x34}},
    // data end inside a line: the rest of the line is left as it was
    {"DataEndEarly", 2, -1, {0xC1}, 2, {0x10, U}},
    {"NoLineLength", 0, -1, {0xC1}, 2, {U, U}},
};

INSTANTIATE_TEST_SUITE_P(Codes, ThunderLines, testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tilvorn
