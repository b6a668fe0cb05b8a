#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "core/Streams.h"
#include "readers/ImageReaders.h"
#include "support/TestSupport.h"

using namespace tilvorn;

namespace {

// --- reader classes for the tests ---------------------------------------------------------

/// A small reader of its own format: "TST1", width and height (16-bit little-endian), then
/// RGB rows top first. It follows the reading contract with the colour manager.
class TTestGraphic : public TReaderGraphic {
public:
    static const TGraphicClass& Class() {
        static const TGraphicClass value = MakeReaderClass<TTestGraphic>("TTestGraphic", TReaderGraphic::Class());
        return value;
    }
    const TGraphicClass& ClassType() const override { return Class(); }

    static bool ProbeStream(TStream& stream) {
        char magic[4] = {};
        if (stream.Read(magic, 4) != 4) return false;
        return std::memcmp(magic, "TST1", 4) == 0;
    }

    bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override {
        TReaderGraphic::ReadImageInfo(stream, imageIndex);
        uint8_t header[8];
        if (stream.Read(header, 8) != 8 || std::memcmp(header, "TST1", 4) != 0) return false;
        Properties.ImageWidth = header[4] | (header[5] << 8);
        Properties.ImageHeight = header[6] | (header[7] << 8);
        Properties.Model = ColorModel::RGB;
        Properties.SampleBits = 8;
        Properties.SampleCount = 3;
        Properties.PixelBits = 24;
        Properties.Coding = CompressionKind::None;
        return Properties.ImageWidth > 0 && Properties.ImageHeight > 0;
    }

    void ReadImage(TStream& stream) override {
        ReleasePixels();
        StartPosition = uint32_t(stream.Position());
        if (!ReadImageInfo(stream, 0)) RaiseImageErrorFmt(readertext::InvalidImage, "TST");
        ProgressArea = Rect(0, 0, int(Properties.ImageWidth), 1);
        ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Transfering);
        Converter.SetSourceModel(ColorModel::RGB);
        Converter.SetTargetModel(ColorModel::BGR);
        SetPixelFormat(Converter.PixelFormatFor(1));
        SetImageSize(Properties.ImageWidth, Properties.ImageHeight);
        std::vector<uint8_t> row(Properties.ImageWidth * 3);
        for (uint32_t y = 0; y < Properties.ImageHeight; ++y) {
            stream.ReadBuffer(row.data(), int64_t(row.size()));
            Converter.ConvertPixels(row.data(), ScanLine(int(y)), Properties.ImageWidth);
            ReportProgress(TProgressStage::psRunning, RowPercent(y + 1, Properties.ImageHeight), true, ProgressArea,
                           "");
            AdvanceProgressArea();
        }
        ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");
    }
};

/// Each progress notification of the reader as "stage:percent:area top:message".
void RecordProgress(TReaderGraphic& reader, std::vector<std::string>& events) {
    reader.OnProgress = [&events](TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                                  const std::string& msg) {
        events.push_back(std::to_string(int(stage)) + ":" + std::to_string(percent) + ":" + std::to_string(r.Top) +
                         ":" + msg);
    };
}

std::vector<uint8_t> TestFile(uint16_t width, uint16_t height, uint8_t seed) {
    std::vector<uint8_t> bytes = {
        'T', 'S', 'T', '1', uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8)};
    for (int i = 0; i < width * height * 3; ++i) bytes.push_back(uint8_t(seed + i));
    return bytes;
}

}  // namespace

TEST(Registry, ClassForFileReadsTheContent) {
    TFormatRegistry registry;
    registry.AddFormat("tst", "Test pictures", "", {FormatKind::Raster}, false, TTestGraphic::Class());
    const std::string dir = test::TempDir("class_for_file");
    test::WriteFileBytes(dir + "/picture.jpg", TestFile(2, 2, 0));
    test::WriteFileBytes(dir + "/other.tst", {'J', 'U', 'N', 'K', 0, 0, 0, 0});
    EXPECT_EQ(registry.ClassForFile(dir + "/picture.jpg"), &TTestGraphic::Class());  // content, not name
    EXPECT_EQ(registry.ClassForFile(dir + "/other.tst"), nullptr);
    EXPECT_THROW(registry.ClassForFile(dir + "/missing.tst"), EFOpenError);
    EXPECT_TRUE(TTestGraphic::Class().ProbeFile(dir + "/picture.jpg"));
}

