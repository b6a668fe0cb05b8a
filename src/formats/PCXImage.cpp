#include "formats/PCXImage.h"

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/FormatBytes.h"
#include "readers/ReaderCodecs.h"

namespace tilvorn {

using namespace formats;

namespace {

constexpr const char* kFormatName = "PCX or SCR";
constexpr const char* kColorFormatName = "PCX";
constexpr int kHeaderSize = 128;
constexpr int kClosingPaletteSize = 769;  // the marker byte 12 and 256 entries
constexpr uint8_t kClosingPaletteMarker = 12;
constexpr uint16_t kGreyPaletteInfo = 2;
// A run of the coding gives at most 63 bytes for two stored bytes.
constexpr uint64_t kMaxRunExpansion = 32;

// The 16 colours of the platform's default palette, for files without palette information.
constexpr std::array<TPaletteEntry, 16> kDefault16 = {{{0, 0, 0},
                                                       {128, 0, 0},
                                                       {0, 128, 0},
                                                       {128, 128, 0},
                                                       {0, 0, 128},
                                                       {128, 0, 128},
                                                       {0, 128, 128},
                                                       {192, 192, 192},
                                                       {128, 128, 128},
                                                       {255, 0, 0},
                                                       {0, 255, 0},
                                                       {255, 255, 0},
                                                       {0, 0, 255},
                                                       {255, 0, 255},
                                                       {0, 255, 255},
                                                       {255, 255, 255}}};

bool IsManufacturer(uint8_t value) { return value == 10 || value == 205; }

bool IsBitPlaneLayout(uint32_t planes, uint32_t bits) { return bits == 1 && planes >= 2 && planes <= 4; }

}  // namespace

struct TPCXGraphic::Header {
    std::array<uint8_t, kHeaderSize> Bytes{};
    uint8_t Manufacturer() const { return Bytes[0]; }
    uint8_t Version() const { return Bytes[1]; }
    uint8_t Encoding() const { return Bytes[2]; }
    uint8_t BitsPerPixel() const { return Bytes[3]; }
    int32_t Width() const { return int32_t(LE16(&Bytes[8])) - int32_t(LE16(&Bytes[4])) + 1; }
    int32_t Height() const { return int32_t(LE16(&Bytes[10])) - int32_t(LE16(&Bytes[6])) + 1; }
    const uint8_t* Palette16() const { return &Bytes[16]; }
    uint8_t Planes() const { return Bytes[65]; }
    uint16_t BytesPerLine() const { return LE16(&Bytes[66]); }
    uint16_t PaletteInfo() const { return LE16(&Bytes[68]); }
};

// The stored lines one after the other, read through a small window of the file: the picture
// is never held twice. Runs that reach past a line's end go on into the next line, as the
// coding is one stream over all lines; what the data do not cover stays 0.
class TPCXGraphic::Lines {
public:
    Lines(TStream& stream, uint64_t dataSize, bool runLength)
        : stream_(stream), left_(dataSize), runLength_(runLength) {}

    void Next(uint8_t* line, size_t size) {
        size_t pos = 0;
        while (pos < size) {
            if (runLeft_ > 0) {
                const size_t n = std::min<size_t>(runLeft_, size - pos);
                std::memset(line + pos, runValue_, n);
                pos += n;
                runLeft_ -= uint32_t(n);
                continue;
            }
            if (!Available()) break;
            if (!runLength_) {  // stored as they are
                const size_t n = std::min(size - pos, end_ - at_);
                std::memcpy(line + pos, window_.data() + at_, n);
                pos += n;
                at_ += n;
                continue;
            }
            const uint8_t b = window_[at_++];
            if ((b & 0xC0) != 0xC0) {
                line[pos++] = b;
                continue;
            }
            if (!Available()) break;  // a run whose value the data do not hold
            runLeft_ = b & 0x3Fu;
            runValue_ = window_[at_++];
        }
        if (pos < size) std::memset(line + pos, 0, size - pos);
    }

private:
    /// Whether a byte is left, refilling the window when it is used up.
    bool Available() {
        if (at_ < end_) return true;
        if (left_ == 0) return false;
        const int64_t got = stream_.Read(window_.data(), int64_t(std::min<uint64_t>(left_, window_.size())));
        if (got <= 0) {
            left_ = 0;
            return false;
        }
        left_ -= uint64_t(got);
        at_ = 0;
        end_ = size_t(got);
        return true;
    }

