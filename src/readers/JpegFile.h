// JPEG files through libjpeg: the picture branch for ".jpg" and ".jpeg" files that no
// registered reader takes by content.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "image/DIB.h"

namespace tilvorn {

/// Decodes a JPEG file into a new 24-bit picture of its size. Grey pictures become grey
/// colours; CMYK and YCCK pictures are converted to RGB (Adobe's inverted CMYK included).
/// Raises EInvalidGraphic with the decoder's text when the file is no readable JPEG file,
/// EFOpenError when it cannot be opened.
std::unique_ptr<TDIB> ReadJpegFile(const std::string& fileName);
std::unique_ptr<TDIB> ReadJpegMemory(const uint8_t* data, size_t size);

}  // namespace tilvorn
