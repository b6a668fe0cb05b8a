// The run-length decoders: their packet rules, what they consume, and that damaged data
// never make them read or write outside the buffers they are given.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "readers/ReaderCodecs.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using Bytes = std::vector<uint8_t>;
using DecoderFactory = std::function<std::unique_ptr<TDecoder>()>;

template <typename T, typename... Args>
DecoderFactory Make(Args... args) {
    return [=] { return std::unique_ptr<TDecoder>(new T(args...)); };
}

struct RunLengthCase {
    std::string name;
    DecoderFactory decoder;
    Bytes coded;
    int32_t packedSize;
    int32_t unpackedSize;
    size_t targetSize;  // room given to the decoder
    Bytes expected;  // the whole target afterwards (untouched bytes stay 0xEE)
    ptrdiff_t consumed;  // how far Source moves (0 for decoders that leave it)
};

std::ostream& operator<<(std::ostream& out, const RunLengthCase& c) { return out << c.name; }

constexpr uint8_t U = 0xEE;  // a target byte the decoder must not touch

class RunLengthDecoders : public testing::TestWithParam<RunLengthCase> {};

TEST_P(RunLengthDecoders, DecodeAsThePacketsSay) {
    const RunLengthCase& c = GetParam();
    // Both buffers sit at the very end of their allocations, so AddressSanitizer sees any
    // read or write past them.
    auto coded = std::make_unique<uint8_t[]>(c.coded.size() + 1);
    std::copy(c.coded.begin(), c.coded.end(), coded.get());
    auto target = std::make_unique<uint8_t[]>(c.targetSize + 1);
    std::fill_n(target.get(), c.targetSize, U);

    TSourcePos source(coded.get(), c.coded.size());
    TDestPos dest(target.get(), c.targetSize);
    auto decoder = c.decoder();
    decoder->BeginDecompress();
    decoder->Decompress(source, dest, c.packedSize, c.unpackedSize);
    decoder->EndDecompress();

    EXPECT_EQ(Bytes(target.get(), target.get() + c.targetSize), c.expected);
    EXPECT_EQ(source.Pos - coded.get(), c.consumed);
    EXPECT_EQ(dest.Pos, target.get()) << "run-length decoders leave the target position";
}

