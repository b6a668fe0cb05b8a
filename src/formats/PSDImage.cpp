#include "formats/PSDImage.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

#include "core/PictureMemory.h"
#include "formats/FormatBytes.h"
#include "readers/ReaderCodecs.h"

namespace tilvorn {

using namespace formats;

namespace {

constexpr const char* kFormatName = "PSD or PDD";
constexpr const char* kColorFormatName = "PSD";
constexpr int kHeaderSize = 26;
constexpr uint16_t kPackBits = 1;
// A PackBits run gives at most 128 bytes for two stored bytes.
constexpr uint64_t kMaxRunExpansion = 64;

ColorModel ModelOfMode(uint16_t mode, uint16_t channels) {
    switch (mode) {
        case 0:
            return ColorModel::Gray;  // bitmap, with MinIsWhite
        case 1:
            return channels >= 2 ? ColorModel::GrayAlpha : ColorModel::Gray;  // the second channel is alpha
        case 2:
            return ColorModel::Indexed;
        case 3:
        case 7:
            return channels == 3 ? ColorModel::RGB : ColorModel::RGBA;  // RGB, multichannel
        case 4:
            return ColorModel::CMYK;
        case 8:
            return ColorModel::Gray;  // duotone
        case 9:
            return ColorModel::CIELab;
        default:
            return ColorModel::Unknown;
    }
}

bool IsPaletteModel(ColorModel model) { return model == ColorModel::Indexed || model == ColorModel::Gray; }

/// Planes the colour models draw from (the converters take them one per sample).
uint32_t PlanesOf(ColorModel model) {
    switch (model) {
        case ColorModel::GrayAlpha:
            return 2;
        case ColorModel::RGB:
        case ColorModel::CIELab:
            return 3;
        case ColorModel::RGBA:
        case ColorModel::CMYK:
            return 4;
        default:
            return 1;
    }
}

uint64_t StoredRowBytes(const TImageProperties& p) { return (uint64_t(p.ImageWidth) * p.SampleBits + 7) / 8; }

void SkipSection(TStream& stream) {
    std::array<uint8_t, 4> length{};
    stream.ReadBuffer(length.data(), 4);
    stream.Seek(BE32(length.data()), SeekOrigin::Current);
}

uint32_t ReadLength(TStream& stream) {
    std::array<uint8_t, 4> length{};
    stream.ReadBuffer(length.data(), 4);
    return BE32(length.data());
}

// Photoshop stores the merged picture of a transparent document already laid on white: its
// colours are matted by the alpha, and never darker than the white the alpha lets through.
// Other writers store the colours as they are. Planes of big-endian samples, the alpha last;
// answers whether the colours are matted, so that the alpha must not be applied again.
bool MattedOnWhite(const uint8_t* data, uint64_t planeSize, uint32_t colourPlanes, uint64_t pixels, bool wide) {
    const uint8_t* alpha = data + colourPlanes * planeSize;
    const int64_t high = wide ? 65535 : 255, slack = wide ? 257 : 1;
    auto sample = [wide](const uint8_t* p, uint64_t i) -> int64_t { return wide ? BE16(p + 2 * i) : p[i]; };
    bool seeThrough = false;
    for (uint64_t i = 0; i < pixels; ++i) {
        const int64_t a = sample(alpha, i);
        if (a >= high - slack) continue;
        seeThrough = true;
        for (uint32_t c = 0; c < colourPlanes; ++c)
            if (sample(data + c * planeSize, i) + a < high - slack) return false;
    }
    return seeThrough;
}

// One plane's place in the PackBits stream of the file, decoded on demand through a window of
// its own (each plane of the picture is read from a different place at once).
class TPackBitsPlace {
public:
    TPackBitsPlace(TStream& stream, int64_t start, int64_t end) : stream_(&stream), next_(start), end_(end) {}

    /// The next count decoded bytes into target, or past them without writing when target is
    /// nullptr; what the stream cannot give is 0.
    void Take(uint8_t* target, size_t count) {
        while (count > 0) {
            if (literal_ == 0 && run_ == 0 && !NextPacket()) {
                if (target) std::memset(target, 0, count);
                return;
            }
            const size_t n = std::min(count, literal_ ? literal_ : run_);
            if (literal_) {
                CopyBytes(target, n);
                literal_ -= n;
            } else {
                if (target) std::memset(target, value_, n);
                run_ -= n;
            }
            if (target) target += n;
            count -= n;
        }
    }

private:
    static constexpr size_t kWindow = 64 * 1024;

