// Pixel formats, palettes, the shared store and the working image's own operations. The
// canvas lives in Canvas.cpp, the bitmap streams and RLE in DIBStreams.cpp, the blur in Blur.cpp.
#include "image/DIB.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "core/ByteOrder.h"
#include "core/Format.h"
#include "core/PictureMemory.h"

namespace tilvorn {

namespace {

// Shifts left for positive counts and right for negative ones; formats built from narrow masks
// give negative shifts.
uint32_t ShiftLeft(uint32_t value, int count) {
    if (count >= 32 || count <= -32) return 0;
    return count >= 0 ? value << count : value >> -count;
}

// A large picture is written from end to end as soon as it is made (decoded, composed,
// blurred): asking for large pages where the system gives them on request spares a page
// fault for every 4 KiB of it. Only whole 2 MiB steps inside the block are named.
void AdviseLargePages(uint8_t* block, size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kLargePage = uintptr_t(2) << 20;
    if (size < 4 * kLargePage) return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kLargePage - 1) & ~(kLargePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kLargePage - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)block, (void)size;
#endif
}

int MaskWidth(uint32_t mask) {
    int bit = 0;
    while (bit < 31 && !(mask & (1u << bit))) ++bit;
    int width = 0;
    while (bit + width < 32 && (mask & (1u << (bit + width)))) ++width;
    return width;
}

}  // namespace

// ---- pixel formats ----

