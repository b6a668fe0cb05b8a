#include "readers/ImageReaders.h"

#include <algorithm>
#include <cstring>

#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/PictureMemory.h"
#include "core/StreamPosition.h"

namespace tilvorn {

namespace {

bool SameTextAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = x - 'A' + 'a';
        if (y >= 'A' && y <= 'Z') y = y - 'A' + 'a';
        if (x != y) return false;
    }
    return true;
}

}  // namespace

// --- class values ---------------------------------------------------------------------------

bool TGraphicClass::InheritsFrom(const TGraphicClass& ancestor) const {
    for (const TGraphicClass* c = this; c; c = c->parent_)
        if (c == &ancestor) return true;
    return false;
}

bool TGraphicClass::IsReaderClass() const { return InheritsFrom(TReaderGraphic::Class()); }

bool TGraphicClass::ProbeStream(TStream& stream) const {
    if (!probe_) return false;
    TKeepPosition keep(stream);  // every class sees the position the caller had
    return probe_(stream);
}

bool TGraphicClass::ProbeFile(const std::string& fileName) const {
    TFileStream file(fileName, FileMode::OpenRead);
    return ProbeStream(file);
}

std::unique_ptr<TReaderGraphic> TGraphicClass::Create() const {
    if (!create_) throw EInvalidGraphicOperation(Format("Cannot create an instance of %s", std::string(name_)));
    return create_();
}

const TGraphicClass& BitmapGraphicClass() {
    static const TGraphicClass value("TBitmap", nullptr, nullptr, nullptr);
    return value;
}
const TGraphicClass& IconGraphicClass() {
    static const TGraphicClass value("TIcon", nullptr, nullptr, nullptr);
    return value;
}
const TGraphicClass& MetafileGraphicClass() {
    static const TGraphicClass value("TMetafile", nullptr, nullptr, nullptr);
    return value;
}
const TGraphicClass& JPEGImageClass() {
    static const TGraphicClass value("TJPEGImage", nullptr, nullptr, nullptr);
    return value;
}

// --- the registry -----------------------------------------------------------------------------

TFormatRegistry::~TFormatRegistry() { RemoveAll(); }

int TFormatRegistry::IndexOfExtension(std::string_view extension) const {
    if (extension.empty()) return -1;
    for (size_t i = 0; i < extensionList_.size(); ++i)
        if (SameTextAscii(extensionList_[i]->ExtensionText, extension)) return int(i);
    return -1;
}

int TFormatRegistry::IndexOfClass(const TGraphicClass& graphicClass) const {
    for (size_t i = 0; i < classList_.size(); ++i)
        if (classList_[i]->ReaderClass == &graphicClass) return int(i);
    return -1;
}

TClassEntry& TFormatRegistry::Attach(TExtensionEntry& entry, std::string_view commonText,
                                     const TGraphicClass& graphicClass) {
    const int c = IndexOfClass(graphicClass);
    TClassEntry* owner;
    if (c == -1) {
        classList_.push_back(std::make_unique<TClassEntry>());
        owner = classList_.back().get();
        owner->ReaderClass = &graphicClass;
    } else {
        owner = classList_[c].get();
    }
    if (!commonText.empty()) owner->ClassText = std::string(commonText);
    ++owner->UseCount;
    entry.OwnerEntry = owner;
    return *owner;
}

void TFormatRegistry::DisposeClassEntry(TClassEntry* entry) {
    // The platform keeps no list of picture formats to withdraw the class from.
    std::erase_if(classList_, [entry](const std::unique_ptr<TClassEntry>& e) { return e.get() == entry; });
}

void TFormatRegistry::AddFormat(std::string_view extension, std::string_view commonText,
                                std::string_view individualText, FormatKinds kinds, bool replace,
                                const TGraphicClass& graphicClass) {
    if (extension.empty()) return;
    const int x = IndexOfExtension(extension);
    if (x == -1) {
        auto entry = std::make_unique<TExtensionEntry>();
        entry->ExtensionText = std::string(extension);
        entry->IndividualText = std::string(individualText);
        entry->Kinds = kinds;
        extensionList_.push_back(std::move(entry));
        Attach(*extensionList_.back(), commonText, graphicClass);
    } else if (!replace) {
        RaiseImageErrorFmt(readertext::RegisteredTwice, std::string(extension));
    } else {
        TExtensionEntry& entry = *extensionList_[x];
        TClassEntry* old = entry.OwnerEntry;
        if (old->ReaderClass != &graphicClass) {
            Attach(entry, commonText, graphicClass);
            if (--old->UseCount == 0) DisposeClassEntry(old);
        }
    }
    // Mirroring into the platform's list of picture formats: this platform has none.
}

