#include "twain/TwainDib.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "core/ByteOrder.h"
#include "core/Exceptions.h"
#include "core/Streams.h"
#include "platform/Dialogs.h"

namespace tilvorn::twain {

using namespace platform;

namespace {

// Offsets into a BITMAPINFOHEADER.
constexpr size_t kWidthAt = 4, kHeightAt = 8, kBitCountAt = 14, kCompressionAt = 16, kImageSizeAt = 20,
                 kColorsUsedAt = 32;
// Offsets into a BITMAPCOREHEADER.
constexpr size_t kCoreWidthAt = 4, kCoreHeightAt = 6, kCoreBitCountAt = 10;
constexpr uint32_t kBitFieldMasksSize = 12;  // red, green and blue masks after a 40-byte header
constexpr size_t kDialogFileBuffer = 251;

int32_t I32(const uint8_t* p) { return static_cast<int32_t>(LE32(p)); }

bool IsCoreHeader(const uint8_t* dib) { return LE32(dib) == kCoreHeaderSize; }

int WidthOf(const uint8_t* dib) { return IsCoreHeader(dib) ? LE16(dib + kCoreWidthAt) : I32(dib + kWidthAt); }
int HeightOf(const uint8_t* dib) { return IsCoreHeader(dib) ? LE16(dib + kCoreHeightAt) : I32(dib + kHeightAt); }
int BitCountOf(const uint8_t* dib) { return LE16(dib + (IsCoreHeader(dib) ? kCoreBitCountAt : kBitCountAt)); }
uint32_t CompressionOf(const uint8_t* dib) { return IsCoreHeader(dib) ? BI_RGB : LE32(dib + kCompressionAt); }

uint64_t PowerOfTwo(int bits) { return bits < 63 ? uint64_t(1) << bits : ~uint64_t(0); }

int ColorCountOf(const uint8_t* dib) {
    int bits = BitCountOf(dib);
    uint64_t count;
    if (IsCoreHeader(dib))
        count = PowerOfTwo(bits);
    else if (uint32_t used = LE32(dib + kColorsUsedAt); used != 0)
        count = used;
    else
        count = bits <= 8 ? PowerOfTwo(bits) : 0;
    return count > 256 ? 0 : int(count);
}

// The bit masks of a 40-byte header with bit fields sit between the header and the pixels.
uint32_t MasksAfterHeader(const uint8_t* dib) {
    return LE32(dib) == kInfoHeaderSize && CompressionOf(dib) == BI_BITFIELDS ? kBitFieldMasksSize : 0;
}

uint64_t PixelOffsetOf(const uint8_t* dib) {
    return uint64_t(LE32(dib)) + 4u * uint64_t(ColorCountOf(dib)) + MasksAfterHeader(dib);
}

// The bytes of pixels a header describes, when they can be drawn: plain rows padded to 32 bits
// (bit fields at 16 or 32 bits only), or the RLE data, whose image-size field may be 0 for
// "up to the end of the block". Nothing for other bit counts and compressions, for an RLE mode
// that does not go with its bit count, for a width of 0 or less and a height of 0 or INT32_MIN.
std::optional<uint64_t> DrawnPixelBytes(const uint8_t* dib, uint64_t available) {
    constexpr auto depth = [](int bits) { return uint64_t(1) << bits; };
    static constexpr struct {
        uint32_t compression;
        uint64_t depths;  // bit n set: n bits a pixel are drawn
    } kDrawable[] = {
        {BI_RGB, depth(1) | depth(4) | depth(8) | depth(16) | depth(24) | depth(32)},
        {BI_BITFIELDS, depth(16) | depth(32)},
        {BI_RLE8, depth(8)},
        {BI_RLE4, depth(4)},
    };
    uint32_t compression = CompressionOf(dib);
    int bits = BitCountOf(dib), width = WidthOf(dib), height = HeightOf(dib);
    const auto* mode = std::ranges::find_if(kDrawable, [&](const auto& m) { return m.compression == compression; });
    if (mode == std::end(kDrawable) || bits > 32 || !(mode->depths & depth(bits))) return std::nullopt;
    if (width <= 0 || height == 0 || height == INT32_MIN) return std::nullopt;
    if (compression == BI_RLE8 || compression == BI_RLE4) {
        uint32_t declared = LE32(dib + kImageSizeAt);
        return declared ? declared : available;
    }
    // Below 2^33 bytes a row times 2^31 rows: the product fits.
    return uint64_t(DIBRowBytes(width, bits)) * uint64_t(std::abs(height));
}

// Locks a block for one routine and unlocks it on the way out.
class LockedDib {
public:
    explicit LockedDib(HGLOBAL block)
        : block_(block), data_(static_cast<uint8_t*>(GlobalLock(block))), size_(GlobalSize(block)) {}
    ~LockedDib() {
        if (data_) GlobalUnlock(block_);
    }
    LockedDib(const LockedDib&) = delete;
    LockedDib& operator=(const LockedDib&) = delete;
    uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }
    /// Locked and holding at least the header its first field announces (core or info header).
    bool HasHeader() const {
        return data_ && size_ >= kCoreHeaderSize && LE32(data_) >= kCoreHeaderSize &&
            (LE32(data_) == kCoreHeaderSize || (LE32(data_) >= kInfoHeaderSize && LE32(data_) <= size_));
    }

private:
    HGLOBAL block_;
    uint8_t* data_;
    size_t size_;
};

std::array<PALETTEENTRY, 256> MakeDefaultPalette() {
    std::array<PALETTEENTRY, 256> palette{};
    const PALETTEENTRY low[10] = {
        {0, 0, 0, 0},       {0x80, 0, 0, 0},    {0, 0x80, 0, 0},       {0x80, 0x80, 0, 0},    {0, 0, 0x80, 0},
        {0x80, 0, 0x80, 0}, {0, 0x80, 0x80, 0}, {0xC0, 0xC0, 0xC0, 0}, {0xC0, 0xDC, 0xC0, 0}, {0xA6, 0xCA, 0xF0, 0}};
    const PALETTEENTRY high[10] = {
        {0xFF, 0xFB, 0xF0, 0}, {0xA0, 0xA0, 0xA4, 0}, {0x80, 0x80, 0x80, 0}, {0xFF, 0, 0, 0},    {0, 0xFF, 0, 0},
        {0xFF, 0xFF, 0, 0},    {0, 0, 0xFF, 0},       {0xFF, 0, 0xFF, 0},    {0, 0xFF, 0xFF, 0}, {0xFF, 0xFF, 0xFF, 0}};
    const uint8_t darkGreys[12] = {0x04, 0x08, 0x0C, 0x11, 0x16, 0x1C, 0x22, 0x29, 0x39, 0x42, 0x4D, 0x55};
    const uint8_t lightGreys[12] = {0x86, 0x96, 0xA0, 0xB2, 0xC0, 0xCB, 0xD7, 0xDD, 0xE3, 0xEA, 0xF1, 0xF8};
    const PALETTEENTRY singles[7] = {{0xFF, 0x7C, 0x80, 0}, {0x5A, 0x9E, 0xEE, 0}, {0x7E, 0x5E, 0x3B, 0},
                                     {0x3B, 0x7E, 0x5E, 0}, {0xEE, 0xB0, 0x5A, 0}, {0x9E, 0x5A, 0xEE, 0},
                                     {0xD8, 0xC8, 0x98, 0}};
    const uint8_t levels[6] = {0x00, 0x33, 0x66, 0x99, 0xCC, 0xFF};
    for (int i = 0; i < 10; ++i) palette[i] = low[i], palette[246 + i] = high[i];
    for (int i = 0; i < 12; ++i) {
        palette[10 + i] = {darkGreys[i], darkGreys[i], darkGreys[i], PC_NOCOLLAPSE};
        palette[234 + i] = {lightGreys[i], lightGreys[i], lightGreys[i], PC_NOCOLLAPSE};
    }
    for (int i = 0; i < 7; ++i)
        palette[22 + i] = {singles[i].peRed, singles[i].peGreen, singles[i].peBlue, PC_NOCOLLAPSE};
    // Entries 29 to 232 walk the colour cube with red changing fastest, leaving out black.
    for (int cube = 1; cube <= 204; ++cube)
        palette[28 + cube] = {levels[cube % 6], levels[cube / 6 % 6], levels[cube / 36], PC_NOCOLLAPSE};
    palette[233] = {0xA5, 0x00, 0x21, PC_NOCOLLAPSE};
    return palette;
}

bool HasExtension(const std::string& fileName) { return std::filesystem::path(fileName).has_extension(); }

// Asks for a file name the way both file routines do; "" when the user cancelled.
std::string AskForBitmapName(bool save) {
    FileDialogRequest request;
    request.filter = save ? "Windows Bitmap (*.bmp)|*.bmp" : "Windows Bitmaps (*.bmp)|*.bmp";
    bool chosen = save ? Dialogs().SaveFile(request) : Dialogs().OpenFile(request);
    // The platform's dialog has room for 250 characters; a longer name counts as no name.
    if (!chosen || request.fileName.empty() || request.fileName.size() >= kDialogFileBuffer) return "";
    if (!HasExtension(request.fileName)) request.fileName += ".bmp";
    return request.fileName;
}

}  // namespace

