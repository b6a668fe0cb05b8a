#include "formats/TargaImage.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "core/ByteOrder.h"
#include "formats/FormatBytes.h"
#include "readers/ReaderTexts.h"

namespace tilvorn {

namespace {

constexpr const char* kFormatName = "Targa";

// The 18-byte file header; numbers little-endian.
struct TargaHeader {
    uint8_t IdLength = 0;
    uint8_t ColorMapType = 0;
    uint8_t ImageType = 0;
    uint16_t MapFirst = 0;
    uint16_t MapLength = 0;
    uint8_t MapEntrySize = 0;
    uint16_t Width = 0;
    uint16_t Height = 0;
    uint8_t PixelSize = 0;
    uint8_t Descriptor = 0;

    bool TopLeft() const { return (Descriptor & 0x20) != 0; }
    bool RightToLeft() const { return (Descriptor & 0x10) != 0; }
    bool RunLength() const { return ImageType >= 9; }
    bool BlackAndWhite() const { return ImageType == 3 || ImageType == 11; }
    // Truevision stores 15-bit map entries in two bytes, like 16-bit ones.
    uint32_t MapBytes() const { return ColorMapType == 1 ? uint32_t(MapLength) * ((MapEntrySize + 7) / 8) : 0; }
};

constexpr size_t kHeaderSize = 18;

TargaHeader ParseHeader(const uint8_t* b) {
    TargaHeader h;
    h.IdLength = b[0];
    h.ColorMapType = b[1];
    h.ImageType = b[2];
    h.MapFirst = LE16(b + 3);
    h.MapLength = LE16(b + 5);
    h.MapEntrySize = b[7];
    h.Width = LE16(b + 12);
    h.Height = LE16(b + 14);
    h.PixelSize = b[16];
    h.Descriptor = b[17];
    return h;
}

bool IsKnownImageType(uint8_t type) { return type <= 3 || (type >= 9 && type <= 11); }

bool IsMapEntrySize(uint8_t bits) { return bits == 15 || bits == 16 || bits == 24 || bits == 32; }

bool IsPixelSize(uint8_t bits) { return bits == 8 || IsMapEntrySize(bits); }

uint32_t BytesPerPixel(uint8_t pixelSize) { return (pixelSize + 7) / 8; }

// Reads the run-length data a little at a time; the end of the stream reads as zero bytes,
// so a cut file leaves the rest of the picture black instead of failing.
class PacketInput {
public:
    explicit PacketInput(TStream& stream) : stream_(stream), start_(stream.Position()) {}

    uint8_t Next() {
        if (pos_ == end_ && !Refill()) return 0;  // a cut-off file: the rest reads as zero
        ++used_;
        return buffer_[pos_++];
    }
    // The next count bytes into target, as count calls of Next would give them.
    void Take(uint8_t* target, size_t count) {
        while (count > 0) {
            if (pos_ == end_ && !Refill()) {
                std::memset(target, 0, count);
                return;
            }
            const size_t n = std::min(count, end_ - pos_);
            std::memcpy(target, buffer_.data() + pos_, n);
            pos_ += n;
            used_ += n;
            target += n;
            count -= n;
        }
    }
    // Leaves the stream right after the last byte taken.
    void Settle() { stream_.SetPosition(start_ + int64_t(used_)); }

private:
    // The end of the stream is found once: after it no byte asks the stream again, so a
    // cut-off file costs no more than a whole one.
    bool Refill() {
        if (ended_) return false;
        if (buffer_.empty()) buffer_.resize(kBufferSize);
        const int64_t got = stream_.Read(buffer_.data(), int64_t(buffer_.size()));
        pos_ = 0;
        end_ = size_t(std::max<int64_t>(got, 0));
        ended_ = end_ == 0;
        return !ended_;
    }

    static constexpr size_t kBufferSize = 64 * 1024;
    TStream& stream_;
    int64_t start_;
    std::vector<uint8_t> buffer_;
    size_t pos_ = 0;
    size_t end_ = 0;
    bool ended_ = false;
    uint64_t used_ = 0;
};

// Run-length rows of a fixed pixel size. A packet that reaches past the end of a row is
// carried on into the next row, as the writers that produce such packets mean it; no row is
// ever written past its end.
class TargaRowDecoder {
public:
    TargaRowDecoder(PacketInput& input, uint32_t pixelBytes) : input_(input), pixelBytes_(pixelBytes) {}

