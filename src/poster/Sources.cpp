#include "poster/Sources.h"

#include "poster/ImageFiles.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "formats/AllFormats.h"
#include "readers/JpegFile.h"

namespace tilvorn {

const char* const kOpenDialogFilter =
    "Images format|"
    "*.BMP;*.DIB;*.RLE;*.JPG;*.JPEG;*.TIF;*.TIFF;*.fax;*.bw;*.rgb;*.rgba;*.sgi;*.tga;*.vst;*.icb;*.vda;*.win;*.pcx;*.pcc;*.pcd;*.GIF;*.psd;*.pdd;*.png"
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
    "|MS Word Document|*.doc;*.docx"
    "|MS Excel Document|*.xls;*.xlsx";

std::unique_ptr<TDIB> ReadPictureFile(const std::string& fileName) {
    TPictureOrigin ignored;
    return ReadPictureFile(fileName, ignored);
}

std::unique_ptr<TDIB> ReadPictureFile(const std::string& fileName, TPictureOrigin& origin) {
    origin = {fileName, false};
    RegisterStandardFormats();
    auto picture = std::make_unique<TDIB>();
    if (ReadPictureThroughReaders(fileName, *picture).ReaderClass) return picture;
    switch (ExtensionBranch(fileName)) {
        case TExtensionBranch::JPEG:
            picture = ReadJpegFile(fileName);
            origin.JpegFile = true;
            return picture;
        case TExtensionBranch::Bitmap:
            picture->LoadFromFile(fileName);
            return picture;
        case TExtensionBranch::Document:
            break;
    }
    return nullptr;
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
