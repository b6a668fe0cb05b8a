#include "readers/JpegFile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/ByteOrder.h"
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
#ifdef JCS_EXTENSIONS
    // libjpeg-turbo writes blue, green, red itself: the rows are decoded into the picture.
    const bool direct = !cmyk;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
#else
    const bool direct = false;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
#endif
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
    if (direct) {
        JSAMPROW rows[16];
        while (info.output_scanline < info.output_height) {
            const int y = int(info.output_scanline), count = std::min(16, height - y);
            for (int i = 0; i < count; ++i) rows[i] = top + int64_t(y + i) * step;
            jpeg_read_scanlines(&info, rows, JDIMENSION(count));
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        return true;
    }
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

// The Orientation entry of the first directory of an Exif block (a TIFF structure after
// "Exif\0\0"); 0 when the block holds none that is readable.
uint8_t ExifBlockOrientation(const uint8_t* block, size_t size) {
    if (size < 14 || std::memcmp(block, "Exif\0\0", 6) != 0) return 0;
    const uint8_t* tiff = block + 6;
    const size_t length = size - 6;
    const bool big = tiff[0] == 'M' && tiff[1] == 'M';
    if (!big && !(tiff[0] == 'I' && tiff[1] == 'I')) return 0;
    auto get16 = [big](const uint8_t* p) { return big ? BE16(p) : LE16(p); };
    auto get32 = [big](const uint8_t* p) { return big ? BE32(p) : LE32(p); };
    if (get16(tiff + 2) != 42) return 0;
    const uint64_t directory = get32(tiff + 4);
    if (directory + 2 > length) return 0;
    const uint32_t entries = get16(tiff + directory);
    for (uint64_t i = 0, at = directory + 2; i < entries && at + 12 <= length; ++i, at += 12) {
        const uint8_t* e = tiff + at;
        if (get16(e) != 0x0112) continue;
        // SHORT, count 1: the value sits in the first two bytes of the value field.
        if (get16(e + 2) != 3 || get32(e + 4) < 1) return 0;
        const uint32_t value = get16(e + 8);
        return value >= 1 && value <= 8 ? uint8_t(value) : 0;
    }
    return 0;
}

std::vector<uint8_t> ReadWholeFile(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary | std::ios::ate);
    if (!file) throw EFOpenError(Format("Cannot open file \"%s\".", fileName));
    // A file of known size in one read; a pipe or the like byte by byte to its end.
    const std::streamoff size = file.tellg();
    if (size > 0 && file.seekg(0)) {
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        file.read(reinterpret_cast<char*>(bytes.data()), size);
        bytes.resize(static_cast<size_t>(file.gcount()));
        return bytes;
    }
    file.clear();
    file.seekg(0);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

uint8_t JpegOrientation(const uint8_t* data, size_t size) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return 0;
    size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF) return 0;
        const uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte before a marker
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return 0;  // the scan begins: no Exif block came
        const size_t length = size_t(data[at + 2]) << 8 | data[at + 3];
        if (length < 2 || at + 2 + length > size) return 0;
        if (marker == 0xE1) {
            const uint8_t found = ExifBlockOrientation(data + at + 4, length - 2);
            if (found) return found;
        }
        at += 2 + length;
    }
    return 0;
}

std::unique_ptr<TDIB> ReadJpegMemory(const uint8_t* data, size_t size) {
    auto picture = std::make_unique<TDIB>();
    std::string error;
    if (!DecodeJpeg(data, size, *picture, error))
        throw EInvalidGraphic(Format("Cannot load image. Invalid or unexpected JPEG image format. (%s)", error));
    return picture;
}

std::unique_ptr<TDIB> ReadJpegFile(const std::string& fileName, uint8_t* orientation) {
    std::vector<uint8_t> bytes = ReadWholeFile(fileName);
    if (orientation) *orientation = JpegOrientation(bytes.data(), bytes.size());
    return ReadJpegMemory(bytes.data(), bytes.size());
}

}  // namespace tilvorn
