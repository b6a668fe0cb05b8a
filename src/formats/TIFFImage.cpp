#include "formats/TIFFImage.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/ByteOrder.h"
#include "core/PictureMemory.h"
#include "formats/FormatBytes.h"
#include "readers/ReaderCodecs.h"
#include "readers/ReaderTexts.h"

namespace tilvorn {

namespace {

const char* const kTIFFName = "TIF/TIFF";
const char* const kEPSName = "EPS";

enum : uint16_t {
    TagImageWidth = 256,
    TagImageLength = 257,
    TagBitsPerSample = 258,
    TagCompression = 259,
    TagPhotometric = 262,
    TagFillOrder = 266,
    TagStripOffsets = 273,
    TagSamplesPerPixel = 277,
    TagRowsPerStrip = 278,
    TagStripByteCounts = 279,
    TagXResolution = 282,
    TagYResolution = 283,
    TagPlanarConfiguration = 284,
    TagT4Options = 292,
    TagResolutionUnit = 296,
    TagPredictor = 317,
    TagColorMap = 320,
    TagTileWidth = 322,
    TagTileLength = 323,
    TagTileOffsets = 324,
    TagTileByteCounts = 325,
    TagExtraSamples = 338,
    TagSampleFormat = 339,
    TagJPEGTables = 347,
    TagYCbCrCoefficients = 529,
    TagYCbCrSubSampling = 530,
};

enum : uint16_t {
    TypeByte = 1,
    TypeAscii,
    TypeShort,
    TypeLong,
    TypeRational,
    TypeSByte,
    TypeUndefined,
    TypeSShort,
    TypeSLong,
    TypeSRational,
    TypeFloat,
    TypeDouble,
};

uint32_t TypeSize(uint16_t type) {
    switch (type) {
        case TypeByte:
        case TypeAscii:
        case TypeSByte:
        case TypeUndefined:
            return 1;
        case TypeShort:
        case TypeSShort:
            return 2;
        case TypeLong:
        case TypeSLong:
        case TypeFloat:
            return 4;
        case TypeRational:
        case TypeSRational:
        case TypeDouble:
            return 8;
        default:
            return 0;
    }
}

uint16_t Get16(const uint8_t* p, bool big) { return big ? BE16(p) : LE16(p); }

uint32_t Get32(const uint8_t* p, bool big) { return big ? BE32(p) : LE32(p); }

CompressionKind CodingFor(uint32_t compression) {
    switch (compression) {
        case 1:
            return CompressionKind::None;
        case 2:
            return CompressionKind::FaxRLE;
        case 3:
            return CompressionKind::Fax3;
        case 4:
            return CompressionKind::Fax4;
        case 5:
            return CompressionKind::LZW;
        case 6:
            return CompressionKind::OldJPEG;
        case 7:
            return CompressionKind::JPEG;
        case 8:
        case 32946:
            return CompressionKind::LZ77;
        case 32766:
            return CompressionKind::NeXT;
        case 32771:
            return CompressionKind::FaxRLEW;
        case 32773:
            return CompressionKind::PackBits;
        case 32809:
            return CompressionKind::ThunderScan;
        case 32895:
            return CompressionKind::IT8CTPAD;
        case 32896:
            return CompressionKind::IT8LW;
        case 32897:
            return CompressionKind::IT8MP;
        case 32898:
            return CompressionKind::IT8BL;
        case 32908:
            return CompressionKind::PixarFilm;
        case 32909:
            return CompressionKind::PixarLog;
        case 32947:
            return CompressionKind::DCS;
        case 34661:
            return CompressionKind::JBIG;
        default:
            return CompressionKind::Unknown;
    }
}

ColorModel ModelFor(uint32_t photometric, uint32_t samples) {
    switch (photometric) {
        case 0:
        case 1:
            return ColorModel::Gray;
        case 2:
            return samples < 4 ? ColorModel::RGB : ColorModel::RGBA;
        case 3:
            return ColorModel::Indexed;
        case 5:
            return ColorModel::CMYK;
        case 6:
            return ColorModel::YCbCr;
        case 8:
            return ColorModel::CIELab;
        default:
            return ColorModel::Unknown;
    }
}

// Horizontal differencing on samples of 16 or 32 bits, in the byte order of the file.
template <int Bytes>
void UndoDifferencingWide(uint8_t* row, uint32_t samplesPerPixel, uint32_t width, bool big) {
    const uint32_t total = samplesPerPixel * width;
    for (uint32_t i = samplesPerPixel; i < total; ++i) {
        uint8_t* cur = row + Bytes * i;
        const uint8_t* prev = row + Bytes * (i - samplesPerPixel);
        uint32_t v = Bytes == 2 ? uint32_t(Get16(cur, big) + Get16(prev, big)) : Get32(cur, big) + Get32(prev, big);
        for (int b = 0; b < Bytes; ++b) cur[big ? Bytes - 1 - b : b] = uint8_t(v >> (8 * b));
    }
}

void UndoDifferencingBytes(uint8_t* row, uint32_t bytesPerPixel, uint32_t width) {
    if (width < 2 || bytesPerPixel == 0) return;
    switch (bytesPerPixel) {
        case 1:
            UndoDifferencing1(row, width - 1);
            break;
        case 3:
            UndoDifferencing3(row, width - 1);
            break;
        case 4:
            UndoDifferencing4(row, width - 1);
            break;
        default:
            for (uint32_t i = 0; i < bytesPerPixel * (width - 1); ++i)
                row[i + bytesPerPixel] = uint8_t(row[i + bytesPerPixel] + row[i]);
    }
}

// Floating-point prediction: the bytes of a row are differenced one by one, most significant
// bytes of all samples first; undone, the samples come out least significant byte first.
void UndoFloatPrediction(uint8_t* row, uint32_t samplesPerPixel, uint32_t width, uint32_t bytesPerSample) {
    const size_t samples = size_t(samplesPerPixel) * width, count = samples * bytesPerSample;
    for (size_t i = samplesPerPixel; i < count; ++i) row[i] = uint8_t(row[i] + row[i - samplesPerPixel]);
    std::vector<uint8_t> planes(row, row + count);
    for (size_t i = 0; i < samples; ++i)
        for (uint32_t b = 0; b < bytesPerSample; ++b)
            row[i * bytesPerSample + (bytesPerSample - 1 - b)] = planes[b * samples + i];
}

// How stored samples are turned into what the colour manager reads: 16-bit samples in
// little-endian order, 32-bit samples narrowed to 16 bits.
struct TSampleForm {
    uint32_t Bits = 8;
    bool FileBigEndian = false;  // multi-byte samples as the file stores them
    bool RowsBigEndian = false;  // ... and as the rows hold them once prediction is undone
    bool Float = false;  // IEEE single-precision samples, 0..1
};

void UndoPrediction(uint8_t* row, uint32_t kind, const TSampleForm& form, uint32_t samplesPerPixel, uint32_t width) {
    if (width < 2) return;
    if (kind == 3) {
        if (form.Bits == 32 || form.Bits == 16) UndoFloatPrediction(row, samplesPerPixel, width, form.Bits / 8);
    } else if (kind == 2) {
        if (form.Bits == 8)
            UndoDifferencingBytes(row, samplesPerPixel, width);
        else if (form.Bits == 16)
            UndoDifferencingWide<2>(row, samplesPerPixel, width, form.FileBigEndian);
        else if (form.Bits == 32)
            UndoDifferencingWide<4>(row, samplesPerPixel, width, form.FileBigEndian);
    }
}

void Put16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// Brings one row of count samples into the colour manager's form, in place.
void PrepareSamples(uint8_t* row, const TSampleForm& form, size_t count) {
    const bool big = form.RowsBigEndian;
    if (form.Bits == 32) {
        for (size_t i = 0; i < count; ++i) {
            const uint32_t v = Get32(row + 4 * i, big);
            uint32_t narrow = v >> 16;
            if (form.Float) {
                float f;
                std::memcpy(&f, &v, 4);
                narrow = f > 0 ? uint32_t(std::min(f, 1.0f) * 65535.0f + 0.5f) : 0;  // NaN too gives 0
            }
            Put16(row + 2 * i, narrow);
        }
    } else if (form.Bits == 16 && big) {
        for (size_t i = 0; i < count; ++i) std::swap(row[2 * i], row[2 * i + 1]);
    }
}

// Associated alpha: the colours are already multiplied by it, so white shows through by
// adding what the alpha leaves uncovered.
void LayPremultipliedOnWhite(uint8_t* bgra, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, bgra += 4) {
        const uint32_t uncovered = 255u - bgra[3];
        for (int c = 0; c < 3; ++c) bgra[c] = uint8_t(std::min<uint32_t>(bgra[c] + uncovered, 255));
        bgra[3] = 255;
    }
}

// One field of a row: an index, grey or alpha value of 1 to 8 bits packed most significant
// first, or a 16-bit sample as PrepareSamples leaves it.
uint32_t FieldAt(const uint8_t* row, size_t index, uint32_t bits) {
    if (bits == 16) return uint32_t(row[2 * index]) | uint32_t(row[2 * index + 1]) << 8;
    const size_t bit = index * bits;
    return (uint32_t(row[bit / 8]) >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

// Grey values or indices with an alpha sample beside them (one interleaved row, or a plane
// each) become blue, green, red and alpha bytes; grey counts from white when minIsWhite.
void SpreadWithAlpha(std::span<const void* const> sources, uint8_t* bgra, uint32_t width, uint32_t bits,
                     const TPalette& palette, bool minIsWhite) {
    const bool planar = sources.size() > 1;
    const auto* values = static_cast<const uint8_t*>(sources[0]);
    const auto* alphas = static_cast<const uint8_t*>(sources[planar ? 1 : 0]);
    const uint32_t high = bits == 16 ? 65535u : (1u << bits) - 1;
    for (uint32_t x = 0; x < width; ++x, bgra += 4) {
        const uint32_t v = FieldAt(values, planar ? x : 2 * size_t(x), bits);
        const uint32_t a = FieldAt(alphas, planar ? x : 2 * size_t(x) + 1, bits);
        if (!palette.empty()) {
            const TPaletteEntry entry = v < palette.size() ? palette[v] : TPaletteEntry{};
            bgra[0] = entry.Blue;
            bgra[1] = entry.Green;
            bgra[2] = entry.Red;
        } else {
            const uint8_t grey = uint8_t(v * 255 / high);
            bgra[0] = bgra[1] = bgra[2] = minIsWhite ? uint8_t(255 - grey) : grey;
        }
        bgra[3] = uint8_t(a * 255 / high);
    }
}

// Turns rows of YCbCr blocks (h × v luma samples, then Cb and Cr) into rows of one Y, Cb, Cr
// triple per pixel; blocks reaching past the right edge or the last row are cut.
void SpreadYCbCrBlocks(const uint8_t* stored, uint32_t storedRows, uint32_t storedRowBytes, uint32_t width, uint32_t h,
                       uint32_t v, std::vector<uint8_t>& out) {
    const size_t outRowBytes = size_t(width) * 3;
    out.assign(size_t(storedRows) * v * outRowBytes + 64, 0);
    const uint32_t blocksPerRow = (width + h - 1) / h;
    for (uint32_t sr = 0; sr < storedRows; ++sr) {
        const uint8_t* block = stored + size_t(sr) * storedRowBytes;
        for (uint32_t b = 0; b < blocksPerRow; ++b, block += h * v + 2) {
            const uint8_t cb = block[h * v], cr = block[h * v + 1];
            for (uint32_t dy = 0; dy < v; ++dy)
                for (uint32_t dx = 0; dx < h; ++dx) {
                    const uint32_t x = b * h + dx;
                    if (x >= width) continue;
                    uint8_t* pixel = &out[(size_t(sr) * v + dy) * outRowBytes + size_t(x) * 3];
                    pixel[0] = block[dy * h + dx];
                    pixel[1] = cb;
                    pixel[2] = cr;
                }
        }
    }
}

TSampleForm SampleFormOf(const TImageProperties& p, bool big, uint32_t sampleFormat, bool blocks) {
    TSampleForm form;
    form.Bits = blocks ? 8 : p.SampleBits;
    form.FileBigEndian = big;
    form.RowsBigEndian = big && !(p.PredictorKind == 3 && p.Coding != CompressionKind::None);
    form.Float = sampleFormat == 3 && form.Bits == 32;
    return form;
}

}  // namespace

bool TTIFFGraphic::BigEndianFile() const { return Properties.Flags.Contains(ImageFlag::BigEndian); }

bool TTIFFGraphic::ProbeContent(TStream& Stream) {
    uint8_t header[8];
    if (!formats::ReadProbeBytes(Stream, header, 8)) return false;
    const bool big = header[0] == 'M' && header[1] == 'M';
    if (!big && !(header[0] == 'I' && header[1] == 'I')) return false;
    // A directory outside the file or cut off is still a TIFF: the load reports it, rather than
    // handing the file to another reader that would.
    return Get16(header + 2, big) == 42;
}

bool TTIFFGraphic::DirectoryFits(TStream& Stream, uint32_t offset) const {
    const int64_t at = int64_t(StartPosition) + offset, size = Stream.Size();
    if (offset < 8 || at + 2 > size) return false;
    uint8_t countBytes[2];
    Stream.SetPosition(at);
    Stream.ReadBuffer(countBytes, 2);
    return at + 2 + int64_t(Get16(countBytes, BigEndianFile())) * 12 <= size;
}

void TTIFFGraphic::ReadDirectory(TStream& Stream, uint32_t offset) {
    const bool big = BigEndianFile();
    Stream.SetPosition(int64_t(StartPosition) + offset);
    uint8_t countBytes[2];
    Stream.ReadBuffer(countBytes, 2);
    const uint16_t count = Get16(countBytes, big);
    std::vector<uint8_t> raw(size_t(count) * 12);
    if (!raw.empty()) Stream.ReadBuffer(raw.data(), int64_t(raw.size()));
    directory_.assign(count, {});
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* e = &raw[size_t(i) * 12];
        TTIFFEntry& entry = directory_[i];
        entry.Tag = Get16(e, big);
        entry.Type = Get16(e + 2, big);
        entry.Count = Get32(e + 4, big);
        std::memcpy(entry.Raw, e + 8, 4);
        const uint64_t bytes = uint64_t(entry.Count) * TypeSize(entry.Type);
        if (entry.Count == 1 && TypeSize(entry.Type) == 1)
            entry.Value = e[8];
        else if (entry.Count == 1 && TypeSize(entry.Type) == 2)
            entry.Value = Get16(e + 8, big);
        else if (bytes > 4 || entry.Count == 1)
            entry.Value = Get32(e + 8, big);
        else
            entry.Value = Get32(e + 8, false);  // several small values: their bytes as stored
    }
    std::stable_sort(directory_.begin(), directory_.end(),
                     [](const TTIFFEntry& a, const TTIFFEntry& b) { return a.Tag < b.Tag; });
}

const TTIFFEntry* TTIFFGraphic::FindTag(uint16_t tag) const {
    auto it = std::lower_bound(directory_.begin(), directory_.end(), tag,
                               [](const TTIFFEntry& e, uint16_t t) { return e.Tag < t; });
    return (it != directory_.end() && it->Tag == tag) ? &*it : nullptr;
}

// Every value of an entry as a number. Values the file does not hold are left out, so a
// count that overstates the data never reads past the end of the stream.
std::vector<double> TTIFFGraphic::ReadValues(TStream& Stream, const TTIFFEntry& entry) const {
    const bool big = BigEndianFile();
    const uint32_t size = TypeSize(entry.Type);
    std::vector<double> values;
    if (size == 0 || entry.Count == 0) return values;
    uint64_t count = entry.Count;
    std::vector<uint8_t> bytes;
    if (count * size <= 4) {
        bytes.assign(entry.Raw, entry.Raw + 4);
    } else {
        const int64_t at = int64_t(StartPosition) + entry.Value;
        const int64_t available = std::max<int64_t>(Stream.Size() - at, 0);
        count = std::min<uint64_t>(count, uint64_t(available) / size);
        bytes.resize(size_t(count * size));
        Stream.SetPosition(at);
        if (!bytes.empty()) Stream.ReadBuffer(bytes.data(), int64_t(bytes.size()));
    }
    values.reserve(size_t(count));
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* p = &bytes[size_t(i * size)];
        switch (entry.Type) {
            case TypeSByte:
                values.push_back(int8_t(p[0]));
                break;
            case TypeShort:
                values.push_back(Get16(p, big));
                break;
            case TypeSShort:
                values.push_back(int16_t(Get16(p, big)));
                break;
            case TypeLong:
                values.push_back(Get32(p, big));
                break;
            case TypeSLong:
                values.push_back(int32_t(Get32(p, big)));
                break;
            case TypeRational: {
                uint32_t d = Get32(p + 4, big);
                values.push_back(d ? double(Get32(p, big)) / d : 0.0);
                break;
            }
            case TypeSRational: {
                int32_t d = int32_t(Get32(p + 4, big));
                values.push_back(d ? double(int32_t(Get32(p, big))) / d : 0.0);
                break;
            }
            case TypeFloat: {
                uint32_t bits = Get32(p, big);
                float f;
                std::memcpy(&f, &bits, 4);
                values.push_back(f);
                break;
            }
            case TypeDouble: {
                uint64_t bits = big ? (uint64_t(Get32(p, true)) << 32 | Get32(p + 4, true))
                                    : (uint64_t(Get32(p + 4, false)) << 32 | Get32(p, false));
                double d;
                std::memcpy(&d, &bits, 8);
                values.push_back(d);
                break;
            }
            default:
                values.push_back(p[0]);
                break;
        }
    }
    return values;
}