    uint64_t BytesLeft() const { return uint64_t(have_ - at_) + uint64_t(end_ - next_); }
    bool Refill() {
        if (next_ >= end_) return false;
        const size_t n = size_t(std::min<int64_t>(int64_t(kWindow), end_ - next_));
        window_.resize(kWindow);
        stream_->Seek(next_, SeekOrigin::Beginning);
        stream_->ReadBuffer(window_.data(), int64_t(n));
        next_ += int64_t(n);
        at_ = 0;
        have_ = n;
        return true;
    }
    bool Byte(uint8_t& value) {
        if (at_ == have_ && !Refill()) return false;
        value = window_[at_++];
        return true;
    }
    // count bytes that are known to be there.
    void CopyBytes(uint8_t* target, size_t count) {
        while (count > 0) {
            if (at_ == have_) Refill();
            const size_t n = std::min(count, have_ - at_);
            if (target) {
                std::memcpy(target, window_.data() + at_, n);
                target += n;
            }
            at_ += n;
            count -= n;
        }
    }
    // Starts the next packet; false at the end of the data. A literal packet the data cut
    // short gives what they hold, a run without its value ends the stream.
    bool NextPacket() {
        for (uint8_t byte = 0; Byte(byte);) {
            const int8_t header = static_cast<int8_t>(byte);
            if (header >= 0) {
                literal_ = size_t(std::min<uint64_t>(uint64_t(header) + 1, BytesLeft()));
                if (literal_) return true;
            } else if (header != -128) {
                if (!Byte(value_)) break;
                run_ = size_t(1 - header);
                return true;
            }
        }
        next_ = end_;
        at_ = have_ = 0;
        return false;
    }

    TStream* stream_;
    int64_t next_, end_;  // the file's bytes not yet in the window
    std::vector<uint8_t> window_;
    size_t at_ = 0, have_ = 0;
    size_t literal_ = 0, run_ = 0;
    uint8_t value_ = 0;
};

}  // namespace

bool TPSDGraphic::ProbeContent(TStream& stream) {
    std::array<uint8_t, kHeaderSize> header{};
    if (!ReadProbeBytes(stream, header.data(), kHeaderSize)) return false;
    for (int i = 0; i < 4; ++i)
        if ((header[i] & 0xDF) != uint8_t("8BPS"[i] & 0xDF)) return false;
    return BE16(&header[4]) == 1;
}

bool TPSDGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
    TReaderGraphic::ReadImageInfo(stream, imageIndex);
    std::array<uint8_t, kHeaderSize> header{};
    stream.ReadBuffer(header.data(), kHeaderSize);
    if (std::memcmp(header.data(), "8BPS", 4) != 0) return false;
    const uint16_t channels = BE16(&header[12]);
    const uint16_t mode = BE16(&header[24]);
    Properties.ChannelCount = uint8_t(std::min<uint16_t>(channels, 255));
    Properties.SampleCount = uint8_t(std::min<uint16_t>(channels, 4));
    Properties.ImageHeight = BE32(&header[14]);
    Properties.ImageWidth = BE32(&header[18]);
    Properties.SampleBits = uint8_t(std::min<uint16_t>(BE16(&header[22]), 255));
    Properties.Model = ModelOfMode(mode, channels);
    Properties.Flags.Include(ImageFlag::BigEndian);
    if (mode == 0) Properties.Flags.Include(ImageFlag::MinIsWhite);
    Properties.PixelBits = uint8_t(Properties.SampleCount * Properties.SampleBits);
    SkipSection(stream);  // colour mode data
    SkipSection(stream);  // image resources
    SkipSection(stream);  // layer and mask information
    std::array<uint8_t, 2> compression{};
    stream.ReadBuffer(compression.data(), 2);
    Properties.Coding = BE16(compression.data()) == kPackBits ? CompressionKind::PackBits : CompressionKind::None;
    return true;
}