const std::array<PALETTEENTRY, 256>& TwainDefaultPalette() {
    static const std::array<PALETTEENTRY, 256> palette = MakeDefaultPalette();
    return palette;
}

int TwainDibPixelWidth(HGLOBAL dib) {
    LockedDib locked(dib);
    return locked.HasHeader() ? WidthOf(locked.Data()) : 0;
}

int TwainDibPixelHeight(HGLOBAL dib) {
    LockedDib locked(dib);
    return locked.HasHeader() ? HeightOf(locked.Data()) : 0;
}

int TwainDibBitCount(HGLOBAL dib) {
    LockedDib locked(dib);
    return locked.HasHeader() ? BitCountOf(locked.Data()) : 0;
}

int TwainDibColorCount(HGLOBAL dib) {
    LockedDib locked(dib);
    return locked.HasHeader() ? ColorCountOf(locked.Data()) : 0;
}

uint8_t* TwainDibPixelData(void* lockedDib) {
    auto* dib = static_cast<uint8_t*>(lockedDib);
    return dib + PixelOffsetOf(dib);
}

std::vector<PALETTEENTRY> TwainDibPaletteEntries(HGLOBAL dib) {
    LockedDib locked(dib);
    if (!locked.HasHeader()) return {};
    const uint8_t* data = locked.Data();
    int count = ColorCountOf(data);
    if (count == 0) {
        const auto& fallback = TwainDefaultPalette();
        return {fallback.begin(), fallback.end()};
    }
    uint64_t tableAt = LE32(data);
    if (tableAt + 4u * count > locked.Size()) return {};
    std::vector<PALETTEENTRY> palette(count);
    for (int i = 0; i < count; ++i) {
        const uint8_t* quad = data + tableAt + 4 * i;  // blue, green, red, reserved
        palette[i] = PALETTEENTRY{quad[2], quad[1], quad[0], 0};
    }
    return palette;
}

