// The working image: a device-independent bitmap in Windows DIB layout (bottom-up rows padded
// to 32 bits) with a shared, reference-counted, copy-on-write pixel store, a palette cache, a
// drawing surface of our own (TCanvas) and the graphic base every picture derives from.
//
// How the pieces fit:
//  - TDIBStore is one stored picture. TDIB owners share it by reference count; the first write
//    through an owner (ScanLine, Pixels, TopRow, any canvas drawing) gives that owner a private
//    copy ("PrepareForWrite").
//  - TGraphic is the base of every picture: width, height, Draw into a canvas rectangle,
//    LoadFromStream/SaveToStream, progress notification. Image readers derive from TDIB (a
//    reader *is* a bitmap): they override LoadFromStream, call SetSize and fill the rows through
//    ScanLine, and report progress through Progress.
//  - TCanvas draws straight into a store's pixel memory with GDI's rules: LineTo leaves out the
//    end point, stretch copies are nearest-neighbour, colours drawn into indexed images take the
//    nearest colour-table entry. Every drawing call first runs the canvas's OnChanging hook.
//
// Nothing here uses a GUI toolkit; the view control in image/view puts a TDIB on screen.
#pragma once

#include <atomic>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "core/Streams.h"
#include "core/GlobalMemory.h"

namespace tilvorn {

// ---------------------------------------------------------------------------------------------
// Small value types of the drawing world

/// A colour as the platform's graphics use it: 0x00BBGGRR.
using TColor = uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clGray = 0x808080;
constexpr TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) { return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16); }
constexpr uint8_t ColorRed(TColor c) { return uint8_t(c); }
constexpr uint8_t ColorGreen(TColor c) { return uint8_t(c >> 8); }
constexpr uint8_t ColorBlue(TColor c) { return uint8_t(c >> 16); }

struct TPoint {
    int X = 0;
    int Y = 0;
    bool operator==(const TPoint&) const = default;
};

/// Left and top inside, right and bottom outside, as the platform's rectangles.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TRect&) const = default;
};
inline TRect Rect(int left, int top, int right, int bottom) { return {left, top, right, bottom}; }
inline TRect Bounds(int left, int top, int width, int height) { return {left, top, left + width, top + height}; }

/// One colour-table entry in file and memory order: blue, green, red, reserved.
struct RGBQUAD {
    uint8_t rgbBlue = 0;
    uint8_t rgbGreen = 0;
    uint8_t rgbRed = 0;
    uint8_t rgbReserved = 0;
    bool operator==(const RGBQUAD&) const = default;
};
static_assert(sizeof(RGBQUAD) == 4);

/// The colour table of every image: always 256 entries; indexed images use the first 2^bits.
using TColorTable = std::array<RGBQUAD, 256>;
/// Entry i = (i, i, i, 0).
TColorTable GreyColorTable();

/// The layout of a packed 16- or 32-bit pixel, always built from three bit counts with blue
/// in the lowest bits, green above it and red above green.
struct DIBPixelFormat {
    int32_t RedMask = 0xFF0000, GreenMask = 0xFF00, BlueMask = 0xFF;
    int32_t RedBits = 8, GreenBits = 8, BlueBits = 8;
    int32_t RedShift = 16, GreenShift = 8, BlueShift = 0;
    int32_t RedPad = 0, GreenPad = 0, BluePad = 0;

    static DIBPixelFormat FromBits(int red, int green, int blue);
    /// Only the widths of the masks count (their positions are not kept).
    static DIBPixelFormat FromMasks(uint32_t red, uint32_t green, uint32_t blue);
    bool SameMasks(const DIBPixelFormat& other) const {
        return RedMask == other.RedMask && GreenMask == other.GreenMask && BlueMask == other.BlueMask;
    }
    uint32_t Pack(uint8_t r, uint8_t g, uint8_t b) const;
    void Unpack(uint32_t pixel, uint8_t& r, uint8_t& g, uint8_t& b) const;
    bool operator==(const DIBPixelFormat&) const = default;
};
extern const DIBPixelFormat pf888;
extern const DIBPixelFormat pf555;
extern const DIBPixelFormat pf565;

