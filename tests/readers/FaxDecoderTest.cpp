// The fax decoders: their code trees, hand-made code sequences, and strips written by
// libtiff's tools, Pillow and Netpbm, checked against the pictures they were made from.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "readers/ReaderCodecs.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using Bytes = std::vector<uint8_t>;

/// "0111 11" → bytes, most significant bit first, the last byte padded with zeros.
Bytes FromBits(const std::string& bits) {
    Bytes out;
    int used = 0;
    for (char c : bits) {
        if (c != '0' && c != '1') continue;
        if (used % 8 == 0) out.push_back(0);
        if (c == '1') out.back() |= static_cast<uint8_t>(0x80 >> (used % 8));
        ++used;
    }
    return out;
}

uint8_t Reversed(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1 << i)) r |= static_cast<uint8_t>(0x80 >> i);
    return r;
}

enum class Kind { Fax3, MH };

/// Decodes into a target that ends where its allocation ends (AddressSanitizer sees any
/// write past it) and answers the target.
Bytes Decode(Kind kind, const Bytes& coded, uint32_t width, size_t targetSize, bool reverseBits = false,
             bool wordAligned = false, uint32_t options = 0) {
    auto codedCopy = std::make_unique<uint8_t[]>(coded.size() + 1);
    std::copy(coded.begin(), coded.end(), codedCopy.get());
    auto target = std::make_unique<uint8_t[]>(targetSize + 1);
    std::fill_n(target.get(), targetSize, 0xEE);
    std::unique_ptr<TCCITTDecoder> decoder;
    if (kind == Kind::Fax3)
        decoder = std::make_unique<TCCITTFax3Decoder>(options, reverseBits, wordAligned, width);
    else
        decoder = std::make_unique<TCCITTMHDecoder>(options, reverseBits, wordAligned, width);
    TSourcePos source(codedCopy.get(), coded.size());
    TDestPos dest(target.get(), targetSize);
    decoder->BeginDecompress();
    decoder->Decompress(source, dest, static_cast<int32_t>(coded.size()), static_cast<int32_t>(targetSize));
    decoder->EndDecompress();
    EXPECT_EQ(source.Pos, codedCopy.get()) << "the fax decoders leave Source";
    EXPECT_EQ(dest.Pos, target.get()) << "the fax decoders leave Dest";
    EXPECT_TRUE(std::equal(coded.begin(), coded.end(), codedCopy.get())) << "the coded data stay as they were";
    return Bytes(target.get(), target.get() + targetSize);
}

// --- the code trees ---------------------------------------------------------------------------

struct TreeWalk {
    int leaves = 0, endOfLines = 0, invalid = 0, makeUps = 0, terminating = 0;
    bool complete = true;
    double kraft = 0;
};

void Walk(const TCodeTree& tree, int32_t node, int depth, TreeWalk& walk) {
    const TCodeTreeNode& n = tree[node];
    if (n.Branch0 == 0 && n.Branch1 == 0) {
        ++walk.leaves;
        walk.kraft += std::ldexp(1.0, -depth);
        if (n.Value == -1)
            ++walk.endOfLines;
        else if (n.Value == -2)
            ++walk.invalid;
        else if (n.Value >= 64)
            ++walk.makeUps;
        else
            ++walk.terminating;
        return;
    }
    if (n.Branch0 == 0 || n.Branch1 == 0) walk.complete = false;
    for (int32_t child : {n.Branch0, n.Branch1})
        if (child != 0) Walk(tree, child, depth + 1, walk);
}

TEST(FaxCodeTrees, HoldEveryCodeAndCloseEveryBitSequence) {
    TCCITTMHDecoder decoder(0, false, false, 8);
    for (bool white : {true, false}) {
        SCOPED_TRACE(white ? "white" : "black");
        TreeWalk walk;
        Walk(decoder.Tree(white), 0, 0, walk);
        EXPECT_TRUE(walk.complete) << "a node with a single child";
        EXPECT_EQ(walk.terminating, 64);
        EXPECT_EQ(walk.makeUps, 40);
        EXPECT_EQ(walk.endOfLines, 1);
        EXPECT_EQ(walk.invalid, 4);
        EXPECT_DOUBLE_EQ(walk.kraft, 1.0) << "the codes are a complete prefix code";
    }
}

