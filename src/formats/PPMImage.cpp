#include "formats/PPMImage.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

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
bool IsKnownType(char type) { return type >= '1' && type <= '7'; }

/// The tuple types of P7 files we show, with the samples per pixel each one has.
struct TTupleType {
    std::string_view Name;
    uint32_t Depth;
};
constexpr TTupleType kTupleTypes[] = {
    {"BLACKANDWHITE", 1},       {"GRAYSCALE", 1},       {"RGB", 3},
    {"BLACKANDWHITE_ALPHA", 2}, {"GRAYSCALE_ALPHA", 2}, {"RGB_ALPHA", 4},
};

bool HasAlpha(uint32_t depth) { return depth == 2 || depth == 4; }

/// The line's first word and the rest after the white space following it.
std::pair<std::string, std::string> SplitKeyword(const std::string& line) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) return {};
    const size_t end = std::min(line.find_first_of(" \t", start), line.size());
    const size_t value = std::min(line.find_first_not_of(" \t", end), line.size());
    size_t last = line.find_last_not_of(" \t");
    return {line.substr(start, end - start), value <= last ? line.substr(value, last + 1 - value) : std::string()};
}

/// A header number of a P7 file; 0 (never valid there) when the text is not a number.
uint32_t HeaderNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return IsDigit(uint8_t(c)); }))
        return 0;
    return uint32_t(std::stoul(text));
}

}  // namespace