void TPSDGraphic::ReadImage(TStream& stream) {
    ReleasePixels();
    StartPosition = uint32_t(stream.Position());
    // Every picture has at least one channel: the row-count table and the planes come from it.
    if (!ReadImageInfo(stream, 0) || Properties.ChannelCount == 0)
        RaiseImageErrorFmt(readertext::InvalidImage, kFormatName);

    const ColorModel model = Properties.Model;
    const bool paletteModel = IsPaletteModel(model);
    const uint32_t bits = Properties.SampleBits;
    if (model != ColorModel::Unknown) {
        const bool depthFits = paletteModel ? (bits == 1 || bits == 8 || bits == 16) : (bits == 8 || bits == 16);
        const bool planesFit = paletteModel || Properties.SampleCount >= PlanesOf(model);
        if (!depthFits || !planesFit) RaiseImageErrorFmt(readertext::InvalidColorFormat, kColorFormatName);
        // Check the pixel data the stream holds against the header before anything is allocated.
        const uint64_t height = Properties.ImageHeight;
        const uint64_t shown = paletteModel ? height * StoredRowBytes(Properties)
                                            : uint64_t(PlanesOf(model)) * Properties.ImageWidth * (bits / 8) * height;
        if (Properties.Coding == CompressionKind::PackBits) {
            const uint64_t table = height * Properties.ChannelCount * 2;
            RequireBytes(stream, table);
            CheckDecodedSize(shown, uint64_t(BytesLeft(stream)) - table, kMaxRunExpansion, kFormatName);
        } else {
            RequireBytes(stream, shown);
        }
    }

    stream.SetPosition(StartPosition);
    ProgressArea = {0, 0, int32_t(Properties.ImageWidth), 1};
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Preparing);
    stream.Seek(kHeaderSize, SeekOrigin::Current);

    SetUpConverter();
    BitmapPixelFormat format = Converter.PixelFormatFor(1);
    if (model == ColorModel::Unknown && format == BitmapPixelFormat::Custom) format = BitmapPixelFormat::Bits24;
    SetPixelFormat(format);
    SetImageSize(Properties.ImageWidth, Properties.ImageHeight);

    ReadPaletteSection(stream);
    SkipSection(stream);  // image resources
    SkipSection(stream);  // layer and mask information
    stream.Seek(2, SeekOrigin::Current);

    std::vector<uint16_t> rowCounts;
    if (Properties.Coding == CompressionKind::PackBits) {
        const uint64_t count = uint64_t(Properties.ImageHeight) * Properties.ChannelCount;
        std::vector<uint8_t> table = ReadBytes(stream, count * 2);
        rowCounts.resize(count);
        for (uint64_t i = 0; i < count; ++i) rowCounts[i] = BE16(&table[i * 2]);
    }
    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");

    // A picture without rows or columns holds nothing to read, and its rows no bound.
    const bool pixels = Properties.ImageWidth > 0 && Properties.ImageHeight > 0;
    if (pixels && paletteModel)
        ReadIndexedRows(stream, rowCounts);
    else if (pixels && model != ColorModel::Unknown)
        ReadColourPlanes(stream, rowCounts);
    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");
}

void TPSDGraphic::SetUpConverter() {
    Converter.SourceFlags = {ConversionFlag::SwapBytes};
    Converter.SetSourceBits(Properties.SampleBits);
    Converter.SetTargetBits(Properties.SampleBits == 16 ? 8 : Properties.SampleBits);
    // Grey and indexed pictures show their first channel (further ones are alpha or spot
    // colours); the colour models take one plane per sample.
    const uint8_t samples = IsPaletteModel(Properties.Model) ? 1 : Properties.SampleCount;
    Converter.SetSourceSamples(samples);
    Converter.SetTargetSamples(samples);
    Converter.SetSourceModel(Properties.Model);
    switch (Properties.Model) {
        case ColorModel::RGB:
            Converter.SetTargetModel(ColorModel::BGR);
            break;
        case ColorModel::RGBA:
            Converter.SetTargetModel(ColorModel::BGRA);
            break;
        case ColorModel::GrayAlpha:
            // The grey plane is given as red, green and blue (see ReadColourPlanes), so the
            // pixels keep their alpha in 32 bits.
            Converter.SetSourceModel(ColorModel::RGBA);
            Converter.SetTargetModel(ColorModel::BGRA);
            Converter.SetSourceSamples(4);
            Converter.SetTargetSamples(4);
            break;
        case ColorModel::CMYK:
            Converter.SetTargetModel(ColorModel::BGR);
            Converter.SetTargetSamples(3);
            break;
        case ColorModel::CIELab:
            Converter.SetTargetModel(ColorModel::BGR);
            Converter.SourceFlags.Include(ConversionFlag::LabLumaByteScale);
            Converter.SourceFlags.Include(ConversionFlag::LabChromaBias);
            break;
        default:
            Converter.SetTargetModel(Properties.Model);
            break;
    }
}

