// Enlarging the picture's part of a page onto a sheet by interpolation (pixman's bilinear
// filter), the smooth alternative to a nearest-neighbour stretch followed by a box blur.
#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "core/PictureMemory.h"

#include "image/DIB.h"

namespace tilvorn {

/// How a sheet's fragment of the picture is enlarged: Smooth interpolates between picture
/// pixels; Blocks stretches without interpolation and box-blurs at half the enlargement.
enum class TEnlargement { Smooth, Blocks };

/// Picture pixels as 0xXXRRGGBB words, in picture memory.
using TPictureWords = std::vector<uint32_t, TPictureAllocator<uint32_t>>;

/// The part of the poster to draw and where: poster pixel (PosterX + i, PosterY + j) lands on
/// sheet pixel (SheetX + i, SheetY + j) for 0 <= i < Width, 0 <= j < Height. A poster pixel
/// covers picture pixels [x · ScaleX, (x + 1) · ScaleX) (ScaleX = picture pixels per poster
/// pixel); the picture's edge pixels repeat up to the poster's edge.
struct TEnlargeWindow {
    int64_t PosterX = 0, PosterY = 0;
    int64_t SheetX = 0, SheetY = 0;
    int64_t Width = 0, Height = 0;
    double ScaleX = 1, ScaleY = 1;
};

/// Draws the window of the poster onto the sheet (8 grey, 24 or 32 bits), interpolating the
/// picture's pixels; sheet pixels outside the window keep what they hold. Answers false
/// (drawing nothing) when the window needs more picture than the filter can address, so the
/// caller can take the block enlargement instead. A set stop ends the drawing between bands of
/// rows with EAbort. The picture is only read, so several sheets may be drawn from it at once.
/// sourceWords, when given, holds the picture's part between calls: a run of sheets then takes
/// its memory once instead of the system's fresh pages for every sheet.
bool EnlargeSmoothly(const TDIB& picture, const TEnlargeWindow& window, TDIB& sheet,
                     const std::atomic<bool>* stop = nullptr, TPictureWords* sourceWords = nullptr);

}  // namespace tilvorn