HPALETTE TwainDibPalette(HGLOBAL dib) {
    std::vector<PALETTEENTRY> entries = TwainDibPaletteEntries(dib);
    return entries.empty() ? nullptr : CreatePalette(entries.data(), int(entries.size()));
}

void TwainPaintDib(TCanvas& canvas, int x, int y, int width, int height, HGLOBAL dib, int sourceX, int sourceY) {
    LockedDib locked(dib);
    if (!locked.HasHeader() || IsCoreHeader(locked.Data())) return;
    uint64_t pixelOffset = PixelOffsetOf(locked.Data());
    if (pixelOffset > locked.Size() || locked.Size() > uint64_t(INT32_MAX)) return;
    // The header's promise is checked against the block here, for every depth and RLE: what a
    // scanner hands over is never read past, whatever its header says.
    uint64_t available = locked.Size() - pixelOffset;
    std::optional<uint64_t> pixelBytes = DrawnPixelBytes(locked.Data(), available);
    if (!pixelBytes || *pixelBytes > available) return;
    const uint8_t* info = locked.Data();
    canvas.StretchDIBits(Bounds(x, y, width, height), Bounds(sourceX, sourceY, width, height), info, int(pixelOffset),
                         info + pixelOffset, int(*pixelBytes));
}

int TwainSaveDibToOpenFile(HGLOBAL dib, TStream& file) {
    LockedDib locked(dib);
    if (!locked.Data()) return kSaveCannotLock;
    if (!locked.HasHeader() || IsCoreHeader(locked.Data())) return kSaveWriteFailed;
    uint8_t* header = locked.Data();
    int bits = BitCountOf(header);
    uint64_t colors = LE32(header + kColorsUsedAt);
    if (colors == 0 && bits <= 8) colors = PowerOfTwo(bits);
    uint64_t imageSize;
    if (CompressionOf(header) == BI_RGB || CompressionOf(header) == BI_BITFIELDS) {
        int64_t height = HeightOf(header);
        uint64_t stride = (uint64_t(bits) * uint32_t(WidthOf(header)) + 31) / 32 * 4;
        imageSize = uint64_t(height < 0 ? -height : height) * stride;
        if (imageSize > UINT32_MAX) return kSaveWriteFailed;
        PutLE32(header + kImageSizeAt, uint32_t(imageSize));
    } else {
        imageSize = LE32(header + kImageSizeAt);
        if (imageSize == 0) return kSaveWriteFailed;
    }
    uint64_t pixelOffset = kFileHeaderSize + uint64_t(LE32(header)) + 4 * colors + MasksAfterHeader(header);
    uint64_t fileSize = pixelOffset + imageSize;
    // The block must hold everything the header promises; a short block is never read past.
    if (fileSize > UINT32_MAX || fileSize - kFileHeaderSize > locked.Size()) return kSaveWriteFailed;
    uint8_t fileHeader[kFileHeaderSize] = {};
    PutLE16(fileHeader, kBitmapFileType);
    PutLE32(fileHeader + 2, uint32_t(fileSize));
    PutLE32(fileHeader + 10, uint32_t(pixelOffset));
    int64_t rest = int64_t(fileSize - kFileHeaderSize);
    try {
        if (file.Write(fileHeader, kFileHeaderSize) != kFileHeaderSize) return kSaveWriteFailed;
        if (file.Write(header, rest) != rest) return kSaveWriteFailed;
    } catch (const tilvorn::Exception&) {
        return kSaveWriteFailed;
    }
    return kSaveDone;
}

