#include "poster/ImageFiles.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tilvorn {

namespace {

struct Bgr {
    uint8_t Blue, Green, Red;
};

/// A packed 16- or 32-bit field widened to 8 bits, its top bits repeated below.
uint8_t ExpandField(uint32_t pixel, uint32_t mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) return uint8_t(v >> (bits - 8));
    uint32_t wide = v << (8 - bits);
    for (int filled = bits; filled < 8; filled += bits) wide |= wide >> bits;
    return uint8_t(wide);
}

Bgr TableColor(const TColorTable& table, unsigned index) {
    const RGBQUAD& q = table[index & 0xFF];
    return {q.rgbBlue, q.rgbGreen, q.rgbRed};
}

/// Colour of pixel x of a row of the given bit count.
Bgr PixelColor(const uint8_t* row, int x, int bitCount, const TColorTable& table, const DIBPixelFormat& format) {
    switch (bitCount) {
        case 1:
            return TableColor(table, (row[x >> 3] >> (7 - (x & 7))) & 1);
        case 4:
            return TableColor(table, (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F);
        case 8:
            return TableColor(table, row[x]);
        case 16: {
            const uint32_t p = uint32_t(row[2 * x]) | (uint32_t(row[2 * x + 1]) << 8);
            return {ExpandField(p, uint32_t(format.BlueMask)), ExpandField(p, uint32_t(format.GreenMask)),
                    ExpandField(p, uint32_t(format.RedMask))};
        }
        case 24:
            return {row[3 * x], row[3 * x + 1], row[3 * x + 2]};
        case 32:
            return {row[4 * x], row[4 * x + 1], row[4 * x + 2]};
        default:
            return {255, 255, 255};
    }
}

uint8_t OverWhite(uint8_t value, uint8_t alpha) { return uint8_t((value * alpha + 255 * (255 - alpha) + 127) / 255); }

/// An alpha plane that is zero everywhere is taken as unused: many writers of 32-bit
/// pixels leave the fourth byte at zero, and such a picture is not meant to be invisible.
bool AlphaPlaneUsed(TDIB& bitmap) {
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x)
            if (row[4 * x + 3] != 0) return true;
    }
    return false;
}

bool ModelHasAlpha(const TImageProperties& p) {
    return p.HasAlphaChannel || p.Model == ColorModel::RGBA || p.Model == ColorModel::BGRA ||
        p.Model == ColorModel::GrayAlpha;
}

}  // namespace

namespace {

/// One row of the bitmap as 24-bit colours, before transparency and alpha: the common depths
/// a row at a time, the others pixel by pixel.
void RowColors(const uint8_t* source, uint8_t* target, int width, int bitCount, const TColorTable& table,
               const DIBPixelFormat& format) {
    switch (bitCount) {
        case 24:
            std::memcpy(target, source, size_t(width) * 3);
            return;
        case 32:
            for (int x = 0; x < width; ++x, source += 4, target += 3) std::memcpy(target, source, 3);
            return;
        case 8:
            for (int x = 0; x < width; ++x, target += 3) {
                const RGBQUAD& q = table[source[x]];
                target[0] = q.rgbBlue, target[1] = q.rgbGreen, target[2] = q.rgbRed;
            }
            return;
        default:
            for (int x = 0; x < width; ++x, target += 3) {
                const Bgr c = PixelColor(source, x, bitCount, table, format);
                target[0] = c.Blue, target[1] = c.Green, target[2] = c.Red;
            }
    }
}

}  // namespace

void LayBitmapOnWhite(TDIB& bitmap, bool useAlpha, const TColor* transparent, TDIB& picture,
                      std::span<const uint8_t> paletteAlpha) {
    const int width = bitmap.Width(), height = bitmap.Height(), bitCount = bitmap.BitCount();
    picture.SetSize(width, height, 24);
    if (width <= 0 || height <= 0) return;
    const bool alpha = useAlpha && bitCount == 32 && AlphaPlaneUsed(bitmap);
    TColorTable table = bitmap.ColorTable;
    // An indexed pixel is as opaque as its entry: the entries themselves are laid on white.
    for (size_t i = 0; i < std::min(paletteAlpha.size(), table.size()) && bitCount <= 8; ++i) {
        RGBQUAD& q = table[i];
        q = {OverWhite(q.rgbBlue, paletteAlpha[i]), OverWhite(q.rgbGreen, paletteAlpha[i]),
             OverWhite(q.rgbRed, paletteAlpha[i]), q.rgbReserved};
    }
    const DIBPixelFormat format = bitmap.CurrentPixelFormat();
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = bitmap.ScanLine(y);
        uint8_t* row = picture.ScanLine(y);
        RowColors(source, row, width, bitCount, table, format);
        if (!transparent && !alpha) continue;
        uint8_t* target = row;
        for (int x = 0; x < width; ++x, target += 3) {
            if (transparent && RGBColor(target[2], target[1], target[0]) == *transparent)
                target[0] = target[1] = target[2] = 255;
            if (alpha) {
                const uint8_t a = source[4 * x + 3];
                for (int c = 0; c < 3; ++c) target[c] = OverWhite(target[c], a);
            }
        }
    }
}

