#include "formats/PSPImage.h"

#include <cctype>
#include <cstring>

#include "formats/FormatBytes.h"
#include "readers/ReaderCodecs.h"

namespace tilvorn {

using namespace formats;

namespace {

constexpr const char* kFormatName = "PSP";
constexpr int kHeaderSize = 36;
constexpr int kAttributesSize = 42;
constexpr int kLayerInfoSize = 115;
constexpr int kLayerNameSize = 256;  // major version 3
constexpr int kChannelInfoSize = 12;
constexpr const char kSignature[] = "Paint Shop Pro Image File";
constexpr uint16_t kPaletteBlock = 2, kLayerBankBlock = 3, kLayerBlock = 4;
constexpr int32_t kZlibFinish = 4;
// Stored bytes are at least 1/64 of a run-length or stored plane, and deflate packs at
// most about 1032 bytes into one.
constexpr uint64_t kMaxRunExpansion = 64;
constexpr uint64_t kMaxDeflateExpansion = 1100;

enum Plane { kComposite = 0, kRed = 1, kGreen = 2, kBlue = 3 };

bool SignatureMatches(const uint8_t* bytes) {
    for (size_t i = 0; i + 1 < sizeof(kSignature); ++i)
        if (std::tolower(bytes[i]) != std::tolower(static_cast<unsigned char>(kSignature[i]))) return false;
    return true;
}

CompressionKind CodingOf(uint16_t compression) {
    switch (compression) {
        case 0:
            return CompressionKind::None;
        case 1:
            return CompressionKind::RLE;
        case 2:
            return CompressionKind::LZ77;
        case 3:
            return CompressionKind::JPEG;
        default:
            return CompressionKind::Unknown;
    }
}

}  // namespace

struct TPSPGraphic::BlockHeader {
    uint8_t Marker[4] = {};
    uint16_t Id = 0;
    uint32_t Length = 0;
    int64_t DataStart = 0;
    int64_t End() const { return DataStart + Length; }
};

bool TPSPGraphic::ProbeContent(TStream& stream) {
    uint8_t header[kHeaderSize];
    if (!ReadProbeBytes(stream, header, kHeaderSize)) return false;
    return SignatureMatches(header) && LE16(&header[32]) >= 3;
}

bool TPSPGraphic::ReadBlockHeader(TStream& stream, BlockHeader& header) {
    if (stream.Position() >= stream.Size()) return false;
    stream.ReadBuffer(header.Marker, 4);
    header.Id = ReadLE16(stream);
    if (Properties.FormatVersion == 3) ReadLE32(stream);  // length of the initial data
    header.Length = ReadLE32(stream);
    header.DataStart = stream.Position();
    return true;
}

bool TPSPGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
    TReaderGraphic::ReadImageInfo(stream, imageIndex);
    uint8_t header[kHeaderSize];
    stream.ReadBuffer(header, kHeaderSize);
    const uint16_t major = LE16(&header[32]);
    if (!SignatureMatches(header) || major < 3) return false;
    Properties.FormatVersion = major;
    BlockHeader block;
    if (!ReadBlockHeader(stream, block)) return false;
    if (major > 3) ReadLE32(stream);  // chunk length
    uint8_t a[kAttributesSize];
    stream.ReadBuffer(a, kAttributesSize);
    Properties.ImageWidth = LE32(&a[0]);
    Properties.ImageHeight = LE32(&a[4]);
    double resolution;
    std::memcpy(&resolution, &a[8], sizeof resolution);  // little-endian IEEE double
    if (a[16] == 2) resolution *= 2.54;  // per centimetre
    Properties.DpiX = Properties.DpiY = float(resolution);
    Properties.Coding = CodingOf(LE16(&a[17]));
    const uint16_t depth = LE16(&a[19]);
    if (depth == 24) {
        Properties.SampleBits = 8;
        Properties.SampleCount = 3;
        Properties.Model = ColorModel::RGB;
    } else {
        Properties.SampleBits = uint8_t(std::min<uint16_t>(depth, 255));
        Properties.SampleCount = 1;
        Properties.Model = a[27] ? ColorModel::Gray : ColorModel::Indexed;
    }
    Properties.PixelBits = uint8_t(Properties.SampleBits * Properties.SampleCount);
    return true;
}

