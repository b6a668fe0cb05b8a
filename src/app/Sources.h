// Where the poster's picture comes from: a picture file (the registered readers by content,
// then JPEG and bitmap files by extension, documents last), or the clipboard's bitmap. No
// widgets here: the window's ChangeImageClick and tilvorn-cli poster both read through it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/DIB.h"

class QImage;

namespace tilvorn {

/// The positions of the source scroll bar.
enum class TSourceMode { File = 0, Scanner = 1, Clipboard = 2 };

/// The open dialog's filter, description and patterns alternating, joined by "|".
extern const char* const kOpenDialogFilter;

/// Decodes a JPEG file into a new 24-bit picture of its size. Grey pictures become grey
/// colours; CMYK and YCCK pictures are converted to RGB (Adobe's inverted CMYK included).
/// Raises EInvalidGraphic with the decoder's text when the file is no readable JPEG file,
/// EFOpenError when it cannot be opened.
std::unique_ptr<TDIB> ReadJpegFile(const std::string& fileName);
std::unique_ptr<TDIB> ReadJpegMemory(const uint8_t* data, size_t size);

/// The file branch: the registered readers are asked first by content; a file none of
/// them takes goes by extension to the JPEG decoder (".jpg", ".jpeg") or the bitmap
/// reader (".bmp", keeping the file's bit depth). Answers nullptr for every other file,
/// which the caller renders as a document. A reading error propagates.
std::unique_ptr<TDIB> ReadPictureFile(const std::string& fileName);

/// The clipboard's bitmap as a working image that keeps its depth: indexed images of 1, 4
/// or 8 bits keep their colour table, 16-bit images become 5-6-5 pictures, everything else
/// 24 bits (32 bits when the image has an alpha channel). Answers nullptr for a null image.
std::unique_ptr<TDIB> PictureFromImage(const QImage& image);

}  // namespace tilvorn