void LayBitmapFileOnWhite(TDIB& picture) {
    if (!picture.HasAlphaChannel() || picture.BitCount() != 32 || !AlphaPlaneUsed(picture)) return;
    bool seeThrough = false;
    for (int y = 0; y < picture.Height() && !seeThrough; ++y) {
        const uint8_t* row = picture.ScanLine(y);
        for (int x = 0; x < picture.Width() && !seeThrough; ++x) seeThrough = row[4 * x + 3] != 255;
    }
    if (!seeThrough) return;
    TDIB onWhite;
    LayBitmapOnWhite(picture, true, nullptr, onWhite);
    picture.Assign(&onWhite);
}

void LayReaderOnWhite(TReaderGraphic& reader, TDIB& picture) {
    // A bitmap that already is the 24-bit picture is handed over, not copied: the picture
    // shares the reader's pixels, and they stay its own once the reader is gone.
    if (reader.BitCount() == 24 && !reader.Transparent && !reader.Empty()) {
        picture.Assign(&static_cast<TDIB&>(reader));
        return;
    }
    const TColor transparentColor = reader.TransparentColor;
    LayBitmapOnWhite(reader, ModelHasAlpha(reader.Properties), reader.Transparent ? &transparentColor : nullptr,
                     picture, reader.PaletteAlpha);
}

namespace {

/// How an upright pixel (X, Y) is found in the stored picture: with SwapAxes the stored
/// column comes from Y and the row from X, then each is counted from the far side when
/// its flip is set. Rows 2..8 are the orientation codes; 1 (and 0, none given) keep the picture.
struct TOrientationStep {
    bool SwapAxes, FlipX, FlipY;
};
constexpr TOrientationStep kOrientationSteps[9] = {
    {false, false, false}, {false, false, false},  // none given, normal
    {false, true, false},  // 2 mirrored left to right
    {false, true, true},  // 3 turned half round
    {false, false, true},  // 4 mirrored top to bottom
    {true, false, false},  // 5 transposed
    {true, false, true},  // 6 turned a quarter clockwise
    {true, true, true},  // 7 transversed
    {true, true, false},  // 8 turned a quarter anticlockwise
};

}  // namespace

void OrientUpright(TDIB& picture, uint8_t orientation) {
    if (orientation < 2 || orientation > 8 || picture.Empty() || picture.BitCount() != 24) return;
    const TOrientationStep step = kOrientationSteps[orientation];
    const int width = picture.Width(), height = picture.Height();
    const int uprightWidth = step.SwapAxes ? height : width, uprightHeight = step.SwapAxes ? width : height;
    TDIB upright;
    upright.PixelFormat = pf888;
    upright.SetSize(uprightWidth, uprightHeight, 24);
    const uint8_t* top = picture.TopRow();
    const int64_t rowStep = picture.RowStep();
    auto storedPixel = [&](int x, int y) { return top + int64_t(y) * rowStep + 3 * int64_t(x); };
    for (int y = 0; y < uprightHeight; ++y) {
        uint8_t* target = upright.ScanLine(y);
        for (int x = 0; x < uprightWidth; ++x, target += 3) {
            int u = step.SwapAxes ? y : x, v = step.SwapAxes ? x : y;
            if (step.FlipX) u = width - 1 - u;
            if (step.FlipY) v = height - 1 - v;
            std::memcpy(target, storedPixel(u, v), 3);
        }
    }
    picture.Assign(&upright);
}

TExtensionBranch ExtensionBranch(const std::string& fileName) {
    const std::string::size_type dot = fileName.find_last_of("./");
    std::string ext = dot == std::string::npos || fileName[dot] != '.' ? "" : fileName.substr(dot);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (ext == ".jpg" || ext == ".jpeg") return TExtensionBranch::JPEG;
    if (ext == ".bmp") return TExtensionBranch::Bitmap;
    return TExtensionBranch::Document;
}

TReaderOutcome ReadPictureThroughReaders(const std::string& fileName, TDIB& picture) {
    TReaderOutcome outcome;
    const TGraphicClass* readerClass = GlobalFormatRegistry().ClassForFile(fileName);
    if (!readerClass) return outcome;
    std::unique_ptr<TReaderGraphic> reader = readerClass->Create();
    reader->ReadImageFile(fileName);
    TDIB made;
    LayReaderOnWhite(*reader, made);
    picture.Assign(&made);
    outcome.ReaderClass = readerClass;
    outcome.Properties = reader->Properties;
    outcome.ReaderBitCount = reader->BitCount();
    return outcome;
}

}  // namespace tilvorn