uint32_t TTIFFGraphic::GetInteger(TStream& Stream, uint16_t tag, uint32_t defaultValue) const {
    uint32_t count = 0;
    return GetCountAndOffset(Stream, tag, defaultValue, count);
}

uint32_t TTIFFGraphic::GetCountAndOffset(TStream&, uint16_t tag, uint32_t defaultValue, uint32_t& count) const {
    const TTIFFEntry* entry = FindTag(tag);
    count = entry ? entry->Count : 0;
    if (!entry) return defaultValue;
    if (entry->Count != 1) return entry->Value;
    switch (entry->Type) {
        case TypeByte:
        case TypeShort:
        case TypeSShort:
        case TypeLong:
        case TypeSLong:
            return entry->Value;
        default:
            return defaultValue;
    }
}

double TTIFFGraphic::GetNumber(TStream& Stream, uint16_t tag, double defaultValue) const {
    const TTIFFEntry* entry = FindTag(tag);
    if (!entry || entry->Count != 1) return defaultValue;
    switch (entry->Type) {
        case TypeByte:
        case TypeShort:
        case TypeLong:
        case TypeRational:
        case TypeSRational:
        case TypeFloat: {
            std::vector<double> values = ReadValues(Stream, *entry);
            return values.empty() ? defaultValue : values[0];
        }
        default:
            return defaultValue;
    }
}

