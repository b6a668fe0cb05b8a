// The image reader framework: the description of one image in a file (TImageProperties),
// the common base of the format readers (TReaderGraphic, itself a bitmap), reader classes as
// values, the registry that maps extensions to reader classes and picks a class by content,
// and the small pixel routines the readers share.
//
// A reader class is a value: a TGraphicClass describes one class (its name, its parent, a
// factory and the class-level content probe). Each reader offers it as `Class()`; the format
// readers get it, with ClassType and a position-keeping ProbeStream, from TFormatReader:
//
//     class TTargaGraphic : public TFormatReader<TTargaGraphic> {
//     public:
//         static constexpr std::string_view kClassName = "TTargaGraphic";
//         static bool ProbeContent(TStream& stream);
//         bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
//         void ReadImage(TStream& stream) override;
//     };
//
// Reading contract of ReadImage: release the pixels; StartPosition = the stream position;
// ReadImageInfo(stream, 0) (false: stop with an empty bitmap or raise InvalidImage, as the
// format says); seek to the pixels relative to StartPosition; report each phase with
// ReportProgress(psStarting, ...); set up Converter and take the pixel format from it
// (SetPixelFormat), then SetSize-like SetImageSize and the palette (SetPaletteEntries);
// per row decode, convert into ScanLine(y), ReportProgress(psRunning, ...) and move
// ProgressArea down; ReportProgress(psEnding) at the end of each phase (TProgressPhase does
// both ends of a phase, also when an error passes). Buffers and
// decoders are released on every path.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Exceptions.h"
#include "core/FlagSet.h"
#include "core/Format.h"
#include "core/StreamPosition.h"
#include "core/Streams.h"
#include "image/DIB.h"
#include "readers/ReaderColor.h"
#include "readers/ReaderTexts.h"

namespace tilvorn {

// --- the image properties record ------------------------------------------------------------

/// The compression scheme of the pixel data.
enum class CompressionKind : uint8_t {
    Unknown = 0,
    None = 1,
    RLE = 2,
    PackBits = 3,
    LZW = 4,
    Fax3 = 5,
    FaxRLE = 6,
    Fax4 = 7,
    FaxRLEW = 8,
    LZ77 = 9,
    JPEG = 10,
    OldJPEG = 11,
    ThunderScan = 12,
    NeXT = 13,
    IT8CTPAD = 14,
    IT8LW = 15,
    IT8MP = 16,
    IT8BL = 17,
    PixarFilm = 18,
    PixarLog = 19,
    DCS = 20,
    JBIG = 21,
    PCDHuffman = 22,
};

/// Image flags; the values are bit positions.
enum class ImageFlag : uint8_t {
    Tiled = 0,  // TIFF data in tiles
    BigEndian = 1,  // multi-byte values are stored most significant byte first
    MinIsWhite = 2,  // the smallest grey value is white
    ReversedBits = 3,  // bit order inside bytes is reversed
    GammaInUse = 4,  // the file's gamma is to be applied
};
using ImageFlags = FlagSet<ImageFlag>;

/// Kinds stored with each registered extension; the values are bit positions.
enum class FormatKind : uint8_t {
    Layered = 1,
    MultiImage = 2,
    Raster = 3,
    Vector = 4,
};
using FormatKinds = FlagSet<FormatKind>;

using TCardinalArray = std::vector<uint32_t>;
using TByteArray = std::vector<uint8_t>;

/// The properties of one image of a file, filled by ReadImageInfo and used while decoding.
/// A default record is the cleared one: every field zero, Gamma 1.0.
struct TImageProperties {
    uint32_t FormatVersion = 0;
    ImageFlags Flags;
    uint32_t ImageWidth = 0;
    uint32_t ImageHeight = 0;
    ColorModel Model = ColorModel::Unknown;
    uint8_t SampleBits = 0;
    uint8_t SampleCount = 0;
    uint8_t PixelBits = 0;
    CompressionKind Coding = CompressionKind::Unknown;
    float Gamma = 1.0f;
    float DpiX = 0;
    float DpiY = 0;
    bool IsInterlaced = false;
    bool HasAlphaChannel = false;
    uint32_t FirstDirectory = 0;
    uint32_t PlaneLayout = 0;
    uint32_t RowCursor = 0;
    uint32_t TileW = 0;
    uint32_t TileH = 0;
    uint32_t LineBytes = 0;
    TCardinalArray StripRowCounts;
    TByteArray ChromaSubsampling;
    TByteArray JpegTableBytes;
    uint32_t JpegColorSetting = 0;
    uint32_t JpegTablesSetting = 0;
    uint32_t StripCursor = 0;
    uint32_t StripTotal = 0;
    uint32_t PredictorKind = 0;
    bool IsOverview = false;
    uint8_t Rotation = 0;
    uint8_t Orientation = 0;  // how the stored rows are to be turned to stand upright: 1..8 as
        // in TIFF's Orientation tag and EXIF; 0 when the file names none
    uint16_t SubImageCount = 0;
    bool StoredBottomUp = false;
    uint8_t ChannelCount = 0;
    uint8_t FilterKind = 0;