const RunLengthCase kCases[] = {
    // PackBits
    {"PackBitsLiteral", Make<TPackbitsRLEDecoder>(), {0x02, 'A', 'B', 'C'}, 4, 3, 3, {'A', 'B', 'C'}, 0},
    {"PackBitsRun", Make<TPackbitsRLEDecoder>(), {0xFE, 'X'}, 2, 3, 3, {'X', 'X', 'X'}, 0},
    {"PackBitsNoOpHeader", Make<TPackbitsRLEDecoder>(), {0x80, 0x00, 'Q'}, 3, 1, 1, {'Q'}, 0},
    {"PackBitsStopsAtUnpackedSize", Make<TPackbitsRLEDecoder>(), {0xFB, 'Z'}, 2, 4, 6, {'Z', 'Z', 'Z', 'Z', U, U}, 0},
    {"PackBitsLiteralCutByPackedSize", Make<TPackbitsRLEDecoder>(), {0x05, 1, 2}, 3, 6, 6, {1, 2, U, U, U, U}, 0},
    {"PackBitsRunWithoutValue", Make<TPackbitsRLEDecoder>(), {0xFD}, 1, 4, 4, {U, U, U, U}, 0},
    {"PackBitsPackedSizeBeyondData", Make<TPackbitsRLEDecoder>(), {0x03, 7}, 100, 4, 4, {7, U, U, U}, 0},
    {"PackBitsUnpackedSizeBeyondTarget", Make<TPackbitsRLEDecoder>(), {0x81, 9}, 2, 100, 3, {9, 9, 9}, 0},
    // PCX
    {"PCXRun", Make<TPCXRLEDecoder>(), {0xC3, 7}, 0, 3, 3, {7, 7, 7}, 0},
    {"PCXPlainByte", Make<TPCXRLEDecoder>(), {0x3F}, 0, 1, 1, {0x3F}, 0},
    {"PCXZeroCountConsumesValue", Make<TPCXRLEDecoder>(), {0xC0, 5, 0x11}, 0, 1, 2, {0x11, U}, 0},
    {"PCXRunCutAtUnpackedSize", Make<TPCXRLEDecoder>(), {0xC5, 4, 0x12}, 0, 3, 4, {4, 4, 4, U}, 0},
    {"PCXRunWithoutValue", Make<TPCXRLEDecoder>(), {0x01, 0xC4}, 0, 5, 5, {1, U, U, U, U}, 0},
    {"PCXUnpackedSizeBeyondTarget", Make<TPCXRLEDecoder>(), {0xFF, 3}, 0, 63, 5, {3, 3, 3, 3, 3}, 0},
    // Targa, 24-bit pixels, 8-bit pixels
    {"TargaRunPacket", Make<TTargaRLEDecoder>(24), {0x81, 1, 2, 3}, 0, 2, 6, {1, 2, 3, 1, 2, 3}, 4},
    {"TargaRawPacket", Make<TTargaRLEDecoder>(24), {0x01, 1, 2, 3, 4, 5, 6}, 0, 2, 6, {1, 2, 3, 4, 5, 6}, 7},
    {"TargaPacketPastRowIsConsumedWhole", Make<TTargaRLEDecoder>(8), {0x83, 9, 0x00, 5}, 0, 2, 3, {9, 9, 9}, 2},
    {"TargaPacketPastRowFillsSpareRoom", Make<TTargaRLEDecoder>(8), {0x83, 9}, 0, 2, 5, {9, 9, 9, 9, U}, 2},
    {"TargaTwoPackets", Make<TTargaRLEDecoder>(8), {0x00, 4, 0x81, 6, 0x7F}, 0, 3, 3, {4, 6, 6}, 4},
    {"TargaCutRunPixel", Make<TTargaRLEDecoder>(16), {0x82, 1}, 0, 3, 6, {U, U, U, U, U, U}, 2},
    {"TargaCutRawPacket", Make<TTargaRLEDecoder>(16), {0x02, 1, 2, 3}, 0, 3, 6, {1, 2, 3, U, U, U}, 4},
    {"TargaUnknownDepth", Make<TTargaRLEDecoder>(12), {0x81, 1, 2}, 0, 2, 2, {U, U}, 0},
    // SGI, 8 and 16 bits
    {"SGILiteral", Make<TSGIRLEDecoder>(8), {0x83, 1, 2, 3, 0}, 0, 0, 4, {1, 2, 3, U}, 0},
    {"SGIRun", Make<TSGIRLEDecoder>(8), {0x05, 'V', 0}, 0, 0, 6, {'V', 'V', 'V', 'V', 'V', U}, 0},
    {"SGIZeroEndsRow", Make<TSGIRLEDecoder>(8), {0x00, 0x82, 1, 2}, 0, 0, 2, {U, U}, 0},
    {"SGIRowWithoutEnd", Make<TSGIRLEDecoder>(8), {0x82, 1, 2, 0x7F}, 0, 0, 4, {1, 2, U, U}, 0},
    {"SGIRunPastTarget", Make<TSGIRLEDecoder>(8), {0x7F, 3, 0}, 0, 0, 4, {3, 3, 3, 3}, 0},
    {"SGI16LiteralThenRun",
     Make<TSGIRLEDecoder>(16),
     {0x00, 0x82, 0x12, 0x34, 0x56, 0x78, 0x00, 0x02, 0xAB, 0xCD, 0, 0},
     0,
     0,
     10,
     {0x12, 0x34, 0x56, 0x78, 0xAB, 0xCD, 0xAB, 0xCD, U, U},
     0},
    {"SGI16HighHeaderByteIgnored", Make<TSGIRLEDecoder>(16), {0x7F, 0x01, 0xAB, 0xCD, 0, 0}, 0, 0, 2, {0xAB, 0xCD}, 0},
    {"SGI16CutSample", Make<TSGIRLEDecoder>(16), {0x00, 0x03, 0xAB}, 0, 0, 2, {U, U}, 0},
    // CUT
    {"CUTRunAndLiteral",
     Make<TCUTRLEDecoder>(),
     {0x06, 0x00, 0x83, 9, 0x02, 1, 2, 0x00, 0x55},
     0,
     0,
     6,
     {9, 9, 9, 1, 2, U},
     8},
    {"CUTEmptyRow", Make<TCUTRLEDecoder>(), {0x01, 0x00, 0x00, 0x81, 5}, 0, 0, 2, {U, U}, 3},
    {"CUTRowWithoutEnd", Make<TCUTRLEDecoder>(), {0x04, 0x00, 0x05, 1, 2}, 0, 0, 4, {1, 2, U, U}, 5},
    {"CUTRunPastTargetStillConsumed", Make<TCUTRLEDecoder>(), {0x04, 0x00, 0xFF, 1, 0x00}, 0, 0, 3, {1, 1, 1}, 5},
    {"CUTCutLineLength", Make<TCUTRLEDecoder>(), {0x04}, 0, 0, 2, {U, U}, 1},
    // PSP
    {"PSPLiteral", Make<TPSPRLEDecoder>(), {0x03, 1, 2, 3}, 4, 0, 3, {1, 2, 3}, 0},
    {"PSPRun", Make<TPSPRLEDecoder>(), {0x83, 'V'}, 2, 0, 4, {'V', 'V', 'V', U}, 0},
    {"PSPStopsAtPackedSize", Make<TPSPRLEDecoder>(), {0x82, 1, 0x82, 2}, 2, 0, 4, {1, 1, U, U}, 0},
    {"PSPRunPastTarget", Make<TPSPRLEDecoder>(), {0xFF, 3}, 2, 0, 4, {3, 3, 3, 3}, 0},
    {"PSPCutLiteral", Make<TPSPRLEDecoder>(), {0x04, 1, 2}, 50, 0, 4, {1, 2, U, U}, 0},
    // RLA
    {"RLARun", Make<TRLADecoder>(), {0x02, 'V'}, 2, 0, 4, {'V', 'V', 'V', U}, 0},
    {"RLALiteral", Make<TRLADecoder>(), {0xFE, 1, 2}, 3, 0, 2, {1, 2}, 0},
    {"RLARunWithoutValue", Make<TRLADecoder>(), {0xFF, 8, 0x05}, 3, 0, 3, {8, U, U}, 0},
    {"RLALiteralPastTarget", Make<TRLADecoder>(), {0x80, 1, 2, 3, 4}, 5, 0, 2, {1, 2}, 0},
};