/// Bytes of one row: bits rounded up to whole 32-bit words. In 64 bits: a declared width
/// times 32 bits passes 2^31 bytes.
constexpr int64_t DIBRowBytes(int width, int bitCount) { return ((int64_t(width) * bitCount + 31) >> 5) * 4; }

// ---------------------------------------------------------------------------------------------
// Palettes

/// The platform's logical palette entry: red, green, blue, flags.
struct PALETTEENTRY {
    uint8_t peRed = 0;
    uint8_t peGreen = 0;
    uint8_t peBlue = 0;
    uint8_t peFlags = 0;
    bool operator==(const PALETTEENTRY&) const = default;
};

/// A palette object of the drawing layer; handles are pointers to it.
struct TPaletteObject {
    std::vector<PALETTEENTRY> Entries;
};
using HPALETTE = TPaletteObject*;

/// A new palette with the given entries (version 0x300 logical palette).
HPALETTE CreatePalette(const PALETTEENTRY* entries, int count);
void DeletePalette(HPALETTE palette);
/// Copies up to count entries starting at start; answers how many were copied.
int GetPaletteEntries(HPALETTE palette, int start, int count, PALETTEENTRY* entries);
/// Palette objects created and not yet deleted (for leak checks in tests).
int LivePaletteCount();

struct TPaletteCacheItem {
    int Key = 0;
    HPALETTE Handle = nullptr;
    int RefCount = 0;
    TColorTable ColorTable{};
    int Count = 0;
};

/// Process-wide: equal colour tables share one palette handle, reference counted.
class TPaletteCache {
public:
    static TPaletteCache& Instance();
    /// A handle for the first count entries of table; shared with equal tables.
    HPALETTE AcquirePalette(const TColorTable& table, int count);
    /// Drops one reference and sets handle to nullptr; a handle not in the cache is left alone.
    void ReleasePalette(HPALETTE& handle);
    int ItemCount() const { return int(items_.size()); }
    /// The reference count of handle, 0 when it is not in the cache.
    int RefCountOf(HPALETTE handle) const;

private:
    std::vector<TPaletteCacheItem> items_;
};

// ---------------------------------------------------------------------------------------------
// Packed DIB header layout (little-endian fields)

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
constexpr int kCoreHeaderSize = 12;
constexpr uint16_t kBitmapFileType = 0x4D42;  // "BM"
constexpr uint32_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3;
constexpr uint16_t CF_BITMAP = 2;
constexpr uint16_t CF_DIB = 8;

/// The 40-byte BITMAPINFOHEADER as plain fields.
struct BITMAPINFOHEADER {
    uint32_t biSize = kInfoHeaderSize;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = BI_RGB;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
    /// Reads the fields from 40 little-endian bytes.
    static BITMAPINFOHEADER Decode(const uint8_t* bytes);
    void Encode(uint8_t* bytes) const;
};

// ---------------------------------------------------------------------------------------------
// The shared pixel store

class TCanvas;

/// One stored picture, shared by reference count between TDIB owners.
///
/// Two kinds: a memory image (a plain block, no drawing surface; also every compressed image)
/// and a drawable image (the counterpart of a DIB section: a canvas may draw into it). Both
/// keep their pixels in one block at Pixels, bottom row first.
class TDIBStore {
public:
    TDIBStore();
    virtual ~TDIBStore();
    TDIBStore(const TDIBStore&) = delete;
    TDIBStore& operator=(const TDIBStore&) = delete;

    /// The process-wide empty picture (never freed while the program runs).
    static TDIBStore* EmptyImage();

    // Reference counting: a new store has count 0; each owner adds one. The count is atomic:
    // every new image starts on the shared empty store, and sheets are made on worker threads.
    void Reference() { ++RefCount; }
    /// Drops one reference and destroys the store at zero.
    void Release();
    /// Does nothing here; kept for the shared-image protocol.
    virtual void FreeHandle() {}

