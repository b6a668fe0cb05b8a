#include "poster/Sources.h"

#include <filesystem>
#include <system_error>

#include "poster/ImageFiles.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "formats/AllFormats.h"
#include "readers/JpegFile.h"

namespace tilvorn {

const char* const kOpenDialogFilter =
    "Images format|"
    "*.BMP;*.DIB;*.RLE;*.JPG;*.JPEG;*.TIF;*.TIFF;*.fax;*.bw;*.rgb;*.rgba;*.sgi;*.tga;*.vst;*.icb;*.vda;*.win;*.pcx;*."
    "pcc;*.pcd;*.GIF;*.psd;*.pdd;*.png;*.heic;*.heif;*.avif"
    "|Documents format|*.DOC;*.XLS;*.PDF;*.DOCX;*.XLSX"
    "|All Format|*.*"
    "|BMP|*.BMP;*.DIB;*.RLE"
    "|JPEG|*.JPG;*.JPEG"
    "|TIFF image|*.TIF;*.TIFF"
    "|Fax Image|*.fax"
    "|SGI images|*.bw;*.rgb;*.rgba;*.sgi"
    "|Truevision images (TGA)|*.tga;*.vst;*.icb;*.vda;*.win"
    "|ZSoft Paintbrush images|*.pcx;*.pcc"
    "|Kodak Photo-CD images|*.pcd"
    "|CompuServe images (GIF)|*.GIF"
    "|Photoshop images (*.psd, *.pdd)|*.psd;*.pdd"
    "|Paintshop Pro images (*.psp)|*.psp"
    "|Portable network graphic images (*.png)|*.png"
    "|HEIF images (*.heic, *.heif, *.avif)|*.heic;*.heif;*.avif"
    "|MS Word Document|*.doc;*.docx"
    "|MS Excel Document|*.xls;*.xlsx";

namespace {

// The picture as the file stores it, and the orientation the file names for it.
std::unique_ptr<TDIB> ReadStoredPicture(const std::string& fileName, uint8_t& orientation, bool& jpegFile) {
    RegisterStandardFormats();
    auto picture = std::make_unique<TDIB>();
    const TReaderOutcome outcome = ReadPictureThroughReaders(fileName, *picture);
    if (outcome.ReaderClass) {
        orientation = outcome.Properties.Orientation;
        return picture;
    }
    switch (ExtensionBranch(fileName)) {
        case TExtensionBranch::JPEG:
            jpegFile = true;
            return ReadJpegFile(fileName, &orientation);
        case TExtensionBranch::Bitmap:
            picture->LoadFromFile(fileName);
            LayBitmapFileOnWhite(*picture);
            return picture;
        case TExtensionBranch::Document:
            break;
    }
    return nullptr;
}

}  // namespace

// Every picture file comes through here, so a photo stands upright in the window and in
// tilvorn-cli alike, whatever format named its orientation.
std::unique_ptr<TDIB> ReadPictureFile(const std::string& fileName) {
    TPictureOrigin ignored;
    return ReadPictureFile(fileName, ignored);
}

std::unique_ptr<TDIB> ReadPictureFile(const std::string& fileName, TPictureOrigin& origin) {
    std::error_code ignored;
    if (std::filesystem::is_directory(fileName, ignored))
        throw EFOpenError(Format("Cannot open file \"%s\". It is a folder, not a picture file.", fileName));
    uint8_t orientation = 0;
    bool jpegFile = false;
    std::unique_ptr<TDIB> picture;
    try {
        picture = ReadStoredPicture(fileName, orientation, jpegFile);
    } catch (const EReadError& e) {
        // Readers raise it when the bytes stop before what the file declares.
        throw EReadError(Format("Cannot read file \"%s\": it ends early (%s).", fileName, e.what()));
    }
    if (picture) OrientUpright(*picture, orientation);
    // A PDF may embed the file's own JPEG data only where they show the picture as it stands.
    origin = {fileName, jpegFile && orientation <= 1};
    return picture;
}

void OpenPictureFile(TDocumentWindow& window, const std::string& fileName, platform::TDocumentRenderer& renderer) {
    TPictureOrigin ignored;
    OpenPictureFile(window, fileName, ignored, renderer);
}

void OpenPictureFile(TDocumentWindow& window, const std::string& fileName, TPictureOrigin& origin,
                     platform::TDocumentRenderer& renderer) {
    TPictureOrigin read;
    if (std::unique_ptr<TDIB> picture = ReadPictureFile(fileName, read))
        window.ReplaceSourceImage(std::move(picture));
    else
        RenderDocumentFile(window, fileName, renderer);
    origin = read;  // only once the window holds the new picture
}

std::unique_ptr<TDIB> LoadPictureFile(const std::string& fileName, platform::TDocumentRenderer& renderer) {
    TPictureOrigin ignored;
    return LoadPictureFile(fileName, ignored, renderer);
}

std::unique_ptr<TDIB> LoadPictureFile(const std::string& fileName, TPictureOrigin& origin,
                                      platform::TDocumentRenderer& renderer) {
    std::unique_ptr<TDIB> picture = ReadPictureFile(fileName, origin);
    if (!picture) picture = LoadDocumentPicture(fileName, renderer);
    if (!picture || picture->Empty()) throw EInvalidGraphic(fileName + " holds no picture");
    return picture;
}

}  // namespace tilvorn