TColorTable GreyColorTable() {
    TColorTable table;
    for (int i = 0; i < 256; ++i) table[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return table;
}

DIBPixelFormat DIBPixelFormat::FromBits(int r, int g, int b) {
    DIBPixelFormat f;
    f.RedMask = int32_t(ShiftLeft(ShiftLeft(1, r) - 1, g + b));
    f.GreenMask = int32_t(ShiftLeft(ShiftLeft(1, g) - 1, b));
    f.BlueMask = int32_t(ShiftLeft(1, b) - 1);
    f.RedBits = r;
    f.GreenBits = g;
    f.BlueBits = b;
    f.RedShift = r + g + b - 8;
    f.GreenShift = g + b - 8;
    f.BlueShift = 8 - b;
    f.RedPad = 8 - r;
    f.GreenPad = 8 - g;
    f.BluePad = 8 - b;
    return f;
}

DIBPixelFormat DIBPixelFormat::FromMasks(uint32_t red, uint32_t green, uint32_t blue) {
    return FromBits(MaskWidth(red), MaskWidth(green), MaskWidth(blue));
}

uint32_t DIBPixelFormat::Pack(uint8_t r, uint8_t g, uint8_t b) const {
    return (ShiftLeft(r, RedShift) & uint32_t(RedMask)) | (ShiftLeft(g, GreenShift) & uint32_t(GreenMask)) |
        (ShiftLeft(b, -BlueShift) & uint32_t(BlueMask));
}

void DIBPixelFormat::Unpack(uint32_t pixel, uint8_t& r, uint8_t& g, uint8_t& b) const {
    // The channel's bits land at the top of the byte; copying them again below themselves
    // (shifted by the channel's width) widens 5- and 6-bit values to the full 0-255 range
    // without touching the stored bits.
    auto widen = [](uint32_t v, int bits) {
        v &= 0xFF;
        for (int shift = bits; shift > 0 && shift < 8; shift += bits) v |= v >> shift;
        return uint8_t(v);
    };
    r = widen(ShiftLeft(pixel & uint32_t(RedMask), -RedShift), RedBits);
    g = widen(ShiftLeft(pixel & uint32_t(GreenMask), -GreenShift), GreenBits);
    b = widen(ShiftLeft(pixel & uint32_t(BlueMask), BlueShift), BlueBits);
}

const DIBPixelFormat pf888 = DIBPixelFormat::FromBits(8, 8, 8);
const DIBPixelFormat pf555 = DIBPixelFormat::FromBits(5, 5, 5);
const DIBPixelFormat pf565 = DIBPixelFormat::FromBits(5, 6, 5);

BITMAPINFOHEADER BITMAPINFOHEADER::Decode(const uint8_t* p) {
    BITMAPINFOHEADER h;
    h.biSize = LE32(p);
    h.biWidth = int32_t(LE32(p + 4));
    h.biHeight = int32_t(LE32(p + 8));
    h.biPlanes = LE16(p + 12);
    h.biBitCount = LE16(p + 14);
    h.biCompression = LE32(p + 16);
    h.biSizeImage = LE32(p + 20);
    h.biXPelsPerMeter = int32_t(LE32(p + 24));
    h.biYPelsPerMeter = int32_t(LE32(p + 28));
    h.biClrUsed = LE32(p + 32);
    h.biClrImportant = LE32(p + 36);
    return h;
}

void BITMAPINFOHEADER::Encode(uint8_t* p) const {
    PutLE32(p, biSize);
    PutLE32(p + 4, uint32_t(biWidth));
    PutLE32(p + 8, uint32_t(biHeight));
    PutLE16(p + 12, biPlanes);
    PutLE16(p + 14, biBitCount);
    PutLE32(p + 16, biCompression);
    PutLE32(p + 20, biSizeImage);
    PutLE32(p + 24, uint32_t(biXPelsPerMeter));
    PutLE32(p + 28, uint32_t(biYPelsPerMeter));
    PutLE32(p + 32, biClrUsed);
    PutLE32(p + 36, biClrImportant);
}

// ---- palettes ----

namespace {
int livePalettes = 0;
}

HPALETTE CreatePalette(const PALETTEENTRY* entries, int count) {
    auto* palette = new TPaletteObject;
    palette->Entries.assign(entries, entries + std::max(count, 0));
    ++livePalettes;
    return palette;
}

void DeletePalette(HPALETTE palette) {
    if (!palette) return;
    --livePalettes;
    delete palette;
}

int GetPaletteEntries(HPALETTE palette, int start, int count, PALETTEENTRY* entries) {
    if (!palette || start < 0) return 0;
    int available = int(palette->Entries.size()) - start;
    int n = std::clamp(count, 0, std::max(available, 0));
    std::copy_n(palette->Entries.begin() + start, n, entries);
    return n;
}

int LivePaletteCount() { return livePalettes; }

TPaletteCache& TPaletteCache::Instance() {
    static TPaletteCache cache;
    return cache;
}

HPALETTE TPaletteCache::AcquirePalette(const TColorTable& table, int count) {
    count = std::clamp(count, 0, 256);
    int key = count;
    for (int i = 0; i < count; ++i) key += table[i].rgbRed + table[i].rgbGreen + table[i].rgbBlue;
    for (auto& item : items_) {
        if (item.Key == key && item.Count == count &&
            std::equal(table.begin(), table.begin() + count, item.ColorTable.begin())) {
            ++item.RefCount;
            return item.Handle;
        }
    }
    std::vector<PALETTEENTRY> entries(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) entries[i] = {table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
    TPaletteCacheItem item;
    item.Key = key;
    item.Count = count;
    item.ColorTable = table;
    item.RefCount = 1;
    item.Handle = CreatePalette(entries.data(), count);
    items_.push_back(item);
    return item.Handle;
}

void TPaletteCache::ReleasePalette(HPALETTE& handle) {
    if (!handle) return;
    auto it = std::find_if(items_.begin(), items_.end(),
                           [&](const TPaletteCacheItem& item) { return item.Handle == handle; });
    if (it == items_.end()) return;
    handle = nullptr;
    if (--it->RefCount == 0) {
        DeletePalette(it->Handle);
        items_.erase(it);
    }
}

int TPaletteCache::RefCountOf(HPALETTE handle) const {
    for (auto& item : items_)
        if (item.Handle == handle) return item.RefCount;
    return 0;
}

// ---- the shared store ----

TDIBStore::TDIBStore() { Reset(); }

void TDIBStore::TFreeBlock::operator()(uint8_t* block) const { FreePictureBlock(block); }

TDIBStore::~TDIBStore() {
    FreePixels();
    if (Palette) TPaletteCache::Instance().ReleasePalette(Palette);
}

void TDIBStore::FreePixels() {
    memory_.reset();
    capacity_ = 0;
    Pixels = nullptr;
    TopRow = nullptr;
}

void TDIBStore::Reset() {
    FreePixels();
    if (Palette) TPaletteCache::Instance().ReleasePalette(Palette);
    BitCount = 0;
    Header.clear();
    HeaderSize = 0;
    PaletteDirty = true;
    ColorTable = GreyColorTable();
    ColorTableOffset = kInfoHeaderSize;
    Compressed = false;
    Height = 0;
    MemoryImage = true;
    RowStep = 0;
    PaletteCount = 0;
    PixelFormat = pf888;
    Size = 0;
    Width = 0;
    RowBytes = 0;
    AlphaChannel = false;
}

TDIBStore* TDIBStore::EmptyImage() {
    // The holder's own reference keeps the empty picture alive until shutdown.
    struct Holder {
        TDIBStore* store;
        Holder() : store(new TDIBStore) { store->Reference(); }
        ~Holder() { store->Release(); }
    };
    static Holder holder;
    return holder.store;
}

void TDIBStore::Release() {
    if (--RefCount <= 0) delete this;
}

uint32_t TDIBStore::Compression() const {
    return Header.size() >= size_t(kInfoHeaderSize) ? LE32(Header.data() + 16) : BI_RGB;
}

namespace {

void CheckPixelFormat(int bitCount, const DIBPixelFormat& f) {
    switch (bitCount) {
        case 1:
        case 4:
        case 8:
        case 24:
        case 32:
            if (!f.SameMasks(pf888)) throw EInvalidGraphicOperation("PixelFormat in invalid");
            break;
        case 16:
            if (!f.SameMasks(pf555) && !f.SameMasks(pf565)) throw EInvalidGraphicOperation("PixelFormat in invalid");
            break;
        default:
            throw EInvalidGraphicOperation(Format("Bitcount in invalid (%d)", bitCount));
    }
}

}  // namespace

void TDIBStore::Allocate(int width, int height, int bitCount, const DIBPixelFormat& pixelFormat,
                         const TColorTable& colorTable, bool memoryImage, bool compressed) {
    Reset();
    Describe(width, height, bitCount, pixelFormat, colorTable, memoryImage, compressed);
    if (!Compressed) {
        memory_.reset(AllocatePictureBlock(size_t(Size)));
        if (!memory_) {
            Reset();
            if (memoryImage) throw EOutOfMemory("Out of memory");
            throw EOutOfResources(Format("%s cannot be made", "DIB"));
        }
        capacity_ = int64_t(PictureBlockCapacity(size_t(Size)));
        Pixels = memory_.get();
        TopRow = Pixels + int64_t(Height - 1) * RowBytes;
        AdviseLargePages(Pixels, size_t(Size));
    }
}

bool TDIBStore::Reshape(int width, int height, int bitCount, const DIBPixelFormat& pixelFormat,
                        const TColorTable& colorTable) {
    if (!memory_ || Compressed || width <= 0 || height <= 0) return false;
    const int64_t size = DIBRowBytes(width, bitCount) * int64_t(height);
    if (size > capacity_) return false;
    // What Describe could refuse is refused while the store is still whole.
    CheckPixelFormat(bitCount, pixelFormat);
    CheckPictureMemory(uint64_t(width), uint64_t(height), bitCount);
    auto block = std::move(memory_);
    const int64_t capacity = capacity_;
    const bool memoryImage = MemoryImage;
    Reset();
    Describe(width, height, bitCount, pixelFormat, colorTable, memoryImage, false);
    memory_ = std::move(block);
    capacity_ = capacity;
    Pixels = memory_.get();
    TopRow = Pixels + int64_t(Height - 1) * RowBytes;
    return true;
}

void TDIBStore::Describe(int width, int height, int bitCount, const DIBPixelFormat& pixelFormat,
                         const TColorTable& colorTable, bool memoryImage, bool compressed) {
    CheckPixelFormat(bitCount, pixelFormat);
    // Sizes beyond what one 32-bit size field can hold are refused as memory shortage rather
    // than wrapped into a small block.
    int64_t rowBytes = DIBRowBytes(width, bitCount);
    int64_t size = rowBytes * int64_t(height);
    if (width > 0 && height > 0) CheckPictureMemory(uint64_t(width), uint64_t(height), bitCount);
    if (width <= 0 || height <= 0 || size > INT_MAX) throw EOutOfMemory("Out of memory");

    BitCount = bitCount;
    Height = height;
    Width = width;
    RowBytes = int(rowBytes);
    RowStep = -RowBytes;
    Size = int(size);
    PixelFormat = pixelFormat;
    PaletteCount = bitCount <= 8 ? 1 << bitCount : 0;
    bool masks = bitCount == 16 || bitCount == 32;
    HeaderSize = kInfoHeaderSize + (masks ? 12 : 0) + 4 * PaletteCount;

    Header.assign(size_t(HeaderSize), 0);
    BITMAPINFOHEADER info;
    info.biWidth = width;
    info.biHeight = height;
    info.biBitCount = uint16_t(bitCount);
    if (masks)
        info.biCompression = BI_BITFIELDS;
    else if (compressed && bitCount == 4)
        info.biCompression = BI_RLE4;
    else if (compressed && bitCount == 8)
        info.biCompression = BI_RLE8;
    info.biSizeImage = uint32_t(Size);
    info.Encode(Header.data());
    if (masks) {
        PutLE32(Header.data() + 40, uint32_t(pixelFormat.RedMask));
        PutLE32(Header.data() + 44, uint32_t(pixelFormat.GreenMask));
        PutLE32(Header.data() + 48, uint32_t(pixelFormat.BlueMask));
    }
    ColorTableOffset = masks ? 52 : kInfoHeaderSize;
    ColorTable = colorTable;
    std::memcpy(Header.data() + ColorTableOffset, ColorTable.data(), size_t(4 * PaletteCount));

    Compressed = info.biCompression == BI_RLE8 || info.biCompression == BI_RLE4;
    MemoryImage = memoryImage || Compressed;
}

void TDIBStore::SetCompressedData(const uint8_t* data, int size) {
    memory_.reset(AllocatePictureBlock(size_t(std::max(size, 1))));
    if (!memory_) throw EOutOfMemory("Out of memory");
    capacity_ = std::max(size, 1);
    if (size > 0) std::memcpy(memory_.get(), data, size_t(size));
    Pixels = memory_.get();
    Size = size;
    TopRow = nullptr;  // compressed data has no rows
    if (Header.size() >= size_t(kInfoHeaderSize)) PutLE32(Header.data() + 20, uint32_t(size));
}

void TDIBStore::CopyFrom(const TDIBStore& source, bool memoryImage) {
    if (source.Size == 0) {
        Reset();
        MemoryImage = memoryImage;
        return;
    }
    Allocate(source.Width, source.Height, source.BitCount, source.PixelFormat, source.ColorTable, memoryImage,
             source.Compressed);
    AlphaChannel = source.AlphaChannel;
    if (Compressed)
        SetCompressedData(source.Pixels, source.Size);
    else
        std::memcpy(Pixels, source.Pixels, size_t(Size));
}

void TDIBStore::Expand(const TDIBStore& source, bool memoryImage) {
    if (!source.Compressed) {
        CopyFrom(source, memoryImage);
        return;
    }
    Allocate(source.Width, source.Height, source.BitCount, source.PixelFormat, source.ColorTable, memoryImage, false);
    std::memset(Pixels, 0, size_t(Size));  // pixels the data never sets are 0
    DecodeRLE(source.Pixels, source.Size, source.Compression(), *this);
}

void TDIBStore::SetColorTable(const TColorTable& table) {
    ColorTable = table;
    PaletteDirty = true;
    if (Size > 0 && PaletteCount > 0 && Header.size() >= size_t(ColorTableOffset + 4 * PaletteCount))
        std::memcpy(Header.data() + ColorTableOffset, ColorTable.data(), size_t(4 * PaletteCount));
}

HPALETTE TDIBStore::GetPalette() {
    if (PaletteCount <= 0) return nullptr;
    if (PaletteDirty) {
        PaletteDirty = false;
        TPaletteCache::Instance().ReleasePalette(Palette);
        Palette = TPaletteCache::Instance().AcquirePalette(ColorTable, PaletteCount);
    }
    return Palette;
}

// ---- the graphic base ----

void TGraphic::Assign(const TGraphic* source) {
    throw EConvertError(Format("Cannot assign a %s to a %s", source ? source->ClassName() : "nil", ClassName()));
}

void TGraphic::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, FileMode::OpenRead);
    LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName) {
    TFileStream stream(fileName, FileMode::Create);
    SaveToStream(stream);
    stream.Flush();
}