std::vector<uint32_t> TTIFFGraphic::GetIntegerList(TStream& Stream, uint16_t tag) const {
    std::vector<uint32_t> list;
    const TTIFFEntry* entry = FindTag(tag);
    if (!entry) return list;
    switch (entry->Type) {
        case TypeByte:
        case TypeShort:
        case TypeSShort:
        case TypeLong:
        case TypeSLong:
            for (double v : ReadValues(Stream, *entry)) list.push_back(uint32_t(int64_t(v)));
            break;
        default:
            break;
    }
    return list;
}

std::vector<uint8_t> TTIFFGraphic::GetByteList(TStream& Stream, uint16_t tag) const {
    std::vector<uint8_t> list;
    const TTIFFEntry* entry = FindTag(tag);
    if (!entry) return list;
    for (double v : ReadValues(Stream, *entry)) list.push_back(uint8_t(int64_t(v)));
    return list;
}

TFloatArray TTIFFGraphic::GetNumberList(TStream& Stream, uint16_t tag) const {
    TFloatArray list;
    const TTIFFEntry* entry = FindTag(tag);
    if (!entry) return list;
    for (double v : ReadValues(Stream, *entry)) list.push_back(float(v));
    return list;
}

bool TTIFFGraphic::ReadImageInfo(TStream& Stream, uint32_t ImageIndex) {
    TReaderGraphic::ReadImageInfo(Stream, ImageIndex);
    TImageProperties& p = Properties;
    Stream.SetPosition(StartPosition);
    uint8_t header[8];
    Stream.ReadBuffer(header, 8);
    const bool big = header[0] == 'M' && header[1] == 'M';
    if (big) p.Flags.Include(ImageFlag::BigEndian);
    p.FormatVersion = Get16(header + 2, big);
    p.FirstDirectory = Get32(header + 4, big);
    if (p.FormatVersion != 42 || p.FirstDirectory == 0) return false;

    uint32_t offset = p.FirstDirectory;
    for (uint32_t index = ImageIndex; index > 0; --index) {
        if (!DirectoryFits(Stream, offset)) return false;
        uint8_t bytes[4];
        Stream.SetPosition(int64_t(StartPosition) + offset);
        Stream.ReadBuffer(bytes, 2);
        Stream.Seek(int64_t(Get16(bytes, big)) * 12, SeekOrigin::Current);
        Stream.ReadBuffer(bytes, 4);
        offset = Get32(bytes, big);
        if (offset == 0) return false;
    }
    if (!DirectoryFits(Stream, offset)) return false;
    ReadDirectory(Stream, offset);

    p.ImageWidth = GetInteger(Stream, TagImageWidth, 0);
    p.ImageHeight = GetInteger(Stream, TagImageLength, 0);
    if (p.ImageWidth == 0 || p.ImageHeight == 0) return false;

    std::vector<uint32_t> rows = GetIntegerList(Stream, TagRowsPerStrip);
    // No rows per strip (or 0, which no writer means literally) make the whole image one strip.
    if (rows.empty() || rows[0] == 0xFFFFFFFF || rows[0] == 0) rows.assign(1, p.ImageHeight);
    p.StripRowCounts = rows;
    const uint32_t samples = GetInteger(Stream, TagSamplesPerPixel, 1);
    p.SampleCount = uint8_t(std::min<uint32_t>(samples, 255));
    std::vector<uint32_t> bits = GetIntegerList(Stream, TagBitsPerSample);
    p.SampleBits = uint8_t(bits.empty() ? 1 : std::min<uint32_t>(bits[0], 255));
    p.TileW = GetInteger(Stream, TagTileWidth, 0);
    p.TileH = GetInteger(Stream, TagTileLength, 0);
    if (p.TileW > 0 && p.TileH > 0) p.Flags.Include(ImageFlag::Tiled);
    const uint32_t photometric = GetInteger(Stream, TagPhotometric, 0);
    if (photometric == 0) p.Flags.Include(ImageFlag::MinIsWhite);
    std::vector<uint32_t> extra = GetIntegerList(Stream, TagExtraSamples);
    p.HasAlphaChannel = !extra.empty() && std::none_of(extra.begin(), extra.end(), [](uint32_t v) { return v > 2; });
    // Associated alpha (1) has the colours multiplied by it already; unassociated (2) not.
    associatedAlpha_ = p.HasAlphaChannel && extra[0] == 1;
    alphaRows_ =
        !extra.empty() && (extra[0] == 1 || extra[0] == 2) && samples == 2 && (photometric <= 1 || photometric == 3);
    // One value per sample, as BitsPerSample has; the first stands for all.
    const std::vector<uint32_t> formats = GetIntegerList(Stream, TagSampleFormat);
    sampleFormat_ = formats.empty() ? 1 : formats[0];
    p.PixelBits = uint8_t(std::min<uint32_t>(uint32_t(p.SampleBits) * p.SampleCount, 255));
    // TIFF 6.0 gives "no compression" as the default of a missing Compression tag.
    p.Coding = CodingFor(GetInteger(Stream, TagCompression, 1));
    p.Model = ModelFor(photometric, p.SampleCount);
    if (p.Model == ColorModel::YCbCr) {
        std::vector<uint8_t> sub = GetByteList(Stream, TagYCbCrSubSampling);
        if (sub.size() < 2) sub = {2, 2};
        sub.resize(2);
        p.ChromaSubsampling = sub;
        yCbCrCoefficients_ = GetNumberList(Stream, TagYCbCrCoefficients);
        if (yCbCrCoefficients_.size() < 3) yCbCrCoefficients_ = {0.299f, 0.587f, 0.114f};
    }
    p.PlaneLayout = GetInteger(Stream, TagPlanarConfiguration, 0);
    p.DpiX = float(GetNumber(Stream, TagXResolution, 0));
    p.DpiY = float(GetNumber(Stream, TagYResolution, 0));
    if (GetInteger(Stream, TagResolutionUnit, 2) == 3) {
        p.DpiX *= 2.54f;
        p.DpiY *= 2.54f;
    }
    p.PredictorKind = GetInteger(Stream, TagPredictor, 0);
    if (GetInteger(Stream, TagFillOrder, 1) == 2) p.Flags.Include(ImageFlag::ReversedBits);
    p.Orientation = uint8_t(std::min<uint32_t>(GetInteger(Stream, 274 /* Orientation */, 1), 255));
    p.JpegColorSetting = 0;
    p.JpegTablesSetting = 3;
    return true;
}