    /// Re-initialises, then allocates (see TDIB::SetSize for the checks and their errors:
    /// "PixelFormat in invalid", "Bitcount in invalid (%d)", "Out of memory", "%s cannot be
    /// made"). A compressed store gets no pixel memory: the reader supplies it.
    void Allocate(int width, int height, int bitCount, const DIBPixelFormat& pixelFormat, const TColorTable& colorTable,
                  bool memoryImage, bool compressed);
    /// As Allocate for an uncompressed store of the same kind, keeping the block it has when
    /// the new size fits in it (the bytes are left as they were). False, with nothing
    /// changed, when there is no block or it is too small.
    bool Reshape(int width, int height, int bitCount, const DIBPixelFormat& pixelFormat, const TColorTable& colorTable);
    /// A copy of source (its size, format, table and bytes) of the given kind.
    void CopyFrom(const TDIBStore& source, bool memoryImage);
    /// Like CopyFrom, but compressed sources are decoded into uncompressed pixels.
    void Expand(const TDIBStore& source, bool memoryImage);
    /// Copies all 256 entries, marks the palette dirty and updates the header's entries.
    void SetColorTable(const TColorTable& table);
    /// The palette handle for the colour table, 0 for images above 8 bits.
    HPALETTE GetPalette();
    /// Fills this store from a packed DIB (header, masks, colour table, pixels).
    /// pixelOffset: where a file header says the pixels start (absolute stream position), or
    /// -1; the pixels are read there when it lies beyond the colour table.
    void ReadFromStream(TStream& stream, bool memoryImage, int64_t pixelOffset = -1);
    /// Gives a compressed store its RLE data (takes a copy of size bytes).
    void SetCompressedData(const uint8_t* data, int size);
    /// The drawing surface bound to the pixels: this store for a drawable image, nullptr for
    /// a memory image (the counterpart of MemoryDC).
    TDIBStore* MemoryDC() { return MemoryImage ? nullptr : this; }
    /// The header's compression field (BI_RGB, BI_RLE8, BI_RLE4 or BI_BITFIELDS).
    uint32_t Compression() const;

    std::atomic<int> RefCount{0};
    int BitCount = 0;
    std::vector<uint8_t> Header;  // BITMAPINFO: 40-byte header, masks, PaletteCount entries
    int HeaderSize = 0;
    bool PaletteDirty = true;
    TColorTable ColorTable;
    int ColorTableOffset = kInfoHeaderSize;
    bool Compressed = false;
    int Height = 0;
    bool MemoryImage = true;
    int RowStep = 0;
    HPALETTE Palette = nullptr;
    int PaletteCount = 0;
    uint8_t* Pixels = nullptr;
    DIBPixelFormat PixelFormat;
    int Size = 0;
    uint8_t* TopRow = nullptr;
    int Width = 0;
    int RowBytes = 0;
    /// The fourth byte of 32-bit pixels is alpha: the file's header gave an alpha mask with
    /// bit fields. Other 32-bit pictures leave it unused.
    bool AlphaChannel = false;

private:
    void Reset();
    /// The fields and header of an allocation, without its pixel memory.
    void Describe(int width, int height, int bitCount, const DIBPixelFormat& pixelFormat, const TColorTable& colorTable,
                  bool memoryImage, bool compressed);
    void FreePixels();
    void MovePackedChannels(const uint32_t fileMasks[4]);
    struct TFreeBlock {
        void operator()(uint8_t* block) const;
    };
    /// From AllocatePictureBlock: zero, a large block as fresh pages without a pass over them.
    std::unique_ptr<uint8_t, TFreeBlock> memory_;
    int64_t capacity_ = 0;  // bytes in memory_
};

// ---------------------------------------------------------------------------------------------
// The graphic base

enum class TProgressStage { psStarting, psRunning, psEnding };

class TGraphic;
/// Progress notification: stage, percentage 0-100, redraw-now flag, the rows finished since
/// the last redraw, and the message text.
using TProgressEvent = std::function<void(TGraphic& sender, TProgressStage stage, uint8_t percent, bool redrawNow,
                                          const TRect& rect, const std::string& message)>;
using TNotifyEvent = std::function<void(TGraphic& sender)>;

/// The base of every picture: something with a size that can draw itself into a rectangle of
/// a canvas, and load and save itself through a stream.
class TGraphic {
public:
    virtual ~TGraphic() = default;

