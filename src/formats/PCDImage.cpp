#include "formats/PCDImage.h"

#include <array>
#include <cstring>

#include "formats/FormatBytes.h"

namespace tilvorn {

using namespace formats;

namespace {

constexpr int64_t kSector = 2048;
constexpr int kInfoSize = 6144;
constexpr int kProbeSize = 2051;
constexpr int64_t kBaseSector = 96;  // where the Base image starts in an image pack
constexpr int64_t kOverviewBaseSector = 5;  // ... and in an overview file
constexpr uint32_t kBaseWidth = 768, kBaseHeight = 512;
constexpr uint32_t kChromaWidth = kBaseWidth / 2, kChromaHeight = kBaseHeight / 2;
constexpr uint32_t kBaseIndex = 2;
constexpr uint32_t kLargestIndex = 5;

bool IsOverview(const uint8_t* bytes) { return std::memcmp(bytes, "PCD_OPA", 7) == 0; }
bool IsImagePack(const uint8_t* bytes) { return std::memcmp(bytes + kSector, "PCD", 3) == 0; }

}  // namespace

bool TPCDGraphic::ProbeContent(TStream& stream) {
    if (BytesLeft(stream) <= kInfoSize) return false;
    std::array<uint8_t, kProbeSize> bytes{};
    stream.ReadBuffer(bytes.data(), kProbeSize);
    return IsOverview(bytes.data()) || IsImagePack(bytes.data());
}

bool TPCDGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
    TReaderGraphic::ReadImageInfo(stream, imageIndex);
    std::vector<uint8_t> bytes(kInfoSize);
    stream.ReadBuffer(bytes.data(), kInfoSize);
    Properties.IsOverview = IsOverview(bytes.data());
    if (!Properties.IsOverview && !IsImagePack(bytes.data())) return false;
    Properties.SubImageCount = BE16(&bytes[10]);
    Properties.Rotation = bytes[3586] & 3;
    const uint32_t index = Properties.IsOverview ? 0 : std::min(imageIndex, kLargestIndex);
    Properties.ImageWidth = 192u << index;
    Properties.ImageHeight = 128u << index;
    if (Properties.Rotation == 1 || Properties.Rotation == 3) std::swap(Properties.ImageWidth, Properties.ImageHeight);
    Properties.Model = ColorModel::PhotoYCC;
    Properties.SampleBits = 8;
    Properties.SampleCount = 3;
    Properties.PixelBits = 24;
    Properties.Coding = index <= kBaseIndex ? CompressionKind::None : CompressionKind::PCDHuffman;
    return true;
}

void TPCDGraphic::ReadImage(TStream& stream) {
    ReleasePixels();
    StartPosition = uint32_t(stream.Position());
    if (!ReadImageInfo(stream, kBaseIndex)) return;

    stream.SetPosition(StartPosition);
    ProgressArea = {0, 0, int32_t(Properties.ImageWidth), 1};
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Preparing);
    Properties.ImageWidth = kBaseWidth;
    Properties.ImageHeight = kBaseHeight;
    const size_t planeSize = size_t(kBaseWidth) * kBaseHeight;
    stream.Seek((Properties.IsOverview ? kOverviewBaseSector : kBaseSector) * kSector, SeekOrigin::Current);
    // The Base image is stored whole: a pack cut short fails before its planes are made.
    RequireBytes(stream, uint64_t(kBaseHeight / 2) * (2 * kBaseWidth + 2 * kChromaWidth));
    std::vector<uint8_t> luma(planeSize), chroma1(planeSize), chroma2(planeSize);

    Converter.SetSourceModel(ColorModel::PhotoYCC);
    Converter.SetSourceBits(8);
    Converter.SetSourceSamples(3);
    Converter.SetTargetModel(ColorModel::BGR);
    Converter.SetTargetBits(8);
    Converter.SetTargetSamples(3);
    SetPixelFormat(BitmapPixelFormat::Bits24);
    Converter.SetChromaParameters({0.2125f, 0.7154f, 0.0721f}, 2, 2);
    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");

    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::LoadingData);
    // Each row pair: two luminance rows, then one row of each chroma plane.
    for (uint32_t row = 0; row < kBaseHeight; row += 2) {
        ReportProgress(TProgressStage::psRunning, RowPercent(row, kBaseHeight), false, ProgressArea, "");
        stream.ReadBuffer(&luma[size_t(row) * kBaseWidth], kBaseWidth);
        stream.ReadBuffer(&luma[size_t(row + 1) * kBaseWidth], kBaseWidth);
        stream.ReadBuffer(&chroma1[size_t(row / 2) * kBaseWidth], kChromaWidth);
        stream.ReadBuffer(&chroma2[size_t(row / 2) * kBaseWidth], kChromaWidth);
    }
    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");

    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Upsampling);
    ReportProgress(TProgressStage::psRunning, 80, false, ProgressArea, "");
    UpsamplePlane(kChromaWidth, kChromaHeight, kBaseWidth, chroma1.data());
    ReportProgress(TProgressStage::psRunning, 100, false, ProgressArea, "");
    UpsamplePlane(kChromaWidth, kChromaHeight, kBaseWidth, chroma2.data());
    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");

    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Transfering);
    const uint8_t rotation = Properties.Rotation;
    const bool sideways = rotation == 1 || rotation == 3;
    if (sideways) {
        ProgressArea.Right = int32_t(kBaseHeight);
        SetImageSize(kBaseHeight, kBaseWidth);
    } else {
        SetImageSize(kBaseWidth, kBaseHeight);
    }
    std::vector<uint8_t> turned(sideways ? size_t(kBaseWidth) * 3 : 0);
    for (uint32_t r = 0; r < kBaseHeight; ++r) {
        const size_t offset = size_t(r) * kBaseWidth;
        const std::array<const void*, 3> sources{&luma[offset], &chroma1[offset], &chroma2[offset]};
        if (!sideways) {
            Converter.ConvertPixels(sources, ScanLine(int(r)), kBaseWidth);
        } else {
            Converter.ConvertPixels(sources, turned.data(), kBaseWidth);
            // Rotation 1: the stored row becomes column r read from the bottom up;
            // rotation 3: column 511 - r read from the top down.
            for (uint32_t i = 0; i < kBaseWidth; ++i) {
                const uint32_t y = rotation == 1 ? kBaseWidth - 1 - i : i;
                const uint32_t x = rotation == 1 ? r : kBaseHeight - 1 - r;
                std::memcpy(ScanLine(int(y)) + size_t(x) * 3, &turned[size_t(i) * 3], 3);
            }
        }
        ReportProgress(TProgressStage::psRunning, RowPercent(r, kBaseHeight), true, ProgressArea, "");
        AdvanceProgressArea();
    }
    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");
}

}  // namespace tilvorn