void TGraphic::Progress(TProgressStage stage, uint8_t percent, bool redrawNow, const TRect& rect,
                        const std::string& message) {
    if (OnProgress) OnProgress(*this, stage, percent, redrawNow, rect, message);
}

// ---- the working image ----

TDIB::TDIB() { SetImage(TDIBStore::EmptyImage()); }

TDIB::~TDIB() {
    Clear();
    canvas_.reset();
    image_->Release();
}

void TDIB::SetImage(TDIBStore* image) {
    if (image == image_) return;
    if (canvas_) canvas_->SetHandle(nullptr);
    image->Reference();
    if (image_) image_->Release();
    image_ = image;
    if (canvas_) canvas_->SetHandle(image_->MemoryDC());
    ColorTable = image_->ColorTable;
    PixelFormat = image_->PixelFormat;
}

void TDIB::Clear() { SetImage(TDIBStore::EmptyImage()); }

bool TDIB::HasShape(int width, int height, int bitCount) const {
    return width == image_->Width && height == image_->Height && bitCount == image_->BitCount &&
        PixelFormat.SameMasks(image_->PixelFormat);
}

void TDIB::SetSize(int width, int height, int bitCount) {
    if (HasShape(width, height, bitCount)) return;
    if (width <= 0 || height <= 0) {
        Clear();
        return;
    }
    auto* image = new TDIBStore;
    try {
        image->Allocate(width, height, bitCount, PixelFormat, ColorTable, image_->MemoryImage, false);
    } catch (...) {
        delete image;
        throw;
    }
    SetImage(image);
    PaletteModified = true;
}