    int Width() const { return GetWidth(); }
    int Height() const { return GetHeight(); }
    bool Empty() const { return GetEmpty(); }
    virtual int GetWidth() const = 0;
    virtual int GetHeight() const = 0;
    virtual bool GetEmpty() const = 0;
    virtual void SetWidth(int width) {}
    virtual void SetHeight(int height) {}

    /// Draws the picture scaled into rect of canvas (nearest neighbour).
    virtual void Draw(TCanvas& canvas, const TRect& rect) = 0;

    /// Takes over source's picture. The base refuses: EConvertError "Cannot assign a %s to
    /// a %s".
    virtual void Assign(const TGraphic* source);
    virtual const char* ClassName() const { return "TGraphic"; }

    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) = 0;
    /// Opens the file (EFOpenError when it cannot) and calls LoadFromStream.
    virtual void LoadFromFile(const std::string& fileName);
    /// Creates the file (EFCreateError when it cannot) and calls SaveToStream.
    virtual void SaveToFile(const std::string& fileName);

    virtual HPALETTE GetPalette() { return nullptr; }
    virtual void SetPalette(HPALETTE palette) {}

    /// Sends the progress notification to OnProgress, when set.
    virtual void Progress(TProgressStage stage, uint8_t percent, bool redrawNow, const TRect& rect,
                          const std::string& message);

    TProgressEvent OnProgress;
    TNotifyEvent OnChange;
    bool PaletteModified = false;
};

// ---------------------------------------------------------------------------------------------
// The drawing surface

enum class TPenStyle { psSolid, psDot, psClear };
enum class TBrushStyle { bsSolid, bsClear };

struct TPen {
    TColor Color = clBlack;
    TPenStyle Style = TPenStyle::psSolid;
};

struct TBrush {
    TColor Color = clWhite;
    TBrushStyle Style = TBrushStyle::bsSolid;
};

/// Raster operations of rectangle copies; only plain copying is drawn differently.
enum class TCopyMode { cmSrcCopy, cmSrcInvert, cmSrcAnd, cmSrcPaint };

/// A drawing surface over a picture's pixel memory, with GDI's rules:
///  - FillRect fills left/top inclusive, right/bottom exclusive, clipped to the picture;
///  - LineTo draws from the pen position to the point, leaving out the end point;
///  - a dotted pen draws 3 pixels on, 3 off along the line; with a solid brush the gaps take
///    the brush colour (the platform's opaque background mode), with a clear brush they stay;
///  - CopyRect, Draw and StretchDraw scale nearest-neighbour (COLORONCOLOR);
///  - colours drawn into 1-, 4- and 8-bit pictures take the nearest colour-table entry.
/// Every drawing call (and every Surface request) first runs OnChanging; drawing without a
/// surface (an empty picture) fails with EInvalidOperation "Canvas does not allow drawing".
class TCanvas {
public:
    TCanvas() = default;
    virtual ~TCanvas() = default;
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TPen Pen;
    TBrush Brush;
    TCopyMode CopyMode = TCopyMode::cmSrcCopy;
    TPoint PenPos;
    /// The before-change hook, run before each drawing operation.
    std::function<void()> OnChanging;

    void FillRect(const TRect& rect);
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    /// Copies sourceRect of source into dest, stretched nearest-neighbour.
    void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect);
    /// graphic at its own size with its top-left corner at (x, y).
    void Draw(int x, int y, TGraphic& graphic);
    void StretchDraw(const TRect& rect, TGraphic& graphic);
    TColor GetPixel(int x, int y);
    void SetPixel(int x, int y, TColor color);

    /// Draws a packed DIB (BITMAPINFO at info, pixel data at bits, RLE data included) from
    /// sourceRect into dest; the memory-image path of TDIB::Draw and of scanner blocks.
    void StretchDIBits(const TRect& dest, const TRect& sourceRect, const uint8_t* info, int infoSize,
                       const uint8_t* bits, int bitsSize);
    /// Copies sourceRect of a drawable picture into dest; the drawable path of TDIB::Draw.
    void StretchBlt(const TRect& dest, TDIBStore& source, const TRect& sourceRect);

    // Locking only counts here: there is one thread, and nothing else draws concurrently.
    void Lock() { ++lockCount_; }
    void Unlock() {
        if (lockCount_ > 0) --lockCount_;
    }
    bool Locked() const { return lockCount_ > 0; }

    /// The picture drawn into (the counterpart of the device context); nullptr when detached.
    TDIBStore* Handle() const { return surface_; }
    void SetHandle(TDIBStore* surface) { surface_ = surface; }
    /// Runs OnChanging, then answers the surface or fails with "Canvas does not allow drawing".
    TDIBStore& Surface();

