#include "readers/JpegFile.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "core/Format.h"
#include "readers/JpegErrors.h"

namespace tilvorn {

namespace {

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
    info.err = AttachJpegErrors(manager);
    std::vector<uint8_t> row;  // allocated before the jump point: never reallocated after it
    if (setjmp(manager.Escape)) {
        jpeg_destroy_decompress(&info);
        error = manager.Message;
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

}  // namespace tilvorn
