#include "formats/SGIImage.h"

#include <algorithm>
#include <array>

#include "formats/FormatBytes.h"

namespace tilvorn {

using namespace formats;

namespace {

constexpr const char* kFormatName = "sgi, bw or rgb(a)";
constexpr int kHeaderSize = 512;
constexpr uint16_t kMagic = 474;
// A run gives at most 127 samples for one header and one sample; a verbatim file may have
// lost its end. Either way the stored bytes are at least 1/64 of the pixels.
constexpr uint64_t kMaxExpansion = 64;

/// What a count of channels (the header's zsize) shows as: colour files convert all their
/// planes; every other count (grey, grey with alpha, more planes than colours) shows its
/// first plane as grey, one sample.
struct TSgiMode {
    uint16_t Channels;
    ColorModel Model;  // the file's, as the properties name it
    ColorModel Target;  // the bitmap's
    bool Colour;  // all planes converted, not the first one alone
};

constexpr TSgiMode kModes[] = {
    {3, ColorModel::RGB, ColorModel::BGR, true},
    {4, ColorModel::RGBA, ColorModel::BGRA, true},
};
constexpr TSgiMode kFirstPlaneMode{0, ColorModel::Indexed, ColorModel::Indexed, false};

const TSgiMode& ModeForChannels(uint16_t channels) {
    for (const TSgiMode& mode : kModes)
        if (mode.Channels == channels) return mode;
    return kFirstPlaneMode;
}

const TSgiMode& ModeOf(ColorModel model) {
    for (const TSgiMode& mode : kModes)
        if (mode.Model == model) return mode;
    return kFirstPlaneMode;
}

}  // namespace

bool TSGIGraphic::ProbeContent(TStream& stream) {
    std::array<uint8_t, kHeaderSize> header{};
    if (!ReadProbeBytes(stream, header.data(), kHeaderSize)) return false;
    const uint16_t dimension = BE16(&header[4]);
    return BE16(&header[0]) == kMagic && (header[3] == 1 || header[3] == 2) && dimension >= 1 && dimension <= 3;
}

bool TSGIGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
    TReaderGraphic::ReadImageInfo(stream, imageIndex);
    std::array<uint8_t, kHeaderSize> header{};
    stream.ReadBuffer(header.data(), kHeaderSize);
    if (BE16(&header[0]) != kMagic) return false;
    Properties.Flags.Include(ImageFlag::BigEndian);
    Properties.SampleBits = uint8_t(8 * header[3]);
    Properties.ImageWidth = BE16(&header[6]);
    Properties.ImageHeight = BE16(&header[8]);
    const uint16_t channels = BE16(&header[10]);
    Properties.SampleCount = uint8_t(std::min<uint16_t>(channels, 255));
    Properties.Model = ModeForChannels(channels).Model;
    Properties.PixelBits = uint8_t(Properties.SampleBits * Properties.SampleCount);
    Properties.Coding = header[2] == 1 ? CompressionKind::RLE : CompressionKind::None;
    return true;
}