    bool operator==(const TImageProperties&) const = default;
};

/// Readable names of the enumerations (for `tilvorn-cli info` and messages).
std::string_view ColorModelName(ColorModel model);
std::string_view CompressionKindName(CompressionKind kind);
std::string_view BitmapPixelFormatName(BitmapPixelFormat format);
/// Bits of one bitmap pixel of the format; 0 for a format the readers do not store.
int BitCountOf(BitmapPixelFormat format);
/// The orientation code as photo tools name it ("Rotate 90 CW" for 6, ...); "Unknown"
/// outside 1..8.
std::string_view OrientationName(uint8_t orientation);
/// The flags as "Tiled, BigEndian" ("" when empty).
std::string ImageFlagsText(ImageFlags flags);
/// Every field of the record, one "Name: value" line each.
std::string DescribeProperties(const TImageProperties& properties);

// --- reader classes as values ------------------------------------------------------------

class TReaderGraphic;

/// One graphic class as a value: stored in the registry, asked to probe a stream or a
/// file, tested for being a kind of another class, and asked to make an instance.
class TGraphicClass {
public:
    using Factory = std::unique_ptr<TReaderGraphic> (*)();
    using StreamProbe = bool (*)(TStream& stream);

    constexpr TGraphicClass(std::string_view name, const TGraphicClass* parent, Factory create, StreamProbe probe)
        : name_(name), parent_(parent), create_(create), probe_(probe) {}
    TGraphicClass(const TGraphicClass&) = delete;
    TGraphicClass& operator=(const TGraphicClass&) = delete;

    /// The class name, e.g. "TTargaGraphic".
    std::string_view Name() const { return name_; }
    const TGraphicClass* Parent() const { return parent_; }
    /// True for this class and every class derived from it.
    bool InheritsFrom(const TGraphicClass& ancestor) const;
    /// A kind of TReaderGraphic: only these are probed and can be created.
    bool IsReaderClass() const;

    /// May this class read the data at the stream's current position? The position is
    /// left where it was. Classes without a probe answer false.
    bool ProbeStream(TStream& stream) const;
    /// Opens the file for reading, probes it and closes it in every case.
    bool ProbeFile(const std::string& fileName) const;
    /// A new reader of this class; EInvalidGraphicOperation for a class that cannot make one.
    std::unique_ptr<TReaderGraphic> Create() const;

private:
    std::string_view name_;
    const TGraphicClass* parent_;
    Factory create_;
    StreamProbe probe_;
};

/// The class value of a reader type with a default constructor and a static ProbeStream.
template <typename Reader>
constexpr TGraphicClass MakeReaderClass(std::string_view name, const TGraphicClass& parent) {
    return TGraphicClass(
        name, &parent, []() -> std::unique_ptr<TReaderGraphic> { return std::make_unique<Reader>(); },
        &Reader::ProbeStream);
}

/// The platform graphic classes of the registration table: registered for completeness,
/// never probed (the window reads these files itself).
const TGraphicClass& BitmapGraphicClass();  // "TBitmap"
const TGraphicClass& IconGraphicClass();  // "TIcon"
const TGraphicClass& MetafileGraphicClass();  // "TMetafile"
const TGraphicClass& JPEGImageClass();  // "TJPEGImage"

// --- the reader base ---------------------------------------------------------------------

/// The common base of the format readers. A reader is a bitmap: it decodes a file into its
/// own pixels (TDIB), which the caller then draws or copies.
class TReaderGraphic : public TDIB {
public:
    TReaderGraphic();
    ~TReaderGraphic() override;

    /// The class value of TReaderGraphic itself (it cannot make instances).
    static const TGraphicClass& Class();
    /// The class value of this object's own class.
    virtual const TGraphicClass& ClassType() const;
    /// The base reads nothing.
    static bool ProbeStream(TStream& stream);

    /// Fills Properties for image number imageIndex of the file that begins at the
    /// stream's position. The base clears the record (Gamma 1.0) and answers false; each
    /// reader calls it first and answers true when its header was understood.
    virtual bool ReadImageInfo(TStream& stream, uint32_t imageIndex);
    /// Decodes the image at the stream's current position into the bitmap.
    virtual void ReadImage(TStream& stream) = 0;
    /// Opens the file for reading and calls ReadImage on it.
    virtual void ReadImageFile(const std::string& fileName);
    /// Saves the bitmap as a bitmap file.
    virtual void WriteImage(TStream& stream);
    /// Copies Properties when source is a reader, then the bitmap as TDIB::Assign does.
    void AssignFrom(const TGraphic* source);
    void Assign(const TGraphic* source) override { AssignFrom(source); }
    using TDIB::Assign;
    const char* ClassName() const override { return ClassType().Name().data(); }

