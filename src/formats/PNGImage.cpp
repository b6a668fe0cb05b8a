#include "formats/PNGImage.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>

#include "core/ByteOrder.h"
#include "formats/FormatBytes.h"
#include "readers/ReaderCodecs.h"
#include "readers/ReaderTexts.h"

namespace tilvorn {

namespace {

const uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
const char* const kPNGName = "PNG";

/// How bKGD and tRNS name a colour of the file: one grey sample, three colour samples, or
/// an index into the palette.
enum class PngSamples : uint8_t { Grey, Colour, Index };
/// Where the bitmap's colour table comes from.
enum class PngPalette : uint8_t { None, Grey, File };

/// One colour type at one bit depth that the format allows: what the file holds and how its
/// rows convert into the bitmap.
struct TPngLayout {
    uint8_t ColorType;
    uint8_t Depth;
    ColorModel Model;  // the file's model, and the converter's source
    uint8_t Samples;  // the converter's samples on both sides; grey with alpha converts as one
    bool Alpha;
    PngSamples Kind;
    ColorModel TargetModel;
    uint8_t TargetBits;  // 2-bit samples widen to 4 (the bitmap has no 2-bit rows), 16 narrow to 8
    BitmapPixelFormat Format;
    PngPalette Palette;
    uint8_t PixelBytes;  // bytes of a whole pixel in a row, 1 below a byte: the filters' distance
    bool WidenGrey;  // grey with alpha: the grey is repeated into red, green and blue, so the
        // pixels convert as RGBA into 32 bits and keep their alpha
};

std::span<const TPngLayout> Layouts() {
    using enum ColorModel;
    using enum BitmapPixelFormat;
    static constexpr TPngLayout rows[] = {
        {0, 1, Gray, 1, false, PngSamples::Grey, Gray, 1, Bits1, PngPalette::Grey, 1, false},
        {0, 2, Gray, 1, false, PngSamples::Grey, Gray, 4, Bits4, PngPalette::Grey, 1, false},
        {0, 4, Gray, 1, false, PngSamples::Grey, Gray, 4, Bits4, PngPalette::Grey, 1, false},
        {0, 8, Gray, 1, false, PngSamples::Grey, Gray, 8, Bits8, PngPalette::Grey, 1, false},
        {0, 16, Gray, 1, false, PngSamples::Grey, Gray, 8, Bits8, PngPalette::Grey, 2, false},
        {2, 8, RGB, 3, false, PngSamples::Colour, BGR, 8, Bits24, PngPalette::None, 3, false},
        {2, 16, RGB, 3, false, PngSamples::Colour, BGR, 8, Bits24, PngPalette::None, 6, false},
        {3, 1, Indexed, 1, false, PngSamples::Index, Indexed, 1, Bits1, PngPalette::File, 1, false},
        {3, 2, Indexed, 1, false, PngSamples::Index, Indexed, 4, Bits4, PngPalette::File, 1, false},
        {3, 4, Indexed, 1, false, PngSamples::Index, Indexed, 4, Bits4, PngPalette::File, 1, false},
        {3, 8, Indexed, 1, false, PngSamples::Index, Indexed, 8, Bits8, PngPalette::File, 1, false},
        {4, 8, GrayAlpha, 1, true, PngSamples::Grey, BGRA, 8, Bits32, PngPalette::None, 2, true},
        {4, 16, GrayAlpha, 1, true, PngSamples::Grey, BGRA, 8, Bits32, PngPalette::None, 4, true},
        {6, 8, RGBA, 4, true, PngSamples::Colour, BGRA, 8, Bits32, PngPalette::None, 4, false},
        {6, 16, RGBA, 4, true, PngSamples::Colour, BGRA, 8, Bits32, PngPalette::None, 8, false},
    };
    return rows;
}

/// The layout of a colour type at a depth; nullptr for a pair the format does not allow.
const TPngLayout* LayoutFor(uint8_t colorType, uint8_t depth) {
    for (const TPngLayout& layout : Layouts())
        if (layout.ColorType == colorType && layout.Depth == depth) return &layout;
    return nullptr;
}

/// The first layout of a colour type, for what does not depend on the depth; nullptr for an
/// unknown colour type.
const TPngLayout* LayoutOfType(uint8_t colorType) {
    for (const TPngLayout& layout : Layouts())
        if (layout.ColorType == colorType) return &layout;
    return nullptr;
}

// Grey and alpha samples of sampleBytes each become grey, grey, grey and alpha.
void WidenGreyAlpha(const uint8_t* source, uint8_t* target, uint32_t pixels, uint32_t sampleBytes) {
    for (uint32_t i = 0; i < pixels; ++i, source += 2 * sampleBytes) {
        for (int c = 0; c < 3; ++c, target += sampleBytes) std::memcpy(target, source, sampleBytes);
        std::memcpy(target, source + sampleBytes, sampleBytes);
        target += sampleBytes;
    }
}

uint8_t PaethPredictor(int a, int b, int c) {
    int p = a + b - c;
    int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return uint8_t(a);
    if (pb <= pc) return uint8_t(b);
    return uint8_t(c);
}

// Undoes the filter of one row in place; row[0] is the filter type byte, prior the previous
// row in the same layout (all zeros before the first row of an image or pass).
void UndoFilter(uint8_t* row, const uint8_t* prior, size_t rowBytes, size_t bpp) {
    uint8_t* x = row + 1;
    const uint8_t* b = prior + 1;
    const size_t n = rowBytes - 1;
    switch (row[0]) {
        case 1:
            for (size_t i = bpp; i < n; ++i) x[i] = uint8_t(x[i] + x[i - bpp]);
            break;
        case 2:
            for (size_t i = 0; i < n; ++i) x[i] = uint8_t(x[i] + b[i]);
            break;
        case 3:
            for (size_t i = 0; i < n; ++i) {
                int left = i >= bpp ? x[i - bpp] : 0;
                x[i] = uint8_t(x[i] + ((left + b[i]) >> 1));
            }
            break;
        case 4:
            for (size_t i = 0; i < std::min(bpp, n); ++i) x[i] = uint8_t(x[i] + b[i]);
            for (size_t i = bpp; i < n; ++i) x[i] = uint8_t(x[i] + PaethPredictor(x[i - bpp], b[i], b[i - bpp]));
            break;
        default:  // None, and unknown types leave the row as stored
            break;
    }
}

struct Adam7Pass {
    uint32_t FirstRow, RowStep, FirstColumn, ColumnStep;
    uint8_t Mask;
};

const Adam7Pass kAdam7[7] = {
    {0, 8, 0, 8, 0x80}, {0, 8, 4, 8, 0x08}, {4, 8, 0, 4, 0x88}, {0, 4, 2, 4, 0x22},
    {2, 4, 0, 2, 0xAA}, {0, 2, 1, 2, 0x55}, {1, 2, 0, 1, 0xFF},
};

}  // namespace

TPNGGraphic::TPNGGraphic() = default;
TPNGGraphic::~TPNGGraphic() = default;

bool TPNGGraphic::ProbeContent(TStream& Stream) {
    uint8_t bytes[8];
    return formats::ReadProbeBytes(Stream, bytes, 8) && std::memcmp(bytes, kSignature, 8) == 0;
}

// Reads the 8 bytes of a chunk header. With endAllowed, a stream that ends here answers
// false (a file cut after its image data) instead of failing.
bool TPNGGraphic::ReadChunkHeader(bool endAllowed) {
    uint8_t bytes[8];
    if (endAllowed) {
        if (LoadStream->Read(bytes, 8) != 8) return false;
    } else {
        LoadStream->ReadBuffer(bytes, 8);
    }
    chunk_.Length = BE32(bytes);
    std::memcpy(chunk_.Type, bytes + 4, 4);
    runningCrc_ = uint32_t(crc32(0, chunk_.Type, 4));
    return true;
}

void TPNGGraphic::ReadChunkData() {
    // A length the rest of the file cannot hold is a read error before any memory is asked for.
    if (int64_t(chunk_.Length) + 4 > LoadStream->Size() - LoadStream->Position()) throw EReadError(kStreamReadError);
    chunkData_.resize(chunk_.Length);
    if (chunk_.Length > 0) LoadStream->ReadBuffer(chunkData_.data(), chunk_.Length);
    uint8_t crcBytes[4];
    LoadStream->ReadBuffer(crcBytes, 4);
    runningCrc_ = uint32_t(crc32(runningCrc_, chunkData_.data(), chunk_.Length));
    if (runningCrc_ != BE32(crcBytes)) RaiseImageErrorFmt(readertext::CRCError, kPNGName);
}

void TPNGGraphic::SkipChunk() { LoadStream->Seek(int64_t(chunk_.Length) + 4, SeekOrigin::Current); }

bool TPNGGraphic::ChunkIs(const char* type) const {
    for (int i = 0; i < 4; ++i)
        if ((chunk_.Type[i] & ~0x20) != (uint8_t(type[i]) & ~0x20)) return false;
    return true;
}

uint32_t TPNGGraphic::ChunkValue32(size_t offset) const {
    return offset + 4 <= chunkData_.size() ? BE32(&chunkData_[offset]) : 0;
}

uint16_t TPNGGraphic::ChunkValue16(size_t offset) const {
    return offset + 2 <= chunkData_.size() ? BE16(&chunkData_[offset]) : 0;
}

bool TPNGGraphic::ReadImageInfo(TStream& Stream, uint32_t ImageIndex) {
    TReaderGraphic::ReadImageInfo(Stream, ImageIndex);
    LoadStream = &Stream;
    uint8_t signature[8];
    if (Stream.Read(signature, 8) != 8 || std::memcmp(signature, kSignature, 8) != 0) return false;
    ReadChunkHeader(false);
    if (!ChunkIs("IHDR")) return false;
    Properties.Flags.Include(ImageFlag::BigEndian);
    ReadChunkData();
    Properties.ImageWidth = ChunkValue32(0);
    Properties.ImageHeight = ChunkValue32(4);
    bitDepth_ = chunkData_.size() > 8 ? chunkData_[8] : 0;
    colorType_ = chunkData_.size() > 9 ? chunkData_[9] : 0;
    Properties.SampleBits = bitDepth_;
    const TPngLayout* type = LayoutOfType(colorType_);
    Properties.Model = type ? type->Model : ColorModel::Unknown;
    Properties.SampleCount = type ? type->Samples : 1;
    Properties.PixelBits = uint8_t(Properties.SampleCount * bitDepth_);
    Properties.HasAlphaChannel = type && type->Alpha;
    Properties.Coding =
        (chunkData_.size() > 10 && chunkData_[10] == 0) ? CompressionKind::LZ77 : CompressionKind::Unknown;
    Properties.FilterKind = chunkData_.size() > 11 ? chunkData_[11] : 0;
    Properties.IsInterlaced = chunkData_.size() > 12 && chunkData_[12] != 0;
    if (Properties.ImageWidth == 0 || Properties.ImageHeight == 0) return false;
    // Look for a gAMA chunk; it must come before the image data.
    while (ReadChunkHeader(true)) {
        if (ChunkIs("gAMA")) {
            ReadChunkData();
            Properties.Gamma = float(ChunkValue32(0)) / 100000.0f;
            return true;
        }
        if (ChunkIs("IEND") || ChunkIs("IDAT")) return true;
        SkipChunk();
    }
    return true;
}

void TPNGGraphic::SetupColors() {
    const TPngLayout* layout = LayoutFor(colorType_, bitDepth_);
    if (!layout) RaiseImageErrorFmt(readertext::InvalidColorFormat, kPNGName);

    Converter.SetSourceBits(bitDepth_);
    Converter.SetSourceModel(layout->WidenGrey ? ColorModel::RGBA : layout->Model);
    Converter.SetTargetModel(layout->TargetModel);
    Converter.SetSourceSamples(layout->WidenGrey ? 4 : layout->Samples);
    Converter.SetTargetSamples(layout->WidenGrey ? 4 : layout->Samples);
    Converter.SetTargetBits(layout->TargetBits);
    SetPixelFormat(layout->Format);
    if (layout->Palette == PngPalette::Grey)
        SetPaletteEntries(Converter.BuildGrayPalette(false));
    else if (layout->Palette == PngPalette::File && hasPalette_)
        SetPaletteEntries(Converter.BuildPalette({palette_.data()}, RawPaletteFormat::Interleaved8Triple,
                                                 uint32_t(palette_.size() / 3), false));
    sourceBytesPerPixel_ = layout->PixelBytes;
    widenGrey_ = layout->WidenGrey;
    colorsReady_ = true;
}

void TPNGGraphic::ReadPalette() {
    if (chunk_.Length % 3 != 0) RaiseImageErrorFmt(readertext::InvalidPalette, kPNGName);
    ReadChunkData();
    if (colorType_ != 3) return;
    palette_ = chunkData_;
    hasPalette_ = true;
    SetupColors();
}

void TPNGGraphic::ReadGamma() {
    ReadChunkData();
    Converter.ConfigureGamma(float(ChunkValue32(0)) / 100000.0f, 2.2f);
    Converter.TargetFlags.Include(ConversionFlag::GammaCorrect);
    Properties.Flags.Include(ImageFlag::GammaInUse);
}

uint8_t TPNGGraphic::SampleTo8Bits(uint16_t sample) const {
    if (bitDepth_ == 16) return uint8_t(uint32_t(sample) * 255 / 65535);
    if (bitDepth_ < 8) return uint8_t(uint32_t(sample & ((1u << bitDepth_) - 1)) * 255 / ((1u << bitDepth_) - 1));
    return uint8_t(sample);
}

// The background fills rows the file does not deliver. Grey samples are scaled to 8 bits
// and an index is looked up in the palette, so the fill shows the colour the file names.
void TPNGGraphic::ReadBackground() {
    ReadChunkData();
    const TPngLayout* type = LayoutOfType(colorType_);
    if (!type) return;
    if (type->Kind != PngSamples::Index) {
        backgroundColor_ = ChunkColor(type->Kind == PngSamples::Grey);
    } else if (!chunkData_.empty() && size_t(chunkData_[0]) * 3 + 2 < palette_.size()) {
        const uint8_t* e = &palette_[size_t(chunkData_[0]) * 3];
        backgroundColor_ = e[0] | e[1] << 8 | e[2] << 16;
    }
}

// A palette image gives the opacity of its first entries; grey and colour images without
// an alpha channel name one transparent colour.
void TPNGGraphic::ReadTransparency() {
    ReadChunkData();
    const TPngLayout* type = LayoutOfType(colorType_);
    if (!type || type->Alpha) return;
    if (type->Kind == PngSamples::Index) {
        PaletteAlpha.assign(chunkData_.begin(), chunkData_.begin() + std::min<size_t>(chunkData_.size(), 256));
        return;
    }
    const bool grey = type->Kind == PngSamples::Grey;
    if (chunkData_.size() >= (grey ? 2u : 6u)) transparentColor_ = int32_t(ChunkColor(grey));
}

uint32_t TPNGGraphic::ChunkColor(bool grey) const {
    if (grey) {
        const uint32_t v = SampleTo8Bits(ChunkValue16(0));
        return v | v << 8 | v << 16;
    }
    return SampleTo8Bits(ChunkValue16(0)) | SampleTo8Bits(ChunkValue16(2)) << 8 | SampleTo8Bits(ChunkValue16(4)) << 16;
}

void TPNGGraphic::ReadImage(TStream& Stream) {
    ReleasePixels();
    StartPosition = uint32_t(Stream.Position());
    decoder_.reset();
    if (!ReadImageInfo(Stream, 0)) RaiseImageErrorFmt(readertext::InvalidImage, kPNGName);
    Stream.SetPosition(int64_t(StartPosition) + 8);
    ProgressArea = Rect(0, 0, int(Properties.ImageWidth), 1);
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Preparing);