void TSGIGraphic::ReadImage(TStream& stream) {
    ReleasePixels();
    LoadStream = &stream;
    StartPosition = uint32_t(stream.Position());
    rowOffsets_.clear();
    rowLengths_.clear();
    decoder_.reset();
    streamEnd_ = stream.Size();
    if (!ReadImageInfo(stream, 0)) RaiseImageErrorFmt(readertext::InvalidImage, kFormatName);

    ProgressArea = {0, 0, int32_t(Properties.ImageWidth), 1};
    TProgressPhase preparing(*this, readertext::Preparing, 100);
    stream.SetPosition(int64_t(StartPosition) + kHeaderSize);
    Converter.SourceFlags = {ConversionFlag::SwapBytes};

    const TSgiMode& mode = ModeOf(Properties.Model);
    const bool colour = mode.Colour;
    const uint8_t samples = colour ? Properties.SampleCount : 1;
    Converter.SetSourceBits(Properties.SampleBits);
    Converter.SetTargetBits(8);
    Converter.SetSourceSamples(samples);
    Converter.SetTargetSamples(samples);
    Converter.SetSourceModel(Properties.Model);
    Converter.SetTargetModel(mode.Target);
    if (Properties.SampleCount == 0) RaiseImageErrorFmt(readertext::InvalidImage, kFormatName);

    const uint32_t width = Properties.ImageWidth, height = Properties.ImageHeight;
    const uint32_t sampleBytes = Properties.SampleBits / 8;
    const uint32_t planes = colour ? Properties.SampleCount : 1;
    if (Properties.Coding == CompressionKind::RLE) ReadRowTables();
    CheckDecodedSize(uint64_t(width) * height * sampleBytes * planes, uint64_t(BytesLeft(stream)), kMaxExpansion,
                     kFormatName);

    SetPixelFormat(Converter.PixelFormatFor(1));
    SetImageSize(width, height);
    preparing.End();

    struct TRelease {  // the decoder and its buffer go on every way out, after the phase ends
        TSGIGraphic& reader;
        ~TRelease() {
            reader.decoder_.reset();
            reader.windows_ = {};
        }
    } release{*this};
    TProgressPhase transfer(*this, readertext::Transfering, 100);

    std::array<std::vector<uint8_t>, 4> buffers;
    for (uint32_t p = 0; p < planes; ++p) buffers[p].resize(uint64_t(width) * sampleBytes);
    if (!colour) SetPaletteEntries(Converter.BuildGrayPalette(false));
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = ScanLine(int(height - 1 - y));
        for (uint32_t p = 0; p < planes; ++p) ReadRow(y, p, buffers[p]);
        if (colour) {
            const std::array<const void*, 4> sources{buffers[0].data(), buffers[1].data(),
                                                     planes > 2 ? buffers[2].data() : nullptr,
                                                     planes > 3 ? buffers[3].data() : nullptr};
            Converter.ConvertPixels(std::span<const void* const>(sources.data(), planes), row, width);
        } else if (sampleBytes == 2) {
            Converter.ConvertPixels(buffers[0].data(), row, width);  // 16-bit samples reduced to 8
        } else {
            std::copy(buffers[0].begin(), buffers[0].end(), row);
        }
        ReportProgress(TProgressStage::psRunning, RowPercent(y, height), true, ProgressArea, "");
        AdvanceProgressArea();
    }
    transfer.End();
}

void TSGIGraphic::ReadRowTables() {
    TStream& stream = *LoadStream;
    const uint64_t count = uint64_t(Properties.ImageHeight) * Properties.SampleCount;
    const std::vector<uint8_t> tables = ReadBytes(stream, count * 8);
    rowOffsets_.resize(count);
    rowLengths_.resize(count);
    for (uint64_t i = 0; i < count; ++i) {
        rowOffsets_[i] = BE32(&tables[i * 4]);
        rowLengths_[i] = BE32(&tables[(count + i) * 4]);
    }
    decoder_ = std::make_unique<TSGIRLEDecoder>(Properties.SampleBits);
}

void TSGIGraphic::ReadRow(uint32_t y, uint32_t plane, std::vector<uint8_t>& buffer) {
    TStream& stream = *LoadStream;
    const uint32_t width = Properties.ImageWidth, height = Properties.ImageHeight;
    const uint32_t sampleBytes = Properties.SampleBits / 8;
    // A row the file does not hold in full shows black where its data end.
    std::fill(buffer.begin(), buffer.end(), 0);
    if (Properties.Coding != CompressionKind::RLE) {
        stream.SetPosition(int64_t(StartPosition) + kHeaderSize +
                           int64_t((uint64_t(plane) * height + y) * width * sampleBytes));
        stream.Read(buffer.data(), int64_t(buffer.size()));
        return;
    }
    const uint64_t entry = uint64_t(plane) * height + y;
    const int64_t position = int64_t(StartPosition) + rowOffsets_[entry];
    const std::span<const uint8_t> coded =
        CodedBytes(plane, position,
                   size_t(std::clamp<int64_t>(streamEnd_ - position, 0, int64_t(rowLengths_[entry]) * sampleBytes)));
    TSourcePos source(coded.data(), coded.size());
    TDestPos dest(buffer.data(), buffer.size());
    decoder_->Decompress(source, dest, int32_t(coded.size()), int32_t(width));
}

std::span<const uint8_t> TSGIGraphic::CodedBytes(uint32_t plane, int64_t position, size_t count) {
    constexpr size_t kWindowSize = 256 * 1024;
    TWindow& window = windows_[plane % windows_.size()];
    const bool inside =
        position >= window.Start && uint64_t(position - window.Start) + count <= uint64_t(window.Bytes.size());
    if (!inside && count > 0) {
        const int64_t wanted = std::clamp<int64_t>(streamEnd_ - position, 0, int64_t(std::max(count, kWindowSize)));
        window.Bytes.resize(size_t(wanted));
        LoadStream->SetPosition(position);
        window.Bytes.resize(size_t(std::max<int64_t>(LoadStream->Read(window.Bytes.data(), wanted), 0)));
        window.Start = position;
    }
    const size_t offset = size_t(position - window.Start);
    if (count == 0 || offset > window.Bytes.size()) return {};
    return {window.Bytes.data() + offset, std::min(count, window.Bytes.size() - offset)};
}

}  // namespace tilvorn