    /// Loading through the bitmap's own stream interface reads with the reader.
    void LoadFromStream(TStream& stream) override;

    /// Sends the progress notification (the graphic's OnProgress, when one is attached).
    void ReportProgress(TProgressStage stage, uint8_t percentDone, bool redrawNow, const TRect& r,
                        const std::string& msg);

    // Helpers of the reading contract.
    /// Sets the bit count for a pixel format: Bits1/4/8 indexed, Bits15 5-5-5 in 16 bits,
    /// Bits16 5-6-5, Bits24, Bits32. Device and Custom raise EInvalidGraphic.
    void SetPixelFormat(BitmapPixelFormat format);
    BitmapPixelFormat PixelFormatKind() const { return pixelFormat_; }
    /// Allocates width x height pixels in the chosen pixel format, after checking that the
    /// size fits in memory (width x height x bytes computed in 64 bits). Pixels start zeroed.
    void SetImageSize(uint32_t width, uint32_t height);
    /// Takes a palette built by the colour manager into the colour table (at most 256).
    void SetPaletteEntries(const TPalette& palette);
    /// ProgressArea moves down by one row.
    void AdvanceProgressArea();
    /// Percentage for row r of height rows, rounded to the nearest integer.
    static uint8_t RowPercent(uint32_t row, uint32_t height);

    /// The transparent colour of the bitmap, set by readers whose file names one (PNG
    /// tRNS); the picture made from the reader lays such pixels on white.
    bool Transparent = false;
    TColor TransparentColor = 0;
    /// The opacity of the colour table's first entries (PNG tRNS of a palette image); the
    /// entries beyond it, and every entry when it is empty, are opaque.
    std::vector<uint8_t> PaletteAlpha;

    TColorManager Converter;
    TImageProperties Properties;
    uint32_t StartPosition = 0;
    TStream* LoadStream = nullptr;
    TRect ProgressArea;

protected:
    /// Empties the bitmap (step 1 of every ReadImage).
    void ReleasePixels();

private:
    BitmapPixelFormat pixelFormat_ = BitmapPixelFormat::Bits24;
};

/// One phase of a read as the progress notifications show it: the starting notification
/// when made, the ending one at End or when the scope is left, whichever comes first, so an
/// error passing through still closes the phase. Ending in the destructor swallows an
/// observer's exception (the destructor may run while another one is on its way).
class TProgressPhase {
public:
    /// endPercent is the percentage the ending notification carries.
    TProgressPhase(TReaderGraphic& reader, const std::string& message, uint8_t endPercent = 0);
    ~TProgressPhase();
    TProgressPhase(const TProgressPhase&) = delete;
    TProgressPhase& operator=(const TProgressPhase&) = delete;
    /// Sends the ending notification; later calls do nothing.
    void End();

private:
    TReaderGraphic& reader_;
    uint8_t endPercent_;
    bool open_ = true;
};

/// The class-level part of a format reader, written once: its class value (named by the
/// reader's kClassName, a kind of Parent's class), ClassType, and ProbeStream, which keeps
/// the stream's position whatever the reader's own ProbeContent reads or raises:
///
///     class TSGIGraphic : public TFormatReader<TSGIGraphic> {
///     public:
///         static constexpr std::string_view kClassName = "TSGIGraphic";
///         static bool ProbeContent(TStream& stream);  // may read on from the position
///         ...
///     };
template <typename Reader, typename Parent = TReaderGraphic>
class TFormatReader : public Parent {
public:
    static const TGraphicClass& Class() {
        static const TGraphicClass value = MakeReaderClass<Reader>(Reader::kClassName, Parent::Class());
        return value;
    }
    const TGraphicClass& ClassType() const override { return Class(); }
    static bool ProbeStream(TStream& stream) {
        TKeepPosition keep(stream);
        return Reader::ProbeContent(stream);
    }
};

// --- the registry -------------------------------------------------------------------------

struct TClassEntry {
    const TGraphicClass* ReaderClass = nullptr;
    std::string ClassText;
    uint32_t UseCount = 0;
};

struct TExtensionEntry {
    std::string ExtensionText;
    std::string IndividualText;
    FormatKinds Kinds;
    TClassEntry* OwnerEntry = nullptr;
};

/// Maps file extensions to reader classes and picks the reader class for a file by
/// probing its content, classes in order of their first registration.
class TFormatRegistry {
public:
    TFormatRegistry() = default;
    ~TFormatRegistry();
    TFormatRegistry(const TFormatRegistry&) = delete;
    TFormatRegistry& operator=(const TFormatRegistry&) = delete;