    hasPalette_ = false;
    palette_.clear();
    backgroundColor_ = 0xFFFFFF;
    transparentColor_ = -1;
    PaletteAlpha.clear();
    colorsReady_ = false;
    dataExhausted_ = false;
    streamEnded_ = false;
    imageLoaded_ = false;
    ReadChunkHeader(false);
    ReadChunkData();
    Converter.SourceFlags = TConversionFlags{ConversionFlag::SwapBytes};

    struct Cleanup {
        TPNGGraphic& self;
        ~Cleanup() {
            if (self.decoder_) {
                try {
                    self.decoder_->EndDecompress();
                } catch (...) {}
                self.decoder_.reset();
            }
            self.chunkData_.clear();
            self.chunkData_.shrink_to_fit();
            self.idat_.clear();
            self.idat_.shrink_to_fit();
            self.ReportProgress(TProgressStage::psEnding, 0, false, self.ProgressArea, "");
        }
    } cleanup{*this};

    if (Properties.Coding != CompressionKind::LZ77)
        RaiseImageErrorFmt(readertext::FeatureNotSupported, readertext::CompressionSchemeIs, kPNGName);
    decoder_ = std::make_unique<TLZ77Decoder>(1, false);
    decoder_->BeginDecompress();

    bool haveHeader = ReadChunkHeader(false);
    while (haveHeader) {
        if (ChunkIs("IDAT")) {
            ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");
            LoadImageData();
            if (streamEnded_) break;
        } else if (ChunkIs("PLTE")) {
            ReadPalette();
        } else if (ChunkIs("gAMA")) {
            ReadGamma();
        } else if (ChunkIs("bKGD")) {
            ReadBackground();
        } else if (ChunkIs("tRNS")) {
            ReadTransparency();
        } else {
            if (ChunkIs("IEND")) break;
            if (CriticalChunk()) RaiseImageError(readertext::UnknownCriticalChunk);
            SkipChunk();
        }
        // After the image data a cut file simply ends here.
        haveHeader = ReadChunkHeader(imageLoaded_);
    }
    decoder_->EndDecompress();
    decoder_.reset();
    // A file without image data has no picture to show: say so instead of an empty bitmap.
    if (!imageLoaded_) RaiseImageErrorFmt(readertext::InvalidImage, kPNGName);
}