void TTIFFGraphic::ReadImage(TStream& Stream) {
    ReleasePixels();
    StartPosition = uint32_t(Stream.Position());
    if (!ReadImageInfo(Stream, 0)) RaiseImageErrorFmt(readertext::InvalidImage, kTIFFName);
    ProgressArea = Rect(0, 0, 0, 1);
    TProgressPhase preparing(*this, readertext::Preparing);
    ReadDirectory(Stream, Properties.FirstDirectory);
    try {
        SetupConverter(Stream);
        DecodeStrips(Stream, preparing);
    } catch (...) {
        ReleasePixels();  // a refused file leaves no half-made picture behind
        throw;
    }
}

// What one stored byte can decode to, per coding: at most so many bytes (an LZW code of 9 bits
// or more stands for a string of at most the table's 4096 bytes; a ThunderScan byte for at most
// 63 pixels of 4 bits), or at most 8 rows for the fax codings, whose blank row may take a single
// bit. JPEG rows are left to the picture memory limit.
struct TStoredByteYield {
    uint64_t Bytes = 0;  // 0: no bound by bytes
    uint64_t Rows = 0;  // 0: no bound by rows
};

static TStoredByteYield YieldOf(CompressionKind coding) {
    struct Row {
        CompressionKind Coding;
        TStoredByteYield Yield;
    };
    static constexpr Row kRows[] = {
        {CompressionKind::None, {1, 0}},    {CompressionKind::PackBits, {128, 0}},   {CompressionKind::LZ77, {1032, 0}},
        {CompressionKind::LZW, {4096, 0}},  {CompressionKind::ThunderScan, {32, 0}}, {CompressionKind::FaxRLE, {0, 8}},
        {CompressionKind::FaxRLEW, {0, 8}}, {CompressionKind::Fax3, {0, 8}},         {CompressionKind::Fax4, {0, 8}},
    };
    for (const Row& row : kRows)
        if (row.Coding == coding) return row.Yield;
    return {};
}

