// The deflate decoder as the TIFF, PNG and Paint Shop Pro readers drive it, over streams
// that zlib and libtiff wrote.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <zlib.h>

#include "core/Exceptions.h"
#include "readers/ReaderCodecs.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes SamplePixels(size_t size) {
    Bytes pixels(size);
    for (size_t i = 0; i < size; ++i) pixels[i] = static_cast<uint8_t>((i * i / 7 + i / 300) & 0xFF);
    return pixels;
}

Bytes Deflate(const Bytes& data, int level = Z_DEFAULT_COMPRESSION) {
    uLongf size = compressBound(data.size());
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, data.data(), data.size(), level), Z_OK);
    out.resize(size);
    return out;
}

// PNG: one stream over many data chunks, fed piece by piece, rows taken as they come.
TEST(LZ77Decoder, ContinuesOneStreamAcrossCalls) {
    const Bytes pixels = SamplePixels(20000);
    const Bytes stream = Deflate(pixels);
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.BeginDecompress();
    Bytes decoded(pixels.size());
    TDestPos dest(decoded.data(), decoded.size());
    for (size_t at = 0; at < stream.size(); at += 97) {  // chunks of 97 bytes
        const size_t piece = std::min<size_t>(97, stream.size() - at);
        TSourcePos source(stream.data() + at, piece);
        while (source.Left() > 0 && decoder.InflateStatus == Z_OK) {
            const uint8_t* before = dest.Pos;
            decoder.Decompress(source, dest, int32_t(source.Left()), int32_t(std::min<size_t>(dest.Left(), 1000)));
            EXPECT_LE(dest.Pos - before, 1000);
            EXPECT_EQ(decoder.InputLeft(), source.Left());
        }
    }
    EXPECT_EQ(decoder.InflateStatus, Z_STREAM_END);
    EXPECT_EQ(dest.Pos, decoded.data() + decoded.size());
    EXPECT_EQ(decoded, pixels);
    decoder.EndDecompress();
}

TEST(LZ77Decoder, StopsForGoodAtTheStreamEndWithoutReset) {
    const Bytes pixels = SamplePixels(500);
    const Bytes stream = Deflate(pixels);
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.BeginDecompress();
    Bytes decoded(600, 0xEE);
    TSourcePos source(stream.data(), stream.size());
    TDestPos dest(decoded.data(), decoded.size());
    decoder.Decompress(source, dest, int32_t(stream.size()), 600);
    EXPECT_EQ(decoder.InflateStatus, Z_STREAM_END);
    EXPECT_EQ(decoder.OutputLeft(), 100u);
    EXPECT_EQ(decoder.InputLeft(), 0u);

    // A further call with fresh data decodes nothing and moves nothing.
    const Bytes after = decoded;
    TSourcePos again(stream.data(), stream.size());
    TDestPos sameDest(decoded.data(), decoded.size());
    decoder.Decompress(again, sameDest, int32_t(stream.size()), 600);
    EXPECT_EQ(decoded, after);
    EXPECT_EQ(again.Pos, stream.data());
    EXPECT_EQ(sameDest.Pos, decoded.data());
    EXPECT_EQ(decoder.InflateStatus, Z_STREAM_END);
    decoder.EndDecompress();
}

TEST(LZ77Decoder, RemembersAFailureUntilReset) {
    const Bytes pixels = SamplePixels(3000);
    Bytes broken = Deflate(pixels);
    broken[broken.size() / 2] ^= 0xFF;
    broken[broken.size() / 2 + 1] ^= 0x5A;
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "with reset" : "without reset");
        TLZ77Decoder decoder(Z_PARTIAL_FLUSH, reset);
        decoder.BeginDecompress();
        Bytes decoded(pixels.size());
        TSourcePos source(broken.data(), broken.size());
        TDestPos dest(decoded.data(), decoded.size());
        decoder.Decompress(source, dest, int32_t(broken.size()), int32_t(decoded.size()));
        EXPECT_LT(decoder.InflateStatus, 0);
        // The next strip is a good stream of its own.
        const Bytes good = Deflate(pixels);
        TSourcePos next(good.data(), good.size());
        TDestPos nextDest(decoded.data(), decoded.size());
        decoder.Decompress(next, nextDest, int32_t(good.size()), int32_t(decoded.size()));
        if (reset) {
            EXPECT_EQ(decoder.InflateStatus, Z_STREAM_END);
            EXPECT_EQ(decoded, pixels);
        } else {
            EXPECT_LT(decoder.InflateStatus, 0);
            EXPECT_EQ(nextDest.Pos, decoded.data());
        }
        decoder.EndDecompress();
    }
}