    /// Registers an extension (without dot) for a class. An extension registered before
    /// raises EInvalidGraphic "Attempt to register %s twice." unless replace is true.
    void AddFormat(std::string_view extension, std::string_view commonText, std::string_view individualText,
                   FormatKinds kinds, bool replace, const TGraphicClass& graphicClass);
    /// With an extension: removes it. With an empty extension: removes the class and all
    /// its extensions (a class that is not registered is left alone).
    void RemoveFormat(std::string_view extension, const TGraphicClass& graphicClass);
    /// Position of the extension in ExtensionList ignoring ASCII case; -1 if none or empty.
    int IndexOfExtension(std::string_view extension) const;
    /// Position of exactly that class in ClassList; -1 if none.
    int IndexOfClass(const TGraphicClass& graphicClass) const;
    /// The first registered reader class whose content test accepts the file, or nullptr.
    /// A file that cannot be opened raises EFOpenError.
    const TGraphicClass* ClassForFile(const std::string& fileName) const;
    /// The same for the data at the stream's position; every class sees the same position.
    const TGraphicClass* ClassForStream(TStream& stream) const;
    /// The class registered for an extension (ignoring case), or nullptr.
    const TGraphicClass* ClassForExtension(std::string_view extension) const;
    /// The registered class of that name, or nullptr.
    const TGraphicClass* ClassNamed(std::string_view className) const;
    void RemoveAll();

    const std::vector<std::unique_ptr<TClassEntry>>& ClassList() const { return classList_; }
    const std::vector<std::unique_ptr<TExtensionEntry>>& ExtensionList() const { return extensionList_; }

private:
    TClassEntry& Attach(TExtensionEntry& entry, std::string_view commonText, const TGraphicClass& graphicClass);
    void DisposeClassEntry(TClassEntry* entry);

    std::vector<std::unique_ptr<TClassEntry>> classList_;
    std::vector<std::unique_ptr<TExtensionEntry>> extensionList_;
};

/// The program's one registry (created on first use, filled by the start-up registration).
TFormatRegistry& GlobalFormatRegistry();

/// One row of a registration table (the formats layer holds the program's): an extension
/// and the class that reads it.
struct TRegistrationRow {
    const char* Extension;
    const char* CommonText;  // "" for none
    const char* IndividualText;  // "" for none
    FormatKinds Kinds;
    const TGraphicClass* GraphicClass;
};
/// Registers the rows in their order, so the classes come in the order of their first row.
void RegisterFormats(TFormatRegistry& registry, std::span<const TRegistrationRow> rows);

/// One step of a withdrawal: an extension of the class, or with "" the class and all its
/// extensions (a class that is not registered is left alone).
struct TWithdrawalStep {
    const char* Extension;
    const TGraphicClass* GraphicClass;
};
/// Takes the steps in their order.
void UnregisterFormats(TFormatRegistry& registry, std::span<const TWithdrawalStep> steps);

// --- shared routines ----------------------------------------------------------------------

[[noreturn]] void RaiseImageError(const std::string& text);
template <typename... Args>
[[noreturn]] void RaiseImageErrorFmt(std::string_view format, const Args&... args);
[[noreturn]] void RaiseCompressionError(const std::string& text);

/// Reverse the bytes of each of count 16-bit (SwapWords) or 32-bit (SwapLongs) values.
void SwapWords(void* data, uint32_t count);
void SwapLongs(void* data, uint32_t count);
uint32_t SwapLong(uint32_t value);

/// Undo horizontal differencing of 8-bit samples for 1, 3 and 4 bytes per pixel; count is
/// the number of pixels after the first (width - 1).
void UndoDifferencing1(uint8_t* row, uint32_t count);
void UndoDifferencing3(uint8_t* row, uint32_t count);
void UndoDifferencing4(uint8_t* row, uint32_t count);
/// The same for any number of bytes per pixel.
void UndoDifferencing(uint8_t* row, uint32_t bytesPerPixel, uint32_t count);

/// Doubles in place a plane of height rows of width bytes at row distance stride into
/// 2 x height rows of 2 x width bytes (stride >= 2 x width; width, height >= 2).
void UpsamplePlane(uint32_t width, uint32_t height, uint32_t stride, uint8_t* pixels);

}  // namespace tilvorn

namespace tilvorn {
template <typename... Args>
[[noreturn]] void RaiseImageErrorFmt(std::string_view format, const Args&... args) {
    throw EInvalidGraphic(Format(format, args...));
}
}  // namespace tilvorn
