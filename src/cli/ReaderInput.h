// How tilvorn-cli reads an input picture: the registered readers are asked first, by the
// file's content; a file that none of them recognises goes by its extension to the bitmap
// file reader or, when it is no bitmap or JPEG file, to document rendering.
#pragma once
#include <string>

#include "image/DIB.h"

namespace tilvorn::cli {

/// Reads fileName into picture: a reader's picture comes as 24 bits laid on white paper, a
/// bitmap file keeps its own depth, a document comes as 24 bits at the window's size. Raises the reader's error when reading fails and
/// EInvalidGraphic when the file holds no picture.
void ReadInputPicture(const std::string& fileName, TDIB& picture);

/// Reads fileName with the reader registered for the extension readerExtension (for
/// example "cut", whose files no content test recognises), whatever the file's content;
/// the picture comes as 24 bits laid on white paper. An extension no reader is registered
/// for raises EInvalidGraphic.
void ReadInputPictureWith(const std::string& readerExtension, const std::string& fileName, TDIB& picture);

}  // namespace tilvorn::cli
