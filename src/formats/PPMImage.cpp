#include "formats/PPMImage.h"

#include "formats/FormatBytes.h"

namespace tilvorn {

using namespace formats;

namespace {

constexpr const char* kFormatName = "PBM, PGM or PPM";
constexpr const char* kReadErrorName = "PPM";
constexpr int kProbeSize = 10;

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool IsBitmap(char type) { return type == '1' || type == '4'; }
bool IsGreyMap(char type) { return type == '2' || type == '5'; }
bool IsText(char type) { return type >= '1' && type <= '3'; }

}  // namespace

bool TPPMGraphic::ProbeContent(TStream& stream) {
    uint8_t bytes[kProbeSize];
    if (!ReadProbeBytes(stream, bytes, kProbeSize)) return false;
    return bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '6';
}

bool TPPMGraphic::Fill() {
    if (bufferPos_ < bufferEnd_) return true;
    if (LoadStream->Position() >= LoadStream->Size()) return false;
    bufferEnd_ = uint32_t(LoadStream->Read(buffer_.data(), kBufferSize));
    bufferPos_ = 0;
    return bufferEnd_ > 0;
}

uint8_t TPPMGraphic::ReadByte() {
    if (!Fill()) RaiseImageErrorFmt(readertext::StreamReadError, kReadErrorName);
    return buffer_[bufferPos_++];
}

std::string TPPMGraphic::ReadLine() {
    std::string line;
    for (;;) {
        const uint8_t c = ReadByte();
        if (c == '\n') break;
        if (c == '\r') {
            if (Fill() && buffer_[bufferPos_] == '\n') ++bufferPos_;
            break;
        }
        line += char(c);
    }
    return line;
}

void TPPMGraphic::SkipToDigit() {
    while (!IsDigit(PeekOrFill())) {
        if (ReadByte() == '#') ReadLine();  // a comment runs to the end of its line
    }
}

uint8_t TPPMGraphic::PeekOrFill() {
    if (!Fill()) RaiseImageErrorFmt(readertext::StreamReadError, kReadErrorName);
    return buffer_[bufferPos_];
}

uint32_t TPPMGraphic::ReadNumber() {
    SkipToDigit();
    uint64_t value = 0;
    while (Fill() && IsDigit(buffer_[bufferPos_])) {
        value = std::min<uint64_t>(value * 10 + (buffer_[bufferPos_++] - '0'), UINT32_MAX);
    }
    // The separator after the digits is taken too (in binary files the raster follows it);
    // a text file may end right after its last number.
    if (Fill()) ++bufferPos_;
    return uint32_t(value);
}

uint8_t TPPMGraphic::ReadBitDigit() {
    SkipToDigit();
    return ReadByte() & 1;
}

char TPPMGraphic::ReadHeader() {
    // The magic "P" and its digit; the numbers may follow on the same line or on later ones.
    if (ReadByte() != 'P') return 0;
    const char type = char(ReadByte());
    if (type < '1' || type > '6') return type;
    Properties.ImageWidth = ReadNumber();
    Properties.ImageHeight = ReadNumber();
    maxValue_ = IsBitmap(type) ? 1 : std::max<uint32_t>(ReadNumber(), 1);
    return type;
}

bool TPPMGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
    TReaderGraphic::ReadImageInfo(stream, imageIndex);
    LoadStream = &stream;
    EmptyBuffer();
    const char type = ReadHeader();
    if (type == 0) return false;
    Properties.Coding = CompressionKind::None;
    if (type < '1' || type > '6') return true;
    if (IsBitmap(type) || IsGreyMap(type)) {
        Properties.Model = ColorModel::Indexed;
        Properties.SampleBits = IsBitmap(type) ? 1 : 8;
        Properties.SampleCount = 1;
    } else {
        Properties.Model = ColorModel::RGB;
        Properties.SampleBits = 8;
        Properties.SampleCount = 3;
    }
    Properties.PixelBits = uint8_t(Properties.SampleBits * Properties.SampleCount);
    return true;
}