void TFormatRegistry::RemoveFormat(std::string_view extension, const TGraphicClass& graphicClass) {
    if (!extension.empty()) {
        const int x = IndexOfExtension(extension);
        if (x == -1) return;
        TClassEntry* owner = extensionList_[x]->OwnerEntry;
        if (--owner->UseCount == 0) DisposeClassEntry(owner);
        extensionList_.erase(extensionList_.begin() + x);
        return;
    }
    const int c = IndexOfClass(graphicClass);
    if (c == -1) return;  // nothing registered for the class: nothing to remove
    TClassEntry* owner = classList_[c].get();
    for (size_t i = extensionList_.size(); i-- > 0 && owner->UseCount > 0;) {
        if (extensionList_[i]->OwnerEntry != owner) continue;
        --owner->UseCount;
        extensionList_.erase(extensionList_.begin() + i);
    }
    DisposeClassEntry(owner);
}

const TGraphicClass* TFormatRegistry::ClassForStream(TStream& stream) const {
    for (const auto& entry : classList_) {
        const TGraphicClass& c = *entry->ReaderClass;
        if (!c.IsReaderClass()) continue;
        if (c.ProbeStream(stream)) return &c;
    }
    return nullptr;
}

const TGraphicClass* TFormatRegistry::ClassForFile(const std::string& fileName) const {
    TFileStream file(fileName, FileMode::OpenRead);
    return ClassForStream(file);
}

const TGraphicClass* TFormatRegistry::ClassForExtension(std::string_view extension) const {
    const int x = IndexOfExtension(extension);
    return x == -1 ? nullptr : extensionList_[x]->OwnerEntry->ReaderClass;
}

const TGraphicClass* TFormatRegistry::ClassNamed(std::string_view className) const {
    for (const auto& entry : classList_)
        if (entry->ReaderClass->Name() == className) return entry->ReaderClass;
    return nullptr;
}

void TFormatRegistry::RemoveAll() {
    extensionList_.clear();
    classList_.clear();
}

TFormatRegistry& GlobalFormatRegistry() {
    static TFormatRegistry registry;
    return registry;
}

// --- registration tables -------------------------------------------------------------------

void RegisterFormats(TFormatRegistry& registry, std::span<const TRegistrationRow> rows) {
    for (const TRegistrationRow& row : rows)
        registry.AddFormat(row.Extension, row.CommonText, row.IndividualText, row.Kinds, false, *row.GraphicClass);
}

void UnregisterFormats(TFormatRegistry& registry, std::span<const TWithdrawalStep> steps) {
    for (const TWithdrawalStep& step : steps) registry.RemoveFormat(step.Extension, *step.GraphicClass);
}

// --- shared routines -------------------------------------------------------------------------

void RaiseImageError(const std::string& text) { throw EInvalidGraphic(text); }

void RaiseCompressionError(const std::string& text) { throw EReaderCodecs(text); }

void SwapWords(void* data, uint32_t count) {
    auto* p = static_cast<uint8_t*>(data);
    for (uint32_t i = 0; i < count; ++i, p += 2) std::swap(p[0], p[1]);
}

void SwapLongs(void* data, uint32_t count) {
    auto* p = static_cast<uint8_t*>(data);
    for (uint32_t i = 0; i < count; ++i, p += 4) {
        std::swap(p[0], p[3]);
        std::swap(p[1], p[2]);
    }
}