TEST(ReaderClass, IsAKindOfItsAncestors) {
    const TGraphicClass tiff = MakeReaderClass<TTestGraphic>("TTIFFGraphic", TReaderGraphic::Class());
    const TGraphicClass eps = MakeReaderClass<TTestGraphic>("TEPSGraphic", tiff);
    EXPECT_TRUE(eps.InheritsFrom(tiff));
    EXPECT_TRUE(eps.IsReaderClass());
    EXPECT_FALSE(tiff.InheritsFrom(eps));
    EXPECT_FALSE(BitmapGraphicClass().IsReaderClass());
    EXPECT_THROW(BitmapGraphicClass().Create(), EInvalidGraphicOperation);
    std::unique_ptr<TReaderGraphic> reader = TTestGraphic::Class().Create();
    EXPECT_STREQ(reader->ClassName(), "TTestGraphic");
    EXPECT_EQ(&reader->ClassType(), &TTestGraphic::Class());
}

TEST(ReaderClass, ProbeErrorsReachTheCaller) {
    static const TGraphicClass failing("TFailingGraphic", &TReaderGraphic::Class(), nullptr,
                                       [](TStream&) -> bool { throw EReadError("Stream read error"); });
    TFormatRegistry registry;
    registry.AddFormat("bad", "Failing", "", {FormatKind::Raster}, false, failing);
    TMemoryStream stream;
    EXPECT_THROW(registry.ClassForStream(stream), EReadError);
}

// --- the reader base --------------------------------------------------------------------------

TEST(ReaderGraphic, ReadsThroughTheContractWithProgress) {
    TTestGraphic reader;
    std::vector<std::string> events;
    RecordProgress(reader, events);
    std::vector<uint8_t> bytes = {'x', 'x'};  // the picture starts inside the stream
    const std::vector<uint8_t> file = TestFile(2, 3, 10);
    bytes.insert(bytes.end(), file.begin(), file.end());
    TMemoryStream stream;
    stream.Write(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(2);
    reader.LoadFromStream(stream);
    EXPECT_EQ(reader.StartPosition, 2u);
    ASSERT_EQ(reader.Width(), 2);
    ASSERT_EQ(reader.Height(), 3);
    EXPECT_EQ(reader.BitCount(), 24);
    const uint8_t* top = reader.ScanLine(0);
    EXPECT_EQ(top[0], 12);  // the file's first pixel 10, 11, 12 in blue-green-red order
    EXPECT_EQ(top[2], 10);
    EXPECT_EQ(reader.ScanLine(2)[5], 10 + 12 + 3);
    EXPECT_EQ(events, (std::vector<std::string>{"0:0:0:Transfering...", "1:33:0:", "1:67:1:", "1:100:2:", "2:0:3:"}));
}

TEST(ProgressPhase, StartsAtOnceAndEndsOnceAtEndOrWhenLeft) {
    TTestGraphic reader;
    std::vector<std::string> events;
    RecordProgress(reader, events);
    reader.ProgressArea = Rect(0, 4, 2, 5);
    {
        TProgressPhase phase(reader, "Preparing...", 100);
        EXPECT_EQ(events, (std::vector<std::string>{"0:0:4:Preparing..."}));
        reader.AdvanceProgressArea();
        phase.End();
        phase.End();  // a second end sends nothing
    }
    EXPECT_EQ(events, (std::vector<std::string>{"0:0:4:Preparing...", "2:100:5:"}));
    events.clear();
    { TProgressPhase phase(reader, "Transfering..."); }
    EXPECT_EQ(events, (std::vector<std::string>{"0:0:5:Transfering...", "2:0:5:"}));
}

TEST(ProgressPhase, AnErrorPassingThroughStillEndsThePhase) {
    TTestGraphic reader;
    std::vector<TProgressStage> stages;
    reader.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
        stages.push_back(stage);
    };
    EXPECT_THROW(
        {
            TProgressPhase phase(reader, "Preparing...");
            throw EReadError(kStreamReadError);
        },
        EReadError);
    EXPECT_EQ(stages, (std::vector<TProgressStage>{TProgressStage::psStarting, TProgressStage::psEnding}));

    // An observer that fails on the ending while an error is on its way cannot end the program.
    reader.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
        if (stage == TProgressStage::psEnding) throw EAbort();
    };
    EXPECT_THROW(
        {
            TProgressPhase phase(reader, "Preparing...");
            throw EReadError(kStreamReadError);
        },
        EReadError);
    // Ended explicitly, the observer's error reaches the reader as any other.
    TProgressPhase phase(reader, "Preparing...");
    EXPECT_THROW(phase.End(), EAbort);
}