// A header may declare a size its strips could never fill (a small EPS preview claiming a
// huge picture): refused before the bitmap is allocated, and before the rows are walked one by
// one. The strips hold at most their byte counts and never more than the file.
void TTIFFGraphic::RefuseSizeTheStripsCannotFill(TStream& Stream) {
    const TImageProperties& p = Properties;
    const TStoredByteYield yield = YieldOf(p.Coding);
    if (yield.Bytes == 0 && yield.Rows == 0) return;
    const std::vector<uint32_t> counts = GetIntegerList(Stream, TagStripByteCounts);
    const uint64_t fileSize = uint64_t(std::max<int64_t>(Stream.Size(), 0));
    uint64_t stored = counts.empty() ? fileSize : 0;
    for (uint32_t count : counts) stored += count;
    stored = std::min(stored, fileSize) + 1024;
    const uint64_t decoded = (uint64_t(p.ImageWidth) * p.SampleBits * p.SampleCount + 7) / 8 * p.ImageHeight;
    // Twice the yield: subsampled YCbCr blocks store as little as half a pixel's samples.
    if ((yield.Bytes && decoded / (2 * yield.Bytes) > stored) || (yield.Rows && p.ImageHeight / yield.Rows > stored))
        RaiseImageErrorFmt(readertext::InvalidImage, kTIFFName);
}

// Each of the colour map's three planes holds a third of its values; only their first 256
// entries can be used, whatever the count says. Answers how many entries were read.
uint32_t TTIFFGraphic::ReadColorMap(TStream& Stream) {
    uint32_t mapCount = 0;
    const uint32_t mapOffset = GetCountAndOffset(Stream, TagColorMap, 0, mapCount);
    if (mapCount < 3) return 0;
    const uint32_t plane = mapCount / 3;
    const uint32_t used = std::min<uint32_t>(plane, 256);
    const bool big = BigEndianFile();
    std::memset(colorMap_, 0, sizeof colorMap_);
    for (uint32_t c = 0; c < 3; ++c) {
        std::vector<uint8_t> bytes(size_t(used) * 2, 0);
        Stream.SetPosition(int64_t(StartPosition) + mapOffset + int64_t(c) * plane * 2);
        Stream.Read(bytes.data(), int64_t(bytes.size()));
        for (uint32_t i = 0; i < used; ++i) colorMap_[c * 256 + i] = Get16(&bytes[i * 2], big);
    }
    return used;
}

// Grey or indices with alpha become 32-bit pixels, spread by SpreadWithAlpha; the colour map
// of indices is kept as 8-bit entries for it.
void TTIFFGraphic::SetupAlphaRows(TStream& Stream) {
    const TImageProperties& p = Properties;
    const uint32_t bits = p.SampleBits == 32 ? 16 : p.SampleBits;
    if (!(bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16))
        RaiseImageErrorFmt(readertext::InvalidColorFormat, kTIFFName);
    alphaPalette_.clear();
    if (p.Model == ColorModel::Indexed) {
        const uint32_t used = ReadColorMap(Stream);
        alphaPalette_.resize(std::max<uint32_t>(used, 1));
        for (uint32_t i = 0; i < used; ++i)
            alphaPalette_[i] = {uint8_t(colorMap_[i] * 255u / 65535u), uint8_t(colorMap_[256 + i] * 255u / 65535u),
                                uint8_t(colorMap_[512 + i] * 255u / 65535u)};
    }
    SetPixelFormat(BitmapPixelFormat::Bits32);
    RefuseSizeTheStripsCannotFill(Stream);
    SetImageSize(p.ImageWidth, p.ImageHeight);
    ProgressArea.Right = int32_t(p.ImageWidth);
}

