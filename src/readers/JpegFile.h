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
/// EFOpenError when it cannot be opened. With `orientation`, it receives the file's EXIF
/// orientation (see JpegOrientation); the picture itself is left as stored.
std::unique_ptr<TDIB> ReadJpegFile(const std::string& fileName, uint8_t* orientation = nullptr);
std::unique_ptr<TDIB> ReadJpegMemory(const uint8_t* data, size_t size);

/// The orientation code (1..8, as in EXIF) of the first APP1 Exif block before the scan,
/// 0 when there is none or it cannot be read. Only the markers are walked; nothing is decoded.
uint8_t JpegOrientation(const uint8_t* data, size_t size);

}  // namespace tilvorn
