#include "formats/CUTImage.h"

#include <filesystem>

#include "formats/FormatBytes.h"
#include "readers/ReaderCodecs.h"

namespace tilvorn {

using namespace formats;

namespace {

constexpr const char* kFormatName = "CUT";
constexpr int kHeaderSize = 6;
constexpr int kPaletteBlock = 512;
constexpr int kPaletteCountOffset = 12;
constexpr int kFirstEntryOffset = 40;
constexpr int kEntrySize = 6;
constexpr int kLastEntryStart = 506;  // entries never cross a 512-byte block
// A run gives at most 127 bytes for two stored bytes.
constexpr uint64_t kMaxRunExpansion = 64;

}  // namespace

bool TCUTGraphic::ProbeContent(TStream&) { return false; }

void TCUTGraphic::ReadImageFile(const std::string& fileName) {
    paletteFileName_ = std::filesystem::path(fileName).replace_extension(".pal").string();
    struct TForget {  // a later load from a stream alone must not take this palette
        std::string& name;
        ~TForget() { name.clear(); }
    } forget{paletteFileName_};
    TReaderGraphic::ReadImageFile(fileName);
}

bool TCUTGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
    TReaderGraphic::ReadImageInfo(stream, imageIndex);
    SetPixelFormat(BitmapPixelFormat::Bits8);
    uint8_t header[4];
    stream.ReadBuffer(header, 4);
    Properties.ImageWidth = LE16(&header[0]);
    Properties.ImageHeight = LE16(&header[2]);
    Properties.Model = ColorModel::Indexed;
    Properties.SampleBits = 8;
    Properties.SampleCount = 1;
    Properties.PixelBits = 8;
    Properties.Coding = CompressionKind::RLE;
    return true;
}

TPalette TCUTGraphic::ReadPaletteFile() const {
    TPalette palette;
    std::error_code error;
    if (paletteFileName_.empty() || !std::filesystem::is_regular_file(paletteFileName_, error)) {
        for (int i = 0; i < 256; ++i) palette.push_back({uint8_t(i), uint8_t(i), uint8_t(i)});
        return palette;
    }
    TFileStream file(paletteFileName_, FileMode::OpenRead);
    uint8_t block[kPaletteBlock];
    file.ReadBuffer(block, kPaletteBlock);
    // The palette holds at most 256 entries, whatever the file's highest index says.
    const uint32_t count = std::min<uint32_t>(uint32_t(LE16(&block[kPaletteCountOffset])) + 1, 256);
    int at = kFirstEntryOffset;
    for (uint32_t i = 0; i < count; ++i) {
        if (at > kLastEntryStart) {
            file.ReadBuffer(block, kPaletteBlock);
            at = 0;
        }
        // Each component is a 16-bit value whose low byte is the colour.
        palette.push_back({block[at], block[at + 2], block[at + 4]});
        at += kEntrySize;
    }
    return palette;
}

void TCUTGraphic::ReadImage(TStream& stream) {
    ReleasePixels();
    StartPosition = uint32_t(stream.Position());
    ReadImageInfo(stream, 0);

    stream.SetPosition(int64_t(StartPosition) + kHeaderSize);
    ProgressArea = {0, 0, int32_t(Properties.ImageWidth), 0};
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Transfering);
    const uint32_t width = Properties.ImageWidth, height = Properties.ImageHeight;
    CheckDecodedSize(uint64_t(width) * height, uint64_t(BytesLeft(stream)), kMaxRunExpansion, kFormatName);

    SetPixelFormat(BitmapPixelFormat::Bits8);
    SetImageSize(width, height);
    SetPaletteEntries(ReadPaletteFile());

    const std::vector<uint8_t> data = ReadAvailable(stream, uint64_t(BytesLeft(stream)));
    TCUTRLEDecoder decoder;
    TSourcePos source(data.data(), data.size());
    for (uint32_t y = 0; y < height; ++y) {
        TDestPos dest(ScanLine(int(y)), width);
        decoder.Decompress(source, dest, 0, int32_t(width));
        ReportProgress(TProgressStage::psRunning, RowPercent(y, height), true, ProgressArea, "");
        AdvanceProgressArea();
    }
    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");
}

}  // namespace tilvorn