// Paint Shop Pro: one call with the finish flush over the whole channel.
TEST(LZ77Decoder, FinishesAChannelInOneCall) {
    const Bytes pixels = SamplePixels(4096);
    const Bytes stream = Deflate(pixels, 9);
    TLZ77Decoder decoder(Z_FINISH, false);
    decoder.BeginDecompress();
    Bytes decoded(pixels.size());
    TSourcePos source(stream.data(), stream.size());
    TDestPos dest(decoded.data(), decoded.size());
    decoder.Decompress(source, dest, int32_t(stream.size()), int32_t(decoded.size()));
    EXPECT_EQ(decoder.InflateStatus, Z_STREAM_END);
    EXPECT_EQ(decoded, pixels);
    EXPECT_EQ(source.Pos, stream.data() + stream.size());
    decoder.EndDecompress();
}

TEST(LZ77Decoder, CountsNeverReachPastTheBuffers) {
    const Bytes pixels = SamplePixels(1000);
    const Bytes stream = Deflate(pixels);
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, true);
    decoder.BeginDecompress();
    auto target = std::make_unique<uint8_t[]>(300);  // AddressSanitizer watches its end
    TSourcePos source(stream.data(), stream.size());
    TDestPos dest(target.get(), 300);
    decoder.Decompress(source, dest, int32_t(stream.size()) + 5000, 100000);
    EXPECT_EQ(decoder.InflateStatus, Z_OK);
    EXPECT_EQ(dest.Pos, target.get() + 300);
    EXPECT_TRUE(std::equal(target.get(), target.get() + 300, pixels.begin()));
    EXPECT_EQ(decoder.OutputLeft(), 0u);
    EXPECT_GT(decoder.InputLeft(), 0u);
    decoder.EndDecompress();
}

TEST(LZ77Decoder, EndWithoutBeginAndTwiceDoesNothing) {
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    EXPECT_NO_THROW(decoder.EndDecompress());
    decoder.BeginDecompress();
    EXPECT_NO_THROW(decoder.EndDecompress());
    EXPECT_NO_THROW(decoder.EndDecompress());
    // A stream used without its start fails quietly.
    const Bytes stream = Deflate(SamplePixels(10));
    Bytes decoded(10);
    TSourcePos source(stream.data(), stream.size());
    TDestPos dest(decoded.data(), decoded.size());
    decoder.Decompress(source, dest, int32_t(stream.size()), 10);
    EXPECT_LT(decoder.InflateStatus, 0);
}

// TIFF: every strip of a file written by `tiffcp -c zip` is a zlib stream of its own.
TEST(LZ77Decoder, DecodesLibtiffDeflateStrips) {
    if (!test::HaveTool("tiffcp") || !test::HaveTool("pnmtotiff") || !test::HaveTool("tiffinfo"))
        GTEST_SKIP() << "libtiff's tools or Netpbm are not installed";
    const std::string dir = test::TempDir("deflate_strips");
    ASSERT_EQ(test::Run("pnmtotiff -rowsperstrip 8 " + test::DataPath("codecs/jpeg_rgb_ref.ppm") + " > " + dir +
                        "/plain.tif 2>/dev/null && tiffcp -c zip -r 8 " + dir + "/plain.tif " + dir + "/zip.tif"),
              0);
    // tiffinfo -s lists each strip's offset and size after the tags.
    ASSERT_EQ(test::Run("tiffinfo -s " + dir +
                        "/zip.tif 2>/dev/null | awk '/^ +[0-9]+: \\[/ {gsub(/[\\[\\],]/,\"\"); "
                        "print $2, $3}' > " +
                        dir + "/strips.txt"),
              0);
    const Bytes file = test::ReadFileBytes(dir + "/zip.tif");
    const Bytes expected = test::ReadFileBytes(test::DataPath("codecs/jpeg_rgb_ref.ppm"));
    const size_t pixelStart = expected.size() - 48 * 40 * 3;  // after the PPM header
    std::ifstream list(dir + "/strips.txt");
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, true);
    decoder.BeginDecompress();
    Bytes image;
    size_t offset = 0, size = 0, strips = 0;
    while (list >> offset >> size) {
        ASSERT_LE(offset + size, file.size());
        Bytes rows(8 * 48 * 3);
        TSourcePos source(file.data() + offset, size);
        TDestPos dest(rows.data(), rows.size());
        decoder.Decompress(source, dest, int32_t(size), int32_t(rows.size()));
        EXPECT_EQ(decoder.InflateStatus, Z_STREAM_END) << "strip " << strips;
        image.insert(image.end(), rows.data(), dest.Pos);
        ++strips;
    }
    decoder.EndDecompress();
    EXPECT_EQ(strips, 5u);
    EXPECT_EQ(image, Bytes(expected.begin() + pixelStart, expected.end()));
}

}  // namespace
}  // namespace tilvorn
