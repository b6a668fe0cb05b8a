// The clipboard source: Qt's clipboard image as a working image.
#pragma once
#include <memory>

#include "image/DIB.h"

class QImage;

namespace tilvorn {

/// The clipboard's bitmap as a working image that keeps its depth: indexed images of 1, 4
/// or 8 bits keep their colour table, 16-bit images become 5-6-5 pictures, everything else
/// 24 bits (32 bits when the image has an alpha channel). Answers nullptr for a null image.
std::unique_ptr<TDIB> PictureFromImage(const QImage& image);

}  // namespace tilvorn
