#include "formats/RLAImage.h"

#include <array>
#include <cctype>
#include <charconv>
#include <string>

#include "formats/FormatBytes.h"
#include "readers/ReaderCodecs.h"

namespace tilvorn {

using namespace formats;

namespace {

constexpr const char* kFormatName = "RLA";
constexpr int kHeaderSize = 740;
constexpr uint16_t kRevision = 0xFFFE;
constexpr int kGammaOffset = 28, kGammaSize = 16;
constexpr int kChannelTypeOffset = 580, kChannelTypeSize = 32;
constexpr int kChannelBitsOffset = 658;
constexpr int kMatteBitsOffset = 662;
constexpr uint32_t kColourPlanes = 3;
// A run gives at most 128 bytes for two stored bytes.
constexpr uint64_t kMaxRunExpansion = 64;

int16_t S16(const uint8_t* p) { return int16_t(BE16(p)); }

std::string Text(const uint8_t* p, size_t size) {
    std::string text(reinterpret_cast<const char*>(p), size);
    text.resize(text.find('\0') == std::string::npos ? size : text.find('\0'));
    return text;
}

bool SameIgnoringCase(const std::string& a, const char* b) {
    const std::string other(b);
    if (a.size() != other.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != other[i]) return false;
    return true;
}

/// The gamma text as a decimal number (blanks around it allowed); 1.0 when it is not one.
/// A gamma of 0 or below names no gamma at all.
float ParseGamma(const std::string& text) {
    const size_t first = text.find_first_not_of(' '), last = text.find_last_not_of(' ');
    if (first == std::string::npos) return 1.0f;
    const char* begin = text.data() + first;
    const char* end = text.data() + last + 1;
    float value = 0;
    const auto [rest, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || rest != end || !(value > 0)) return 1.0f;
    return value;
}

/// Bytes a sample of the given bits takes in a decoded channel.
uint32_t SampleBytes(uint32_t bits) { return (bits + 7) / 8; }

/// Channels wider than 8 bits are stored as byte planes, most significant first: the
/// samples are put together and scaled to 8 bits.
void ReduceToBytes(const std::vector<uint8_t>& decoded, uint32_t width, uint32_t bits, uint8_t* target) {
    const uint32_t bytes = SampleBytes(bits);
    if (bytes == 1) {
        std::copy_n(decoded.begin(), width, target);
        return;
    }
    const uint64_t high = (uint64_t(1) << bits) - 1;
    for (uint32_t x = 0; x < width; ++x) {
        uint64_t value = 0;
        for (uint32_t b = 0; b < bytes; ++b) value = (value << 8) | decoded[uint64_t(b) * width + x];
        target[x] = uint8_t(std::min(value, high) * 255 / high);
    }
}

}  // namespace

bool TRLAGraphic::ProbeContent(TStream& stream) {
    std::vector<uint8_t> header(kHeaderSize);
    if (!ReadProbeBytes(stream, header.data(), kHeaderSize)) return false;
    const std::string type = Text(&header[kChannelTypeOffset], kChannelTypeSize);
    return BE16(&header[26]) == kRevision && (SameIgnoringCase(type, "rgb") || SameIgnoringCase(type, "xyz"));
}

bool TRLAGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
    TReaderGraphic::ReadImageInfo(stream, imageIndex);
    std::vector<uint8_t> header(kHeaderSize);
    stream.ReadBuffer(header.data(), kHeaderSize);
    const int32_t left = S16(&header[8]), right = S16(&header[10]);
    const int32_t bottom = S16(&header[12]), top = S16(&header[14]);
    Properties.ImageWidth = uint32_t(std::max(0, right - left + 1));
    Properties.ImageHeight = uint32_t(std::abs(bottom - top) + 1);
    Properties.StoredBottomUp = bottom < top;
    colourChannels_ = BE16(&header[20]);
    matteChannels_ = BE16(&header[22]);
    Properties.FormatVersion = BE16(&header[26]);
    Properties.SampleCount = uint8_t(std::min<uint32_t>(colourChannels_ + (matteChannels_ == 1 ? 1 : 0), 255));
    Properties.Gamma = ParseGamma(Text(&header[kGammaOffset], kGammaSize));
    Properties.SampleBits = uint8_t(std::min<uint16_t>(BE16(&header[kChannelBitsOffset]), 255));
    matteBits_ = BE16(&header[kMatteBitsOffset]);
    Properties.PixelBits = uint8_t(Properties.SampleBits * Properties.SampleCount);
    Properties.Flags.Include(ImageFlag::BigEndian);
    Properties.Coding = CompressionKind::RLE;
    const std::string type = Text(&header[kChannelTypeOffset], kChannelTypeSize);
    if (SameIgnoringCase(type, "xyz")) return false;
    if (SameIgnoringCase(type, "rgb")) Properties.Model = matteChannels_ >= 1 ? ColorModel::RGBA : ColorModel::RGB;
    return true;
}