    void DecodeRow(uint8_t* row, uint32_t pixels) {
        while (pixels > 0) {
            if (left_ == 0) StartPacket();
            uint32_t n = std::min(left_, pixels);
            if (repeat_) {
                for (uint32_t i = 0; i < n; ++i, row += pixelBytes_) std::memcpy(row, value_.data(), pixelBytes_);
            } else {
                input_.Take(row, size_t(n) * pixelBytes_);
                row += size_t(n) * pixelBytes_;
            }
            left_ -= n;
            pixels -= n;
        }
    }

private:
    void StartPacket() {
        uint8_t header = input_.Next();
        left_ = (header & 0x7F) + 1u;
        repeat_ = (header & 0x80) != 0;
        if (repeat_)
            for (uint32_t b = 0; b < pixelBytes_; ++b) value_[b] = input_.Next();
    }

    PacketInput& input_;
    uint32_t pixelBytes_;
    uint32_t left_ = 0;
    bool repeat_ = false;
    std::array<uint8_t, 4> value_{};
};

// The colour map: 24- and 32-bit entries in blue, green, red order go through the colour
// manager; 15- and 16-bit entries are 5-5-5 values, little-endian.
TPalette BuildMapPalette(TColorManager& converter, const std::vector<uint8_t>& map, uint8_t entrySize,
                         uint32_t length) {
    if (entrySize == 24 || entrySize == 32)
        return converter.BuildPalette(
            {map.data()}, entrySize == 24 ? RawPaletteFormat::Interleaved8Triple : RawPaletteFormat::Interleaved8Quad,
            length, true);
    TPalette palette;
    for (uint32_t i = 0; i < std::min<uint32_t>(length, 256); ++i) {
        const uint16_t v = LE16(&map[size_t(i) * 2]);
        palette.push_back({uint8_t((v & 0x7C00) >> 7), uint8_t((v & 0x3E0) >> 2), uint8_t((v & 0x1F) << 3)});
    }
    return palette;
}

void ExpandGrayAlpha(const uint8_t* stored, uint8_t* row, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x) {
        const uint8_t grey = stored[2 * x], alpha = stored[2 * x + 1];
        row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = grey;
        row[4 * x + 3] = alpha;
    }
}

void MirrorRow(uint8_t* row, uint32_t width, uint32_t pixelBytes) {
    for (uint32_t a = 0, b = width ? width - 1 : 0; a < b; ++a, --b)
        std::swap_ranges(row + size_t(a) * pixelBytes, row + size_t(a + 1) * pixelBytes, row + size_t(b) * pixelBytes);
}

}  // namespace

bool TTargaGraphic::ProbeContent(TStream& Stream) {
    uint8_t bytes[kHeaderSize];
    if (!formats::ReadProbeBytes(Stream, bytes, int64_t(kHeaderSize))) return false;
    TargaHeader h = ParseHeader(bytes);
    // Without a colour map the entry size field means nothing; most writers leave it 0.
    bool mapOk = h.ColorMapType == 0 || (h.ColorMapType == 1 && IsMapEntrySize(h.MapEntrySize));
    return IsKnownImageType(h.ImageType) && mapOk && IsPixelSize(h.PixelSize);
}

bool TTargaGraphic::ReadImageInfo(TStream& Stream, uint32_t ImageIndex) {
    TReaderGraphic::ReadImageInfo(Stream, ImageIndex);
    uint8_t bytes[kHeaderSize];
    Stream.ReadBuffer(bytes, kHeaderSize);
    TargaHeader h = ParseHeader(bytes);
    Properties.ImageWidth = h.Width;
    Properties.ImageHeight = h.Height;
    switch (h.PixelSize) {
        case 8:
            Properties.Model = h.BlackAndWhite() ? ColorModel::Gray : ColorModel::Indexed;
            Properties.SampleBits = 8;
            Properties.SampleCount = 1;
            break;
        case 16:
            if (h.BlackAndWhite()) {  // grey and alpha, one byte each
                Properties.Model = ColorModel::GrayAlpha;
                Properties.SampleBits = 8;
                Properties.SampleCount = 2;
                break;
            }
            [[fallthrough]];
        case 15:
            Properties.Model = ColorModel::RGB;
            Properties.SampleBits = 5;
            Properties.SampleCount = 3;
            break;
        case 24:
            Properties.Model = ColorModel::RGB;
            Properties.SampleBits = 8;
            Properties.SampleCount = 3;
            break;
        case 32:
            Properties.Model = ColorModel::RGBA;
            Properties.SampleBits = 8;
            Properties.SampleCount = 4;
            break;
        default:
            Properties.Model = ColorModel::Unknown;
            Properties.SampleBits = 8;
            Properties.SampleCount = 0;
    }
    Properties.PixelBits = uint8_t(Properties.SampleCount * Properties.SampleBits);
    Properties.Coding = h.RunLength() ? CompressionKind::RLE : CompressionKind::None;
    return true;
}