TEST(ReaderGraphic, BaseInfoClearsTheRecord) {
    TTestGraphic reader;
    reader.Properties.ImageWidth = 7;
    reader.Properties.Gamma = 0.45f;
    reader.Properties.StripRowCounts = {1, 2};
    TMemoryStream empty;
    EXPECT_FALSE(reader.TReaderGraphic::ReadImageInfo(empty, 0));
    EXPECT_EQ(reader.Properties, TImageProperties{});
    EXPECT_FLOAT_EQ(reader.Properties.Gamma, 1.0f);
    EXPECT_TRUE(reader.Properties.StripRowCounts.empty());
    EXPECT_FALSE(TReaderGraphic::ProbeStream(empty));
}

TEST(ReaderGraphic, AssignCarriesThePropertiesAlong) {
    TTestGraphic source;
    TMemoryStream stream;
    const std::vector<uint8_t> file = TestFile(4, 1, 0);
    stream.Write(file.data(), int64_t(file.size()));
    stream.SetPosition(0);
    source.ReadImage(stream);
    TTestGraphic copy;
    copy.Assign(&source);
    EXPECT_EQ(copy.Properties, source.Properties);
    EXPECT_EQ(copy.Width(), 4);
    EXPECT_EQ(copy.Properties.ImageWidth, 4u);
}

TEST(ReaderGraphic, PixelFormatsSizesAndPalettes) {
    struct Case {
        BitmapPixelFormat format;
        int bits;
        int32_t redMask;
    };
    const Case cases[] = {
        {BitmapPixelFormat::Bits1, 1, 0xFF0000},   {BitmapPixelFormat::Bits4, 4, 0xFF0000},
        {BitmapPixelFormat::Bits8, 8, 0xFF0000},   {BitmapPixelFormat::Bits15, 16, 0x7C00},
        {BitmapPixelFormat::Bits16, 16, 0xF800},   {BitmapPixelFormat::Bits24, 24, 0xFF0000},
        {BitmapPixelFormat::Bits32, 32, 0xFF0000},
    };
    for (const Case& c : cases) {
        TTestGraphic reader;
        reader.SetPixelFormat(c.format);
        reader.SetImageSize(3, 2);
        EXPECT_EQ(reader.BitCount(), c.bits);
        EXPECT_EQ(reader.CurrentPixelFormat().RedMask, c.redMask);
        EXPECT_EQ(reader.ScanLine(1)[0], 0);
    }
    TTestGraphic reader;
    EXPECT_THROW(reader.SetPixelFormat(BitmapPixelFormat::Custom), EInvalidGraphic);
    // A picture of the size it already has is cleared too: a second read starts from 0.
    reader.SetPixelFormat(BitmapPixelFormat::Bits24);
    reader.SetImageSize(3, 2);
    reader.ScanLine(1)[2] = 9;
    reader.SetImageSize(3, 2);
    EXPECT_EQ(reader.ScanLine(1)[2], 0);
    reader.SetPixelFormat(BitmapPixelFormat::Bits8);
    EXPECT_THROW(reader.SetImageSize(0x10000, 0x10000), EOutOfMemory);  // 4 GiB asked by a header
    reader.SetPaletteEntries({{255, 0, 0}, {0, 0, 255}});
    reader.SetImageSize(2, 1);
    EXPECT_EQ(reader.ColorTable[0], (RGBQUAD{0, 0, 255, 0}));
    EXPECT_EQ(reader.ColorTable[1], (RGBQUAD{255, 0, 0, 0}));
    reader.SetPaletteEntries({{1, 2, 3}});  // after the size: applied to the picture
    EXPECT_EQ(reader.Image()->ColorTable[0], (RGBQUAD{3, 2, 1, 0}));
}

TEST(ReaderGraphic, ProgressPercentRoundsToNearest) {
    struct Case {
        uint32_t row, height;
        uint8_t percent;
    };
    const Case cases[] = {{0, 3, 0}, {1, 3, 33}, {2, 3, 67}, {3, 3, 100}, {1, 8, 13}, {5, 0, 0}};
    for (const Case& c : cases) EXPECT_EQ(TReaderGraphic::RowPercent(c.row, c.height), c.percent) << c.row;
}

// --- shared routines --------------------------------------------------------------------------

