#include "formats/AutodeskImage.h"

#include <array>

#include "formats/FormatBytes.h"

namespace tilvorn {

using namespace formats;

namespace {

constexpr const char* kFormatName = "Autodesk";
constexpr int kHeaderSize = 32;
constexpr int kPaletteSize = 768;
constexpr uint16_t kMagic = 0x9119;
constexpr uint64_t kMaxShortfall = 64;

}  // namespace

bool TAutodeskGraphic::ProbeContent(TStream& stream) {
    std::array<uint8_t, kHeaderSize> header{};
    if (!ReadProbeBytes(stream, header.data(), kHeaderSize)) return false;
    return LE16(&header[0]) == kMagic && header[10] == 8 && header[11] == 0;
}

bool TAutodeskGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
    TReaderGraphic::ReadImageInfo(stream, imageIndex);
    std::array<uint8_t, kHeaderSize> header{};
    stream.ReadBuffer(header.data(), 2);
    if (LE16(&header[0]) != kMagic) return false;
    stream.ReadBuffer(&header[2], kHeaderSize - 2);
    Properties.ImageWidth = LE16(&header[2]);
    Properties.ImageHeight = LE16(&header[4]);
    Properties.Model = ColorModel::Indexed;
    Properties.SampleBits = 8;
    Properties.SampleCount = 1;
    Properties.PixelBits = 8;
    Properties.Coding = CompressionKind::None;
    return true;
}

void TAutodeskGraphic::ReadImage(TStream& stream) {
    ReleasePixels();
    StartPosition = uint32_t(stream.Position());
    if (!ReadImageInfo(stream, 0)) RaiseImageErrorFmt(readertext::InvalidImage, kFormatName);

    stream.SetPosition(StartPosition);
    ProgressArea = {0, 0, 0, 1};
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Transfering);
    stream.Seek(kHeaderSize, SeekOrigin::Current);

    // Components of 0..63, widened to 0..252.
    std::array<uint8_t, kPaletteSize> components{};
    stream.ReadBuffer(components.data(), kPaletteSize);
    TPalette palette(256);
    for (int i = 0; i < 256; ++i)
        palette[i] = {uint8_t(components[3 * i] << 2), uint8_t(components[3 * i + 1] << 2),
                      uint8_t(components[3 * i + 2] << 2)};

    const uint32_t width = Properties.ImageWidth, height = Properties.ImageHeight;
    // Short files are shown as far as they go, but a header asking for many times the
    // pixels the file could hold is damaged.
    CheckDecodedSize(uint64_t(width) * height, uint64_t(BytesLeft(stream)), kMaxShortfall, kFormatName);
    SetPixelFormat(BitmapPixelFormat::Bits8);
    SetPaletteEntries(palette);
    SetImageSize(width, height);
    // A file shorter than its pixels leaves the rows it lacks as they are.
    for (uint32_t y = 0; y < height; ++y) {
        stream.Read(ScanLine(int(y)), width);
        ReportProgress(TProgressStage::psRunning, RowPercent(y, height), true, ProgressArea, "");
        AdvanceProgressArea();
    }
    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");
}

}  // namespace tilvorn