void TTargaGraphic::ReadImage(TStream& Stream) {
    ReleasePixels();
    StartPosition = uint32_t(Stream.Position());
    ReadImageInfo(Stream, 0);
    Stream.SetPosition(StartPosition);
    ProgressArea = Rect(0, 0, int(Properties.ImageWidth), 1);
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Preparing);

    uint8_t bytes[kHeaderSize];
    Stream.ReadBuffer(bytes, kHeaderSize);
    const TargaHeader h = ParseHeader(bytes);
    Stream.Seek(h.IdLength, SeekOrigin::Current);

    Converter.SetSourceSamples(Properties.SampleCount);
    // Grey with alpha becomes blue, green, red and alpha bytes, so the alpha is kept.
    const bool grayAlpha = Properties.Model == ColorModel::GrayAlpha;
    Converter.SetTargetSamples(grayAlpha ? 4 : Properties.SampleCount);
    Converter.SetSourceModel(Properties.Model);
    Converter.SourceFlags = {};
    Converter.SetTargetModel(ColorModel::BGR);
    Converter.SetSourceBits(Properties.SampleBits);
    Converter.SetTargetBits(Properties.SampleBits);
    SetPixelFormat(Converter.PixelFormatFor(1));

    if (h.BlackAndWhite() && !grayAlpha) {
        // A colour map on a black-and-white image is not used, but its bytes are not
        // pixels either: step over them.
        Stream.Seek(h.MapBytes(), SeekOrigin::Current);
        SetPaletteEntries(Converter.BuildGrayPalette(false));
    } else if (h.ColorMapType == 1 && !grayAlpha) {
        // Only 15-, 16-, 24- and 32-bit entries exist; any other size would be read past the map.
        if (!IsMapEntrySize(h.MapEntrySize)) RaiseImageErrorFmt(readertext::InvalidPalette, kFormatName);
        std::vector<uint8_t> map(h.MapBytes());
        Stream.ReadBuffer(map.data(), int64_t(map.size()));
        SetPaletteEntries(BuildMapPalette(Converter, map, h.MapEntrySize, h.MapLength));
    }

    const uint32_t width = h.Width, height = h.Height;
    const uint32_t pixelBytes = BytesPerPixel(h.PixelSize);
    const uint64_t rowBytes = uint64_t(width) * pixelBytes;
    const int64_t available = Stream.Size() - Stream.Position();
    if (h.ImageType != 0) {
        // Refuse sizes the file cannot hold before asking for the memory: a plain row needs
        // its bytes, and one packet of 1 + pixel bytes makes at most 128 pixels.
        uint64_t pixels = uint64_t(width) * height;
        bool fits = h.RunLength() ? pixels <= 128 * uint64_t(std::max<int64_t>(available, 0)) / (1 + pixelBytes)
                                  : rowBytes * height <= uint64_t(std::max<int64_t>(available, 0));
        if (!fits) throw EReadError(kStreamReadError);
    }
    SetImageSize(width, height);

    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Transfering);
    if (h.ImageType != 0 && width > 0) {
        PacketInput input(Stream);
        TargaRowDecoder decoder(input, pixelBytes);
        std::vector<uint8_t> grayAlphaRow(grayAlpha ? size_t(rowBytes) : 0);
        for (uint32_t r = 0; r < height; ++r) {
            auto* row = static_cast<uint8_t*>(ScanLine(int(h.TopLeft() ? r : height - 1 - r)));
            uint8_t* stored = grayAlpha ? grayAlphaRow.data() : row;
            if (h.RunLength())
                decoder.DecodeRow(stored, width);
            else
                Stream.ReadBuffer(stored, int64_t(rowBytes));
            if (grayAlpha) ExpandGrayAlpha(stored, row, width);
            // Rows stored right to left would otherwise show mirrored.
            if (h.RightToLeft()) MirrorRow(row, width, grayAlpha ? 4 : pixelBytes);
            ReportProgress(TProgressStage::psRunning, RowPercent(r, height), true, ProgressArea, "");
            AdvanceProgressArea();
        }
        if (h.RunLength()) input.Settle();
    }
    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");
}

}  // namespace tilvorn