void TDIB::SetSizeInItsBlock(int width, int height, int bitCount) {
    if (HasShape(width, height, bitCount)) return;
    if (image_->RefCount != 1) {
        SetSize(width, height, bitCount);
        return;
    }
    if (canvas_) canvas_->SetHandle(nullptr);
    const bool kept = image_->Reshape(width, height, bitCount, PixelFormat, ColorTable);
    if (canvas_) canvas_->SetHandle(image_->MemoryDC());
    if (!kept) {
        SetSize(width, height, bitCount);
        return;
    }
    ColorTable = image_->ColorTable;
    PixelFormat = image_->PixelFormat;
    PaletteModified = true;
}

void TDIB::SetWidth(int width) {
    if (width <= 0)
        Clear();
    else if (Empty())
        SetSize(width, std::max(Height(), 1), 8);
    else
        SetSize(width, Height(), BitCount());
}

void TDIB::SetHeight(int height) {
    if (height <= 0)
        Clear();
    else if (Empty())
        SetSize(std::max(Width(), 1), height, 8);
    else
        SetSize(Width(), height, BitCount());
}

void TDIB::PrepareForWrite(bool keepMemoryImage) {
    if (image_->RefCount <= 1 && !image_->Compressed && (keepMemoryImage || !image_->MemoryImage)) return;
    auto* image = new TDIBStore;
    try {
        image->Expand(*image_, keepMemoryImage && image_->MemoryImage);
    } catch (...) {
        delete image;
        throw;
    }
    SetImage(image);
}

