// Where the poster's picture comes from: a picture file (the registered readers by content,
// then JPEG and bitmap files by extension, documents last). No widgets here: the window's
// ChangeImageClick, tilvorn-cli and the benchmarks all read through it.
#pragma once
#include <memory>
#include <string>

#include "image/DIB.h"
#include "poster/Documents.h"

namespace tilvorn {

/// The positions of the source scroll bar.
enum class TSourceMode { File = 0, Scanner = 1, Clipboard = 2 };

/// The open dialog's filter, description and patterns alternating, joined by "|".
extern const char* const kOpenDialogFilter;

/// Where the working picture came from, for output that can use the file itself (a PDF
/// embeds parts of a JPEG file unchanged). Empty for a scanned or pasted picture.
struct TPictureOrigin {
    std::string FileName;
    /// The JPEG decoder read the file: the picture holds the file's pixels as stored.
    bool JpegFile = false;
};

/// The file branch: the registered readers are asked first by content; a file none of
/// them takes goes by extension to the JPEG decoder (".jpg", ".jpeg") or the bitmap
/// reader (".bmp", keeping the file's bit depth). Answers nullptr for every other file,
/// which the caller renders as a document. A reading error propagates.
std::unique_ptr<TDIB> ReadPictureFile(const std::string& fileName);
/// The same, telling which branch read the file.
std::unique_ptr<TDIB> ReadPictureFile(const std::string& fileName, TPictureOrigin& origin);

/// The whole chain for one picture file, as the open button takes it: the file branch
/// above, and a file it does not take is rendered as a document into the window (with its
/// progress stages). A read picture replaces the window's SourceImage. A reading or rendering
/// error propagates and leaves the window's picture as it was.
void OpenPictureFile(TDocumentWindow& window, const std::string& fileName,
                     platform::TDocumentRenderer& renderer = platform::DocumentRenderer());
/// The same, telling where the window's new picture came from.
void OpenPictureFile(TDocumentWindow& window, const std::string& fileName, TPictureOrigin& origin,
                     platform::TDocumentRenderer& renderer = platform::DocumentRenderer());

/// The same chain without a window (tilvorn-cli, benchmarks): the picture the window would
/// hold. Raises EInvalidGraphic when the file holds no picture.
std::unique_ptr<TDIB> LoadPictureFile(const std::string& fileName,
                                      platform::TDocumentRenderer& renderer = platform::DocumentRenderer());
std::unique_ptr<TDIB> LoadPictureFile(const std::string& fileName, TPictureOrigin& origin,
                                      platform::TDocumentRenderer& renderer = platform::DocumentRenderer());

}  // namespace tilvorn