void TPNGGraphic::LoadImageData() {
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Transfering);
    if (!colorsReady_) SetupColors();
    const uint32_t width = Properties.ImageWidth, height = Properties.ImageHeight;
    // Refuse a size that cannot be right before asking for its memory: deflate makes at
    // most about 1032 bytes from one, so the rest of the file bounds what it can fill.
    const uint64_t rowBytes =
        (uint64_t(width) * bitDepth_ + 7) / 8 * (bitDepth_ == 16 ? sourceBytesPerPixel_ / 2 : sourceBytesPerPixel_) + 1;
    const uint64_t rest = uint64_t(std::max<int64_t>(LoadStream->Size() - LoadStream->Position(), 0));
    if (rowBytes > (uint64_t(1) << 31) || uint64_t(width) * height > 1032 * (rest + 64) * 8)
        RaiseImageErrorFmt(readertext::InvalidImage, kPNGName);
    SetImageSize(width, height);
    imageLoaded_ = true;
    rowsDone_ = 0;
    // Rows the file does not deliver show the background: an interlaced file may leave
    // holes anywhere, a plain one only below its last row.
    if (Properties.IsInterlaced) FillBackground(0);
    if (transparentColor_ >= 0) {
        // The colour as the bitmap shows it: with gAMA the pixels went through the gamma
        // table, so the colour they are compared with must too.
        TColor shown = TColor(transparentColor_);
        if (Converter.TargetFlags.Contains(ConversionFlag::GammaCorrect)) {
            const auto& lut = Converter.GammaLut();
            shown = RGBColor(lut[ColorRed(shown)], lut[ColorGreen(shown)], lut[ColorBlue(shown)]);
        }
        Transparent = true;
        TransparentColor = shown;
    }

    inflateLeft_ = 0;
    inflateInput_ = nullptr;
    insideImageData_ = false;
    imageDataLeft_ = 0;
    if (Properties.IsInterlaced && chunkData_.size() > 0) {
        for (int pass = 0; pass < 7; ++pass) {
            const Adam7Pass& p = kAdam7[pass];
            if (p.FirstColumn >= width) continue;
            ReadRows(p.FirstRow, p.RowStep, p.FirstColumn, p.ColumnStep, p.Mask, pass == 6);
        }
    } else {
        ReadRows(0, 1, 0, 1, 0xFF, true);
        if (rowsDone_ < height) FillBackground(rowsDone_);
    }
    SkipRemainingImageData();
}