TCanvas& TDIB::Canvas() {
    if (canvas_) {
        canvas_->Surface();  // runs the hook; fails on an empty picture
        return *canvas_;
    }
    if (image_->MemoryImage) {
        auto* image = new TDIBStore;
        try {
            image->Expand(*image_, false);
        } catch (...) {
            delete image;
            throw;
        }
        SetImage(image);
    }
    canvas_ = std::make_unique<TCanvas>();
    canvas_->SetHandle(image_->MemoryDC());
    canvas_->OnChanging = [this] { PrepareForWrite(false); };
    return *canvas_;
}

void TDIB::Draw(TCanvas& canvas, const TRect& rect) {
    if (image_->Size < 1) return;
    // Hold the picture while drawing: the target canvas's hook may be this image's own.
    TDIBStore* image = image_;
    image->Reference();
    try {
        TRect source{0, 0, image->Width, image->Height};
        if (image->MemoryImage)
            canvas.StretchDIBits(rect, source, image->Header.data(), image->HeaderSize, image->Pixels, image->Size);
        else
            canvas.StretchBlt(rect, *image, source);
    } catch (...) {
        image->Release();
        throw;
    }
    image->Release();
}

void TDIB::Assign(const TGraphic* source) {
    if (!source) {
        Clear();
        return;
    }
    if (auto* dib = dynamic_cast<const TDIB*>(source)) {
        if (dib != this) SetImage(dib->image_);
        return;
    }
    if (auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
        AssignBitmap(*bitmap);
        return;
    }
    // Another graphic: a 24-bit picture of its size with the graphic drawn at (0, 0).
    PixelFormat = pf888;
    SetSize(source->Width(), source->Height(), 24);
    if (Empty()) return;
    std::memset(Pixels(), 0, size_t(Size()));
    Canvas().Draw(0, 0, const_cast<TGraphic&>(*source));
}