    TStream& stream_;
    uint64_t left_;  // stored bytes not yet read into the window
    bool runLength_;
    std::array<uint8_t, 64 * 1024> window_{};
    size_t at_ = 0, end_ = 0;
    uint32_t runLeft_ = 0;
    uint8_t runValue_ = 0;
};

bool TPCXGraphic::ProbeContent(TStream& stream) {
    Header header;
    if (!ReadProbeBytes(stream, header.Bytes.data(), kHeaderSize)) return false;
    const uint8_t version = header.Version();
    return (header.Manufacturer() == 10 || header.Manufacturer() == 12) &&
        (version == 0 || version == 2 || version == 3 || version == 5) && header.Encoding() <= 1;
}

bool TPCXGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
    TReaderGraphic::ReadImageInfo(stream, imageIndex);
    Header header;
    stream.ReadBuffer(header.Bytes.data(), kHeaderSize);
    if (!IsManufacturer(header.Manufacturer())) return false;
    Properties.ImageWidth = uint32_t(std::max(0, header.Width()));
    Properties.ImageHeight = uint32_t(std::max(0, header.Height()));
    Properties.SampleCount = header.Planes();
    Properties.SampleBits = header.BitsPerPixel();
    Properties.PixelBits = uint8_t(header.Planes() * header.BitsPerPixel());
    Properties.Model = header.Planes() * header.BitsPerPixel() <= 8 ? ColorModel::Indexed : ColorModel::RGB;
    // Four planes of 8 bits carry alpha in the fourth: the picture is laid on white by it.
    Properties.HasAlphaChannel = header.Planes() == 4 && header.BitsPerPixel() == 8;
    Properties.Coding = header.Encoding() == 1 ? CompressionKind::RLE : CompressionKind::None;
    Properties.DpiX = LE16(&header.Bytes[12]);
    Properties.DpiY = LE16(&header.Bytes[14]);
    return true;
}

void TPCXGraphic::ReadImage(TStream& stream) {
    ReleasePixels();
    StartPosition = uint32_t(stream.Position());
    if (!ReadImageInfo(stream, 0)) return;

    stream.SetPosition(StartPosition);
    ProgressArea = {0, 0, 0, 1};
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Preparing);

    Header header;
    stream.ReadBuffer(header.Bytes.data(), kHeaderSize);
    if (!IsManufacturer(header.Manufacturer())) RaiseImageErrorFmt(readertext::InvalidImage, kFormatName);
    if (header.Width() <= 0 || header.Height() <= 0) RaiseImageErrorFmt(readertext::InvalidImage, kFormatName);
    int64_t dataSize = BytesLeft(stream);

    const bool indexed = Properties.Model == ColorModel::Indexed;
    // Four planes of 8 bits are red, green, blue and alpha.
    const bool withAlpha = header.Planes() == 4 && header.BitsPerPixel() == 8;
    Converter.SetSourceModel(withAlpha ? ColorModel::RGBA : Properties.Model);
    Converter.SetSourceBits(Properties.SampleBits);
    Converter.SetSourceSamples(header.Planes());
    Converter.SetTargetModel(indexed ? ColorModel::Indexed : withAlpha ? ColorModel::BGRA : ColorModel::BGR);
    // Two to four planes of one bit each give one bit of a 16-colour index each; this reader
    // puts those indices together itself, so the palette keeps its depth.
    const bool bitPlanes = IsBitPlaneLayout(header.Planes(), header.BitsPerPixel());
    Converter.SetTargetBits(!bitPlanes && Properties.PixelBits == 2 ? 4 : Properties.SampleBits);
    Converter.SetTargetSamples(header.Planes());

    BitmapPixelFormat format = bitPlanes ? BitmapPixelFormat::Bits4 : Converter.PixelFormatFor(1);
    // Indexed data fills only 1-, 4- and 8-bit rows and colour data only 24- and 32-bit rows;
    // any other pairing would have the converter write rows of another size.
    const bool fits = indexed
        ? (format == BitmapPixelFormat::Bits1 || format == BitmapPixelFormat::Bits4 ||
           format == BitmapPixelFormat::Bits8)
        : (header.BitsPerPixel() == 8 && (format == BitmapPixelFormat::Bits24 || format == BitmapPixelFormat::Bits32));
    if (!fits) RaiseImageErrorFmt(readertext::InvalidColorFormat, kColorFormatName);
    // Each plane's line must hold the row's pixels.
    if (uint64_t(header.BytesPerLine()) * 8 < uint64_t(Properties.ImageWidth) * header.BitsPerPixel())
        RaiseImageErrorFmt(readertext::InvalidImage, kFormatName);

    SetPixelFormat(format);
    // The closing palette is not image data; a file without one keeps all its bytes.
    if (format == BitmapPixelFormat::Bits8 && HasClosingPalette(stream))
        dataSize = std::max<int64_t>(0, dataSize - kClosingPaletteSize);
    const uint32_t lineSize = uint32_t(header.Planes()) * header.BytesPerLine();
    const uint64_t decodedSize = uint64_t(Properties.ImageHeight) * lineSize;
    CheckDecodedSize(decodedSize, uint64_t(dataSize), Properties.Coding == CompressionKind::RLE ? kMaxRunExpansion : 1,
                     kFormatName);

    if (format != BitmapPixelFormat::Bits24 && format != BitmapPixelFormat::Bits32)
        ApplyPalette(stream, header, format);
    SetImageSize(Properties.ImageWidth, Properties.ImageHeight);

    RequireBytes(stream, uint64_t(dataSize));
    auto lines = std::make_unique<Lines>(stream, uint64_t(dataSize), Properties.Coding == CompressionKind::RLE);

    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Transfering);
    TransferRows(*lines, lineSize, header.BytesPerLine());
    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");
}