uint32_t SwapLong(uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

void UndoDifferencing(uint8_t* row, uint32_t bytesPerPixel, uint32_t count) {
    const size_t n = size_t(bytesPerPixel) * count;
    for (size_t i = 0; i < n; ++i) row[i + bytesPerPixel] = uint8_t(row[i + bytesPerPixel] + row[i]);
}
void UndoDifferencing1(uint8_t* row, uint32_t count) { UndoDifferencing(row, 1, count); }
void UndoDifferencing3(uint8_t* row, uint32_t count) { UndoDifferencing(row, 3, count); }
void UndoDifferencing4(uint8_t* row, uint32_t count) { UndoDifferencing(row, 4, count); }

void UpsamplePlane(uint32_t width, uint32_t height, uint32_t stride, uint8_t* pixels) {
    if (width < 2 || height < 2 || stride < 2 * width) return;
    auto row = [&](uint32_t y) { return pixels + size_t(y) * stride; };
    // Widen each row into row 2y, bottom row first so no source row is overwritten unread.
    for (uint32_t y = height; y-- > 0;) {
        const uint8_t* s = row(y);
        uint8_t* d = row(2 * y);
        d[2 * width - 1] = s[width - 1];
        d[2 * width - 2] = s[width - 1];
        for (uint32_t x = width - 1; x-- > 0;) {
            const uint8_t left = s[x], right = s[x + 1];
            d[2 * x + 1] = uint8_t((left + right + 1) / 2);
            d[2 * x] = left;
        }
    }
    // Fill the odd rows between two widened rows.
    for (uint32_t r = 0; r + 1 < height; ++r) {
        const uint8_t* a = row(2 * r);
        const uint8_t* b = row(2 * r + 2);
        uint8_t* o = row(2 * r + 1);
        for (uint32_t x = 0; x + 1 < width; ++x) {
            o[2 * x] = uint8_t((a[2 * x] + b[2 * x] + 1) / 2);
            o[2 * x + 1] = uint8_t((a[2 * x] + a[2 * x + 2] + b[2 * x] + b[2 * x + 2] + 2) / 4);
        }
        o[2 * width - 2] = uint8_t((a[2 * width - 2] + b[2 * width - 2] + 1) / 2);
        o[2 * width - 1] = uint8_t((a[2 * width - 1] + b[2 * width - 1] + 1) / 2);
    }
    std::memcpy(row(2 * height - 1), row(2 * height - 2), 2 * size_t(width));
}

// --- readable names ----------------------------------------------------------------------------

std::string_view ColorModelName(ColorModel model) {
    static constexpr std::string_view names[] = {"Unknown", "Indexed", "Gray", "GrayAlpha", "RGB",   "RGBA",    "BGR",
                                                 "BGRA",    "CMY",     "CMYK", "CIELab",    "YCbCr", "PhotoYCC"};
    const size_t i = size_t(model);
    return i < std::size(names) ? names[i] : "?";
}

std::string_view CompressionKindName(CompressionKind kind) {
    static constexpr std::string_view names[] = {
        "Unknown", "None",  "RLE",       "PackBits", "LZW",         "Fax3", "FaxRLE",    "Fax4",
        "FaxRLEW", "LZ77",  "JPEG",      "OldJPEG",  "ThunderScan", "NeXT", "IT8CTPAD",  "IT8LW",
        "IT8MP",   "IT8BL", "PixarFilm", "PixarLog", "DCS",         "JBIG", "PCDHuffman"};
    const size_t i = size_t(kind);
    return i < std::size(names) ? names[i] : "?";
}

std::string_view BitmapPixelFormatName(BitmapPixelFormat format) {
    static constexpr std::string_view names[] = {"Device", "Bits1",  "Bits4",  "Bits8", "Bits15",
                                                 "Bits16", "Bits24", "Bits32", "Custom"};
    const size_t i = size_t(format);
    return i < std::size(names) ? names[i] : "?";
}

std::string_view OrientationName(uint8_t orientation) {
    // exiftool's names of the eight codes.
    static constexpr std::string_view names[] = {"Unknown",           "Horizontal (normal)",
                                                 "Mirror horizontal", "Rotate 180",
                                                 "Mirror vertical",   "Mirror horizontal and rotate 270 CW",
                                                 "Rotate 90 CW",      "Mirror horizontal and rotate 90 CW",
                                                 "Rotate 270 CW"};
    return orientation < std::size(names) ? names[orientation] : names[0];
}

std::string ImageFlagsText(ImageFlags flags) {
    static constexpr std::pair<ImageFlag, std::string_view> names[] = {{ImageFlag::Tiled, "Tiled"},
                                                                       {ImageFlag::BigEndian, "BigEndian"},
                                                                       {ImageFlag::MinIsWhite, "MinIsWhite"},
                                                                       {ImageFlag::ReversedBits, "ReversedBits"},
                                                                       {ImageFlag::GammaInUse, "GammaInUse"}};
    std::string text;
    for (const auto& [flag, name] : names) {
        if (!flags.Contains(flag)) continue;
        if (!text.empty()) text += ", ";
        text += name;
    }
    return text;
}

namespace {

template <typename T>
std::string ListText(const std::vector<T>& values) {
    std::string text;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i == 8) return text + ", ... (" + std::to_string(values.size()) + " values)";
        if (i) text += ", ";
        text += std::to_string(unsigned(values[i]));
    }
    return text;
}