void TPNGGraphic::FillBackground(uint32_t firstRow) {
    TCanvas& canvas = Canvas();
    canvas.Lock();
    canvas.Brush.Color = TColor(backgroundColor_);
    canvas.Brush.Style = TBrushStyle::bsSolid;
    canvas.FillRect(Rect(0, int(firstRow), Width(), Height()));
    canvas.Unlock();
}

void TPNGGraphic::ReadRows(uint32_t firstRow, uint32_t rowStep, uint32_t firstColumn, uint32_t columnStep, uint8_t mask,
                           bool reportProgress) {
    const uint32_t width = Properties.ImageWidth, height = Properties.ImageHeight;
    const uint32_t pixels = (width + columnStep - firstColumn - 1) / columnStep;
    const uint32_t k = bitDepth_ == 16 ? sourceBytesPerPixel_ / 2 : sourceBytesPerPixel_;
    const uint32_t rowBytes = uint32_t((uint64_t(pixels) * bitDepth_ + 7) / 8 * k + 1);
    std::vector<uint8_t> current(rowBytes, 0), previous(rowBytes, 0);
    std::vector<uint8_t> widened(widenGrey_ ? size_t(pixels) * sourceBytesPerPixel_ * 2 : 0);
    for (uint32_t y = firstRow; y < height; y += rowStep) {
        if (dataExhausted_) return;  // rows the file does not hold keep the background
        if (!FillFromInflate(current.data(), rowBytes)) return;
        UndoFilter(current.data(), previous.data(), rowBytes, std::max<uint32_t>(sourceBytesPerPixel_, 1));
        const uint8_t* samples = current.data() + 1;
        if (widenGrey_) {
            WidenGreyAlpha(samples, widened.data(), pixels, sourceBytesPerPixel_ / 2);
            samples = widened.data();
        }
        Converter.ConvertPixels({samples}, ScanLine(int(y)), width, mask);
        rowsDone_ = y + 1;
        if (reportProgress) {
            ReportProgress(TProgressStage::psRunning, RowPercent(y, height), true, ProgressArea, "");
            AdvanceProgressArea();
        }
        std::swap(current, previous);
    }
}