void TDIB::AssignBitmap(const TBitmap& bitmap) {
    int count = std::min<int>(int(bitmap.PaletteEntries.size()), 256);
    for (int i = 0; i < count; ++i) {
        const auto& e = bitmap.PaletteEntries[i];
        ColorTable[i] = {e.peBlue, e.peGreen, e.peRed, 0};
    }
    if (count > 0) ApplyColorTable();
    int bits = bitmap.BitsPerPixel;
    if (!bitmap.DIBSection)
        PixelFormat = bits == 16 ? pf555 : pf888;
    else if (bits >= 9 && bits <= 23)
        PixelFormat = DIBPixelFormat::FromMasks(bitmap.Masks[0], bitmap.Masks[1], bitmap.Masks[2]);
    else
        PixelFormat = pf888;
    SetSize(bitmap.Width(), bitmap.Height(), bits);
    if (Empty()) return;
    std::memset(Pixels(), 0, size_t(Size()));
    Canvas().Draw(0, 0, const_cast<TBitmap&>(bitmap));
}

uint8_t* TDIB::ScanLine(int y) {
    PrepareForWrite(true);
    if (y < 0 || y >= image_->Height)
        throw EInvalidGraphicOperation(Format("Index of the scanning line exceeded the range. (%d)", y));
    return image_->TopRow + int64_t(y) * image_->RowStep;
}

uint8_t* TDIB::Pixels() {
    PrepareForWrite(true);
    return image_->Pixels;
}