private:
    void PlotPenPixel(TDIBStore& s, int x, int y, bool on);
    TDIBStore* surface_ = nullptr;
    int lockCount_ = 0;
};

/// Writes one colour into pixel (x, y) of a store, choosing the nearest table entry for
/// indexed pictures. No bounds check; callers clip.
void PutStorePixel(TDIBStore& store, int x, int y, TColor color);
/// The colour of pixel (x, y) (row 0 = top) of an uncompressed store.
TColor GetStorePixel(const TDIBStore& store, int x, int y);
/// The nearest of the first count entries of table (sum of squared differences, first wins).
int NearestColorIndex(const TColorTable& table, int count, TColor color);
/// The source pixel a nearest-neighbour stretch of sourceLength pixels from sourceStart into
/// targetLength pixels takes for target pixel i: the one under the target pixel's centre.
int StretchSampleIndex(int i, int sourceStart, int sourceLength, int targetLength);

// ---------------------------------------------------------------------------------------------
// The working image

/// The working image. Copying an owner is not allowed; share a picture with Assign.
class TDIB : public TGraphic {
public:
    TDIB();
    ~TDIB() override;
    TDIB(const TDIB&) = delete;
    TDIB& operator=(const TDIB&) = delete;
    const char* ClassName() const override { return "TDIB"; }

    /// The table used by the next SetSize or ApplyColorTable; reset from the picture whenever
    /// the picture changes.
    TColorTable ColorTable;
    /// The format used by the next SetSize; reset from the picture whenever it changes.
    DIBPixelFormat PixelFormat;

    int GetWidth() const override { return image_->Width; }
    int GetHeight() const override { return image_->Height; }
    bool GetEmpty() const override { return image_->Size == 0; }
    int BitCount() const { return image_->BitCount; }
    int Size() const { return image_->Size; }
    int RowBytes() const { return image_->RowBytes; }
    int RowStep() const { return image_->RowStep; }
    /// The pixel format of the current picture (not the public one for the next SetSize).
    const DIBPixelFormat& CurrentPixelFormat() const { return image_->PixelFormat; }
    bool IsMemoryImage() const { return image_->MemoryImage; }
    bool IsCompressed() const { return image_->Compressed; }
    /// 32-bit pixels whose fourth byte is alpha (a bitmap file with an alpha mask).
    bool HasAlphaChannel() const { return image_->AlphaChannel; }
    /// The shared store (for painting through the drawing layer and for tests).
    TDIBStore* Image() const { return image_; }

    /// New picture of the given size and bit count with the public PixelFormat and
    /// ColorTable; nothing happens when nothing would change. A new picture's pixels are 0.
    void SetSize(int width, int height, int bitCount);
    /// As SetSize, but a picture of its own (not shared, not compressed) takes the new size in
    /// the block it has when that holds it, and its pixels are then left as they were: for
    /// pictures written over whole right after, as the sheets of a run are, which then need no
    /// fresh memory from sheet to sheet.
    void SetSizeInItsBlock(int width, int height, int bitCount);
    void Clear();
    void SetWidth(int width) override;
    void SetHeight(int height) override;

    /// The drawing surface; makes the picture private and drawable.
    TCanvas& Canvas();
    void Draw(TCanvas& canvas, const TRect& rect) override;
    /// nullptr → Clear; a TDIB → share its picture; a TBitmap → its bit depth; any other
    /// graphic → 24 bits, drawn at (0, 0).
    void Assign(const TGraphic* source) override;
    void Assign(const TGraphic& source) { Assign(&source); }

    /// Row y (0 = top) for reading and writing; EInvalidGraphicOperation outside the image.
    uint8_t* ScanLine(int y);
    uint8_t* Pixels();
    uint8_t* TopRow();