void TPSDGraphic::ReadPaletteSection(TStream& stream) {
    const uint32_t length = ReadLength(stream);
    if (Properties.Model == ColorModel::Indexed) {
        // Three planes of red, green and blue; at most 256 entries are taken from each.
        const std::vector<uint8_t> data = ReadBytes(stream, length);
        const uint32_t n = length / 3;
        if (n > 0)
            SetPaletteEntries(Converter.BuildPalette({data.data(), data.data() + n, data.data() + 2 * n},
                                                     RawPaletteFormat::Planar8, std::min<uint32_t>(n, 256), false));
        return;
    }
    if (Properties.Model == ColorModel::Gray)
        SetPaletteEntries(Converter.BuildGrayPalette(Properties.Flags.Contains(ImageFlag::MinIsWhite)));
    // Colour mode data of other modes (duotone curves and the like) is not ours to read.
    stream.Seek(length, SeekOrigin::Current);
}

void TPSDGraphic::ReadIndexedRows(TStream& stream, const std::vector<uint16_t>& rowCounts) {
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Transfering);
    const uint32_t width = Properties.ImageWidth, height = Properties.ImageHeight;
    const uint64_t storedRow = StoredRowBytes(Properties);
    // 16-bit samples go through the converter; 1- and 8-bit rows are copied as stored.
    const bool reduce = Properties.SampleBits == 16;
    std::vector<uint8_t> wide(reduce ? storedRow : 0);
    const uint64_t rowBytes = std::min<uint64_t>(storedRow, uint64_t(RowBytes()));

    std::vector<uint8_t> packed;
    uint64_t packedAt = 0;
    if (Properties.Coding == CompressionKind::PackBits)
        packed = ReadBytes(stream, std::accumulate(rowCounts.begin(), rowCounts.begin() + height, uint64_t(0)));
    TPackbitsRLEDecoder decoder;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = ScanLine(int(y));
        uint8_t* target = reduce ? wide.data() : row;
        const uint64_t targetSize = reduce ? storedRow : rowBytes;
        if (Properties.Coding == CompressionKind::PackBits) {
            TSourcePos source(packed.data() + packedAt, rowCounts[y]);
            TDestPos dest(target, targetSize);
            decoder.Decompress(source, dest, rowCounts[y], int32_t(targetSize));
            packedAt += rowCounts[y];
        } else {
            stream.ReadBuffer(target, int64_t(targetSize));
            if (targetSize < storedRow) stream.Seek(int64_t(storedRow - targetSize), SeekOrigin::Current);
        }
        if (reduce) Converter.ConvertPixels(wide.data(), row, width);
        ReportProgress(TProgressStage::psRunning, RowPercent(y, height), true, ProgressArea, "");
        AdvanceProgressArea();
    }
}

void TPSDGraphic::ReadColourPlanes(TStream& stream, const std::vector<uint16_t>& rowCounts) {
    const bool alpha = Properties.Model == ColorModel::RGBA || Properties.Model == ColorModel::GrayAlpha;
    // Alpha is looked at over the whole picture before any row is laid on white.
    if (alpha)
        ReadWholePlanes(stream, rowCounts);
    else
        ReadPlaneRows(stream, rowCounts);
}