std::string FloatText(float value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", double(value));
    return buffer;
}

}  // namespace

std::string DescribeProperties(const TImageProperties& p) {
    std::string text;
    auto line = [&](std::string_view name, const std::string& value) {
        text += name;
        text += ": ";
        text += value;
        text += '\n';
    };
    auto yesNo = [](bool b) { return std::string(b ? "yes" : "no"); };
    line("FormatVersion", std::to_string(p.FormatVersion));
    line("Flags", ImageFlagsText(p.Flags));
    line("ImageWidth", std::to_string(p.ImageWidth));
    line("ImageHeight", std::to_string(p.ImageHeight));
    line("Model", std::string(ColorModelName(p.Model)));
    line("SampleBits", std::to_string(p.SampleBits));
    line("SampleCount", std::to_string(p.SampleCount));
    line("PixelBits", std::to_string(p.PixelBits));
    line("Coding", std::string(CompressionKindName(p.Coding)));
    line("Gamma", FloatText(p.Gamma));
    line("DpiX", FloatText(p.DpiX));
    line("DpiY", FloatText(p.DpiY));
    line("IsInterlaced", yesNo(p.IsInterlaced));
    line("HasAlphaChannel", yesNo(p.HasAlphaChannel));
    line("FirstDirectory", std::to_string(p.FirstDirectory));
    line("PlaneLayout", std::to_string(p.PlaneLayout));
    line("RowCursor", std::to_string(p.RowCursor));
    line("TileW", std::to_string(p.TileW));
    line("TileH", std::to_string(p.TileH));
    line("LineBytes", std::to_string(p.LineBytes));
    line("StripRowCounts", ListText(p.StripRowCounts));
    line("ChromaSubsampling", ListText(p.ChromaSubsampling));
    line("JpegTableBytes", std::to_string(p.JpegTableBytes.size()) + " bytes");
    line("JpegColorSetting", std::to_string(p.JpegColorSetting));
    line("JpegTablesSetting", std::to_string(p.JpegTablesSetting));
    line("StripCursor", std::to_string(p.StripCursor));
    line("StripTotal", std::to_string(p.StripTotal));
    line("PredictorKind", std::to_string(p.PredictorKind));
    line("IsOverview", yesNo(p.IsOverview));
    line("Rotation", std::to_string(p.Rotation));
    line("Orientation",
         p.Orientation == 0 ? std::string("none given")
                            : std::to_string(p.Orientation) + " (" + std::string(OrientationName(p.Orientation)) + ")");
    line("SubImageCount", std::to_string(p.SubImageCount));
    line("StoredBottomUp", yesNo(p.StoredBottomUp));
    line("ChannelCount", std::to_string(p.ChannelCount));
    line("FilterKind", std::to_string(p.FilterKind));
    return text;
}

}  // namespace tilvorn

