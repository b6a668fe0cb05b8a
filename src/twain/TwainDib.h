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

#include "core/GlobalMemory.h"

#include "image/DIB.h"

namespace tilvorn::twain {

using platform::HGLOBAL;

// Results of saving a block as a bitmap file.
constexpr int kSaveDone = 0;
constexpr int kSaveCancelled = -1;
constexpr int kSaveCannotCreate = -2;
constexpr int kSaveCannotLock = -3;
constexpr int kSaveWriteFailed = -4;

constexpr uint8_t PC_NOCOLLAPSE = 0x04;

/// The palette used for blocks without a colour table: the system's twenty static colours at
/// both ends and a spread of greys, a few single colours and the 6×6×6 colour cube between.
const std::array<PALETTEENTRY, 256>& TwainDefaultPalette();

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
std::vector<PALETTEENTRY> TwainDibPaletteEntries(HGLOBAL dib);
/// A new palette (owned by the caller) made from TwainDibPaletteEntries, or nullptr.
HPALETTE TwainDibPalette(HGLOBAL dib);
/// Paints the block's pixels from (sourceX, sourceY), counted from its top-left corner, into
/// the rectangle (x, y, width, height) of the canvas, unscaled. A block that cannot be locked,
/// or whose pixels run past its end, paints nothing.
void TwainPaintDib(TCanvas& canvas, int x, int y, int width, int height, HGLOBAL dib, int sourceX, int sourceY);

int TwainSaveDibToOpenFile(HGLOBAL dib, TStream& file);
/// An empty name asks for one with the save dialog.
int TwainSaveDibAsBmp(HGLOBAL dib, const std::string& fileName);
/// A new fixed block owned by the caller, or nullptr. An empty name asks with the open dialog.
HGLOBAL TwainLoadDibFromBmp(const std::string& fileName);

}  // namespace tilvorn::twain