void TPSPGraphic::ReadImage(TStream& stream) {
    ReleasePixels();
    StartPosition = uint32_t(stream.Position());
    for (auto& plane : planes_) plane = {};
    layerRead_ = false;
    if (!ReadImageInfo(stream, 0)) RaiseImageErrorFmt(readertext::InvalidImage, kFormatName);

    stream.SetPosition(StartPosition);
    ProgressArea = {0, 0, int32_t(Properties.ImageWidth), 1};
    TProgressPhase preparing(*this, readertext::Preparing);
    stream.Seek(kHeaderSize, SeekOrigin::Current);
    BlockHeader first;
    ReadBlockHeader(stream, first);
    stream.SetPosition(first.End());

    const uint32_t width = Properties.ImageWidth, bits = Properties.PixelBits;
    switch (bits) {
        case 1:
            rowLength_ = (width + 7) / 8;
            break;
        case 4:
            rowLength_ = width / 2 + 1;
            break;
        case 8:
        case 24:
            rowLength_ = width;
            break;
        default:
            RaiseImageErrorFmt(readertext::InvalidColorFormat, kFormatName);
    }
    Converter.SourceFlags = {};
    Converter.SetSourceBits(Properties.SampleBits);
    Converter.SetTargetBits(Properties.SampleBits);
    Converter.SetSourceSamples(Properties.SampleCount);
    Converter.SetTargetSamples(Properties.SampleCount);
    Converter.SetSourceModel(Properties.Model);
    Converter.SetTargetModel(Properties.Model == ColorModel::RGB ? ColorModel::BGR : Properties.Model);
    SetPixelFormat(Converter.PixelFormatFor(1));

    const uint64_t expansion = Properties.Coding == CompressionKind::LZ77 ? kMaxDeflateExpansion : kMaxRunExpansion;
    CheckDecodedSize(uint64_t(rowLength_) * Properties.ImageHeight * Properties.SampleCount,
                     uint64_t(BytesLeft(stream)), expansion, kFormatName);
    SetImageSize(width, Properties.ImageHeight);
    // Greyscale files need not carry a palette block; they are shown grey without one.
    if (Properties.Model == ColorModel::Gray) SetPaletteEntries(Converter.BuildGrayPalette(false));
    preparing.End();

    BlockHeader block;
    while (ReadBlockHeader(stream, block) && block.Marker[0] == '~') {
        if (block.Id == kPaletteBlock)
            ReadPalette(stream);
        else if (block.Id == kLayerBankBlock && !layerRead_)
            ReadLayerBank(stream, block.End());
        stream.SetPosition(block.End());
    }
    for (auto& plane : planes_) plane = {};
}

void TPSPGraphic::ReadPalette(TStream& stream) {
    if (Properties.FormatVersion > 3) ReadLE32(stream);  // chunk length
    // The bitmap's colour table holds 256 entries; further entries are left unread.
    const uint32_t count = std::min<uint32_t>(ReadLE32(stream), 256);
    const std::vector<uint8_t> entries = ReadBytes(stream, uint64_t(count) * 4);
    SetPaletteEntries(Converter.BuildPalette({entries.data()}, RawPaletteFormat::Interleaved8Quad, count, true));
}

void TPSPGraphic::ReadLayerBank(TStream& stream, int64_t bankEnd) {
    BlockHeader layer;
    while (stream.Position() < bankEnd && ReadBlockHeader(stream, layer)) {
        TProgressPhase loading(*this, readertext::LoadingData);
        if (layer.Id != kLayerBlock) return;
        uint8_t info[kLayerInfoSize];
        if (Properties.FormatVersion == 3) {
            stream.Seek(kLayerNameSize, SeekOrigin::Current);
            stream.ReadBuffer(info, kLayerInfoSize);
        } else {
            const int64_t chunkStart = stream.Position();
            const uint32_t chunkLength = ReadLE32(stream);
            stream.Seek(ReadLE16(stream), SeekOrigin::Current);  // the layer's name
            stream.ReadBuffer(info, kLayerInfoSize);
            stream.SetPosition(chunkStart + chunkLength);
        }
        const uint8_t type = info[0];
        const bool usable = type == 0 || (Properties.FormatVersion > 3 && type == 1);
        if (usable) {
            ReadLayer(stream, loading);
            return;
        }
        stream.SetPosition(layer.End());
    }
}