uint8_t TPPMGraphic::Sample(uint32_t value) const {
    // Samples of a maximum of 255 are kept as they are; others are scaled to 0..255, those
    // of a smaller maximum to the nearest value (a 4-bit grey map is not to come out black).
    if (maxValue_ == 255) return uint8_t(value);
    const uint64_t v = std::min(value, maxValue_);
    return maxValue_ > 255 ? uint8_t(v * 255 / maxValue_) : uint8_t((v * 255 + maxValue_ / 2) / maxValue_);
}

uint8_t TPPMGraphic::ReadBinarySample() {
    if (maxValue_ == 255) return ReadByte();
    if (maxValue_ < 255) return Sample(ReadByte());
    const uint32_t high = ReadByte();
    return Sample((high << 8) | ReadByte());
}

void TPPMGraphic::ReadRow(char type, uint8_t* row) {
    const uint32_t width = Properties.ImageWidth;
    switch (type) {
        case '1':
            std::fill_n(row, (width + 7) / 8, 0);
            for (uint32_t x = 0; x < width; ++x) row[x / 8] |= uint8_t(ReadBitDigit() << (7 - x % 8));
            break;
        case '2':
            for (uint32_t x = 0; x < width; ++x) row[x] = Sample(ReadNumber());
            break;
        case '3':
            for (uint32_t x = 0; x < width; ++x) {
                row[3 * x + 2] = Sample(ReadNumber());
                row[3 * x + 1] = Sample(ReadNumber());
                row[3 * x] = Sample(ReadNumber());
            }
            break;
        case '4':
            for (uint32_t i = 0; i < (width + 7) / 8; ++i) row[i] = ReadByte();
            break;
        case '5':
            for (uint32_t x = 0; x < width; ++x) row[x] = ReadBinarySample();
            break;
        case '6':
            for (uint32_t x = 0; x < width; ++x) {
                row[3 * x + 2] = ReadBinarySample();
                row[3 * x + 1] = ReadBinarySample();
                row[3 * x] = ReadBinarySample();
            }
            break;
    }
}

void TPPMGraphic::ReadImage(TStream& stream) {
    ReleasePixels();
    StartPosition = uint32_t(stream.Position());
    LoadStream = &stream;
    if (!ReadImageInfo(stream, 0)) RaiseImageErrorFmt(readertext::InvalidImage, kFormatName);

    stream.SetPosition(StartPosition);
    ProgressArea = {0, 0, int32_t(Properties.ImageWidth), 1};
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Transfering);
    EmptyBuffer();
    const char type = ReadHeader();
    if (type < '1' || type > '6') return;

    const uint32_t width = Properties.ImageWidth, height = Properties.ImageHeight;
    // Every pixel takes at least one byte of the file (a bitmap row one per 8 pixels): a
    // header asking for more than the stream holds ends in the read error before anything
    // of its size is allocated.
    const uint64_t bytesPerSample = !IsText(type) && maxValue_ > 255 ? 2 : 1;
    const uint64_t least = type == '4'   ? uint64_t(height) * ((uint64_t(width) + 7) / 8)
                           : IsBitmap(type) || IsGreyMap(type) ? uint64_t(width) * height * bytesPerSample
                                                              : uint64_t(width) * height * 3 * bytesPerSample;
    if (least > uint64_t(BytesLeft(stream)) + (bufferEnd_ - bufferPos_))
        RaiseImageErrorFmt(readertext::StreamReadError, kReadErrorName);

    if (IsBitmap(type)) {
        SetPixelFormat(BitmapPixelFormat::Bits1);
        Converter.SetTargetSamples(1);
        Converter.SetTargetBits(1);
        SetPaletteEntries(Converter.BuildGrayPalette(true));
    } else if (IsGreyMap(type)) {
        SetPixelFormat(BitmapPixelFormat::Bits8);
        Converter.SetTargetSamples(1);
        Converter.SetTargetBits(8);
        SetPaletteEntries(Converter.BuildGrayPalette(false));
    } else {
        SetPixelFormat(BitmapPixelFormat::Bits24);
    }
    SetImageSize(width, height);

    for (uint32_t y = 0; y < height; ++y) {
        ReadRow(type, ScanLine(int(y)));
        ReportProgress(TProgressStage::psRunning, RowPercent(y, height), true, ProgressArea, "");
        AdvanceProgressArea();
    }
    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");
}

}  // namespace tilvorn