int TwainSaveDibAsBmp(HGLOBAL dib, const std::string& fileName) {
    std::string name = fileName;
    if (name.empty()) {
        name = AskForBitmapName(true);
        if (name.empty()) return kSaveCancelled;
    }
    try {
        TFileStream file(name, FileMode::Create);
        int result = TwainSaveDibToOpenFile(dib, file);
        if (result == kSaveDone) file.Flush();
        return result;
    } catch (const EFCreateError&) {
        return kSaveCannotCreate;
    } catch (const tilvorn::Exception&) {
        return kSaveWriteFailed;
    }
}

HGLOBAL TwainLoadDibFromBmp(const std::string& fileName) {
    std::string name = fileName;
    if (name.empty()) {
        name = AskForBitmapName(false);
        if (name.empty()) return nullptr;
    }
    try {
        TFileStream file(name, FileMode::OpenRead);
        uint8_t fileHeader[kFileHeaderSize];
        if (file.Read(fileHeader, kFileHeaderSize) != kFileHeaderSize) return nullptr;
        if (LE16(fileHeader) != kBitmapFileType) return nullptr;
        uint32_t declared = LE32(fileHeader + 2);
        // A size field larger than the file would only make a block that can never be filled.
        if (declared <= kFileHeaderSize || int64_t(declared) > file.Size()) return nullptr;
        size_t size = declared - kFileHeaderSize;
        HGLOBAL block = GlobalAlloc(GMEM_FIXED, size);
        if (!block) return nullptr;
        void* memory = GlobalLock(block);
        bool complete = file.Read(memory, int64_t(size)) == int64_t(size);
        GlobalUnlock(block);
        if (complete) return block;
        GlobalFree(block);
    } catch (const tilvorn::Exception&) {}
    return nullptr;
}

}  // namespace tilvorn::twain
