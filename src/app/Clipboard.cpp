#include "app/Clipboard.h"

#include <QImage>

namespace tilvorn {

std::unique_ptr<TDIB> PictureFromImage(const QImage& image) {
    if (image.isNull()) return nullptr;
    TBitmap bitmap;
    QImage colours = image.convertToFormat(QImage::Format_RGB32);
    bitmap.SetSize(colours.width(), colours.height());
    for (int y = 0; y < colours.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(colours.constScanLine(y));
        for (int x = 0; x < colours.width(); ++x)
            bitmap.SetPixel(x, y, RGBColor(uint8_t(qRed(line[x])), uint8_t(qGreen(line[x])), uint8_t(qBlue(line[x]))));
    }
    const int depth = image.depth();
    if (depth <= 8 && image.colorCount() > 0) {
        bitmap.BitsPerPixel = depth <= 1 ? 1 : depth <= 4 ? 4 : 8;
        for (QRgb c : image.colorTable())
            bitmap.PaletteEntries.push_back({uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c)), 0});
    } else if (depth == 16) {
        bitmap.BitsPerPixel = 16;
    } else {
        bitmap.BitsPerPixel = image.hasAlphaChannel() ? 32 : 24;
    }
    auto picture = std::make_unique<TDIB>();
    picture->Assign(bitmap);
    return picture;
}

}  // namespace tilvorn
