#include "twain/TwainScan.h"

#include <cstdint>
#include <cstdlib>

#include "core/Format.h"

#include "twain/TwainDib.h"
#include "twain/TwainSession.h"

namespace tilvorn::twain {

namespace {

// Releases the acquired image and every other page of a multi-page scan, which would otherwise
// be left without an owner: only the last page becomes the picture.
class AcquiredPages {
public:
    explicit AcquiredPages(HGLOBAL image) : image_(image) {}
    ~AcquiredPages() {
        bool imageListed = false;
        for (int i = 0; i < TwainImageListCount(); ++i) {
            HGLOBAL page = TwainImageListItem(i);
            imageListed = imageListed || page == image_;
            TwainReleaseImage(page);
        }
        if (!imageListed) TwainReleaseImage(image_);
    }
    AcquiredPages(const AcquiredPages&) = delete;
    AcquiredPages& operator=(const AcquiredPages&) = delete;

private:
    HGLOBAL image_;
};

}  // namespace

bool ScanPicture(TwainWindow window, TDIB& picture) {
    TwainSelectImageSource(window);  // the manager remembers the choice as its default source
    HGLOBAL image = TwainAcquireImage(window, 0);
    if (!image) return false;
    AcquiredPages release(image);

    int width = TwainDibPixelWidth(image);
    // Top-down scans give a negative height; the most negative one has no positive twin.
    const int64_t height64 = std::abs(int64_t{TwainDibPixelHeight(image)});
    const int height = height64 > INT32_MAX ? 0 : int(height64);
    if (width <= 0 || height <= 0)
        throw EInvalidGraphic(Format("Cannot load image. Invalid or unexpected %s image format.", "DIB"));
    TDIB bitmap;
    bitmap.SetSize(width, height, 24);
    bitmap.SetPalette(TwainDibPalette(image));
    bitmap.Canvas().Brush.Color = clWhite;  // what a block too short for its rows leaves
    bitmap.Canvas().FillRect(Rect(0, 0, width, height));
    TwainPaintDib(bitmap.Canvas(), 0, 0, width, height, image, 0, 0);

    TDIB scanned;
    scanned.SetSize(width, height, 24);
    scanned.Canvas().Draw(0, 0, bitmap);
    picture.Assign(scanned);
    return true;
}

}  // namespace tilvorn::twain
