// Routines for a packed DIB in a global-memory block, as a scanner's native transfer delivers
// it: a BITMAPINFOHEADER (or the older 12-byte core header), its colour table, the pixel rows.
// They read its geometry, make a palette for it, paint it and save or load it as a bitmap file.
// The block is locked for each routine and unlocked before it returns; the caller keeps it.
// Nothing here raises or shows a message: failures answer 0 or a negative code.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/GlobalMemory.h"

namespace tilvorn {
class TStream;
}

namespace tilvorn::twain {

using platform::HGLOBAL;

constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kCompressionRgb = 0;
constexpr uint32_t kCompressionBitFields = 3;
constexpr uint16_t kBitmapFileType = 0x4D42;  // "BM"

// Results of saving a block as a bitmap file.
constexpr int kSaveDone = 0;
constexpr int kSaveCancelled = -1;
constexpr int kSaveCannotCreate = -2;
constexpr int kSaveCannotLock = -3;
constexpr int kSaveWriteFailed = -4;

/// One entry of a logical palette (red, green, blue, flags), as the platform's palettes hold it.
struct TwainPaletteEntry {
    uint8_t red = 0, green = 0, blue = 0, flags = 0;
    bool operator==(const TwainPaletteEntry&) const = default;
};
constexpr uint8_t PC_NOCOLLAPSE = 0x04;

/// The palette used for blocks without a colour table: the system's twenty static colours at
/// both ends and a spread of greys, a few single colours and the 6×6×6 colour cube between.
const std::array<TwainPaletteEntry, 256>& TwainDefaultPalette();

int TwainDibPixelWidth(HGLOBAL dib);
/// Negative for top-down rows.
int TwainDibPixelHeight(HGLOBAL dib);
int TwainDibBitCount(HGLOBAL dib);
/// Entries of the colour table: 2^bits for a core header, else the colours-used field, else
/// 2^bits up to 8 bits; 0 for none and for anything above 256.
int TwainDibColorCount(HGLOBAL dib);
/// Where the pixel rows of a locked block start.
uint8_t* TwainDibPixelData(void* lockedDib);
/// The palette entries made for the block: its own colour table, or the default palette when
/// it has none. Empty when the block cannot be locked or its table runs past the block.
std::vector<TwainPaletteEntry> TwainDibPaletteEntries(HGLOBAL dib);

int TwainSaveDibToOpenFile(HGLOBAL dib, TStream& file);
/// An empty name asks for one with the save dialog.
int TwainSaveDibAsBmp(HGLOBAL dib, const std::string& fileName);
/// A new fixed block owned by the caller, or nullptr. An empty name asks with the open dialog.
HGLOBAL TwainLoadDibFromBmp(const std::string& fileName);

/// A checked view over the bytes of a packed DIB: opening fails unless the header is one this
/// program paints (1, 4, 8, 16, 24 or 32 bits, uncompressed or with bit fields) and every row
/// lies inside the block, so reading pixels never leaves it.
class TPackedDib {
public:
    bool Open(const uint8_t* block, size_t size);
    int Width() const { return width_; }
    /// Rows, whatever their order in memory.
    int Height() const { return height_; }
    int BitCount() const { return bitCount_; }
    /// Colour of the pixel at column x of picture row y (counted from the top) as 0x00RRGGBB.
    uint32_t Pixel(int x, int y) const;

private:
    uint32_t Channel(uint32_t value, int which) const;

    const uint8_t* colors_ = nullptr;
    const uint8_t* pixels_ = nullptr;
    int colorCount_ = 0;
    int width_ = 0, height_ = 0, bitCount_ = 0;
    bool topDown_ = false;
    size_t stride_ = 0;
    uint32_t masks_[3] = {};
};

}  // namespace tilvorn::twain