// --- hand-made modified Huffman rows ----------------------------------------------------------

struct RowCase {
    std::string name;
    Kind kind;
    std::string bits;
    uint32_t width;
    size_t targetSize;
    Bytes expected;
};

std::ostream& operator<<(std::ostream& out, const RowCase& c) { return out << c.name; }

class FaxRows : public testing::TestWithParam<RowCase> {};

TEST_P(FaxRows, DecodeToPackedBits) {
    const RowCase& c = GetParam();
    EXPECT_EQ(Decode(c.kind, FromBits(c.bits), c.width, c.targetSize), c.expected);
}

const std::string kEOL = "000000000001";

const RowCase kRowCases[] = {
    // white 2 (0111), black 2 (11)
    {"WhiteTwoBlackTwo", Kind::MH, "0111 11", 4, 1, {0x30}},
    // white 3 (1000), black 5 (0011): the codes fill the only coded byte exactly
    {"WhiteThreeBlackFiveInOneByte", Kind::MH, "1000 0011", 8, 1, {0x1F}},
    {"WhiteThreeBlackFivePadded", Kind::MH, "1000 0011 00000000", 8, 1, {0x1F}},
    // white make-up 64 (11011) + white 2 (0111) = 66, then black 4 (011)
    {"MakeUpPlusTerminating", Kind::MH, "11011 0111 011", 70, 9, {0, 0, 0, 0, 0, 0, 0, 0, 0x3C}},
    // extended make-up 1792 + white 0, then black 8 (000101)
    {"ExtendedMakeUp", Kind::MH, "00000001000 00110101 000101", 1800, 225,
     [] {
         Bytes b(225, 0);
         b[224] = 0xFF;
         return b;
     }()},
    // white 0 (00110101), black make-up 64 (0000001111) + black 0 (0000110111)
    {"BlackMakeUp", Kind::MH, "00110101 0000001111 0000110111", 64, 8, Bytes(8, 0xFF)},
    // a row starting black: white 0, black 3 (10), white 5 (1100)
    {"RowStartingBlack", Kind::MH, "00110101 10 1100", 8, 1, {0xE0}},
    // a run longer than the row is cut at the row's end; the next row follows
    {"RunCutAtRowEnd", Kind::MH, "0111 0011 1000 0011", 4, 2, {0x30, 0x10}},
    // rows start on the next coded byte
    {"RowsOnByteBoundaries", Kind::MH, "0111 11 00 1000 0011", 4, 2, {0x30, 0x10}},
    // the target ends: decoding stops there
    {"TargetEndsDecoding", Kind::MH, "0111 11 00 0111 11 00 0111 11 00", 4, 2, {0x30, 0x30}},
    // fill zeros and an end of line, then the first row
    {"Fax3FillThenEOL", Kind::Fax3, "0000 " + kEOL + " 1000 0011", 8, 1, {0x1F}},
    // an end of line inside a row ends it short (white); the next row needs no search
    {"Fax3EOLEndsRowShort", Kind::Fax3, kEOL + " 0111 " + kEOL + " 1000 0011", 8, 2, {0x00, 0x1F}},
    // an invalid code ends the row; the next row is found by its end of line
    {"Fax3InvalidCodeEndsRow", Kind::Fax3, kEOL + " 1000 000000001 11111 " + kEOL + " 1000 0011", 8, 2, {0x00, 0x1F}},
    // the last row's codes lie in the last coded byte
    {"Fax3LastRowInLastByte", Kind::Fax3, kEOL + " 1000 0011 " + kEOL + " 0111 11", 4, 2, {0x10, 0x30}},
    // the last row's end of line closes in the last coded byte, before the row's codes
    {"Fax3EOLEndsInLastByte", Kind::Fax3, kEOL + " 1000 0011 0000000000 " + kEOL + " 0111 11", 4, 2, {0x10, 0x30}},
    // rows short of codes stay white; data end early
    {"Fax3DataEndEarly", Kind::Fax3, kEOL + " 0111 11", 4, 3, {0x30, 0x00, 0x00}},
};

