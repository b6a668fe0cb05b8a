// Reading a picture file through the image readers: the registry is asked which reader
// recognises the file's content; that reader reads the file and its bitmap becomes the
// 24-bit picture. No widgets here: the window's file branch and tilvorn-cli both call it.
#pragma once
#include <memory>
#include <span>
#include <string>

#include "image/DIB.h"
#include "readers/ImageReaders.h"

namespace tilvorn {

/// Where a file goes that no registered reader recognises, by its extension (the dot
/// included, letter case ignored): ".jpg" and ".jpeg" to the JPEG library, ".bmp" to the
/// working image's bitmap reader, everything else to document rendering.
enum class TExtensionBranch { JPEG, Bitmap, Document };
TExtensionBranch ExtensionBranch(const std::string& fileName);

/// What reading through the readers found.
struct TReaderOutcome {
    const TGraphicClass* ReaderClass = nullptr;  // nullptr: no registered reader took the file
    TImageProperties Properties;  // as the reader filled them
    int ReaderBitCount = 0;  // the reader's own bitmap depth
};

/// Asks the global registry for the reader class of the file. When one recognises it, a
/// reader of that class reads the file and `picture` receives the 24-bit picture (the
/// reader's bitmap laid on white paper); otherwise `picture` is left as it was and the
/// outcome names no class, so the caller goes on by extension. A reading error propagates
/// and leaves `picture` as it was; the reader is released on every way out.
TReaderOutcome ReadPictureThroughReaders(const std::string& fileName, TDIB& picture);

/// The reader's bitmap as a 24-bit picture of the same size laid on white paper: pixels
/// with an alpha channel (a 32-bit bitmap of an image with alpha) are composited over
/// white by their alpha, so are the colour table entries of an indexed bitmap by the
/// reader's PaletteAlpha, pixels of the bitmap's transparent colour become white, all
/// others keep their colour.
void LayReaderOnWhite(TReaderGraphic& reader, TDIB& picture);

/// The same for any bitmap: useAlpha composites the fourth byte of 32-bit pixels,
/// `transparent` (when given) names the colour that becomes white, and `paletteAlpha` gives
/// the opacity of the first colour table entries of an indexed bitmap.
void LayBitmapOnWhite(TDIB& bitmap, bool useAlpha, const TColor* transparent, TDIB& picture,
                      std::span<const uint8_t> paletteAlpha = {});

/// A bitmap file's picture whose alpha lets the paper through somewhere becomes the 24-bit
/// picture laid on white; one without alpha, opaque, or with alpha zero everywhere (unused
/// by its writer) keeps its pixels and depth.
void LayBitmapFileOnWhite(TDIB& picture);

/// Turns and mirrors a 24-bit picture stored with the given orientation (1..8, as TIFF's
/// Orientation tag and EXIF code it) so that it stands upright, as photo viewers show it;
/// 0, 1 and unknown codes leave it alone. Codes 5 to 8 swap width and height.
void OrientUpright(TDIB& picture, uint8_t orientation);

}  // namespace tilvorn