// Fills count bytes from the image data; answers false when the data ran out first.
bool TPNGGraphic::FillFromInflate(uint8_t* buffer, uint32_t count) {
    uint8_t* dest = buffer;
    uint32_t wanted = count;
    while (wanted > 0) {
        if (inflateLeft_ == 0) {
            if (!ReadImageDataPiece()) {
                dataExhausted_ = true;
                return false;
            }
            inflateInput_ = idat_.data();
            inflateLeft_ = uint32_t(idat_.size());
            if (inflateLeft_ == 0) continue;
        }
        TSourcePos source(inflateInput_, inflateLeft_);
        TDestPos target(dest, wanted);
        decoder_->Decompress(source, target, int32_t(inflateLeft_), int32_t(wanted));
        const uint32_t produced = uint32_t(target.Pos - dest);
        inflateLeft_ = uint32_t(decoder_->InputLeft());
        inflateInput_ = source.Pos;
        dest = target.Pos;
        wanted -= produced;
        const int status = decoder_->InflateStatus;
        if (status == Z_STREAM_END) {
            if (wanted != 0 || inflateLeft_ != 0) RaiseImageErrorFmt(readertext::ExtraCompressedData, kPNGName);
            dataExhausted_ = wanted != 0;
            return wanted == 0;
        }
        if (status != Z_OK) RaiseImageErrorFmt(readertext::CompressionError, kPNGName);
        if (produced == 0 && inflateLeft_ != 0) RaiseImageErrorFmt(readertext::CompressionError, kPNGName);
    }
    return true;
}