INSTANTIATE_TEST_SUITE_P(Codes, FaxRows, testing::ValuesIn(kRowCases),
                         [](const auto& info) { return info.param.name; });

TEST(FaxDecoders, ReadReversedBitOrderWithoutChangingTheCodedData) {
    for (Kind kind : {Kind::MH, Kind::Fax3}) {
        const std::string bits = kind == Kind::MH ? "1000 0011 0111 0010" : kEOL + " 1000 0011" + kEOL + " 0111 0010";
        Bytes coded = FromBits(bits);
        for (uint8_t& b : coded) b = Reversed(b);
        // Decode() also checks that the caller's buffer is unchanged; a second decoding of the
        // same buffer gives the same rows.
        EXPECT_EQ(Decode(kind, coded, 8, 2, true), (Bytes{0x1F, 0x3F}));
        EXPECT_EQ(Decode(kind, coded, 8, 2, true), (Bytes{0x1F, 0x3F}));
    }
    // The coded byte 80 hex is read as 01 hex: seven white bits then a black one, which is
    // the start of the end-of-line search's closing 1.
    EXPECT_EQ(Decode(Kind::Fax3, Bytes{0x00, 0x80, 0xC1}, 8, 1, true), (Bytes{0x1F}));
}

TEST(FaxDecoders, WordAlignedRowsStartAtEvenOffsets) {
    struct Case {
        const char* name;
        std::string bits;
        Bytes expected;
    } cases[] = {
        // row 0 ends inside byte 0: byte 1 is skipped, row 1 starts at byte 2
        {"EndsInsideByte", "0111 11 00 10101010 1000 0011", {0x30, 0x10}},
        // row 0 ends exactly with byte 0: byte 1 is still skipped
        {"EndsOnByteBoundary", "0111 0011 10101010 0111 11 00", {0x30, 0x30}},
        // row 0 ends inside byte 1: row 1 starts at byte 2
        {"EndsInsideOddByte", "00110101 11 0111 00 1000 0011", {0xC0, 0x10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Decode(Kind::MH, FromBits(c.bits), 4, 2, false, true), c.expected);
    }
    // Without word alignment the padding byte is read as codes.
    EXPECT_NE(Decode(Kind::MH, FromBits("0111 0011 10101010 0111 11 00"), 4, 2), (Bytes{0x30, 0x30}));
}

TEST(FaxDecoders, EmptyInputsLeaveTheTargetCleared) {
    for (Kind kind : {Kind::MH, Kind::Fax3}) {
        EXPECT_EQ(Decode(kind, Bytes{}, 8, 3), Bytes(3, 0));
        EXPECT_EQ(Decode(kind, Bytes{0xFF, 0x00}, 0, 2), Bytes(2, 0)) << "rows of width 0";
        EXPECT_EQ(Decode(kind, Bytes(40, 0x00), 16, 4), Bytes(4, 0)) << "zeros only";
    }
}

// --- strips made by other programs ------------------------------------------------------------

struct Picture {
    uint32_t width = 0, height = 0;
    Bytes rows;  // packed 1-bit rows, black = 1, as the decoders write them
};

Picture ReadPBM(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    Picture p;
    in >> magic >> p.width >> p.height;
    in.get();
    EXPECT_EQ(magic, "P4") << path;
    p.rows.resize(size_t((p.width + 7) / 8) * p.height);
    in.read(reinterpret_cast<char*>(p.rows.data()), static_cast<std::streamsize>(p.rows.size()));
    return p;
}

struct FixtureCase {
    const char* file;
    Kind kind;
    bool reverseBits;
    bool wordAligned;
    uint32_t options;
};

class FaxFixtures : public testing::TestWithParam<FixtureCase> {};

TEST_P(FaxFixtures, DecodeToThePictureTheyWereMadeFrom) {
    const FixtureCase& c = GetParam();
    const Picture picture = ReadPBM(test::DataPath("codecs/picture.pbm"));
    ASSERT_EQ(picture.width, 1900u);
    const Bytes coded = test::ReadFileBytes(test::DataPath(std::string("codecs/") + c.file));
    ASSERT_FALSE(coded.empty());
    EXPECT_EQ(Decode(c.kind, coded, picture.width, picture.rows.size(), c.reverseBits, c.wordAligned, c.options),
              picture.rows);
}

INSTANTIATE_TEST_SUITE_P(Tools, FaxFixtures,
                         testing::Values(FixtureCase{"mh.fax", Kind::MH, false, false, 0},
                                         FixtureCase{"mhw.fax", Kind::MH, false, true, 0},
                                         FixtureCase{"g3_1d.fax", Kind::Fax3, false, false, 0},
                                         FixtureCase{"g3_1d_fill_lsb.fax", Kind::Fax3, true, false, 4},
                                         FixtureCase{"fax2tiff_lsb.fax", Kind::Fax3, true, false, 0}),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             return name.substr(0, name.find('.'));
                         });