    HPALETTE GetPalette() override;
    /// Takes up to 256 entries of palette into ColorTable, deletes the palette, applies it.
    void SetPalette(HPALETTE palette) override;
    /// Makes the public ColorTable the picture's own.
    void ApplyColorTable();

    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    /// A packed DIB (no file header) into a new picture that replaces the current one.
    virtual void ReadData(TStream& stream);
    virtual void WriteData(TStream& stream);
    /// Reads the CF_DIB block; format and palette are not looked at. The block stays the
    /// caller's.
    virtual void LoadFromClipboardFormat(uint16_t format, platform::HGLOBAL data, HPALETTE palette);
    /// A new movable block holding the packed DIB; the caller owns it.
    virtual void SaveToClipboardFormat(uint16_t& format, platform::HGLOBAL& data, HPALETTE& palette);

    /// Box blur with the given radius, written in bitCount; grey for 8 bits and fewer.
    void Blur(int bitCount, int radius);
    /// This picture as Blur(24, radius) and a StretchDraw into width × height would make it,
    /// written into result (24 bits) without touching this picture: only the windows of the
    /// pixels the stretch samples are summed, so a large picture shrinks without a blurred
    /// copy of itself. Sizes below 1 give an empty result.
    void BlurSampled(int radius, int width, int height, TDIB& result);

protected:
    void SetImage(TDIBStore* image);
    /// Makes the picture private, uncompressed and (unless keepMemoryImage) drawable.
    void PrepareForWrite(bool keepMemoryImage);

    /// Progress over rows, reported through Progress under name.
    void ProgressStart(const std::string& name);
    void ProgressRow(int y);
    void ProgressEnd();

private:
    void AssignBitmap(const class TBitmap& bitmap);
    /// The picture already has this size, bit count and pixel format.
    bool HasShape(int width, int height, int bitCount) const;
    TDIBStore* image_ = nullptr;
    std::unique_ptr<TCanvas> canvas_;
    int64_t pixelOffset_ = -1;  // from the file header, for the ReadData that follows
    // progress state
    std::string progressName_;
    int progressRedrawRow_ = 0;
    uint32_t progressRedrawTime_ = 0;
    int progressPercent_ = 0;
    int progressRow_ = 0;
};

/// A platform bitmap graphic (the clipboard's CF_BITMAP, a picture from the toolkit): its own
/// pixels (24-bit colours, top row first) plus what the platform would say about it: bits per
/// pixel, whether it is a DIB section, its masks and its palette. Assigned to a TDIB it keeps
/// its bit depth.
class TBitmap : public TGraphic {
public:
    const char* ClassName() const override { return "TBitmap"; }
    int GetWidth() const override { return width_; }
    int GetHeight() const override { return height_; }
    bool GetEmpty() const override { return width_ == 0 || height_ == 0; }
    void SetSize(int width, int height);
    TColor GetPixel(int x, int y) const { return colors_[size_t(y) * width_ + x]; }
    void SetPixel(int x, int y, TColor c) { colors_[size_t(y) * width_ + x] = c; }
    void Draw(TCanvas& canvas, const TRect& rect) override;
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;

    int BitsPerPixel = 24;
    /// A DIB section rather than a device-dependent bitmap.
    bool DIBSection = false;
    /// Colour masks of a DIB section of 9 to 23 bits.
    uint32_t Masks[3] = {0, 0, 0};
    std::vector<PALETTEENTRY> PaletteEntries;

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<TColor> colors_;
};

/// What the working image tells the platform's list of picture formats about itself (the list
/// that file dialogs and the clipboard consult).
struct TDIBRegistration {
    const char* Extension = "dib";
    const char* Description = "Device Independent Bitmap";
    uint16_t ClipboardFormat = CF_DIB;
};

/// Decodes RLE8 (compression 1) or RLE4 (2) data into the rows of target, which has the
/// source's geometry. Clips: pixels that would fall outside the image are dropped, a delta or
/// line end past the top row ends decoding, and data ending early (no end-of-bitmap code, a
/// cut run) ends it too; nothing is read past size bytes. Pixels the data never sets are 0.
void DecodeRLE(const uint8_t* data, int size, uint32_t compression, TDIBStore& target);

}  // namespace tilvorn