void TTIFFGraphic::SetupConverter(TStream& Stream) {
    TImageProperties& p = Properties;
    if (alphaRows_) return SetupAlphaRows(Stream);
    const bool planar = p.PlaneLayout == 2;
    Converter.SourceFlags = {};
    // Rows reach the colour manager with 16-bit samples least significant byte first,
    // whatever the file's order (see PrepareSamples).
    if (p.Model == ColorModel::CIELab) Converter.SourceFlags.Include(ConversionFlag::LabLumaByteScale);

    // The JPEG decoder hands colour rows over blue first; grey rows stay grey.
    const bool jpeg = p.Coding == CompressionKind::JPEG || p.Coding == CompressionKind::OldJPEG;
    ColorModel source = jpeg && p.SampleCount >= 3 ? ColorModel::BGR : p.Model;
    ColorModel target = source;
    uint32_t targetSamples = p.SampleCount;
    switch (source) {
        case ColorModel::Indexed:
            target = ColorModel::Indexed;
            if (p.HasAlphaChannel) source = ColorModel::GrayAlpha;
            break;
        case ColorModel::Gray:
            // A grey sample with another beside it (alpha or unspecified) is read as grey
            // with alpha, one grey value per pixel, rather than as two pixels.
            if (p.SampleCount == 2 && !planar) source = ColorModel::GrayAlpha;
            targetSamples = 1;
            break;
        case ColorModel::RGB:
        case ColorModel::CMY:
        case ColorModel::CMYK:
        case ColorModel::CIELab:
        case ColorModel::YCbCr:
            target = ColorModel::BGR;
            targetSamples = 3;
            break;
        case ColorModel::RGBA:
            target = ColorModel::BGRA;
            targetSamples = 4;
            break;
        default:
            break;
    }
    // Grey and index samples of odd widths cross byte boundaries; they are not read.
    const bool paletteTarget = target == ColorModel::Indexed || target == ColorModel::Gray;
    const uint8_t bits = p.SampleBits == 32 ? 16 : p.SampleBits;
    if (paletteTarget && !(bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16))
        RaiseImageErrorFmt(readertext::InvalidColorFormat, kTIFFName);
    if (paletteTarget && p.SampleCount > 2) RaiseImageErrorFmt(readertext::InvalidColorFormat, kTIFFName);

    Converter.SetSourceBits(bits);
    // 2-bit samples go into 4-bit pixels, 16-bit ones into 8 bits.
    Converter.SetTargetBits(bits == 16 ? 8 : bits == 2 ? 4 : bits);
    Converter.SetSourceModel(source);
    Converter.SetTargetModel(target);
    Converter.SetSourceSamples(p.SampleCount);
    Converter.SetTargetSamples(uint8_t(p.Model == ColorModel::CMYK ? 3 : targetSamples));
    if (paletteTarget) Converter.SetTargetSamples(1);
    const BitmapPixelFormat format =
        source == ColorModel::GrayAlpha ? BitmapPixelFormat::Bits8 : Converter.PixelFormatFor(1);
    // The row converters write 3 or 4 bytes per colour pixel and packed fields for indices:
    // the bitmap's pixels must be wide enough for what is written into them.
    const auto bitmapBits = uint32_t(BitCountOf(format));
    const bool alphaTarget = target == ColorModel::BGRA || target == ColorModel::RGBA;
    if (bitmapBits == 0 || (paletteTarget && bitmapBits < Converter.TargetBits()) ||
        (!paletteTarget && bitmapBits != (alphaTarget ? 32u : 24u)))
        RaiseImageErrorFmt(readertext::InvalidColorFormat, kTIFFName);
    SetPixelFormat(format);
    RefuseSizeTheStripsCannotFill(Stream);
    SetImageSize(p.ImageWidth, p.ImageHeight);
    ProgressArea.Right = int32_t(p.ImageWidth);

    const uint32_t used = target == ColorModel::Indexed ? ReadColorMap(Stream) : 0;
    if (used > 0) {
        SetPaletteEntries(Converter.BuildPalette({colorMap_, colorMap_ + 256, colorMap_ + 512},
                                                 RawPaletteFormat::Planar16, used, false));
    } else if (paletteTarget || source == ColorModel::GrayAlpha) {
        SetPaletteEntries(Converter.BuildGrayPalette(p.Flags.Contains(ImageFlag::MinIsWhite)));
    }
    if (source == ColorModel::YCbCr)
        Converter.SetChromaParameters(yCbCrCoefficients_, p.ChromaSubsampling[0], p.ChromaSubsampling[1]);
}