TEST(FaxFixtures, TwoDimensionalDataAreReadWithTheOneDimensionalTrees) {
    const Picture picture = ReadPBM(test::DataPath("codecs/picture.pbm"));
    const Bytes coded = test::ReadFileBytes(test::DataPath("codecs/g3_2d.fax"));
    ASSERT_FALSE(coded.empty());
    // No error and nothing outside the target (checked by Decode's tight buffers); the rows
    // are not those of the picture.
    const Bytes rows = Decode(Kind::Fax3, coded, picture.width, picture.rows.size(), false, false, 1);
    EXPECT_EQ(rows.size(), picture.rows.size());
    EXPECT_NE(rows, picture.rows);
}

// Random pictures of awkward widths, coded by Netpbm's pbmtog3 at the time of the test.
TEST(FaxDecoders, DecodeNetpbmG3OfManyWidths) {
    if (!test::HaveTool("pbmtog3")) GTEST_SKIP() << "Netpbm is not installed";
    const std::string dir = test::TempDir("fax_widths");
    std::mt19937 random(11);
    for (uint32_t width : {1u, 7u, 9u, 63u, 64u, 65u, 333u, 1728u, 2600u}) {
        for (const char* options : {"", "-align8", "-align16", "-reversebits"}) {
            SCOPED_TRACE("width " + std::to_string(width) + " " + options);
            Picture picture{width, 12, {}};
            const size_t rowBytes = (width + 7) / 8;
            picture.rows.resize(rowBytes * picture.height);
            // Each row has its own density of black, from empty to full.
            for (uint32_t y = 0; y < picture.height; ++y) {
                const unsigned density = y * 100 / (picture.height - 1);
                for (uint32_t x = 0; x < width; ++x)
                    if (random() % 100 < density && (x / 37 + y) % 3 != 0)
                        picture.rows[y * rowBytes + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
            const std::string pbm = dir + "/p.pbm", g3 = dir + "/p.g3";
            std::ofstream(pbm, std::ios::binary) << "P4\n"
                                                 << width << " " << picture.height << "\n"
                                                 << std::string(picture.rows.begin(), picture.rows.end());
            ASSERT_EQ(
                test::Run("pbmtog3 -nofixedwidth " + std::string(options) + " " + pbm + " > " + g3 + " 2>/dev/null"),
                0);
            const bool reversed = std::string(options) == "-reversebits";
            EXPECT_EQ(Decode(Kind::Fax3, test::ReadFileBytes(g3), width, picture.rows.size(), reversed), picture.rows);
        }
    }
}

}  // namespace
}  // namespace tilvorn