bool TPPMGraphic::ProbeContent(TStream& stream) {
    uint8_t bytes[kProbeSize];
    if (!ReadProbeBytes(stream, bytes, kProbeSize)) return false;
    if (bytes[0] != 'P' || !IsKnownType(char(bytes[1]))) return false;
    // "P7" followed by a line end: "P7 332" starts an XV thumbnail, which is something else.
    return bytes[1] != '7' || bytes[2] == '\n' || bytes[2] == '\r';
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

void TPPMGraphic::ReadBytes(uint8_t* target, size_t count) {
    const size_t buffered = std::min<size_t>(count, bufferEnd_ - bufferPos_);
    std::memcpy(target, buffer_.data() + bufferPos_, buffered);
    bufferPos_ += uint32_t(buffered);
    const int64_t rest = int64_t(count - buffered);
    if (rest > 0 && LoadStream->Read(target + buffered, rest) != rest)
        RaiseImageErrorFmt(readertext::StreamReadError, kReadErrorName);
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
    if (!IsKnownType(type)) return type;
    if (type == '7') return ReadArbitraryHeader() ? type : 0;
    depth_ = IsBitmap(type) || IsGreyMap(type) ? 1 : 3;
    Properties.ImageWidth = ReadNumber();
    Properties.ImageHeight = ReadNumber();
    maxValue_ = IsBitmap(type) ? 1 : std::max<uint32_t>(ReadNumber(), 1);
    return type;
}

bool TPPMGraphic::ReadArbitraryHeader() {
    uint32_t width = 0, height = 0, depth = 0, maxValue = 0;
    std::string tupleType;
    ReadLine();  // the rest of the magic line
    for (;;) {
        const std::string line = ReadLine();
        const auto [key, value] = SplitKeyword(line);
        if (key.empty() || key[0] == '#') continue;
        if (key == "ENDHDR") break;
        if (key == "WIDTH")
            width = HeaderNumber(value);
        else if (key == "HEIGHT")
            height = HeaderNumber(value);
        else if (key == "DEPTH")
            depth = HeaderNumber(value);
        else if (key == "MAXVAL")
            maxValue = HeaderNumber(value);
        else if (key == "TUPLTYPE")
            tupleType = value;
        else
            return false;
    }
    // Without a tuple type the depth says what the samples are; a named type must have its
    // depth, and types other than grey and colour (with or without alpha) are not pictures.
    const auto known = std::find_if(std::begin(kTupleTypes), std::end(kTupleTypes),
                                    [&](const TTupleType& t) { return t.Name == tupleType; });
    if (!tupleType.empty() && (known == std::end(kTupleTypes) || known->Depth != depth)) return false;
    if (width == 0 || height == 0 || depth == 0 || depth > 4 || maxValue == 0 || maxValue > 65535) return false;
    Properties.ImageWidth = width;
    Properties.ImageHeight = height;
    depth_ = depth;
    maxValue_ = maxValue;
    return true;
}

bool TPPMGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
    TReaderGraphic::ReadImageInfo(stream, imageIndex);
    LoadStream = &stream;
    EmptyBuffer();
    const char type = ReadHeader();
    if (type == 0) return false;
    Properties.Coding = CompressionKind::None;
    if (!IsKnownType(type)) return true;
    if (type == '7') {
        static constexpr ColorModel kModels[] = {ColorModel::Gray, ColorModel::GrayAlpha, ColorModel::RGB,
                                                 ColorModel::RGBA};
        Properties.Model = kModels[depth_ - 1];
        Properties.HasAlphaChannel = HasAlpha(depth_);
        Properties.SampleBits = maxValue_ > 255 ? 16 : 8;
        Properties.SampleCount = uint8_t(depth_);
    } else if (IsBitmap(type) || IsGreyMap(type)) {
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
            ReadBytes(row, (width + 7) / 8);
            break;
        case '5':
            if (maxValue_ == 255) {
                ReadBytes(row, width);
                break;
            }
            for (uint32_t x = 0; x < width; ++x) row[x] = ReadBinarySample();
            break;
        case '6':
            if (maxValue_ == 255) {  // the bytes as they are, red and blue swapped in place
                ReadBytes(row, size_t(width) * 3);
                for (uint32_t x = 0; x < width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
                break;
            }
            for (uint32_t x = 0; x < width; ++x) {
                row[3 * x + 2] = ReadBinarySample();
                row[3 * x + 1] = ReadBinarySample();
                row[3 * x] = ReadBinarySample();
            }
            break;
        case '7':
            ReadTupleRow(row);
            break;
    }
}

void TPPMGraphic::ReadTupleRow(uint8_t* row) {
    // Grey becomes one byte; grey with alpha is widened to blue, green, red and alpha so the
    // picture lays it on white as it does colour with alpha.
    const uint32_t width = Properties.ImageWidth;
    for (uint32_t x = 0; x < width; ++x) {
        switch (depth_) {
            case 1:
                row[x] = ReadBinarySample();
                break;
            case 2: {
                const uint8_t grey = ReadBinarySample();
                row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = grey;
                row[4 * x + 3] = ReadBinarySample();
                break;
            }
            default: {
                uint8_t* pixel = row + x * (depth_ == 3 ? 3 : 4);
                pixel[2] = ReadBinarySample();
                pixel[1] = ReadBinarySample();
                pixel[0] = ReadBinarySample();
                if (depth_ == 4) pixel[3] = ReadBinarySample();
            }
        }
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
    if (!IsKnownType(type)) return;

    const uint32_t width = Properties.ImageWidth, height = Properties.ImageHeight;
    // Every pixel takes at least one byte of the file (a bitmap row one per 8 pixels): a
    // header asking for more than the stream holds ends in the read error before anything
    // of its size is allocated.
    const uint64_t bytesPerSample = !IsText(type) && maxValue_ > 255 ? 2 : 1;
    const uint64_t least = type == '4' ? uint64_t(height) * ((uint64_t(width) + 7) / 8)
                                       : uint64_t(width) * height * depth_ * bytesPerSample;
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
    } else if (type == '7' && depth_ == 1) {
        SetPixelFormat(BitmapPixelFormat::Bits8);
        Converter.SetTargetSamples(1);
        Converter.SetTargetBits(8);
        SetPaletteEntries(Converter.BuildGrayPalette(false));
    } else {
        SetPixelFormat(type == '7' && HasAlpha(depth_) ? BitmapPixelFormat::Bits32 : BitmapPixelFormat::Bits24);
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