void TTIFFGraphic::DecodeStrips(TStream& Stream, TProgressPhase& preparing) {
    TImageProperties& p = Properties;
    const bool big = BigEndianFile();
    const bool planar = p.PlaneLayout == 2 && p.SampleCount > 1;
    const uint32_t planes = planar ? p.SampleCount : 1;
    const uint32_t width = p.ImageWidth, height = p.ImageHeight;
    // Tiles are blocks of TileW × TileH pixels, rows of them side by side; a strip is a block
    // as wide as the picture. Blocks at the right and bottom edges are stored whole.
    const bool tiled = p.Flags.Contains(ImageFlag::Tiled);
    const uint32_t blockWidth = tiled ? p.TileW : width;
    const uint32_t across = tiled ? uint32_t((uint64_t(width) + blockWidth - 1) / blockWidth) : 1;
    // With separate planes each block holds one sample of every pixel.
    const uint32_t samplesPerPixel = planar ? 1 : p.SampleCount;
    const uint32_t bitsPerPixel = uint32_t(p.SampleBits) * samplesPerPixel;
    const uint64_t lineBytes64 = (uint64_t(bitsPerPixel) * width + 7) / 8;
    const uint64_t blockLineBytes64 = (uint64_t(bitsPerPixel) * blockWidth + 7) / 8;
    if (lineBytes64 > 0x7FFFFFF || blockLineBytes64 > 0x7FFFFFF || (tiled && p.TileH > 0x10000))
        RaiseImageErrorFmt(readertext::InvalidImage, kTIFFName);
    if (tiled && (uint64_t(bitsPerPixel) * blockWidth) % 8 != 0)
        RaiseImageErrorFmt(readertext::InvalidImage, kTIFFName);
    const uint32_t lineBytes = uint32_t(lineBytes64);
    const uint32_t blockLineBytes = uint32_t(blockLineBytes64);
    p.LineBytes = lineBytes;
    // Subsampled YCbCr data come in blocks of h × v luma samples and one Cb and Cr each; a
    // stored row of blocks covers v rows of the picture. They are spread into one Y, Cb, Cr
    // triple per pixel before conversion.
    const uint32_t hStep = p.ChromaSubsampling.size() == 2 ? std::max<uint32_t>(p.ChromaSubsampling[0], 1) : 1;
    const uint32_t vStep = p.ChromaSubsampling.size() == 2 ? std::max<uint32_t>(p.ChromaSubsampling[1], 1) : 1;
    const bool blocks = p.Model == ColorModel::YCbCr && p.Coding != CompressionKind::JPEG &&
        p.Coding != CompressionKind::OldJPEG && !planar && p.SampleBits == 8 && p.SampleCount == 3 &&
        (hStep != 1 || vStep != 1);
    const uint32_t unitRows = blocks ? vStep : 1;  // picture rows per stored row
    const uint32_t storedRowBytes =
        blocks ? uint32_t((uint64_t(blockWidth) + hStep - 1) / hStep * (hStep * vStep + 2)) : blockLineBytes;
    std::vector<uint8_t> spread;
    {
        // A band of blocks is held whole, with one tile, before its rows are converted; only the
        // rows of a tile that lie in the picture are decoded.
        const uint64_t listedRows =
            tiled ? p.TileH : *std::max_element(p.StripRowCounts.begin(), p.StripRowCounts.end());
        const uint64_t bandRows = std::min<uint64_t>(std::max<uint64_t>(listedRows, 1), height);
        const uint64_t formRowBytes = blocks ? uint64_t(width) * 3 : lineBytes;
        const uint64_t blockBytes = (bandRows + unitRows - 1) / unitRows * storedRowBytes;
        const uint64_t working = tiled ? planes * bandRows * formRowBytes + blockBytes
                                       : planes * std::max(blockBytes, bandRows * formRowBytes);
        CheckReadingMemory(working, width, height, int(bitsPerPixel * planes));
    }

    std::vector<uint32_t> offsets = GetIntegerList(Stream, tiled ? TagTileOffsets : TagStripOffsets);
    std::vector<uint32_t> byteCounts = GetIntegerList(Stream, tiled ? TagTileByteCounts : TagStripByteCounts);
    if (tiled && offsets.empty()) {
        offsets = GetIntegerList(Stream, TagStripOffsets);
        byteCounts = GetIntegerList(Stream, TagStripByteCounts);
    }
    if (p.Coding == CompressionKind::JPEG) p.JpegTableBytes = GetByteList(Stream, TagJPEGTables);

    const uint32_t t4Options = GetInteger(Stream, TagT4Options, 0);
    const bool reversed = p.Flags.Contains(ImageFlag::ReversedBits);
    std::unique_ptr<TDecoder> decoder;
    switch (p.Coding) {
        case CompressionKind::None:
            break;
        case CompressionKind::FaxRLE:
            decoder = std::make_unique<TCCITTMHDecoder>(t4Options, reversed, false, blockWidth);
            break;
        case CompressionKind::FaxRLEW:
            decoder = std::make_unique<TCCITTMHDecoder>(t4Options, reversed, true, blockWidth);
            break;
        case CompressionKind::Fax3:
            if (t4Options & 1)
                decoder = std::make_unique<TCCITTFax2DDecoder>(t4Options, reversed, blockWidth, false);
            else
                decoder = std::make_unique<TCCITTFax3Decoder>(t4Options, reversed, false, blockWidth);
            break;
        case CompressionKind::Fax4:
            decoder = std::make_unique<TCCITTFax2DDecoder>(0, reversed, blockWidth, true);
            break;
        case CompressionKind::LZW:
            decoder = std::make_unique<TLZWDecoder>();
            break;
        case CompressionKind::JPEG:
            decoder = std::make_unique<TTIFFJPEGDecoder>(p);
            break;
        case CompressionKind::LZ77:
            decoder = std::make_unique<TLZ77Decoder>(1, true);
            break;
        case CompressionKind::PackBits:
            decoder = std::make_unique<TPackbitsRLEDecoder>();
            break;
        // Each row is coded on its own from a delta base of 0, odd widths included.
        case CompressionKind::ThunderScan:
            decoder = std::make_unique<TThunderDecoder>(int32_t((blockWidth + 1) / 2), int32_t(blockWidth));
            break;
        default:
            RaiseImageErrorFmt(readertext::FeatureNotSupported, readertext::CompressionSchemeIs, kTIFFName);
    }
    if (tiled && p.Coding == CompressionKind::JPEG)
        RaiseImageErrorFmt(readertext::FeatureNotSupported, readertext::CompressionSchemeIs, kTIFFName);
    // The fax decoders read either bit order themselves; every other coding gets its bytes
    // in the order the file states.
    const bool faxCoding = p.Coding == CompressionKind::FaxRLE || p.Coding == CompressionKind::FaxRLEW ||
        p.Coding == CompressionKind::Fax3 || p.Coding == CompressionKind::Fax4;
    const bool reverseBytes = reversed && !faxCoding && p.Coding != CompressionKind::JPEG;
    struct Ending {  // the decoder is closed on every way out, after the phase ends
        TDecoder* decoder;
        ~Ending() {
            if (decoder) {
                try {
                    decoder->EndDecompress();
                } catch (...) {}
            }
        }
    } ending{decoder.get()};
    if (decoder) decoder->BeginDecompress();
    preparing.End();
    TProgressPhase transfer(*this, readertext::Transfering);

    const TSampleForm form = SampleFormOf(p, big, sampleFormat_, blocks);
    const int64_t streamSize = Stream.Size();
    const uint32_t blocksPerPlane = uint32_t(offsets.size() / planes);
    const uint32_t bands = tiled ? std::min<uint32_t>(blocksPerPlane / across, (height + p.TileH - 1) / p.TileH)
                                 : uint32_t(std::min<size_t>(blocksPerPlane, size_t(height)));
    p.StripTotal = uint32_t(offsets.size());
    p.RowCursor = 0;
    p.StripCursor = 0;

    // Decodes block `index` of blockRows picture rows into `out`, rows of the block's width
    // ready for conversion; answers how many of those rows the file holds.
    std::vector<uint8_t> packed;
    // Room after the last row for the converter to read one row of its widest pixels (four
    // 16-bit samples), even where a damaged file's sample count and colour model disagree.
    const size_t conversionSlack = 8 * size_t(std::max(width, blockWidth)) + 64;
    auto decodeBlock = [&](size_t index, uint32_t blockRows, std::vector<uint8_t>& out) -> size_t {
        const size_t storedRows = (blockRows + unitRows - 1) / unitRows;
        const size_t decodedSize = storedRows * storedRowBytes;
        // Room beyond the rows for decoders that finish a whole scanline or packet.
        out.assign(decodedSize + conversionSlack, 0);
        if (index >= offsets.size()) return 0;
        const int64_t at = int64_t(StartPosition) + offsets[index];
        const int64_t available = std::max<int64_t>(streamSize - at, 0);
        Stream.SetPosition(std::min(at, streamSize));
        size_t deliveredRows = blockRows;
        if (!decoder) {
            // A block the file cuts short gives the rows it holds.
            const int64_t got = Stream.Read(out.data(), std::min<int64_t>(int64_t(decodedSize), available));
            const size_t storedGot = (size_t(std::max<int64_t>(got, 0)) + storedRowBytes - 1) / storedRowBytes;
            deliveredRows = std::min<size_t>(deliveredRows, storedGot * unitRows);
            if (reverseBytes) ReverseBitOrder(out.data(), size_t(std::max<int64_t>(got, 0)));
        } else {
            // A block without a byte count takes what the file holds, within what its rows
            // could need even when stored badly.
            uint64_t count = index < byteCounts.size() ? byteCounts[index] : uint64_t(decodedSize) * 8 + 1024;
            count = std::min<uint64_t>(count, uint64_t(available));
            count = std::min<uint64_t>(count, 0x7FFFFFF0);
            // Only what the read does not fill is cleared: the bytes past the end of the data
            // that decoders may look at.
            packed.resize(size_t(count) + 16);
            const int64_t got = Stream.Read(packed.data(), int64_t(count));
            const uint32_t packedSize = uint32_t(std::max<int64_t>(got, 0));
            std::fill(packed.begin() + packedSize, packed.end(), 0);
            if (reverseBytes) ReverseBitOrder(packed.data(), packedSize);
            TSourcePos source(packed.data(), packedSize);
            TDestPos dest(out.data(), out.size());
            decoder->Decompress(source, dest, int32_t(packedSize), int32_t(decodedSize));
        }
        if (p.Coding != CompressionKind::None && p.PredictorKind >= 2)
            for (size_t r = 0; r < storedRows; ++r)
                UndoPrediction(out.data() + r * storedRowBytes, p.PredictorKind, form, samplesPerPixel, blockWidth);
        if (blocks) {
            SpreadYCbCrBlocks(out.data(), uint32_t(storedRows), storedRowBytes, blockWidth, hStep, vStep, spread);
            out.swap(spread);
        }
        return deliveredRows;
    };

    std::vector<std::vector<uint8_t>> buffers(planes);
    std::vector<uint8_t> tile;
    const uint32_t formLineBytes = blocks ? width * 3 : lineBytes;
    const uint32_t formBlockBytes = blocks ? blockWidth * 3 : blockLineBytes;
    std::vector<const void*> sources(planes);
    const bool premultiplied = associatedAlpha_ && BitCount() == 32;  // only colour pixels carry their alpha
    for (uint32_t band = 0; band < bands && p.RowCursor < height; ++band) {
        p.StripCursor = band;
        const uint32_t listedRows = tiled    ? p.TileH
            : band < p.StripRowCounts.size() ? p.StripRowCounts[band]
                                             : p.StripRowCounts.back();
        // Never more rows than the picture still needs, whatever the file claims.
        const uint32_t rows = std::min(std::max<uint32_t>(listedRows, 1), height - p.RowCursor);
        size_t deliveredRows = rows;
        for (uint32_t plane = 0; plane < planes; ++plane) {
            const size_t first = size_t(plane) * blocksPerPlane + size_t(band) * across;
            if (!tiled) {
                deliveredRows = std::min(deliveredRows, decodeBlock(first, rows, buffers[plane]));
                continue;
            }
            std::vector<uint8_t>& buffer = buffers[plane];
            buffer.assign(size_t(rows) * formLineBytes + conversionSlack, 0);
            for (uint32_t t = 0; t < across; ++t) {
                const size_t got = std::min<size_t>(decodeBlock(first + t, rows, tile), rows);
                const size_t x = size_t(t) * formBlockBytes;
                const size_t bytes = std::min<size_t>(formBlockBytes, formLineBytes - x);
                for (size_t r = 0; r < got; ++r)
                    std::memcpy(&buffer[r * formLineBytes + x], &tile[r * formBlockBytes], bytes);
            }
        }
        for (uint32_t r = 0; r < deliveredRows && p.RowCursor < height; ++r) {
            sources.resize(planes);
            for (uint32_t plane = 0; plane < planes; ++plane) {
                uint8_t* row = buffers[plane].data() + size_t(r) * formLineBytes;
                PrepareSamples(row, form, size_t(width) * samplesPerPixel);
                sources[plane] = row;
            }
            if (planar && !alphaRows_ && Converter.SourceModel() == ColorModel::Gray) sources.resize(1);
            uint8_t* target = static_cast<uint8_t*>(ScanLine(int(p.RowCursor)));
            if (alphaRows_)
                SpreadWithAlpha(sources, target, width, form.Bits == 32 ? 16 : form.Bits, alphaPalette_,
                                p.Flags.Contains(ImageFlag::MinIsWhite));
            else
                Converter.ConvertPixels(std::span<const void* const>(sources), target, width, 0xFF);
            if (premultiplied) LayPremultipliedOnWhite(target, width);
            ++p.RowCursor;
            ReportProgress(TProgressStage::psRunning, RowPercent(p.RowCursor, height), true, ProgressArea, "");
            AdvanceProgressArea();
        }
    }
    transfer.End();
}

bool TEPSGraphic::ProbeContent(TStream& Stream) {
    const int64_t start = Stream.Position();
    uint8_t header[30];
    if (!formats::ReadProbeBytes(Stream, header, 30)) return false;
    static const uint8_t kMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};
    // A preview may follow the header directly, as most writers place it.
    return std::memcmp(header, kMagic, 4) == 0 && start + 30 <= int64_t(Get32(header + 20, false)) &&
        Get32(header + 24, false) > 0;
}

void TEPSGraphic::ReadImage(TStream& Stream) {
    uint8_t header[30];
    Stream.ReadBuffer(header, 30);
    static const uint8_t kMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};
    if (std::memcmp(header, kMagic, 4) != 0) RaiseImageErrorFmt(readertext::InvalidImage, kEPSName);
    const uint32_t tiffOffset = Get32(header + 20, false);
    if (tiffOffset < 30) RaiseImageErrorFmt(readertext::InvalidImage, kEPSName);
    Stream.Seek(int64_t(tiffOffset) - 30, SeekOrigin::Current);
    TTIFFGraphic::ReadImage(Stream);
}

}  // namespace tilvorn