// Each plane is decoded a row at a time from its own place in the file, so that beside the
// bitmap only a row of every plane and a window of the file for each are held.
void TPSDGraphic::ReadPlaneRows(TStream& stream, const std::vector<uint16_t>& rowCounts) {
    const uint32_t width = Properties.ImageWidth, height = Properties.ImageHeight;
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::LoadingData);
    const uint64_t rowStep = uint64_t(width) * (Properties.SampleBits / 8);
    const uint64_t planeSize = rowStep * height;
    const uint32_t planes = PlanesOf(Properties.Model);
    const bool packBits = Properties.Coding == CompressionKind::PackBits;
    const int64_t start = stream.Position();
    std::vector<TPackBitsPlace> places;
    if (packBits) {
        const uint64_t counts = uint64_t(planes) * height;
        const uint64_t stored = std::accumulate(rowCounts.begin(), rowCounts.begin() + counts, uint64_t(0));
        RequireBytes(stream, stored);
        // The planes follow each other in one stream: the next plane starts where the
        // previous one's decoded bytes end.
        places.emplace_back(stream, start, start + int64_t(stored));
        for (uint32_t p = 1; p < planes; ++p) {
            places.push_back(places.back());
            places.back().Take(nullptr, size_t(planeSize));
        }
    } else {
        RequireBytes(stream, planes * planeSize);
    }
    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Transfering);

    std::vector<uint8_t> rows(size_t(planes * rowStep));
    const bool cmyk = Properties.Model == ColorModel::CMYK;  // stored as 255 for no ink
    for (uint32_t y = 0; y < height; ++y) {
        std::array<const void*, 4> sources{};
        for (uint32_t p = 0; p < planes; ++p) {
            uint8_t* row = rows.data() + p * rowStep;
            if (packBits) {
                places[p].Take(row, size_t(rowStep));
            } else {
                stream.Seek(start + int64_t(p * planeSize + y * rowStep), SeekOrigin::Beginning);
                stream.ReadBuffer(row, int64_t(rowStep));
            }
            if (cmyk)
                for (uint64_t i = 0; i < rowStep; ++i) row[i] = uint8_t(255 - row[i]);
            sources[p] = row;
        }
        Converter.ConvertPixels(std::span<const void* const>(sources.data(), planes), ScanLine(int(y)), width);
        ReportProgress(TProgressStage::psRunning, RowPercent(y, height), true, ProgressArea, "");
        AdvanceProgressArea();
    }
}

void TPSDGraphic::ReadWholePlanes(TStream& stream, const std::vector<uint16_t>& rowCounts) {
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::LoadingData);
    const uint32_t width = Properties.ImageWidth, height = Properties.ImageHeight;
    const uint64_t sampleBytes = Properties.SampleBits / 8;
    const uint64_t planeSize = uint64_t(width) * sampleBytes * height;
    // Only the planes shown are decoded; further channels (spot colours, masks) follow them.
    const uint32_t planes = PlanesOf(Properties.Model);
    // Fresh picture memory is zero already: a cleared vector would fault in and clear every
    // page of it before the planes are read.
    const uint64_t dataSize = planes * planeSize;
    const TPictureBlock block = MakePictureBlock(size_t(dataSize));
    uint8_t* const data = block.get();
    if (Properties.Coding == CompressionKind::PackBits) {
        const uint64_t counts = uint64_t(planes) * height;
        const TRawBuffer packed =
            ReadRawBytes(stream, std::accumulate(rowCounts.begin(), rowCounts.begin() + counts, uint64_t(0)));
        TPackbitsRLEDecoder decoder;
        TSourcePos source(packed.data(), packed.size());
        TDestPos dest(data, dataSize);
        decoder.Decompress(source, dest, int32_t(std::min<uint64_t>(packed.size(), INT32_MAX)),
                           int32_t(std::min<uint64_t>(dataSize, INT32_MAX)));
    } else if (dataSize > 0) {
        stream.ReadBuffer(data, int64_t(dataSize));
    }
    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Transfering);

    const bool alpha = Properties.Model == ColorModel::RGBA || Properties.Model == ColorModel::GrayAlpha;
    if (alpha && MattedOnWhite(data, planeSize, planes - 1, uint64_t(width) * height, sampleBytes == 2))
        std::fill(data + (planes - 1) * planeSize, data + dataSize, uint8_t(255));  // shown as stored
    const uint64_t rowStep = uint64_t(width) * sampleBytes;
    const bool greyAlpha = Properties.Model == ColorModel::GrayAlpha;
    for (uint32_t y = 0; y < height; ++y) {
        std::array<const void*, 4> sources{};
        for (uint32_t p = 0; p < planes; ++p) sources[p] = data + p * planeSize + y * rowStep;
        if (greyAlpha) sources = {sources[0], sources[0], sources[0], sources[1]};
        Converter.ConvertPixels(std::span<const void* const>(sources.data(), greyAlpha ? 4 : planes), ScanLine(int(y)),
                                width);
        ReportProgress(TProgressStage::psRunning, RowPercent(y, height), true, ProgressArea, "");
        AdvanceProgressArea();
    }
}

}  // namespace tilvorn