uint8_t* TDIB::TopRow() {
    PrepareForWrite(true);
    return image_->TopRow;
}

HPALETTE TDIB::GetPalette() { return image_->GetPalette(); }

void TDIB::SetPalette(HPALETTE palette) {
    PALETTEENTRY entries[256];
    int n = GetPaletteEntries(palette, 0, 256, entries);
    for (int i = 0; i < n; ++i) ColorTable[i] = {entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0};
    DeletePalette(palette);
    ApplyColorTable();
}

void TDIB::ApplyColorTable() {
    if (std::memcmp(ColorTable.data(), image_->ColorTable.data(), sizeof(TColorTable)) == 0) return;
    TColorTable wanted = ColorTable;
    PrepareForWrite(true);
    ColorTable = wanted;
    image_->SetColorTable(ColorTable);
    PaletteModified = true;
}

// ---- progress ----

namespace {
uint32_t TickCount() {
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
}  // namespace

void TDIB::ProgressStart(const std::string& name) {
    progressName_ = name;
    progressPercent_ = 0;
    progressRedrawTime_ = TickCount();
    progressRow_ = 0;
    progressRedrawRow_ = 0;
    Progress(TProgressStage::psStarting, 0, false, {0, 0, Width(), Height()}, name);
}

void TDIB::ProgressRow(int y) {
    uint32_t now = TickCount();
    bool redraw = uint32_t(now - progressRedrawTime_) > 200u && uint32_t(progressRow_ - progressRedrawRow_) > 32u &&
        (progressRow_ < Height() / 3 || progressRedrawRow_ != 0);
    int percent = int(int64_t(y) * 100 / Height());
    if (percent != progressPercent_ || redraw) {
        Progress(TProgressStage::psRunning, uint8_t(percent), redraw, {0, progressRedrawRow_, Width(), progressRow_},
                 progressName_);
        if (redraw) {
            progressRedrawRow_ = progressRow_;
            progressRedrawTime_ = now;
        }
    }
    progressPercent_ = percent;
    ++progressRow_;
}

void TDIB::ProgressEnd() {
    Progress(TProgressStage::psEnding, 100, true, {0, progressRedrawRow_, Width(), Height()}, progressName_);
}

// ---- the platform bitmap ----

void TBitmap::SetSize(int width, int height) {
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    colors_.assign(size_t(width_) * size_t(height_), clBlack);
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) {
    if (Empty() || rect.Width() == 0 || rect.Height() == 0) return;
    TDIBStore& target = canvas.Surface();
    int w = std::abs(rect.Width()), h = std::abs(rect.Height());
    for (int j = 0; j < h; ++j) {
        int y = std::min(rect.Top, rect.Bottom) + j;
        if (y < 0 || y >= target.Height) continue;
        int sy = int((2 * int64_t(j) + 1) * height_ / (2 * int64_t(h)));
        for (int i = 0; i < w; ++i) {
            int x = std::min(rect.Left, rect.Right) + i;
            if (x < 0 || x >= target.Width) continue;
            int sx = int((2 * int64_t(i) + 1) * width_ / (2 * int64_t(w)));
            PutStorePixel(target, x, y, GetPixel(sx, sy));
        }
    }
}

void TBitmap::LoadFromStream(TStream& stream) {
    TDIB dib;
    dib.LoadFromStream(stream);
    SetSize(dib.Width(), dib.Height());
    BitsPerPixel = dib.BitCount() ? dib.BitCount() : 24;
    TDIBStore* store = dib.Image();
    if (store->Compressed) {
        dib.ScanLine(0);
        store = dib.Image();
    }
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) SetPixel(x, y, GetStorePixel(*store, x, y));
}

void TBitmap::SaveToStream(TStream& stream) {
    TDIB dib;
    dib.SetSize(width_, height_, 24);
    if (dib.Empty()) return;
    dib.Assign(this);
    dib.SaveToStream(stream);
}

}  // namespace tilvorn