void TPSPGraphic::ReadLayer(TStream& stream, TProgressPhase& loading) {
    const int64_t bitmapChunk = stream.Position();
    const uint32_t bitmapChunkLength = Properties.FormatVersion > 3 ? ReadLE32(stream) : 0;
    ReadLE16(stream);  // bitmap count
    const uint16_t channels = ReadLE16(stream);
    if (Properties.FormatVersion > 3) stream.SetPosition(bitmapChunk + bitmapChunkLength);
    // A fourth channel of a colour layer is its transparency: the bitmap takes it as alpha.
    if (channels > 3 && Properties.Model == ColorModel::RGB) {
        Converter.SetSourceModel(ColorModel::RGBA);
        Converter.SetSourceSamples(4);
        Converter.SetTargetModel(ColorModel::BGRA);
        Converter.SetTargetSamples(4);
        SetPixelFormat(BitmapPixelFormat::Bits32);
        SetImageSize(Properties.ImageWidth, Properties.ImageHeight);
    }
    const uint64_t planeSize = uint64_t(rowLength_) * Properties.ImageHeight;
    for (auto& plane : planes_) plane.assign(planeSize, 0);
    for (uint16_t c = 0; c < channels; ++c) ReadChannel(stream);
    layerRead_ = true;
    loading.End();
    TProgressPhase transfer(*this, readertext::Transfering);
    TransferRows();
    transfer.End();
}

void TPSPGraphic::ReadChannel(TStream& stream) {
    BlockHeader block;
    if (!ReadBlockHeader(stream, block)) throw EReadError(kStreamReadError);
    if (Properties.FormatVersion > 3) ReadLE32(stream);  // chunk length
    uint8_t info[kChannelInfoSize];
    stream.ReadBuffer(info, kChannelInfoSize);
    const uint32_t storedLength = LE32(&info[0]);
    const uint32_t unpackedLength = LE32(&info[4]);
    const uint16_t channelType = LE16(&info[10]);
    // Channels of a type not known here are passed over by their block's length.
    if (channelType > kBlue) {
        stream.SetPosition(block.End());
        return;
    }
    std::vector<uint8_t>& plane = planes_[channelType];
    const uint64_t room = std::min<uint64_t>(plane.size(), unpackedLength);
    switch (Properties.Coding) {
        case CompressionKind::None: {
            const std::vector<uint8_t> stored = ReadBytes(stream, storedLength);
            std::copy_n(stored.begin(), std::min<uint64_t>(stored.size(), room), plane.begin());
            break;
        }
        case CompressionKind::RLE: {
            const std::vector<uint8_t> stored = ReadBytes(stream, storedLength);
            TPSPRLEDecoder decoder;
            TSourcePos source(stored.data(), stored.size());
            TDestPos dest(plane.data(), room);
            decoder.Decompress(source, dest, int32_t(std::min<size_t>(stored.size(), INT32_MAX)), int32_t(room));
            break;
        }
        case CompressionKind::LZ77: {
            const std::vector<uint8_t> stored = ReadBytes(stream, storedLength);
            TLZ77Decoder decoder(kZlibFinish, false);
            decoder.BeginDecompress();
            struct TEnd {
                TLZ77Decoder& decoder;
                ~TEnd() {
                    try {
                        decoder.EndDecompress();
                    } catch (...) {}
                }
            } end{decoder};
            TSourcePos source(stored.data(), stored.size());
            TDestPos dest(plane.data(), room);
            decoder.Decompress(source, dest, int32_t(std::min<size_t>(stored.size(), INT32_MAX)), int32_t(room));
            break;
        }
        default:
            RaiseImageErrorFmt(readertext::FeatureNotSupported, readertext::CompressionSchemeIs, kFormatName);
    }
    stream.SetPosition(block.End());
}

void TPSPGraphic::TransferRows() {
    const uint32_t width = Properties.ImageWidth, height = Properties.ImageHeight;
    const bool single = Converter.TargetModel() == ColorModel::Indexed || Converter.TargetModel() == ColorModel::Gray;
    for (uint32_t y = 0; y < height; ++y) {
        const uint64_t offset = uint64_t(y) * rowLength_;
        if (single) {
            Converter.ConvertPixels(planes_[kComposite].data() + offset, ScanLine(int(y)), width);
        } else {
            Converter.ConvertPixels({planes_[kRed].data() + offset, planes_[kGreen].data() + offset,
                                     planes_[kBlue].data() + offset, planes_[kComposite].data() + offset},
                                    ScanLine(int(y)), width);
        }
        ReportProgress(TProgressStage::psRunning, RowPercent(y, height), true, ProgressArea, "");
        AdvanceProgressArea();
    }
}

}  // namespace tilvorn