bool TPCXGraphic::HasClosingPalette(TStream& stream) const {
    TKeepPosition keep(stream);
    const int64_t at = stream.Size() - kClosingPaletteSize;
    if (at < int64_t(StartPosition) + kHeaderSize) return false;
    stream.SetPosition(at);
    uint8_t marker = 0;
    stream.ReadBuffer(&marker, 1);
    return marker == kClosingPaletteMarker;
}

void TPCXGraphic::ApplyPalette(TStream& stream, const Header& header, BitmapPixelFormat format) {
    const int bitCount = format == BitmapPixelFormat::Bits1 ? 1 : format == BitmapPixelFormat::Bits4 ? 4 : 8;
    if (header.Version() == 3 && bitCount != 1) {
        SetPaletteEntries(TPalette(kDefault16.begin(), kDefault16.end()));
    } else if (bitCount == 1) {
        SetPaletteEntries(Converter.BuildGrayPalette(false));
    } else if (bitCount == 4) {
        if (header.PaletteInfo() == kGreyPaletteInfo)
            SetPaletteEntries(Converter.BuildGrayPalette(false));
        else
            SetPaletteEntries(
                Converter.BuildPalette({header.Palette16()}, RawPaletteFormat::Interleaved8Triple, 16, false));
    } else if (bitCount == 8) {
        TKeepPosition keep(stream);
        const int64_t end = stream.Size();
        bool closing = false;
        std::array<uint8_t, kClosingPaletteSize> palette{};
        if (end - kClosingPaletteSize >= int64_t(StartPosition) + kHeaderSize) {
            stream.SetPosition(end - kClosingPaletteSize);
            stream.ReadBuffer(palette.data(), kClosingPaletteSize);
            closing = palette[0] == kClosingPaletteMarker;
        }
        if (closing)
            SetPaletteEntries(Converter.BuildPalette({&palette[1]}, RawPaletteFormat::Interleaved8Triple, 256, false));
        else if (header.PaletteInfo() == kGreyPaletteInfo)
            SetPaletteEntries(Converter.BuildGrayPalette(false));
    }
}

void TPCXGraphic::TransferRows(Lines& lines, uint32_t lineSize, uint32_t planeBytes) {
    const uint32_t width = Properties.ImageWidth, height = Properties.ImageHeight;
    const int bitCount = BitCount();
    const uint32_t planes = Properties.SampleCount;
    const bool bitPlanes = IsBitPlaneLayout(planes, Properties.SampleBits);
    std::vector<uint8_t> stored(lineSize);
    const uint8_t* line = stored.data();
    for (uint32_t y = 0; y < height; ++y) {
        lines.Next(stored.data(), stored.size());
        uint8_t* row = ScanLine(int(y));
        if (bitPlanes) {
            // Bit k of a pixel comes from plane k; two pixels per output byte, first high.
            std::fill_n(row, (uint64_t(width) * 4 + 7) / 8, 0);
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t mask = uint8_t(0x80 >> (x % 8));
                uint8_t pixel = 0;
                for (uint32_t k = 0; k < planes; ++k)
                    if (line[k * planeBytes + x / 8] & mask) pixel |= uint8_t(1 << k);
                row[x / 2] |= (x % 2 == 0) ? uint8_t(pixel << 4) : pixel;
            }
        } else if (bitCount == 24) {
            Converter.ConvertPixels({line, line + planeBytes, line + 2 * planeBytes}, row, width);
        } else if (bitCount == 32) {
            // Four planes of 8 bits: red, green, blue and alpha.
            Converter.ConvertPixels({line, line + planeBytes, line + 2 * planeBytes, line + 3 * planeBytes}, row,
                                    width);
        } else {
            Converter.ConvertPixels(line, row, width);
        }
        ReportProgress(TProgressStage::psRunning, RowPercent(y, height), true, ProgressArea, "");
        AdvanceProgressArea();
    }
}

}  // namespace tilvorn
