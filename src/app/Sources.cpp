#include "app/Sources.h"

#include <QImage>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include <jpeglib.h>

#include "app/ImageFiles.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "formats/AllFormats.h"

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

namespace {

// libjpeg reports fatal errors through error_exit, which must not return; the decoder's
// message is kept and the decode leaves by longjmp back to the caller's frame, which owns
// no C++ objects that need unwinding between setjmp and the jump.
struct TJpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr info) {
    auto* manager = reinterpret_cast<TJpegErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->escape, 1);
}

// Silences libjpeg's warnings (corrupt data it can still decode).
void JpegOutputMessage(j_common_ptr) {}

// The CMYK sample c with key k as one RGB channel. Adobe writes CMYK inverted (0 = full ink),
// which is what libjpeg hands over for Adobe files; others store plain ink amounts.
inline uint8_t CmykChannel(unsigned c, unsigned k, bool inverted) {
    if (!inverted) {
        c = 255 - c;
        k = 255 - k;
    }
    return uint8_t((c * k + 127) / 255);
}

// Decodes into picture (already empty); answers false with the message on failure.
bool DecodeJpeg(const uint8_t* data, size_t size, TDIB& picture, std::string& error) {
    jpeg_decompress_struct info;
    TJpegErrorManager manager;
    info.err = jpeg_std_error(&manager.base);
    manager.base.error_exit = JpegErrorExit;
    manager.base.output_message = JpegOutputMessage;
    std::vector<uint8_t> row;  // allocated before the jump point: never reallocated after it
    if (setjmp(manager.escape)) {
        jpeg_destroy_decompress(&info);
        error = manager.message;
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    bool inverted = cmyk && info.saw_Adobe_marker;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&info);
    const int width = int(info.output_width), height = int(info.output_height);
    const int components = info.output_components;
    picture.SetSize(width, height, 24);
    if (picture.Empty()) {
        jpeg_destroy_decompress(&info);
        error = "Empty JPEG image";
        return false;
    }
    uint8_t* top = picture.TopRow();
    const int step = picture.RowStep();
    row.resize(size_t(width) * components);
    while (info.output_scanline < info.output_height) {
        const int y = int(info.output_scanline);
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        uint8_t* out = top + int64_t(y) * step;
        const uint8_t* in = row.data();
        for (int x = 0; x < width; ++x, in += components, out += 3) {
            if (cmyk) {
                out[2] = CmykChannel(in[0], in[3], inverted);
                out[1] = CmykChannel(in[1], in[3], inverted);
                out[0] = CmykChannel(in[2], in[3], inverted);
            } else {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

std::vector<uint8_t> ReadWholeFile(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary);
    if (!file) throw EFOpenError(Format("Cannot open file \"%s\".", fileName));
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

std::unique_ptr<TDIB> ReadJpegMemory(const uint8_t* data, size_t size) {
    auto picture = std::make_unique<TDIB>();
    std::string error;
    if (!DecodeJpeg(data, size, *picture, error))
        throw EInvalidGraphic(Format("Cannot load image. Invalid or unexpected JPEG image format. (%s)", error));
    return picture;
}

std::unique_ptr<TDIB> ReadJpegFile(const std::string& fileName) {
    std::vector<uint8_t> bytes = ReadWholeFile(fileName);
    return ReadJpegMemory(bytes.data(), bytes.size());
}

std::unique_ptr<TDIB> ReadPictureFile(const std::string& fileName) {
    RegisterStandardFormats();
    auto picture = std::make_unique<TDIB>();
    if (ReadPictureThroughReaders(fileName, *picture).ReaderClass) return picture;
    switch (ExtensionBranch(fileName)) {
        case TExtensionBranch::JPEG:
            return ReadJpegFile(fileName);
        case TExtensionBranch::Bitmap:
            picture->LoadFromFile(fileName);
            return picture;
        case TExtensionBranch::Document:
            break;
    }
    return nullptr;
}

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
