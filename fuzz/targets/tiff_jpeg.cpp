// Fuzz target: JPEG-compressed TIFF strips. Byte 0 picks the colour model and planes, bytes 1-2
// the width, byte 3 the rows, bytes 4-5 the length of a table stream that follows; the rest
// is the strip.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Exceptions.h"
#include "readers/ImageReaders.h"
#include "readers/ReaderCodecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tilvorn;
    if (size < 6) return 0;

    TImageProperties properties;
    static const ColorModel models[] = {ColorModel::YCbCr, ColorModel::RGB, ColorModel::Gray, ColorModel::CMYK};
    properties.Model = models[data[0] & 3];
    properties.SampleCount = properties.Model == ColorModel::Gray ? 1 : properties.Model == ColorModel::CMYK ? 4 : 3;
    properties.PlaneLayout = data[0] & 4 ? 2 : 1;
    properties.SampleBits = 8;
    properties.ImageWidth = 1 + ((data[1] << 8 | data[2]) & 0x1FF);
    properties.ImageHeight = 1 + data[3] % 64;
    properties.StripRowCounts = {properties.ImageHeight};
    properties.LineBytes = properties.ImageWidth * (properties.PlaneLayout == 2 ? 1 : properties.SampleCount);
    if (data[0] & 8) properties.ChromaSubsampling = {uint8_t(1 + (data[0] >> 4 & 1)), uint8_t(1 + (data[0] >> 5 & 1))};
    size_t tables = size_t(data[4]) << 8 | data[5];
    size_t at = 6;
    tables = std::min(tables, size - at);
    properties.JpegTableBytes.assign(data + at, data + at + tables);
    at += tables;
    std::vector<uint8_t> strip(data + at, data + size);
    std::vector<uint8_t> target(size_t(properties.LineBytes) *
                                (data[0] & 0x40 ? properties.ImageHeight / 2 + 1 : properties.ImageHeight));
    try {
        TTIFFJPEGDecoder decoder(properties);
        decoder.BeginDecompress();
        TSourcePos source(strip.data(), strip.size());
        TDestPos dest(target.data(), target.size());
        decoder.Decompress(source, dest, int32_t(strip.size()), int32_t(properties.LineBytes * properties.ImageHeight));
        decoder.EndDecompress();
    } catch (const Exception&) {}
    return 0;
}