// Reads the next piece of image data into idat_: at most kImageDataPiece bytes of the current
// IDAT chunk and never more than the stream holds, so a declared length costs no memory the
// file does not back. At a chunk's end its CRC is checked and the next header read; a cut
// file gives what it holds of its last chunk, unchecked. Answers false when no data is left.
bool TPNGGraphic::ReadImageDataPiece() {
    constexpr int64_t kImageDataPiece = 64 * 1024;
    for (;;) {
        if (!insideImageData_) {
            if (streamEnded_ || !ChunkIs("IDAT")) return false;
            insideImageData_ = true;
            imageDataLeft_ = chunk_.Length;
        }
        if (imageDataLeft_ == 0) {
            EndImageDataChunk();
            continue;
        }
        const int64_t held = std::max<int64_t>(LoadStream->Size() - LoadStream->Position(), 0);
        const int64_t wanted = std::min({int64_t(imageDataLeft_), kImageDataPiece, held});
        idat_.resize(size_t(wanted));
        const int64_t got = wanted > 0 ? std::max<int64_t>(LoadStream->Read(idat_.data(), wanted), 0) : 0;
        idat_.resize(size_t(got));
        if (got == 0) {
            insideImageData_ = false;
            streamEnded_ = true;
            return false;
        }
        runningCrc_ = uint32_t(crc32(runningCrc_, idat_.data(), uInt(got)));
        imageDataLeft_ -= uint32_t(got);
        if (imageDataLeft_ == 0) EndImageDataChunk();
        return true;
    }
}

// After the last byte of an IDAT chunk: checks its CRC and reads the next chunk header.
void TPNGGraphic::EndImageDataChunk() {
    insideImageData_ = false;
    uint8_t crcBytes[4];
    if (LoadStream->Read(crcBytes, 4) != 4) {
        streamEnded_ = true;
        return;
    }
    if (runningCrc_ != BE32(crcBytes)) RaiseImageErrorFmt(readertext::CRCError, kPNGName);
    if (!ReadChunkHeader(true)) streamEnded_ = true;
}

// Leaves the current chunk header on the first chunk after the image data, checking the
// data of any IDAT chunks not needed for the rows.
void TPNGGraphic::SkipRemainingImageData() {
    while (ReadImageDataPiece()) {}
    // The chunk loop goes on with this header: step back so it reads it again.
    if (!streamEnded_) LoadStream->Seek(-8, SeekOrigin::Current);
}

}  // namespace tilvorn