INSTANTIATE_TEST_SUITE_P(Packets, RunLengthDecoders, testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

TEST(TargaRLECompress, RoundTripsThroughTheDecoderForEveryDepth) {
    for (int depth : {8, 16, 24, 32}) {
        const size_t pixelBytes = (depth + 7) / 8;
        // Runs long and short, a run longer than one packet, and literals between them.
        Bytes pixels;
        auto add = [&](int value, int count) {
            for (int i = 0; i < count; ++i)
                for (size_t b = 0; b < pixelBytes; ++b) pixels.push_back(static_cast<uint8_t>(value + b));
        };
        add(1, 1), add(2, 1), add(3, 5), add(4, 1), add(5, 300), add(6, 1), add(7, 2);
        for (int i = 0; i < 140; ++i) add(i, 1);
        const int32_t count = static_cast<int32_t>(pixels.size() / pixelBytes);

        TTargaRLEDecoder codec(depth);
        Bytes packed(pixels.size() * 2);
        TSourcePos source(pixels.data(), pixels.size());
        TDestPos dest(packed.data(), packed.size());
        int32_t stored = -1;
        codec.Compress(source, dest, count, stored);
        ASSERT_GT(stored, 0);
        EXPECT_LT(static_cast<size_t>(stored), pixels.size()) << "depth " << depth;
        EXPECT_EQ(source.Pos, pixels.data() + pixels.size());
        EXPECT_EQ(dest.Pos, packed.data() + stored);

        Bytes decoded(pixels.size());
        TSourcePos in(packed.data(), stored);
        TDestPos out(decoded.data(), decoded.size());
        codec.Decompress(in, out, 0, count);
        EXPECT_EQ(decoded, pixels) << "depth " << depth;
        EXPECT_EQ(in.Pos, packed.data() + stored);
    }
}

TEST(TargaRLECompress, StopsBeforeAPacketThatDoesNotFit) {
    const Bytes pixels = {1, 1, 1, 2, 3, 4};
    TTargaRLEDecoder codec(8);
    Bytes packed(4, U);
    TSourcePos source(pixels.data(), pixels.size());
    TDestPos dest(packed.data(), packed.size());
    int32_t stored = -1;
    codec.Compress(source, dest, 6, stored);
    EXPECT_EQ(stored, 2);  // the run of three; the literal of three needs four bytes more
    EXPECT_EQ(packed, (Bytes{0x82, 1, U, U}));
    EXPECT_EQ(source.Pos, pixels.data() + 3);
}

TEST(DecodeOnlyCodecs, CompressStoresNothing) {
    const Bytes data = {1, 2, 3};
    Bytes target(3, U);
    std::unique_ptr<TDecoder> decoders[] = {
        std::make_unique<TPackbitsRLEDecoder>(), std::make_unique<TPCXRLEDecoder>(),
        std::make_unique<TSGIRLEDecoder>(8),     std::make_unique<TCUTRLEDecoder>(),
        std::make_unique<TPSPRLEDecoder>(),      std::make_unique<TRLADecoder>(),
        std::make_unique<TThunderDecoder>(4),    std::make_unique<TLZ77Decoder>(1, false)};
    for (auto& decoder : decoders) {
        TSourcePos source(data.data(), data.size());
        TDestPos dest(target.data(), target.size());
        int32_t stored = -1;
        decoder->BeginCompress();
        decoder->Compress(source, dest, 3, stored);
        decoder->EndCompress();
        EXPECT_EQ(stored, 0);
        EXPECT_EQ(target, Bytes(3, U));
        EXPECT_EQ(source.Pos, data.data());
    }
}

// Real Targa files written by Netpbm: the pixel data after the 18-byte header decode to the
// same pixels as the uncompressed file of the same picture.
TEST(TargaRLEDecoder, DecodesNetpbmRunLengthFiles) {
    if (!test::HaveTool("ppmtotga") || !test::HaveTool("pnmcat")) GTEST_SKIP() << "Netpbm is not installed";
    const std::string dir = test::TempDir("targa_rle");
    // A picture with long runs, short runs and noise, 37 pixels wide so packets cross rows.
    const std::string ppm = dir + "/picture.ppm";
    ASSERT_EQ(test::Run("ppmmake rgb:20/80/c0 37 9 > " + dir + "/a.ppm && pgmnoise 37 7 | pgmtoppm rgb:ff/40/10 > " +
                        dir + "/b.ppm && pnmcat -tb " + dir + "/a.ppm " + dir + "/b.ppm > " + ppm),
              0);
    ASSERT_EQ(test::Run("ppmtotga -rgb -norle " + ppm + " > " + dir + "/raw.tga 2>/dev/null"), 0);
    ASSERT_EQ(test::Run("ppmtotga -rgb " + ppm + " > " + dir + "/rle.tga 2>/dev/null"), 0);
    const Bytes raw = test::ReadFileBytes(dir + "/raw.tga");
    const Bytes rle = test::ReadFileBytes(dir + "/rle.tga");
    ASSERT_GT(raw.size(), 18u);
    ASSERT_EQ(rle[2], 10) << "image type 10: run-length true colour";
    const int32_t pixels = 37 * 16;
    const size_t pixelStart = 18 + raw[0];  // header, then the image id
    ASSERT_GE(raw.size(), pixelStart + pixels * 3);

    Bytes decoded(pixels * 3);
    TTargaRLEDecoder decoder(24);
    TSourcePos source(rle.data() + 18 + rle[0], rle.size() - 18 - rle[0]);
    TDestPos dest(decoded.data(), decoded.size());
    decoder.Decompress(source, dest, 0, pixels);
    EXPECT_EQ(decoded, Bytes(raw.begin() + pixelStart, raw.begin() + pixelStart + pixels * 3));
    EXPECT_EQ(source.Pos, rle.data() + rle.size()) << "the file ends with the last packet";
}

}  // namespace
}  // namespace tilvorn