namespace tilvorn {

// --- the reader base ---------------------------------------------------------------------------

TReaderGraphic::TReaderGraphic() = default;
TReaderGraphic::~TReaderGraphic() = default;

const TGraphicClass& TReaderGraphic::Class() {
    static const TGraphicClass value("TReaderGraphic", nullptr, nullptr, &TReaderGraphic::ProbeStream);
    return value;
}

const TGraphicClass& TReaderGraphic::ClassType() const { return Class(); }

bool TReaderGraphic::ProbeStream(TStream&) { return false; }

bool TReaderGraphic::ReadImageInfo(TStream&, uint32_t) {
    Properties = TImageProperties{};
    return false;
}

void TReaderGraphic::ReadImageFile(const std::string& fileName) {
    TFileStream file(fileName, FileMode::OpenRead);
    ReadImage(file);
}

void TReaderGraphic::WriteImage(TStream& stream) { TDIB::SaveToStream(stream); }

void TReaderGraphic::AssignFrom(const TGraphic* source) {
    if (const auto* reader = dynamic_cast<const TReaderGraphic*>(source)) {
        Properties = reader->Properties;
        Transparent = reader->Transparent;
        TransparentColor = reader->TransparentColor;
    }
    TDIB::Assign(source);
}

void TReaderGraphic::LoadFromStream(TStream& stream) { ReadImage(stream); }

void TReaderGraphic::ReportProgress(TProgressStage stage, uint8_t percentDone, bool redrawNow, const TRect& r,
                                    const std::string& msg) {
    Progress(stage, percentDone, redrawNow, r, msg);
}

void TReaderGraphic::ReleasePixels() {
    Clear();
    Transparent = false;
    TransparentColor = 0;
    PaletteAlpha.clear();
}

int BitCountOf(BitmapPixelFormat format) {
    switch (format) {
        case BitmapPixelFormat::Bits1:
            return 1;
        case BitmapPixelFormat::Bits4:
            return 4;
        case BitmapPixelFormat::Bits8:
            return 8;
        case BitmapPixelFormat::Bits15:
        case BitmapPixelFormat::Bits16:
            return 16;
        case BitmapPixelFormat::Bits24:
            return 24;
        case BitmapPixelFormat::Bits32:
            return 32;
        default:
            return 0;
    }
}

void TReaderGraphic::SetPixelFormat(BitmapPixelFormat format) {
    if (BitCountOf(format) == 0) RaiseImageErrorFmt(readertext::InvalidColorFormat, std::string(ClassType().Name()));
    pixelFormat_ = format;
    if (format == BitmapPixelFormat::Bits15)
        PixelFormat = pf555;
    else if (format == BitmapPixelFormat::Bits16)
        PixelFormat = pf565;
    else
        PixelFormat = pf888;
}

void TReaderGraphic::SetImageSize(uint32_t width, uint32_t height) {
    const int bits = BitCountOf(pixelFormat_);
    // Sizes come from file headers: check them before asking for memory.
    const uint64_t rowBytes = ((uint64_t(width) * uint64_t(bits) + 31) >> 5) * 4;
    const uint64_t total = rowBytes * uint64_t(height);
    constexpr uint64_t kLimit = 0x7FFFFFFF;
    // The picture becomes a 24-bit working image: refuse it here, before its pixels exist,
    // when either would not fit.
    CheckPictureMemory(width, height, std::max(bits, 24));
    if (width > kLimit || height > kLimit || total > kLimit) throw EOutOfMemory("Out of memory");
    const TDIBStore* before = Image();
    SetSize(int(width), int(height), bits);
    // A new picture comes zeroed; only one kept at its size (the same size read again) is
    // cleared here, so that the fresh pages of a large picture are not written twice.
    if (Size() > 0 && Image() == before) std::memset(Pixels(), 0, size_t(Size()));
}

void TReaderGraphic::SetPaletteEntries(const TPalette& palette) {
    TColorTable table{};
    const size_t n = std::min<size_t>(palette.size(), table.size());
    for (size_t i = 0; i < n; ++i) table[i] = RGBQUAD{palette[i].Blue, palette[i].Green, palette[i].Red, 0};
    ColorTable = table;
    if (!Empty()) ApplyColorTable();
}

void TReaderGraphic::AdvanceProgressArea() {
    ++ProgressArea.Top;
    ++ProgressArea.Bottom;
}

TProgressPhase::TProgressPhase(TReaderGraphic& reader, const std::string& message, uint8_t endPercent)
    : reader_(reader), endPercent_(endPercent) {
    reader_.ReportProgress(TProgressStage::psStarting, 0, false, reader_.ProgressArea, message);
}

TProgressPhase::~TProgressPhase() {
    try {
        End();
    } catch (...) {}
}

void TProgressPhase::End() {
    if (!open_) return;
    open_ = false;
    reader_.ReportProgress(TProgressStage::psEnding, endPercent_, false, reader_.ProgressArea, "");
}

uint8_t TReaderGraphic::RowPercent(uint32_t row, uint32_t height) {
    if (height == 0) return 0;
    const uint64_t percent = (uint64_t(row) * 200 + height) / (uint64_t(height) * 2);
    return uint8_t(std::min<uint64_t>(percent, 100));
}

}  // namespace tilvorn