void TRLAGraphic::ReadImage(TStream& stream) {
    ReleasePixels();
    StartPosition = uint32_t(stream.Position());
    if (!ReadImageInfo(stream, 0)) return;

    ProgressArea = {0, 0, int32_t(Properties.ImageWidth), 1};
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Transfering);

    const uint32_t bits = Properties.SampleBits;
    const uint32_t matteBits = matteBits_ >= 1 && matteBits_ <= 16 ? matteBits_ : bits;
    // Channels are decoded here and reduced to 8 bits before they reach the converter.
    if (bits < 1 || bits > 16) RaiseImageErrorFmt(readertext::InvalidColorFormat, kFormatName);
    const bool alpha = Properties.Model == ColorModel::RGBA;
    const uint8_t samples = alpha ? 4 : 3;
    Converter.SetSourceSamples(samples);
    Converter.SetTargetSamples(samples);
    Converter.SetSourceBits(8);
    Converter.SetTargetBits(8);
    Converter.SetSourceModel(Properties.Model);
    Converter.SetTargetModel(alpha ? ColorModel::BGRA : ColorModel::BGR);
    const BitmapPixelFormat format = Converter.PixelFormatFor(1);
    if (Properties.Gamma != 1.0f) {
        Converter.ConfigureGamma(Properties.Gamma, 2.2f);
        Converter.TargetFlags.Include(ConversionFlag::GammaCorrect);
        Properties.Flags.Include(ImageFlag::GammaInUse);
    }

    const uint32_t width = Properties.ImageWidth, height = Properties.ImageHeight;
    const std::vector<uint8_t> table = ReadBytes(stream, uint64_t(height) * 4);
    CheckDecodedSize(uint64_t(width) * height * samples, uint64_t(BytesLeft(stream)), kMaxRunExpansion, kFormatName);
    SetPixelFormat(format);
    SetImageSize(width, height);

    TRLADecoder decoder;
    std::array<std::vector<uint8_t>, 4> channels;
    for (auto& channel : channels) channel.assign(width, 0);
    std::vector<uint8_t> decoded, packed;
    auto readChannel = [&](uint32_t channelBits, uint8_t* target) {
        packed = ReadBytes(stream, ReadBE16(stream));
        if (!target) return;  // a channel this reader does not show
        decoded.assign(uint64_t(width) * SampleBytes(channelBits), 0);
        TSourcePos source(packed.data(), packed.size());
        TDestPos dest(decoded.data(), decoded.size());
        decoder.Decompress(source, dest, int32_t(packed.size()), int32_t(width));
        ReduceToBytes(decoded, width, channelBits, target);
    };

    for (uint32_t i = 0; i < height; ++i) {
        stream.SetPosition(int64_t(StartPosition) + BE32(&table[uint64_t(i) * 4]));
        const uint32_t y = Properties.StoredBottomUp ? height - 1 - i : i;
        for (auto& channel : channels) std::fill(channel.begin(), channel.end(), 0);
        for (uint32_t c = 0; c < colourChannels_; ++c)
            readChannel(bits, c < kColourPlanes ? channels[c].data() : nullptr);
        if (alpha) readChannel(matteBits, channels[3].data());
        Converter.ConvertPixels({channels[0].data(), channels[1].data(), channels[2].data(), channels[3].data()},
                                ScanLine(int(y)), width);
        ReportProgress(TProgressStage::psRunning, RowPercent(i, height), true, ProgressArea, "");
        AdvanceProgressArea();
    }
    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");
}

}  // namespace tilvorn
