// The JPEG branch decodes to exactly the pixels libjpeg gives for RGB output, read here with
// plain libjpeg calls one row at a time: colour, grey, progressive files and heights that do
// not fill the last block of rows.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "image/DIB.h"
#include "readers/JpegFile.h"
#include "support/TestSupport.h"

namespace tilvorn::test {
namespace {

struct Rgb {
    int width = 0, height = 0;
    std::vector<uint8_t> bytes;  // red, green, blue, top row first
};

Rgb LibjpegRgb(const std::vector<unsigned char>& file) {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    Rgb out{int(info.output_width), int(info.output_height), {}};
    out.bytes.resize(size_t(out.width) * out.height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.bytes.data() + size_t(info.output_scanline) * out.width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return out;
}

void ExpectSamePixels(const std::string& file) {
    SCOPED_TRACE(file);
    const Rgb expected = LibjpegRgb(ReadFileBytes(file));
    auto picture = ReadJpegFile(file);
    ASSERT_EQ(picture->BitCount(), 24);
    ASSERT_EQ(picture->Width(), expected.width);
    ASSERT_EQ(picture->Height(), expected.height);
    size_t wrong = 0;
    for (int y = 0; y < expected.height; ++y) {
        const uint8_t* row = picture->ScanLine(y);
        const uint8_t* want = expected.bytes.data() + size_t(y) * expected.width * 3;
        for (int x = 0; x < expected.width; ++x)
            for (int c = 0; c < 3; ++c) wrong += row[3 * x + c] != want[3 * x + 2 - c];
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(JpegFile, DecodesTheFilesOwnPixels) {
    for (const char* name : {"app/rgb.jpg", "app/grey.jpg"}) ExpectSamePixels(DataPath(name));
}

TEST(JpegFile, ProgressiveFilesAndPartialRowBlocks) {
    if (!HaveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    const std::string dir = TempDir("jpegfile");
    struct Case {
        const char* name;
        const char* options;
    } cases[] = {
        {"odd.jpg", "-size 97x53 gradient:red-blue -sampling-factor 2x2"},
        {"tall.jpg", "-size 31x301 gradient:yellow-navy -sampling-factor 1x1"},
        {"progressive.jpg", "-size 120x77 gradient:green-white -interlace JPEG"},
        {"grey.jpg", "-size 45x39 gradient:black-white -colorspace Gray"},
    };
    for (const Case& c : cases) {
        const std::string file = dir + "/" + c.name;
        ASSERT_EQ(test::Run(std::string("/usr/bin/convert ") + c.options + " -quality 85 '" + file + "'"), 0) << c.name;
        ExpectSamePixels(file);
    }
}

}  // namespace
}  // namespace tilvorn::test