TEST(ReaderRoutines, ByteOrderSwaps) {
    std::vector<uint8_t> words = {1, 2, 3, 4, 5};
    SwapWords(words.data(), 2);
    EXPECT_EQ(words, (std::vector<uint8_t>{2, 1, 4, 3, 5}));
    std::vector<uint8_t> longs = {1, 2, 3, 4, 5, 6, 7, 8};
    SwapLongs(longs.data(), 2);
    EXPECT_EQ(longs, (std::vector<uint8_t>{4, 3, 2, 1, 8, 7, 6, 5}));
    EXPECT_EQ(SwapLong(0x11223344u), 0x44332211u);
    EXPECT_EQ(SwapLong(SwapLong(0xDEADBEEFu)), 0xDEADBEEFu);
}

TEST(ReaderRoutines, UndoDifferencing) {
    struct Case {
        int bytesPerPixel;
        std::vector<uint8_t> row;
        uint32_t count;
        std::vector<uint8_t> expected;
    };
    const std::vector<Case> cases = {
        {3, {1, 2, 3, 1, 1, 1, 255, 0, 0}, 2, {1, 2, 3, 2, 3, 4, 1, 3, 4}},
        {1, {10, 1, 1, 250}, 3, {10, 11, 12, 6}},
        {4, {1, 2, 3, 4, 1, 1, 1, 1}, 1, {1, 2, 3, 4, 2, 3, 4, 5}},
        {1, {5, 5, 5}, 1, {5, 10, 5}},  // only count pixels after the first
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> row = c.row;
        if (c.bytesPerPixel == 1) UndoDifferencing1(row.data(), c.count);
        if (c.bytesPerPixel == 3) UndoDifferencing3(row.data(), c.count);
        if (c.bytesPerPixel == 4) UndoDifferencing4(row.data(), c.count);
        EXPECT_EQ(row, c.expected);
    }
    std::vector<uint8_t> two = {1, 2, 1, 1};  // grey and alpha: two bytes back
    UndoDifferencing(two.data(), 2, 1);
    EXPECT_EQ(two, (std::vector<uint8_t>{1, 2, 2, 3}));
}

TEST(ReaderRoutines, UpsamplePlaneDoublesInPlace) {
    const uint32_t stride = 4;
    std::vector<uint8_t> plane(stride * 4, 0xEE);
    plane[0] = 10;
    plane[1] = 20;
    plane[stride] = 30;
    plane[stride + 1] = 40;
    UpsamplePlane(2, 2, stride, plane.data());
    EXPECT_EQ(plane, (std::vector<uint8_t>{10, 15, 20, 20, 20, 25, 30, 30, 30, 35, 40, 40, 30, 35, 40, 40}));

    // A 3 x 2 plane: the middle of four neighbours rounds up from .5.
    std::vector<uint8_t> wide(6 * 4, 0);
    const uint8_t rows[2][3] = {{0, 3, 6}, {9, 12, 14}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) wide[y * 6 + x] = rows[y][x];
    UpsamplePlane(3, 2, 6, wide.data());
    EXPECT_EQ(std::vector<uint8_t>(wide.begin(), wide.begin() + 6), (std::vector<uint8_t>{0, 2, 3, 5, 6, 6}));
    EXPECT_EQ(std::vector<uint8_t>(wide.begin() + 6, wide.begin() + 12), (std::vector<uint8_t>{5, 6, 8, 9, 10, 10}));

    // Planes it cannot double (too small, or rows too close for the doubled width) stay as
    // they are rather than being written past their rows.
    struct Bad {
        uint32_t width, height, stride;
    };
    for (const Bad& b : {Bad{1, 2, 4}, Bad{2, 1, 4}, Bad{2, 2, 3}}) {
        std::vector<uint8_t> small(16, 7);
        UpsamplePlane(b.width, b.height, b.stride, small.data());
        EXPECT_EQ(small, std::vector<uint8_t>(16, 7)) << b.width << "x" << b.height << "/" << b.stride;
    }
}

TEST(ReaderProperties, ReadableDescription) {
    TImageProperties p;
    p.ImageWidth = 640;
    p.Model = ColorModel::YCbCr;
    p.Coding = CompressionKind::LZ77;
    p.Flags = {ImageFlag::BigEndian, ImageFlag::MinIsWhite};
    p.StripRowCounts = {8, 8, 4};
    const std::string text = DescribeProperties(p);
    for (const char* line : {"ImageWidth: 640\n", "Model: YCbCr\n", "Coding: LZ77\n", "Flags: BigEndian, MinIsWhite\n",
                             "StripRowCounts: 8, 8, 4\n", "Gamma: 1\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_EQ(CompressionKindName(CompressionKind::PCDHuffman), "PCDHuffman");
    EXPECT_EQ(ColorModelName(ColorModel::PhotoYCC), "PhotoYCC");
}
